#pragma once
// A settings profile: the receiver's settings as Receiver Setup shows them, kept in a small
// JSON document so that one good receiver's settings can be written down and given to
// others. A profile may hold only some settings; those it leaves out stay as they are.
//
// The document is one JSON object. Its keys are those kestrane-cli info --json prints:
//
//   {
//     "profile_version": 1,
//     "software_version": "2.5b",
//     "baud_rate": 19200,
//     "nmea": ["GGA", "RMC"],
//     "nav_rate": 1,
//     "waas": "on",
//     "corrections": "on",
//     "frequency": "alternate",
//     "frequency_mhz": 1545.5,
//     "channel": 41000
//   }
//
// profile_version is required and must be 1. software_version is the version the settings
// were read from, information only: nothing applies or compares it. Every other key is a
// setting; absent or null, it is left as it is.
//
//   baud_rate      4800, 9600, 19200 or 38400
//   nmea           an array of sentence names (GGA, GSA, ZDA, VTG, RMC, any case); [] is none
//   nav_rate       1 or 5
//   waas           "on" or "off"; "not available", as info prints it for a receiver without
//                  WAAS, holds nothing to apply and is read as absent
//   corrections    "on" or "off"
//   frequency      "default" or "alternate"; the alternate one needs its channel (0 to 68000)
//                  or its frequency in MHz (1525 to 1559 on a 0.5 kHz step), or both when
//                  they agree. Either alone also means the alternate frequency.
//
// Reading is strict. Unknown keys are refused rather than skipped, because a misspelt
// setting that is quietly ignored would leave a receiver unchanged while the profile says
// otherwise. The keys info prints beside the settings, device and engine_status, are read
// and ignored. A key given twice, a value of the wrong type or out of range, an unknown
// version: each is refused with a message naming the key ("nav_rate: 3 is not 1 or 5").
// Numbers of whole-valued settings are written as whole numbers (5, not 5.0).

#include "receiver/Rcvrsettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kProfileFormatVersion = 1;

// Longest document read; profiles are a few hundred bytes.
inline constexpr std::size_t kProfileMaxBytes = 65536;

// The alternate frequency's channels, 0.5 kHz steps from 1525 to 1559 MHz.
inline constexpr std::int32_t kProfileMaxChannel = (kBandHighMHz - kBandLowMHz) * 2000;

struct ProfileFrequency {
    bool Alternate = false;
    std::int32_t Channel = 0; // with Alternate only

    bool operator==(const ProfileFrequency&) const = default;
};

struct ReceiverProfile {
    int FormatVersion = kProfileFormatVersion;
    std::optional<std::string> SoftwareVersion; // information only
    std::optional<std::uint32_t> BaudRate;
    std::optional<std::uint32_t> NmeaFlags; // kNmeaGGA ... within kNmeaFlagsMask
    std::optional<std::uint32_t> NavRate;
    std::optional<bool> WaasOn;
    std::optional<bool> CorrectionsOn;
    std::optional<ProfileFrequency> Frequency;

    bool operator==(const ReceiverProfile&) const = default;
};

// Reads a profile. On success out is replaced and true returned; otherwise out is left as
// it was and error says what is wrong, naming the key where one is at fault.
bool ParseProfile(std::string_view json, ReceiverProfile& out, std::string& error);

// The document of a profile, one key a line, absent settings left out.
std::string WriteProfile(const ReceiverProfile& profile);

// Reads the profile in the file at path. A file that cannot be read, is longer than
// kProfileMaxBytes or does not hold a profile is refused with the reason in error
// ("nav_rate: 3 is not 1 or 5", "no such file"); out is then left as it was.
bool ReadProfileFile(const std::string& path, ReceiverProfile& out, std::string& error);

// Writes the profile's document to the file at path, replacing it. False, with the
// reason in error, when any of it could not be written.
bool WriteProfileFile(const std::string& path, const ReceiverProfile& profile,
                      std::string& error);

// A profile of every setting the receiver reports, as reported: a value no receiver should
// report is refused, naming it, when the profile is read back. WAAS is left out of it for
// a receiver without WAAS.
ReceiverProfile ProfileFromSettings(const ReceiverSettings& settings,
                                    std::optional<std::string> softwareVersion = std::nullopt);

// Changes the settings the profile holds and nothing else. WAAS off leaves a receiver
// without WAAS as it is, as does corrections off one whose corrections are off already.
void ApplyProfile(const ReceiverProfile& profile, ReceiverSettings& settings);

// One line per setting the profile holds that the receiver has otherwise
// ("navigation rate: profile 5, receiver 1"); empty when they agree. WAAS off is met by a
// receiver without WAAS.
std::vector<std::string> DiffProfile(const ReceiverProfile& profile,
                                     const ReceiverSettings& settings);
