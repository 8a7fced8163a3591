// The settings unit that Receiver Setup and kestrane-cli share: what counts as the
// receiver having taken an Apply, and the texts of sentence lists and versions. Reading
// reports and the bytes of an Apply are checked end to end, through the window
// (tests/connect) and through the program (Cli_test.cpp).

#include "receiver/Rcvrsettings.h"

#include <gtest/gtest.h>

namespace {

// Channels are 0.5 kHz steps above 1525 MHz: 1545.5 MHz is (20.5 * 2000) = 41000.
TEST(ReceiverSettings, BandFrequenciesAreExactChannelsFrom1525To1559MHz) {
    const std::pair<const char*, std::int32_t> good[] = {
        {"1525", 0},          {"1525.0005", 1},   {"1545.5", 41000},  {"1545.5005", 41001},
        {"1545.50000", 41000}, {"01545.5", 41000}, {"1559", 68000},   {"1559.0000", 68000},
        {"1558.9995", 67999}, {"1530.", 10000},
    };
    for (const auto& [text, channel] : good) {
        std::int32_t got = -1;
        EXPECT_TRUE(ParseBandFrequency(text, got)) << text;
        EXPECT_EQ(got, channel) << text;
    }
    for (const char* text : {"", ".", "1524.9995", "1559.0005", "1545.7777", "1545.50001",
                             "1545.5.0", "+1545.5", " 1545.5", "1545.5 ", "1.5455e3", "0x60A",
                             "inf", "nan", "99999999999999999999", "1545,5"}) {
        std::int32_t got = -1;
        EXPECT_FALSE(ParseBandFrequency(text, got)) << text;
        EXPECT_EQ(got, -1) << text;
    }
}

TEST(ReceiverSettings, ApplyDifferencesNameEverySettingTheReceiverDidNotTake) {
    ApplyValues asked;
    asked.nmeaFlags = kNmeaGGA | kNmeaRMC;
    asked.navRate = 5;
    asked.waasOn = false;
    asked.correctionsOn = true;
    asked.alternateFrequency = true;
    asked.channel = 41000;
    asked.baudRate = 9600;
    ReceiverSettings taken;
    taken.NmeaFlags = kNmeaGGA | kNmeaRMC | 0x100; // bits beyond the five are not ours
    taken.NavRate = 5;
    taken.WaasState = 2; // no WAAS: off as asked
    taken.CorrectionsState = 0;
    taken.FreqMode = 1;
    taken.ChannelNum = 41000;
    taken.BaudRate = 9600;
    EXPECT_TRUE(ApplyDifferences(asked, taken).empty());

    ReceiverSettings other = taken;
    other.NmeaFlags = kNmeaGGA;
    other.BinaryFlags = kBinSYS;
    other.NavRate = 1;
    other.CorrectionsState = 3;
    other.ChannelNum = 40999;
    other.BaudRate = 19200;
    EXPECT_EQ(ApplyDifferences(asked, other),
              (std::vector<std::string>{"NMEA sentences: asked GGA,RMC, reported GGA",
                                        "binary messages: asked 0x00, reported 0x08",
                                        "navigation rate: asked 5, reported 1",
                                        "corrections: asked on, reported off",
                                        "frequency: asked 1545.5, reported 1545.4995",
                                        "baud rate: asked 9600, reported 19200"}));
    asked.waasOn = true;
    asked.alternateFrequency = false;
    EXPECT_EQ(ApplyDifferences(asked, taken),
              (std::vector<std::string>{"WAAS: asked on, reported not available",
                                        "frequency: asked default, reported 1545.5"}));
}

TEST(ReceiverSettings, SentenceListsAndVersionTexts) {
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t flags;
    };
    const Case cases[] = {
        {"GGA,RMC", true, 0x11}, {"rmc,gga,Gsa", true, 0x13}, {"ZDA,VTG", true, 0x0C},
        {"none", true, 0},       {"NONE", true, 0},           {"", false, 0},
        {"GGA,", false, 0},      {",GGA", false, 0},          {"GGA,,RMC", false, 0},
        {"GGA RMC", false, 0},   {"GLL", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t flags = 0xFFFF;
        EXPECT_EQ(ParseNmeaList(c.text, flags), c.ok);
        EXPECT_EQ(flags, c.ok ? c.flags : 0xFFFFu);
    }
    EXPECT_EQ(NmeaListText(0x1F), "GGA,GSA,ZDA,VTG,RMC");
    EXPECT_EQ(NmeaListText(0xE0), "none");

    ConfigurationReport report;
    report.versionMajor = 2;
    report.versionMinor = 12;
    EXPECT_EQ(SoftwareVersionText(report), "2.12");
    report.versionSuffix[0] = 'b';
    report.versionSuffix[1] = '\x01';
    report.versionSuffix[2] = 'x';
    EXPECT_EQ(SoftwareVersionText(report), "2.12b?x");
    report.versionSuffix[1] = '\0';
    EXPECT_EQ(SoftwareVersionText(report), "2.12b");
}

} // namespace
