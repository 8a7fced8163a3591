#pragma once
// The simulated receiver in normal operation, on its input side: the binary commands it
// takes and the two reports it answers with.
//
// It takes binary frames (checked by the project's own framer) and answers or applies
// them: Output request (0xFF) for the Configuration report (4) or the Corrections status
// report (1); Navigation rate (0x83); Corrections (0x81); Output configuration (0x82),
// whose baud rate takes effect as soon as the frame has been taken in. Other frames and
// frames too short for their layout are ignored, as are frames with a bad CRC, which the
// framer never completes. The commands are read, and the reports written, through the
// codec's payload layouts (proto/Memoutils.h).
//
// Beside the frames it collects text lines, for the loader's wake-up call "LOADSTAR". A
// binary frame is passed over by its length byte, so the CR and LF inside it end no line.

#include "proto/Diagproto.h"
#include "proto/Memoutils.h"
#include "sim/Simengine.h"
#include "sim/Simjournal.h"
#include "sim/Simoptions.h"
#include "sim/Simoutput.h"
#include "sim/Simsettings.h"
#include "sim/Simtextline.h"

#include <cstddef>
#include <cstdint>

// Payload lengths of the two reports. With the version suffix the Configuration report
// frame is 146 bytes long, without it 134 (the suffix is read only above 140).
inline constexpr std::size_t kSimConfigPayloadLen = 136;
inline constexpr std::size_t kSimConfigShortPayloadLen = kCfgMinPayloadLen;
inline constexpr std::size_t kSimCorrectionsPayloadLen = kCorrMinPayloadLen;

class SimCommands {
public:
    // Applies the commands to `settings`; the reports show them with the engine's version
    // and load status.
    SimCommands(const SimOptions& options, SimSettings& settings, const SimEngine& engine,
                SimOutput& output, SimJournal& journal);
    SimCommands(const SimCommands&) = delete;
    SimCommands& operator=(const SimCommands&) = delete;

    // Takes a byte; true when it ended the line "LOADSTAR", after which the caller wakes
    // the loader.
    bool Receive(std::uint8_t b);
    // Forgets any frame or line under way.
    void Reset();

    void QueueConfigReport(bool reply);
    void QueueCorrectionsReport(bool reply);

private:
    void HandleFrame(const std::uint8_t* frame, std::size_t n);
    // The line ended by CR; true for "LOADSTAR".
    bool HandleLine();

    const SimOptions& options_;
    SimSettings& settings_;
    const SimEngine& engine_;
    SimOutput& output_;
    SimJournal& journal_;
    DiagProto framer_;
    SimTextLine line_;
    std::size_t frameSkip_ = 0; // bytes of a binary frame the line collector passes over
};
