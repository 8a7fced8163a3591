#pragma once
// The software loading sequence: how new software reaches the receiver's GPS engine.
//
// The receiver has a small loader of its own that talks plain text at 19200 baud. It
// is woken by "LOADSTAR\r" sent at the rate the receiver is at; from then on it
// answers at 19200 with a prompt ">". Commands ("Ver\r", "Mfg\r", "On\r", "ERASE\r",
// "RESET\r") and records go out as raw bytes, with no framing. "On\r", "ERASE\r" and
// every record are acknowledged by the line "OK" CR LF followed by the prompt;
// "Ver\r" and "Mfg\r" get a text line and the prompt, so only the prompt is awaited
// after them. A record is ";" followed by the bytes of one line of the software file.
//
// The sequence runs on the user-interface thread, driven by the Load Software window's
// 1 ms timer: each tick makes a few passes, and each pass acts on the state and then
// reads at most one byte from the port (waiting up to 10 ms). One pass per tick while
// the commands go out, five once the records flow. Waits are counted in whole seconds
// of the calendar clock: a wait of N seconds has failed once the clock has passed
// Now + N, so it lasts between N and N + 1 seconds. Two waits block the thread
// outright: 2 s after the first "\r" (the line settles, then whatever the receiver
// still had to say is drained) and 4 s after "RESET\r".
//
// A record that is not acknowledged in time is sent once more; a second miss, a
// missed acknowledgement of a command or a prompt that does not come in time ends the
// load with "Timeout on Ack" and then "Timeout". An acknowledgement counts only for
// the sending it follows: when a record needed a second sending, the first sending's
// "OK" may still come late, and the one that did not acknowledge the record then
// arrives behind it. So after the prompt that follows such a record, whatever comes
// is discarded until the line has been quiet for a whole second (six at most), and
// only then does the next record go out, so the stray "OK" is not taken for the
// acknowledgement of a record it never answered.
//
// A line that hangs up (the adapter pulled out: the port's read fails at once rather
// than at the end of its wait) ends the load there and then as a failed load, with the
// same "Timeout on Ack" and "Timeout"; the blocking waits and the drain watch the line
// too, so no deadline is waited out on a device that is gone.
//
// A load that gets through the file ends with "RESET\r", "Finished" and, a little
// later, "Checking GPS Engine"; the engine's own progress then shows in the
// receiver's Configuration reports, which the window follows (loader/Afterload.h).
//
// What reaches the receiver's flash must be exactly the file. So the whole file is
// read and checked when the load is asked for: a file the reader refuses (an
// over-long line, a line shorter than a line end, a read failure), one far larger
// than any receiver software, or one without a single record (its load would erase
// the flash and write nothing, yet end as "Finished") is refused with "Error opening
// file" before a single byte goes out, and the records are sent from what was read then, so a file
// changed or cut short on disk during a load cannot slip a partial image through
// as a finished load.
//
// The reply line holds 100 bytes with its terminator. Characters that do not fit
// are dropped until the line feed, so a receiver that never ends its line cannot
// write past it; such a line is never taken for an acknowledgement.
//
// The window supplies the effects that belong to it through hooks: showing a status
// text, reopening the port at another rate, and the common end of a load.

#include "base/Clock.h"
#include "loader/Softwarefile.h"
#include "serial/Serialport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// States of the sequence. The numbers are the ones the sequence has always used;
// the gaps are states that do not occur.
enum class LoadStateCode : std::int32_t {
    Idle = 0,        // no load runs
    Start = 1,       // "\r", settle for 2 s, drain the port
    WakeLoader = 2,  // "LOADSTAR\r", then to 19200 if the port was at another rate
    AwaitPrompt = 3, // the prompt ends the wait; then the next command, or records
    AwaitOk = 4,     // "OK" CR LF acknowledges a command or a record
    AwaitQuiet = 5,  // after a record sent twice: discard until the line is quiet
    NextRecord = 7,  // send the next record, or "RESET\r" at the end of the file
    Resend = 8,      // send the unacknowledged record a second time
    Failed = 9,      // "Timeout", then the end of the load
    AfterReset = 11, // let the receiver restart, then the end of the load
};

// How the last load ended.
enum class LoadOutcome : std::uint8_t {
    None,      // no load has ended since the sequence was made, or one runs
    Completed, // through the file and "RESET\r": "Finished", then "Checking GPS Engine"
    Failed,    // a wait ran out or the line hung up: "Timeout"
    Cancelled, // ended from outside (Finish) while it ran
};

// What the current acknowledgement wait follows.
enum class AwaitedSendCode : std::uint8_t {
    Command,
    FirstSending,
    SecondSending,
};

