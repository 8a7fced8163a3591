#include "proto/Striphistory.h"

#include <utility>

namespace {

float Value(const std::optional<int>& value) {
    return value ? static_cast<float>(*value) : -1.0f;
}

float Value(const std::optional<double>& value) {
    return value ? static_cast<float>(*value) : -1.0f;
}

} // namespace

StripHistory::Sample& StripHistory::Append(std::int64_t second) {
    Sample& s = count_ < kSeconds ? samples_[(first_ + count_++) % kSeconds]
                                  : samples_[std::exchange(first_, (first_ + 1) % kSeconds)];
    s = Sample{};
    s.second = second;
    return s;
}

StripHistory::Sample& StripHistory::SampleOf(std::int64_t second) {
    if (count_ > 0) {
        const std::int64_t last = At(count_ - 1).second;
        if (second == last) {
            return samples_[(first_ + count_ - 1) % kSeconds];
        }
        if (second > last && second - last < static_cast<std::int64_t>(kSeconds)) {
            for (std::int64_t s = last + 1; s < second; ++s) {
                Append(s);
            }
            return Append(second);
        }
        Clear();
    }
    return Append(second);
}

void StripHistory::Add(const NmeaState& state, std::int64_t second) {
    Sample& s = SampleOf(second);
    s.known = true;
    s.satellites = Value(state.satellitesUsed);
    s.hdop = Value(state.hdop);
    s.quality = Value(state.quality);
    s.correctionAge = Value(state.correctionAge);
}

void StripHistory::AdvanceTo(std::int64_t second) {
    if (count_ == 0 || second <= At(count_ - 1).second) {
        return;
    }
    SampleOf(second);
}

void StripHistory::Clear() {
    first_ = 0;
    count_ = 0;
}
