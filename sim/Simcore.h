#pragma once
// The behaviour of the simulated receiver, apart from any device: what it does with the
// bytes it understood, what it sends and when. SimReceiver (sim/Simreceiver.h) puts it
// on a pseudo-terminal; tests and fuzzers can drive it directly with made-up times.
//
// The receiver has two personalities on one port: normal operation, which takes the
// binary commands (sim/Simcommands.h) and sends a fix each navigation period
// (sim/Simfixes.h), and the software loader (sim/Simloader.h), woken by "LOADSTAR" and
// left by "RESET". SimCore holds the parts, each with its own state, hands every byte
// to the personality in charge and makes the switch between them: the loader runs the
// port at 19200 baud, and leaving it puts the port back at the rate it had; when the
// loader had erased, the GPS engine (sim/Simengine.h) then takes in the new software.
// What it sends waits in the output (sim/Simoutput.h); what it took in and did goes
// to the journal (sim/Simjournal.h). The receiver's settings are one value
// (sim/Simsettings.h) that the commands change and the reports and fixes read.

#include "sim/Simcommands.h"
#include "sim/Simengine.h"
#include "sim/Simfixes.h"
#include "sim/Simjournal.h"
#include "sim/Simloader.h"
#include "sim/Simoptions.h"
#include "sim/Simoutput.h"
#include "sim/Simrecords.h"
#include "sim/Simsettings.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

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
    // The parts refer to each other.
    SimCore(const SimCore&) = delete;
    SimCore& operator=(const SimCore&) = delete;

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
    std::deque<std::uint8_t>& Output() { return output_.Bytes(); }
    // Puts bytes on the line as they are (tests, the command line's own injections).
    void SendRaw(const std::uint8_t* data, std::size_t n) { output_.SendRaw(data, n); }

    std::uint32_t LineRate() const { return output_.Rate(); }
    bool Echo() const { return options_.echo; }
    bool Dead() const { return options_.dead; }

    void PowerCycle(SimTime now);

    // The options as they stand, with the settings and the software version in force.
    SimOptions Options() const;
    // Changes options, taking effect at once. The baud rate and the dropped
    // acknowledgement need their setters below; a baud rate set here is not taken.
    void Configure(const std::function<void(SimOptions&)>& change);
    void SetLineRate(std::uint32_t rate);
    void SetDropAck(std::uint32_t record, bool always);

    SimStatus Status() const;
    const std::vector<SimEvent>& Events() const { return journal_.Events(); }
    void ClearEvents() { journal_.ClearEvents(); }
    const std::vector<SimRecord>& Records() const { return loader_.Records(); }
    // Lines describing what was received and done, when verbose; taken by the caller.
    std::vector<std::string> TakeLog() { return journal_.TakeLog(); }

private:
    // Dead or a loopback plug: the receiver does nothing with what it is sent.
    bool Silent() const { return options_.dead || options_.echo; }
    void StartLoader(SimTime now);
    void LeaveLoader(SimTime now);

    // What the parts read as they run. Its settings and version are only where the
    // receiver started: settings_ and engine_ hold them from then on.
    SimOptions options_;
    SimSettings settings_;
    SimJournal journal_;
    SimOutput output_;
    SimEngine engine_;
    SimCommands commands_;
    SimFixes fixes_;
    SimLoader loader_;
    std::uint64_t powerCycles_ = 0;
};
