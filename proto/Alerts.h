#pragma once
// Alerts a technician wants raised the moment the link or the fix degrades, and ended
// when it is over: the fix lost (no valid fix for fixLostSeconds), the differential
// lost (the fix quality falls from 2 to 1 or 0), corrections older than a limit, and no
// data at all. Each has hysteresis: it is raised when its condition has held for its
// time, and ended only when the condition has been gone for clearSeconds, so a fix that
// flaps raises one alert, not dozens. Every raising and ending is an event with its
// time, kept in a bounded log.
//
// Fed by the one receive path (decoded sentences, bytes) and a tick on the injectable
// clock's milliseconds. Standard C++ only.
//
// The conditions, each watched from the first call after construction or Reset (so a
// reader resets the monitor when it opens the port, and ticks it only while the port
// is open):
//   - Fix lost: no GGA or RMC with a valid position for fixLostSeconds, counted from the
//     last valid one, or before any from the first data. Over once valid positions have
//     come for clearSeconds, none of them followed by a GGA or RMC without a valid
//     position and no two of them fixLostSeconds apart.
//   - Differential lost: raised at once when a GGA's quality is 1 or 0 and the GGA with
//     a quality before it had 2. Over once every GGA for clearSeconds had quality 2.
//   - Corrections old: raised at once when a GGA's age of corrections is over
//     correctionsMaxAgeSeconds. Over once every GGA for clearSeconds gave an age within
//     it (a GGA without an age does not end it: the corrections are not current).
//   - No data: no byte for noDataSeconds (from the last byte, or before any from the
//     first call). Over once bytes have come for clearSeconds without such a gap.
// What ends an alert must keep coming and span clearSeconds, from the first to the
// latest (a pause of fixLostSeconds, of noDataSeconds for bytes, starts it again): a
// silence after a few good seconds ends nothing. An event is stamped with the time of
// the call that found it.

#include "proto/Nmea.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

enum class AlertKind : std::uint8_t { FixLost, DifferentialLost, CorrectionsOld, NoData };

struct AlertLimits {
    int fixLostSeconds = 5;
    int correctionsMaxAgeSeconds = 30;
    int noDataSeconds = 5;
    int clearSeconds = 5;
};

struct AlertEvent {
    AlertKind kind = AlertKind::NoData;
    bool raised = true;     // raised, or ended
    std::int64_t atMs = 0;  // the clock's milliseconds
    std::string text;       // "Fix lost", "Fix back", ...
};

class AlertMonitor {
public:
    static constexpr std::size_t kLogSize = 200;

    explicit AlertMonitor(AlertLimits limits = {});

    // After every line the decoder took.
    void Sentence(const NmeaResult& result, const NmeaState& state, std::int64_t nowMs);
    void BytesReceived(std::int64_t nowMs);
    // Time-based conditions; call at least once a second.
    void Tick(std::int64_t nowMs);

    bool Active(AlertKind kind) const;
    // The alerts holding now, as one line ("Fix lost, Differential lost"); empty when none.
    std::string ActiveText() const;
    // Every event, oldest first, at most kLogSize.
    const std::deque<AlertEvent>& Log() const;
    // Events ever logged: with it a reader of Log() tells the new ones from those it has
    // shown, also once the oldest are dropped (the last EventCount() - shown of the log).
    std::uint64_t EventCount() const { return events_; }
    // The events since the last call (at most kLogSize, the latest).
    std::vector<AlertEvent> TakeEvents();
    // Forgets everything: the conditions, the alerts holding (without events) and the log.
    void Reset();

    // "Fix lost", "Differential lost", "Corrections old", "No data".
    static const char* Name(AlertKind kind);
    // "HH:MM:SS ALERT Fix lost" or "HH:MM:SS END Fix back" (local time of day) and a line
    // end; one JSON object and a line end:
    //   {"type": "alert", "time_ms": ..., "time": "HH:MM:SS", "alert": "fix_lost",
    //    "event": "raised" or "ended", "text": "Fix lost"}
    // with "differential_lost", "corrections_old" or "no_data" for the other kinds.
    static void WriteText(std::ostream& out, const AlertEvent& event);
    static void WriteJson(std::ostream& out, const AlertEvent& event);

private:
    // An alert's way back: the first and the latest of the sentences (or bytes) that
    // have ended its condition since it last held.
    struct Recovery {
        bool going = false;
        std::int64_t sinceMs = 0;
        std::int64_t lastMs = 0;
    };
    // The recovery goes on at nowMs, or starts afresh after a pause of pauseMs.
    static void KeepGoing(Recovery& r, std::int64_t nowMs, std::int64_t pauseMs);
    bool Recovered(const Recovery& r, std::int64_t nowMs, std::int64_t pauseMs) const;
    void Begin(std::int64_t nowMs);
    void Update(std::int64_t nowMs);
    void Event(AlertKind kind, bool raised, std::int64_t nowMs);

    AlertLimits limits_;
    std::array<bool, 4> active_{};
    bool started_ = false;
    std::int64_t startMs_ = 0;
    bool dataSeen_ = false; // a byte or a sentence
    std::int64_t firstDataMs_ = 0;
    bool byteSeen_ = false;
    std::int64_t lastByteMs_ = 0;
    bool validFixSeen_ = false;
    std::int64_t lastValidFixMs_ = 0;
    std::optional<int> lastQuality_; // of the latest GGA with a quality
    Recovery fix_;
    Recovery differential_;
    Recovery corrections_;
    Recovery data_;
    std::deque<AlertEvent> log_;
    std::uint64_t events_ = 0; // ever logged
    std::uint64_t taken_ = 0;  // of them, handed out by TakeEvents
};
