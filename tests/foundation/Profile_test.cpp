// Settings profiles: which documents are read and what they hold, which are refused and
// with which key named, the document written, and a profile applied to and compared with
// a receiver's settings.

#include "receiver/Profile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What kestrane-cli info --json prints for a receiver without WAAS on the alternate
// frequency, with the version a profile carries.
constexpr const char* kInfoJson =
    "{\"profile_version\":1,\"device\":\"/dev/pts/3\",\"baud_rate\":19200,"
    "\"software_version\":\"2.5b\",\"engine_status\":1,\"nmea\":[\"GGA\",\"RMC\"],"
    "\"nav_rate\":5,\"waas\":\"not available\",\"corrections\":\"on\","
    "\"frequency\":\"alternate\",\"frequency_mhz\":1545.5,\"channel\":41000}\n";

ReceiverProfile Parsed(const char* json) {
    ReceiverProfile p;
    std::string error;
    EXPECT_TRUE(ParseProfile(json, p, error)) << json << ": " << error;
    return p;
}

TEST(Profile, GoodAndPartialProfilesHoldWhatTheySay) {
    ReceiverProfile info;
    info.SoftwareVersion = "2.5b";
    info.BaudRate = 19200;
    info.NmeaFlags = 0x01 | 0x10; // GGA, RMC
    info.NavRate = 5;
    info.CorrectionsOn = true;
    info.Frequency = ProfileFrequency{true, 41000}; // (1545.5 - 1525) * 2000
    EXPECT_EQ(Parsed(kInfoJson), info);

    ReceiverProfile navOnly;
    navOnly.NavRate = 1;
    EXPECT_EQ(Parsed(" {\"nav_rate\" : 1 , \"profile_version\" : 1 } "), navOnly);
    // null is absent, as info prints for what it does not know.
    EXPECT_EQ(Parsed("{\"profile_version\":1,\"nav_rate\":1,\"baud_rate\":null,"
                     "\"software_version\":null,\"frequency_mhz\":null,\"channel\":null}"),
              navOnly);

    ReceiverProfile sentences;
    sentences.NmeaFlags = 0x02 | 0x04 | 0x08; // GSA, ZDA, VTG
    EXPECT_EQ(Parsed("{\"profile_version\":1,\"nmea\":[\"vtg\",\"Gsa\",\"ZDA\",\"GSA\"]}"),
              sentences);
    sentences.NmeaFlags = 0;
    EXPECT_EQ(Parsed("{\"profile_version\":1,\"nmea\":[]}"), sentences);

    // The alternate frequency from its frequency alone, its channel alone, or both.
    ReceiverProfile freq;
    freq.Frequency = ProfileFrequency{true, 1};
    EXPECT_EQ(Parsed("{\"profile_version\":1,\"frequency_mhz\":1525.0005}"), freq);
    EXPECT_EQ(Parsed("{\"profile_version\":1,\"channel\":1}"), freq);
    EXPECT_EQ(Parsed("{\"profile_version\":1,\"frequency\":\"alternate\",\"channel\":1,"
                     "\"frequency_mhz\":1525.0005}"),
              freq);
    freq.Frequency = ProfileFrequency{};
    freq.WaasOn = false;
    freq.CorrectionsOn = false;
    freq.SoftwareVersion = "A\"\\\xC3\xA9\xF0\x9F\x98\x80";
    EXPECT_EQ(
        Parsed("{\"profile_version\":1,\"frequency\":\"default\",\"waas\":\"off\","
               "\"corrections\":\"off\",\"software_version\":\"A\\\"\\\\\\u00e9\\ud83d\\ude00\"}"),
        freq);
}

