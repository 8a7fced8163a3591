#pragma once
// The simulated receiver's second personality, the software loader.
//
// A text line "LOADSTAR" ended by CR wakes it (SimCore, sim/Simcore.h, makes the
// switch); from then on the port runs at 19200 baud. After a start-up delay it sends its
// prompt ">". It answers "Ver" and "Mfg" with a text line and the prompt, "On" and
// "ERASE" with "OK" CR LF and the prompt, and takes every record (";" and the data bytes,
// raw, without a line end) with the same acknowledgement. Records have no length on the
// line, so a record ends when the line goes quiet; it cannot end before its bytes could
// have crossed the wire at the line rate. "RESET" leaves the loader. A record whose
// acknowledgement a fault drops is not kept, so the resent record is the one that
// counts. ERASE clears the records kept; a power cycle does not.
//
// The faults of the dialogue (no prompt, a late, dropped or wrong acknowledgement) are
// the options'; the loader keeps only whether the one-time drop is still to come.

#include "sim/Simjournal.h"
#include "sim/Simoptions.h"
#include "sim/Simoutput.h"
#include "sim/Simrecords.h"
#include "sim/Simtextline.h"

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::uint32_t kLoaderRate = 19200;
// A record is the start byte and at most 98 data bytes; a longer one is refused.
inline constexpr std::size_t kMaxSimRecordLen = 99;

class SimLoader {
public:
    // Reads the loader's timing and faults as it runs; answers through `output`.
    SimLoader(const SimOptions& options, SimJournal& journal, SimOutput& output);
    SimLoader(const SimLoader&) = delete;
    SimLoader& operator=(const SimLoader&) = delete;

    bool Active() const { return active_; }
    // Wakes the loader; the line, now at kLoaderRate, was at `fromRate`.
    void Start(SimTime now, std::uint32_t fromRate);
    // Takes a byte; true when it ended "RESET", after which the caller makes the loader
    // Leave.
    bool Receive(std::uint8_t b, SimTime now);
    // Ends the loader; true when it had erased, so the engine is to take in the records.
    bool Leave();
    // Power removed: the loader ends; the records stay.
    void PowerCycle();

    // Ends the record under way when it is due.
    void FinishDue(SimTime now);
    // When the record under way ends; SimTime::max() when none is.
    SimTime NextDue() const;

    // Arms the one-time drop of the options' record (after they changed).
    void ArmDropAck() { dropArmed_ = options_.dropAckRecord != 0; }

    const std::vector<SimRecord>& Records() const { return records_; }
    std::uint64_t Digest() const { return digest_.Value(); }

private:
    // The line ended by CR; true for "RESET".
    bool Command(SimTime now);
    SimTime RecordDue() const;
    void FinishRecord(SimTime now);
    std::string Prompt() const;

    const SimOptions& options_;
    SimJournal& journal_;
    SimOutput& output_;
    bool active_ = false;
    SimTime ready_{};
    bool erased_ = false;
    SimTextLine line_;
    bool inRecord_ = false;
    SimRecord record_;
    SimTime recordFirst_{};
    SimTime recordLast_{};
    bool dropArmed_ = false;
    std::vector<SimRecord> records_;
    RecordDigest digest_;
};
