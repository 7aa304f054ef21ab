// The live pages in a real browser, headless Chromium reading their DOM: the
// station's page of the real dialog on the simulated instrument, and the
// collector's overview of two real programs through a real mosquitto.
#include "headlessbrowser.h"
#include "instrumentsimulator.h"
#include "mosquittobroker.h"
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "thermodlg.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTest>

#include <thread>

class TestWebPage : public QObject
{
    Q_OBJECT

private slots:
    void livePageFollowsTheRunAndNeedsItsToken();
    void overviewShowsEveryStationAndGreysAKilledOne();
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
        settings.setValue(QStringLiteral("AlarmHigh"), 1200);
    }
    SettingsStore store(settingsFile);
    ScriptedMessages messages;
    auto owned = std::make_unique<CThermoDlg>(messages, store, dir.filePath(QStringLiteral("journal")));
    CThermoDlg &dialog = *owned;
    dialog.show();
    QVERIFY(dialog.m_station.PageServer().IsListening());
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
    const auto element = [&](const char *id, const char *what) {
        return browser.Evaluate(QStringLiteral("document.getElementById('%1').%2").arg(QLatin1String(id), QLatin1String(what)));
    };
    QTRY_VERIFY_WITH_TIMEOUT(element("alarm", "textContent").startsWith(QStringLiteral("Выше 1200 °C")), 5000);
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
    // Stopped: the page says so, without the run's alarm, the value grey.
    dialog.OnStop();
    QTRY_COMPARE_WITH_TIMEOUT(element("line", "textContent"), QStringLiteral("запись остановлена"), 3000);
    QCOMPARE(element("alarm", "textContent"), QString());
    QCOMPARE(element("value", "className"), QStringLiteral("stale"));
    // The program gone: the page says that too.
    owned.reset();
    QTRY_COMPARE_WITH_TIMEOUT(element("line", "textContent"), QStringLiteral("нет связи с программой"), 5000);
    QCOMPARE(element("age", "className"), QStringLiteral("stale"));
}

