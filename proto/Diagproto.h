#pragma once
// Framer of the receiver's binary messages: "$", "x", id, length N, "x", "$", payload,
// CRC low byte first, CR, LF; N counts the whole frame (10 to 255 bytes). Only frames
// whose CRC checks are reported. GetMsg gives the whole frame, starting at its "$";
// GetMsgLen gives N. The work is done by FrameDiagByte (proto/Memoutils.h).

#include "proto/Memoutils.h"
#include "proto/Serialproto.h"

#include <cstdint>

class DiagProto final : public SerialProto {
public:
    static constexpr std::uint16_t kBufferSize = 4000;

    DiagProto();

    bool ProcessByte(std::uint8_t byte) override {
        return FrameDiagByte(byte, state_, buffer_, kBufferSize) == kDiagFrameComplete;
    }
    void Reset() override;
    unsigned CopyMsg(std::uint8_t* dest, unsigned maxCount) override;
    const std::uint8_t* GetMsg() const override { return buffer_; }
    std::uint16_t GetMsgLen() const override { return state_.length; }

private:
    DiagFrameState state_;
    std::uint8_t buffer_[kBufferSize] = {};
};
