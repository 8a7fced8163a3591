// One step of reception over the real serial port on a pseudo-terminal: what the sink is
// given and in which order, the 1024-byte limit, and the hang-up (closing the master side
// is the line going away), told apart from a quiet line.

#include "proto/Pollport.h"

#include "framing_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            slave_ = ptsname(master_);
        }
    }
    ~Pty() { HangUp(); }
    const std::string& slave() const { return slave_; }
    void Write(const Bytes& b) {
        ASSERT_EQ(write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // in the driver by now
    }
    void HangUp() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

private:
    int master_ = -1;
    std::string slave_;
};

// Records each call as text: "F <id> <length>", "L <line without CR LF>", "H".
struct Recorder : PollSink {
    std::vector<std::string> events;
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        events.push_back("F " + std::to_string(frame[kFrameIdOffset]) + " " +
                         std::to_string(length));
    }
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        events.emplace_back(reinterpret_cast<const char*>(line), length - 2);
        events.back().insert(0, "L ");
    }
    void PortHungUp() override { events.push_back("H"); }
};

class PollPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Open(pty)); }
    bool Open(Pty& line) {
        if (!port.Open(line.slave().c_str(), 19200, 0)) {
            return false;
        }
        port.SetBlocking(false);
        return true;
    }
    PollResult Step() { return PollPort(port, diag, crlf, buffer, sink); }

    Pty pty;
    SerialPort port;
    DiagProto diag;
    CRLFProto crlf;
    std::uint8_t buffer[kPollBlockSize];
    Recorder sink;
};

TEST_F(PollPortTest, MessagesReachTheSinkInByteOrderAtMost1024BytesAStep) {
    // A sentence, a frame whose payload holds CR LF (so it ends a line twice: inside the
    // payload, and at its own end, where the frame is told first), a sentence of another
    // talker, then 20 lines of 50 bytes: the step's 1024 bytes end inside the 20th.
    const Bytes head =
        Cat({B("$GPGGA,a*00\r\n"), Frame(9, B({'$', 'x', '\r', '\n'})), B("$GNRMC,b*00\r\n")});
    Bytes stream = head;
    for (int i = 0; i < 20; ++i) {
        std::string l = "$GPZDA," + std::to_string(10 + i) + ",";
        l.resize(48, 'z');
        const Bytes b = B(l + "\r\n");
        stream.insert(stream.end(), b.begin(), b.end());
    }
    ASSERT_EQ(head.size(), 40u);
    pty.Write(stream);

    EXPECT_EQ(Step(), PollResult::Polled);
    ASSERT_EQ(sink.events.size(), 5u + 19u); // (1024 - 40) / 50 = 19 complete lines
    EXPECT_EQ(sink.events[0], "L $GPGGA,a*00");
    EXPECT_EQ(sink.events[1].substr(0, 4), "L $x");
    EXPECT_EQ(sink.events[2], "F 9 14");
    EXPECT_EQ(sink.events[3].size(), 4u); // "L " and the two CRC bytes
    EXPECT_EQ(sink.events[4], "L $GNRMC,b*00");
    EXPECT_EQ(sink.events.back().substr(0, 12), "L $GPZDA,28,");
    EXPECT_EQ(Step(), PollResult::Polled);
    EXPECT_EQ(sink.events.back().substr(0, 12), "L $GPZDA,29,");
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(PollPortTest, AQuietLineOrAWaitThatRunsOutIsNoHangUp) {
    EXPECT_EQ(Step(), PollResult::Polled);
    // With the blocking set a read with no wait fails at once: still no hang-up.
    port.SetBlocking(true);
    EXPECT_EQ(Step(), PollResult::Polled);
    EXPECT_FALSE(port.HungUp());
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(PollPortTest, AHangUpClosesThePortOnceAndLeavesTheFramersAlone) {
    pty.Write(B("$GPGGA,1*00\r\n$GPGGA,par"));
    EXPECT_EQ(Step(), PollResult::Polled);
    pty.HangUp();
    EXPECT_EQ(Step(), PollResult::HungUp);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(Step(), PollResult::NotOpen); // nothing polls the vanished device
    EXPECT_EQ(sink.events, (std::vector<std::string>{"L $GPGGA,1*00", "H"}));

    // The line framer still holds the partial sentence: bytes that fit it complete it.
    Pty again;
    ASSERT_TRUE(Open(again));
    again.Write(B("tial*00\r\n"));
    EXPECT_EQ(Step(), PollResult::Polled);
    EXPECT_EQ(sink.events.back(), "L $GPGGA,partial*00");
}

} // namespace
