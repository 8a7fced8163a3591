// The NMEA decoder and the scatter statistics: sentences whose values were worked out
// by hand, the sentences that must be refused, every capture of the test data, and
// fixes of known distances.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "proto/Crlfproto.h"
#include "proto/Fixstatus.h"
#include "proto/Nmea.h"

namespace {

NmeaResult Feed(NmeaDecoder& d, const std::string& line) {
    return d.Decode(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
}

} // namespace

TEST(NmeaDecoder, SentencesWorkedByHand) {
    NmeaDecoder d;
    // 48° 07.038' N = 48 + 7.038 / 60; 011° 31.000' E = 11 + 31 / 60.
    NmeaResult r = Feed(d, "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    const NmeaState& s = d.State();
    ASSERT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_EQ(r.type, NmeaType::GGA);
    EXPECT_TRUE(r.validPosition);
    EXPECT_EQ(s.time->Milliseconds(), (12 * 3600 + 35 * 60 + 19) * 1000);
    EXPECT_EQ(s.time->fractionDigits, 0);
    EXPECT_DOUBLE_EQ(s.latitude->degrees, 48.1173);
    EXPECT_EQ(s.latitude->wholeDegrees, 48);
    EXPECT_STREQ(s.latitude->minutes, "07.038");
    EXPECT_EQ(s.latitude->hemisphere, 'N');
    EXPECT_NEAR(s.longitude->degrees, 11.5166667, 1e-7);
    EXPECT_STREQ(s.longitude->minutes, "31.000");
    EXPECT_EQ(*s.quality, 1);
    EXPECT_EQ(*s.satellitesUsed, 8);
    EXPECT_DOUBLE_EQ(*s.hdop, 0.9);
    EXPECT_DOUBLE_EQ(*s.altitude, 545.4);
    EXPECT_DOUBLE_EQ(*s.geoidSeparation, 46.9);
    EXPECT_FALSE(s.correctionAge.has_value());
    EXPECT_FALSE(s.correctionStation.has_value());

    // South and west, three degree digits, a differential fix at 5 Hz (hundredths).
    r = Feed(d, "$GPGGA,001038.20,3342.6618,S,15112.5612,W,2,10,1.2,27.0,M,-34.2,M,3.2,0131*52");
    ASSERT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_EQ(s.time->Milliseconds(), (10 * 60 + 38) * 1000 + 200);
    EXPECT_EQ(s.time->fractionDigits, 2);
    EXPECT_NEAR(s.latitude->degrees, -33.711030, 1e-9);
    EXPECT_NEAR(s.longitude->degrees, -151.2093533, 1e-7);
    EXPECT_EQ(s.longitude->wholeDegrees, 151);
    EXPECT_EQ(s.longitude->hemisphere, 'W');
    EXPECT_DOUBLE_EQ(*s.geoidSeparation, -34.2);
    EXPECT_DOUBLE_EQ(*s.correctionAge, 3.2);
    EXPECT_EQ(*s.correctionStation, 131);

    r = Feed(d, "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39");
    ASSERT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_EQ(*s.fixMode, 3);
    ASSERT_EQ(s.prnCount, 5u);
    EXPECT_EQ(std::vector<int>(s.prns.begin(), s.prns.begin() + 5), (std::vector<int>{4, 5, 9, 12, 24}));
    EXPECT_DOUBLE_EQ(*s.pdop, 2.5);
    EXPECT_DOUBLE_EQ(*s.hdop, 1.3);
    EXPECT_DOUBLE_EQ(*s.vdop, 2.1);

    // Lower-case checksum digits are as good as upper-case ones. 22.4 kn = 41.4848 km/h.
    r = Feed(d, "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a");
    ASSERT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_TRUE(r.validPosition);
    EXPECT_DOUBLE_EQ(*s.speedKnots, 22.4);
    EXPECT_NEAR(*s.speedKmh, 41.4848, 1e-9);
    EXPECT_DOUBLE_EQ(*s.course, 84.4);
    EXPECT_EQ(s.date->day, 23);
    EXPECT_EQ(s.date->month, 3);
    EXPECT_EQ(s.date->year, 1994);

    r = Feed(d, "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48");
    ASSERT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_DOUBLE_EQ(*s.course, 54.7);
    EXPECT_DOUBLE_EQ(*s.speedKnots, 5.5);
    EXPECT_DOUBLE_EQ(*s.speedKmh, 10.2);

    r = Feed(d, "$GPZDA,201530.00,04,07,2002,00,00*60");
    ASSERT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_EQ(s.time->Milliseconds(), (20 * 3600 + 15 * 60 + 30) * 1000);
    EXPECT_EQ(s.date->year, 2002);
    EXPECT_EQ(s.date->month, 7);
    EXPECT_EQ(s.date->day, 4);

    // Empty fields are unknown, not zero: what the last GGA set is forgotten.
    r = Feed(d, "$GPGGA,,,,,,0,,,,,,,,*66");
    ASSERT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_FALSE(r.validPosition);
    EXPECT_EQ(*s.quality, 0);
    EXPECT_FALSE(s.time || s.latitude || s.longitude || s.satellitesUsed || s.hdop ||
                 s.altitude || s.geoidSeparation || s.correctionAge || s.correctionStation);
    EXPECT_TRUE(s.pdop.has_value()); // GSA's own values stay

    // No checksum: taken, when every field is there.
    r = Feed(d, "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,\r\n");
    EXPECT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_DOUBLE_EQ(*s.altitude, 545.4);

    // A void RMC, or mode N, is no fix to plot; its other values are still used.
    r = Feed(d, "$GPRMC,123520,V,4807.038,N,01131.000,E,,,230394,,,N*62");
    EXPECT_EQ(r.outcome, NmeaOutcome::Used);
    EXPECT_FALSE(r.validPosition);
    EXPECT_FALSE(s.speedKnots || s.speedKmh || s.course);

    EXPECT_EQ(d.UsedCount(), 9u);
    EXPECT_EQ(d.UnusableCount(), 0u);
}

TEST(NmeaDecoder, RefusedSentencesChangeNothingAndAreCounted) {
    const char* const refused[] = {
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48", // checksum
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*4",  // one digit
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08",                          // cut short
        "$GPGGA,123519,4860.000,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*4D", // 60 minutes
        "$GPGGA,123519,4807.038,X,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*51", // hemisphere
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9a,545.4,M,46.9,M,,*26", // a letter
        "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,231394,003.1,W*6B", // month 13
        "$GPGSA,A,4,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*3E",                      // mode 4
        "$GPRMC,005954.00,A,3715.6616,N,12157.6709,W,0.0,0.0$GPGGA,005955.00,*5A", // run together
        "$GPVTG,,T,,M,2C",
        "$GP",
    };
    NmeaDecoder d;
    ASSERT_EQ(Feed(d, "$GPZDA,201530.00,04,07,2002,00,00*60").outcome, NmeaOutcome::Used);
    for (const char* line : refused) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Feed(d, line).outcome, NmeaOutcome::Unusable);
    }
    EXPECT_EQ(d.UnusableCount(), std::size(refused));
    EXPECT_EQ(d.UsedCount(), 1u);
    const NmeaState& s = d.State();
    EXPECT_FALSE(s.latitude || s.quality || s.fixMode || s.speedKnots);
    EXPECT_EQ(s.time->Milliseconds(), (20 * 3600 + 15 * 60 + 30) * 1000);

