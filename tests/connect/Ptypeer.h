#pragma once
// A minimal peer on the master side of a test's pseudo-terminal: it can stay silent, act
// as a receiver that answers an Output request for the Configuration report, or send
// NMEA only, in the last two cases only while the PC side has set the line to the peer's
// own rate.

#include "proto/Diagproto.h"
#include "proto/Memoutils.h"
#include "tests/common/Pty.h"

#include <cstdint>
#include <vector>

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
