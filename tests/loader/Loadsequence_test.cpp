// The loading sequence against a loader played by the test on a pseudo-terminal, through
// the real SerialPort, on a fake clock.

#include "loader/Loadsequence.h"

#include "tests/common/Pty.h"
#include "tests/loader/Gstfile.h"
#include "tests/loader/ScriptedLoader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
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
        opened = pty.ok() && port.Open(pty.path().c_str(), 19200, 0);
        LoadSequence::Hooks hooks;
        hooks.ShowStatus = [this](const char* text) {
            statuses.emplace_back(text);
            statusAt.push_back(clock.Seconds());
        };
        hooks.EndLoad = [this] {
            ++endLoads;
            seq.Finish();
        };
        hooks.Pause = [this](int) {
            clock.Advance(1);
            ++pausedSeconds_;
            if (onPause) {
                onPause();
            }
        };
        seq.SetHooks(hooks);
    }
    ~Harness() { std::filesystem::remove_all(dir); }

    bool Load(const std::string& text) {
        const std::string path = dir + "/300test.gst";
        return WriteTextFile(path, text) && seq.OpenSoftwareFile(path);
    }

    // Ticks until the load ends (or the limit). Notes when each unit reached the
    // loader, each blocking wait and when the sequence entered each state; the clock
    // moves only between ticks and inside blocking waits, so a time noted after a tick
    // is the time the sequence read in its passes.
    void Run(int maxTicks = 200000) {
        for (int tick = 1; seq.Running() && tick <= maxTicks; ++tick) {
            pausedSeconds_ = 0;
            seq.TimerTimer();
            if (pausedSeconds_ != 0) {
                blockingWaits.push_back(pausedSeconds_);
            }
            if (states.empty() || states.back().first != seq.State()) {
                states.emplace_back(seq.State(), clock.Seconds());
            }
            peer.Service();
            while (seenAt.size() < peer.seen.size()) {
                seenAt.push_back(clock.Seconds());
                seenTick.push_back(tick);
            }
            if (afterService) {
                afterService();
            }
            if (tick % ticksPerSecond_ == 0) {
                clock.Advance(1);
            }
        }
    }

    // When the loader took in the unit (records "#1", ... in order, resends counted).
    std::int64_t SeenAt(const std::string& name) const {
        int records = 0;
        for (std::size_t i = 0; i < peer.seen.size(); ++i) {
            const std::string& unit = peer.seen[i];
            if ((unit[0] == ';' ? "#" + std::to_string(++records) : unit) == name) {
                return seenAt[i];
            }
        }
        ADD_FAILURE() << name << " never reached the loader";
        return 0;
    }
    std::int64_t StatusAt(const std::string& text) const {
        for (std::size_t i = 0; i < statuses.size(); ++i) {
            if (statuses[i] == text) {
                return statusAt[i];
            }
        }
        ADD_FAILURE() << "\"" << text << "\" never shown";
        return 0;
    }

    Pty pty;
    ScriptedLoader peer;
    SerialPort port;
    FakeClock clock;
    LoadSequence seq;
    std::string dir;
    bool opened = false;
    std::vector<std::string> statuses;
    std::vector<std::int64_t> statusAt;
    std::vector<std::int64_t> seenAt; // beside peer.seen
    std::vector<int> seenTick;        // beside peer.seen
    std::vector<int> blockingWaits;   // seconds each blocking wait held the thread
    std::vector<std::pair<LoadStateCode, std::int64_t>> states;
    int endLoads = 0;
    std::function<void()> onPause;      // inside a blocking wait, after the clock moved
    std::function<void()> afterService; // after each tick, once the loader has answered

private:
    int ticksPerSecond_;
    int pausedSeconds_ = 0;
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
        ASSERT_TRUE(h.Load(":0A1B\r\n")); // one record: only the commands count here
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
        {"no record at all: the load would only erase", ""},
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

