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
    EmptyTtyTree tree_;
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

TEST_F(LoadTest, AnUnusableFileIsRefusedBeforeAByteGoesOut) {
    GeneratedGst longLine;
    longLine.text = ":" + std::string(300, '0') + "\r\n";
    const CliResult bad = RunCliProgram(
        {"--port", dev_, "load", WriteGst(longLine)}, {}, tree_.path());
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "Error opening file\n");
    const CliResult missing =
        RunCliProgram({"--port", dev_, "load", dir_ + "/none.gst"}, {}, tree_.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "Error opening file\n");
    EXPECT_TRUE(receiver_->Events().empty());
    EXPECT_FALSE(receiver_->Status().loaderActive);
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

} // namespace
