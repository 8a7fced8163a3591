// Receive state machines, frame builders and report readers of the binary protocol.
//
// The problem. One serial line carries two kinds of traffic, freely interleaved: binary
// frames of a fixed layout and text lines ending in CR LF. Nothing marks where one ends
// and the other begins, and a binary frame is not escaped, so its payload and CRC may
// contain "$", "x", CR and LF. Each kind therefore has its own framer, and both are fed
// every byte. A framer must never trust what it is given: bytes may be lost, garbled or
// arrive at the wrong baud rate, a frame may be cut short by the next one, and a line
// may never end.
//
// The binary framer recognises a frame by its six header bytes "$", "x", id, N, "x",
// "$", takes the remaining N - 6 bytes on the strength of the length byte alone, and
// accepts the frame only when the CRC over its first N - 4 bytes matches and CR LF
// follow. A byte that does not fit the header sends the machine back to hunting; when
// that byte is itself a "$" it is taken as the first byte of a new frame, so a frame
// right after a stray "$" or a truncated header is not lost.
//
// The line framer stores bytes until CR LF. A CR followed by anything but LF abandons
// the line so far (that byte included); a line that fills its buffer is abandoned and
// the byte that met the full buffer is lost.
//
// Both machines keep every message at the start of the caller's buffer. After a
// message or an abandoned attempt the next byte starts again at position 0, so the
// buffer never holds more than one message and the count can never pass the capacity.

#include "proto/Memoutils.h"

#include <cmath>
#include <cstring>

namespace {

constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kLF = 0x0A;

// Restarts the frame with the "$" just stored as its first byte.
inline int RestartAtDollar(DiagFrameState& st, std::uint8_t* buffer) {
    buffer[0] = kFrameStart;
    st.count = 1;
    st.state = DiagState::AfterDollar;
    return kDiagNoFrame;
}

// The same byte broke the header: a "$" starts a new frame, anything else is dropped.
inline int HeaderBroken(std::uint8_t byte, DiagFrameState& st, std::uint8_t* buffer) {
    if (byte == kFrameStart) {
        return RestartAtDollar(st, buffer);
    }
    st.state = DiagState::Hunting;
    return kDiagNoFrame;
}

} // namespace

int FrameDiagByte(std::uint8_t byte, DiagFrameState& st, std::uint8_t* buffer,
                  std::uint16_t capacity) {
    // A frame always starts at position 0; a byte that did not start one is overwritten.
    if (st.count == 0) {
        st.state = DiagState::Hunting;
    } else if (st.state == DiagState::Hunting) {
        st.count = 0;
    }
    if (st.count >= capacity) {
        st.state = DiagState::Hunting;
        return kDiagOverflow;
    }
    buffer[st.count++] = byte;

    switch (st.state) {
    case DiagState::Hunting:
        if (byte == kFrameStart) {
            st.state = DiagState::AfterDollar;
        }
        return kDiagNoFrame;
    case DiagState::AfterDollar:
        if (byte != kFrameMark) {
            return HeaderBroken(byte, st, buffer);
        }
        st.state = DiagState::AfterX;
        return kDiagNoFrame;
    case DiagState::AfterX: // the message id: any value
        st.state = DiagState::AfterId;
        return kDiagNoFrame;
    case DiagState::AfterId: // the length byte
        if (byte < kMinFrameLen || byte > capacity) {
            st.state = DiagState::Hunting;
            return kDiagOverflow;
        }
        st.length = byte;
        st.state = DiagState::AfterLength;
        return kDiagNoFrame;
    case DiagState::AfterLength:
        if (byte != kFrameMark) {
            return HeaderBroken(byte, st, buffer);
        }
        st.state = DiagState::AfterSecondX;
        return kDiagNoFrame;
    case DiagState::AfterSecondX:
        if (byte != kFrameStart) {
            st.state = DiagState::Hunting;
            return kDiagNoFrame;
        }
        st.state = DiagState::Body;
        return kDiagNoFrame;
    case DiagState::Body: {
        // The length was checked when it arrived; a record whose length was changed
        // behind our back is treated as corrupt rather than trusted for the CRC offsets.
        if (st.length < kMinFrameLen || st.length > capacity) {
            st.state = DiagState::Hunting;
            return kDiagBadState;
        }
        const unsigned crcEnd = st.length - 2u; // count once the high CRC byte is stored
        if (st.count < crcEnd) {
            return kDiagNoFrame;
        }
        const std::uint16_t crc = CalcCrc(buffer, st.length - 4u);
        if (buffer[st.length - 4] != (crc & 0xFF) || buffer[st.length - 3] != (crc >> 8)) {
            st.state = DiagState::Hunting;
            return kDiagBadCrc;
        }
        st.state = DiagState::AwaitCR;
        return kDiagNoFrame;
    }
    case DiagState::AwaitCR:
        st.state = (byte == kCR) ? DiagState::AwaitLF : DiagState::Hunting;
        return kDiagNoFrame;
    case DiagState::AwaitLF:
        st.state = DiagState::Hunting;
        return byte == kLF ? kDiagFrameComplete : kDiagNoFrame;
    }
    st.state = DiagState::Hunting;
    return kDiagBadState;
}

