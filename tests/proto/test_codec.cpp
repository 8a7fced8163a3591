// Frame builders, report readers and the correction channel conversions.

#include "framing_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

Bytes Built(std::uint8_t n, const std::uint8_t* out) {
    return Bytes(out, out + n);
}

// ---------------------------------------------------------------------------------------
// Builders

TEST(Builders, WorkedExamples) {
    std::uint8_t out[64];
    EXPECT_EQ(Built(BuildRequestMsg(4, out), out),
              B({0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0x9F, 0xA9, 0x0D, 0x0A}));
    EXPECT_EQ(Built(BuildRequestMsg(1, out), out),
              B({0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x01, 0x3A, 0xF9, 0x0D, 0x0A}));
    const std::uint8_t rate = 5;
    const Bytes navRate = B({0x24, 0x78, 0x83, 0x0B, 0x78, 0x24, 0x05, 0x13, 0x2F, 0x0D, 0x0A});
    EXPECT_EQ(Built(BuildMsg(0x83, &rate, 1, out), out), navRate);
    EXPECT_EQ(Built(BuildNavRateMsg(5, out), out), navRate);
}

TEST(Builders, PiecesWriteExactlyTheirBytes) {
    std::uint8_t out[16];
    std::memset(out, 0xEE, sizeof out);
    BuildMsgHeader(0x82, 44, out);
    EXPECT_EQ(Bytes(out, out + 7), B({0x24, 0x78, 0x82, 44, 0x78, 0x24, 0xEE}));
    AddCrLf(out + 6);
    EXPECT_EQ(Bytes(out + 6, out + 9), B({0x0D, 0x0A, 0xEE}));

    const Bytes frame = B({0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0, 0, 0, 0});
    std::memset(out, 0xEE, sizeof out);
    PutMsgCrc(frame.data(), 11, out);
    EXPECT_EQ(Bytes(out, out + 3), B({0x9F, 0xA9, 0xEE}));
}

TEST(Builders, PortConfigLayout) {
    std::uint8_t out[kPortConfigMsgLen];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(BuildPortConfigMsg(0, kBinGPS | kBinREFMON, kNmeaGGA | kNmeaRMC, 19200, out), 44);
    EXPECT_EQ(Bytes(out, out + 6), B({0x24, 0x78, 0x82, 44, 0x78, 0x24}));
    EXPECT_EQ(Bytes(out + 6, out + 12), Bytes(6, 0));                  // reserved
    EXPECT_EQ(Bytes(out + 12, out + 16), B({0x22, 0, 0, 0}));          // binary flags
    EXPECT_EQ(Bytes(out + 16, out + 20), B({0x11, 0, 0, 0}));          // NMEA flags
    EXPECT_EQ(Bytes(out + 20, out + 24), B({0x00, 0x4B, 0x00, 0x00})); // 19200
    EXPECT_EQ(Bytes(out + 24, out + 40), Bytes(16, 0));                // reserved
    const std::uint16_t crc = CalcCrc(out, 40);
    EXPECT_EQ(Bytes(out + 40, out + 44), B({crc & 0xFF, crc >> 8, 0x0D, 0x0A}));

    // Every field lands on its own bytes, little-endian, whatever its value.
    BuildPortConfigMsg(0xA1A2A3A4, 0xB1B2B3B4, 0xC1C2C3C4, 0xD1D2D3D4, out);
    EXPECT_EQ(Bytes(out + 8, out + 24), B({0xA4, 0xA3, 0xA2, 0xA1, 0xB4, 0xB3, 0xB2, 0xB1, 0xC4,
                                           0xC3, 0xC2, 0xC1, 0xD4, 0xD3, 0xD2, 0xD1}));
}

