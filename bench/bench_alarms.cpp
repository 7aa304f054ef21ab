#include "alarmmonitor.h"
#include "instrumentsimulator.h"
#include "messageseam.h"
#include "runline.h"
#include "settingsstore.h"
#include "thermodlg.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cmath>

namespace {

// Every limit set, 1280 readings a second of a furnace that wanders inside
// them: what each reading costs the alarms, and the share of a core at that rate.
void BM_AlarmEvaluationPerReading(benchmark::State &state)
{
    AlarmLimits limits;
    limits.high = 1500;
    limits.low = 100;
    limits.rate = 50;
    AlarmMonitor monitor;
    monitor.Start(limits);
    qint64 ms = 1796822070000;
    int tick = 0;
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ++tick;
        ms += (tick % 32 == 0) ? 2 : 1; // 1280 a second: 0.78 ms apart on average
        const double celsius = 1000 + 20 * std::sin(static_cast<double>(tick) * 1e-4) + (tick % 7) * 0.1;
        benchmark::DoNotOptimize(monitor.Reading(ms, celsius));
    }
    const double ns = static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started).count());
    state.SetItemsProcessed(state.iterations());
    // Time per reading × 1280 readings a second, as a share of one core.
    state.counters["percent_of_core_at_1280_per_s"] = ns / static_cast<double>(state.iterations()) * 1280 / 1e9 * 100;
}
BENCHMARK(BM_AlarmEvaluationPerReading);

// Waits, handling events, until `done` or `timeoutMs` passed; the milliseconds it took.
template<typename Done>
qint64 WaitFor(Done done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QApplication::processEvents();
        QThread::usleep(200);
    }
    return timer.elapsed();
}

// The real program on the simulated instrument, a limit of 1000 °C with a
// delay of 1 s: from writing the frame that completes the delay to the red
// line on screen, over 10 alarms, each acknowledged and cleared before the next.
void BM_AlarmFrameToRedLine(benchmark::State &state)
{
    for (auto _ : state) {
        QTemporaryDir folder;
        InstrumentSimulator simulator;
        QString error;
        if (!simulator.OpenPseudoTerminal(&error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        const QString records = folder.filePath(QStringLiteral("records"));
        QDir().mkpath(records);
        const QString settingsFile = folder.filePath(QStringLiteral("Calorivista.conf"));
        {
            QSettings settings(settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("BaudRate"), 115200);
            settings.setValue(QStringLiteral("TimeBetweenSaving"), 300);
            settings.setValue(QStringLiteral("SavingPath"), records);
            settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
            settings.setValue(QStringLiteral("AlarmHigh"), 1000);
            settings.setValue(QStringLiteral("AlarmDelay"), 1);
        }
        MessageSeam messages;
        const SettingsStore store(settingsFile);
        CThermoDlg dialog(messages, store, folder.filePath(QStringLiteral("journal")));
        dialog.m_station.Bell().SetPlayer([] {});
        dialog.show();
        dialog.accept();
        RunLine *line = dialog.findChild<RunLine *>();
        if (!dialog.IsRunning() || !line) {
            state.SkipWithError("the run did not start");
            return;
        }
        qint64 longest = 0;
        qint64 total = 0;
        constexpr int kAlarms = 10;
        for (int i = 0; i < kAlarms; ++i) {
            simulator.Write(InstrumentSimulator::EncodeFrame(1200));
            WaitFor([] { return false; }, 1050); // the delay passes
            QElapsedTimer shown;
            shown.start();
            simulator.Write(InstrumentSimulator::EncodeFrame(1200));
            WaitFor([line] { return line->ShowsAlarm(); }, 5000);
            const qint64 ms = shown.elapsed();
            longest = std::max(longest, ms);
            total += ms;
            simulator.Write(InstrumentSimulator::EncodeFrame(900));
            WaitFor([&dialog] { return !dialog.m_station.Alarms().Monitor().IsRaised(AlarmKind::High); }, 5000);
            dialog.m_station.Acknowledge();
        }
        dialog.OnStop();
        state.SetIterationTime(static_cast<double>(total) / kAlarms / 1000.0);
        state.counters["longest_ms"] = static_cast<double>(longest);
        state.counters["mean_ms"] = static_cast<double>(total) / kAlarms;
    }
}
BENCHMARK(BM_AlarmFrameToRedLine)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
