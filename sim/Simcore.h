#pragma once
// The behaviour of the simulated receiver, apart from any device: what it does with the
// bytes it understood, what it sends and when. SimReceiver (sim/Simreceiver.h) puts it
// on a pseudo-terminal; tests and fuzzers can drive it directly with made-up times.
//
// The receiver has two personalities on one port.
//
// Normal operation. Once per navigation period (1 or 5 fixes a second) it sends the NMEA
// sentences its output flags enable, and binary messages for the binary flags it has on.
// It takes binary frames (checked by the project's own framer) and answers or applies
// them: Output request (0xFF) for the Configuration report (4) or the Corrections status
// report (1); Navigation rate (0x83); Corrections (0x81); Output configuration (0x82),
// whose baud rate takes effect as soon as the frame has been taken in. Other frames and
// frames too short for their layout are ignored, as are frames with a bad CRC, which
// the framer never completes.
//
// The software loader. A text line "LOADSTAR" ended by CR wakes it; from then on the
// port runs at 19200 baud. After a start-up delay it sends its prompt ">". It answers
// "Ver" and "Mfg" with a text line and the prompt, "On" and "ERASE" with "OK" CR LF and
// the prompt, and takes every record (";" and the data bytes, raw, without a line end)
// with the same acknowledgement. Records have no length on the line, so a record ends
// when the line goes quiet; it cannot end before its bytes could have crossed the wire
// at the line rate. "RESET" leaves the loader: the port goes back to the rate it had,
// and when the loader had erased, the GPS engine starts taking in the new software:
// its load status runs 1, 2 ("downloading") and then 3 ("cycle power"), or 4 when the
// engine download is made to fail. A power cycle brings status 0 and, after a finished
// download, the new software version; power removed during the download leaves status 4
// until the next power cycle. A record whose acknowledgement a fault drops is not kept,
// so the resent record is the one that counts. ERASE clears the records kept.
//
// Output waits in a buffer of about a second of the line (two for replies); a message
// that does not fit is dropped whole, as a receiver whose line is too slow drops them.
//
// Binary messages the flags enable go out once per fix, except SYS, which is the
// Configuration report once a second: that is how the program follows the engine's
// status after a load without asking.

#include "proto/Diagproto.h"
#include "sim/Simnmea.h"
#include "sim/Simrecords.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// Binary message ids the simulator sends for the binary output flags (SYS sends the
// Configuration report), and the ids of the extra proprietary messages.
inline constexpr std::uint8_t kSimIdQX = 0x10;
inline constexpr std::uint8_t kSimIdGPS = 0x11;
inline constexpr std::uint8_t kSimIdSATS = 0x12;
inline constexpr std::uint8_t kSimIdREFMON = 0x14;
inline constexpr std::uint8_t kSimIdOther1 = 2;
inline constexpr std::uint8_t kSimIdOther2 = 0x6A;

inline constexpr std::uint32_t kLoaderRate = 19200;
// A record is the start byte and at most 98 data bytes; a longer one is refused.
inline constexpr std::size_t kMaxSimRecordLen = 99;
// The correction channel of the default frequency (1545.5 MHz).
inline constexpr std::int32_t kDefaultChannel = 41000;

// Payload lengths of the two reports. With the version suffix the Configuration report
// frame is 146 bytes long, without it 134 (the suffix is read only above 140).
inline constexpr std::size_t kSimConfigPayloadLen = 136;
inline constexpr std::size_t kSimConfigShortPayloadLen = 124;
inline constexpr std::size_t kSimCorrectionsPayloadLen = 72;

// GPS engine load status values of the Configuration report.
enum SimEngineStatus : std::uint8_t {
    kEngineIdle = 0,
    kEngineDownloading1 = 1,
    kEngineDownloading2 = 2,
    kEngineCyclePower = 3,
    kEngineFailed = 4,
};

struct SimVersion {
    std::uint8_t major = 2;
    std::uint8_t minor = 5;
    char suffix[4] = {'b', 0, 0, 0}; // up to three characters

    // "2.5b" and the like: digits, ".", digits, up to three more characters.
    static bool Parse(const std::string& text, SimVersion& out);
    std::string Text() const;
    bool operator==(const SimVersion& o) const;
};

struct SimOptions {
    // The receiver's settings (as stored in it; a power cycle keeps them).
    std::uint32_t baudRate = 19200;
    std::uint8_t navRate = 1;
    std::uint32_t nmeaFlags = 0x1F;
    std::uint32_t binaryFlags = 0;
    bool alternateFrequency = false;
    std::int32_t channel = kDefaultChannel;
    bool waasOn = true;
    bool correctionsOn = true;
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

    // Timing.
    std::uint32_t loaderStartMs = 100;      // from "LOADSTAR" to the first prompt
    std::uint32_t eraseMs = 0;              // time the erase takes before its "OK"
    std::uint32_t engineDownloadMs = 10000; // from "RESET" to status 3
    std::uint32_t recordGapMs = 5;          // quiet time that ends a record

    std::uint64_t seed = 1;
    bool verbose = false; // describe what is received and done (see TakeLog)
};

// One thing the receiver took in, in arrival order, for tests that check exact bytes.
struct SimEvent {
    enum Kind {
        Frame,        // a binary frame with a good CRC (all of it, "$" to LF)
        Text,         // a text line ended by CR, the CR included (loader commands too)
        Record,       // a loader record, ";" included
        NotUnderstood // bytes that arrived at a rate other than the receiver's
    };
    Kind kind;
    std::vector<std::uint8_t> bytes; // for NotUnderstood: empty, see count
    bool loader = false;             // taken in by the loader
    bool accepted = true;            // Record: stored and acknowledged
    std::size_t count = 0;           // NotUnderstood: number of bytes
};

