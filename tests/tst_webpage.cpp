// The station's live page in a real browser: the real dialog on the simulated
// instrument, headless Chromium reading the page's DOM.
#include "headlessbrowser.h"
#include "instrumentsimulator.h"
#include "mosquittobroker.h"
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "thermodlg.h"

#include <QSettings>
#include <QTest>

#include <thread>

class TestWebPage : public QObject
{
    Q_OBJECT

private slots:
    void livePageFollowsTheRunAndNeedsItsToken();
};

void TestWebPage::livePageFollowsTheRunAndNeedsItsToken()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));
    const QString settingsFile = dir.filePath(QStringLiteral("settings.ini"));
    const int port = FreeLocalPort();
    const QString token = QStringLiteral("0f1e2d3c4b5a69788796a5b4c3d2e1f0");
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("PortNumber"), 1);
        settings.setValue(QStringLiteral("SavingPath"), records);
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
        settings.setValue(QStringLiteral("MinT"), 500);
        settings.setValue(QStringLiteral("MaxT"), 1500);
        settings.setValue(QStringLiteral("WebPort"), port);
        settings.setValue(QStringLiteral("WebToken"), token);
    }
    SettingsStore store(settingsFile);
    ScriptedMessages messages;
    CThermoDlg dialog(messages, store, dir.filePath(QStringLiteral("journal")));
    dialog.show();
    QVERIFY(dialog.m_pageServer.IsListening());
    dialog.accept();
    QVERIFY(dialog.IsRunning());

    // The instrument sends 1234.5 °C, later 987.6 °C, 50 frames a second.
    std::atomic<double> sending {1234.5};
    std::atomic_bool paused {false};
    std::atomic_bool stop {false};
    std::thread sender([&] {
        while (!stop) {
            if (!paused)
                simulator.Write(InstrumentSimulator::EncodeFrame(sending));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto stopSending = qScopeGuard([&] {
        stop = true;
        sender.join();
    });

    // Without the token, or with another, nothing but 403, the WebSocket's upgrade too.
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    for (const QString &path : {QStringLiteral("/"), QStringLiteral("/?token=wrong"), QStringLiteral("/api/state"),
                                QStringLiteral("/api/history?token=") + token.chopped(1), QStringLiteral("/live?token=x")}) {
        int status = 0;
        const QByteArray body = HeadlessBrowser::Get(base + path, &status);
        QCOMPARE(status, 403);
        QVERIFY(body.isEmpty());
    }

    HeadlessBrowser browser;
    QVERIFY2(browser.Open(base + QStringLiteral("/?token=") + token, &error), qPrintable(error));
    const auto value = [&] { return browser.Evaluate(QStringLiteral("document.getElementById('value').textContent")); };
    QTRY_VERIFY2_WITH_TIMEOUT(value() == QStringLiteral("1234.5"),
                              qPrintable(value() + QLatin1Char(' ') + browser.Evaluate(QStringLiteral("document.getElementById('connection').textContent"))),
                              15000);
    // The value follows the instrument's (the feed's tenth of a second and the page's 0.4 s push; room for a busy machine).
    sending = 987.6;
    QTRY_COMPARE_WITH_TIMEOUT(value(), QStringLiteral("987.6"), 2000);
    const QJsonObject state = QJsonDocument::fromJson(HeadlessBrowser::Get(base + QStringLiteral("/api/state?token=") + token)).object();
    QCOMPARE(state.value(QLatin1String("v")).toInt(), 1);
    QCOMPARE(state.value(QLatin1String("c")).toDouble(), WireValue(987.6));
    QCOMPARE(state.value(QLatin1String("line")).toString(), QStringLiteral("ok"));

    // The chart is drawn: the grid, and the curve in its colour.
    QTRY_VERIFY_WITH_TIMEOUT(browser.Evaluate(QStringLiteral("document.getElementById('chart').dataset.curve")).toInt() > 50, 5000);
    QVERIFY(browser.Evaluate(QStringLiteral("document.getElementById('chart').dataset.drawn")).toInt() > 2000);
    QVERIFY(browser.Evaluate(QStringLiteral("document.getElementById('runstate').textContent")).startsWith(QStringLiteral("Запись")));
    QCOMPARE(browser.Evaluate(QStringLiteral("document.getElementById('folder').textContent")),
             QStringLiteral("Папка: ") + QDir::toNativeSeparators(records));

    // A paused instrument: the page says the line is silent.
    paused = true;
    QTRY_COMPARE_WITH_TIMEOUT(browser.Evaluate(QStringLiteral("document.getElementById('line').dataset.state")),
                              QStringLiteral("silent"), 8000);
    QVERIFY(browser.Evaluate(QStringLiteral("document.getElementById('line').textContent")).startsWith(QStringLiteral("нет данных")));
    if (qEnvironmentVariableIsSet("CALORIVISTA_PAGE_PICTURE")) {
        QFile picture(qEnvironmentVariable("CALORIVISTA_PAGE_PICTURE"));
        if (picture.open(QIODevice::WriteOnly))
            picture.write(browser.Screenshot());
    }
    dialog.OnStop();
}

QTEST_MAIN(TestWebPage)
#include "tst_webpage.moc"
