#pragma once
// Pseudo-terminals for the connection tests, and a minimal peer on the master side of
// one: it can stay silent, act as a receiver that answers an Output request for the
// Configuration report, or send NMEA only, in the last two cases only while the PC side
// has set the line to the peer's own rate.

#include "proto/Diagproto.h"
#include "proto/Memoutils.h"

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
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            const char* name = ptsname(master_);
            if (name != nullptr)
                path_ = name;
        }
    }
    ~Pty() {
        if (master_ >= 0)
            close(master_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    int master() const { return master_; }
    const std::string& path() const { return path_; }

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

    // Everything the PC side has written and this side not yet read (waits up to waitMs
    // for a first byte).
    std::vector<std::uint8_t> ReadAll(int waitMs = 0) {
        std::vector<std::uint8_t> out;
        pollfd p{master_, POLLIN, 0};
        if (waitMs > 0)
            poll(&p, 1, waitMs);
        std::uint8_t buf[512];
        for (;;) {
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    void Write(const std::uint8_t* data, std::size_t n) {
        while (n > 0) {
            const ssize_t w = write(master_, data, n);
            if (w <= 0)
                return;
            data += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    void Write(const std::string& s) {
        Write(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    }

private:
    int master_ = -1;
    std::string path_;
};

// A Configuration report frame with the given NMEA flags and navigation rate.
inline std::vector<std::uint8_t> ConfigurationReportFrame(std::uint32_t nmeaFlags = 0x1F,
                                                          std::uint8_t navRate = 1) {
    std::uint8_t payload[kCfgSuffixPayloadLen] = {};
    payload[kCfgVersionMajor] = 2;
    payload[kCfgVersionMinor] = 2;
    PutLE32(payload + kCfgNmeaFlags, nmeaFlags);
    payload[kCfgNavRate] = navRate;
    std::uint8_t frame[kMaxFrameLen];
    const std::uint8_t n = BuildMsg(kMsgConfigReport, payload, sizeof payload, frame);
    return {frame, frame + n};
}

class PeerOnPty {
public:
    // Receiver answers requests; Nmea ignores them and sends a $GP sentence at every Serve.
    enum class Mode { Silent, Receiver, Nmea };

    PeerOnPty(Pty& pty, Mode mode, std::uint32_t rate = 19200)
        : pty_(pty), mode_(mode), rate_(rate) {}

    // Takes in what the PC side sent and answers as the mode says.
    void Serve() {
        const std::vector<std::uint8_t> in = pty_.ReadAll();
        received_.insert(received_.end(), in.begin(), in.end());
        switch (mode_) {
        case Mode::Silent:
            return;
        case Mode::Receiver:
            if (pty_.LineRate() != rate_)
                return; // a mismatched line: nothing understood
            for (std::uint8_t b : in) {
                if (!framer_.ProcessByte(b))
                    continue;
                const std::uint8_t* f = framer_.GetMsg();
                if (f[kFrameIdOffset] == kMsgOutputRequest && framer_.GetMsgLen() == 11 &&
                    f[kPayloadOffset] == kMsgConfigReport) {
                    const auto report = ConfigurationReportFrame();
                    pty_.Write(report.data(), report.size());
                    ++answered_;
                }
            }
            return;
        case Mode::Nmea:
            if (pty_.LineRate() == rate_)
                pty_.Write("$GPZDA,120000.00,01,01,2024,00,00*6C\r\n");
            return;
        }
    }

    const std::vector<std::uint8_t>& received() const { return received_; }
    int answered() const { return answered_; }

private:
    Pty& pty_;
    Mode mode_;
    std::uint32_t rate_;
    DiagProto framer_;
    std::vector<std::uint8_t> received_;
    int answered_ = 0;
};
