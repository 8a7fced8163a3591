#pragma once
// Automatic search for the receiver's serial device and baud rate.
//
// The problem: a technician often does not know on which serial device the receiver
// hangs, nor at which rate its port talks. The only way to find out is to try: open one
// combination of device and rate, ask the receiver for its Configuration report, and see
// whether its traffic arrives. A wrong rate yields garbage that no framer accepts, so
// silence and noise look the same, and the search simply moves on.
//
// Timing: the search has no timer of its own. The main window's 100 ms poll reads the
// port, counts what it understood, and calls Check() at the end of every tick. An attempt
// lasts until the calendar clock (whole seconds, read through Clock) has moved on two
// seconds from the attempt's start, that is a little over one to a little over two
// seconds of real time. Only then is the attempt judged.
//
// What counts as an answer: the main window's message count (complete binary frames and
// $GP lines) changed since the attempt began, and the last binary id is not 255. 255 is
// the id of our own request, so a line that only echoes what we send (a loopback plug)
// is never taken for the receiver. A receiver that ignores the request but sends NMEA at
// the tried rate is recognised all the same.
//
// Order: devices are the outer loop, rates the inner one (4800, 9600, 19200, 38400).
// A device on Manual is tried alone; a rate on Manual is the only rate tried. Which of
// the two is searched is asked of the host afresh at every step, so flipping the
// Auto/Manual buttons while a search runs changes how it goes on.
//
// A combination whose device cannot be opened (missing, held by another program) is
// skipped silently: no wait text changes and the previous attempt's start second stays
// in force. During a search those two seconds have usually run out, so the next tick
// moves on; when the very first attempt fails, no search takes place at all. Such an
// attempt is never judged: traffic counted before it, on another combination, must not
// declare the receiver found on a port that is not even open (Apply pressed during an
// attempt that was hearing the receiver, on a device that will not open). Every attempt
// closes the port first, so the host is told after each one, opened or not.
//
// Ends: found (the port stays open at that combination), every combination used up
// (the note "Failed to find unit."; the port stays open at the last combination that
// opened), or cancelled by the user (no note). In every case the search is stopped
// before the host is told, so ticks that run inside a modal note find it idle.
//
// The class holds the state and takes the decisions; the window that runs it gives it
// the port, the clock, the device list and, through SearchHost, what the user sees.

#include "base/Clock.h"
#include "connect/Regutils.h"
#include "serial/Serialport.h"

#include <array>
#include <cstdint>
#include <string>

// The rates offered by both connection dialogs, in the order of their combo boxes.
inline constexpr std::array<std::uint32_t, 4> kBaudRates = {4800, 9600, 19200, 38400};
inline constexpr int kDefaultBaudIndex = 2; // 19200

// How many whole calendar seconds an attempt waits for traffic.
inline constexpr std::int64_t kAttemptSeconds = 2;

// The id of the Output request; frames of this id are our own request coming back.
inline constexpr int kEchoMessageId = 0xFF;

// What the search needs from the window that runs it.
class SearchHost {
public:
    // Whether the device, and the rate, are set by hand (their Manual button is down).
    virtual bool DeviceManual() const = 0;
    virtual bool BaudManual() const = 0;
    // The main window's count of understood messages and the id of the last binary one.
    virtual std::int32_t MessageCount() const = 0;
    virtual int LastMessageId() const = 0;
    // An attempt's port has just been opened: the port manager takes device and rate,
    // the combos select the two entries, and the port panel is refreshed.
    virtual void AttemptOpened(const std::string& device, std::uint32_t rate, int deviceIndex,
                               int baudIndex) = 0;
    // An attempt's device would not open: the port is closed; the port panel is refreshed.
    virtual void AttemptNotOpened() = 0;
    // The wait dialog shows text and its Cancel ends the search.
    virtual void ShowAttempt(const std::string& text) = 0;
    // The wait dialog is hidden and its Cancel no longer bound to the search.
    virtual void HideAttempt() = 0;
    // The receiver answered at the current combination, whose rate is kBaudRates[baudIndex].
    virtual void ReceiverFound(int baudIndex) = 0;
    // Every combination was tried without an answer.
    virtual void ReceiverNotFound() = 0;

protected:
    ~SearchHost() = default;
};

class PortSearch {
public:
    enum class State : std::uint8_t {
        Idle,       // no search; Check() does nothing
        Attempting, // an attempt runs: its start second and message count are kept
        Skipping,   // the last attempt's device would not open: moves on, never judged
    };

    PortSearch(SerialPort& port, Clock& clock, const DeviceList& devices, SearchHost& host);

    // Starts (or restarts) a search at the given combination. The indexes are those
    // of the combos when their Manual button is down, else 0.
    void Start(int deviceIndex, int baudIndex);

    // One combination: opens the device at the rate, asks for the Configuration report
    // and begins the attempt. False when the device cannot be opened (or the indexes name
    // no combination): a search under way then skips it at its start second, one that
    // has not begun does not begin.
    bool StartAttempt();

    // The periodic step: judges the current attempt once its time is up and moves on.
    void Check();

    // Moves on to the next device, or ends the search when there is none.
    void AdvanceDevice();

    // Ends the search; the port is left as it is.
    void Stop();

    // The clock by which attempts are timed; set it while no search runs.
    void SetClock(Clock& clock) { clock_ = &clock; }

    State state() const { return state_; }
    bool Searching() const { return state_ != State::Idle; }
    int DeviceIndex() const { return deviceIndex_; }
    int BaudIndex() const { return baudIndex_; }
    std::int64_t AttemptStart() const { return attemptStart_; }
    std::int32_t AttemptMessageCount() const { return attemptMessageCount_; }

    // "Attempting <device> at <rate>", the text of the wait dialog.
    static std::string AttemptText(const std::string& device, std::uint32_t rate);

private:
    void NothingFound();

    SerialPort& port_;
    Clock* clock_;
    const DeviceList& devices_;
    SearchHost& host_;

    State state_ = State::Idle;
    int deviceIndex_ = 0;
    int baudIndex_ = kDefaultBaudIndex;
    std::int64_t attemptStart_ = 0;
    std::int32_t attemptMessageCount_ = 0;
};
