#pragma once
// One load of new software, from the check of its file to the end of the after-load
// dialogue, the same wherever it is shown: the Load Software window and kestrane-cli
// are two views of this one session.
//
// The session runs the loading sequence (loader/Loadsequence.h) on the port manager's
// port, reopens the port at the loader's rate and back on the device in use
// (PortDeviceName), ends every load exactly once, and follows the GPS engine through
// the Configuration reports it is given, with the after-load dialogue
// (loader/Afterload.h) deciding what each report shows and which Output configuration
// goes back to the receiver.
//
// The end of a load, completed, timed out, hung up or cancelled, is always the same:
// the sequence is finished, the view gets its controls back, the port returns to the
// rate it had before the load (or is left closed when its device went away), the
// receiver's outputs are put back with SYS on in addition so that the engine's status
// keeps coming, and its Configuration report is asked for.
//
// What belongs to a view, and only to it: where status texts appear, what is enabled
// while a load runs, which rate the Output configurations carry, and what is said when
// the port could not be restored. Standard C++ only.

#include "base/Clock.h"
#include "loader/Afterload.h"
#include "loader/Loadend.h"
#include "loader/Loadsequence.h"
#include "serial/Serialport.h"

#include <cstdint>
#include <functional>
#include <string>

inline constexpr const char* kFixedRateLoadText =
    "Not on a port whose rate is fixed by its server (tcp://): use rfc2217://";

// Where a load session shows itself.
class LoadView {
public:
    // A status text of the sequence ("Started", "Sending Record 5", "Timeout", ...).
    virtual void ShowStatus(const char* text) = 0;
    // A status text the engine's reports led to ("Downloading to GPS Engine", ...). The
    // same report comes again every second while SYS is on; a view may show a repeat
    // or not.
    virtual void ShowEngineStatus(const char* text) = 0;
    // A load has started: the view hands the port over (nothing else may read or write
    // it until LoadEnded).
    virtual void LoadStarted() = 0;
    // The load has ended; the port is about to be restored.
    virtual void LoadEnded() = 0;
    // The port after the load (LoadPortEnd::Closed: its device went away).
    virtual void PortRestored(LoadPortEnd end) = 0;
    // The baud rate that Output configurations carry.
    virtual std::uint32_t OutputsRate() const = 0;

protected:
    ~LoadView() = default;
};

class LoadSession {
public:
    LoadSession(SerialPort& port, Clock& clock, LoadView& view);
    LoadSession(const LoadSession&) = delete;
    LoadSession& operator=(const LoadSession&) = delete;

    // The clock of the sequence's waits; pause, if given, replaces the sleeps between
    // clock readings of its two blocking waits (tests move a fake clock on there).
    void SetClock(Clock& clock, std::function<void(int milliseconds)> pause = {});

    // Reads and checks the whole software file; on refusal the view shows "Error
    // opening file" and FileRefusalText says why. Nothing is sent either way.
    bool OpenFile(const std::string& fileName);
    const std::string& FileRefusalText() const { return sequence_.FileRefusalText(); }
    std::size_t RecordCount() const { return sequence_.RecordCount(); }

    // Starts the load of the file opened last. savedBaudRate is the port's rate now,
    // to which the end of the load returns it. The outputs the receiver reported last
    // are what the end of the load puts back. A port whose rate is fixed by its server
    // (tcp://) cannot follow the loader to its rate and back, nor carry the rate the end
    // of the load sends: false, after the view has shown kFixedRateLoadText, and nothing
    // is sent.
    bool Begin(std::uint32_t savedBaudRate);
    // One tick of the view's load timer (1 ms while a load runs).
    void Tick() { sequence_.TimerTimer(); }
    // Ends a running load from outside: "Cancelled", then the end of the load.
    void Cancel();
    // The common end of every load; does nothing when no load runs.
    void EndLoad();

    // A Configuration report has come in: the engine's status is shown, and the Output
    // configuration the after-load dialogue asks for is written.
    void OnReport(const ConfigurationReport& report);
    // The view is left before the after-load dialogue has put the receiver's outputs
    // back (a program that ends without following the engine): they are put back now,
    // as they were before the load. False when nothing was owed.
    bool PutOutputsBackNow();
    // The view is shown afresh: no power cycle is asked for any more.
    void Restart() { afterLoad_.Restart(); }
    // Request pressed: asks for the Configuration report (and, after "Cycle Power Now",
    // the next idle report gives "Done").
    void RequestPressed();
    // The Output request for the Configuration report.
    void RequestStatus();
    // Closes the port if open and opens the device in use (PortDeviceName) at rate; a
    // failure shows "Error Changing Baud Rate", and a running load goes on regardless.
    void ReopenPort(std::uint32_t rate);

    bool Running() const { return active_; }
    // Whether every record and "RESET\r" have gone out ("Finished" shown) and the load
    // only waits for the receiver to restart.
    bool Finishing() const { return sequence_.State() == LoadStateCode::AfterReset; }
    LoadOutcome Outcome() const { return outcome_; }
    const LoadSequence& Sequence() const { return sequence_; }
    AfterLoadDialogue& AfterLoad() { return afterLoad_; }

private:
    void InstallHooks(std::function<void(int milliseconds)> pause);

    SerialPort& port_;
    LoadView& view_;
    LoadSequence sequence_;
    AfterLoadDialogue afterLoad_;
    bool active_ = false;
    LoadOutcome outcome_ = LoadOutcome::None;
};
