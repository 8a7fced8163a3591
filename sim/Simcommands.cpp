#include "sim/Simcommands.h"

#include "sim/Simline.h"

#include <cstdio>
#include <cstring>

SimCommands::SimCommands(const SimOptions& options, SimSettings& settings, const SimEngine& engine,
                         SimOutput& output, SimJournal& journal)
    : options_(options), settings_(settings), engine_(engine), output_(output), journal_(journal) {}

bool SimCommands::Receive(std::uint8_t b) {
    if (framer_.ProcessByte(b)) {
        HandleFrame(framer_.GetMsg(), framer_.GetMsgLen());
    }
    if (frameSkip_ > 0) {
        --frameSkip_;
        return false;
    }
    if (b == '\r') {
        return HandleLine();
    }
    if (!line_.Add(b)) {
        return false;
    }
    // A frame's header up to its length byte: the rest of the frame is no text.
    const std::string& text = line_.Text();
    if (text.size() == kFrameLengthOffset + 1 && text[0] == kFrameStart && text[1] == kFrameMark &&
        static_cast<std::uint8_t>(text[kFrameLengthOffset]) >= kMinFrameLen) {
        frameSkip_ = static_cast<std::uint8_t>(text[kFrameLengthOffset]) - (kFrameLengthOffset + 1);
        line_.Clear();
    }
    return false;
}

void SimCommands::Reset() {
    framer_.Reset();
    line_.Clear();
    frameSkip_ = 0;
}

bool SimCommands::HandleLine() {
    std::string line;
    if (!line_.End(line)) {
        return false;
    }
    const std::string text = line + '\r';
    journal_.AddText(text, false);
    journal_.Log("received text \"" + SimPrintableText(text) + "\"");
    return text == "LOADSTAR\r";
}

void SimCommands::HandleFrame(const std::uint8_t* frame, std::size_t n) {
    journal_.AddFrame(frame, n);
    const std::uint8_t id = frame[kFrameIdOffset];
    const std::uint8_t* p = frame + kPayloadOffset;
    const std::size_t len = n - kFrameOverhead;
    char buf[160];
    std::snprintf(buf, sizeof buf, "received frame id 0x%02X, %zu bytes: ", id, n);
    std::string what = buf;

    switch (id) {
    case kMsgOutputRequest:
        if (len >= kRequestPayloadLen && p[kRequestedId] == kMsgConfigReport) {
            QueueConfigReport(true);
            what += "request for the Configuration report, answered";
        } else if (len >= kRequestPayloadLen && p[kRequestedId] == kMsgCorrectionsReport) {
            QueueCorrectionsReport(true);
            what += "request for the Corrections status report, answered";
        } else {
            what += "request for a message not offered, ignored";
        }
        break;
    case kMsgNavRate:
        if (len >= kNavRatePayloadLen && (p[kNavRateValue] == 1 || p[kNavRateValue] == 5)) {
            settings_.navRate = p[kNavRateValue];
            what += "navigation rate " + std::to_string(p[kNavRateValue]);
        } else {
            what += "navigation rate out of range, ignored";
        }
        break;
    case kMsgCorrections:
        if (len >= kCorrectionsPayloadLen && p[kCorrCmdFrequencyMode] <= 1) {
            settings_.alternateFrequency = p[kCorrCmdFrequencyMode] == 1;
            if (settings_.alternateFrequency) {
                settings_.channel = static_cast<std::int32_t>(GetLE32(p + kCorrCmdChannel));
            }
            settings_.waasOn = p[kCorrCmdWaas] == 1;
            settings_.correctionsOn = p[kCorrCmdCorrections] == 0;
            std::snprintf(buf, sizeof buf,
                          "corrections: %s frequency, channel %d, WAAS %s, "
                          "corrections %s",
                          settings_.alternateFrequency ? "alternate" : "default",
                          static_cast<int>(settings_.channel), settings_.waasOn ? "on" : "off",
                          settings_.correctionsOn ? "on" : "off");
            what += buf;
        } else {
            what += "malformed corrections command, ignored";
        }
        break;
    case kMsgPortConfig:
        if (len >= kPortConfigPayloadLen) {
            settings_.binaryFlags = GetLE32(p + kPortCfgBinaryFlags);
            settings_.nmeaFlags = GetLE32(p + kPortCfgNmeaFlags);
            const std::uint32_t rate = GetLE32(p + kPortCfgBaudRate);
            std::snprintf(buf, sizeof buf, "output configuration: binary 0x%X, NMEA 0x%X, ",
                          settings_.binaryFlags, settings_.nmeaFlags);
            what += buf;
            if (IsSimRate(rate)) {
                // Takes effect now: the next byte in either direction runs at the new rate.
                settings_.baudRate = rate;
                output_.SetRate(rate);
                what += "baud rate " + std::to_string(rate);
            } else {
                what += "baud rate " + std::to_string(rate) + " not supported, kept " +
                        std::to_string(output_.Rate());
            }
        } else {
            what += "malformed output configuration, ignored";
        }
        break;
    default:
        what += "not a command of this receiver, ignored";
        break;
    }
    journal_.Log(what);
}

void SimCommands::QueueConfigReport(bool reply) {
    std::uint8_t p[kSimConfigPayloadLen] = {};
    const SimVersion& version = engine_.Version();
    p[kCfgVersionMajor] = version.major;
    p[kCfgVersionMinor] = version.minor;
    PutLE32(p + kCfgBinaryFlags, settings_.binaryFlags);
    PutLE32(p + kCfgNmeaFlags, settings_.nmeaFlags);
    p[kCfgNavRate] = settings_.navRate;
    p[kCfgEngineLoadStatus] = engine_.Status();
    std::size_t len = kSimConfigShortPayloadLen;
    if (options_.versionSuffix) {
        std::memcpy(p + kCfgVersionSuffix, version.suffix, kCfgVersionSuffixLen);
        len = kSimConfigPayloadLen;
    }
    output_.QueueFrame(kMsgConfigReport, p, len, reply);
}

void SimCommands::QueueCorrectionsReport(bool reply) {
    std::uint8_t p[kSimCorrectionsPayloadLen] = {};
    PutLE32(p + kCorrChannel, static_cast<std::uint32_t>(settings_.ChannelInForce()));
    p[kCorrFrequencyMode] = settings_.alternateFrequency ? 1 : 0;
    p[kCorrWaasState] = settings_.WaasState(options_.waasAvailable);
    p[kCorrCorrectionsState] = settings_.correctionsOn ? 0 : 1;
    output_.QueueFrame(kMsgCorrectionsReport, p, sizeof p, reply);
}
