// The station's web page: from a frame on the line to the value in a real
// browser's DOM, the CPU that 20 viewers add at 1280 readings/s, the page's weight.
#include "cpuclock.h"
#include "headlessbrowser.h"
#include "instrumentsimulator.h"
#include "messageseam.h"
#include "mosquittobroker.h"
#include "settingsstore.h"
#include "stationserver.h"
#include "stationview.h"
#include "thermodlg.h"

#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>

#include <memory>

namespace {

const QString kToken = QStringLiteral("0123456789abcdef0123456789abcdef");

class NoMessages : public MessageSeam
{
public:
    QMessageBox::StandardButton Show(const Message &) override { return QMessageBox::Ok; }
};

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The real dialog on the simulated instrument with its page on, and Chromium
// showing the page: each frame with a new value is timed until the DOM shows it.
void BM_PageFrameToDom(benchmark::State &state)
{
    QTemporaryDir dir;
    InstrumentSimulator simulator;
    QString error;
    if (!simulator.OpenPseudoTerminal(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const int port = FreeLocalPort();
    const QString settingsFile = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("PortNumber"), 1);
        settings.setValue(QStringLiteral("SavingPath"), dir.path());
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
        settings.setValue(QStringLiteral("WebPort"), port);
        settings.setValue(QStringLiteral("WebToken"), kToken);
    }
    SettingsStore store(settingsFile);
    NoMessages messages;
    CThermoDlg dialog(messages, store, dir.filePath(QStringLiteral("journal")));
    dialog.accept();
    HeadlessBrowser browser;
    if (!browser.Open(QStringLiteral("http://127.0.0.1:%1/?token=%2").arg(port).arg(kToken), &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const auto shown = [&] { return browser.Evaluate(QStringLiteral("document.getElementById('value').textContent")); };
    simulator.Write(InstrumentSimulator::EncodeFrame(600.0));
    for (int i = 0; i < 100 && shown() != QStringLiteral("600.0"); ++i)
        Wait(50);
    std::vector<double> latencies;
    for (auto _ : state) {
        for (int i = 1; i <= 20; ++i) {
            const double value = 600.0 + i;
            const QString expected = QString::number(value, 'f', 1);
            QElapsedTimer timer;
            timer.start();
            simulator.Write(InstrumentSimulator::EncodeFrame(value));
            while (shown() != expected && timer.elapsed() < 5000) {
            }
            latencies.push_back(double(timer.nsecsElapsed()) * 1e-6);
            Wait(150 + 37 * i % 300); // frames at no fixed phase to the feed's and the page's ticks
        }
        double sum = 0;
        for (double latency : latencies)
            sum += latency;
        state.SetIterationTime(sum * 1e-3);
        state.counters["frames"] = double(latencies.size());
        state.counters["mean_ms"] = sum / double(latencies.size());
        state.counters["max_ms"] = *std::max_element(latencies.begin(), latencies.end());
        const QByteArray page = HeadlessBrowser::Get(QStringLiteral("http://127.0.0.1:%1/?token=%2").arg(port).arg(kToken));
        state.counters["page_bytes"] = double(page.size());
    }
    dialog.OnStop();
}
BENCHMARK(BM_PageFrameToDom)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Viewers on a thread of their own: each a WebSocket that takes every push.
class Viewers : public QThread
{
public:
    Viewers(QString url, int count) : m_url(std::move(url)), m_count(count) {}
    std::atomic<qint64> messages {0};

protected:
    void run() override
    {
        std::vector<std::unique_ptr<QWebSocket>> sockets;
        for (int i = 0; i < m_count; ++i) {
            sockets.push_back(std::make_unique<QWebSocket>());
            QObject::connect(sockets.back().get(), &QWebSocket::textMessageReceived, [this] { ++messages; });
            sockets.back()->open(QUrl(m_url));
        }
        exec();
    }

private:
    QString m_url;
    int m_count;
};

// The page's server fed at 1280 readings/s: the user-interface thread's CPU
// with 20 viewers against none.
void BM_PageViewersCpu(benchmark::State &state)
{
    const int seconds = int(state.range(0));
    const int viewers = int(state.range(1));
    double share[2] = {0, 0};
    qint64 pushes = 0;
    for (auto _ : state) {
        for (int withViewers = 0; withViewers < 2; ++withViewers) {
            StationView view;
            view.SetChart(500, 1500, {});
            StationServer server(view);
            QString error;
            const int port = FreeLocalPort();
            if (!server.Configure(WebSettings {port, QStringLiteral("127.0.0.1"), kToken}, &error)) {
                state.SkipWithError(qPrintable(error));
                return;
            }
            Viewers clients(QStringLiteral("ws://127.0.0.1:%1/live?token=%2").arg(port).arg(kToken), withViewers ? viewers : 0);
            clients.start();
            Wait(1000);
            qint64 fed = 0;
            QTimer ticks;
            QObject::connect(&ticks, &QTimer::timeout, [&] {
                FeedReadings readings;
                readings.first = fed;
                const qint64 now = QDateTime::currentMSecsSinceEpoch();
                for (int i = 0; i < 128; ++i)
                    readings.readings.push_back({SYSTEMTIME {}, 900.0 + double((fed + i) % 1000) * 0.1, now - 100 + i * 100 / 128});
                view.TakeReadings(readings);
                fed += 128;
            });
            ticks.start(RunFeed::kTickMs);
            const double cpu = ThreadCpuSeconds();
            QElapsedTimer wall;
            wall.start();
            Wait(seconds * 1000);
            share[withViewers] = (ThreadCpuSeconds() - cpu) / (double(wall.nsecsElapsed()) * 1e-9);
            if (withViewers)
                pushes = clients.messages;
            clients.quit();
            clients.wait();
        }
        state.SetIterationTime(seconds);
    }
    state.counters["viewers"] = viewers;
    state.counters["pushes_received"] = double(pushes);
    state.counters["ui_thread_no_viewers_%"] = share[0] * 100;
    state.counters["ui_thread_with_viewers_%"] = share[1] * 100;
    state.counters["added_%"] = (share[1] - share[0]) * 100;
}
BENCHMARK(BM_PageViewersCpu)->Args({20, 20})->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
