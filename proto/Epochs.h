#pragma once
// The receiver's fixes, epoch by epoch, as its sentences tell them: what a track export
// and a precision report are made of.
//
// An epoch is the set of sentences of one UTC time: the GGA, RMC and ZDA of a fix carry
// the same time, and a GSA or VTG belongs to the epoch of the time-bearing sentence
// before it. An epoch ends when a sentence brings another time (or at Finish); then its
// values are taken from the decoder's state as that epoch left it. Epochs without a
// GGA or RMC are not kept. The date is the latest RMC's or ZDA's; across midnight without
// a new date the day is carried on.
//
// Each value comes from the sentence of the epoch that carries it, and is unknown when
// the epoch has no such sentence (a GSA sent every fifth second leaves the mode of the
// other four unknown, rather than repeating an old one). Whether the epoch is a valid
// fix, and where, is its GGA's word when it has one, else its RMC's. A refused sentence,
// and a GGA, RMC or ZDA without a time (which cannot be placed in an epoch), add nothing.
// Midnight is taken as passed when the time of day steps back by more than twelve hours;
// a smaller step back (a recording appended to another) leaves the day as it is.

#include "proto/Nmea.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

struct FixEpoch {
    std::int32_t timeMs = 0;               // UTC milliseconds since midnight
    std::optional<std::int64_t> utcMs;     // milliseconds since 1970, when the date is known
    std::optional<int> quality;            // GGA: 0 no fix, 1 GPS, 2 differential, 6 estimated, ...
    std::optional<int> fixMode;            // GSA: 1 no fix, 2 2D, 3 3D
    bool valid = false;                    // a fix with a position (NmeaResult::validPosition)
    double latitude = 0.0;                 // signed decimal degrees, when valid
    double longitude = 0.0;
    std::optional<double> altitude;        // metres above mean sea level
    std::optional<double> geoidSeparation; // metres
    std::optional<int> satellitesUsed;
    std::optional<double> hdop;
    std::optional<double> vdop;
    std::optional<double> pdop;
    std::optional<double> correctionAge;   // seconds
    std::optional<int> correctionStation;
};

class EpochCollector {
public:
    // Keeps at most capacity epochs, the oldest going first.
    explicit EpochCollector(std::size_t capacity = 10'000'000);

    // After each line the decoder took: its result and the decoder's state.
    void Add(const NmeaResult& result, const NmeaState& state);
    // Ends the epoch in progress.
    void Finish();
    void Clear();

    const std::deque<FixEpoch>& Epochs() const { return epochs_; }

private:
    std::size_t capacity_;
    std::deque<FixEpoch> epochs_;
    void Close();

    // The epoch in progress: its values so far, and which of its sentences came.
    bool inProgress_ = false;
    FixEpoch pending_;
    bool pendingGga_ = false;
    bool pendingRmc_ = false;
    // The day of the latest date (days since 1970-01-01), carried over midnight, and the
    // time of day of the latest epoch it was applied to.
    std::optional<std::int64_t> day_;
    std::int32_t dayTimeMs_ = 0;
};
