// The link's health: counts and rates of a stream of known make-up through the real
// framers on the fake clock, the alerts' hysteresis on a fix and corrections that come
// and go, and the strip charts' bounded history.

#include "proto/Alerts.h"
#include "proto/Linkstats.h"
#include "proto/Striphistory.h"

#include "base/Clock.h"
#include "framing_helpers.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const std::string kGga =
    "$GPGGA,123519.00,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,3.0,0120*44\r\n";
const std::string kGgaGps =
    "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69\r\n";
const std::string kGgaNoFix = "$GPGGA,123519.00,,,,,0,00,,,M,,M,,*45\r\n";
const std::string kGgaOldCorrections =
    "$GPGGA,123519.00,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,45.0,0120*76\r\n";
const std::string kRmc =
    "$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*44\r\n";

// What a receiver's second holds: 5 GGA, 5 frames of id 0x10 (two with CR LF inside,
// in the length byte and in the payload, one whose CRC's high byte is CR), an RMC, a GSA without a
// checksum, a frame of id 4, two lines refused by their checksum (VTG's wrong, ZDA's cut to one
// digit) and three that are no sentences (noise, another talker, a proprietary sentence).
Bytes SecondOfTraffic() {
    Bytes crcHighCr;
    for (int k = 0; crcHighCr.empty() || crcHighCr[crcHighCr.size() - 3] != 0x0D; ++k) {
        crcHighCr = Frame(0x10, B({k & 0xFF, k >> 8, 7}));
    }
    return Cat({B(kGga), Frame(0x10, B({1, 2, 3})), B(kGga), Frame(0x10, B({0x0D, 0x0A, 9})),
                B(kGga), crcHighCr, B(kRmc), B("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1\r\n"),
                B(kGga), Frame(0x10, B({4, 0x0D, 0x0A, 5})), Frame(4, Bytes(40, 0x24)),
                B("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*49\r\n"),
                B("$GPZDA,123519.00,04,07,2002,00,00*6\r\n"), B(kGga),
                B({0x01, 0xFF, 'z', 'z', 0x0D, 0x0A}),
                B("$GNGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*27\r\n"),
                B("$PGRMZ,246,f,3*1B\r\n"), Frame(0x10, B({6}))});
}

// The receive step's order: the block, then each byte to the binary framer and then to
// the line framer, each message handed on at once.
// A reader that has only the frame's id at hand may count it so.
struct Link {
    bool idOnly = false;
    DiagProto diag;
    CRLFProto line;
    LinkStats stats;

    void Receive(const Bytes& block, std::int64_t nowMs) {
        stats.BytesReceived(block.size(), nowMs);
        for (std::uint8_t b : block) {
            if (diag.ProcessByte(b)) {
                if (idOnly)
                    stats.FrameReceived(diag.GetMsg()[kFrameIdOffset], nowMs);
                else
                    stats.FrameReceived(diag.GetMsg(), diag.GetMsgLen(), nowMs);
            }
            if (line.ProcessByte(b))
                stats.LineReceived(line.GetMsg(), line.GetMsgLen(), nowMs);
        }
    }
};

std::string Table(const std::vector<LinkStats::Entry>& entries) {
    std::ostringstream out;
    for (const LinkStats::Entry& e : entries)
        out << e.name << " " << e.count << " " << e.rate << "; ";
    return out.str();
}

} // namespace

TEST(LinkStats, CountsAndRatesOfAKnownStream) {
    FakeClock clock(1000);
    Link link;
    Link byId;
    byId.idOnly = true;
    const Bytes second = SecondOfTraffic();
    EXPECT_FALSE(link.stats.MsSinceLastByte(clock.Milliseconds()));
    clock.AdvanceMilliseconds(500);
    for (int s = 0; s < 20; ++s) {
        link.Receive(second, clock.Milliseconds());
        byId.Receive(second, clock.Milliseconds());
        if (s == 19) { // the current second counting too: still the ten before it
            EXPECT_EQ(Table(link.stats.Binary(clock.Milliseconds())), "ID 16 100 5; ID 4 20 1; ");
        }
        clock.Advance(1);
        if (s == 0) { // the first byte's second was seen in part: no rate yet
            EXPECT_EQ(Table(link.stats.Sentences(clock.Milliseconds())),
                      "GGA 5 0; RMC 1 0; GSA 1 0; ");
        } else if (s == 1) { // one whole second
            EXPECT_EQ(Table(link.stats.Sentences(clock.Milliseconds())),
                      "GGA 10 5; RMC 2 1; GSA 2 1; ");
        }
    }
    const std::int64_t now = clock.Milliseconds(); // 1020.5 s
    EXPECT_EQ(Table(link.stats.Sentences(now)), "GGA 100 5; RMC 20 1; GSA 20 1; ");
    EXPECT_EQ(Table(link.stats.Binary(now)), "ID 16 100 5; ID 4 20 1; ");
    EXPECT_EQ(link.stats.ChecksumRefused(), 40u);
    EXPECT_EQ(link.stats.NotSentences(), 60u);
    EXPECT_EQ(byId.stats.NotSentences(), 60u + 40u); // two frames cut by their CR LF
    EXPECT_EQ(Table(byId.stats.Binary(now)), "ID 16 100 5; ID 4 20 1; ");
    EXPECT_EQ(link.stats.Bytes(), 20 * second.size());
    EXPECT_DOUBLE_EQ(link.stats.BytesPerSecond(now), static_cast<double>(second.size()));
    EXPECT_EQ(link.stats.MsSinceLastByte(now), 1000);

    // Silence: the window empties second by second.
    clock.Advance(5); // 1025.5: seconds 1015..1019 of 1015..1024 had traffic
    EXPECT_EQ(Table(link.stats.Binary(clock.Milliseconds())), "ID 16 100 2.5; ID 4 20 0.5; ");
    EXPECT_EQ(link.stats.MsSinceLastByte(clock.Milliseconds()), 6000);
    clock.Advance(6);
    EXPECT_EQ(link.stats.BytesPerSecond(clock.Milliseconds()), 0.0);

    link.stats.Reset();
    EXPECT_EQ(Table(link.stats.Sentences(clock.Milliseconds())), "");
    EXPECT_EQ(link.stats.Bytes(), 0u);
    EXPECT_FALSE(link.stats.MsSinceLastByte(clock.Milliseconds()));
}

