// The loading sequence against a loader played by the test on a pseudo-terminal, through
// the real SerialPort, on a fake clock.

#include "loader/Loadsequence.h"

#include "tests/loader/Gstfile.h"
#include "tests/loader/Pty.h"
#include "tests/loader/ScriptedLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// The sequence, the port on a pseudo-terminal and the loader played on its other side.
class Harness {
public:
    // ticksPerSecond: ticks that make one second of the fake clock; far more than any
    // reply needs, so only a receiver that stays silent runs into a deadline.
    explicit Harness(bool blockingReads = false, int ticksPerSecond = 64)
        : peer(pty), seq(port, clock), ticksPerSecond_(ticksPerSecond) {
        dir = MakeTempDir();
        port.SetBlocking(blockingReads);
        opened = pty.Ok() && port.Open(pty.SlaveName().c_str(), 19200, 0);
        LoadSequence::Hooks hooks;
        hooks.ShowStatus = [this](const char* text) { statuses.emplace_back(text); };
        hooks.EndLoad = [this] {
            ++endLoads;
            seq.Finish();
        };
        hooks.Pause = [this](int) { clock.Advance(1); };
        seq.SetHooks(hooks);
    }
    ~Harness() { std::filesystem::remove_all(dir); }

    bool Load(const std::string& text) {
        const std::string path = dir + "/300test.gst";
        return WriteTextFile(path, text) && seq.OpenSoftwareFile(path);
    }

    // Ticks until the load ends (or the limit).
    void Run(int maxTicks = 200000) {
        for (int tick = 1; seq.Running() && tick <= maxTicks; ++tick) {
            seq.TimerTimer();
            peer.Service();
            if (tick % ticksPerSecond_ == 0) {
                clock.Advance(1);
            }
        }
    }

    TestPty pty;
    ScriptedLoader peer;
    SerialPort port;
    FakeClock clock;
    LoadSequence seq;
    std::string dir;
    bool opened = false;
    std::vector<std::string> statuses;
    int endLoads = 0;

private:
    int ticksPerSecond_;
};

const std::vector<std::string> kCommandsThroughOn = {"\r", "LOADSTAR\r", "Ver\r", "Mfg\r", "On\r"};
const std::vector<std::string> kAllCommands = {"\r",   "LOADSTAR\r", "Ver\r",  "Mfg\r",
                                               "On\r", "ERASE\r",    "RESET\r"};

// Only the line "OK" acknowledges; carriage returns anywhere are ignored.
TEST(LoadSequence, WhatCountsAsAnAcknowledgement) {
    struct Case {
        std::string ack;
        bool accepted;
    };
    const Case cases[] = {
        {"OK", true},  {"O\rK", true}, {"\rOK\r", true}, {"OK ", false}, {"ok", false},
        {"Ok", false}, {" OK", false}, {"OKAY", false},  {"O", false},   {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("ack \"" + c.ack + "\"");
        Harness h;
        ASSERT_TRUE(h.opened);
        ASSERT_TRUE(h.Load(""));
        h.peer.ack = c.ack;
        h.seq.Start(19200);
        h.Run();
        if (c.accepted) {
            EXPECT_EQ(h.peer.Commands(), kAllCommands);
            EXPECT_EQ(h.statuses.back(), "Checking GPS Engine");
        } else {
            EXPECT_EQ(h.peer.Commands(), kCommandsThroughOn);
            EXPECT_EQ(h.statuses.back(), "Timeout");
        }
        EXPECT_EQ(h.endLoads, 1);
    }
}

// A reply line longer than the reply buffer is cut, never written past; the next line
// starts afresh. A cut line never passes for an acknowledgement.
TEST(LoadSequence, OverlongReplyLinesAreCutAtTheirRoom) {
    {
        Harness h;
        ASSERT_TRUE(h.opened);
        const GeneratedGst gst = MakeGst(3);
        ASSERT_TRUE(h.Load(gst.text));
        h.peer.beforeAck = std::string(500, 'x') + "\r\n";
        h.seq.Start(19200);
        h.Run();
        EXPECT_EQ(h.peer.Records(), gst.records);
        EXPECT_EQ(h.statuses.back(), "Checking GPS Engine");
    }
    {
        Harness h;
        ASSERT_TRUE(h.opened);
        ASSERT_TRUE(h.Load(MakeGst(3).text));
        h.peer.beforeAck = std::string(500, 'x'); // "OK" ends the long line
        h.seq.Start(19200);
        h.Run();
        EXPECT_EQ(h.peer.Records().size(), 2u); // record 1 sent twice, unacknowledged
        EXPECT_EQ(h.statuses.back(), "Timeout");
    }
}

TEST(LoadSequence, UnusableFilesAreRefusedBeforeAnythingIsSent) {
    const std::string goodLine = ":0A1B\r\n";
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"a line over 199 characters", goodLine + ":" + std::string(250, 'A') + "\r\n"},
        {"more digits than a record holds", ":" + std::string(197, 'A') + "\n"},
        {"a line feed alone", goodLine + "\n" + goodLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        ASSERT_TRUE(h.opened);
        EXPECT_FALSE(h.Load(c.text));
        EXPECT_EQ(h.statuses, (std::vector<std::string>{"Error opening file"}));
        EXPECT_EQ(h.seq.RecordCount(), 0u);
        EXPECT_FALSE(h.seq.Running());
        h.peer.Service();
        EXPECT_TRUE(h.peer.seen.empty());
    }
    Harness h;
    EXPECT_FALSE(h.seq.OpenSoftwareFile(h.dir + "/missing.gst"));
    EXPECT_EQ(h.statuses, (std::vector<std::string>{"Error opening file"}));
    EXPECT_FALSE(h.seq.OpenSoftwareFile(h.dir)); // a directory reads as no file
}

// The records are taken when the load is asked for: a file cut short on disk during the
// load cannot end it early as if it had been sent whole.
TEST(LoadSequence, TheFileAsReadAtLoadIsWhatIsSent) {
    Harness h;
    ASSERT_TRUE(h.opened);
    const GeneratedGst gst = MakeGst(10);
    ASSERT_TRUE(h.Load(gst.text));
    ASSERT_TRUE(WriteTextFile(h.dir + "/300test.gst", ":00\r\n"));
    h.seq.Start(19200);
    h.Run();
    EXPECT_EQ(h.peer.Records(), gst.records);
}

// With the blocking time-out set each pass really waits for its byte; the dialogue is
// the same.
TEST(LoadSequence, RunsWithTheBlockingReadSetToo) {
    Harness h(true, 8); // every empty pass costs 10 ms here
    ASSERT_TRUE(h.opened);
    const GeneratedGst gst = MakeGst(4);
    ASSERT_TRUE(h.Load(gst.text));
    h.seq.Start(19200);
    h.Run();
    EXPECT_EQ(h.peer.Records(), gst.records);
    EXPECT_EQ(h.peer.Commands(), kAllCommands);
    EXPECT_EQ(h.statuses.back(), "Checking GPS Engine");
}

} // namespace
