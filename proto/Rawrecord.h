#pragma once
// Recording every byte the port receives, frames and all, as it arrives: a raw recording,
// which a replay (proto/Replay.h) gives back exactly as the port gave it.
//
// The recording is flushed with every block written, so a file read while it grows, or
// left behind by a program that was killed, holds everything received up to then. A
// write that fails (a full disk, a removed medium) stops the recording and keeps why;
// reception goes on, and the failure is handed out once for the user to be told.
// Nothing here throws.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class RawRecorder {
public:
    RawRecorder() = default;
    ~RawRecorder();
    RawRecorder(const RawRecorder&) = delete;
    RawRecorder& operator=(const RawRecorder&) = delete;

    // Creates path, or empties it when it exists, and records into it from now on (a
    // recording in progress is stopped first). False with a message for the user in
    // error when it cannot be created.
    bool Start(const std::string& path, std::string& error);
    // Appends what was received; nothing while not recording.
    void Write(const std::uint8_t* data, std::size_t length);
    // Closes the file. A failure to close it is a failure like a failed write.
    void Stop();

    bool Recording() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }
    std::uint64_t BytesWritten() const { return written_; }

    // The message of a failure that stopped the recording ("Error writing raw recording
    // FILE: reason; the recording has stopped."), handed out once: true the first time it
    // is asked after the failure, false otherwise.
    bool TakeFailure(std::string& message);
    // The error number of the latest failure, or 0.
    int Error() const { return error_; }

private:
    void Fail(int err);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::uint64_t written_ = 0;
    int error_ = 0;
    bool failureTaken_ = true;
};
