#include "loader/Loadsequence.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// Passes per tick: the commands go one pass at a time, the records five.
constexpr int kCommandPasses = 1;
constexpr int kRecordPasses = 5;
// How long each pass waits for a byte, and each read of the drain.
constexpr std::uint32_t kPassReadMs = 10;
constexpr std::uint32_t kDrainReadMs = 100;
// Clock readings of a blocking wait are this far apart; between them the line is
// looked at, waiting this long for what it brings.
constexpr int kBlockingWaitPollMs = 20;
constexpr std::uint32_t kBlockingWaitReadMs = 2;

// Seconds the receiver is given for each answer.
constexpr int kSettleSeconds = 2;        // after the first "\r" (blocking)
constexpr int kWakeSeconds = 10;         // prompt after "LOADSTAR\r"
constexpr int kVerMfgSeconds = 4;        // prompt after "Ver\r" and "Mfg\r"
constexpr int kOnSeconds = 10;           // "OK" after "On\r"
constexpr int kEraseSeconds = 12;        // "OK" after "ERASE\r" (the flash is erased)
constexpr int kPromptAfterOkSeconds = 4; // prompt after an "OK"
constexpr int kRecordSeconds = 6;        // "OK" after a record
constexpr int kResetSeconds = 4;         // after "RESET\r" (blocking)
constexpr int kRestartSeconds = 2;       // then, before the engine is asked for its state
constexpr int kQuietSeconds = 1;         // of silence after a record that was sent twice

// Steps while the commands go out, each naming the command to send at the next prompt.
constexpr std::int32_t kStepVer = -4;
constexpr std::int32_t kStepMfg = -3;
constexpr std::int32_t kStepOn = -2;
constexpr std::int32_t kStepErase = -1;

} // namespace

LoadSequence::LoadSequence(SerialPort& port, Clock& clock) : port_(port), clock_(&clock) {}

bool LoadSequence::OpenSoftwareFile(const std::string& fileName) {
    RecordBytes.clear();
    RecordEnds.clear();
    NextRecordIndex = 0;
    FileRefusal.clear();

    errno = 0;
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (file == nullptr) {
        FileRefusal = std::string("it cannot be opened: ") + std::strerror(errno != 0 ? errno : ENOENT);
    } else {
        // Refuse what is far too large for receiver software before reading it.
        long size = -1;
        if (std::fseek(file, 0, SEEK_END) == 0) {
            size = std::ftell(file);
        }
        if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
            FileRefusal = "it cannot be read";
        } else if (size > kMaxFileBytes) {
            FileRefusal = "it is larger than any receiver software (over 16 MiB)";
        }
    }
    RecordLine line;
    SoftwareRecord record;
    while (FileRefusal.empty()) {
        const LineRead got = ReadRecordLine(file, line);
        if (got == LineRead::EndOfFile) {
            break;
        }
        const std::uint8_t length = got == LineRead::Line ? RecordFromLine(line.View(), record) : 0;
        if (length == 0) {
            FileRefusal = std::ferror(file) ? std::string("it cannot be read")
                                            : "line " + std::to_string(RecordEnds.size() + 1) +
                                                  " cannot be sent as it stands (over 199 "
                                                  "characters, over 196 digits, or no record)";
            break;
        }
        RecordBytes.insert(RecordBytes.end(), record.bytes, record.bytes + length);
        RecordEnds.push_back(static_cast<std::uint32_t>(RecordBytes.size()));
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    // A file without a single record would have the receiver's flash erased and
    // nothing written to it, and the load would still end as "Finished".
    if (FileRefusal.empty() && RecordEnds.empty()) {
        FileRefusal = "it holds no record";
    }
    if (!FileRefusal.empty()) {
        RecordBytes.clear();
        RecordEnds.clear();
        ShowStatus("Error opening file");
        return false;
    }
    return true;
}

void LoadSequence::Start(std::uint32_t savedBaudRate) {
    NextRecordIndex = 0;
    LoadState = LoadStateCode::Start;
    PromptSeen = false;
    SavedBaudRate = savedBaudRate;
    Ended = LoadOutcome::None;
    LineLost = false;
}

void LoadSequence::Finish() {
    if (LoadState != LoadStateCode::Idle && Ended == LoadOutcome::None) {
        Ended = LoadOutcome::Cancelled;
    }
    LoadState = LoadStateCode::Idle;
    RecordBytes.clear();
    RecordBytes.shrink_to_fit();
    RecordEnds.clear();
    RecordEnds.shrink_to_fit();
    NextRecordIndex = 0;
}

void LoadSequence::TimerTimer() {
    if (LoadState == LoadStateCode::Idle) {
        return;
    }
    const int passes = Step < 0 ? kCommandPasses : kRecordPasses;
    for (int pass = 0; pass < passes; ++pass) {
        Now = clock_->Seconds();
        if (!Act()) {
            return;
        }
        std::uint32_t received = 0;
        if (!ReadFromLine(&ReceivedByte, 1, received, kPassReadMs)) {
            continue; // the line is gone: the next pass ends the load
        }
        if (received == 1) {
            if (LoadState == LoadStateCode::AwaitQuiet) {
                // Not yet quiet: discarded, and the second of silence starts again.
                Deadline = Now + kQuietSeconds;
            } else {
                TakeByte(ReceivedByte);
            }
        }
    }
}

