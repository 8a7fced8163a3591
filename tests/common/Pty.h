#pragma once
// A pseudo-terminal for the tests: the program's SerialPort (or the program itself) opens
// the slave side by its path as it would a serial device; the test holds the master side
// and plays the receiver, or whatever else is at the far end of the line, there. Closing
// the master is the line going away.
//
// The master side never blocks: a read takes what the line holds (or waits as long as it
// is told), a write what the line takes. POSIX only.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) == 0)
            path_ = name;
    }
    ~Pty() { HangUp(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    // The slave side's device path.
    const std::string& path() const { return path_; }
    int master() const { return master_; }

    // Closes the master side: whoever holds the slave sees the line hang up.
    void HangUp() {
        if (master_ >= 0)
            close(master_);
        master_ = -1;
    }

    // The slave's line settings as the master side sees them.
    termios Settings() const {
        termios settings{};
        EXPECT_EQ(tcgetattr(master_, &settings), 0);
        return settings;
    }

    // The rate the PC side has set on the line, in bits per second (0 if unknown).
    std::uint32_t LineRate() const {
        termios tio{};
        if (tcgetattr(master_, &tio) != 0)
            return 0;
        switch (cfgetospeed(&tio)) {
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
        }
    }

    // Everything the slave side has written and this side not yet read (waits up to
    // waitMs for a first byte), as bytes or as text.
    std::vector<std::uint8_t> ReadAll(int waitMs = 0) {
        std::vector<std::uint8_t> out;
        if (master_ < 0)
            return out;
        if (waitMs > 0) {
            pollfd p{master_, POLLIN, 0};
            poll(&p, 1, waitMs);
        }
        std::uint8_t buffer[4096];
        for (;;) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break; // nothing more, or no slave open (EIO)
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    std::string ReadAllText(int waitMs = 0) {
        const std::vector<std::uint8_t> bytes = ReadAll(waitMs);
        return std::string(bytes.begin(), bytes.end());
    }

    // Reads until want bytes came or timeout passed.
    std::string Receive(std::size_t want,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < want) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd entry{master_, POLLIN, 0};
            if (poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = read(master_, buffer, std::min(sizeof buffer, want - got.size()));
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Writes as much as the line takes, and stops where it takes no more.
    void Write(const std::uint8_t* data, std::size_t n) {
        while (master_ >= 0 && n > 0) {
            const ssize_t w = write(master_, data, n);
            if (w <= 0)
                return;
            data += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    void Write(const std::string& bytes) {
        Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }

    // Writes bytes in one go; the test fails unless the line took them all.
    void Send(const std::string& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

private:
    int master_ = -1;
    std::string path_;
};