// Every wait of N seconds fails on the first clock reading past Now + N, that is N + 1
// whole seconds after the command or record went out (after the "OK" for the prompt
// that must follow one). A record gets one resend with the same bytes; the rest end
// the load with "Timeout on Ack" and "Timeout".
TEST(LoadSequence, EachWaitFailsAfterItsOwnWholeSeconds) {
    const struct {
        const char* silentFrom;      // the loader goes quiet from this unit
        const char* okWithoutPrompt; // or acknowledges it without the prompt
        int seconds;                 // from the unit (or its "OK") to the failure
    } cases[] = {
        {"LOADSTAR\r", "", 11}, {"Ver\r", "", 5}, {"Mfg\r", "", 5}, {"On\r", "", 11},
        {"ERASE\r", "", 13},    {"", "On\r", 5},  {"", "#2", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.silentFrom) + c.okWithoutPrompt);
        Harness h;
        ASSERT_TRUE(h.opened);
        ASSERT_TRUE(h.Load(MakeGst(3).text));
        h.peer.silentFrom = c.silentFrom;
        h.peer.okWithoutPrompt = c.okWithoutPrompt;
        h.seq.Start(19200);
        h.Run();
        ASSERT_GE(h.statuses.size(), 2u);
        EXPECT_EQ(h.statuses[h.statuses.size() - 2], "Timeout on Ack");
        EXPECT_EQ(h.statuses.back(), "Timeout");
        EXPECT_EQ(h.endLoads, 1);
        std::int64_t from = 0;
        if (*c.silentFrom != '\0') {
            from = h.SeenAt(c.silentFrom);
            EXPECT_EQ(h.peer.seen.back(), c.silentFrom) << "nothing more after the silence";
        } else {
            // The "OK" put the sequence back to waiting for the prompt.
            const auto last = std::find_if(h.states.rbegin(), h.states.rend(), [](auto& s) {
                return s.first == LoadStateCode::AwaitPrompt;
            });
            ASSERT_NE(last, h.states.rend());
            from = last->second;
        }
        EXPECT_EQ(h.StatusAt("Timeout on Ack") - from, c.seconds);
    }

    // A record without an acknowledgement: sent again after 7 s with the same bytes and
    // the same number, then given up 7 s later.
    Harness h;
    ASSERT_TRUE(h.opened);
    const GeneratedGst gst = MakeGst(3);
    ASSERT_TRUE(h.Load(gst.text));
    h.peer.silentFrom = "#2";
    h.seq.Start(19200);
    h.Run();
    EXPECT_EQ(h.peer.Records(),
              (std::vector<std::string>{gst.records[0], gst.records[1], gst.records[1]}));
    EXPECT_EQ(h.SeenAt("#3") - h.SeenAt("#2"), 7);
    EXPECT_EQ(h.StatusAt("Timeout on Ack") - h.SeenAt("#3"), 7);
    EXPECT_EQ(h.statuses,
              (std::vector<std::string>{"Started", "Sending Record 1", "Sending Record 2",
                                        "Sending Record 2", "Timeout on Ack", "Timeout"}));
    EXPECT_EQ(h.peer.Commands(),
              (std::vector<std::string>{"\r", "LOADSTAR\r", "Ver\r", "Mfg\r", "On\r", "ERASE\r"}));
}

// The thread is held 2 s after the first "\r" and 4 s after "RESET\r"; the load ends
// 3 s after "Finished" (a 2 s wait on whole seconds).
TEST(LoadSequence, TheTwoBlockingWaitsAndTheEnd) {
    Harness h;
    ASSERT_TRUE(h.opened);
    ASSERT_TRUE(h.Load(MakeGst(3).text));
    h.seq.Start(19200);
    h.Run();
    EXPECT_EQ(h.blockingWaits, (std::vector<int>{2, 4}));
    EXPECT_EQ(h.SeenAt("LOADSTAR\r") - h.StatusAt("Started"), 2);
    EXPECT_EQ(h.StatusAt("Checking GPS Engine") - h.StatusAt("Finished"), 3);
    EXPECT_EQ(h.peer.Commands(), kAllCommands);
    EXPECT_EQ(h.endLoads, 1);
}

// While the commands go out each tick reads one byte; once the records flow, five.
// Counted in ticks between what reaches the loader: "Ver\r" is answered with nine
// bytes before its prompt, a record with "OK" CR LF and the prompt.
TEST(LoadSequence, OneByteATickForCommandsFiveForRecords) {
    Harness h(true, 8); // each read waits for its byte, so no pass comes up empty early
    ASSERT_TRUE(h.opened);
    ASSERT_TRUE(h.Load(MakeGst(8).text));
    h.seq.Start(19200);
    h.Run();
    ASSERT_EQ(h.peer.Records().size(), 8u);
    std::vector<int> ticks; // tick of each unit by name
    const auto tickOf = [&](const std::string& unit) {
        const auto at = std::find(h.peer.seen.begin(), h.peer.seen.end(), unit);
        return at == h.peer.seen.end() ? -1 : h.seenTick[at - h.peer.seen.begin()];
    };
    EXPECT_GE(tickOf("Mfg\r") - tickOf("Ver\r"), 10);
    int fastest = 1000;
    for (std::size_t i = 1; i < h.peer.seen.size(); ++i) {
        if (h.peer.seen[i][0] == ';' && h.peer.seen[i - 1][0] == ';') {
            fastest = std::min(fastest, h.seenTick[i] - h.seenTick[i - 1]);
        }
    }
    EXPECT_EQ(fastest, 2);
}