// A read from the port that notices a hang-up. A read that fails for any other
// reason (with the blocking set, a wait that ran out) is a read without a byte; a
// line that has hung up ends the load as a failed one.
bool LoadSequence::ReadFromLine(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                                std::uint32_t waitMs) {
    if (port_.Read(dest, capacity, received, waitMs)) {
        return true;
    }
    received = 0;
    if (!port_.HungUp()) {
        return true;
    }
    LineLost = true;
    EndAsFailed();
    return false;
}

// A failed load: "Timeout on Ack" now, "Timeout" and the end of the load on the next
// pass. Once only, and never after the load has ended.
void LoadSequence::EndAsFailed() {
    if (LoadState == LoadStateCode::Idle || LoadState == LoadStateCode::Failed) {
        return;
    }
    ShowStatus("Timeout on Ack");
    LoadState = LoadStateCode::Failed;
}

// One step of the sequence. Answers false when the state ended the tick (the load has
// ended and the window has been told).
bool LoadSequence::Act() {
    switch (LoadState) {
    case LoadStateCode::Idle:
        return false;

    case LoadStateCode::Start:
        ShowStatus("Started");
        Send("\r");
        if (BlockingWait(kSettleSeconds) && Drain()) {
            LoadState = LoadStateCode::WakeLoader;
        }
        return true;

    case LoadStateCode::WakeLoader:
        Send("LOADSTAR\r");
        Deadline = Now + kWakeSeconds;
        LoadState = LoadStateCode::AwaitPrompt;
        ClearReply();
        // The loader answers at 19200 whatever rate woke it.
        if (SavedBaudRate != kLoaderBaudRate && hooks_.ReopenPort) {
            hooks_.ReopenPort(kLoaderBaudRate);
        }
        Step = kStepVer;
        return true;

    case LoadStateCode::AwaitPrompt:
        if (PromptSeen) {
            switch (Step) {
            case kStepVer:
                Send("Ver\r");
                Deadline = Now + kVerMfgSeconds;
                Step = kStepMfg;
                ClearReply();
                break;
            case kStepMfg:
                Send("Mfg\r");
                Deadline = Now + kVerMfgSeconds;
                Step = kStepOn;
                ClearReply();
                break;
            case kStepOn:
                Send("On\r");
                Deadline = Now + kOnSeconds;
                Step = kStepErase;
                LoadState = LoadStateCode::AwaitOk;
                AwaitedSend = AwaitedSendCode::Command;
                ClearReply();
                break;
            case kStepErase:
                Send("ERASE\r");
                Deadline = Now + kEraseSeconds;
                Step = 0;
                LoadState = LoadStateCode::AwaitOk;
                AwaitedSend = AwaitedSendCode::Command;
                ClearReply();
                break;
            default:
                if (AwaitedSend == AwaitedSendCode::SecondSending) {
                    // The first sending's "OK" may still be on its way, or have been
                    // taken for the second's: let the other one pass first.
                    LoadState = LoadStateCode::AwaitQuiet;
                    Deadline = Now + kQuietSeconds;
                    QuietUntil = Now + kRecordSeconds;
                } else {
                    LoadState = LoadStateCode::NextRecord;
                }
                break;
            }
        } else if (Now > Deadline) {
            ShowStatus("Timeout on Ack");
            LoadState = LoadStateCode::Failed;
        }
        return true;

    case LoadStateCode::AwaitOk:
        if (ReplyIsOk()) {
            LoadState = LoadStateCode::AwaitPrompt;
            Deadline = Now + kPromptAfterOkSeconds;
        } else if (Now > Deadline) {
            if (AwaitedSend == AwaitedSendCode::FirstSending) {
                LoadState = LoadStateCode::Resend;
                AwaitedSend = AwaitedSendCode::SecondSending;
            } else {
                ShowStatus("Timeout on Ack");
                LoadState = LoadStateCode::Failed;
            }
        }
        return true;

    case LoadStateCode::AwaitQuiet:
        if (Now > Deadline || Now > QuietUntil) {
            LoadState = LoadStateCode::NextRecord;
        }
        return true;

    case LoadStateCode::NextRecord:
        AwaitedSend = AwaitedSendCode::FirstSending;
        if (TakeNextRecord()) {
            ++Step;
            SendRecord();
        } else {
            Send("RESET\r");
            if (!BlockingWait(kResetSeconds)) {
                return true; // the line is gone: not "Finished"
            }
            Deadline = Now + kRestartSeconds;
            LoadState = LoadStateCode::AfterReset;
            ClearReply();
            ShowStatus("Finished");
        }
        return true;

    case LoadStateCode::Resend:
        SendRecord();
        return true;

    case LoadStateCode::Failed:
        Ended = LoadOutcome::Failed;
        ShowStatus("Timeout");
        if (hooks_.EndLoad) {
            hooks_.EndLoad();
        } else {
            Finish();
        }
        return false;

    case LoadStateCode::AfterReset:
        if (Now > Deadline) {
            LoadState = LoadStateCode::Idle;
            Ended = LoadOutcome::Completed;
            ClearReply();
            ShowStatus("Checking GPS Engine");
            if (hooks_.EndLoad) {
                hooks_.EndLoad();
            } else {
                Finish();
            }
            return false;
        }
        return true;
    }
    // A value outside the enumeration cannot be reached through this class; stop
    // rather than act on it.
    LoadState = LoadStateCode::Idle;
    return false;
}