class LoadSequence {
public:
    // Effects that the window provides. Every hook may be left empty.
    struct Hooks {
        // A status text for the window's status line.
        std::function<void(const char* text)> ShowStatus;
        // Close the port if open and open it again at the rate; the sequence goes on
        // whatever the outcome (the window reports a failure in the status line).
        std::function<void(std::uint32_t baudRate)> ReopenPort;
        // The common end of every load, completed or not: the window restores the
        // port's rate, its own controls and the main window, and calls Finish.
        std::function<void()> EndLoad;
        // Sleeps between clock readings of the two blocking waits. Empty: the thread
        // sleeps for the given milliseconds.
        std::function<void(int milliseconds)> Pause;
    };

    // Sizes of the buffers the receiver's replies and the file's lines go through.
    static constexpr std::size_t kReplyLineSize = 100;
    // A file larger than this cannot be receiver software (a 16 MiB file of records
    // would carry 8 MiB of data) and is refused rather than read into memory.
    static constexpr long kMaxFileBytes = 16L * 1024 * 1024;
    // The drain after the first "\r" stops after this many bytes even if the receiver
    // keeps talking, so a port that never falls silent cannot hold the thread.
    static constexpr int kDrainLimit = 8192;

    LoadSequence(SerialPort& port, Clock& clock);
    LoadSequence(const LoadSequence&) = delete;
    LoadSequence& operator=(const LoadSequence&) = delete;

    void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }
    // The calendar clock the waits are counted on (tests use a FakeClock).
    void SetClock(Clock& clock) { clock_ = &clock; }

    // Reads and checks the whole software file. On failure shows "Error opening file",
    // keeps nothing of the file and answers false; no load may start then. A file that
    // holds no record at all is refused too: loading it would only erase the receiver.
    bool OpenSoftwareFile(const std::string& fileName);
    // Why the last OpenSoftwareFile refused its file ("it holds no record"), or empty.
    const std::string& FileRefusalText() const { return FileRefusal; }
    // Starts the load of the file opened last: state 1 on the next tick. savedBaudRate
    // is the port's rate now; the loader dialogue itself always runs at 19200.
    void Start(std::uint32_t savedBaudRate);
    // One tick of the window's timer. Does nothing while no load runs.
    void TimerTimer();
    // Back to idle and the file's records released. Harmless when idle; the window's
    // end of a load calls it. A load still running then counts as cancelled.
    void Finish();

    bool Running() const { return LoadState != LoadStateCode::Idle; }
    LoadStateCode State() const { return LoadState; }
    AwaitedSendCode Awaited() const { return AwaitedSend; }
    // -4 to -1 while the commands go out, then the number of the last record sent.
    std::int32_t CurrentStep() const { return Step; }
    std::uint32_t SavedRate() const { return SavedBaudRate; }
    // The text received since the last command, zero-terminated (a completed line
    // keeps its line feed).
    const char* Reply() const { return ReplyLine; }
    bool Prompt() const { return PromptSeen; }
    // Records of the file opened last (0 once the load has ended).
    std::size_t RecordCount() const { return RecordEnds.size(); }
    // How the last load ended; and whether the line hung up during it (the device is
    // gone, so the port cannot be reopened on it).
    LoadOutcome Outcome() const { return Ended; }
    bool LineGone() const { return LineLost; }

    // The loader dialogue runs at this rate whatever the rate of the port before.
    static constexpr std::uint32_t kLoaderBaudRate = 19200;

private:
    bool Act();
    void TakeByte(std::uint8_t byte);
    void ClearReply();
    bool BlockingWait(int seconds);
    bool Drain();
    bool ReadFromLine(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                      std::uint32_t waitMs);
    void EndAsFailed();
    void Send(const char* text);
    bool TakeNextRecord();
    void SendRecord();
    void ShowStatus(const char* text);
    bool ReplyIsOk() const;

    SerialPort& port_;
    Clock* clock_;
    Hooks hooks_;

    LoadStateCode LoadState = LoadStateCode::Idle;
    AwaitedSendCode AwaitedSend = AwaitedSendCode::Command;
    std::int32_t Step = 0;
    std::int64_t Now = 0;
    std::int64_t Deadline = 0;
    SoftwareRecord RecordBuffer;
    std::int16_t RecordLength = 0;
    char ReplyLine[kReplyLineSize] = {};
    std::int16_t ReplyLength = 0;
    bool PromptSeen = false;
    std::uint8_t ReceivedByte = 0;
    std::uint32_t SavedBaudRate = 0;
    std::int64_t QuietUntil = 0; // AwaitQuiet goes on regardless after this second
    LoadOutcome Ended = LoadOutcome::None;
    bool LineLost = false;

    // The file's records, one after another, and where each ends in RecordBytes.
    std::vector<std::uint8_t> RecordBytes;
    std::vector<std::uint32_t> RecordEnds;
    std::size_t NextRecordIndex = 0;
    std::string FileRefusal;
};