TEST(Profile, BadProfilesAreRefusedNamingTheirKey) {
    const std::pair<std::string, std::string> bad[] = {
        {"", "not JSON: a value expected at byte 0"},
        {"{\"profile_version\":1,}", "not JSON: a key expected at byte 21"},
        {"{\"profile_version\":1} x", "not JSON: text after the end of the value at byte 22"},
        {"{\"profile_version\":01}", "not JSON: ',' or '}' expected at byte 20"},
        {"{\"profile_version\":1,\"software_version\":\"\\ud800\"}",
         "not JSON: unpaired surrogate at byte 47"},
        {"{\"profile_version\":1,\"software_version\":\"a\nb\"}",
         "not JSON: control character in a string at byte 42"},
        {"{\"profile_version\":1,\"x\":" + std::string(100, '[') + std::string(100, ']') + "}",
         "not JSON: values nested too deeply at byte 40"},
        {"[1]", "not a profile: a JSON object is expected"},
        {"{}", "profile_version: missing"},
        {"{\"profile_version\":2}", "profile_version: 2 is not a known version (1)"},
        {"{\"profile_version\":\"1\"}", "profile_version: \"1\" is not a known version (1)"},
        {"{\"profile_version\":1,\"nav_rate\":3}", "nav_rate: 3 is not 1 or 5"},
        {"{\"profile_version\":1,\"nav_rate\":5.0}", "nav_rate: 5.0 is not 1 or 5"},
        {"{\"profile_version\":1,\"nav_rate\":\"5\"}", "nav_rate: \"5\" is not 1 or 5"},
        {"{\"profile_version\":1,\"baud_rate\":115200}",
         "baud_rate: 115200 is not 4800, 9600, 19200 or 38400"},
        {"{\"profile_version\":1,\"baud_rate\":-9600}",
         "baud_rate: -9600 is not 4800, 9600, 19200 or 38400"},
        {"{\"profile_version\":1,\"baud_rate\":4294986496}", // 2^32 + 19200
         "baud_rate: 4294986496 is not 4800, 9600, 19200 or 38400"},
        {"{\"profile_version\":1,\"nmea\":\"GGA\"}",
         "nmea: \"GGA\" is not a list of sentence names"},
        {"{\"profile_version\":1,\"nmea\":[\"GGA\",\"GGA,RMC\"]}",
         "nmea: \"GGA,RMC\" is not one of GGA, GSA, ZDA, VTG, RMC"},
        {"{\"profile_version\":1,\"waas\":true}", "waas: true is not \"on\" or \"off\""},
        {"{\"profile_version\":1,\"corrections\":\"not available\"}",
         "corrections: \"not available\" is not \"on\" or \"off\""},
        {"{\"profile_version\":1,\"frequency\":\"alt\"}",
         "frequency: \"alt\" is not \"default\" or \"alternate\""},
        {"{\"profile_version\":1,\"frequency\":\"alternate\"}",
         "frequency: \"alternate\" needs channel or frequency_mhz"},
        {"{\"profile_version\":1,\"frequency\":\"default\",\"channel\":5}",
         "channel: given with frequency \"default\""},
        {"{\"profile_version\":1,\"frequency_mhz\":1559.0005}",
         "frequency_mhz: 1559.0005 is not a frequency from 1525 to 1559 MHz on a 0.5 kHz step"},
        {"{\"profile_version\":1,\"frequency_mhz\":1.5455e3}",
         "frequency_mhz: 1.5455e3 is not a frequency from 1525 to 1559 MHz on a 0.5 kHz step"},
        {"{\"profile_version\":1,\"channel\":68001}",
         "channel: 68001 is not a channel from 0 to 68000"},
        {"{\"profile_version\":1,\"channel\":41001,\"frequency_mhz\":1545.5}",
         "frequency_mhz: 1545.5 is not channel 41001"},
        {"{\"profile_version\":1,\"device\":5}", "device: 5 is not a text"},
        {"{\"profile_version\":1,\"nav_rte\":5}", "nav_rte: not a key of a profile"},
        {"{\"profile_version\":1,\"Nav Rate\":null}", "\"Nav Rate\": not a key of a profile"},
        {"{\"profile_version\":1,\"nav_rate\":1,\"nav_rate\":5}", "nav_rate: given twice"},
        {"{\"profile_version\":1,\"x\":\"" + std::string(kProfileMaxBytes, 'x') + "\"}",
         "not a profile: longer than 65536 bytes"},
    };
    for (const auto& [json, message] : bad) {
        ReceiverProfile p;
        p.NavRate = 5;
        std::string error;
        EXPECT_FALSE(ParseProfile(json, p, error)) << json.substr(0, 80);
        EXPECT_EQ(error, message) << json.substr(0, 80);
        ReceiverProfile untouched;
        untouched.NavRate = 5;
        EXPECT_EQ(p, untouched) << json.substr(0, 80);
    }
}

TEST(Profile, WrittenProfilesReadBackAsTheyWere) {
    ReceiverProfile full;
    full.SoftwareVersion = "2.5\"b\x01";
    full.BaudRate = 38400;
    full.NmeaFlags = 0x01 | 0x04 | 0x10;
    full.NavRate = 5;
    full.WaasOn = true;
    full.CorrectionsOn = false;
    full.Frequency = ProfileFrequency{true, 41001};
    const std::string text = WriteProfile(full);
    EXPECT_EQ(text, "{\n"
                    "  \"profile_version\": 1,\n"
                    "  \"software_version\": \"2.5\\\"b\\u0001\",\n"
                    "  \"baud_rate\": 38400,\n"
                    "  \"nmea\": [\"GGA\", \"ZDA\", \"RMC\"],\n"
                    "  \"nav_rate\": 5,\n"
                    "  \"waas\": \"on\",\n"
                    "  \"corrections\": \"off\",\n"
                    "  \"frequency\": \"alternate\",\n"
                    "  \"frequency_mhz\": 1545.5005,\n"
                    "  \"channel\": 41001\n"
                    "}\n");
    EXPECT_EQ(Parsed(text.c_str()), full);

    ReceiverProfile partial;
    partial.NmeaFlags = 0;
    partial.Frequency = ProfileFrequency{};
    EXPECT_EQ(WriteProfile(partial), "{\n  \"profile_version\": 1,\n  \"nmea\": [],\n"
                                     "  \"frequency\": \"default\"\n}\n");
    EXPECT_EQ(Parsed(WriteProfile(partial).c_str()), partial);
    EXPECT_EQ(Parsed(WriteProfile(ReceiverProfile{}).c_str()), ReceiverProfile{});
}

