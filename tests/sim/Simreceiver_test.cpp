// The simulated receiver on a real pseudo-terminal, seen through the project's own
// SerialPort and framers as the program sees it.

#include "Pcside.h"
#include "sim/Simreceiver.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes PortConfig(std::uint32_t binary, std::uint32_t nmea, std::uint32_t rate) {
    std::uint8_t f[kPortConfigMsgLen];
    return Bytes(f, f + BuildPortConfigMsg(0, binary, nmea, rate, f));
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(SimReceiverPty, RequestsGetReportsAndSentencesFlow) {
    SimOptions o;
    o.nmeaFlags = kNmeaGGA | kNmeaRMC;
    o.navRate = 5;
    SimReceiver sim(o);
    ASSERT_TRUE(sim.Start());
    PcSide pc;
    ASSERT_TRUE(pc.Open(sim.DevicePath(), 19200));
    pc.SendRequest(kMsgConfigReport);
    pc.SendRequest(kMsgCorrectionsReport);
    ASSERT_TRUE(pc.PumpUntil(
        [&] {
            return !pc.FramesOf(kMsgConfigReport).empty() &&
                   !pc.FramesOf(kMsgCorrectionsReport).empty() && pc.GpLines().size() >= 4;
        },
        3s));
    const Bytes cfg = pc.FramesOf(kMsgConfigReport)[0];
    ConfigurationReport c;
    ASSERT_TRUE(ReadConfigurationReport(cfg.data(), int(cfg.size()), c));
    EXPECT_EQ(c.nmeaFlags, kNmeaGGA | kNmeaRMC);
    EXPECT_EQ(c.navRate, 5);
    EXPECT_STREQ(c.versionSuffix, "b");
    const Bytes corr = pc.FramesOf(kMsgCorrectionsReport)[0];
    CorrectionsStatusReport r;
    ASSERT_TRUE(ReadCorrectionsStatusReport(corr.data(), int(corr.size()), r));
    EXPECT_EQ(r.channel, kDefaultChannel);
    for (const std::string& line : pc.GpLines()) {
        EXPECT_TRUE(line.rfind("$GPGGA", 0) == 0 || line.rfind("$GPRMC", 0) == 0) << line;
    }
    // The receiver saw exactly the two requests, byte for byte.
    std::uint8_t f[kRequestMsgLen];
    const std::vector<Bytes> sent = {Bytes(f, f + BuildRequestMsg(4, f)),
                                     Bytes(f, f + BuildRequestMsg(1, f))};
    EXPECT_EQ(sim.ReceivedFrames(), sent);
    EXPECT_TRUE(sim.Status().pcOpen);
    EXPECT_EQ(sim.Status().pcRate, 19200u);
}

TEST(SimReceiverPty, OutputConfigurationMovesTheSentencesAndTheRate) {
    SimOptions o;
    o.navRate = 5;
    SimReceiver sim(o);
    ASSERT_TRUE(sim.Start());
    PcSide pc;
    ASSERT_TRUE(pc.Open(sim.DevicePath(), 19200));
    pc.Send(PortConfig(0, kNmeaGGA, 38400));
    ASSERT_TRUE(sim.WaitUntil([](const SimStatus& s) { return s.lineRate == 38400; }, 2s));

    // At the old rate nothing is understood either way.
    pc.Forget();
    pc.SendRequest(kMsgConfigReport);
    pc.Pump(1200ms);
    EXPECT_TRUE(pc.frames.empty());
    EXPECT_TRUE(pc.GpLines().empty());
    EXPECT_FALSE(pc.raw.empty());
    EXPECT_GT(sim.Status().bytesNotUnderstood, 0u);
    EXPECT_EQ(sim.Status().framesReceived, 1u);

    // At the new rate: the report, and GGA alone.
    ASSERT_TRUE(pc.port.SetBaudRate(38400));
    pc.Forget();
    pc.SendRequest(kMsgConfigReport);
    ASSERT_TRUE(pc.PumpUntil(
        [&] { return !pc.FramesOf(kMsgConfigReport).empty() && pc.GpLines().size() >= 3; }, 3s));
    ConfigurationReport c;
    const Bytes cfg = pc.FramesOf(kMsgConfigReport)[0];
    ASSERT_TRUE(ReadConfigurationReport(cfg.data(), int(cfg.size()), c));
    EXPECT_EQ(c.nmeaFlags, kNmeaGGA);
    for (const std::string& line : pc.GpLines()) {
        EXPECT_EQ(line.substr(0, 6), "$GPGGA");
    }
}

