// Frame builders, report readers and channel conversions of the binary protocol. The
// receive state machines are inline in proto/Memoutils.h.

#include "proto/Memoutils.h"

#include <cmath>
#include <cstring>

using memoutils_detail::kCR;
using memoutils_detail::kLF;

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
    output[kPayloadOffset + kRequestedId] = requestedId;
    return FinishFrame(kMsgOutputRequest, kRequestMsgLen, output);
}

std::uint8_t BuildPortConfigMsg(std::uint32_t reserved, std::uint32_t binaryFlags,
                                std::uint32_t nmeaFlags, std::uint32_t baudRate,
                                std::uint8_t* output) {
    std::uint8_t* p = output + kPayloadOffset;
    std::memset(p, 0, kPortConfigPayloadLen);
    PutLE32(p + kPortCfgReserved, reserved);
    PutLE32(p + kPortCfgBinaryFlags, binaryFlags);
    PutLE32(p + kPortCfgNmeaFlags, nmeaFlags);
    PutLE32(p + kPortCfgBaudRate, baudRate);
    return FinishFrame(kMsgPortConfig, kPortConfigMsgLen, output);
}

std::uint8_t BuildCorrectionsMsg(bool alternateFrequency, std::int32_t channel, bool waasOn,
                                 bool correctionsOn, std::uint8_t* output) {
    std::uint8_t* p = output + kPayloadOffset;
    p[kCorrCmdFrequencyMode] = alternateFrequency ? 1 : 0;
    p[kCorrCmdFrequencyModeCopy] = p[kCorrCmdFrequencyMode];
    PutLE32(p + kCorrCmdChannel, alternateFrequency ? static_cast<std::uint32_t>(channel) : 0u);
    p[kCorrCmdWaas] = waasOn ? 1 : 0;
    p[kCorrCmdCorrections] = correctionsOn ? 0 : 1;
    return FinishFrame(kMsgCorrections, kCorrectionsMsgLen, output);
}

std::uint8_t BuildNavRateMsg(std::uint8_t navRate, std::uint8_t* output) {
    output[kPayloadOffset + kNavRateValue] = navRate;
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
        std::memcpy(r.versionSuffix, p + kCfgVersionSuffix, kCfgVersionSuffixLen);
        r.versionSuffix[kCfgVersionSuffixLen] = '\0';
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
    // Rounded to the nearest channel: a frequency shown as a decimal comes back with a
    // small floating-point error either way, and truncating it would move about half of
    // all channels one step down on their way back (channel 2 is 1525.001 MHz, which
    // computes to 1.9999...).
    const double value = std::round((mhz - kChannelBaseMHz) * kChannelsPerMHz);
    // Anything that does not round into the signed 32-bit range (NaN and infinities
    // included) has no channel.
    if (!(value >= -2147483648.0 && value <= 2147483647.0)) {
        return false;
    }
    channel = static_cast<std::int32_t>(value);
    return true;
}
