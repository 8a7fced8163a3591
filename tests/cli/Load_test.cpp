// kestrane-cli load end to end against the simulated receiver: what reaches the receiver's
// loader is the file, a dropped acknowledgement is answered by one resend, a file the
// loader must not send is refused before anything goes out, and Ctrl-C cancels.

#include "tests/cli/Cliprocess.h"
#include "tests/loader/Gstfile.h"

#include "sim/Simreceiver.h"
#include "sim/Simrecords.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<SimRecord> AsSimRecords(const std::vector<std::string>& records) {
    std::vector<SimRecord> out;
    for (const std::string& r : records)
        out.emplace_back(r.begin(), r.end());
    return out;
}

std::size_t Count(const std::string& text, const std::string& line) {
    std::size_t n = 0;
    for (std::size_t at = text.find(line + "\n"); at != std::string::npos;
         at = text.find(line + "\n", at + 1))
        if (at == 0 || text[at - 1] == '\n')
            ++n;
    return n;
}

class LoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimOptions options;
        options.baudRate = 9600; // the load runs at 19200 and the port comes back to 9600
        receiver_ = std::make_unique<SimReceiver>(options);
        ASSERT_TRUE(receiver_->Start());
        dev_ = receiver_->DevicePath();
    }
    std::string WriteGst(const GeneratedGst& gst, const std::string& name = "300load.gst") {
        const std::string path = dir_ + "/" + name;
        EXPECT_TRUE(WriteTextFile(path, gst.text));
        return path;
    }
    EmptySysfs tree_;
    std::string dir_ = MakeTempDir();
    std::unique_ptr<SimReceiver> receiver_;
    std::string dev_;
};