int FrameLineByte(std::uint8_t byte, LineFrameState& st, std::uint8_t* buffer,
                  std::uint16_t capacity) {
    if (st.state == LineState::Idle || st.count == 0) {
        st.state = LineState::InLine;
        st.count = 0;
    }
    if (st.count >= capacity) {
        st.state = LineState::Idle;
        return kLineOverflow;
    }
    buffer[st.count++] = byte;

    switch (st.state) {
    case LineState::InLine:
        if (byte == kCR) {
            st.state = LineState::AfterCR;
        }
        return kLineNone;
    case LineState::AfterCR:
        // Either the line is complete or the CR was not a line end and the line so far,
        // this byte included, is abandoned.
        st.state = LineState::Idle;
        return byte == kLF ? kLineComplete : kLineNone;
    case LineState::Idle:
        break;
    }
    st.state = LineState::Idle;
    return kLineBadState;
}

// ---------------------------------------------------------------------------------------
// Builders

void BuildMsgHeader(std::uint8_t id, std::uint8_t length, std::uint8_t* output) {
    output[0] = kFrameStart;
    output[1] = kFrameMark;
    output[2] = id;
    output[3] = length;
    output[4] = kFrameMark;
    output[5] = kFrameStart;
}

void AddCrLf(std::uint8_t* output) {
    output[0] = kCR;
    output[1] = kLF;
}

void PutMsgCrc(const std::uint8_t* frame, std::uint8_t length, std::uint8_t* output) {
    const std::size_t covered = length >= 4 ? length - 4u : 0u;
    const std::uint16_t crc = CalcCrc(frame, covered);
    output[0] = static_cast<std::uint8_t>(crc & 0xFF);
    output[1] = static_cast<std::uint8_t>(crc >> 8);
}

namespace {

// Header, CRC and CR LF around a payload already in place at output[6 .. N-5].
std::uint8_t FinishFrame(std::uint8_t id, std::uint8_t length, std::uint8_t* output) {
    BuildMsgHeader(id, length, output);
    PutMsgCrc(output, length, output + length - 4);
    AddCrLf(output + length - 2);
    return length;
}

} // namespace

std::uint8_t BuildMsg(std::uint8_t id, const std::uint8_t* payload, std::size_t payloadLen,
                      std::uint8_t* output) {
    if (payloadLen > kMaxPayloadLen) {
        return 0;
    }
    const auto length = static_cast<std::uint8_t>(payloadLen + kFrameOverhead);
    if (payloadLen > 0) {
        std::memmove(output + kPayloadOffset, payload, payloadLen);
    }
    return FinishFrame(id, length, output);
}

std::uint8_t BuildRequestMsg(std::uint8_t requestedId, std::uint8_t* output) {
    output[kPayloadOffset] = requestedId;
    return FinishFrame(kMsgOutputRequest, kRequestMsgLen, output);
}