TEST(Builders, CorrectionsLayout) {
    std::uint8_t out[kCorrectionsMsgLen];
    ASSERT_EQ(BuildCorrectionsMsg(true, 41000, true, true, out), 18);
    EXPECT_EQ(Bytes(out, out + 6), B({0x24, 0x78, 0x81, 18, 0x78, 0x24}));
    EXPECT_EQ(Bytes(out + 6, out + 14), B({1, 1, 0x28, 0xA0, 0, 0, 1, 0}));

    // Default frequency: no channel; WAAS off; corrections off is 1.
    std::memset(out, 0xEE, sizeof out);
    BuildCorrectionsMsg(false, 41000, false, false, out);
    EXPECT_EQ(Bytes(out + 6, out + 14), B({0, 0, 0, 0, 0, 0, 0, 1}));

    BuildCorrectionsMsg(true, -2, false, true, out);
    EXPECT_EQ(Bytes(out + 6, out + 14), B({1, 1, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0}));
}

TEST(Builders, BuildMsgRefusesAPayloadTheLengthByteCannotHold) {
    Bytes payload(300, 0x55);
    Bytes out(400, 0xEE);
    EXPECT_EQ(BuildMsg(0x10, payload.data(), 246, out.data()), 0);
    EXPECT_EQ(BuildMsg(0x10, payload.data(), 300, out.data()), 0);
    EXPECT_EQ(out, Bytes(400, 0xEE)); // nothing written
    EXPECT_EQ(BuildMsg(0x10, payload.data(), 245, out.data()), 255);
    EXPECT_EQ(BuildMsg(0x10, nullptr, 0, out.data()), 10);
}

TEST(Builders, EveryBuiltFrameRoundTripsThroughTheFramer) {
    struct Built {
        std::uint8_t id;
        Bytes payload;
        Bytes frame;
    };
    std::vector<Built> all;
    std::uint8_t out[300];
    auto add = [&](std::uint8_t n, std::uint8_t id, Bytes payload) {
        all.push_back({id, std::move(payload), Bytes(out, out + n)});
    };
    add(BuildRequestMsg(4, out), 0xFF, B({4}));
    add(BuildRequestMsg(0xFF, out), 0xFF, B({0xFF}));
    add(BuildNavRateMsg(1, out), 0x83, B({1}));
    add(BuildCorrectionsMsg(true, 123456, true, false, out), 0x81,
        B({1, 1, 0x40, 0xE2, 0x01, 0, 1, 1}));
    add(BuildPortConfigMsg(0, 0x2F, 0x1F, 38400, out), 0x82,
        Cat({Bytes(6, 0), B({0x2F, 0, 0, 0, 0x1F, 0, 0, 0, 0x00, 0x96, 0, 0}), Bytes(16, 0)}));
    for (std::size_t n : {0u, 1u, 8u, 100u, 245u}) {
        Bytes payload(n);
        for (std::size_t i = 0; i < n; ++i) {
            payload[i] = static_cast<std::uint8_t>(i * 37 + 0x0A); // includes CR, LF, "$", "x"
        }
        add(BuildMsg(static_cast<std::uint8_t>(n), payload.data(), n, out),
            static_cast<std::uint8_t>(n), payload);
    }

    Bytes stream;
    for (const Built& b : all) {
        stream = Cat({stream, b.frame});
    }
    const Received got = Feed(stream);
    ASSERT_EQ(got.frames.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Bytes& f = got.frames[i];
        EXPECT_EQ(f, all[i].frame);
        EXPECT_EQ(f[kFrameIdOffset], all[i].id);
        EXPECT_EQ(f[kFrameLengthOffset], f.size());
        EXPECT_EQ(Bytes(f.begin() + kPayloadOffset, f.end() - 4), all[i].payload);
    }
}

// ---------------------------------------------------------------------------------------
// Report readers

Bytes ConfigReport(std::size_t payloadLen) {
    Bytes payload(payloadLen, 0);
    for (std::size_t i = 0; i < payloadLen; ++i) {
        payload[i] = static_cast<std::uint8_t>(0x80 | (i & 0x3F)); // recognisable filler
    }
    auto put = [&](std::size_t at, std::initializer_list<int> v) {
        for (int x : v) {
            if (at < payloadLen) {
                payload[at] = static_cast<std::uint8_t>(x);
            }
            ++at;
        }
    };
    put(0, {2, 7});
    put(18, {0x2F, 0, 0, 0});
    put(26, {0x15, 0, 0, 0});
    put(30, {5});
    put(123, {3});
    put(130, {'b', 'e', 't'});
    return Frame(kMsgConfigReport, payload);
}

