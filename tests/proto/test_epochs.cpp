// Epochs, the precision figures and the track files: sentences grouped by hand, a table
// of fixes whose figures were worked out by hand, and track files written out in full.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "proto/Epochs.h"
#include "proto/Nmea.h"
#include "proto/Precision.h"
#include "proto/Trackfiles.h"

namespace {

// "$" body "*" checksum, CR LF.
std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body)
        sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

void Feed(NmeaDecoder& d, EpochCollector& c, const std::string& body) {
    const std::string line = Sentence(body);
    const NmeaResult r = d.Decode(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    ASSERT_EQ(r.outcome, NmeaOutcome::Used) << line;
    c.Add(r, d.State());
}

FixEpoch Fix(std::int32_t second, double latitude, double longitude, int quality) {
    FixEpoch e;
    e.timeMs = second * 1000;
    e.valid = true;
    e.latitude = latitude;
    e.longitude = longitude;
    e.quality = quality;
    return e;
}

FixEpoch NoFix(std::int32_t second) {
    FixEpoch e;
    e.timeMs = second * 1000;
    e.quality = 0;
    return e;
}

} // namespace

// A GSA before any time belongs to no epoch; a GSA after a GGA belongs to it; the day is
// carried over midnight when no new date comes; a ZDA alone makes no epoch; an epoch
// without a GSA has no mode, rather than the one before.
TEST(EpochCollector, GroupsSentencesByTimeAndCarriesTheDate) {
    NmeaDecoder d;
    EpochCollector c;
    Feed(d, c, "GPGSA,A,2,01,02,03,,,,,,,,,,4.0,3.0,2.0");
    Feed(d, c, "GPGGA,235959.00,4730.00000,N,12215.00000,W,2,08,1.2,56.3,M,-17.2,M,1.0,0131");
    Feed(d, c, "GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.9,1.2,1.5");
    Feed(d, c, "GPRMC,235959.00,A,4730.00000,N,12215.00000,W,0.0,0.0,311226,,,D");
    Feed(d, c, "GPGGA,000000.00,4730.00000,N,12215.00000,W,1,07,1.4,56.0,M,-17.2,M,,");
    Feed(d, c, "GPZDA,000001.00,01,01,2027,00,00");
    Feed(d, c, "GPGGA,000002.00,,,,,0,00,,,M,,M,,");
    Feed(d, c, "GPRMC,000002.00,V,,,,,,,,,,N");
    EXPECT_EQ(c.Epochs().size(), 2u); // the last is still in progress
    c.Finish();

    const auto& e = c.Epochs();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].timeMs, 86'399'000);
    EXPECT_EQ(e[0].utcMs, 1'798'761'599'000); // 2026-12-31T23:59:59Z
    EXPECT_TRUE(e[0].valid);
    EXPECT_DOUBLE_EQ(e[0].latitude, 47.5);
    EXPECT_DOUBLE_EQ(e[0].longitude, -122.25);
    EXPECT_EQ(e[0].quality, 2);
    EXPECT_EQ(e[0].fixMode, 3);
    EXPECT_EQ(e[0].pdop, 1.9);
    EXPECT_EQ(e[0].vdop, 1.5);
    EXPECT_EQ(e[0].hdop, 1.2);
    EXPECT_EQ(e[0].satellitesUsed, 8);
    EXPECT_EQ(e[0].altitude, 56.3);
    EXPECT_EQ(e[0].correctionAge, 1.0);
    EXPECT_EQ(e[0].correctionStation, 131);

    EXPECT_EQ(e[1].utcMs, 1'798'761'600'000); // 2027-01-01T00:00:00Z, no date of its own
    EXPECT_TRUE(e[1].valid);
    EXPECT_EQ(e[1].quality, 1);
    EXPECT_FALSE(e[1].fixMode);
    EXPECT_FALSE(e[1].correctionAge);

    EXPECT_EQ(e[2].utcMs, 1'798'761'602'000);
    EXPECT_FALSE(e[2].valid);
    EXPECT_EQ(e[2].quality, 0);
    EXPECT_FALSE(e[2].altitude);
}