TEST(LinkStats, TypesBeyondTheTableCountTogetherAndTheSummariesSayIt) {
    LinkStats stats;
    const std::int64_t t = 1'000'500;
    for (int i = 0; i < 30; ++i) {
        const std::string line =
            std::string("$GPA") + char('A' + i / 26) + char('A' + i % 26) + ",1\r\n";
        stats.LineReceived(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(), t);
    }
    const auto sentences = stats.Sentences(t);
    ASSERT_EQ(sentences.size(), 25u);
    EXPECT_EQ(sentences[0].name, "AAA");
    EXPECT_EQ(sentences[23].name, "AAX");
    EXPECT_EQ(sentences[24].name, "other");
    EXPECT_EQ(sentences[24].count, 6u);

    LinkStats small;
    small.BytesReceived(80, 1'000'500);
    small.LineReceived(reinterpret_cast<const std::uint8_t*>(kGga.data()), kGga.size(), 1'000'500);
    const Bytes frame = Frame(4, B({1, 2}));
    small.FrameReceived(frame.data(), frame.size(), 1'000'500);
    small.BytesReceived(80, 1'001'500);
    small.LineReceived(reinterpret_cast<const std::uint8_t*>(kGga.data()), kGga.size(), 1'001'500);
    std::ostringstream json;
    small.WriteJson(json, 1'002'000);
    EXPECT_EQ(json.str(),
              "{\"type\": \"stats\", \"time_ms\": 1002000, \"sentences\": [{\"name\": \"GGA\", "
              "\"count\": 2, \"rate\": 1.00}], \"binary\": [{\"id\": 4, \"count\": 1, \"rate\": "
              "0.00}], \"checksum_refused\": 0, \"not_sentences\": 0, \"bytes\": 160, "
              "\"bytes_per_second\": 80.00, \"ms_since_last_byte\": 500}\n");
    std::ostringstream text;
    small.WriteText(text, 1'002'000);
    EXPECT_EQ(text.str(), "Sentences            count  per second\n"
                          "  GGA                    2         1.0\n"
                          "Binary               count  per second\n"
                          "  ID 4                   1         0.0\n"
                          "Refused by checksum: 0\n"
                          "Not sentences: 0\n"
                          "Bytes: 160, 80.0 per second\n"
                          "Last byte: 0.5 s ago\n");
}

namespace {

// A monitor fed whole seconds of sentences on the fake clock, a GGA and an RMC (or the
// GGA alone) each second, and ticked ten times a second.
struct Watch {
    FakeClock clock{1000};
    NmeaDecoder decoder;
    AlertMonitor alerts;

