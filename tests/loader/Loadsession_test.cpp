// The load session with a scripted view, as the Load Software window and kestrane-cli
// each use it: a load from a port at 9600 against a loader played by the test on a
// pseudo-terminal (the real SerialPort, a fake clock), its end, and the after-load
// dialogue driven by the reports the view hands on.

#include "loader/Loadsession.h"

#include "proto/Port.h"
#include "tests/loader/Gstfile.h"
#include "tests/common/Pty.h"
#include "tests/loader/ScriptedLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Records what the session asks of its view, one entry a call.
class ScriptedView : public LoadView {
public:
    void ShowStatus(const char* text) override { calls.push_back(std::string("status ") + text); }
    void ShowEngineStatus(const char* text) override {
        calls.push_back(std::string("engine ") + text);
    }
    void LoadStarted() override { calls.push_back("started"); }
    void LoadEnded() override { calls.push_back("ended"); }
    void PortRestored(LoadPortEnd end) override {
        calls.push_back(end == LoadPortEnd::Reopened    ? "port reopened"
                        : end == LoadPortEnd::Unchanged ? "port unchanged"
                                                        : "port not back");
    }
    std::uint32_t OutputsRate() const override { return 9600; }

    std::vector<std::string> calls;
};

ConfigurationReport Report(std::uint8_t engineStatus) {
    ConfigurationReport r;
    r.binaryFlags = kBinQX;
    r.nmeaFlags = kNmeaGGA | kNmeaRMC;
    r.engineLoadStatus = engineStatus;
    return r;
}

// The Output request for the Configuration report.
const std::string kRequest = "\x24\x78\xFF\x0B\x78\x24\x04\x9F\xA9\x0D\x0A";

// The four words of an Output configuration (reserved, binary flags, NMEA flags, rate),
// little-endian, as they stand at offsets 8 to 23 of its 44-byte frame (after the
// six-byte header and two reserved bytes).
std::string OutputWords(std::uint8_t binary, std::uint8_t nmea) {
    return std::string("\0\0\0\0", 4) + std::string(1, static_cast<char>(binary)) +
           std::string("\0\0\0", 3) + std::string(1, static_cast<char>(nmea)) +
           std::string("\0\0\0", 3) + std::string("\x80\x25\0\0", 4); // 9600
}

// The frames the session wrote: an Output configuration (44 bytes, id 0x82) is told by
// its flags, the request by its name.
std::vector<std::string> Frames(std::string bytes) {
    std::vector<std::string> out;
    while (bytes.size() >= 11) {
        if (bytes.compare(0, 11, kRequest) == 0) {
            out.push_back("request");
            bytes.erase(0, 11);
        } else if (bytes.size() >= 44 && static_cast<std::uint8_t>(bytes[2]) == 0x82) {
            const std::string words = bytes.substr(8, 16);
            out.push_back(words == OutputWords(kBinQX | kBinSYS, kNmeaGGA | kNmeaRMC)
                              ? "outputs with SYS"
                          : words == OutputWords(kBinQX, kNmeaGGA | kNmeaRMC) ? "outputs as before"
                                                                              : "other outputs");
            bytes.erase(0, 44);
        } else {
            out.push_back("garbage");
            break;
        }
    }
    return out;
}

class LoadSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        PortDeviceName = pty.path();
        ASSERT_TRUE(port.Open(PortDeviceName.c_str(), 9600, 0));
        port.SetBlocking(false);
        session.SetClock(clock, [this](int) { clock.Advance(1); });
        dir = MakeTempDir();
        const std::string path = dir + "/300session.gst";
        ASSERT_TRUE(WriteTextFile(path, gst.text));
        ASSERT_TRUE(session.OpenFile(path));
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Ticks until the load ends; the loader answers between ticks. What the session
    // writes once the load has ended is left on the line for Frames.
    void RunLoad() {
        for (int tick = 1; session.Running() && tick < 200000; ++tick) {
            session.Tick();
            if (!session.Running()) {
                break;
            }
            peer.Service();
            if (tick % 64 == 0) {
                clock.Advance(1);
            }
        }
    }

    Pty pty;
    ScriptedLoader peer{pty};
    SerialPort port;
    FakeClock clock;
    ScriptedView view;
    LoadSession session{port, clock, view};
    GeneratedGst gst = MakeGst(5);
    std::string dir;
};

TEST_F(LoadSessionTest, ALoadItsEndAndTheAfterLoadDialogueThroughOneView) {
    session.OnReport(Report(0)); // the outputs in force before the load
    EXPECT_TRUE(view.calls.empty());
    EXPECT_TRUE(Frames(pty.ReadAllText()).empty()); // a report outside a load sends nothing

    session.Begin(9600);
    RunLoad();
    EXPECT_EQ(peer.Records(), gst.records);
    EXPECT_EQ(session.Outcome(), LoadOutcome::Completed);
    const std::vector<std::string> expected = {
        "started",
        "status Started",
        "status Sending Record 1",
        "status Sending Record 2",
        "status Sending Record 3",
        "status Sending Record 4",
        "status Sending Record 5",
        "status Finished",
        "status Checking GPS Engine",
        "ended",
        "port reopened",
    };
    EXPECT_EQ(view.calls, expected);
    // The end of the load: the outputs with SYS on in addition, then the request.
    EXPECT_EQ(Frames(pty.ReadAllText()),
              (std::vector<std::string>{"outputs with SYS", "request"}));

    // The engine downloads (SYS stays on), asks for the power cycle, and after it and
    // Request, "Done" puts the outputs back as they were.
    view.calls.clear();
    session.OnReport(Report(2));
    session.OnReport(Report(0));
    session.RequestPressed();
    session.OnReport(Report(0));
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{"engine Downloading to GPS Engine",
                                        "engine Cycle Power Now", "engine Done"}));
    EXPECT_EQ(Frames(pty.ReadAllText()),
              (std::vector<std::string>{"outputs with SYS", "request", "outputs as before"}));
    EXPECT_FALSE(session.PutOutputsBackNow()); // nothing owed any more
}

// Cancelled from outside, the load ends once; a view that leaves at once puts the
// outputs back itself, and nothing more is owed after that.
TEST_F(LoadSessionTest, ACancelledLoadEndsOnceAndItsOutputsArePutBackOnce) {
    session.OnReport(Report(0));
    session.Begin(9600);
    for (int tick = 0; tick < 5000 && peer.Records().empty(); ++tick) {
        session.Tick();
        peer.Service();
        if (tick % 64 == 0) {
            clock.Advance(1);
        }
    }
    ASSERT_FALSE(peer.Records().empty());
    view.calls.clear();
    session.Cancel();
    session.Cancel();
    session.EndLoad();
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{"status Cancelled", "ended", "port reopened"}));
    EXPECT_EQ(session.Outcome(), LoadOutcome::Cancelled);
    pty.ReadAllText(); // what was written before the end
    EXPECT_TRUE(session.PutOutputsBackNow());
    EXPECT_FALSE(session.PutOutputsBackNow());
    EXPECT_EQ(Frames(pty.ReadAllText()), (std::vector<std::string>{"outputs as before"}));
}

} // namespace
