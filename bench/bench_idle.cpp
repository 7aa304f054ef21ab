// The real program beside a plain pyserial logger, each on a simulated
// instrument of its own and measured over the same window: what a silent line
// costs, and what the line at 1280 frames/s costs, in CPU and in wake-ups.
#include "instrumentsimulator.h"
#include "procuse.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// One simulated instrument on a pseudo-terminal of its own.
struct Instrument
{
    InstrumentSimulator simulator;
    std::thread sender;
    std::atomic_bool stop {false};

    bool Open(benchmark::State &state)
    {
        QString error;
        if (simulator.OpenPseudoTerminal(&error))
            return true;
        state.SkipWithError(qPrintable(error));
        return false;
    }
    void Send(double framesPerSecond)
    {
        if (framesPerSecond <= 0)
            return;
        sender = std::thread([this, framesPerSecond] {
            SimulatorOptions options;
            options.framesPerSecond = framesPerSecond;
            options.profile = TemperatureProfile::Sine(1500, 300, 60);
            simulator.Run(options, stop);
        });
    }
    ~Instrument()
    {
        stop = true;
        if (sender.joinable())
            sender.join();
    }
};

// The program as an operator starts it, with its default settings but for the
// line and the record folder, its run started.
bool StartProgram(QProcess &program, const QTemporaryDir &dir, const QString &device)
{
    const QString configHome = dir.filePath(QStringLiteral("config"));
    QSettings settings(configHome + QStringLiteral("/Calorivista/Calorivista.conf"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("PortNumber"), 1);
    settings.setValue(QStringLiteral("BaudRate"), 115200);
    settings.setValue(QStringLiteral("PortDevice1"), device);
    settings.setValue(QStringLiteral("SavingPath"), dir.filePath(QStringLiteral("records")));
    settings.sync();
    QDir().mkpath(dir.filePath(QStringLiteral("records")));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(CALORIVISTA_AUTOSTART), {});
    if (!program.waitForStarted())
        return false;
    // The run has begun once its journal is there.
    const QDir journals(dir.filePath(QStringLiteral("data/Calorivista/Calorivista")));
    for (int i = 0; i < 100; ++i) {
        if (!journals.entryList({QStringLiteral("*.journal")}, QDir::Files).isEmpty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void Stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

// Both loggers, each on its own instrument sending `framesPerSecond` (0: a
// silent line), settled for `settleSeconds` and then measured for 30 s.
void SideBySide(benchmark::State &state, double framesPerSecond, int settleSeconds)
{
    const auto window = std::chrono::seconds(30);
    for (auto _ : state) {
        QTemporaryDir dir;
        Instrument forProgram;
        Instrument forPyserial;
        if (!forProgram.Open(state) || !forPyserial.Open(state))
            return;
        QProcess program;
        QProcess pyserial;
        if (!StartProgram(program, dir, forProgram.simulator.DevicePath())) {
            state.SkipWithError("the program did not start its run");
            return;
        }
        pyserial.setProcessChannelMode(QProcess::ForwardedChannels);
        pyserial.start(QStringLiteral("/usr/bin/python3"), // where Debian's python3-serial is
                       {QStringLiteral(CALORIVISTA_PYSERIAL_LOGGER),
                                                   forPyserial.simulator.DevicePath(), dir.filePath(QStringLiteral("pyserial.txt"))});
        if (!pyserial.waitForStarted()) {
            Stop(program);
            state.SkipWithError("python3 did not start");
            return;
        }
        forProgram.Send(framesPerSecond);
        forPyserial.Send(framesPerSecond);
        std::this_thread::sleep_for(std::chrono::seconds(settleSeconds));
        const QByteArray readerThread("line-reader");
        const ProcessUse programBefore = UseOf(program.processId());
        const ProcessUse readerBefore = UseOf(program.processId(), readerThread);
        const ProcessUse pyserialBefore = UseOf(pyserial.processId());
        std::this_thread::sleep_for(window);
        const ProcessUse programUse = UseOf(program.processId()) - programBefore;
        const ProcessUse readerUse = UseOf(program.processId(), readerThread) - readerBefore;
        const ProcessUse pyserialUse = UseOf(pyserial.processId()) - pyserialBefore;
        const bool bothAlive = !program.waitForFinished(0) && !pyserial.waitForFinished(0);
        Stop(program);
        Stop(pyserial);
        if (!bothAlive) {
            state.SkipWithError("a logger ended during the window");
            return;
        }
        const double seconds = std::chrono::duration<double>(window).count();
        state.SetIterationTime(seconds);
        state.counters["program_cpu_percent"] = 100.0 * programUse.cpuSeconds / seconds;
        state.counters["program_wakeups_per_s"] = static_cast<double>(programUse.switches) / seconds;
        state.counters["reader_wakeups_per_s"] = static_cast<double>(readerUse.switches) / seconds;
        state.counters["pyserial_cpu_percent"] = 100.0 * pyserialUse.cpuSeconds / seconds;
        state.counters["pyserial_wakeups_per_s"] = static_cast<double>(pyserialUse.switches) / seconds;
        state.counters["cpu_times_pyserial"] = programUse.cpuSeconds / std::max(pyserialUse.cpuSeconds, 1e-9);
    }
}

// A silent line with the default settings: the silence alarm (10 s) is up,
// and nobody has acknowledged it, by the time the window opens.
void BM_SilentLineBesidePyserial(benchmark::State &state)
{
    SideBySide(state, 0, 15);
}
BENCHMARK(BM_SilentLineBesidePyserial)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_LineRateBesidePyserial(benchmark::State &state)
{
    SideBySide(state, static_cast<double>(state.range(0)), 5);
}
BENCHMARK(BM_LineRateBesidePyserial)->Arg(1280)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
