// The frame decoder on any bytes a line can bring.
#include "framedecoder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FrameDecoder decoder([] { return SYSTEMTIME {2026, 12, 3, 9, 14, 30, 0, 0}; });
    std::size_t frames = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (decoder.Feed(data[i])) {
            ++frames;
            // Four hexadecimal digits in tenths of a kelvin from -273.2 °C.
            const double celsius = decoder.Reading().temperature;
            if (celsius < -273.2 - 1e-9 || celsius > 6280.3 + 1e-9)
                std::abort();
        }
        if (decoder.OpenFrameBytes() < 0 || decoder.OpenFrameBytes() > 8)
            std::abort();
    }
    if (frames * 9 > size) // a frame is nine bytes
        std::abort();
    return 0;
}
