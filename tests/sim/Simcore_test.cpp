// The receiver's behaviour on a clock of the test's own: what it answers, what it
// applies, what it sends each fix, and the loader dialogue with its faults.

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Memoutils.h"
#include "proto/Nmea.h"
#include "sim/Simcore.h"
#include "sim/Simnmea.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Request(std::uint8_t id) {
    std::uint8_t f[kRequestMsgLen];
    return Bytes(f, f + BuildRequestMsg(id, f));
}
Bytes PortConfig(std::uint32_t binary, std::uint32_t nmea, std::uint32_t rate) {
    std::uint8_t f[kPortConfigMsgLen];
    return Bytes(f, f + BuildPortConfigMsg(0, binary, nmea, rate, f));
}
Bytes Corrections(bool alternate, std::int32_t channel, bool waas, bool corrections) {
    std::uint8_t f[kCorrectionsMsgLen];
    return Bytes(f, f + BuildCorrectionsMsg(alternate, channel, waas, corrections, f));
}
Bytes NavRate(std::uint8_t rate) {
    std::uint8_t f[kNavRateMsgLen];
    return Bytes(f, f + BuildNavRateMsg(rate, f));
}
Bytes Frame(std::uint8_t id, const Bytes& payload) {
    std::uint8_t f[kMaxFrameLen];
    return Bytes(f, f + BuildMsg(id, payload.data(), payload.size(), f));
}
Bytes Record(std::size_t dataBytes, std::uint8_t fill) {
    Bytes r(1 + dataBytes, fill);
    r[0] = ';';
    return r;
}

// A receiver core, a clock, and the PC's framers reading everything it sends.
class Rig {
public:
    explicit Rig(SimOptions o = Quiet()) : core(o) { core.Advance(now, wall); }

    static SimOptions Quiet() {
        SimOptions o;
        o.nmeaFlags = 0;
        return o;
    }

    // Hands the bytes to the receiver as one arrival; returns how many it took.
    std::size_t Send(const Bytes& b) {
        const std::size_t n = core.Receive(b.data(), b.size(), now);
        Run(0ms);
        return n;
    }
    std::size_t Send(const std::string& s) { return Send(Bytes(s.begin(), s.end())); }

    // Lets time pass in steps of a millisecond, taking what the receiver sends.
    void Run(std::chrono::milliseconds d) {
        const SimTime end = now + d;
        for (;;) {
            core.Advance(now, wall);
            Drain();
            if (now >= end) {
                break;
            }
            now += 1ms;
            wall += 1ms;
        }
    }
    void Drain() {
        for (std::uint8_t b : core.Output()) {
            raw.push_back(static_cast<char>(b));
            if (diag.ProcessByte(b)) {
                frames.emplace_back(diag.GetMsg(), diag.GetMsg() + diag.GetMsgLen());
            }
            if (lines.ProcessByte(b)) {
                texts.emplace_back(reinterpret_cast<const char*>(lines.GetMsg()),
                                   lines.GetMsgLen());
            }
        }
        core.Output().clear();
    }
    ConfigurationReport Config() {
        frames.clear();
        Send(Request(kMsgConfigReport));
        ConfigurationReport r;
        EXPECT_EQ(frames.size(), 1u);
        EXPECT_TRUE(!frames.empty() &&
                    ReadConfigurationReport(frames[0].data(), int(frames[0].size()), r));
        return r;
    }
    CorrectionsStatusReport CorrectionsReport() {
        frames.clear();
        Send(Request(kMsgCorrectionsReport));
        CorrectionsStatusReport r;
        EXPECT_EQ(frames.size(), 1u);
        EXPECT_TRUE(!frames.empty() &&
                    ReadCorrectionsStatusReport(frames[0].data(), int(frames[0].size()), r));
        return r;
    }
    std::size_t CountFrames(std::uint8_t id) const {
        std::size_t n = 0;
        for (const Bytes& f : frames) {
            n += f[kFrameIdOffset] == id;
        }
        return n;
    }
    // Wakes the loader and takes it through Ver, Mfg, On and ERASE.
    void ToErasedLoader() {
        Send("\rLOADSTAR\r");
        Run(std::chrono::milliseconds(core.Options().loaderStartMs));
        for (const char* command : {"Ver\r", "Mfg\r", "On\r", "ERASE\r"}) {
            Send(command);
        }
        Run(std::chrono::milliseconds(core.Options().eraseMs + core.Options().ackDelayMs));
        raw.clear();
    }
    // Sends a record and waits long enough for its acknowledgement.
    void SendRecord(const Bytes& r) {
        Send(r);
        Run(100ms);
    }