// Seven epochs a second apart, four of them valid fixes about a mean at 0° 0':
//   A 1e-5° north and B 1e-5° south, each a(1 - e²) π/180 1e-5 = 1.1057428 m away;
//   C 2e-5° east and D 2e-5° west, each a π/180 2e-5 = 2.2263898 m away;
// altitudes 10, 12, 11 and 15 m about their mean of 12 m.
TEST(Precision, FiguresOfFourFixesWorkedByHand) {
    const double north = 1.1057427582, east = 2.2263898159;
    std::deque<FixEpoch> epochs;
    epochs.push_back(Fix(0, 1e-5, 0.0, 2));
    epochs.push_back(NoFix(1));
    epochs.push_back(NoFix(2));
    epochs.push_back(Fix(3, -1e-5, 0.0, 2));
    epochs.push_back(Fix(4, 0.0, 2e-5, 2));
    epochs.push_back(Fix(5, 0.0, -2e-5, 1));
    epochs.push_back(NoFix(6));
    const double altitudes[] = {10, 12, 11, 15};
    const int satellites[] = {5, 6, 7, 8};
    const int modes[] = {3, 3, 2, 0};
    for (int i = 0, k = 0; i < 7; ++i) {
        if (!epochs[i].valid)
            continue;
        epochs[i].altitude = altitudes[k];
        epochs[i].satellitesUsed = satellites[k];
        if (modes[k] != 0)
            epochs[i].fixMode = modes[k];
        ++k;
    }
    epochs[0].hdop = 1.0;
    epochs[3].hdop = 2.0;
    epochs[5].hdop = 3.0;
    epochs[1].fixMode = 1;
    epochs[2].fixMode = 1;

    const PrecisionFigures f = ComputePrecision(epochs);
    EXPECT_EQ(f.epochs, 7u);
    EXPECT_EQ(f.fixes, 4u);
    EXPECT_EQ(f.differentialFixes, 3u);
    EXPECT_DOUBLE_EQ(f.spanSeconds, 6.0);
    EXPECT_NEAR(*f.meanLatitude, 0.0, 1e-15);
    EXPECT_NEAR(*f.meanLongitude, 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(*f.meanAltitude, 12.0);
    EXPECT_NEAR(*f.cep50, north, 1e-6); // rank 2 of 4
    EXPECT_NEAR(*f.cep95, east, 1e-6);  // rank 4 of 4
    EXPECT_NEAR(*f.sigmaEast, east * std::sqrt(2.0 / 3.0), 1e-6);
    EXPECT_NEAR(*f.sigmaNorth, north * std::sqrt(2.0 / 3.0), 1e-6);
    EXPECT_NEAR(*f.drms2, 2.0 * std::sqrt(2.0 / 3.0) * std::hypot(east, north), 1e-6);
    EXPECT_NEAR(*f.sigmaUp, std::sqrt(14.0 / 3.0), 1e-9); // (4 + 0 + 1 + 9) / 3
    EXPECT_DOUBLE_EQ(*f.vertical95, 3.0);
    EXPECT_DOUBLE_EQ(f.availability, 400.0 / 7.0);
    EXPECT_DOUBLE_EQ(f.longestGapSeconds, 3.0); // A to B
    EXPECT_DOUBLE_EQ(f.shareNoFix, 300.0 / 7.0);
    EXPECT_DOUBLE_EQ(f.shareGps, 100.0 / 7.0);
    EXPECT_DOUBLE_EQ(f.shareDifferential, 300.0 / 7.0);
    EXPECT_DOUBLE_EQ(f.shareEstimated + f.shareOtherQuality, 0.0);
    EXPECT_DOUBLE_EQ(f.share3D, 200.0 / 7.0);
    EXPECT_DOUBLE_EQ(f.share2D, 100.0 / 7.0);
    EXPECT_DOUBLE_EQ(f.shareModeNoFix, 200.0 / 7.0);
    EXPECT_DOUBLE_EQ(f.shareModeUnknown, 200.0 / 7.0);
    EXPECT_DOUBLE_EQ(*f.meanHdop, 2.0);
    EXPECT_DOUBLE_EQ(*f.maxHdop, 3.0);
    EXPECT_DOUBLE_EQ(*f.meanSatellites, 6.5);
    EXPECT_EQ(f.maxSatellites, 8);

    PrecisionCriteria strict;
    strict.maxCep95 = 2.0;
    strict.minAvailability = 60.0;
    strict.requireDifferential = true;
    EXPECT_EQ(FailedCriteria(f, strict),
              (std::vector<std::string>{"CEP95 2.23 m is over 2.00 m",
                                        "availability 57.14 % is under 60.00 %",
                                        "differential required, but 1 of 4 fixes were without "
                                        "it"}));
    PrecisionCriteria loose;
    loose.maxCep95 = 2.225;
    loose.minAvailability = 57.14;
    EXPECT_EQ(FailedCriteria(f, loose),
              (std::vector<std::string>{"CEP95 2.226 m is over 2.225 m"}));
    loose.maxCep95 = 2.3;
    EXPECT_TRUE(FailedCriteria(f, loose).empty());
    EXPECT_EQ(FailedCriteria(ComputePrecision({}), {}).size(), 1u); // no epoch fails
}

// Two fixes either side of 180°: their mean is on it, not at 0°, and each is
// a π/180 1e-5 = 1.1131949 m from it.
TEST(Precision, ATrackAcross180DegreesStaysWhole) {
    const PrecisionFigures f =
        ComputePrecision({Fix(0, 0.0, 179.99999, 1), Fix(1, 0.0, -179.99999, 1)});
    EXPECT_NEAR(std::fabs(*f.meanLongitude), 180.0, 1e-9);
    EXPECT_NEAR(*f.cep50, 1.1131949079, 1e-6);
    EXPECT_NEAR(*f.cep95, 1.1131949079, 1e-6);
}

namespace {

// Three epochs: a differential 3D fix with everything known, no fix, and a 2D fix
// south and east whose date is not known and that carries nothing else.
std::deque<FixEpoch> TrackEpochs() {
    std::deque<FixEpoch> epochs;
    FixEpoch a = Fix(16 * 3600 + 57 * 60 + 20, 47.5, -122.25, 2);
    a.utcMs = 1'796'835'440'000; // 2026-12-09T16:57:20Z
    a.altitude = 56.3;
    a.fixMode = 3;
    a.satellitesUsed = 8;
    a.hdop = 1.2;
    a.vdop = 1.5;
    a.pdop = 1.9;
    a.correctionAge = 1.0;
    a.correctionStation = 131;
    epochs.push_back(a);
    epochs.push_back(NoFix(16 * 3600 + 57 * 60 + 21));
    FixEpoch b = Fix(0, -33.123456789, 151.2, 1);
    b.timeMs = 1250;
    b.fixMode = 2;
    epochs.push_back(b);
    return epochs;
}

const char* const kGpx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<gpx version=\"1.1\" creator=\"A &amp; B &lt;test&gt;\" "
                         "xmlns=\"http://www.topografix.com/GPX/1/1\" "
                         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                         "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
                         "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
                         "  <trk>\n"
                         "    <trkseg>\n"
                         "      <trkpt lat=\"47.50000000\" lon=\"-122.25000000\">\n"
                         "        <ele>56.3</ele>\n"
                         "        <time>2026-12-09T16:57:20.000Z</time>\n"
                         "        <fix>dgps</fix>\n"
                         "        <sat>8</sat>\n"
                         "        <hdop>1.2</hdop>\n"
                         "        <vdop>1.5</vdop>\n"
                         "        <pdop>1.9</pdop>\n"
                         "        <ageofdgpsdata>1</ageofdgpsdata>\n"
                         "        <dgpsid>131</dgpsid>\n"
                         "      </trkpt>\n"
                         "      <trkpt lat=\"-33.12345679\" lon=\"151.20000000\">\n"
                         "        <fix>2d</fix>\n"
                         "      </trkpt>\n"
                         "    </trkseg>\n"
                         "  </trk>\n"
                         "</gpx>\n";

#ifndef _WIN32
std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
#endif

} // namespace

TEST(Trackfiles, GpxAndCsvOfThreeEpochs) {
    std::ostringstream gpx;
    EXPECT_TRUE(WriteGpx(gpx, TrackEpochs(), "A & B <test>"));
    EXPECT_EQ(gpx.str(), kGpx);

    std::ostringstream csv;
    EXPECT_TRUE(WriteCsv(csv, TrackEpochs()));
    EXPECT_EQ(csv.str(),
              "time,latitude,longitude,altitude_m,fix,satellites,hdop,vdop,pdop,dgps_age_s,"
              "dgps_station\r\n"
              "2026-12-09T16:57:20.000Z,47.50000000,-122.25000000,56.3,dgps,8,1.2,1.5,1.9,1,131\r\n"
              "00:00:01.250Z,-33.12345679,151.20000000,,2d,,,,,,\r\n");

    std::ostringstream full;
    full.setstate(std::ios::badbit);
    EXPECT_FALSE(WriteCsv(full, TrackEpochs()));
}

#ifndef _WIN32
// The GPX as other programs read it: well-formed for libxml2's xmllint, and read back by
// gpsbabel with the same points, times and elevations.
TEST(Trackfiles, GpxReadsBackInXmllintAndGpsbabel) {
    char dir[] = "/tmp/kestrane-gpx-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string gpx = std::string(dir) + "/track.gpx";
    const std::string csv = std::string(dir) + "/track.csv";
    {
        std::ofstream out(gpx, std::ios::binary);
        ASSERT_TRUE(WriteGpx(out, TrackEpochs(), "kestrane test"));
    }
    EXPECT_EQ(std::system(("xmllint --noout " + gpx).c_str()), 0);
    ASSERT_EQ(std::system(("gpsbabel -t -i gpx -f " + gpx + " -o unicsv,utc=0 -F " + csv).c_str()),
              0);
    std::istringstream lines(ReadFile(csv));
    std::filesystem::remove_all(dir);

    // Its columns by their names in its header row.
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        rows.emplace_back();
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');)
            rows.back().push_back(field);
        rows.back().resize(rows.front().size());
    }
    ASSERT_EQ(rows.size(), 3u);
    const auto column = [&](std::size_t row, const std::string& name) {
        for (std::size_t i = 0; i < rows[0].size(); ++i)
            if (rows[0][i] == name)
                return rows[row][i];
        ADD_FAILURE() << "no column " << name;
        return std::string();
    };
    EXPECT_NEAR(std::stod(column(1, "Latitude")), 47.5, 1e-6);
    EXPECT_NEAR(std::stod(column(1, "Longitude")), -122.25, 1e-6);
    EXPECT_EQ(std::stod(column(1, "Altitude")), 56.3);
    EXPECT_EQ(column(1, "Date") + " " + column(1, "Time"), "2026/12/09 16:57:20");
    EXPECT_NEAR(std::stod(column(2, "Latitude")), -33.123456789, 1e-6);
    EXPECT_NEAR(std::stod(column(2, "Longitude")), 151.2, 1e-6);
    EXPECT_EQ(column(2, "Altitude"), "");
    EXPECT_EQ(column(2, "Date") + column(2, "Time"), "");
}
#endif