TEST(Readers, ConfigurationReport) {
    ConfigurationReport r;
    const Bytes shortForm = ConfigReport(130); // N = 140: no suffix
    ASSERT_TRUE(ReadConfigurationReport(shortForm.data(), int(shortForm.size()), r));
    EXPECT_EQ(r.versionMajor, 2);
    EXPECT_EQ(r.versionMinor, 7);
    EXPECT_EQ(r.binaryFlags, 0x2Fu);
    EXPECT_EQ(r.nmeaFlags, 0x15u);
    EXPECT_EQ(r.navRate, 5);
    EXPECT_EQ(r.engineLoadStatus, 3);
    EXPECT_STREQ(r.versionSuffix, "");

    const Bytes longForm = ConfigReport(134); // N = 144
    ASSERT_TRUE(ReadConfigurationReport(longForm.data(), int(longForm.size()), r));
    EXPECT_STREQ(r.versionSuffix, "bet");
    EXPECT_EQ(r.engineLoadStatus, 3);
}

TEST(Readers, ConfigurationReportNeverReadsPastItsPayload) {
    ConfigurationReport r;
    // N = 141 and 142 would put the suffix over the CRC: it is taken as empty.
    for (std::size_t n : {131u, 132u}) {
        const Bytes f = ConfigReport(n);
        ASSERT_TRUE(ReadConfigurationReport(f.data(), int(f.size()), r));
        EXPECT_STREQ(r.versionSuffix, "") << n;
    }
    const Bytes exact = ConfigReport(133);
    ASSERT_TRUE(ReadConfigurationReport(exact.data(), int(exact.size()), r));
    EXPECT_STREQ(r.versionSuffix, "bet");

    // Too short for the engine status: refused, record untouched.
    ConfigurationReport untouched;
    untouched.navRate = 99;
    for (std::size_t n : {0u, 1u, 31u, 123u}) {
        const Bytes f = ConfigReport(n);
        EXPECT_FALSE(ReadConfigurationReport(f.data(), int(f.size()), untouched)) << n;
    }
    EXPECT_EQ(untouched.navRate, 99);
    const Bytes ok = ConfigReport(124);
    EXPECT_TRUE(ReadConfigurationReport(ok.data(), int(ok.size()), untouched));
    // A length that claims less than the buffer holds is what counts.
    EXPECT_FALSE(ReadConfigurationReport(ok.data(), int(ok.size()) - 1, untouched));
    EXPECT_FALSE(ReadConfigurationReport(ok.data(), 5, untouched));
    EXPECT_FALSE(ReadConfigurationReport(nullptr, 200, untouched));
    // The other report's id is not a Configuration report.
    Bytes other = ok;
    other[kFrameIdOffset] = kMsgCorrectionsReport;
    EXPECT_FALSE(ReadConfigurationReport(other.data(), int(other.size()), untouched));
}

Bytes CorrectionsReport(std::size_t payloadLen, std::uint32_t channel, int mode, int waas,
                        int corr) {
    Bytes payload(payloadLen, 0x77);
    auto put = [&](std::size_t at, int v) {
        if (at < payloadLen) {
            payload[at] = static_cast<std::uint8_t>(v);
        }
    };
    for (int i = 0; i < 4; ++i) {
        put(2 + i, int((channel >> (8 * i)) & 0xFF));
    }
    put(45, mode);
    put(70, waas);
    put(71, corr);
    return Frame(kMsgCorrectionsReport, payload);
}

