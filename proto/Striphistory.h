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
    // latest of that second kept. Seconds without a sentence are unknown samples. A
    // second before the latest sample's (the clock stepped back) starts the history
    // afresh, so its seconds always run on one axis; so does one kSeconds or more after
    // it, which leaves nothing to keep.
    void Add(const NmeaState& state, std::int64_t second);
    // Unknown samples up to and including second, so the axis runs on while nothing
    // arrives (the window's once-a-second refresh); nothing for a second not after the
    // latest sample's, or before the first Add.
    void AdvanceTo(std::int64_t second);
    void Clear();
    std::size_t Count() const { return count_; }
    // Sample i, 0 the oldest.
    const Sample& At(std::size_t i) const { return samples_[(first_ + i) % kSeconds]; }

private:
    // The sample of second, the latest kept: a new one after it, the history started
    // afresh when second cannot follow it.
    Sample& SampleOf(std::int64_t second);
    Sample& Append(std::int64_t second);

    std::array<Sample, kSeconds> samples_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
};