// What the receiver said before its loader was woken is drained after the 2 s wait: a
// stale prompt must not pass for the loader's answer to "LOADSTAR\r".
TEST(LoadSequence, WhatCameBeforeTheWakeIsDrained) {
    Harness h(true, 8); // the drain's reads wait their 100 ms
    ASSERT_TRUE(h.opened);
    ASSERT_TRUE(h.Load(MakeGst(2).text));
    h.pty.Write(">OK\r\n>$GPGGA,,,,,,0,00,,,,,,,*66\r\n>");
    h.peer.silentFrom = "LOADSTAR\r";
    h.seq.Start(19200);
    h.Run();
    EXPECT_EQ(h.peer.Commands(), (std::vector<std::string>{"\r", "LOADSTAR\r"}));
    EXPECT_EQ(h.statuses, (std::vector<std::string>{"Started", "Timeout on Ack", "Timeout"}));
}

// When a record needed a second sending, the "OK" that answers the first may come
// after the second went out and be taken for its acknowledgement; the second's own
// "OK" then follows. It must not acknowledge the next record: each record is sent
// only once the one before it has been answered, and the load ends complete. The
// loader here answers every unit three ticks after it came in, and record 2's answer
// only once its second sending has arrived.
TEST(LoadSequence, ALateAcknowledgementCountsOnlyForItsOwnRecord) {
    Harness h;
    ASSERT_TRUE(h.opened);
    const GeneratedGst gst = MakeGst(5);
    ASSERT_TRUE(h.Load(gst.text));
    h.peer.answerDelay = 3;
    h.peer.heldUntilNext = "#2";
    h.seq.Start(19200);
    h.Run();
    std::vector<std::string> expected = gst.records;
    expected.insert(expected.begin() + 1, gst.records[1]);
    EXPECT_EQ(h.peer.Records(), expected);
    EXPECT_EQ(h.peer.early, std::vector<std::string>{});
    EXPECT_EQ(h.peer.Commands(), kAllCommands);
    EXPECT_EQ(h.seq.Outcome(), LoadOutcome::Completed);
}

// A line that hangs up ends the load at once as a failed one, wherever the sequence
// is: in the wait after the first "\r", waiting for an acknowledgement, or in the wait
// after "RESET\r" (which then never reports "Finished").
TEST(LoadSequence, AHangUpEndsTheLoadAtOnceAsAFailedLoad) {
    const std::vector<std::string> sent = {"Started", "Sending Record 1", "Sending Record 2"};
    const struct {
        const char* what;
        LoadStateCode waitIn; // the line goes in this state's blocking wait; Idle: below
        std::vector<std::string> statuses;
    } cases[] = {
        {"in the first wait", LoadStateCode::Start, {"Started", "Timeout on Ack", "Timeout"}},
        {"awaiting an OK",
         LoadStateCode::Idle,
         {sent[0], sent[1], sent[2], "Timeout on Ack", "Timeout"}},
        {"after RESET",
         LoadStateCode::NextRecord,
         {sent[0], sent[1], sent[2], "Timeout on Ack", "Timeout"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        ASSERT_TRUE(h.opened);
        ASSERT_TRUE(h.Load(MakeGst(2).text));
        std::int64_t goneAt = -1;
        const auto hangUp = [&] {
            if (goneAt < 0) {
                h.pty.HangUp();
                goneAt = h.clock.Seconds();
            }
        };
        if (c.waitIn != LoadStateCode::Idle) {
            h.onPause = [&] {
                if (h.seq.State() == c.waitIn) {
                    hangUp();
                }
            };
        } else {
            // Record 2 goes unanswered, and the line goes while its "OK" is awaited.
            h.peer.silentFrom = "#2";
            h.afterService = [&] {
                if (h.peer.Records().size() == 2) {
                    hangUp();
                }
            };
        }
        h.seq.Start(19200);
        h.Run();
        EXPECT_EQ(h.statuses, c.statuses);
        EXPECT_EQ(h.endLoads, 1);
        EXPECT_EQ(h.seq.Outcome(), LoadOutcome::Failed);
        EXPECT_TRUE(h.seq.LineGone());
        ASSERT_GE(goneAt, 0);
        EXPECT_LE(h.StatusAt("Timeout") - goneAt, 1) << "no deadline waited out";
    }
}

} // namespace