void TestWebPage::overviewShowsEveryStationAndGreysAKilledOne()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());

    // Two stations, each the real program on its own simulated instrument.
    struct Station
    {
        QString name;
        double celsius;
        InstrumentSimulator simulator;
        QProcess program;
        std::atomic_bool paused {false};
    };
    std::array<Station, 2> stations;
    stations[0].name = QStringLiteral("furnace-a");
    stations[0].celsius = 1111.5;
    stations[1].name = QStringLiteral("furnace-b");
    stations[1].celsius = 1222.5;
    QString error;
    for (Station &station : stations) {
        QVERIFY2(station.simulator.OpenPseudoTerminal(&error), qPrintable(error));
        const QString home = dir.filePath(station.name);
        const QString records = home + QStringLiteral("/records");
        QVERIFY(QDir().mkpath(records) && QDir().mkpath(home + QStringLiteral("/config/Calorivista")));
        QSettings settings(home + QStringLiteral("/config/Calorivista/Calorivista.conf"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("PortNumber"), 1);
        settings.setValue(QStringLiteral("SavingPath"), records);
        settings.setValue(QStringLiteral("PortDevice1"), station.simulator.DevicePath());
        settings.setValue(QStringLiteral("MqttHost"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("MqttPort"), broker.Port());
        settings.setValue(QStringLiteral("MqttStation"), station.name);
    }
    std::atomic_bool stop {false};
    std::thread sender([&] {
        while (!stop) {
            for (Station &station : stations)
                if (!station.paused)
                    station.simulator.Write(InstrumentSimulator::EncodeFrame(station.celsius));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto stopSending = qScopeGuard([&] {
        stop = true;
        sender.join();
    });
    for (Station &station : stations) {
        const QString home = dir.filePath(station.name);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        station.program.setProcessEnvironment(environment);
        station.program.setWorkingDirectory(home);
        station.program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        station.program.start(QStringLiteral(CALORIVISTA_AUTOSTART), {});
        QVERIFY(station.program.waitForStarted());
    }
    const auto stopPrograms = qScopeGuard([&] {
        for (Station &station : stations) {
            station.program.kill();
            station.program.waitForFinished();
        }
    });

    const int port = FreeLocalPort();
    const QString token = QStringLiteral("overview-token-7d1c");
    QProcess collector;
    collector.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    collector.start(QStringLiteral(CALORIVISTA_COLLECT),
                    {QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(broker.Port()), QStringLiteral("--out"),
                     dir.filePath(QStringLiteral("archive")), QStringLiteral("--http"), QString::number(port), QStringLiteral("--token"),
                     token, QStringLiteral("--http-bind"), QStringLiteral("127.0.0.1")});
    QByteArray said;
    connect(&collector, &QProcess::readyReadStandardOutput, this, [&] { said += collector.readAllStandardOutput(); });
    QTRY_VERIFY_WITH_TIMEOUT(said.contains("broker: connected"), 10000);
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    int status = 0;
    QVERIFY(HeadlessBrowser::Get(base + QStringLiteral("/api/stations?token=wrong"), &status).isEmpty());
    QCOMPARE(status, 403);

    HeadlessBrowser browser;
    QVERIFY2(browser.Open(base + QStringLiteral("/?token=") + token, &error), qPrintable(error));
    const auto tile = [&](const Station &station, const QString &what) {
        return browser.Evaluate(QStringLiteral("(() => { const t = document.querySelector('.tile[data-name=\"%1\"]'); return t ? %2 : ''; })()")
                                    .arg(station.name, what));
    };
    const auto state = [&](const Station &station) { return tile(station, QStringLiteral("t.dataset.state")); };
    const auto points = [&](const Station &station) { return tile(station, QStringLiteral("t.querySelector('canvas').dataset.points")).toInt(); };
    const auto background = [&](const Station &station) { return tile(station, QStringLiteral("getComputedStyle(t).backgroundColor")); };
    for (const Station &station : stations) {
        QTRY_COMPARE_WITH_TIMEOUT(state(station), QStringLiteral("online"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(tile(station, QStringLiteral("t.querySelector('.value').firstChild.textContent")),
                                  QString::number(WireValue(station.celsius), 'f', 1), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(points(station) >= 3, 10000); // a second of readings is a point of the sparkline
    }
    QCOMPARE(browser.Evaluate(QStringLiteral("document.querySelectorAll('.tile').length")), QStringLiteral("2"));
    const QString white = background(stations[0]);

    // An instrument that stops sending: its station says so.
    stations[1].paused = true;
    QTRY_COMPARE_WITH_TIMEOUT(state(stations[1]), QStringLiteral("silent"), 10000);
    stations[1].paused = false;
    QTRY_COMPARE_WITH_TIMEOUT(state(stations[1]), QStringLiteral("online"), 10000);

    // A station's program killed: the broker's Last Will, and its tile turns grey.
    QElapsedTimer sinceKill;
    stations[0].program.kill();
    sinceKill.start();
    QTRY_COMPARE_WITH_TIMEOUT(state(stations[0]), QStringLiteral("offline"), 5000);
    QVERIFY(background(stations[0]) != white);
    qInfo("the killed station's tile turned grey %lld ms after the kill", qlonglong(sinceKill.elapsed()));
    QCOMPARE(state(stations[1]), QStringLiteral("online"));
    QCOMPARE(background(stations[1]), white);
    if (qEnvironmentVariableIsSet("CALORIVISTA_OVERVIEW_PICTURE")) {
        QFile picture(qEnvironmentVariable("CALORIVISTA_OVERVIEW_PICTURE"));
        if (picture.open(QIODevice::WriteOnly))
            picture.write(browser.Screenshot());
    }

    // The broker stopped: a banner says the collector lost it, and the live
    // station's tile keeps its state (the broker's going sent every Last Will).
    const auto banner = [&] { return browser.Evaluate(QStringLiteral("document.getElementById('banner').textContent")); };
    QCOMPARE(banner(), QString());
    broker.Terminate();
    QTRY_VERIFY_WITH_TIMEOUT(banner().startsWith(QStringLiteral("Сборщик потерял связь с брокером")), 5000);
    QTest::qWait(1000);
    QCOMPARE(state(stations[1]), QStringLiteral("online"));
    QCOMPARE(background(stations[1]), white);
    QVERIFY(broker.Start());
    QTRY_COMPARE_WITH_TIMEOUT(banner(), QString(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(state(stations[1]), QStringLiteral("online"), 20000);
    collector.terminate();
    QVERIFY(collector.waitForFinished(10000));
    QCOMPARE(collector.exitCode(), 0);
}

QTEST_MAIN(TestWebPage)
#include "tst_webpage.moc"