TEST(SimReceiverPty, AMismatchedRateYieldsNoFrameAndNoSentence) {
    SimOptions o;
    o.navRate = 5;
    o.binaryFlags = kBinSYS | kBinQX;
    o.otherBinary = true;
    SimReceiver sim(o);
    ASSERT_TRUE(sim.Start());
    for (std::uint32_t rate : {9600u, 38400u}) {
        SCOPED_TRACE(rate);
        PcSide pc;
        ASSERT_TRUE(pc.Open(sim.DevicePath(), rate));
        pc.SendRequest(kMsgConfigReport);
        pc.Pump(1500ms);
        EXPECT_GT(pc.raw.size(), 100u); // bytes came, but only garbage
        EXPECT_TRUE(pc.frames.empty());
        EXPECT_TRUE(pc.GpLines().empty());
    }
    EXPECT_EQ(sim.Status().framesReceived, 0u);
    EXPECT_GT(sim.Status().bytesNotUnderstood, 0u);
}

TEST(SimReceiverPty, LoaderDialogueLeavesExactlyTheFilesRecords) {
    const std::string file = testing::TempDir() + "sim_load_" + std::to_string(getpid());
    ASSERT_TRUE(WriteSoftwareFile(file, 25, 16, 11));
    std::vector<SimRecord> records;
    ASSERT_TRUE(SoftwareFileRecords(file, records));
    std::remove(file.c_str());

    SimOptions o;
    o.baudRate = 38400;
    o.nmeaFlags = 0;
    o.engineDownloadMs = 600;
    ASSERT_TRUE(SimVersion::Parse("2.7", o.newVersion));
    SimReceiver sim(o);
    ASSERT_TRUE(sim.Start());
    const std::string dev = sim.DevicePath();
    PcSide pc;
    ASSERT_TRUE(pc.Open(dev, 38400));
    pc.Send("\r");
    pc.Pump(100ms); // the program waits two seconds here
    // As the program does: the wake-up at the receiver's rate, then at once the port
    // closed and reopened at the loader's rate.
    pc.Send("LOADSTAR\r");
    ASSERT_TRUE(pc.Reopen(dev, kLoaderRate));
    ASSERT_TRUE(pc.PumpUntil([&] { return pc.raw == ">"; }, 2s))
        << pc.raw.size() << " not understood " << sim.Status().bytesNotUnderstood << " texts "
        << sim.ReceivedTexts().size() << " loader " << sim.Status().loaderActive;

    auto exchange = [&](const std::string& command, const std::string& reply) {
        pc.raw.clear();
        pc.Send(command);
        return pc.PumpUntil([&] { return EndsWith(pc.raw, reply); }, 2s);
    };
    ASSERT_TRUE(exchange("Ver\r", "\r\n>"));
    ASSERT_TRUE(exchange("Mfg\r", "\r\n>"));
    ASSERT_TRUE(exchange("On\r", "OK\r\n>"));
    ASSERT_TRUE(exchange("ERASE\r", "OK\r\n>"));
    for (const SimRecord& r : records) {
        ASSERT_TRUE(exchange(std::string(r.begin(), r.end()), "OK\r\n>"));
        EXPECT_EQ(pc.raw, "OK\r\n>");
    }
    pc.Send("RESET\r");
    ASSERT_TRUE(sim.WaitUntil(
        [](const SimStatus& s) { return !s.loaderActive && s.lineRate == 38400; }, 2s));

    const SimStatus s = sim.Status();
    EXPECT_EQ(s.recordCount, records.size());
    EXPECT_EQ(s.recordDigest, DigestOfRecords(records));
    EXPECT_EQ(sim.Records(), records);
    const std::vector<std::string> texts = {"\r",   "LOADSTAR\r", "Ver\r",  "Mfg\r",
                                            "On\r", "ERASE\r",    "RESET\r"};
    EXPECT_EQ(sim.ReceivedTexts(), texts);

    // Back at the old rate the engine reports its download, then asks for power.
    ASSERT_TRUE(pc.Reopen(dev, 38400));
    auto engine = [&] {
        pc.Forget();
        pc.SendRequest(kMsgConfigReport);
        ConfigurationReport c;
        EXPECT_TRUE(pc.PumpUntil([&] { return !pc.FramesOf(4).empty(); }, 2s));
        if (!pc.frames.empty()) {
            ReadConfigurationReport(pc.frames[0].data(), int(pc.frames[0].size()), c);
        }
        return c;
    };
    const std::uint8_t during = engine().engineLoadStatus;
    EXPECT_TRUE(during == kEngineDownloading1 || during == kEngineDownloading2);
    ASSERT_TRUE(sim.WaitUntil([](const SimStatus& st) { return st.engineStatus == 3; }, 2s));
    EXPECT_EQ(engine().engineLoadStatus, kEngineCyclePower);
    sim.PowerCycle();
    const ConfigurationReport after = engine();
    EXPECT_EQ(after.engineLoadStatus, kEngineIdle);
    EXPECT_EQ(after.versionMinor, 7);
    EXPECT_STREQ(after.versionSuffix, "");
}

