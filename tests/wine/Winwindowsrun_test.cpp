// The Windows build's windows under wine against a receiver played on the Linux side: each
// test points the COM port that wine maps (KESTRANE_WINE_RECEIVER_PORT, through the link
// KESTRANE_WINE_RECEIVER_LINK) at a pseudo-terminal of its own, runs one test of the
// Windows program window_wine_tests.exe (Winwindows_test.cpp), which drives the windows
// offscreen and checks what they show, and then checks here what reached the receiver or
// the log file.

#include "tests/common/Pty.h"
#include "tests/loader/Gstfile.h"
#include "tests/wine/Winereceiver.h"

#include "sim/Simrecords.h"

#include <fstream>
#include <iterator>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WineWindowsRun : public WineReceiverTest {
protected:
    // Runs one test of the Windows program; its own checks decide its exit status.
    CliResult Run(const std::string& test, std::vector<std::string> args,
                  const std::function<void(pid_t, const CliResult&)>& during = {}) {
        args.insert(args.begin(), {Setting("KESTRANE_WINDOWS_WINDOW_TESTS"),
                                   "--gtest_filter=WineWindows." + test, "--port=" + port_});
        return RunWindowsProgram(args, during);
    }

    std::string dir_ = MakeTempDir();
};

// A real receiver's capture fed into the line once the window has the port open: the log
// written on Windows is, byte for byte, the one the same capture gives on Linux.
TEST_F(WineWindowsRun, TheMainWindowLogsACaptureAsOnLinux) {
    const std::string name = "gp-320fw-2019-04-07-coldboot.log";
    const std::string capture = ReadFile(std::string(KESTRANE_TEST_DATA) + "/nmea/" + name);
    const std::string golden = ReadFile(std::string(KESTRANE_TEST_DATA) + "/nmea/expected/" + name);
    ASSERT_FALSE(capture.empty());
    ASSERT_FALSE(golden.empty());
    Pty line;
    ASSERT_TRUE(line.ok());
    PointPortAt(line.path());
    const std::string log = dir_ + "/windows.log";
    std::size_t fed = 0;
    const CliResult r = Run("MainWindowShowsAndLogsTheReceiversSentences",
                            {"--file=Z:" + log, "--bytes=" + std::to_string(golden.size())},
                            [&](pid_t, const CliResult& sofar) {
                                if (sofar.out.find("READY") == std::string::npos)
                                    return;
                                while (fed < capture.size()) {
                                    const std::size_t n =
                                        std::min<std::size_t>(256, capture.size() - fed);
                                    line.Write(capture.substr(fed, n));
                                    fed += n;
                                }
                            });
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(fed, capture.size());
    EXPECT_TRUE(ReadFile(log) == golden) << "the log differs from " << name << "'s";
}

TEST_F(WineWindowsRun, TheAutomaticSearchFindsTheReceiver) {
    SimOptions options;
    options.baudRate = 9600;
    StartReceiver(options);
    const CliResult r = Run("AutomaticSearchFindsTheReceiver", {});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // Asked at 4800 (not understood) and at 9600 (answered).
    const SimStatus s = receiver_->Status();
    EXPECT_GT(s.bytesNotUnderstood, 0u);
    const auto frames = receiver_->ReceivedFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front(), kRequestConfig);
}

// The frames of Receiver Setup's Request and Apply, byte for byte as on Linux.
TEST_F(WineWindowsRun, ReceiverSetupRequestAndApplyReachTheReceiver) {
    SimOptions options;
    options.nmeaFlags = kNmeaGGA | kNmeaRMC;
    options.navRate = 5;
    options.alternateFrequency = true;
    options.channel = 41001;
    options.waasAvailable = false;
    options.correctionsOn = false;
    StartReceiver(options);
    const CliResult r = Run("ReceiverSetupShowsTheReportsAndApplySendsTheControls", {});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const auto frames = receiver_->ReceivedFrames();
    ASSERT_EQ(frames.size(), 7u);
    EXPECT_EQ(frames[0], kRequestConfig);
    EXPECT_EQ(frames[1], kRequestCorrections);
    // Navigation rate 1.
    EXPECT_EQ(Bytes(frames[2].begin(), frames[2].begin() + 7),
              Bytes({0x24, 0x78, 0x83, 0x0B, 0x78, 0x24, 0x01}));
    // Corrections: the default frequency (no channel), WAAS off, corrections on.
    ASSERT_EQ(frames[3].size(), 18u);
    EXPECT_EQ(Bytes(frames[3].begin(), frames[3].begin() + 14),
              Bytes({0x24, 0x78, 0x81, 0x12, 0x78, 0x24, 0, 0, 0, 0, 0, 0, 0, 0}));
    // Output configuration: reserved 0, binary flags 0, NMEA GGA GSA RMC, 19200 baud.
    ASSERT_EQ(frames[4].size(), 44u);
    EXPECT_EQ(Bytes(frames[4].begin() + 8, frames[4].begin() + 24),
              Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0x13, 0, 0, 0, 0x00, 0x4B, 0x00, 0x00}));
    // Request, pressed after it.
    EXPECT_EQ(frames[5], kRequestConfig);
    EXPECT_EQ(frames[6], kRequestCorrections);
    const SimStatus s = receiver_->Status();
    EXPECT_EQ(s.nmeaFlags, kNmeaGGA | kNmeaGSA | kNmeaRMC);
    EXPECT_EQ(s.navRate, 1);
    EXPECT_FALSE(s.alternateFrequency);
    EXPECT_TRUE(s.correctionsOn);
    EXPECT_EQ(s.bytesNotUnderstood, 0u);
}

TEST_F(WineWindowsRun, ASoftwareLoadPutsTheFileIntoTheReceiver) {
    SimOptions options;
    options.baudRate = 9600;
    StartReceiver(options);
    const GeneratedGst gst = MakeGst(20);
    ASSERT_TRUE(WriteTextFile(dir_ + "/300wine.gst", gst.text));
    const CliResult r = Run("SoftwareLoadCompletes", {"--file=Z:" + dir_ + "/300wine.gst"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<SimRecord> records;
    for (const std::string& text : gst.records)
        records.emplace_back(text.begin(), text.end());
    const SimStatus s = receiver_->Status();
    EXPECT_EQ(s.recordCount, gst.records.size());
    EXPECT_EQ(s.recordDigest, DigestOfRecords(records));
    EXPECT_EQ(s.pcRate, 9600u);
}

} // namespace
