#pragma once
// A pseudo-terminal for the loader tests: the program's SerialPort opens the slave by
// its path, the test plays the receiver on the master side.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class TestPty {
public:
    TestPty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        const char* name = ptsname(master_);
        slaveName_ = name != nullptr ? name : "";
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~TestPty() {
        if (master_ >= 0) {
            close(master_);
        }
    }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    // Closes the master side: the slave's holder sees the line hang up.
    void HangUp() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

    bool Ok() const { return master_ >= 0 && !slaveName_.empty(); }
    const std::string& SlaveName() const { return slaveName_; }

    // What the slave side has written so far and the master has not read; never waits.
    std::string ReadAvailable() {
        std::string out;
        char buffer[4096];
        for (; master_ >= 0;) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                break; // nothing more, or no slave open (EIO)
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

    void Write(const std::string& bytes) {
        std::size_t done = 0;
        while (master_ >= 0 && done < bytes.size()) {
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }

private:
    int master_ = -1;
    std::string slaveName_;
};