TEST(SimReceiverPty, EchoReturnsEverythingAndDeadReturnsNothing) {
    SimOptions o;
    o.echo = true;
    SimReceiver sim(o);
    ASSERT_TRUE(sim.Start());
    PcSide pc;
    ASSERT_TRUE(pc.Open(sim.DevicePath(), 4800)); // a loopback plug knows no rate
    const std::string sent("hello\0\xff$\r\n", 10);
    pc.Send(sent);
    pc.SendRequest(kMsgConfigReport);
    ASSERT_TRUE(pc.PumpUntil([&] { return pc.frames.size() == 1; }, 2s));
    EXPECT_EQ(pc.raw.substr(0, sent.size()), sent);
    EXPECT_EQ(pc.frames[0][kFrameIdOffset], kMsgOutputRequest);

    sim.SetEcho(false);
    sim.SetDead(true);
    ASSERT_TRUE(pc.port.SetBaudRate(19200));
    pc.Forget();
    pc.SendRequest(kMsgConfigReport);
    pc.Pump(1200ms);
    EXPECT_TRUE(pc.raw.empty());
}

TEST(SimReceiverPty, ThePcClosingAndReopeningIsHarmless) {
    SimReceiver sim;
    ASSERT_TRUE(sim.Start());
    for (int round = 0; round < 3; ++round) {
        PcSide pc;
        ASSERT_TRUE(pc.Open(sim.DevicePath(), 19200));
        ASSERT_TRUE(sim.WaitUntil([](const SimStatus& s) { return s.pcOpen; }, 1s));
        ASSERT_TRUE(pc.PumpUntil([&] { return pc.GpLines().size() >= 2; }, 3s));
        pc.port.Close();
        ASSERT_TRUE(sim.WaitUntil([](const SimStatus& s) { return !s.pcOpen; }, 1s));
    }
}

TEST(SimReceiverPty, OutputLeavesAtTheLineRate) {
    SimOptions o;
    o.baudRate = 4800;
    o.nmeaFlags = 0;
    SimReceiver sim(o);
    ASSERT_TRUE(sim.Start());
    PcSide pc;
    ASSERT_TRUE(pc.Open(sim.DevicePath(), 4800));
    ASSERT_TRUE(sim.WaitUntil([](const SimStatus& s) { return s.pcOpen; }, 1s));
    const auto start = std::chrono::steady_clock::now();
    sim.SendRaw(Bytes(240, 'A')); // 240 bytes at 4800 baud: 0.5 s on the wire
    ASSERT_TRUE(pc.PumpUntil([&] { return pc.raw.size() >= 240; }, 3s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 450ms);
    EXPECT_EQ(pc.raw, std::string(240, 'A'));
}

// The program's end of a load: back at the receiver's rate, two frames, and gone, all
// before the receiver's thread looks (here it is held by Configure's lock). The frames
// were sent at the rate the PC left behind, not at the one it had before.
TEST(SimReceiverPty, BytesAPcLeftOnClosingCountAtTheRateItLeftBehind) {
    SimOptions o;
    o.baudRate = 9600;
    SimReceiver sim(o);
    ASSERT_TRUE(sim.Start());
    const std::string device = sim.DevicePath();
    {
        PcSide before;
        ASSERT_TRUE(before.Open(device, 4800));
        ASSERT_TRUE(sim.WaitUntil([](const SimStatus& s) { return s.pcOpen; }, 1s));
        std::this_thread::sleep_for(200ms); // every rate the thread has noted is 4800
    }
    ASSERT_TRUE(sim.WaitUntil([](const SimStatus& s) { return !s.pcOpen; }, 1s));
    sim.Configure([&](SimOptions&) {
        PcSide pc;
        ASSERT_TRUE(pc.Open(device, 9600));
        pc.SendRequest(kMsgConfigReport);
        pc.SendRequest(kMsgConfigReport);
    });
    ASSERT_TRUE(sim.WaitUntil(
        [](const SimStatus& s) { return s.framesReceived + s.bytesNotUnderstood > 0; }, 1s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sim.Status().framesReceived, 2u);
    EXPECT_EQ(sim.Status().bytesNotUnderstood, 0u);
}

} // namespace
