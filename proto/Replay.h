#pragma once
// Replaying a recording through the receive path: the file stands where the receiver's
// line would (SerialPort::OpenSource), so the memo, the log, the status window and the
// command-line monitor see it exactly as they would see the receiver.
//
// A recording is any of: a raw recording (every byte the port delivered, frames
// included, as the program's raw recorder writes it); one of the program's sentence
// logs (sentences, each ended by CR LF); or a capture as other tools write them
// (sentences ended by LF alone, CR LF or LF CR, lines of other talkers, comment lines).
// In a text file (one whose first 64 KiB hold no frame of the receiver and almost only
// printable text), lines ended by LF alone or by LF CR are given CR LF, so the line
// framer takes them; every other byte, and every byte of any other file, is given out as
// it stands. The file is read in blocks as it is given out, never whole. A file that
// holds no sentence and no frame of the receiver in its first 64 KiB is not a recording.
//
// Pace. At speed 1 the sentences come at the pace of their own UTC times (GGA, RMC,
// ZDA of any talker, when the sentence is whole and its checksum right): each new time
// holds the bytes from its sentence on until the clock has moved by the difference from
// the previous time, divided by the speed. A time a little after midnight following one
// a little before it is the next day's (a step of at most 12 hours forward); any other
// step back in time (another day, a new recording appended) is taken as no wait, and a
// step forward by more than kLongestWaitMs (a gap in the recording) waits kLongestWaitMs.
// Speed 0 gives every byte at once: as fast as the reader takes it. Pausing holds
// everything; resuming goes on from where it was, without catching up.

#include "base/Clock.h"
#include "serial/Bytesource.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class ReplayFile : public ByteSource {
public:
    // The longest a replay waits for a sentence's time at speed 1.
    static constexpr std::int64_t kLongestWaitMs = 10'000;

    ~ReplayFile() override;

    // Opens path and checks that it is a recording. nullptr, with a message for the
    // user in error ("FILE is not a recording: ..."), otherwise.
    static std::unique_ptr<ReplayFile> Open(const std::string& path, Clock& clock,
                                            std::string& error);

    // 1 the recording's own pace, 2 twice as fast, ...; 0 as fast as possible.
    void SetSpeed(double speed);
    double Speed() const;
    void SetPaused(bool paused);
    bool Paused() const;
    // Every byte of the file has been given out.
    bool Finished() const;
    // Bytes of the file given out so far, and the file's size.
    std::uint64_t Position() const;
    std::uint64_t Size() const;
    const std::string& Path() const;

    bool Read(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
              std::string& error) override;

private:
    ReplayFile();
    struct State;
    std::unique_ptr<State> state_;
};
