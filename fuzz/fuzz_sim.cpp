// The simulated receiver's input side from arbitrary bytes: whatever the line brings
// (frames good and bad, loader commands, records, garbage) must never crash it or
// make it read out of bounds, in normal mode and with its loader awake. The first
// byte picks how the input is cut into arrivals; time moves on between them.
#include "sim/Simcore.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    SimOptions options;
    options.loaderStartMs = 0;
    options.engineDownloadMs = 50;
    SimCore core(options);
    const std::size_t chunk = 1 + data[0] % 64;
    SimTime now{};
    WallTime wall{};
    for (std::size_t i = 1; i < size; i += chunk) {
        const std::size_t n = size - i < chunk ? size - i : chunk;
        core.Receive(data + i, n, now);
        now += std::chrono::milliseconds(7);
        wall += std::chrono::milliseconds(7);
        core.Advance(now, wall);
        core.Output().clear();
    }
    return 0;
}
