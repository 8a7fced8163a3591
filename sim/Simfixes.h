#pragma once
// The simulated receiver's fixes: when they are made and what each one sends.
//
// Once per navigation period (1 or 5 fixes a second), on the period's boundary of the
// calendar clock, the receiver sends the NMEA sentences its output flags enable and the
// binary messages for the binary flags it has on, except SYS, which is the Configuration
// report once a second: that is how the program follows the engine's status after a load
// without asking. With the fill option a new fix is made whenever the output runs low
// instead, so the line never rests. The outages of the options (a gap without a fix, the
// loss of the differential corrections) are timed from the first fix the receiver made.

#include "sim/Simcommands.h"
#include "sim/Simnmea.h"
#include "sim/Simoptions.h"
#include "sim/Simoutput.h"
#include "sim/Simsettings.h"

#include <cstdint>

// Binary message ids the simulator sends for the binary output flags (SYS sends the
// Configuration report), and the ids of the extra proprietary messages.
inline constexpr std::uint8_t kSimIdQX = 0x10;
inline constexpr std::uint8_t kSimIdGPS = 0x11;
inline constexpr std::uint8_t kSimIdSATS = 0x12;
inline constexpr std::uint8_t kSimIdREFMON = 0x14;
inline constexpr std::uint8_t kSimIdOther1 = 2;
inline constexpr std::uint8_t kSimIdOther2 = 0x6A;

class SimFixes {
public:
    // Sends what `settings` enable; the Configuration report of SYS through `commands`.
    SimFixes(const SimOptions& options, const SimSettings& settings, SimOutput& output,
             SimCommands& commands);
    SimFixes(const SimFixes&) = delete;
    SimFixes& operator=(const SimFixes&) = delete;

    // Makes the fix that is due at `now` (the calendar clock reads `wall`).
    void Advance(SimTime now, WallTime wall);
    // When the next fix is due: SimTime::min() while none is timed yet, SimTime::max()
    // when the line is kept full instead.
    SimTime NextDue() const;
    // Forgets the timing; the next Advance times the fixes afresh.
    void Reset() { timed_ = false; }

    std::uint64_t Count() const { return count_; }

private:
    void Fix(SimTime now, WallTime wall);
    void Send(WallTime when, bool sysDue);

    const SimOptions& options_;
    const SimSettings& settings_;
    SimOutput& output_;
    SimCommands& commands_;
    NmeaGenerator nmea_;
    SimTime next_{};
    bool timed_ = false;
    std::uint64_t count_ = 0;
    WallTime firstFix_{}; // when the first fix was made, for the outages
};
