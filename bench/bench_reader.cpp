// The reader thread end to end: simulator -> pseudo-terminal -> reader -> store.
#include "comreader.h"
#include "cpuclock.h"
#include "framedecoder.h"
#include "instrumentsimulator.h"
#include "messageseam.h"

#include <benchmark/benchmark.h>

#include <QThread>

#include <chrono>
#include <cmath>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class NoMessages : public MessageSeam
{
public:
    QMessageBox::StandardButton Show(const Message &message) override
    {
        last = message.text;
        return QMessageBox::Ok;
    }
    QString last;
};

int StoreCount(CComReader &reader)
{
    reader.Lock();
    const int count = reader.Samples().GetCount();
    reader.Unlock();
    return count;
}

// An instrument on a pseudo-terminal and a reader reading it.
struct Line
{
    InstrumentSimulator simulator;
    NoMessages messages;
    CComReader reader {messages};

    bool Open(benchmark::State &state)
    {
        QString error;
        if (!simulator.OpenPseudoTerminal(&error)) {
            state.SkipWithError(qPrintable(error));
            return false;
        }
        reader.SetLine(1, 115200, simulator.DevicePath());
        if (!reader.OpenPort()) {
            state.SkipWithError(qPrintable(messages.last));
            return false;
        }
        reader.StartReading();
        return true;
    }

    void Stop()
    {
        reader.RequestStop();
        reader.WaitForStop(5000);
    }
};

std::vector<double> DistinctValues()
{
    std::vector<double> values;
    for (int i = 0; i < 4999; ++i)
        values.push_back(-273.2 + i * 0.1);
    return values;
}

// As fast as the pseudo-terminal goes: frames/s received, frames lost and
// out of order, and the reader's CPU time per 1000 frames.
void BM_EndToEndAsFastAsPossible(benchmark::State &state)
{
    const long long frames = state.range(0);
    for (auto _ : state) {
        Line line;
        if (!line.Open(state))
            return;
        SimulatorOptions options;
        options.framesPerSecond = 0;
        options.frameCount = frames;
        options.profile = TemperatureProfile::Values(DistinctValues());
        double senderCpu = 0;
        const std::atomic_bool stop {false};

        const double processCpuBefore = ProcessCpuSeconds();
        const double mainCpuBefore = ThreadCpuSeconds();
        const Clock::time_point start = Clock::now();
        std::thread sender([&] {
            line.simulator.Run(options, stop);
            senderCpu = ThreadCpuSeconds();
        });
        Clock::time_point lastProgress = Clock::now();
        int received = 0;
        while (received < frames && Clock::now() - lastProgress < std::chrono::seconds(3)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const int now = StoreCount(line.reader);
            if (now != received)
                lastProgress = Clock::now();
            received = now;
        }
        const Clock::time_point end = Clock::now();
        sender.join();
        const double readerCpu = ProcessCpuSeconds() - processCpuBefore - senderCpu
            - (ThreadCpuSeconds() - mainCpuBefore);
        line.Stop();

        const double seconds = std::chrono::duration<double>(end - start).count();
        long long outOfOrder = 0;
        line.reader.Lock();
        SampleList &store = line.reader.Samples();
        const int count = store.GetCount();
        for (int i = 0; i < count; ++i) {
            const double sent = options.profile.At(i, 0);
            const double expected = FrameDecoder::TemperatureOf(static_cast<int>(std::lround(sent * 10)) + 2732);
            if (store.GetAt(count - 1 - i)->temperature != expected)
                ++outOfOrder;
        }
        line.reader.Unlock();

        state.SetIterationTime(seconds);
        state.counters["frames_per_s"] = static_cast<double>(count) / seconds;
        state.counters["frames_lost"] = static_cast<double>(frames - count);
        state.counters["frames_out_of_place"] = static_cast<double>(outOfOrder);
        state.counters["reader_cpu_ms_per_1000_frames"] = readerCpu * 1000.0 / (static_cast<double>(count) / 1000.0);
    }
}
BENCHMARK(BM_EndToEndAsFastAsPossible)->Arg(5000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The reader's share of one core over ten seconds at a given frame rate (0: a
// silent line; -1: the device is gone, and the reader looks for it again once
// a second).
void BM_ReaderCpuShare(benchmark::State &state)
{
    const double framesPerSecond = static_cast<double>(state.range(0));
    const auto window = std::chrono::seconds(10);
    for (auto _ : state) {
        Line line;
        if (!line.Open(state))
            return;
        std::atomic_bool stop {false};
        double senderCpu = 0;
        long long sent = 0;
        SimulatorOptions options;
        options.framesPerSecond = framesPerSecond;
        options.profile = TemperatureProfile::Sine(900, 50, 60);

        if (framesPerSecond < 0)
            line.simulator.HangUp();
        const double processCpuBefore = ProcessCpuSeconds();
        const double mainCpuBefore = ThreadCpuSeconds();
        std::thread sender;
        if (framesPerSecond > 0) {
            sender = std::thread([&] {
                sent = line.simulator.Run(options, stop).frames;
                senderCpu = ThreadCpuSeconds();
            });
        }
        std::this_thread::sleep_for(window);
        stop = true;
        if (sender.joinable())
            sender.join();
        const double readerCpu = ProcessCpuSeconds() - processCpuBefore - senderCpu
            - (ThreadCpuSeconds() - mainCpuBefore);
        line.Stop();
        const int received = StoreCount(line.reader);

        state.SetIterationTime(std::chrono::duration<double>(window).count());
        state.counters["reader_cpu_percent_of_core"] = 100.0 * readerCpu / std::chrono::duration<double>(window).count();
        state.counters["frames_sent"] = static_cast<double>(sent);
        state.counters["frames_received"] = received;
    }
}
BENCHMARK(BM_ReaderCpuShare)->Arg(0)->Arg(-1)->Arg(1280)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
