#pragma once
// What the Receiver Status window shows, kept toolkit-free: the decoded sentences
// (proto/Nmea.h), when the last fix sentence arrived, and how the latest fixes scatter
// about their mean.
//
// Scatter. The last 600 fixes with a valid position are kept as metres east and north
// of the first fix since the history was started: each fix is placed on the WGS-84
// ellipsoid and its offset from the first fix projected on the plane that touches the
// ellipsoid there (east along the first fix's parallel, north along its meridian). This
// holds at the poles and across 180° of longitude alike; over the few kilometres a
// history spans, the plane departs from the ellipsoid far less than a receiver's own
// error. The statistics are taken about the mean of the kept fixes:
//   - sigma east and sigma north: sample standard deviations (n - 1), from 2 fixes on;
//   - CEP50 and CEP95: the radius within which 50 % and 95 % of the fixes lie, i.e.
//     the smallest distance from the mean that at least that share of the fixes does
//     not exceed (nearest rank over the sorted distances), from 1 fix on;
//   - 2DRMS: twice the root of the sum of the two variances, from 2 fixes on.
// Availability: of the epochs since the history was started (each distinct UTC time of
// a GGA or RMC), the share that brought a valid position.
// A fix is one receiver epoch: the GGA and the RMC of one epoch carry the same UTC
// time, and a position whose time equals that of the last kept fix is the same fix. A
// position without a time cannot be told from the last one and is not kept.
// Memory is fixed; nothing here allocates after construction.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "proto/Nmea.h"

class DeviationHistory {
public:
    static constexpr std::size_t kCapacity = 600;

    struct Stats {
        std::size_t count = 0;
        double meanEast = 0.0; // of the fixes, from the history's origin
        double meanNorth = 0.0;
        std::optional<double> sigmaEast;
        std::optional<double> sigmaNorth;
        std::optional<double> cep50;
        std::optional<double> cep95;
        std::optional<double> drms2;
        double largestDistance = 0.0; // of any fix from the mean
    };

    void Clear();
    // A fix in signed decimal degrees. The oldest goes once 600 are kept.
    void Add(double latitude, double longitude);
    std::size_t Count() const { return count_; }
    // Fix i (0 is the oldest) in metres east and north of the origin.
    double East(std::size_t i) const { return east_[Slot(i)]; }
    double North(std::size_t i) const { return north_[Slot(i)]; }
    Stats Compute();

private:
    std::size_t Slot(std::size_t i) const { return (first_ + i) % kCapacity; }

    std::array<double, kCapacity> east_ = {};
    std::array<double, kCapacity> north_ = {};
    std::array<double, kCapacity> scratch_ = {};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    bool hasOrigin_ = false;
    // The first fix on the ellipsoid, earth-centred metres, and the sines and cosines
    // of its latitude and longitude that turn an offset into east and north.
    double originX_ = 0.0;
    double originY_ = 0.0;
    double originZ_ = 0.0;
    double sinLat_ = 0.0;
    double cosLat_ = 1.0;
    double sinLon_ = 0.0;
    double cosLon_ = 1.0;
};

class FixStatus {
public:
    // Seconds without a fix sentence after which the values are no longer current.
    static constexpr std::int64_t kStaleSeconds = 3;

    // One $GP line as the main window accepted it, received at now (calendar seconds).
    NmeaResult AddSentence(const std::uint8_t* line, std::size_t length, std::int64_t now);

    const NmeaDecoder& Decoder() const { return decoder_; }
    const NmeaState& State() const { return decoder_.State(); }
    DeviationHistory& History() { return history_; }
    const DeviationHistory& History() const { return history_; }

    // Whether a GGA or RMC has been decoded yet, and the calendar second of the latest.
    bool FixSentenceSeen() const { return fixSentenceSeen_; }
    std::int64_t LastFixSentence() const { return lastFixSentence_; }
    // Whole seconds since the latest GGA or RMC; the values are stale from
    // kStaleSeconds on, and before the first one.
    std::int64_t SecondsWithoutFix(std::int64_t now) const;
    bool Stale(std::int64_t now) const;

    // Epochs since the history was started, and those of them with a valid position.
    std::uint64_t Epochs() const { return epochs_; }
    std::uint64_t FixEpochs() const { return fixEpochs_; }
    // FixEpochs of Epochs in percent; nothing before the first epoch.
    std::optional<double> Availability() const;

    // Starts the scatter and the availability afresh (the decoded values stay).
    void ClearHistory();

private:
    NmeaDecoder decoder_;
    DeviationHistory history_;
    bool fixSentenceSeen_ = false;
    std::int64_t lastFixSentence_ = 0;
    std::optional<std::int32_t> lastKeptTime_;
    std::optional<std::int32_t> lastEpochTime_;
    std::uint64_t epochs_ = 0;
    std::uint64_t fixEpochs_ = 0;
};
