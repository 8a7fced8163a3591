#include "proto/Epochs.h"

namespace {

constexpr std::int64_t kDayMs = 86'400'000;
constexpr std::int32_t kHalfDayMs = 43'200'000;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysSince1970(const NmeaDate& date) {
    const int y = date.year - (date.month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (date.month + (date.month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

} // namespace

EpochCollector::EpochCollector(std::size_t capacity) : capacity_(capacity) {}

void EpochCollector::Add(const NmeaResult& result, const NmeaState& state) {
    if (result.outcome != NmeaOutcome::Used) {
        return;
    }
    const NmeaType type = result.type;
    if (type == NmeaType::GGA || type == NmeaType::RMC || type == NmeaType::ZDA) {
        if (!state.time) {
            return;
        }
        const std::int32_t t = state.time->Milliseconds();
        if (!inProgress_ || t != pending_.timeMs) {
            Close();
            if (day_ && dayTimeMs_ - t > kHalfDayMs) {
                ++*day_; // midnight passed without a new date
            }
            dayTimeMs_ = t;
            pending_ = FixEpoch{};
            pending_.timeMs = t;
            pendingGga_ = false;
            pendingRmc_ = false;
            inProgress_ = true;
        }
        if ((type == NmeaType::RMC || type == NmeaType::ZDA) && state.date) {
            day_ = DaysSince1970(*state.date);
            dayTimeMs_ = t;
        }
    } else if (!inProgress_) {
        return; // a GSA or VTG before any time: no epoch to belong to
    }

    // Where the fix is: the GGA's word, else the RMC's.
    const auto position = [&] {
        pending_.valid = result.validPosition && state.latitude && state.longitude;
        pending_.latitude = pending_.valid ? state.latitude->degrees : 0.0;
        pending_.longitude = pending_.valid ? state.longitude->degrees : 0.0;
    };
    switch (type) {
    case NmeaType::GGA:
        pendingGga_ = true;
        position();
        pending_.quality = state.quality;
        pending_.altitude = state.altitude;
        pending_.geoidSeparation = state.geoidSeparation;
        pending_.satellitesUsed = state.satellitesUsed;
        pending_.hdop = state.hdop;
        pending_.correctionAge = state.correctionAge;
        pending_.correctionStation = state.correctionStation;
        break;
    case NmeaType::RMC:
        pendingRmc_ = true;
        if (!pendingGga_) {
            position();
        }
        break;
    case NmeaType::GSA:
        pending_.fixMode = state.fixMode;
        pending_.pdop = state.pdop;
        pending_.hdop = state.hdop;
        pending_.vdop = state.vdop;
        break;
    default:
        break;
    }
}

void EpochCollector::Close() {
    if (!inProgress_) {
        return;
    }
    inProgress_ = false;
    if (!pendingGga_ && !pendingRmc_) {
        return;
    }
    if (day_) {
        pending_.utcMs = *day_ * kDayMs + pending_.timeMs;
    }
    epochs_.push_back(pending_);
    while (epochs_.size() > capacity_) {
        epochs_.pop_front();
    }
}

void EpochCollector::Finish() {
    Close();
}

void EpochCollector::Clear() {
    epochs_.clear();
    inProgress_ = false;
    pendingGga_ = false;
    pendingRmc_ = false;
    day_.reset();
    dayTimeMs_ = 0;
}
