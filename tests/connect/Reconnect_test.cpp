// Reopening the port after its device came back, on real serial ports: pseudo-terminals
// reached through a link of the test's own, as a /dev/serial/by-id name reaches an
// adapter. Closing the master side is the adapter pulled out (its link goes with it);
// the link made again to another pseudo-terminal is the adapter back under another tty
// name. Time is a FakeClock moved 100 ms a tick, as the windows tick.

#ifndef _WIN32
#include "connect/Reconnect.h"

#include "proto/Pollport.h"
#include "tests/common/Pty.h"
#include "tests/common/Tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using namespace std::chrono_literals;

struct Lines : PollSink {
    std::vector<std::string> lines;
    void FrameReceived(const std::uint8_t*, std::size_t) override {}
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        lines.emplace_back(reinterpret_cast<const char*>(line), length);
    }
    void PortHungUp() override {}
};

class ReconnectTest : public ::testing::Test {
protected:
    void TearDown() override {
        port.Close();
        std::filesystem::remove_all(dir_);
    }

    void Link(const std::string& target) {
        std::filesystem::remove(link_);
        std::filesystem::create_symlink(target, link_);
    }
    PollResult Poll() {
        std::uint8_t buffer[kPollBlockSize];
        return PollPort(port, diag_, line_, buffer, sink);
    }
    // The adapter behind the open port pulled out: the poll finds the line hung up and
    // closes the port; the system removes the link.
    void PullOut(Pty& pty) {
        pty.HangUp();
        for (int i = 0; i < 50 && Poll() != PollResult::HungUp; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_FALSE(port.IsOpen());
        std::filesystem::remove(link_);
    }
    // Ticks until the port is reopened: the fake time that took, or -1 after limitMs.
    std::int64_t TicksUntilReopened(std::int64_t limitMs) {
        for (std::int64_t t = 0; t <= limitMs; t += 100, clock.AdvanceMilliseconds(100)) {
            if (reconnector.Check() == Reconnector::Result::Reopened)
                return t;
        }
        return -1;
    }

    FakeClock clock;
    SerialPort port;
    Reconnector reconnector{port, clock};
    Lines sink;
    std::string dir_ = MakeTempDir();
    std::string link_ = dir_ + "/usb-Kestrane_GPS-if00-port0";

private:
    DiagProto diag_;
    CRLFProto line_;
};

TEST_F(ReconnectTest, TheAdapterBackBehindItsLinkIsReopenedAtTheSameRateAndReceives) {
    Pty first;
    Pty second; // made now, so it has another name than first
    ASSERT_TRUE(first.ok() && second.ok());
    Link(first.path());
    ASSERT_TRUE(port.Open(link_.c_str(), 9600, 0));
    PullOut(first);
    ASSERT_TRUE(reconnector.Start(link_, 9600));

    EXPECT_EQ(TicksUntilReopened(3000), -1); // away: tried, not there
    EXPECT_FALSE(port.IsOpen());
    Link(second.path());
    const std::int64_t took = TicksUntilReopened(3000);
    EXPECT_GE(took, 0);
    EXPECT_LE(took, 2000);
    EXPECT_FALSE(reconnector.Watching());
    EXPECT_EQ(second.LineRate(), 9600u);

    // Non-blocking as before: a read on a quiet line returns at once, whatever its wait.
    std::uint8_t byte = 0;
    std::uint32_t got = 1;
    const auto start = std::chrono::steady_clock::now();
    port.Read(&byte, 1, got, 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(got, 0u);
    second.Send("$GPTXT,back\r\n");
    for (int i = 0; i < 50 && sink.lines.empty(); ++i) {
        std::this_thread::sleep_for(10ms);
        Poll();
    }
    EXPECT_EQ(sink.lines, std::vector<std::string>{"$GPTXT,back\r\n"});
}

TEST_F(ReconnectTest, SwitchedOffOrAnotherPortOpenedNothingIsReopened) {
    Pty first;
    Pty second;
    Pty other;
    ASSERT_TRUE(first.ok() && second.ok() && other.ok());
    Link(first.path());
    ASSERT_TRUE(port.Open(link_.c_str(), 19200, 0));
    PullOut(first);

    reconnector.SetEnabled(false);
    EXPECT_FALSE(reconnector.Start(link_, 19200));
    Link(second.path());
    EXPECT_EQ(TicksUntilReopened(3000), -1);

    // Switched off while it waits.
    reconnector.SetEnabled(true);
    ASSERT_TRUE(reconnector.Start(link_, 19200));
    reconnector.SetEnabled(false);
    EXPECT_EQ(TicksUntilReopened(3000), -1);

    // The user opens another port while the device is away: when it returns, the port
    // stays where the user put it, and nothing is watched any more.
    reconnector.SetEnabled(true);
    std::filesystem::remove(link_);
    ASSERT_TRUE(reconnector.Start(link_, 19200));
    ASSERT_TRUE(port.Open(other.path().c_str(), 4800, 0));
    Link(second.path());
    EXPECT_EQ(TicksUntilReopened(3000), -1);
    EXPECT_FALSE(reconnector.Watching());
    port.Close();
    EXPECT_EQ(TicksUntilReopened(3000), -1);
    EXPECT_FALSE(port.IsOpen());
}

// A connection attempt can hold the caller for seconds, so a network port is tried at
// 0.5, 1.5, 3.5, 7.5 s...: a server back at 3.6 s is connected at 7.5 s.
TEST_F(ReconnectTest, ANetworkPortIsTriedLessOftenAfterEachFailure) {
    const auto listenOn = [](std::uint16_t number) {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(number);
        if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(s, 4) != 0) {
            close(s);
            return -1;
        }
        return s;
    };
    int server = listenOn(0);
    ASSERT_GE(server, 0);
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    getsockname(server, reinterpret_cast<sockaddr*>(&bound), &size);
    const std::uint16_t number = ntohs(bound.sin_port);
    close(server); // the server went away: connections are refused

    ASSERT_TRUE(reconnector.Start("tcp://127.0.0.1:" + std::to_string(number), 19200));
    EXPECT_EQ(TicksUntilReopened(3600), -1);
    server = listenOn(number);
    ASSERT_GE(server, 0);
    EXPECT_EQ(TicksUntilReopened(5000), 7500 - 3700);
    port.Close();
    close(server);
}

} // namespace
#endif
