#include "receiver/Rcvrsettings.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// The sentences in the order of their flag bits.
constexpr const char* kNmeaNames[] = {"GGA", "GSA", "ZDA", "VTG", "RMC"};

// The payload of a frame of this id with at least minPayload bytes, or nullptr.
const std::uint8_t* Payload(const std::uint8_t* frame, int length, std::uint8_t id,
                            int minPayload) {
    if (frame == nullptr || length < static_cast<int>(kMinFrameLen) ||
        frame[kFrameIdOffset] != id ||
        length - static_cast<int>(kFrameOverhead) < minPayload) {
        return nullptr;
    }
    return frame + kPayloadOffset;
}

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

} // namespace

void SendSettingsRequests(SerialPort& port) {
    std::uint8_t request[kRequestMsgLen + 1];
    std::uint8_t n = BuildRequestMsg(kMsgConfigReport, request);
    port.Write(request, n);
    n = BuildRequestMsg(kMsgCorrectionsReport, request);
    port.Write(request, n);
}

bool DecodeConfigurationSettings(const std::uint8_t* frame, int length, std::uint32_t portRate,
                                 ReceiverSettings& settings) {
    const std::uint8_t* p = Payload(frame, length, kMsgConfigReport, kConfigSettingsPayloadLen);
    if (p == nullptr) {
        return false;
    }
    settings.NmeaFlags = GetLE32(p + kCfgNmeaFlags);
    settings.BinaryFlags = GetLE32(p + kCfgBinaryFlags);
    settings.NavRate = p[kCfgNavRate];
    settings.BaudRate = portRate;
    return true;
}

bool DecodeCorrectionsSettings(const std::uint8_t* frame, int length, ReceiverSettings& settings) {
    const std::uint8_t* p =
        Payload(frame, length, kMsgCorrectionsReport, kCorrectionsSettingsPayloadLen);
    if (p == nullptr) {
        return false;
    }
    settings.WaasState = p[kCorrWaasState];
    settings.CorrectionsState = p[kCorrCorrectionsState];
    settings.FreqMode = p[kCorrFrequencyMode];
    settings.ChannelNum = static_cast<std::int32_t>(GetLE32(p + kCorrChannel));
    return true;
}

ApplyValues ApplyValuesFrom(const ReceiverSettings& settings) {
    ApplyValues v;
    v.navRate = settings.NavRate == 5 ? 5 : 1;
    v.alternateFrequency = settings.FreqMode != 0;
    v.channel = settings.ChannelNum;
    v.waasOn = settings.WaasState == 1;
    v.correctionsOn = settings.CorrectionsState == 0;
    v.binaryFlags = 0;
    v.nmeaFlags = settings.NmeaFlags & kNmeaFlagsMask;
    v.baudRate = settings.BaudRate;
    return v;
}

void BuildApplyCommands(const ApplyValues& values, ApplyCommands& commands) {
    BuildNavRateMsg(values.navRate, commands.navRate);
    BuildCorrectionsMsg(values.alternateFrequency, values.channel, values.waasOn,
                        values.correctionsOn, commands.corrections);
    BuildPortConfigMsg(0, values.binaryFlags, values.nmeaFlags, values.baudRate,
                       commands.portConfig);
}

ApplyRate SendApply(SerialPort& port, const ApplyValues& values, std::int64_t portRate) {
    ApplyCommands commands;
    if (port.RateFixed()) {
        return ApplyRate::Refused;
    }
    BuildApplyCommands(values, commands);
    port.Write(commands.navRate, sizeof commands.navRate);
    port.Write(commands.corrections, sizeof commands.corrections);
    port.Write(commands.portConfig, sizeof commands.portConfig);

    // The receiver takes the new rate from the last command; our port follows only after
    // all three have gone out at the old rate.
    std::this_thread::sleep_for(std::chrono::milliseconds(kApplyPauseMs));

    if (static_cast<std::int64_t>(values.baudRate) == portRate) {
        return ApplyRate::Unchanged;
    }
    return port.SetBaudRate(values.baudRate) ? ApplyRate::Changed : ApplyRate::Failed;
}