ReceiverSettings Receiver() {
    ReceiverSettings s;
    s.BaudRate = 9600;
    s.NmeaFlags = 0x01 | 0x100; // GGA, and a bit beyond the five sentences
    s.BinaryFlags = 0x05;
    s.NavRate = 1;
    s.WaasState = 2; // no WAAS
    s.CorrectionsState = 3;
    s.FreqMode = 0;
    s.ChannelNum = 7;
    return s;
}

TEST(Profile, ApplyChangesOnlyWhatTheProfileHolds) {
    ReceiverSettings s = Receiver();
    ReceiverProfile p;
    p.NavRate = 5;
    p.Frequency = ProfileFrequency{true, 41000};
    p.WaasOn = false;        // met already by a receiver without WAAS
    p.CorrectionsOn = false; // 3 is off already
    ApplyProfile(p, s);
    EXPECT_EQ(s.BaudRate, 9600u);
    EXPECT_EQ(s.NmeaFlags, 0x101u);
    EXPECT_EQ(s.BinaryFlags, 0x05u);
    EXPECT_EQ(s.NavRate, 5u);
    EXPECT_EQ(s.WaasState, 2);
    EXPECT_EQ(s.CorrectionsState, 3);
    EXPECT_EQ(s.FreqMode, 1);
    EXPECT_EQ(s.ChannelNum, 41000);

    ReceiverProfile q;
    q.BaudRate = 38400;
    q.NmeaFlags = 0x10; // RMC
    q.CorrectionsOn = true;
    q.Frequency = ProfileFrequency{};
    ApplyProfile(q, s);
    EXPECT_EQ(s.BaudRate, 38400u);
    EXPECT_EQ(s.NmeaFlags, 0x110u);
    EXPECT_EQ(s.NavRate, 5u);
    EXPECT_EQ(s.CorrectionsState, 0);
    EXPECT_EQ(s.FreqMode, 0);
}

TEST(Profile, DiffListsEverySettingThatDiffers) {
    const ReceiverSettings s = Receiver();
    EXPECT_TRUE(DiffProfile(ReceiverProfile{}, s).empty());
    ReceiverProfile same;
    same.BaudRate = 9600;
    same.NmeaFlags = 0x01;
    same.NavRate = 1;
    same.WaasOn = false;
    same.CorrectionsOn = false;
    same.Frequency = ProfileFrequency{};
    same.SoftwareVersion = "9.9"; // information only
    EXPECT_TRUE(DiffProfile(same, s).empty());

    ReceiverProfile other;
    other.BaudRate = 19200;
    other.NmeaFlags = 0x01 | 0x02;
    other.NavRate = 5;
    other.WaasOn = true;
    other.CorrectionsOn = true;
    other.Frequency = ProfileFrequency{true, 41000};
    EXPECT_EQ(DiffProfile(other, s),
              (std::vector<std::string>{"baud rate: profile 19200, receiver 9600",
                                        "NMEA sentences: profile GGA,GSA, receiver GGA",
                                        "navigation rate: profile 5, receiver 1",
                                        "WAAS: profile on, receiver not available",
                                        "corrections: profile on, receiver off",
                                        "frequency: profile 1545.5, receiver default"}));

    // A good receiver's settings given to another leave nothing to tell them apart.
    ReceiverSettings good;
    good.BaudRate = 38400;
    good.NmeaFlags = 0x1F;
    good.NavRate = 5;
    good.WaasState = 1;
    good.CorrectionsState = 0;
    good.FreqMode = 2;
    good.ChannelNum = 68000;
    const ReceiverProfile copied = ProfileFromSettings(good, "2.5b");
    ReceiverSettings another = s;
    EXPECT_EQ(DiffProfile(copied, another).size(), 6u);
    ApplyProfile(copied, another);
    EXPECT_TRUE(DiffProfile(copied, another).empty());
    EXPECT_EQ(another.ChannelNum, 68000);
}

} // namespace
