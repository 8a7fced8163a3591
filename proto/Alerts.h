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

#include "proto/Nmea.h"

#include <cstddef>
#include <cstdint>
#include <deque>
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
    // The events since the last call.
    std::vector<AlertEvent> TakeEvents();
    void Reset();

    static const char* Name(AlertKind kind);
    // "HH:MM:SS Fix lost" / one JSON object per event.
    static void WriteText(std::ostream& out, const AlertEvent& event);
    static void WriteJson(std::ostream& out, const AlertEvent& event);

private:
    // the implementer's state
};
