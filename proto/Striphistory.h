#pragma once
// The last ten minutes of the fix, a sample a second, for the status window's strip
// charts: satellites used, HDOP, fix quality and age of corrections on one time axis.
// Fixed size; nothing allocates after construction.

#include "proto/Nmea.h"

#include <array>
#include <cstddef>
#include <cstdint>

class StripHistory {
public:
    static constexpr std::size_t kSeconds = 600;

    struct Sample {
        std::int64_t second = 0; // calendar second
        bool known = false;      // a fix sentence arrived in that second
        float satellites = -1;   // -1: unknown
        float hdop = -1;
        float quality = -1;
        float correctionAge = -1;
    };

    // The state after a sentence, at the clock's second: one sample per second, the
    // latest of that second kept. Seconds without a sentence are unknown samples.
    void Add(const NmeaState& state, std::int64_t second);
    void Clear();
    std::size_t Count() const { return count_; }
    // Sample i, 0 the oldest.
    const Sample& At(std::size_t i) const { return samples_[(first_ + i) % kSeconds]; }

private:
    std::array<Sample, kSeconds> samples_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
};