std::uint8_t BuildPortConfigMsg(std::uint32_t reserved, std::uint32_t binaryFlags,
                                std::uint32_t nmeaFlags, std::uint32_t baudRate,
                                std::uint8_t* output) {
    std::uint8_t* p = output + kPayloadOffset;
    std::memset(p, 0, kPortConfigMsgLen - kFrameOverhead);
    PutLE32(p + 2, reserved);
    PutLE32(p + 6, binaryFlags);
    PutLE32(p + 10, nmeaFlags);
    PutLE32(p + 14, baudRate);
    return FinishFrame(kMsgPortConfig, kPortConfigMsgLen, output);
}

std::uint8_t BuildCorrectionsMsg(bool alternateFrequency, std::int32_t channel, bool waasOn,
                                 bool correctionsOn, std::uint8_t* output) {
    std::uint8_t* p = output + kPayloadOffset;
    p[0] = alternateFrequency ? 1 : 0;
    p[1] = p[0];
    PutLE32(p + 2, alternateFrequency ? static_cast<std::uint32_t>(channel) : 0u);
    p[6] = waasOn ? 1 : 0;
    p[7] = correctionsOn ? 0 : 1;
    return FinishFrame(kMsgCorrections, kCorrectionsMsgLen, output);
}

std::uint8_t BuildNavRateMsg(std::uint8_t navRate, std::uint8_t* output) {
    output[kPayloadOffset] = navRate;
    return FinishFrame(kMsgNavRate, kNavRateMsgLen, output);
}

// ---------------------------------------------------------------------------------------
// Report readers

namespace {

// The payload length of a frame of the given id, or -1 when the frame is not one.
int PayloadLength(const std::uint8_t* frame, int length, std::uint8_t id) {
    if (frame == nullptr || length < static_cast<int>(kMinFrameLen) ||
        frame[kFrameIdOffset] != id) {
        return -1;
    }
    return length - static_cast<int>(kFrameOverhead);
}

} // namespace

bool ReadConfigurationReport(const std::uint8_t* frame, int length, ConfigurationReport& out) {
    const int payloadLen = PayloadLength(frame, length, kMsgConfigReport);
    if (payloadLen < static_cast<int>(kCfgMinPayloadLen)) {
        return false;
    }
    const std::uint8_t* p = frame + kPayloadOffset;
    ConfigurationReport r;
    r.versionMajor = p[kCfgVersionMajor];
    r.versionMinor = p[kCfgVersionMinor];
    r.binaryFlags = GetLE32(p + kCfgBinaryFlags);
    r.nmeaFlags = GetLE32(p + kCfgNmeaFlags);
    r.navRate = p[kCfgNavRate];
    r.engineLoadStatus = p[kCfgEngineLoadStatus];
    // The suffix is there only in the longer form of the report, and only bytes of the
    // payload are taken for it, never the CRC behind it.
    if (payloadLen >= static_cast<int>(kCfgSuffixPayloadLen)) {
        std::memcpy(r.versionSuffix, p + kCfgVersionSuffix, 3);
        r.versionSuffix[3] = '\0';
    }
    out = r;
    return true;
}

bool ReadCorrectionsStatusReport(const std::uint8_t* frame, int length,
                                 CorrectionsStatusReport& out) {
    const int payloadLen = PayloadLength(frame, length, kMsgCorrectionsReport);
    if (payloadLen < static_cast<int>(kCorrMinPayloadLen)) {
        return false;
    }
    const std::uint8_t* p = frame + kPayloadOffset;
    CorrectionsStatusReport r;
    r.channel = static_cast<std::int32_t>(GetLE32(p + kCorrChannel));
    r.frequencyMode = p[kCorrFrequencyMode];
    r.waasState = p[kCorrWaasState];
    r.correctionsState = p[kCorrCorrectionsState];
    out = r;
    return true;
}

// ---------------------------------------------------------------------------------------
// Correction channel

double ChannelToMHz(std::int32_t channel) {
    return kChannelBaseMHz + 0.0005 * channel;
}

bool MHzToChannel(double mhz, std::int32_t& channel) {
    const double value = (mhz - kChannelBaseMHz) * kChannelsPerMHz;
    // Truncation toward zero keeps every value strictly between -2^31 - 1 and 2^31 in
    // range; anything else (NaN and infinities included) has no channel.
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return false;
    }
    channel = static_cast<std::int32_t>(value);
    return true;
}
