#include "sim/Simline.h"

#include <cmath>

namespace {

struct SpeedEntry {
    std::uint32_t rate;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {300, B300},     {600, B600},     {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

// The line level during sender bit k of a burst of n bytes: start bit low, eight data
// bits least significant first, stop bit high, and high (idle) before and after.
int LevelAt(const std::uint8_t* in, std::size_t n, long long k) {
    if (k < 0 || k >= static_cast<long long>(n) * 10) {
        return 1;
    }
    const std::size_t byteIndex = static_cast<std::size_t>(k / 10);
    const int pos = static_cast<int>(k % 10);
    if (pos == 0) {
        return 0;
    }
    if (pos == 9) {
        return 1;
    }
    return (in[byteIndex] >> (pos - 1)) & 1;
}

} // namespace

bool IsSimRate(std::uint32_t rate) {
    for (std::uint32_t r : kSimRates) {
        if (r == rate) {
            return true;
        }
    }
    return false;
}

std::uint32_t RateFromSpeed(speed_t speed) {
    for (const SpeedEntry& e : kSpeeds) {
        if (e.speed == speed) {
            return e.rate;
        }
    }
    return 0;
}

bool SpeedFromRate(std::uint32_t rate, speed_t& speed) {
    for (const SpeedEntry& e : kSpeeds) {
        if (e.rate == rate) {
            speed = e.speed;
            return true;
        }
    }
    return false;
}

std::int64_t ByteTimeNs(std::uint32_t rate) {
    if (rate == 0) {
        rate = kSimRates[0];
    }
    return 10'000'000'000LL / rate;
}

void GarbleForRate(const std::uint8_t* in, std::size_t n, std::uint32_t txRate,
                   std::uint32_t rxRate, std::vector<std::uint8_t>& out) {
    if (n == 0 || rxRate == 0 || txRate == 0) {
        return;
    }
    // Time is counted in sender bit periods; one receiver bit lasts d of them.
    const double d = static_cast<double>(txRate) / static_cast<double>(rxRate);
    const long long totalBits = static_cast<long long>(n) * 10;
    double ready = 0.0; // the receiver looks for a start edge from here on
    for (;;) {
        // The next falling edge (high to low) at or after the ready time.
        long long k = static_cast<long long>(std::ceil(ready));
        while (k < totalBits && !(LevelAt(in, n, k - 1) == 1 && LevelAt(in, n, k) == 0)) {
            ++k;
        }
        if (k >= totalBits) {
            break;
        }
        // Sample the middle of each data bit as the receiver's clock places it. A
        // framing error (low stop bit) is not reported on a raw line: the byte is
        // delivered as sampled.
        std::uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const double at = static_cast<double>(k) + (1.5 + bit) * d;
            if (LevelAt(in, n, static_cast<long long>(std::floor(at))) != 0) {
                byte = static_cast<std::uint8_t>(byte | (1u << bit));
            }
        }
        out.push_back(byte == '$' ? static_cast<std::uint8_t>(byte | 0x80) : byte);
        ready = static_cast<double>(k) + 9.5 * d;
    }
}
