#pragma once
// What follows a load: the after-load dialogue between the program and the receiver's
// GPS engine, decided here and shown by whoever runs it (the Load Software window, a
// command-line program).
//
// Once a load has gone through the file, the engine takes the software in and reports
// its progress in the Configuration report: 1 or 2 while it downloads, 3 when the
// receiver's power must be cycled, 4 or 12 when its download failed, 0 when idle. The
// first idle report after such a load asks for the power cycle ("Cycle Power Now");
// Request pressed after that, and the idle report that answers it, give "Done". Only a
// load that completed leads there: after a load that timed out or was cancelled the
// status line keeps saying so, and only a status the engine itself reports (1, 2, 3,
// 4, 12) replaces it.
//
// Every end of a load turns the receiver's SYS output on, in addition to the outputs it
// had, so the engine's status keeps coming. The outputs it had before the load, SYS as
// it was then, are put back by the first report that is not a download in progress.
// After a completed load SYS stays on until "Done" (the idle status after the power
// cycle must come by itself), so until then every such report puts back the other
// outputs with SYS on, and "Done" puts back all of them. Those are the only Output
// configurations sent: outside the after-load dialogue a report changes nothing in
// the receiver, so a report crossing the user's own settings cannot undo them.
//
// Standard C++ only.

#include "loader/Loadsequence.h"
#include "proto/Memoutils.h"

#include <cstdint>

// An Output configuration to write, or none.
struct OutputConfiguration {
    bool send = false;
    std::uint32_t binaryFlags = 0;
    std::uint32_t nmeaFlags = 0;
};

// What a Configuration report asks for.
struct ReportReaction {
    const char* status = nullptr; // for the status line; none leaves it as it is
    OutputConfiguration outputs;
};

class AfterLoadDialogue {
public:
    // A fresh dialogue, as the window is shown: no power cycle asked for. Outputs not
    // yet put back after a load are still put back, once.
    void Restart();
    // A load starts: the outputs in force now are what its end puts back.
    void LoadStarting();
    // A load has ended: the Output configuration to send now (none when no report has
    // told the receiver's outputs: zero flags would switch its NMEA output off).
    OutputConfiguration LoadEnded(LoadOutcome outcome);
    // A Configuration report has come in.
    ReportReaction OnReport(const ConfigurationReport& report);
    // Request was pressed (the window asks for the report itself).
    void RequestPressed();
    // The dialogue is left before it has put the receiver's outputs back (a program that
    // ends without following the engine): the Output configuration that puts back the
    // outputs from before the load, SYS as it was then; none when nothing is owed.
    OutputConfiguration PutBackNow();

    // The outputs of the last report, and whether one has come.
    bool FlagsKnown() const { return flagsKnown_; }
    std::uint32_t BinaryFlags() const { return binaryFlags_; }
    std::uint32_t NmeaFlags() const { return nmeaFlags_; }
    // The dialogue's steps.
    bool LoadEndedPending() const { return loadEnded_; }          // next idle: power cycle
    bool PowerCyclePending() const { return powerCyclePending_; } // shown; Request next
    bool ConfirmRequested() const { return confirmRequested_; }   // next idle: "Done"
    bool RestorePending() const { return restore_ != Restore::None; }

private:
    enum class Restore : std::uint8_t {
        None,      // nothing to put back
        Once,      // by the next report that allows it
        UntilDone, // by every report that allows it, until "Done"
    };

    bool flagsKnown_ = false;
    std::uint32_t binaryFlags_ = 0;
    std::uint32_t nmeaFlags_ = 0;

    bool savedKnown_ = false;
    std::uint32_t savedBinary_ = 0;
    std::uint32_t savedNmea_ = 0;

    bool loadEnded_ = false;
    bool powerCyclePending_ = false;
    bool confirmRequested_ = false;
    Restore restore_ = Restore::None;
};