std::vector<std::string> ApplyDifferences(const ApplyValues& asked,
                                          const ReceiverSettings& reported) {
    std::vector<std::string> out;
    const auto differ = [&out](const char* what, const std::string& a, const std::string& r) {
        if (a != r) {
            out.push_back(std::string(what) + ": asked " + a + ", reported " + r);
        }
    };
    differ("NMEA sentences", NmeaListText(asked.nmeaFlags),
           NmeaListText(reported.NmeaFlags & kNmeaFlagsMask));
    char a[16];
    char r[16];
    std::snprintf(a, sizeof a, "0x%02X", static_cast<unsigned>(asked.binaryFlags & kBinaryFlagsMask));
    std::snprintf(r, sizeof r, "0x%02X",
                  static_cast<unsigned>(reported.BinaryFlags & kBinaryFlagsMask));
    differ("binary messages", a, r);
    differ("navigation rate", std::to_string(asked.navRate), std::to_string(reported.NavRate));
    // A receiver without WAAS cannot switch it on, and has it off as far as asked.
    const bool waasMet = asked.waasOn ? reported.WaasState == 1 : reported.WaasState != 1;
    if (!waasMet) {
        differ("WAAS", OnOff(asked.waasOn), WaasText(reported.WaasState));
    }
    differ("corrections", OnOff(asked.correctionsOn), OnOff(reported.CorrectionsState == 0));
    differ("frequency", asked.alternateFrequency ? ChannelMHzText(asked.channel) : "default",
           FrequencyText(reported));
    differ("baud rate", std::to_string(asked.baudRate), std::to_string(reported.BaudRate));
    return out;
}

std::string NmeaListText(std::uint32_t nmeaFlags) {
    std::string text;
    for (int bit = 0; bit < 5; ++bit) {
        if ((nmeaFlags >> bit) & 1u) {
            text += (text.empty() ? "" : ",");
            text += kNmeaNames[bit];
        }
    }
    return text.empty() ? "none" : text;
}

bool ParseNmeaList(const std::string& text, std::uint32_t& nmeaFlags) {
    std::string upper;
    for (char c : text) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (upper == "NONE") {
        nmeaFlags = 0;
        return true;
    }
    std::uint32_t flags = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = upper.find(',', start);
        const std::string name = upper.substr(start, comma - start);
        bool known = false;
        for (int bit = 0; bit < 5; ++bit) {
            if (name == kNmeaNames[bit]) {
                flags |= 1u << bit;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    nmeaFlags = flags;
    return true;
}

std::string WaasText(std::uint8_t waasState) {
    if (waasState == 1) {
        return "on";
    }
    return waasState == 0 ? "off" : "not available";
}

std::string ChannelMHzText(std::int32_t channel) {
    // to_chars ignores the locale, which the windows' toolkit sets from the user's.
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, ChannelToMHz(channel),
                                   std::chars_format::general, 15);
    return std::string(text, end.ptr);
}

bool ParseBandFrequency(const std::string& text, std::int32_t& channel) {
    // Tenths of a kilohertz: 10000 a megahertz, 5 a channel.
    constexpr std::int64_t kUnitsPerMHz = 10000;
    constexpr std::int64_t kUnitsPerChannel = kUnitsPerMHz / static_cast<std::int64_t>(kChannelsPerMHz);
    constexpr std::int64_t kChannelZero = static_cast<std::int64_t>(kChannelBaseMHz) * kUnitsPerMHz;
    std::int64_t units = 0;
    int fractionDigits = -1; // -1 before the point
    bool digits = false;
    for (const char c : text) {
        if (c == '.' && fractionDigits < 0) {
            fractionDigits = 0;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (fractionDigits < 0) {
                units = units * 10 + (c - '0');
                if (units > kBandHighMHz) {
                    return false; // also keeps the arithmetic far from overflowing
                }
            } else if (fractionDigits < 4) {
                units = units * 10 + (c - '0');
                ++fractionDigits;
            } else if (c != '0') {
                return false; // finer than a tenth of a kilohertz
            }
        } else {
            return false;
        }
    }
    if (!digits) {
        return false;
    }
    for (int d = fractionDigits < 0 ? 0 : fractionDigits; d < 4; ++d) {
        units *= 10;
    }
    if (units < kBandLowMHz * kUnitsPerMHz || units > kBandHighMHz * kUnitsPerMHz ||
        (units - kChannelZero) % kUnitsPerChannel != 0) {
        return false;
    }
    channel = static_cast<std::int32_t>((units - kChannelZero) / kUnitsPerChannel);
    return true;
}

std::string FrequencyText(const ReceiverSettings& settings) {
    return settings.FreqMode == 0 ? "default" : ChannelMHzText(settings.ChannelNum);
}

std::string SoftwareVersionText(const ConfigurationReport& report) {
    std::string text = std::to_string(report.versionMajor) + "." +
                       std::to_string(report.versionMinor);
    for (int i = 0; i < 3 && report.versionSuffix[i] != '\0'; ++i) {
        const char c = report.versionSuffix[i];
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}