TEST(Readers, CorrectionsStatusReport) {
    CorrectionsStatusReport r;
    Bytes f = CorrectionsReport(72, 41000, 1, 1, 0);
    ASSERT_TRUE(ReadCorrectionsStatusReport(f.data(), int(f.size()), r));
    EXPECT_EQ(r.channel, 41000);
    EXPECT_TRUE(r.AlternateFrequency());
    EXPECT_TRUE(r.WaasAvailable());
    EXPECT_TRUE(r.WaasOn());
    EXPECT_TRUE(r.CorrectionsOn());

    f = CorrectionsReport(200, 0xFFFFFFFEu, 0, 2, 7);
    ASSERT_TRUE(ReadCorrectionsStatusReport(f.data(), int(f.size()), r));
    EXPECT_EQ(r.channel, -2);
    EXPECT_FALSE(r.AlternateFrequency());
    EXPECT_FALSE(r.WaasAvailable());
    EXPECT_FALSE(r.WaasOn());
    EXPECT_FALSE(r.CorrectionsOn());

    f = CorrectionsReport(72, 0, 9, 0, 1);
    ASSERT_TRUE(ReadCorrectionsStatusReport(f.data(), int(f.size()), r));
    EXPECT_TRUE(r.AlternateFrequency());
    EXPECT_TRUE(r.WaasAvailable());
    EXPECT_FALSE(r.WaasOn());

    CorrectionsStatusReport untouched;
    untouched.channel = 5;
    for (std::size_t n : {0u, 6u, 46u, 71u}) {
        f = CorrectionsReport(n, 41000, 1, 1, 0);
        EXPECT_FALSE(ReadCorrectionsStatusReport(f.data(), int(f.size()), untouched)) << n;
    }
    f = CorrectionsReport(72, 41000, 1, 1, 0);
    f[kFrameIdOffset] = kMsgConfigReport;
    EXPECT_FALSE(ReadCorrectionsStatusReport(f.data(), int(f.size()), untouched));
    EXPECT_EQ(untouched.channel, 5);
}

// ---------------------------------------------------------------------------------------
// Correction channel

TEST(Channel, Examples) {
    EXPECT_EQ(ChannelToMHz(41000), 1545.5);
    EXPECT_EQ(ChannelToMHz(0), 1525.0);
    EXPECT_DOUBLE_EQ(ChannelToMHz(-2), 1524.999);
    std::int32_t ch = -1;
    ASSERT_TRUE(MHzToChannel(1545.5, ch));
    EXPECT_EQ(ch, 41000);
    ASSERT_TRUE(MHzToChannel(1525.0, ch));
    EXPECT_EQ(ch, 0);
    // Rounded to the nearest channel, on both sides of 1525 MHz.
    ASSERT_TRUE(MHzToChannel(1525.00074, ch));
    EXPECT_EQ(ch, 1);
    ASSERT_TRUE(MHzToChannel(1525.00076, ch));
    EXPECT_EQ(ch, 2);
    ASSERT_TRUE(MHzToChannel(1524.99926, ch));
    EXPECT_EQ(ch, -1);
    ASSERT_TRUE(MHzToChannel(1524.99924, ch));
    EXPECT_EQ(ch, -2);
    ASSERT_TRUE(MHzToChannel(0.0, ch));
    EXPECT_EQ(ch, -3050000);
}

TEST(Channel, OutOfRangeIsRefusedNotConverted) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double mhz : {std::nan(""), inf, -inf, 1525.0 + 2147483648.0 / 2000.0,
                       1525.0 - 2147483649.0 / 2000.0, 1e300, -1e300}) {
        std::int32_t ch = 77;
        EXPECT_FALSE(MHzToChannel(mhz, ch)) << mhz;
        EXPECT_EQ(ch, 77);
    }
    // The extreme channels themselves still convert both ways.
    std::int32_t ch = 0;
    ASSERT_TRUE(MHzToChannel(ChannelToMHz(std::numeric_limits<std::int32_t>::max()), ch));
    EXPECT_EQ(ch, std::numeric_limits<std::int32_t>::max());
    ASSERT_TRUE(MHzToChannel(ChannelToMHz(std::numeric_limits<std::int32_t>::min()), ch));
    EXPECT_EQ(ch, std::numeric_limits<std::int32_t>::min());
}

} // namespace