    // A sound GP sentence of another type is neither used nor unusable.
    EXPECT_EQ(Feed(d, "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74")
                  .outcome,
              NmeaOutcome::Other);
    EXPECT_EQ(d.OtherCount(), 1u);
    EXPECT_EQ(d.UnusableCount(), std::size(refused));
}

// Lines of real receivers whose layout departs from the usual one, each read field by
// field. From the gpsd project's test captures (BSD-2-Clause): test/daemon/saab-r4.log
// (Saab R4, as kept in the mirror ukyg9e5r6k7gubiekd6/gpsd at 11a189656c22), and
// test/daemon/motorola-t805.log and mtk-3301.log (ntpsec/gpsd at e9597931e19e and
// dd17936ae45d).
//   - The Saab's GGA stops after the geoid separation's unit: 13 fields, checksum right.
//   - The Saab's and the Motorola's RMC have 11 fields, their mode where the
//     variation's E/W belongs (the Motorola with a variation of 0 before it).
//   - The MediaTek, before its first fix, sends 89° 60' N 0° E as a placeholder (with
//     quality 0 and status V): time and date are kept, the position is unknown. The
//     last line is the same GGA made with a longitude of 360° (checksum recomputed).
TEST(NmeaDecoder, ReceiversVariantsAreReadByPosition) {
    struct Case {
        const char* line;
        std::int32_t milliseconds;
        int day; // 0: no date in the sentence
        double latitude;
        double longitude;
        bool position; // known after the sentence
        bool valid;    // a fix to plot
    };
    const Case cases[] = {
        {"$GPGGA,130711,5012.790800,N,00806.879600,W,2,,,,,,,*6A", (13 * 3600 + 7 * 60 + 11) * 1000,
         0, 50 + 12.7908 / 60, -(8 + 6.8796 / 60), true, true},
        {"$GPRMC,130711.00,A,5012.790800,N,00806.879600,W,0.5,3.0,010611,,A*6A",
         (13 * 3600 + 7 * 60 + 11) * 1000, 1, 50 + 12.7908 / 60, -(8 + 6.8796 / 60), true, true},
        {"$GPRMC,212615.879,A,4839.9396,N,00214.8909,E,0.78,237.93,181207,0,A*75",
         (21 * 3600 + 26 * 60 + 15) * 1000 + 879, 18, 48 + 39.9396 / 60, 2 + 14.8909 / 60, true,
         true},
        {"$GPGGA,235946.005,8960.000000,N,00000.000000,E,0,0,,137.000,M,13.000,M,,*49",
         (23 * 3600 + 59 * 60 + 46) * 1000 + 5, 0, 0, 0, false, false},
        {"$GPRMC,235946.005,V,8960.000000,N,00000.000000,E,0.000,0.00,050180,,,N*47",
         (23 * 3600 + 59 * 60 + 46) * 1000 + 5, 5, 0, 0, false, false},
        {"$GPGGA,235946.005,0000.000000,N,36000.000000,E,0,0,,137.000,M,13.000,M,,*4B",
         (23 * 3600 + 59 * 60 + 46) * 1000 + 5, 0, 0, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        NmeaDecoder d;
        const NmeaResult r = Feed(d, c.line);
        EXPECT_EQ(r.outcome, NmeaOutcome::Used);
        if (r.outcome != NmeaOutcome::Used)
            continue;
        EXPECT_EQ(r.validPosition, c.valid);
        const NmeaState& s = d.State();
        EXPECT_EQ(s.time->Milliseconds(), c.milliseconds);
        EXPECT_EQ(s.date.has_value(), c.day != 0);
        if (s.date && c.day != 0) {
            EXPECT_EQ(s.date->day, c.day);
        }
        EXPECT_EQ(s.latitude.has_value() && s.longitude.has_value(), c.position);
        if (c.position && s.latitude && s.longitude) {
            EXPECT_NEAR(s.latitude->degrees, c.latitude, 1e-9);
            EXPECT_NEAR(s.longitude->degrees, c.longitude, 1e-9);
        }
    }
}

// A GSA's precisions are its last three fields, or the three before an NMEA 4.1 system
// id: a receiver that sends 24 satellite slots (15 of them used) puts them after the
// 24th, where a reading of twelve slots would take PRNs 25, 29 and 30 for them.
TEST(NmeaDecoder, GsaPrecisionsAreItsLastFields) {
    const char* const lines[] = {
        "$GPGSA,A,3,02,05,06,07,09,12,13,15,17,19,20,24,25,29,30,,,,,,,,,,1.8,1.0,1.5*31",
        "$GPGSA,A,3,02,05,06,07,09,12,13,15,17,19,20,24,25,29,30,,,,,,,,,,1.8,1.0,1.5,1*2C",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        NmeaDecoder d;
        ASSERT_EQ(Feed(d, "$GPGGA,123519,4807.038,N,01131.000,E,1,15,0.9,545.4,M,46.9,M,,*4B").outcome,
                  NmeaOutcome::Used);
        ASSERT_EQ(Feed(d, line).outcome, NmeaOutcome::Used);
        const NmeaState& s = d.State();
        EXPECT_EQ(*s.fixMode, 3);
        EXPECT_DOUBLE_EQ(*s.pdop, 1.8);
        EXPECT_DOUBLE_EQ(*s.hdop, 1.0);
        EXPECT_DOUBLE_EQ(*s.vdop, 1.5);
        // The first twelve used satellites are kept.
        ASSERT_EQ(s.prnCount, kNmeaMaxPrns);
        EXPECT_EQ(s.prns[0], 2);
        EXPECT_EQ(s.prns[11], 24);
    }
    NmeaDecoder d;
    ASSERT_EQ(Feed(d, "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1,1*24").outcome, NmeaOutcome::Used);
    EXPECT_DOUBLE_EQ(*d.State().pdop, 2.5);
    EXPECT_DOUBLE_EQ(*d.State().vdop, 2.1);
}

// A date is refused unless its day exists in its month: 31 February never, 29 February
// in leap years only (2024 and 2000 are, 2100 is not: a century year must divide by 400).
TEST(NmeaDecoder, TheDayMustExistInItsMonth) {
    NmeaDecoder d;
    EXPECT_EQ(Feed(d, "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,310226,003.1,W*61").outcome,
              NmeaOutcome::Unusable);
    EXPECT_EQ(Feed(d, "$GPZDA,201530.00,29,02,2100,00,00*69").outcome, NmeaOutcome::Unusable);
    EXPECT_FALSE(d.State().date.has_value());

    ASSERT_EQ(Feed(d, "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,290224,003.1,W*6A").outcome,
              NmeaOutcome::Used);
    EXPECT_EQ(d.State().date->year, 2024);
    EXPECT_EQ(d.State().date->day, 29);
    ASSERT_EQ(Feed(d, "$GPZDA,201530.00,29,02,2000,00,00*68").outcome, NmeaOutcome::Used);
    EXPECT_EQ(d.State().date->year, 2000);
}

// Every capture of the test data, cut as the main window cuts it: nothing faults (the
// sanitizer builds watch), every line is counted once, and the captures of receivers
// that send only sound sentences have none refused.
TEST(NmeaDecoder, EveryCaptureDecodes) {
    std::vector<std::string> files;
    const char* dir = KESTRANE_TEST_DATA "/nmea";
    DIR* d = opendir(dir);
    ASSERT_NE(d, nullptr) << dir;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0)
            files.push_back(std::string(dir) + "/" + name);
    }
    closedir(d);
    EXPECT_GE(files.size(), 6u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        CRLFProto lines;
        FixStatus status;
        std::uint64_t gpLines = 0;
        for (char c : bytes) {
            if (!lines.ProcessByte(static_cast<std::uint8_t>(c)))
                continue;
            const std::uint8_t* l = lines.GetMsg();
            if (lines.GetMsgLen() >= 3 && l[0] == '$' && l[1] == 'G' && l[2] == 'P') {
                status.AddSentence(l, lines.GetMsgLen(), 0);
                ++gpLines;
            }
        }
        const NmeaDecoder& d = status.Decoder();
        EXPECT_EQ(d.UsedCount() + d.UnusableCount() + d.OtherCount(), gpLines);
        if (path.find("firefly-II") != std::string::npos) {
            // 68 lines: 22 GGA (the first runs into the header) whose checksums do not
            // match their bytes (the first sends 5B for bytes that give 59), 23 RMC and
            // 23 ZDA. One fix a second, from the RMC, each plotted once.
            EXPECT_EQ(d.UsedCount(), 46u);
            EXPECT_EQ(d.UnusableCount(), 22u);
            EXPECT_EQ(status.History().Count(), 23u);
            // The last fix: 37° 15.6609' N, 121° 57.6699' W; the altitude only GGA tells.
            EXPECT_NEAR(d.State().latitude->degrees, 37 + 15.6609 / 60, 1e-9);
            EXPECT_NEAR(d.State().longitude->degrees, -(121 + 57.6699 / 60), 1e-9);
            EXPECT_FALSE(d.State().altitude.has_value());
        }
        if (path.find("gp-320fw") != std::string::npos) {
            EXPECT_GT(d.UnusableCount(), 0u); // its broken sentences
        }
    }
}

