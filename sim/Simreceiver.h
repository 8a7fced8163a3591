#pragma once
// A simulated receiver on a pseudo-terminal. The program (or a test) opens the slave
// side, DevicePath(), as it would open a serial device; the receiver lives on the master
// side (sim/Simpty.h) and runs on a thread of its own between Start and Stop, so a test
// can keep one in its own process and look inside it while the code under test talks to
// it.
//
// The line. The receiver's port has a baud rate; the PC side's rate is whatever the
// program set on the slave (the master reads it with tcgetattr). Bytes received while
// the two differ are not understood (sim/Simpcrates.h), and what the receiver sends then
// reaches the PC as the garbage a mismatched UART reads (sim/Simline.h). Output leaves at
// the line rate (sim/Simpacer.h), so throughput is what a real line gives. While no one
// holds the slave open the output is lost, as on an unplugged cable; closing and
// reopening the slave (which the program does on every open and around the loader's baud
// switch) is harmless.
//
// Everything here is safe to call from any thread.

#include "sim/Simcore.h"
#include "sim/Simpacer.h"
#include "sim/Simpcrates.h"
#include "sim/Simpty.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimReceiver {
public:
    explicit SimReceiver(const SimOptions& options = SimOptions());
    ~SimReceiver();
    SimReceiver(const SimReceiver&) = delete;
    SimReceiver& operator=(const SimReceiver&) = delete;

    // Creates the pseudo-terminal and starts the receiver. False (with LastError set to
    // the system's error number) when the pseudo-terminal cannot be had.
    bool Start();
    // Stops the receiver and closes the pseudo-terminal, which hangs up the PC side.
    void Stop();
    bool Running() const;
    // The slave device, e.g. /dev/pts/3; empty before Start.
    std::string DevicePath() const;
    int LastError() const;

    // As if the receiver's power had been removed and restored.
    void PowerCycle();

    // Settings, as if configured in the receiver.
    void SetBaudRate(std::uint32_t rate);
    void SetNmeaFlags(std::uint32_t flags) { SetOption(&SimOptions::nmeaFlags, flags); }
    void SetBinaryFlags(std::uint32_t flags) { SetOption(&SimOptions::binaryFlags, flags); }
    // 1 or 5; any other rate is not taken.
    void SetNavRate(std::uint8_t rate);
    void SetVersion(const SimVersion& version, const SimVersion& newVersion);

    // Faults.
    void SetDead(bool dead) { SetOption(&SimOptions::dead, dead); }
    void SetEcho(bool echo) { SetOption(&SimOptions::echo, echo); }
    void SetNoise(bool noise) { SetOption(&SimOptions::noise, noise); }
    void SetNoPrompt(bool noPrompt) { SetOption(&SimOptions::noPrompt, noPrompt); }
    // Drops the acknowledgement of record `record` (from 1, counted since the erase) once,
    // or every time; 0 drops none. A record whose acknowledgement is dropped is not kept.
    void SetDropAck(std::uint32_t record, bool always);
    void SetAckDelay(std::uint32_t ms) { SetOption(&SimOptions::ackDelayMs, ms); }
    // The loader's acknowledgement text instead of "OK" (a wrong one such as "ok").
    void SetAckText(const std::string& text) { SetOption(&SimOptions::ackText, text); }
    void SetEngineFailure(bool fail) { SetOption(&SimOptions::engineFailure, fail); }
    void SetWaasAvailable(bool available) { SetOption(&SimOptions::waasAvailable, available); }
    void SetOtherTalkers(bool on) { SetOption(&SimOptions::otherTalkers, on); }
    void SetOtherBinary(bool on) { SetOption(&SimOptions::otherBinary, on); }
    void SetFillLine(bool on) { SetOption(&SimOptions::fillLine, on); }
    // Any option, as SimCore::Configure takes it; runs under the receiver's lock. The
    // baud rate and the dropped acknowledgement need their setters above.
    void Configure(const std::function<void(SimOptions&)>& change);

    // Puts bytes on the line as they are, after what is already waiting.
    void SendRaw(const std::vector<std::uint8_t>& bytes);

    SimStatus Status() const;
    // What the receiver took in, in order (sim/Simjournal.h SimEvent).
    std::vector<SimEvent> Events() const;
    void ClearEvents();
    // The frames and text lines among Events(), for the common checks.
    std::vector<std::vector<std::uint8_t>> ReceivedFrames() const;
    std::vector<std::string> ReceivedTexts() const;
    // The records the loader holds (since its last erase), in order.
    std::vector<SimRecord> Records() const;

    // Keeps a copy of every byte that goes out on the line (as the receiver meant it,
    // before any garbling), up to a few megabytes, for tests that check what the
    // program showed against what was sent.
    void SetCaptureOutput(bool on);
    std::vector<std::uint8_t> CapturedOutput() const;
    void ClearCapturedOutput();

    // Waits until the predicate holds for the receiver's status, or the time runs out.
    bool WaitUntil(const std::function<bool(const SimStatus&)>& predicate,
                   std::chrono::milliseconds timeout) const;

    // Where descriptions of what is received and done go (with verbose on). Called on
    // the receiver's thread.
    void SetLogSink(std::function<void(const std::string&)> sink);

private:
    // One option, as Configure sets it.
    template <typename Field, typename Value> void SetOption(Field field, const Value& value) {
        Configure([&](SimOptions& o) { o.*field = value; });
    }

    void Run();
    void Wake();
    void NotePcRate(SimTime now);
    void TakeIn(const std::uint8_t* data, std::size_t n, SimTime now);
    void TransmitDue(SimTime now);
    void WriteLine(const std::uint8_t* data, std::size_t n);
    SimStatus StatusLocked() const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SimCore core_;
    SimPty pty_;
    SimPcRates pcRates_{pty_};
    SimPacer pacer_;
    std::thread thread_;
    bool running_ = false;
    bool stop_ = false;
    int lastError_ = 0;
    bool hungUp_ = true; // no one holds the slave open
    std::vector<std::uint8_t> garbled_;
    bool capture_ = false;
    std::vector<std::uint8_t> captured_;

    std::mutex sinkMutex_;
    std::function<void(const std::string&)> sink_;
};
