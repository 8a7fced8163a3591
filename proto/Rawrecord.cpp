#include "proto/Rawrecord.h"

#include <cerrno>
#include <cstring>

RawRecorder::~RawRecorder() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool RawRecorder::Start(const std::string& path, std::string& error) {
    Stop();
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error =
            "Error opening raw recording " + path + ": " + std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    file_ = file;
    path_ = path;
    written_ = 0;
    error_ = 0;
    failureTaken_ = true;
    return true;
}

void RawRecorder::Write(const std::uint8_t* data, std::size_t length) {
    if (file_ == nullptr || length == 0) {
        return;
    }
    errno = 0;
    const std::size_t n = std::fwrite(data, 1, length, file_);
    if (n != length || std::fflush(file_) != 0) {
        Fail(errno != 0 ? errno : EIO);
        return;
    }
    written_ += n;
}

void RawRecorder::Stop() {
    if (file_ == nullptr) {
        return;
    }
    errno = 0;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0) {
        error_ = errno != 0 ? errno : EIO;
        failureTaken_ = false;
    }
}

void RawRecorder::Fail(int err) {
    // What the stream still holds could not be written either: it is dropped with the
    // file, whose close is not asked to try again.
    std::fclose(file_);
    file_ = nullptr;
    error_ = err;
    failureTaken_ = false;
}

bool RawRecorder::TakeFailure(std::string& message) {
    if (failureTaken_) {
        return false;
    }
    failureTaken_ = true;
    message = "Error writing raw recording " + path_ + ": " + std::strerror(error_) +
              "; the recording has stopped.";
    return true;
}