    void Second(const std::string& gga, bool rmc = true) {
        for (int tick = 0; tick < 10; ++tick) {
            const std::int64_t now = clock.Milliseconds();
            if (tick == 0) {
                alerts.BytesReceived(now);
                Sentence(gga, now);
                if (rmc)
                    Sentence(kRmc, now);
            }
            alerts.Tick(now);
            clock.AdvanceMilliseconds(100);
        }
    }
    void Sentence(const std::string& line, std::int64_t now) {
        const NmeaResult r =
            decoder.Decode(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
        alerts.Sentence(r, decoder.State(), now);
    }
    // The events since the last call: "+Fix lost@3" is raised 3 s from the start.
    std::string Events() {
        std::string out;
        for (const AlertEvent& e : alerts.TakeEvents())
            out += (e.raised ? "+" : "-") + e.text + "@" +
                   std::to_string((e.atMs - 1'000'000) / 1000) + " ";
        return out;
    }
};

} // namespace

TEST(AlertMonitor, AFlappingFixRaisesOneAlertAndEndsOnceSteady) {
    Watch w;
    for (int s = 0; s < 3; ++s)
        w.Second(kGga);
    EXPECT_EQ(w.Events(), "");
    for (int s = 0; s < 7; ++s) // the fix goes at 3; lost from 2 + 5
        w.Second(kGgaNoFix, false);
    EXPECT_EQ(w.Events(), "+Differential lost@3 +Fix lost@7 ");
    for (int s = 0; s < 60; ++s) // a minute of flapping: valid, invalid, valid, ...
        w.Second(s % 2 == 0 ? kGga : kGgaNoFix, s % 2 == 0);
    EXPECT_EQ(w.Events(), "");
    EXPECT_EQ(w.alerts.ActiveText(), "Fix lost, Differential lost");
    for (int s = 0; s < 8; ++s) // steady from 70: both back 5 s later
        w.Second(kGga);
    EXPECT_EQ(w.Events(), "-Fix back@75 -Differential back@75 ");
    EXPECT_EQ(w.alerts.ActiveText(), "");
    EXPECT_EQ(w.alerts.Log().size(), 4u);

    // Differential alone: at once on the fall to 1, and back once 2 held for 5 s.
    for (int s = 0; s < 20; ++s)
        w.Second(s < 10 ? (s % 2 == 0 ? kGgaGps : kGga) : kGga);
    EXPECT_EQ(w.Events(), "+Differential lost@78 -Differential back@92 ");
}

TEST(AlertMonitor, OldCorrectionsNoDataAndTheirTexts) {
    Watch w;
    w.Second(kGga);
    w.Second(kGgaOldCorrections); // 45 s > 30
    w.Second(kGga);
    w.Second(kGgaGps); // no age: not current
    EXPECT_EQ(w.Events(), "+Corrections older than 30 s@1 +Differential lost@3 ");
    for (int s = 0; s < 6; ++s)
        w.Second(kGga);
    EXPECT_EQ(w.Events(), "-Differential back@9 -Corrections current@9 ");

    // Silence from 10; data for 2 s from 16, silence again, and data that stays from 24.
    const auto silence = [&w] {
        for (int tick = 0; tick < 60; ++tick) {
            w.alerts.Tick(w.clock.Milliseconds());
            w.clock.AdvanceMilliseconds(100);
        }
    };
    silence();
    EXPECT_EQ(w.Events(), "+Fix lost@14 +No data@14 ");
    w.Second(kGga);
    w.Second(kGga);
    silence();
    EXPECT_EQ(w.Events(), "");
    for (int s = 0; s < 6; ++s)
        w.Second(kGga);
    EXPECT_EQ(w.Events(), "-Data back@29 -Fix back@29 ");

    std::string json;
    {
        std::ostringstream out;
        AlertMonitor::WriteJson(out, w.alerts.Log().back());
        json = out.str();
    }
    const std::size_t time = json.find("\"time\": \"");
    ASSERT_NE(time, std::string::npos);
    json.erase(time + 9, 8); // the local time of day
    EXPECT_EQ(json, "{\"type\": \"alert\", \"time_ms\": 1029000, \"time\": \"\", \"alert\": "
                    "\"fix_lost\", \"event\": \"ended\", \"text\": \"Fix back\"}\n");
    std::ostringstream text;
    AlertMonitor::WriteText(text, w.alerts.Log().front());
    EXPECT_EQ(text.str().substr(8), " ALERT Corrections older than 30 s\n");

    // No data from the start of the watch, before any byte.
    AlertMonitor fresh;
    fresh.Tick(1'000'000);
    fresh.Tick(1'004'900);
    EXPECT_FALSE(fresh.Active(AlertKind::NoData));
    fresh.Tick(1'005'000);
    EXPECT_EQ(fresh.ActiveText(), "No data");
}

TEST(StripHistory, ASampleASecondAndNoMoreThanTenMinutes) {
    StripHistory h;
    NmeaState s;
    s.satellitesUsed = 8;
    s.hdop = 0.9;
    h.Add(s, 100);
    s.satellitesUsed = 9; // the latest of its second kept
    h.Add(s, 100);
    s.quality = 2;
    h.Add(s, 103); // 101 and 102 unknown
    ASSERT_EQ(h.Count(), 4u);
    EXPECT_EQ(h.At(0).satellites, 9.0f);
    EXPECT_FALSE(h.At(1).known);
    EXPECT_EQ(h.At(2).second, 102);
    EXPECT_EQ(h.At(3).quality, 2.0f);
    EXPECT_EQ(h.At(3).correctionAge, -1.0f);
    h.AdvanceTo(105);
    EXPECT_EQ(h.Count(), 6u);
    EXPECT_FALSE(h.At(5).known);

    for (std::int64_t t = 106; t < 2000; ++t)
        h.Add(s, t);
    EXPECT_EQ(h.Count(), StripHistory::kSeconds);
    EXPECT_EQ(h.At(0).second, 2000 - 600);
    EXPECT_EQ(h.At(599).second, 1999);

    h.Add(s, 1990); // the clock stepped back: afresh
    EXPECT_EQ(h.Count(), 1u);
    h.Add(s, 1990 + 600); // nothing of the ten minutes before is left
    EXPECT_EQ(h.Count(), 1u);
    EXPECT_EQ(h.At(0).second, 2590);
}