    SimCore core;
    SimTime now = SimTime(std::chrono::hours(1));
    WallTime wall = WallTime(std::chrono::seconds(1'700'000'000));
    DiagProto diag;
    CRLFProto lines;
    std::vector<Bytes> frames;
    std::vector<std::string> texts;
    std::string raw;
};

bool ChecksumHolds(const std::string& sentence) {
    const auto star = sentence.find('*');
    if (sentence.size() < 6 || sentence[0] != '$' || star == std::string::npos ||
        sentence.compare(sentence.size() - 2, 2, "\r\n") != 0) {
        return false;
    }
    const unsigned given = std::strtoul(sentence.substr(star + 1, 2).c_str(), nullptr, 16);
    return given == NmeaChecksum(sentence.substr(1, star - 1));
}

TEST(SimCore, RequestsGetReportsWithTheirLayout) {
    for (bool suffix : {true, false}) {
        SimOptions o = Rig::Quiet();
        o.versionSuffix = suffix;
        Rig rig(o);
        rig.Send(Request(kMsgConfigReport));
        rig.Send(Request(kMsgCorrectionsReport));
        rig.Send(Request(7)); // not a message this receiver offers
        ASSERT_EQ(rig.frames.size(), 2u);
        EXPECT_EQ(rig.frames[0].size(), suffix ? 146u : 134u);
        ConfigurationReport c;
        ASSERT_TRUE(ReadConfigurationReport(rig.frames[0].data(), int(rig.frames[0].size()), c));
        EXPECT_EQ(c.versionMajor, 2);
        EXPECT_EQ(c.versionMinor, 5);
        EXPECT_STREQ(c.versionSuffix, suffix ? "b" : "");
        EXPECT_EQ(c.nmeaFlags, 0u);
        EXPECT_EQ(c.binaryFlags, 0u);
        EXPECT_EQ(c.navRate, 1);
        EXPECT_EQ(c.engineLoadStatus, 0);
        CorrectionsStatusReport r;
        ASSERT_TRUE(
            ReadCorrectionsStatusReport(rig.frames[1].data(), int(rig.frames[1].size()), r));
        EXPECT_EQ(r.channel, kDefaultChannel);
        EXPECT_FALSE(r.AlternateFrequency());
        EXPECT_TRUE(r.WaasOn());
        EXPECT_TRUE(r.CorrectionsOn());
    }
}

TEST(SimCore, CommandsAreAppliedAndShowInTheReports) {
    Rig rig;
    rig.Send(NavRate(5));
    rig.Send(Corrections(true, 12345, false, false));
    // The rate takes effect with the frame: a request right behind it in the same arrival
    // was sent at the old rate, so Receive hands it back.
    Bytes both = PortConfig(kBinQX, kNmeaGGA | kNmeaGSA, 38400);
    const Bytes req = Request(kMsgConfigReport);
    both.insert(both.end(), req.begin(), req.end());
    EXPECT_EQ(rig.Send(both), std::size_t(kPortConfigMsgLen));
    EXPECT_EQ(rig.core.LineRate(), 38400u);
    rig.frames.clear();

    ConfigurationReport c = rig.Config();
    EXPECT_EQ(c.navRate, 5);
    EXPECT_EQ(c.binaryFlags, kBinQX);
    EXPECT_EQ(c.nmeaFlags, kNmeaGGA | kNmeaGSA);
    CorrectionsStatusReport r = rig.CorrectionsReport();
    EXPECT_EQ(r.channel, 12345);
    EXPECT_TRUE(r.AlternateFrequency());
    EXPECT_EQ(r.waasState, 0);
    EXPECT_FALSE(r.CorrectionsOn());

    // Out of range: a navigation rate of 3, an unsupported baud rate (the flags still
    // apply), a frequency mode byte of 2, and a too short output configuration.
    rig.Send(NavRate(3));
    rig.Send(PortConfig(0, kNmeaRMC, 12345));
    Bytes badMode(8, 0);
    badMode[0] = badMode[1] = 2;
    rig.Send(Frame(kMsgCorrections, badMode));
    rig.Send(Frame(kMsgPortConfig, Bytes(20, 0)));
    c = rig.Config();
    EXPECT_EQ(c.navRate, 5);
    EXPECT_EQ(c.nmeaFlags, kNmeaRMC);
    EXPECT_EQ(rig.core.LineRate(), 38400u);
    EXPECT_TRUE(rig.CorrectionsReport().AlternateFrequency());
}

// A fault switched on later (as tests do on a running receiver) must not put back the
// settings the receiver started with, nor move the line: the rate has its own setter.
TEST(SimCore, ConfigureKeepsWhatTheCommandsSet) {
    Rig rig;
    rig.Send(PortConfig(kBinQX, kNmeaGGA, 38400));
    rig.Send(NavRate(5));
    rig.Send(Corrections(true, 12345, false, false));
    rig.core.Configure([](SimOptions& o) {
        o.ackDelayMs = 7;
        o.baudRate = 4800;
    });
    EXPECT_EQ(rig.core.LineRate(), 38400u);
    EXPECT_EQ(rig.core.Status().configuredRate, 38400u);
    const SimOptions now = rig.core.Options();
    EXPECT_EQ(now.ackDelayMs, 7u);
    EXPECT_EQ(now.nmeaFlags, kNmeaGGA);
    const ConfigurationReport c = rig.Config();
    EXPECT_EQ(c.nmeaFlags, kNmeaGGA);
    EXPECT_EQ(c.binaryFlags, kBinQX);
    EXPECT_EQ(c.navRate, 5);
    EXPECT_EQ(rig.CorrectionsReport().channel, 12345);
}

TEST(SimCore, WaasNotAvailableStaysSoWhateverIsCommanded) {
    SimOptions o = Rig::Quiet();
    o.waasAvailable = false;
    Rig rig(o);
    rig.Send(Corrections(false, 0, true, true));
    const CorrectionsStatusReport r = rig.CorrectionsReport();
    EXPECT_FALSE(r.WaasAvailable());
    EXPECT_EQ(r.channel, kDefaultChannel);
}

TEST(SimCore, MalformedAndRandomInputIsIgnored) {
    Rig rig;
    Bytes bad = Request(kMsgConfigReport);
    bad[7] ^= 1; // CRC
    rig.Send(bad);
    EXPECT_TRUE(rig.raw.empty());
    EXPECT_EQ(rig.core.Status().framesReceived, 0u);

    std::srand(42);
    Bytes noise(200000);
    for (std::uint8_t& b : noise) {
        b = static_cast<std::uint8_t>(std::rand());
    }
    rig.Send(noise);
    EXPECT_FALSE(rig.core.Status().loaderActive);
    EXPECT_EQ(rig.core.LineRate(), 19200u);
    // Whatever frame the noise left half done is over within a frame's length.
    rig.Send(Bytes(kMaxFrameLen, 0));
    rig.frames.clear();
    rig.Send(Request(kMsgConfigReport));
    EXPECT_EQ(rig.CountFrames(kMsgConfigReport), 1u);

    // The loader takes the same noise as commands and records without harm.
    rig.ToErasedLoader();
    for (std::size_t at = 0; at < noise.size(); at += 1000) {
        rig.Send(Bytes(noise.begin() + long(at), noise.begin() + long(at + 1000)));
        rig.Run(10ms);
    }
    rig.Send("\rRESET\r");
    EXPECT_FALSE(rig.core.Status().loaderActive);
    EXPECT_EQ(rig.core.LineRate(), 19200u);
}

TEST(SimCore, NmeaSentencesFollowTheFlagsAndTheRate) {
    SimOptions o;
    o.nmeaFlags = kNmeaGGA | kNmeaZDA;
    Rig slow(o);
    slow.Run(3050ms);
    ASSERT_EQ(slow.texts.size(), 6u);
    for (std::size_t i = 0; i < slow.texts.size(); ++i) {
        EXPECT_EQ(slow.texts[i].substr(0, 6), i % 2 == 0 ? "$GPGGA" : "$GPZDA");
        EXPECT_TRUE(ChecksumHolds(slow.texts[i])) << slow.texts[i];
    }
    EXPECT_NE(slow.texts[0].substr(7, 9), slow.texts[2].substr(7, 9));     // time moves on
    EXPECT_NE(slow.texts[0].substr(17, 30), slow.texts[4].substr(17, 30)); // so does the fix

    o.nmeaFlags = kNmeaFlagsMask;
    o.navRate = 5;
    o.otherTalkers = true;
    Rig fast(o);
    fast.Run(1010ms);
    ASSERT_EQ(fast.texts.size(), 5u * 7u);
    const char* order[] = {"$GPGGA", "$GPGSA", "$GPRMC", "$GPVTG", "$GPZDA", "$GNGSA", "$GLGSV"};
    for (std::size_t i = 0; i < fast.texts.size(); ++i) {
        EXPECT_EQ(fast.texts[i].substr(0, 6), order[i % 7]);
        EXPECT_TRUE(ChecksumHolds(fast.texts[i])) << fast.texts[i];
    }
    // Fixes 0.2 s apart: the hundredths of the GGA times step by 20.
    const int first = std::stoi(fast.texts[0].substr(14, 2));
    const int second = std::stoi(fast.texts[7].substr(14, 2));
    EXPECT_EQ((second - first + 100) % 100, 20);
}

// The outages, timed from the first fix: no fix in the third and fourth, the corrections
// lost from the sixth on. Every sentence of a fix without one says so, and the decoder
// takes them all.
TEST(SimCore, FixGapAndLostCorrectionsFromTheFirstFix) {
    SimOptions o;
    o.nmeaFlags = kNmeaGGA | kNmeaGSA | kNmeaRMC;
    o.fixGapStart = 2;
    o.fixGap = 2;
    o.diffLost = 5;
    Rig rig(o);
    rig.Run(7000ms);
    ASSERT_GE(rig.texts.size(), 21u);
    NmeaDecoder d;
    std::string qualities, modes, valid;
    for (std::size_t i = 0; i < 21; ++i) {
        const std::string& t = rig.texts[i];
        const NmeaResult r = d.Decode(reinterpret_cast<const std::uint8_t*>(t.data()), t.size());
        ASSERT_EQ(r.outcome, NmeaOutcome::Used) << t;
        if (r.type == NmeaType::GGA)
            qualities += std::to_string(d.State().quality.value_or(-1));
        if (r.type == NmeaType::GSA)
            modes += std::to_string(d.State().fixMode.value_or(-1));
        if (r.type == NmeaType::RMC)
            valid += r.validPosition ? "A" : "V";
    }
    EXPECT_EQ(qualities, "2200211");
    EXPECT_EQ(modes, "3311333");
    EXPECT_EQ(valid, "AAVVAAA");
}

TEST(SimCore, BinaryOutputsFollowTheirFlags) {
    SimOptions o = Rig::Quiet();
    o.binaryFlags = kBinQX | kBinSYS | kBinREFMON;
    o.navRate = 5;
    o.otherBinary = true;
    o.noise = true;
    Rig rig(o);
    rig.Run(2010ms);
    EXPECT_EQ(rig.CountFrames(kMsgConfigReport), 2u); // SYS: once a second
    EXPECT_EQ(rig.CountFrames(kSimIdQX), 10u);
    EXPECT_EQ(rig.CountFrames(kSimIdREFMON), 10u);
    EXPECT_EQ(rig.CountFrames(kSimIdGPS), 0u);
    EXPECT_EQ(rig.CountFrames(kSimIdOther1), 10u);
    EXPECT_EQ(rig.CountFrames(kSimIdOther2), 10u);
    for (const std::string& t : rig.texts) {
        EXPECT_NE(t.substr(0, 3), "$GP");
    }
}

TEST(SimCore, OutputIsBoundedWhenTheLineCannotKeepUp) {
    SimOptions o;
    o.baudRate = 4800;
    o.navRate = 5;
    o.otherTalkers = true;
    o.otherBinary = true;
    o.binaryFlags = kBinaryFlagsMask;
    SimCore core(o);
    SimTime now(std::chrono::hours(1));
    WallTime wall(std::chrono::seconds(1'700'000'000));
    for (int i = 0; i < 10000; ++i, now += 1ms, wall += 1ms) {
        core.Advance(now, wall);
    }
    EXPECT_LE(core.Output().size(), 2u * 4800 / 10);
    EXPECT_GT(core.Output().size(), 0u);
}

TEST(SimCore, AFilledLineNeverRunsDry) {
    SimOptions o;
    o.baudRate = 38400;
    o.nmeaFlags = kNmeaGGA;
    o.fillLine = true;
    SimCore core(o);
    SimTime now(std::chrono::hours(1));
    WallTime wall(std::chrono::seconds(1'700'000'000));
    for (int i = 0; i < 100; ++i, now += 10ms, wall += 10ms) {
        core.Advance(now, wall);
        ASSERT_GE(core.Output().size(), 38400u / 200); // 50 ms of the line
        ASSERT_LE(core.Output().size(), 38400u / 10);
        // The line takes 38.4 bytes in those 10 ms.
        core.Output().erase(core.Output().begin(), core.Output().begin() + 38);
    }
    EXPECT_GT(core.Status().fixes, 10u);
}

TEST(SimCore, LoaderDialogueRecordsAndEngineStatus) {
    SimOptions o = Rig::Quiet();
    o.baudRate = 38400;
    o.engineDownloadMs = 1000;
    ASSERT_TRUE(SimVersion::Parse("3.0c", o.newVersion));
    Rig rig(o);
    rig.Send("\r");
    rig.Send("LOADSTAR\r");
    EXPECT_EQ(rig.core.LineRate(), kLoaderRate);
    rig.Run(90ms);
    rig.Send("Ver\r"); // still starting: lost
    EXPECT_EQ(rig.raw, "");
    rig.Run(10ms);
    EXPECT_EQ(rig.raw, ">");
    rig.raw.clear();
    rig.Send("Ver\r");
    rig.Send("Mfg\r");
    rig.Send("On\r");
    rig.Send("Bogus\r");
    rig.Send("ERASE\r");
    EXPECT_EQ(rig.raw, "Kestrane Loader V1.30\r\n>Kestrane GPS\r\n>OK\r\n>OK\r\n>");
    rig.raw.clear();

    // A record ends when the line goes quiet, but never before its bytes could have
    // crossed the wire: 99 bytes at 19200 baud take 51.6 ms.
    const std::vector<SimRecord> records = {Record(98, 0x0D), Record(0, 0), Record(10, '>')};
    rig.Send(records[0]);
    rig.Run(50ms);
    EXPECT_EQ(rig.raw, "");
    rig.Run(5ms);
    EXPECT_EQ(rig.raw, "OK\r\n>");
    rig.SendRecord(records[1]);
    rig.SendRecord(records[2]);
    EXPECT_EQ(rig.raw, "OK\r\n>OK\r\n>OK\r\n>");
    EXPECT_EQ(rig.core.Records(), records);
    EXPECT_EQ(rig.core.Status().recordDigest, DigestOfRecords(records));

    rig.Send("RESET\r");
    EXPECT_FALSE(rig.core.Status().loaderActive);
    EXPECT_EQ(rig.core.LineRate(), 38400u);
    EXPECT_EQ(rig.Config().engineLoadStatus, kEngineDownloading1);
    rig.Run(600ms);
    EXPECT_EQ(rig.Config().engineLoadStatus, kEngineDownloading2);
    rig.Run(500ms);
    const ConfigurationReport done = rig.Config();
    EXPECT_EQ(done.engineLoadStatus, kEngineCyclePower);
    EXPECT_EQ(done.versionMajor, 2);
    rig.core.PowerCycle(rig.now);
    const ConfigurationReport after = rig.Config();
    EXPECT_EQ(after.engineLoadStatus, kEngineIdle);
    EXPECT_EQ(after.versionMajor, 3);
    EXPECT_EQ(after.versionMinor, 0);
    EXPECT_STREQ(after.versionSuffix, "c");

    std::vector<std::string> texts;
    for (const SimEvent& e : rig.core.Events()) {
        if (e.kind == SimEvent::Text) {
            texts.emplace_back(e.bytes.begin(), e.bytes.end());
        }
    }
    const std::vector<std::string> expected = {"\r",   "LOADSTAR\r", "Ver\r",   "Mfg\r",
                                               "On\r", "Bogus\r",    "ERASE\r", "RESET\r"};
    EXPECT_EQ(texts, expected);
}

TEST(SimCore, LoaderFaults) {
    const SimRecord r1 = Record(4, 1), r2 = Record(4, 2), r3 = Record(4, 3);
    {
        SCOPED_TRACE("acknowledgement of record 2 dropped once: the resend is taken");
        SimOptions o = Rig::Quiet();
        o.dropAckRecord = 2;
        Rig rig(o);
        rig.ToErasedLoader();
        for (const SimRecord& r : {r1, r2, r2, r3}) {
            rig.SendRecord(r);
        }
        EXPECT_EQ(rig.raw, "OK\r\n>OK\r\n>OK\r\n>");
        EXPECT_EQ(rig.core.Records(), (std::vector<SimRecord>{r1, r2, r3}));
    }
    {
        SCOPED_TRACE("acknowledgement of record 2 always dropped");
        SimOptions o = Rig::Quiet();
        o.dropAckRecord = 2;
        o.dropAckAlways = true;
        Rig rig(o);
        rig.ToErasedLoader();
        for (const SimRecord& r : {r1, r2, r2}) {
            rig.SendRecord(r);
        }
        EXPECT_EQ(rig.raw, "OK\r\n>");
        EXPECT_EQ(rig.core.Records().size(), 1u);
    }
    {
        SCOPED_TRACE("no prompt, slow acknowledgements, a record too long");
        SimOptions o = Rig::Quiet();
        o.noPrompt = true;
        o.ackDelayMs = 300;
        Rig rig(o);
        rig.Send("LOADSTAR\r");
        rig.Run(200ms);
        rig.Send("On\r");
        rig.Run(290ms);
        EXPECT_EQ(rig.raw, "");
        rig.Run(20ms);
        EXPECT_EQ(rig.raw, "OK\r\n");
        rig.Send("ERASE\r");
        rig.Run(310ms);
        rig.raw.clear();
        rig.SendRecord(Record(99, 0));
        rig.Run(400ms);
        EXPECT_EQ(rig.raw, "");
        EXPECT_TRUE(rig.core.Records().empty());
    }
    {
        SCOPED_TRACE("a wrong acknowledgement text");
        SimOptions o = Rig::Quiet();
        o.ackText = "ok";
        Rig rig(o);
        rig.ToErasedLoader();
        rig.SendRecord(r1);
        EXPECT_EQ(rig.raw, "ok\r\n>");
    }
    {
        SCOPED_TRACE("engine download fails; a power cycle keeps the old version");
        SimOptions o = Rig::Quiet();
        o.engineFailure = true;
        o.engineDownloadMs = 100;
        Rig rig(o);
        rig.ToErasedLoader();
        rig.Send("RESET\r");
        rig.Run(150ms);
        EXPECT_EQ(rig.Config().engineLoadStatus, kEngineFailed);
        rig.core.PowerCycle(rig.now);
        const ConfigurationReport c = rig.Config();
        EXPECT_EQ(c.engineLoadStatus, kEngineIdle);
        EXPECT_EQ(c.versionMinor, 5);
    }
    {
        SCOPED_TRACE("power removed during the download, then during the loader");
        SimOptions o = Rig::Quiet();
        o.baudRate = 9600;
        Rig rig(o);
        rig.ToErasedLoader();
        rig.Send("RESET\r");
        rig.core.PowerCycle(rig.now);
        EXPECT_EQ(rig.Config().engineLoadStatus, kEngineFailed);
        rig.core.PowerCycle(rig.now);
        EXPECT_EQ(rig.Config().engineLoadStatus, kEngineIdle);
        rig.Send("LOADSTAR\r");
        rig.core.PowerCycle(rig.now);
        EXPECT_FALSE(rig.core.Status().loaderActive);
        EXPECT_EQ(rig.core.LineRate(), 9600u);
    }
}

} // namespace
