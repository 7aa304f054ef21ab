#include "instrumentsimulator.h"
#include "messageseam.h"
#include "settingsstore.h"
#include "thermodlg.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>

#include <thread>

extern double g_applicationStartMs;

namespace {

// From nothing to the main dialog on screen: settings loaded, controls built,
// shown and painted once. The application object's own start is added as a
// counter (it happens once per process).
void BM_StartUpToMainDialogShown(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString settingsFile = folder.filePath(QStringLiteral("Calorivista.conf"));
    MessageSeam messages;
    for (auto _ : state) {
        const SettingsStore store(settingsFile);
        CThermoDlg dialog(messages, store, folder.filePath(QStringLiteral("journal")));
        dialog.show();
        benchmark::DoNotOptimize(dialog.grab()); // paints it
        QApplication::processEvents();
    }
    state.counters["application_object_ms"] = g_applicationStartMs;
}
BENCHMARK(BM_StartUpToMainDialogShown)->Unit(benchmark::kMillisecond);

// A display tick with a full store: the newest temperature shown and the trim
// of the one reading that came since the last tick.
void BM_DisplayTickFullStore(benchmark::State &state)
{
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    MessageSeam messages;
    const SettingsStore store(folder.filePath(QStringLiteral("Calorivista.conf")));
    CThermoDlg dialog(messages, store, folder.filePath(QStringLiteral("journal")));
    dialog.m_displayTimer.stop();
    SYSTEMTIME now {};
    GetLocalTime(&now);
    SampleList &samples = dialog.m_reader.Samples();
    for (int i = 0; i < SampleList::kMaxReadings; ++i)
        samples.Append(TempSample {now, 900.0});
    dialog.m_pSaveMark = samples.GetAt(0);
    for (auto _ : state) {
        state.PauseTiming();
        samples.Append(TempSample {now, 901.0});
        dialog.m_pSaveMark = samples.GetAt(0);
        state.ResumeTiming();
        dialog.OnDisplayTick();
    }
    if (samples.GetCount() != SampleList::kMaxReadings)
        state.SkipWithError("the tick did not trim the store back to 6000");
}
BENCHMARK(BM_DisplayTickFullStore)->Unit(benchmark::kMicrosecond);

// A run with the chart open at 20 000 frames/s and a 30 s saving interval,
// long enough for one save of about 600 000 readings: the longest wait
// between two ticks of a 10 ms timer on the user-interface thread, which is
// how long any click or repaint could have waited.
void BM_LongestUserInterfaceWait(benchmark::State &state)
{
    const int seconds = static_cast<int>(state.range(0));
    for (auto _ : state) {
        QTemporaryDir folder(QDir::homePath() + QStringLiteral("/.calorivista-bench-XXXXXX"));
        InstrumentSimulator simulator;
        QString error;
        if (!simulator.OpenPseudoTerminal(&error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        const QString records = folder.filePath(QStringLiteral("records"));
        const QString settingsFile = folder.filePath(QStringLiteral("Calorivista.conf"));
        {
            QSettings settings(settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("BaudRate"), 115200);
            settings.setValue(QStringLiteral("PortNumber"), 1);
            settings.setValue(QStringLiteral("TimeBetweenSaving"), 30);
            settings.setValue(QStringLiteral("SavingPath"), records);
            settings.setValue(QStringLiteral("MinT"), 800);
            settings.setValue(QStringLiteral("MaxT"), 1000);
            settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
        }
        QDir().mkpath(records);
        MessageSeam messages;
        const SettingsStore store(settingsFile);
        CThermoDlg dialog(messages, store, folder.filePath(QStringLiteral("journal")));
        dialog.show();
        dialog.OnShowChart();
        dialog.accept();
        if (!dialog.IsRunning()) {
            state.SkipWithError("the run did not start");
            return;
        }

        std::atomic_bool stop {false};
        SimulatorOptions options;
        options.framesPerSecond = 20000;
        options.profile = TemperatureProfile::Sine(900, 50, 60);
        long long sent = 0;
        std::thread sender([&] { sent = simulator.Run(options, stop).frames; });

        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.nsecsElapsed();
        qint64 longest = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        ticker.start(10);
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        ticker.stop();
        stop = true;
        sender.join();
        dialog.OnStop();

        state.SetIterationTime(seconds);
        state.counters["longest_wait_ms"] = static_cast<double>(longest) / 1e6;
        state.counters["frames_sent"] = static_cast<double>(sent);
        state.counters["data_files"] = static_cast<double>(
            QDir(records).entryList({QStringLiteral("[0-9][0-9][0-9][0-9]")}, QDir::Files).size());
    }
}
BENCHMARK(BM_LongestUserInterfaceWait)->Arg(35)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