// At the equator a degree of latitude is 110 574 m and one of longitude 111 320 m
// (WGS-84), so fixes 1e-5 degree apart lie 1.106 m north or 1.113 m east of each other.
TEST(DeviationHistory, MetresAndCircles) {
    DeviationHistory h;
    EXPECT_EQ(h.Compute().count, 0u);
    EXPECT_FALSE(h.Compute().cep50.has_value());
    h.Add(0.0, 0.0);
    DeviationHistory::Stats one = h.Compute();
    EXPECT_EQ(*one.cep50, 0.0);
    EXPECT_FALSE(one.sigmaEast.has_value()); // needs two fixes

    // Four fixes on a square's corners about (0.5e-5, 0.5e-5): all the same distance
    // from the mean, half the diagonal.
    h.Add(1e-5, 0.0);
    h.Add(0.0, 1e-5);
    h.Add(1e-5, 1e-5);
    DeviationHistory::Stats s = h.Compute();
    EXPECT_NEAR(h.North(1), 1.10574, 1e-4);
    EXPECT_NEAR(h.East(2), 1.11320, 1e-4);
    const double half = std::hypot(1.10574, 1.11320) / 2;
    EXPECT_NEAR(*s.cep50, half, 1e-4);
    EXPECT_NEAR(*s.cep95, half, 1e-4);
    // Sample deviation of {0, 0, a, a}: a / sqrt(3).
    EXPECT_NEAR(*s.sigmaNorth, 1.10574 / std::sqrt(3.0), 1e-4);
    EXPECT_NEAR(*s.sigmaEast, 1.11320 / std::sqrt(3.0), 1e-4);

    // 600 fixes on the equator at the antimeridian, 19 of them 100 m east of the rest
    // (across it): the 95 % circle reaches them only when more than 5 % of the fixes
    // are out there, and 19 are not.
    h.Clear();
    for (int i = 0; i < 600; ++i)
        h.Add(0.0, i < 581 ? 180.0 : -180.0 + 100.0 / 111320.0);
    s = h.Compute();
    EXPECT_EQ(s.count, 600u);
    // 19 fixes about 100 m east; the mean is 19 * 100 / 600 = 3.17 m east of the rest.
    EXPECT_NEAR(s.meanEast, 19 * 100.0 / 600, 0.01);
    EXPECT_NEAR(*s.cep50, 19 * 100.0 / 600, 0.01);
    EXPECT_NEAR(*s.cep95, 19 * 100.0 / 600, 0.01);
    EXPECT_NEAR(s.largestDistance, 100.0 - 19 * 100.0 / 600, 0.01);

    // The 601st fix pushes out the oldest.
    h.Add(0.0, 180.0);
    EXPECT_EQ(h.Count(), 600u);
    EXPECT_NEAR(h.East(599), 0.0, 1e-9);
    EXPECT_NEAR(h.East(579), 0.0, 1e-9);
    EXPECT_NEAR(h.East(580), 100.0, 0.01);
}

