#pragma once
// What the simulated receiver is told when it is made: its settings at the start, its
// software versions, extra output, faults and timing. Tests and kestrane-sim's command
// line fill SimOptions; SimCore (sim/Simcore.h) takes the settings and the version over
// as state of its own and reads the rest as it runs, so a change made through
// SimCore::Configure takes effect at once. And the clocks the simulator runs on.

#include "sim/Simsettings.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;
using WallTime = std::chrono::system_clock::time_point;

struct SimVersion {
    std::uint8_t major = 2;
    std::uint8_t minor = 5;
    char suffix[4] = {'b', 0, 0, 0}; // up to three characters

    // "2.5b" and the like: digits, ".", digits, up to three more characters.
    static bool Parse(const std::string& text, SimVersion& out);
    std::string Text() const;
    bool operator==(const SimVersion& o) const;
};

// The settings (SimSettings) come first: as stored in the receiver; a power cycle keeps
// them.
struct SimOptions : SimSettings {
    SimVersion version{};
    SimVersion newVersion{2, 6, {'b', 0, 0, 0}}; // what a completed load installs
    bool versionSuffix = true; // false: the Configuration report is too short for it

    // Extra output.
    bool otherTalkers = false; // $GNGSA and $GLGSV each fix
    bool otherBinary = false;  // proprietary frames of ids kSimIdOther1/2 each fix
    // Keep the line full: a new fix (stamped with the moment it is made) whenever the
    // output runs low, instead of one per navigation period. For throughput tests.
    bool fillLine = false;

    // Faults.
    bool dead = false;               // reads everything, sends nothing
    bool echo = false;               // a loopback plug: every byte goes straight back
    bool noise = false;              // random bytes (never "$") between messages
    bool noPrompt = false;           // the loader never sends its prompt
    std::uint32_t dropAckRecord = 0; // record number (from 1) whose ack is dropped
    bool dropAckAlways = false;      // ... every time instead of once
    std::uint32_t ackDelayMs = 0;    // before every loader acknowledgement
    std::string ackText = "OK";      // the loader's acknowledgement ("ok" or "OK " are wrong)
    bool engineFailure = false;      // the engine download ends in status 4
    bool waasAvailable = true;       // false: WAAS state reported as not available (2)
    // Outages, in seconds from the first fix: no fix from fixGapStart for fixGap seconds
    // (fixGap 0: none), and no differential fix from diffLost on (GPS alone, whatever the
    // corrections settings).
    std::uint32_t fixGapStart = 0;
    std::uint32_t fixGap = 0;
    std::optional<std::uint32_t> diffLost;

    // Timing.
    std::uint32_t loaderStartMs = 100;      // from "LOADSTAR" to the first prompt
    std::uint32_t eraseMs = 0;              // time the erase takes before its "OK"
    std::uint32_t engineDownloadMs = 10000; // from "RESET" to status 3
    std::uint32_t recordGapMs = 5;          // quiet time that ends a record

    std::uint64_t seed = 1;
    bool verbose = false; // describe what is received and done (see SimCore::TakeLog)
};