struct SimStatus {
    std::uint32_t lineRate = 0;       // the receiver's current rate
    std::uint32_t configuredRate = 0; // the rate it returns to after the loader
    std::uint32_t pcRate = 0;         // the rate the PC set on its side (SimReceiver)
    bool pcOpen = false;              // the PC side holds the device open (SimReceiver)
    bool loaderActive = false;
    std::uint32_t nmeaFlags = 0;
    std::uint32_t binaryFlags = 0;
    std::uint8_t navRate = 1;
    bool alternateFrequency = false;
    std::int32_t channel = 0;
    std::uint8_t waasState = 0;
    bool correctionsOn = true;
    std::uint8_t engineStatus = 0;
    SimVersion version{};
    std::size_t recordCount = 0;
    std::uint64_t recordDigest = 0;
    std::uint64_t framesReceived = 0;
    std::uint64_t bytesNotUnderstood = 0;
    std::uint64_t fixes = 0;
    std::uint64_t bytesQueued = 0;
    std::uint64_t powerCycles = 0;
};

class SimCore {
public:
    explicit SimCore(const SimOptions& options);

    // Takes bytes that arrived at the receiver's own rate. Stops early when one of them
    // changed the line rate (the rest was sent at the old rate, so the caller checks it
    // again) and returns how many it took.
    std::size_t Receive(const std::uint8_t* data, std::size_t n, SimTime now);
    // Bytes that arrived at another rate: counted, otherwise lost.
    void NotUnderstood(std::size_t n);

    // Runs everything that is due at `now`: fixes, replies, records, engine status.
    void Advance(SimTime now, WallTime wall);
    // When Advance next has something to do.
    SimTime NextDue() const;

    // Output bytes in line order, for the line to take as fast as its rate allows.
    std::deque<std::uint8_t>& Output() { return output_; }
    // Puts bytes on the line as they are (tests, the command line's own injections).
    void SendRaw(const std::uint8_t* data, std::size_t n);

    std::uint32_t LineRate() const { return lineRate_; }
    bool Echo() const { return options_.echo; }
    bool Dead() const { return options_.dead; }

    void PowerCycle(SimTime now);

    // Settings and faults, taking effect at once.
    SimOptions& Options() { return options_; }
    const SimOptions& Options() const { return options_; }
    void SetLineRate(std::uint32_t rate);
    void SetDropAck(std::uint32_t record, bool always);

    SimStatus Status() const;
    const std::vector<SimEvent>& Events() const { return events_; }
    void ClearEvents() { events_.clear(); }
    const std::vector<SimRecord>& Records() const { return records_; }
    // Lines describing what was received and done, when verbose; taken by the caller.
    std::vector<std::string> TakeLog();

private:
    struct Scheduled {
        SimTime due;
        std::string bytes;
    };

    void ReceiveNormal(std::uint8_t b, SimTime now);
    void ReceiveLoader(std::uint8_t b, SimTime now);
    // Adds a byte to the text line being collected; false when it was not stored (a
    // lone LF, or a line grown too long, which is then dropped whole up to its CR).
    bool CollectTextByte(std::uint8_t b);
    void HandleFrame(const std::uint8_t* frame, std::size_t n);
    void HandleNormalLine(SimTime now);
    void HandleLoaderCommand(SimTime now);
    SimTime RecordDue() const;
    void FinishRecord(SimTime now);
    void StartLoader(SimTime now);
    void LeaveLoader(SimTime now);
    void Fix(SimTime now, WallTime wall);
    void QueueFix(WallTime when, bool sysDue);
    void UpdateEngine(SimTime now);

    bool Queue(const std::uint8_t* data, std::size_t n, bool reply);
    bool QueueFrame(std::uint8_t id, const std::uint8_t* payload, std::size_t n, bool reply);
    void QueueNoise();
    void QueueConfigReport(bool reply);
    void QueueCorrectionsReport(bool reply);
    void QueueProprietary(std::uint8_t id, std::size_t n);
    void Schedule(SimTime due, std::string bytes);
    std::uint64_t Random();
    void AddEvent(SimEvent::Kind kind, const std::uint8_t* data, std::size_t n, bool accepted);
    void Log(const std::string& line);
    std::chrono::nanoseconds FixPeriod() const;

    SimOptions options_;
    std::uint32_t lineRate_;
    std::uint64_t rng_;
    NmeaGenerator nmea_;
    std::deque<std::uint8_t> output_;
    std::vector<Scheduled> scheduled_;

    // Normal operation.
    DiagProto framer_;
    std::string line_;          // text line in progress, without its CR
    bool lineOverflow_ = false; // the line outgrew line_: dropped up to its CR
    std::size_t frameSkip_ = 0; // bytes of a binary frame the line collector passes over
    SimTime nextFix_{};
    bool fixScheduled_ = false;
    std::uint64_t fixes_ = 0;

    // The loader.
    bool loaderActive_ = false;
    std::uint32_t savedRate_ = 0;
    SimTime loaderReady_{};
    bool erased_ = false;
    bool inRecord_ = false;
    SimRecord record_;
    SimTime recordFirst_{};
    SimTime recordLast_{};
    bool dropArmed_ = false;
    std::vector<SimRecord> records_;
    RecordDigest digest_;

    // The GPS engine.
    std::uint8_t engineStatus_ = kEngineIdle;
    bool downloading_ = false;
    bool installPending_ = false; // a finished download waits for the power cycle
    SimTime downloadStart_{};

    std::vector<SimEvent> events_;
    std::vector<std::string> log_;
    std::uint64_t framesReceived_ = 0;
    std::uint64_t bytesNotUnderstood_ = 0;
    std::uint64_t bytesQueued_ = 0;
    std::uint64_t powerCycles_ = 0;
};
