// The simulator's building blocks on their own: the mismatched-line model, the record
// digest and software file helpers, NMEA checksums and version texts.

#include "loader/Softwarefile.h"
#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "sim/Simcore.h"
#include "sim/Simline.h"
#include "sim/Simnmea.h"
#include "sim/Simrecords.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string TempPath(const char* name) {
    return (testing::TempDir() + name + std::to_string(getpid()));
}

void WriteFile(const std::string& path, const std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

TEST(SimLine, SameRateDeliversTheBytesAsSent) {
    const Bytes in = ToBytes("GPGGA,1\r\n\x00\xff\x55\xaa");
    Bytes out;
    GarbleForRate(in.data(), in.size(), 19200, 19200, out);
    EXPECT_EQ(out, in);
}

TEST(SimLine, MismatchedRatesNeverYieldAFrameOrASentence) {
    // A stream the receiver might send: sentences and binary frames, back to back.
    std::string stream;
    for (int i = 0; i < 5; ++i) {
        stream += NmeaSentence("GPGGA,120000.00,4730.00000,N,12200.00000,W,1,08,1.0,50.0,M,"
                               "-17.2,M,,");
        std::uint8_t frame[kRequestMsgLen];
        stream.append(reinterpret_cast<const char*>(frame), BuildRequestMsg(4, frame));
    }
    const Bytes in = ToBytes(stream);
    for (std::uint32_t tx : kSimRates) {
        for (std::uint32_t rx : kSimRates) {
            if (tx == rx) {
                continue;
            }
            Bytes out;
            GarbleForRate(in.data(), in.size(), tx, rx, out);
            SCOPED_TRACE(std::to_string(tx) + " -> " + std::to_string(rx));
            // A slower receiver reads fewer bytes, a faster one reads at least one per byte.
            if (rx < tx) {
                EXPECT_LT(out.size(), in.size());
            } else {
                EXPECT_GE(out.size(), in.size());
            }
            DiagProto diag;
            CRLFProto lines;
            for (std::uint8_t b : out) {
                EXPECT_NE(b, '$');
                EXPECT_FALSE(diag.ProcessByte(b));
                if (lines.ProcessByte(b)) {
                    const std::string line(reinterpret_cast<const char*>(lines.GetMsg()),
                                           lines.GetMsgLen());
                    EXPECT_NE(line.substr(0, 3), "$GP");
                }
            }
        }
    }
    Bytes none;
    GarbleForRate(in.data(), in.size(), 19200, 0, none);
    EXPECT_TRUE(none.empty()); // a hung-up line reads nothing
}

TEST(SimRecords, DigestSeesWhereOneRecordEndsAndTheNextBegins) {
    const std::vector<SimRecord> a = {{0x3B, 0x01}, {0x3B}};
    const std::vector<SimRecord> b = {{0x3B}, {0x01, 0x3B}};
    EXPECT_NE(DigestOfRecords(a), DigestOfRecords(b));
    EXPECT_EQ(DigestOfRecords(a), DigestOfRecords(a));
    RecordDigest d;
    for (const SimRecord& r : a) {
        d.Add(r);
    }
    EXPECT_EQ(d.Value(), DigestOfRecords(a));
    EXPECT_EQ(d.Count(), 2u);
    d.Clear();
    EXPECT_EQ(d.Value(), DigestOfRecords({}));
}

TEST(SimRecords, FileLinesBecomeRecords) {
    const std::string path = TempPath("records");
    // Mark and digits, lower case, a non-digit, an odd digit count, an empty line, a line
    // ended by LF alone and a last line with no line end.
    WriteFile(path, ":0A1B\r\n:0a1b\r\n:0G\r\n:ABC\r\n\r\n:12\n:FF");
    std::vector<SimRecord> records;
    ASSERT_TRUE(SoftwareFileRecords(path, records));
    const std::vector<SimRecord> expected = {
        {0x3B, 0x0A, 0x1B}, {0x3B, 0x0A, 0x1B}, {0x3B, 0x0F}, {0x3B, 0xAB, 0xCF}, {0x3B},
        {0x3B, 0x12},       {0x3B, 0xFF}};
    EXPECT_EQ(records, expected);
    std::remove(path.c_str());
    EXPECT_FALSE(SoftwareFileRecords(path, records));
}

TEST(SimRecords, GeneratedFilesReadTheSameByTheLoader) {
    const std::string path = TempPath("generated");
    ASSERT_TRUE(WriteSoftwareFile(path, 40, 98, 7));
    std::vector<SimRecord> mine;
    ASSERT_TRUE(SoftwareFileRecords(path, mine));
    ASSERT_EQ(mine.size(), 40u);
    // The program's own reader, an independent implementation, must give the same bytes.
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    RecordLine line;
    std::size_t i = 0;
    while (ReadRecordLine(f, line) == LineRead::Line) {
        SoftwareRecord rec;
        const std::uint8_t len = RecordFromLine(line.View(), rec);
        ASSERT_LT(i, mine.size());
        EXPECT_EQ(SimRecord(rec.bytes, rec.bytes + len), mine[i]);
        EXPECT_EQ(mine[i].size(), 99u);
        ++i;
    }
    std::fclose(f);
    EXPECT_EQ(i, 40u);
    // The same arguments give the same file; another seed another.
    std::vector<SimRecord> again;
    ASSERT_TRUE(WriteSoftwareFile(path, 40, 98, 7));
    ASSERT_TRUE(SoftwareFileRecords(path, again));
    EXPECT_EQ(again, mine);
    ASSERT_TRUE(WriteSoftwareFile(path, 40, 98, 8));
    ASSERT_TRUE(SoftwareFileRecords(path, again));
    EXPECT_NE(again, mine);
    EXPECT_FALSE(WriteSoftwareFile(path, 1, 99, 1)); // more than a record holds
    std::remove(path.c_str());
}

TEST(SimNmea, ChecksumOfAKnownSentence) {
    EXPECT_EQ(NmeaChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), 0x47);
    EXPECT_EQ(NmeaSentence("GPXXX,1"), "$GPXXX,1*52\r\n");
}

TEST(SimVersionText, ParsesAndPrints) {
    SimVersion v;
    ASSERT_TRUE(SimVersion::Parse("10.12abc", v));
    EXPECT_EQ(v.Text(), "10.12abc");
    ASSERT_TRUE(SimVersion::Parse("2.5", v));
    EXPECT_EQ(v.Text(), "2.5");
    for (const char* bad : {"2", ".5", "2.", "256.1", "2.5abcd", "x.1", ""}) {
        EXPECT_FALSE(SimVersion::Parse(bad, v)) << bad;
    }
}

} // namespace
