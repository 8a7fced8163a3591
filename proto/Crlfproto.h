#pragma once
// Framer of text lines: any bytes ending in CR LF, at most 1200 bytes with the CR LF.
// GetMsg gives the line with its CR LF; GetMsgLen its length including them. The work
// is done by FrameLineByte (proto/Memoutils.h).

#include "proto/Memoutils.h"
#include "proto/Serialproto.h"

#include <cstdint>

class CRLFProto final : public SerialProto {
public:
    static constexpr std::uint16_t kBufferSize = 1200;

    CRLFProto();

    bool ProcessByte(std::uint8_t byte) override {
        return FrameLineByte(byte, state_, buffer_, kBufferSize) == kLineComplete;
    }
    void Reset() override;
    unsigned CopyMsg(std::uint8_t* dest, unsigned maxCount) override;
    const std::uint8_t* GetMsg() const override { return buffer_; }
    std::uint16_t GetMsgLen() const override { return state_.count; }

private:
    LineFrameState state_;
    std::uint8_t buffer_[kBufferSize] = {};
};