// Fixes at the pole. At 89.9999° N a fix lies on the parallel whose radius is
// a cos(phi) / sqrt(1 - e^2 sin^2(phi)) with WGS-84's a = 6378137 m and
// e^2 = f (2 - f), f = 1 / 298.257223563: 11.169398 m (Python's math module, doubles).
// Four fixes on that parallel at 0°, 90° E, 180° and 90° W are the corners of a square
// about the polar axis, the pole itself its centre: four fixes 11.169398 m from the
// mean and one at it, so both circles reach 11.169398 m, and each axis sees two
// corners at +-11.169398 m and three at 0: a sample deviation of 11.169398 / sqrt(2)
// = 7.897957 m. Taken from a corner, the 90° E one lies 11.169398 m east and as far
// north (across the pole's side). The figures do not depend on which fix comes first,
// the pole included.
TEST(DeviationHistory, AtThePole) {
    const double radius = 11.169398;
    const double sigma = 7.897957;
    const double corners[][2] = {{89.9999, 0.0}, {89.9999, 90.0}, {89.9999, 180.0}, {89.9999, -90.0}};
    DeviationHistory h;
    for (const bool poleFirst : {false, true}) {
        SCOPED_TRACE(poleFirst ? "the pole first" : "a corner first");
        h.Clear();
        if (poleFirst)
            h.Add(90.0, 0.0);
        for (const auto& c : corners)
            h.Add(c[0], c[1]);
        if (!poleFirst) {
            h.Add(90.0, 0.0);
            EXPECT_NEAR(h.East(1), radius, 1e-5);
            EXPECT_NEAR(h.North(1), radius, 1e-5);
        }
        const DeviationHistory::Stats s = h.Compute();
        EXPECT_NEAR(*s.cep50, radius, 1e-5);
        EXPECT_NEAR(*s.cep95, radius, 1e-5);
        EXPECT_NEAR(s.largestDistance, radius, 1e-5);
        EXPECT_NEAR(*s.sigmaEast, sigma, 1e-5);
        EXPECT_NEAR(*s.sigmaNorth, sigma, 1e-5);
    }
}

// A fix is plotted once per epoch (GGA and RMC of one time), only with a valid
// position, and "no data" follows the arrival of GGA and RMC alone.
TEST(FixStatus, OneFixPerEpochAndTheAgeOfTheLastFixSentence) {
    FixStatus f;
    EXPECT_TRUE(f.Stale(100));
    const auto add = [&](const char* line, std::int64_t now) {
        return f.AddSentence(reinterpret_cast<const std::uint8_t*>(line), std::strlen(line), now);
    };
    add("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", 100);
    add("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A", 100);
    EXPECT_EQ(f.History().Count(), 1u);
    add("$GPRMC,123520,V,4807.038,N,01131.000,E,,,230394,,,N*62", 101);
    EXPECT_EQ(f.History().Count(), 1u);
    add("$GPZDA,201530.00,04,07,2002,00,00*60", 103);
    EXPECT_FALSE(f.Stale(103));
    EXPECT_TRUE(f.Stale(104));
    EXPECT_EQ(f.SecondsWithoutFix(110), 9);
    f.ClearHistory();
    EXPECT_EQ(f.History().Count(), 0u);
    add("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", 111);
    EXPECT_EQ(f.History().Count(), 1u); // the same time as before the Clear: a new start
}
