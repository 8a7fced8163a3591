#include "proto/Fixstatus.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
// WGS-84.
constexpr double kSemiMajorAxis = 6378137.0;
constexpr double kEccentricitySquared = 6.69437999014e-3;

double Radians(double degrees) {
    return degrees * kPi / 180.0;
}

struct Earth {
    double x;
    double y;
    double z;
};

// A point on the WGS-84 ellipsoid in earth-centred, earth-fixed metres.
Earth OnEllipsoid(double latitude, double longitude) {
    const double sinLat = std::sin(Radians(latitude));
    const double cosLat = std::cos(Radians(latitude));
    const double primeVertical =
        kSemiMajorAxis / std::sqrt(1.0 - kEccentricitySquared * sinLat * sinLat);
    return {primeVertical * cosLat * std::cos(Radians(longitude)),
            primeVertical * cosLat * std::sin(Radians(longitude)),
            primeVertical * (1.0 - kEccentricitySquared) * sinLat};
}

// The smallest of the sorted distances that at least share of them do not exceed.
double NearestRank(const double* sorted, std::size_t n, double share) {
    std::size_t rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(n)));
    if (rank < 1)
        rank = 1;
    if (rank > n)
        rank = n;
    return sorted[rank - 1];
}

} // namespace

void DeviationHistory::Clear() {
    first_ = 0;
    count_ = 0;
    hasOrigin_ = false;
}

void DeviationHistory::Add(double latitude, double longitude) {
    if (!hasOrigin_) {
        hasOrigin_ = true;
        const Earth o = OnEllipsoid(latitude, longitude);
        originX_ = o.x;
        originY_ = o.y;
        originZ_ = o.z;
        sinLat_ = std::sin(Radians(latitude));
        cosLat_ = std::cos(Radians(latitude));
        sinLon_ = std::sin(Radians(longitude));
        cosLon_ = std::cos(Radians(longitude));
    }
    std::size_t slot;
    if (count_ < kCapacity) {
        slot = Slot(count_);
        ++count_;
    } else {
        slot = first_;
        first_ = (first_ + 1) % kCapacity;
    }
    // The offset from the origin, turned into the origin's east and north.
    const Earth p = OnEllipsoid(latitude, longitude);
    const double dx = p.x - originX_;
    const double dy = p.y - originY_;
    const double dz = p.z - originZ_;
    east_[slot] = -sinLon_ * dx + cosLon_ * dy;
    north_[slot] = -sinLat_ * cosLon_ * dx - sinLat_ * sinLon_ * dy + cosLat_ * dz;
}

DeviationHistory::Stats DeviationHistory::Compute() {
    Stats s;
    s.count = count_;
    if (count_ == 0)
        return s;
    double sumEast = 0.0;
    double sumNorth = 0.0;
    for (std::size_t i = 0; i < count_; ++i) {
        sumEast += east_[i];
        sumNorth += north_[i];
    }
    const double n = static_cast<double>(count_);
    s.meanEast = sumEast / n;
    s.meanNorth = sumNorth / n;
    double squaresEast = 0.0;
    double squaresNorth = 0.0;
    for (std::size_t i = 0; i < count_; ++i) {
        const double de = east_[i] - s.meanEast;
        const double dn = north_[i] - s.meanNorth;
        squaresEast += de * de;
        squaresNorth += dn * dn;
        scratch_[i] = std::sqrt(de * de + dn * dn);
    }
    if (count_ >= 2) {
        s.sigmaEast = std::sqrt(squaresEast / (n - 1.0));
        s.sigmaNorth = std::sqrt(squaresNorth / (n - 1.0));
        s.drms2 = 2.0 * std::sqrt(*s.sigmaEast * *s.sigmaEast + *s.sigmaNorth * *s.sigmaNorth);
    }
    std::sort(scratch_.begin(), scratch_.begin() + static_cast<std::ptrdiff_t>(count_));
    s.cep50 = NearestRank(scratch_.data(), count_, 0.50);
    s.cep95 = NearestRank(scratch_.data(), count_, 0.95);
    s.largestDistance = scratch_[count_ - 1];
    return s;
}

NmeaResult FixStatus::AddSentence(const std::uint8_t* line, std::size_t length,
                                  std::int64_t now) {
    const NmeaResult r = decoder_.Decode(line, length);
    if (r.outcome != NmeaOutcome::Used || (r.type != NmeaType::GGA && r.type != NmeaType::RMC))
        return r;
    fixSentenceSeen_ = true;
    lastFixSentence_ = now;
    const NmeaState& s = decoder_.State();
    if (s.time && (!lastEpochTime_ || *lastEpochTime_ != s.time->Milliseconds())) {
        ++epochs_;
        lastEpochTime_ = s.time->Milliseconds();
    }
    if (r.validPosition && s.time &&
        (!lastKeptTime_ || *lastKeptTime_ != s.time->Milliseconds())) {
        history_.Add(s.latitude->degrees, s.longitude->degrees);
        lastKeptTime_ = s.time->Milliseconds();
        ++fixEpochs_;
    }
    return r;
}

std::int64_t FixStatus::SecondsWithoutFix(std::int64_t now) const {
    if (!fixSentenceSeen_)
        return 0;
    const std::int64_t d = now - lastFixSentence_;
    return d < 0 ? 0 : d;
}

bool FixStatus::Stale(std::int64_t now) const {
    return !fixSentenceSeen_ || SecondsWithoutFix(now) >= kStaleSeconds;
}

std::optional<double> FixStatus::Availability() const {
    if (epochs_ == 0)
        return std::nullopt;
    return 100.0 * static_cast<double>(fixEpochs_) / static_cast<double>(epochs_);
}

void FixStatus::ClearHistory() {
    history_.Clear();
    lastKeptTime_.reset();
    lastEpochTime_.reset();
    epochs_ = 0;
    fixEpochs_ = 0;
}