TEST_F(LoadTest, TheReceiverHoldsTheFileAfterADroppedAcknowledgementWasResent) {
    receiver_->SetDropAck(5, false);
    const GeneratedGst gst = MakeGst(12);
    const CliResult r = RunCliProgram({"--port", dev_, "--baud", "9600", "load", WriteGst(gst)},
                                      {}, tree_.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const SimStatus s = receiver_->Status();
    EXPECT_EQ(s.recordCount, gst.records.size());
    EXPECT_EQ(s.recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    EXPECT_EQ(Count(r.out, "Sending Record 5"), 2u) << r.out;
    EXPECT_EQ(Count(r.out, "Sending Record 6"), 1u);
    EXPECT_EQ(Count(r.out, "Timeout on Ack"), 0u);
    EXPECT_EQ(Count(r.out, "Started"), 1u);
    EXPECT_NE(r.out.find("Finished\nChecking GPS Engine\n"), std::string::npos) << r.out;
    // The port is back at the receiver's rate: it understood everything after the load.
    EXPECT_EQ(s.pcRate, 9600u);
    EXPECT_EQ(s.bytesNotUnderstood, 0u);
}

// The reason is a message (standard error); a file without a single record would have
// the receiver erased and nothing written, yet "Finished".
TEST_F(LoadTest, AnUnusableFileIsRefusedBeforeAByteGoesOut) {
    GeneratedGst longLine;
    longLine.text = ":" + std::string(300, '0') + "\r\n";
    const std::string tooLong = WriteGst(longLine);
    const std::string empty = WriteGst(GeneratedGst{}, "300empty.gst");
    const std::string none = dir_ + "/none.gst";
    const std::pair<std::string, std::string> cases[] = {
        {tooLong, "Error opening file " + tooLong + ": line 1 cannot be sent as it stands"},
        {none, "Error opening file " + none + ": it cannot be opened: No such file or directory"},
        {empty, "Error opening file " + empty + ": it holds no record"},
    };
    for (const auto& [file, reason] : cases) {
        const CliResult r = RunCliProgram({"--port", dev_, "load", file}, {}, tree_.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(reason, 0), 0u) << r.err;
    }
    EXPECT_TRUE(receiver_->Events().empty());
    EXPECT_FALSE(receiver_->Status().loaderActive);
}

// A reader that goes away must not leave the receiver erased in its loader.
TEST_F(LoadTest, ALoadWhoseOutputIsClosedAfterTheFirstLineStillCompletes) {
    const GeneratedGst gst = MakeGst(30);
    const CliResult r = RunCliInShell("set -o pipefail; \"$0\" \"$@\" | head -n 1",
                                      {"--port", dev_, "--baud", "9600", "load", WriteGst(gst)}, {},
                                      tree_.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Started\n");
    EXPECT_NE(r.err.find("error writing standard output"), std::string::npos) << r.err;
    const SimStatus s = receiver_->Status();
    EXPECT_EQ(s.recordCount, gst.records.size());
    EXPECT_EQ(s.recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    EXPECT_FALSE(s.loaderActive);
    EXPECT_EQ(s.pcRate, 9600u);
}

// Without --follow nothing follows the engine once the program has gone, so the outputs
// the end of the load changed (SYS on) are put back; and once "Finished" is shown the
// file is in the receiver, so Ctrl-C no longer cancels anything.
TEST_F(LoadTest, APlainLoadPutsTheOutputsBackAndCtrlCAfterFinishedIsNoCancel) {
    receiver_->SetBinaryFlags(kBinQX);
    const GeneratedGst gst = MakeGst(4);
    const std::string file = WriteGst(gst);
    const auto outputsAsBefore = [&] {
        return receiver_->WaitUntil(
            [](const SimStatus& s) { return s.binaryFlags == kBinQX && !s.pcOpen; },
            std::chrono::seconds(3));
    };
    const CliResult plain =
        RunCliProgram({"--port", dev_, "--baud", "9600", "load", file}, {}, tree_.path());
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.err.find("outputs were put back"), std::string::npos) << plain.err;
    EXPECT_TRUE(outputsAsBefore()) << receiver_->Status().binaryFlags;

    bool interrupted = false;
    const CliResult late = RunCliProgram(
        {"--port", dev_, "--baud", "9600", "load", file}, {}, tree_.path(),
        std::chrono::seconds(60), [&](pid_t pid, const CliResult& sofar) {
            if (!interrupted && sofar.out.find("Finished\n") != std::string::npos) {
                kill(pid, SIGINT);
                interrupted = true;
            }
        });
    ASSERT_TRUE(interrupted);
    EXPECT_EQ(late.status, 0) << late.out << late.err;
    EXPECT_NE(late.err.find("Load finished; the engine status was not followed."),
              std::string::npos)
        << late.err;
    EXPECT_EQ(late.out.find("Cancelled"), std::string::npos) << late.out;
    EXPECT_EQ(late.err.find("may need a new load"), std::string::npos) << late.err;
    EXPECT_EQ(receiver_->Status().recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    EXPECT_TRUE(outputsAsBefore()) << receiver_->Status().binaryFlags;
}

TEST_F(LoadTest, CtrlCCancelsTheLoadAndRestoresThePortRate) {
    const GeneratedGst gst = MakeGst(400);
    bool interrupted = false;
    const CliResult r = RunCliProgram(
        {"--port", dev_, "--baud", "9600", "load", WriteGst(gst)}, {}, tree_.path(),
        std::chrono::seconds(60), [&](pid_t pid, const CliResult& sofar) {
            if (!interrupted && sofar.out.find("Sending Record 20\n") != std::string::npos) {
                kill(pid, SIGINT);
                interrupted = true;
            }
        });
    ASSERT_TRUE(interrupted);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("may need a new load"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\nCancelled\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Finished"), std::string::npos);
    const SimStatus s = receiver_->Status();
    EXPECT_LT(s.recordCount, gst.records.size());
    EXPECT_EQ(s.pcRate, 9600u);
}

TEST_F(LoadTest, FollowAsksForThePowerCycleThenEndsWithTheNewVersionOrTheEngineFailure) {
    const GeneratedGst gst = MakeGst(6);
    const std::string file = WriteGst(gst);
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "engine failure" : "done");
        receiver_->Configure([fail](SimOptions& o) {
            o.engineDownloadMs = 500;
            o.engineFailure = fail;
        });
        int enter[2];
        ASSERT_EQ(pipe2(enter, O_CLOEXEC), 0);
        bool cycled = false;
        const CliResult r = RunCliProgram(
            {"--port", dev_, "--baud", "9600", "load", file, "--follow"}, {}, tree_.path(),
            std::chrono::seconds(90),
            [&](pid_t, const CliResult& sofar) {
                if (!cycled && sofar.err.find("press Enter") != std::string::npos) {
                    receiver_->PowerCycle();
                    EXPECT_EQ(write(enter[1], "\n", 1), 1);
                    cycled = true;
                }
            },
            enter[0]);
        close(enter[0]);
        close(enter[1]);
        if (fail) {
            EXPECT_EQ(r.status, 1);
            EXPECT_FALSE(cycled);
            EXPECT_NE(r.out.find("Checking GPS Engine\n"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("\nFailed GPS Engine download\n"), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_TRUE(cycled);
            EXPECT_NE(r.out.find("\nCycle Power Now\n"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("\nDone\nSoftware version 2.6b\n"), std::string::npos) << r.out;
            EXPECT_EQ(receiver_->Status().version.Text(), "2.6b");
        }
    }
}

// What the engine reported before a load says nothing of it: a receiver still waiting
// for the power cycle of an earlier load (status 3) is asked for it again only once its
// engine has taken in the new software, and one whose earlier download failed (status
// 4) does not fail the new load's following.
TEST_F(LoadTest, FollowCountsOnlyWhatTheEngineReportsAfterTheReset) {
    const std::string file = WriteGst(MakeGst(3));
    const auto loadLeaving = [&](bool fail, std::uint8_t status) {
        receiver_->Configure([fail](SimOptions& o) {
            o.engineDownloadMs = 200;
            o.engineFailure = fail;
        });
        const CliResult r =
            RunCliProgram({"--port", dev_, "--baud", "9600", "load", file}, {}, tree_.path());
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(receiver_->WaitUntil(
            [status](const SimStatus& s) { return s.engineStatus == status; },
            std::chrono::seconds(5)));
    };
    const auto follow = [&](std::uint32_t downloadMs, int& statusAtPrompt) {
        receiver_->Configure([downloadMs](SimOptions& o) {
            o.engineDownloadMs = downloadMs;
            o.engineFailure = false;
        });
        int enter[2];
        EXPECT_EQ(pipe2(enter, O_CLOEXEC), 0);
        statusAtPrompt = -1;
        const CliResult r = RunCliProgram(
            {"--port", dev_, "--baud", "9600", "load", file, "--follow"}, {}, tree_.path(),
            std::chrono::seconds(90),
            [&](pid_t, const CliResult& sofar) {
                if (statusAtPrompt < 0 && sofar.err.find("press Enter") != std::string::npos) {
                    statusAtPrompt = receiver_->Status().engineStatus;
                    receiver_->PowerCycle();
                    EXPECT_EQ(write(enter[1], "\n", 1), 1);
                }
            },
            enter[0]);
        close(enter[0]);
        close(enter[1]);
        return r;
    };

    {
        SCOPED_TRACE("status 3 before the load");
        loadLeaving(false, 3);
        int statusAtPrompt = -1;
        // The engine takes longer than the load's own end (about 6 s after "RESET\r").
        const CliResult r = follow(9000, statusAtPrompt);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(statusAtPrompt, 3);
        const std::size_t checking = r.out.find("Checking GPS Engine\n");
        ASSERT_NE(checking, std::string::npos) << r.out;
        EXPECT_EQ(r.out.substr(checking),
                  "Checking GPS Engine\nDownloading to GPS Engine\nCycle Power Now\nDone\n"
                  "Software version 2.6b\n");
    }
    {
        SCOPED_TRACE("status 4 before the load");
        loadLeaving(true, 4);
        int statusAtPrompt = -1;
        const CliResult r = follow(500, statusAtPrompt);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(statusAtPrompt, 3);
        EXPECT_EQ(r.out.find("Failed GPS Engine download", r.out.find("Started")),
                  std::string::npos)
            << r.out;
    }
}

} // namespace