// Sends the record in RecordBuffer (again, for a resend) and waits for its "OK".
void LoadSequence::SendRecord() {
    port_.Write(RecordBuffer.bytes, static_cast<std::uint32_t>(RecordLength));
    char text[32];
    std::snprintf(text, sizeof text, "Sending Record %d", static_cast<int>(Step));
    ShowStatus(text);
    Deadline = Now + kRecordSeconds;
    LoadState = LoadStateCode::AwaitOk;
    ClearReply();
}

// Copies the file's next record into RecordBuffer; false at the end of the file.
bool LoadSequence::TakeNextRecord() {
    if (NextRecordIndex >= RecordEnds.size()) {
        return false;
    }
    const std::uint32_t begin = NextRecordIndex == 0 ? 0 : RecordEnds[NextRecordIndex - 1];
    const std::uint32_t end = RecordEnds[NextRecordIndex];
    std::memcpy(RecordBuffer.bytes, RecordBytes.data() + begin, end - begin);
    RecordLength = static_cast<std::int16_t>(end - begin);
    ++NextRecordIndex;
    return true;
}

// One received byte: the prompt is noted, CR ignored, anything else goes into the
// reply line, which a line feed completes. The next byte after a line feed starts
// the line afresh.
void LoadSequence::TakeByte(std::uint8_t byte) {
    switch (byte) {
    case '>':
        PromptSeen = true;
        break;
    case '\r':
        break;
    case '\n':
        // ReplyLength never exceeds kReplyLineSize - 2, so the line feed and the
        // terminator always fit.
        ReplyLine[ReplyLength] = '\n';
        ReplyLine[ReplyLength + 1] = '\0';
        ReplyLength = 0;
        break;
    default:
        if (static_cast<std::size_t>(ReplyLength) < kReplyLineSize - 2) {
            ReplyLine[ReplyLength] = static_cast<char>(byte);
            ++ReplyLength;
            ReplyLine[ReplyLength] = '\0';
        }
        // Otherwise the line is full: the byte is dropped until the line feed.
        break;
    }
}

// An acknowledgement is the line "OK" and nothing else: not "ok", not "OK ".
bool LoadSequence::ReplyIsOk() const {
    return std::memcmp(ReplyLine, "OK\n", 4) == 0;
}

void LoadSequence::ClearReply() {
    PromptSeen = false;
    ReplyLength = 0;
    ReplyLine[0] = '\0';
}

// Holds the thread until the calendar clock reaches Now + seconds. The wait is bounded
// by its own length in pauses as well, so a clock set back meanwhile cannot hold the
// thread for longer than the wait was meant to last. Between clock readings the line
// is looked at: what it brings is discarded (the drain after the first wait would
// discard it, and after "RESET\r" nothing is waited for), and a hang-up ends the wait
// and the load. False when the line has gone.
bool LoadSequence::BlockingWait(int seconds) {
    Deadline = Now + seconds;
    const int maxPauses = (seconds + 1) * 1000 / kBlockingWaitPollMs;
    std::uint8_t discard[64];
    std::uint32_t received = 0;
    for (int pauses = 0; Now < Deadline && pauses < maxPauses; ++pauses) {
        if (hooks_.Pause) {
            hooks_.Pause(kBlockingWaitPollMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kBlockingWaitPollMs));
        }
        if (!ReadFromLine(discard, sizeof discard, received, kBlockingWaitReadMs)) {
            return false;
        }
        Now = clock_->Seconds();
    }
    return true;
}

// Discards what the receiver sent before the loader was woken, up to the first read
// that yields nothing. False when the line has gone.
bool LoadSequence::Drain() {
    std::uint8_t byte = 0;
    std::uint32_t received = 0;
    for (int count = 0; count < kDrainLimit; ++count) {
        if (!ReadFromLine(&byte, 1, received, kDrainReadMs)) {
            return false;
        }
        if (received == 0) {
            break;
        }
    }
    return true;
}

void LoadSequence::Send(const char* text) {
    port_.Write(reinterpret_cast<const std::uint8_t*>(text),
                static_cast<std::uint32_t>(std::strlen(text)));
}

void LoadSequence::ShowStatus(const char* text) {
    if (hooks_.ShowStatus) {
        hooks_.ShowStatus(text);
    }
}
