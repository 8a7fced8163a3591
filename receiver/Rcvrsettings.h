#pragma once
// The receiver's settings as Receiver Setup handles them, toolkit-free, so that the
// window and kestrane-cli read and change a receiver in exactly the same way.
//
// Reading. Two Output requests ask for the Configuration report (4) and the Corrections
// status report (1). The first gives the NMEA and binary output flags and the navigation
// rate, the second WAAS, corrections, the frequency mode and the correction channel.
// Neither carries the receiver's baud rate: a report that arrived at all came at our own
// port's rate, so that is the rate the settings hold.
//
// Changing. An Apply sends three commands in a fixed order at the port's present rate:
// Navigation rate, Corrections, Output configuration. The receiver takes its new baud
// rate from the last of them, so our port waits 200 ms and only then follows it.
//
// Layouts and offsets are those of proto/Memoutils.h; nothing here names a byte of its own.

#include "proto/Memoutils.h"
#include "serial/Serialport.h"

#include <cstdint>
#include <string>
#include <vector>

// What the two reports say: the receiver's settings as one value, the members of the
// Receiver Setup dialog's model under their names there.
struct ReceiverSettings {
    std::uint32_t BaudRate = 19200;     // our port's rate when the report came
    std::uint32_t NmeaFlags = 0;        // NMEA output flags (kNmeaGGA ...)
    std::uint32_t BinaryFlags = 0;      // binary message flags (kBinQX ...)
    std::uint32_t NavRate = 1;          // 1 or 5
    std::uint8_t WaasState = 0;         // 1 on, 0 off, anything else not available
    std::uint8_t CorrectionsState = 0;  // 0 on, anything else off
    std::uint8_t FreqMode = 0;          // 0 default frequency, anything else alternate
    std::int32_t ChannelNum = 0;        // correction channel of the alternate frequency
};

// Payload bytes a report must carry for the fields read from it; a shorter one is
// ignored rather than read beyond its end.
inline constexpr int kConfigSettingsPayloadLen = static_cast<int>(kCfgNavRate) + 1;         // 31
inline constexpr int kCorrectionsSettingsPayloadLen = static_cast<int>(kCorrMinPayloadLen); // 72

// Time the receiver gets to take the three commands in before our port changes rate.
inline constexpr unsigned kApplyPauseMs = 200;

// Writes the Output requests for the Configuration report and then the Corrections
// status report. A closed port sends nothing, silently.
void SendSettingsRequests(SerialPort& port);

// A Configuration report fills NmeaFlags, BinaryFlags and NavRate and sets BaudRate to
// portRate; a Corrections status report fills WaasState, CorrectionsState, FreqMode and
// ChannelNum. Other fields are left alone. False, nothing changed, for a frame of another
// id or one too short for the fields.
bool DecodeConfigurationSettings(const std::uint8_t* frame, int length, std::uint32_t portRate,
                                 ReceiverSettings& settings);
bool DecodeCorrectionsSettings(const std::uint8_t* frame, int length, ReceiverSettings& settings);

// What an Apply sends, in the terms of its three commands.
struct ApplyValues {
    std::uint8_t navRate = 1;
    bool alternateFrequency = false;
    std::int32_t channel = 0; // sent only with the alternate frequency
    bool waasOn = false;
    bool correctionsOn = true;
    std::uint32_t binaryFlags = 0;
    std::uint32_t nmeaFlags = 0;
    std::uint32_t baudRate = 19200; // the receiver's new rate, and then our port's
};

// An Apply that leaves the reported settings as they are. As in Receiver Setup, whose
// binary-message toggles are not offered, the binary flags are 0; a receiver without
// WAAS is sent WAAS off; a navigation rate other than 5 is sent as 1.
ApplyValues ApplyValuesFrom(const ReceiverSettings& settings);

// The three frames of an Apply, in the order they are sent.
struct ApplyCommands {
    std::uint8_t navRate[kNavRateMsgLen];
    std::uint8_t corrections[kCorrectionsMsgLen];
    std::uint8_t portConfig[kPortConfigMsgLen];
};
void BuildApplyCommands(const ApplyValues& values, ApplyCommands& commands);

enum class ApplyRate : std::uint8_t {
    Unchanged, // the new rate is the port's rate
    Changed,   // the port now runs at values.baudRate
    Failed,    // the port could not change rate; the receiver was told all the same
    Refused,   // the port's rate is its server's: nothing was sent
};

// Why an Apply is refused on a port whose rate is fixed by its server (tcp://): the
// Output configuration sets the receiver's rate, and the program can neither check
// the server's rate nor follow a change of it, so the receiver could be lost.
inline constexpr const char* kFixedRateApplyText =
    "This port's rate is fixed by its server (tcp://): the receiver's settings carry a "
    "baud rate the program cannot check, so nothing was sent. Use rfc2217:// to change "
    "the receiver's settings.";

// The whole of an Apply on the port: the three commands at portRate, the pause, then our
// port moved to values.baudRate when that differs from portRate. The pause blocks the
// caller, so nothing is read meanwhile. On a port whose rate is fixed by its server
// nothing is sent (Refused).
ApplyRate SendApply(SerialPort& port, const ApplyValues& values, std::int64_t portRate);

// What the receiver reports differently from what an Apply asked, one line per setting
// ("navigation rate: asked 5, reported 1"); empty when it took everything. WAAS off is
// met by a receiver without WAAS.
std::vector<std::string> ApplyDifferences(const ApplyValues& asked, const ReceiverSettings& reported);

// Texts for people and scripts, in the C locale.
// "GGA,RMC" in bit order, or "none".
std::string NmeaListText(std::uint32_t nmeaFlags);
// The reverse: sentence names separated by commas, any case, or "none". False for an
// unknown or empty name.
bool ParseNmeaList(const std::string& text, std::uint32_t& nmeaFlags);
// "on", "off" or "not available".
std::string WaasText(std::uint8_t waasState);
// The frequency of a channel in MHz: the shortest decimal of up to 15 significant digits.
std::string ChannelMHzText(std::int32_t channel);
// The band an alternate correction frequency may lie in: the L-band mobile-satellite
// downlink that correction services transmit in, 1525 to 1559 MHz, on the channels'
// 0.5 kHz step.
inline constexpr std::int32_t kBandLowMHz = 1525;
inline constexpr std::int32_t kBandHighMHz = 1559;
// A frequency in MHz written as a plain decimal ("1545.5": digits and at most one point,
// no sign, exponent or hexadecimal) that lies in that band on a channel exactly; its
// channel then. Worked out in whole tenths of a kilohertz, so no rounding can move a
// frequency off its step or onto one. False, channel untouched, for anything else.
bool ParseBandFrequency(const std::string& text, std::int32_t& channel);
// "default", or the alternate frequency in MHz.
std::string FrequencyText(const ReceiverSettings& settings);
// The software version of a Configuration report: major, ".", minor and the suffix up to
// its first zero, a byte that is not printable shown as "?". For example 2.5b.
std::string SoftwareVersionText(const ConfigurationReport& report);
