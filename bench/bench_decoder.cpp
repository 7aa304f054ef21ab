#include "framedecoder.h"
#include "instrumentsimulator.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A 115 200-baud line carries at most 11 520 bytes a second (10 bits a byte).
constexpr double kFastestLineBytesPerSecond = 11520.0;

// Frames stamped with the real local clock at their "#", as in a run.
void BM_DecodeStampedFrames(benchmark::State &state)
{
    std::string bytes;
    for (int i = 0; i < 100000; ++i)
        bytes += InstrumentSimulator::EncodeFrame(900.0 + (i % 1000) * 0.1, static_cast<unsigned>(i));
    FrameDecoder decoder;
    double sum = 0;
    for (auto _ : state) {
        for (char byte : bytes) {
            if (decoder.Feed(static_cast<unsigned char>(byte)))
                sum += decoder.Reading().temperature;
        }
    }
    benchmark::DoNotOptimize(sum);
    const double total = static_cast<double>(state.iterations()) * static_cast<double>(bytes.size());
    state.SetBytesProcessed(static_cast<int64_t>(total));
    state.counters["times_fastest_line"] =
        benchmark::Counter(total / kFastestLineBytesPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeStampedFrames)->Unit(benchmark::kMillisecond);

} // namespace
