// SerialPort on real pseudo-terminals: the test holds the master side and plays
// the receiver; the port opens the slave side as it would a serial device.
#include "serial/Serialport.h"
#include "tests/common/Pty.h"
#include "tests/foundation/Serialhelpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Reads with the non-blocking set until want bytes came or a second passed.
std::string Collect(SerialPort& port, std::size_t want) {
    std::string got;
    const auto deadline = SteadyClock::now() + 1s;
    while (got.size() < want && SteadyClock::now() < deadline) {
        std::uint8_t buffer[1024];
        std::uint32_t received = 0;
        if (!port.Read(buffer, sizeof buffer, received, SerialPort::kNoLimit)) {
            break;
        }
        got += AsText(buffer, received);
        if (received == 0) {
            std::this_thread::sleep_for(2ms);
        }
    }
    return got;
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()) << std::strerror(errno); }
    Pty pty;
};

TEST_F(SerialPortTest, OpenOfAMissingDeviceFailsWithTheSystemsReason) {
    SerialPort port;
    EXPECT_FALSE(port.Open("/dev/kestrane-no-such-device", 19200, 0));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.lastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_STREQ(port.errorText(), std::strerror(ENOENT));

    // Something that is not a terminal is refused as well, and released.
    EXPECT_FALSE(port.Open("/dev/null", 19200, 0));
    EXPECT_EQ(port.lastError(), static_cast<std::uint32_t>(ENOTTY));
    EXPECT_FALSE(port.IsOpen());

    // A failed Open leaves the object ready for the next one.
    EXPECT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortTest, OpenSetsARawEightBitLineWithoutFlowControl) {
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    const termios s = pty.Settings();
    EXPECT_EQ(cfgetispeed(&s), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetospeed(&s), static_cast<speed_t>(B19200));
    EXPECT_EQ(s.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(s.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(s.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(s.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(s.c_oflag & OPOST, 0u);
    EXPECT_EQ(s.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);

    // Every byte value passes unchanged both ways: no CR/LF translation, no
    // XON/XOFF taken out, no eighth bit stripped.
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    ASSERT_TRUE(WriteText(port, all));
    EXPECT_EQ(pty.Receive(all.size()), all);
    port.SetBlocking(false);
    pty.Send(all);
    EXPECT_EQ(Collect(port, all.size()), all);
}

TEST_F(SerialPortTest, OpenWhileOpenIsRefusedAndLeavesTheDeviceAlone) {
    Pty other;
    ASSERT_TRUE(other.ok());
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    EXPECT_FALSE(port.Open(other.path().c_str(), 4800, 0));
    EXPECT_FALSE(port.Open(pty.path().c_str(), 4800, 0));
    EXPECT_TRUE(port.IsOpen());
    const termios s = pty.Settings();
    EXPECT_EQ(cfgetospeed(&s), static_cast<speed_t>(B19200));
    ASSERT_TRUE(WriteText(port, "still here"));
    EXPECT_EQ(pty.Receive(10), "still here");

    // The refused device was not taken either.
    SerialPort second;
    EXPECT_TRUE(second.Open(other.path().c_str(), 4800, 0));
}

TEST_F(SerialPortTest, AHeldDeviceCannotBeOpenedAgainUntilClosed) {
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(first.Open(pty.path().c_str(), 19200, 0));
    // This test may run as root, which passes TIOCEXCL; the lock still holds.
    EXPECT_FALSE(second.Open(pty.path().c_str(), 19200, 0));
    EXPECT_EQ(second.lastError(), static_cast<std::uint32_t>(EBUSY));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(first.IsOpen());

    first.Close();
    EXPECT_TRUE(second.Open(pty.path().c_str(), 19200, 0));
}

// Runs body in a child process as an ordinary user; true if it returned true.
template <typename Body> bool AsOrdinaryUser(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        const bool ok = setgid(65534) == 0 && setuid(65534) == 0 && body();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(SerialPortTest, OrdinaryUsersAreTurnedAwayFromAHeldDevice) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a process as another user";
    }
    ASSERT_EQ(chmod(pty.path().c_str(), 0666), 0);
    const std::string slave = pty.path();
    const auto opens = [&slave](int expectedErrno) {
        return [&slave, expectedErrno] {
            const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const int err = errno;
            if (fd >= 0) {
                close(fd);
                return expectedErrno == 0;
            }
            return err == expectedErrno;
        };
    };
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    EXPECT_TRUE(AsOrdinaryUser(opens(EBUSY)));
    // A second port that is refused the held device leaves the holder's claim alone.
    SerialPort second;
    ASSERT_FALSE(second.Open(pty.path().c_str(), 19200, 0));
    EXPECT_EQ(second.lastError(), static_cast<std::uint32_t>(EBUSY));
    EXPECT_TRUE(AsOrdinaryUser(opens(EBUSY)));
    // Closing gives the device back, although the terminal lives on with its master.
    port.Close();
    EXPECT_TRUE(AsOrdinaryUser(opens(0)));
}

TEST_F(SerialPortTest, NonBlockingReadOfAQuietLineReturnsAtOnce) {
    SerialPort port;
    port.SetBlocking(false); // on a closed port: applies to the next Open
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    std::uint8_t buffer[1024];
    std::uint32_t received = 99;
    const auto start = SteadyClock::now();
    EXPECT_TRUE(port.Read(buffer, sizeof buffer, received, SerialPort::kNoLimit));
    EXPECT_EQ(received, 0u);
    EXPECT_LT(MillisecondsSince(start), 500.0);

    pty.Send("$GPGGA\r\n");
    EXPECT_EQ(Collect(port, 8), "$GPGGA\r\n");

    // A read never takes more than its capacity; the rest waits for the next read.
    pty.Send("0123456789");
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(port.Read(buffer, 4, received, SerialPort::kNoLimit));
    EXPECT_EQ(AsText(buffer, received), "0123");
    EXPECT_EQ(Collect(port, 6), "456789");
}

TEST_F(SerialPortTest, BlockingReadWaitsForTheFirstByteUpToItsLimit) {
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    std::uint8_t buffer[64];
    std::uint32_t received = 99;

    auto start = SteadyClock::now();
    EXPECT_FALSE(port.Read(buffer, sizeof buffer, received, 150));
    EXPECT_EQ(received, 0u);
    EXPECT_GE(MillisecondsSince(start), 140.0);
    EXPECT_LT(MillisecondsSince(start), 2000.0);

    // A byte that comes within the limit ends the wait.
    std::thread peer([this] {
        std::this_thread::sleep_for(100ms);
        pty.Send("OK\r\n");
    });
    start = SteadyClock::now();
    EXPECT_TRUE(port.Read(buffer, sizeof buffer, received, 5000));
    peer.join();
    EXPECT_GE(MillisecondsSince(start), 90.0);
    EXPECT_LT(MillisecondsSince(start), 4000.0);
    std::string got = AsText(buffer, received);
    // The read ends at the first gap; anything it left comes with the next one.
    if (got.size() < 4) {
        ASSERT_TRUE(port.Read(buffer, sizeof buffer, received, 1000));
        got += AsText(buffer, received);
    }
    EXPECT_EQ(got, "OK\r\n");

    // No limit: waits as long as it takes.
    std::thread late([this] {
        std::this_thread::sleep_for(200ms);
        pty.Send(">");
    });
    EXPECT_TRUE(port.Read(buffer, sizeof buffer, received, SerialPort::kNoLimit));
    late.join();
    EXPECT_EQ(AsText(buffer, received), ">");
}

TEST_F(SerialPortTest, BlockingReadEndsAtAGapBetweenBursts) {
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    std::thread peer([this] {
        pty.Send("first");
        std::this_thread::sleep_for(300ms);
        pty.Send("second");
    });
    std::uint8_t buffer[64];
    std::uint32_t received = 0;
    std::string got;
    while (got.size() < 5) {
        ASSERT_TRUE(port.Read(buffer, sizeof buffer, received, 2000));
        got += AsText(buffer, received);
    }
    EXPECT_EQ(got, "first");
    ASSERT_TRUE(port.Read(buffer, sizeof buffer, received, 2000));
    peer.join();
    EXPECT_EQ(AsText(buffer, received).substr(0, 1), "s");
}

TEST_F(SerialPortTest, ReadsFailOnceThePeerHasGone) {
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    pty.HangUp();
    std::uint8_t buffer[16];
    std::uint32_t received = 0;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(port.Read(buffer, sizeof buffer, received, SerialPort::kNoLimit));
    port.SetBlocking(false);
    EXPECT_FALSE(port.Read(buffer, sizeof buffer, received, SerialPort::kNoLimit));
    EXPECT_EQ(received, 0u);
    EXPECT_LT(MillisecondsSince(start), 2000.0);
}

TEST_F(SerialPortTest, WriteDeliversEverythingWithOrWithoutACount) {
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    ASSERT_TRUE(WriteText(port, "LOADSTAR\r"));
    EXPECT_EQ(pty.Receive(9), "LOADSTAR\r");

    // More than the terminal buffers at once: the write goes on as the peer reads.
    std::vector<std::uint8_t> big(300000);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    std::string seen;
    std::thread peer([&] { seen = pty.Receive(big.size(), 20s); });
    std::uint32_t written = 0;
    EXPECT_TRUE(port.Write(big.data(), static_cast<std::uint32_t>(big.size()), &written));
    peer.join();
    EXPECT_EQ(written, big.size());
    EXPECT_TRUE(seen == AsText(big.data(), static_cast<std::uint32_t>(big.size())));

    EXPECT_TRUE(port.Write(big.data(), 0, &written));
    EXPECT_EQ(written, 0u);
}

// A peer that stopped reading: the master is never read and the line's buffer is full.
// Bytes the 44-byte Output configuration cannot get out are a failed write within about
// two seconds, not a window held for a minute and a half.
TEST_F(SerialPortTest, WriteToAPeerThatStoppedReadingGivesUpWithinTwoSeconds) {
    const int filler = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(filler, 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(filler, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(filler, TCSANOW, &raw), 0);
    // The terminal layer moves bytes on behind the writer's back, and takes smaller
    // writes when it has no room for large ones; full is when it has taken nothing, not
    // even one byte, for a while.
    const std::vector<char> block(4096, 'f');
    for (std::size_t size = block.size(); size >= 1; size /= 2) {
        for (;;) {
            if (write(filler, block.data(), size) > 0) {
                continue;
            }
            ASSERT_EQ(errno, EAGAIN);
            pollfd entry{filler, POLLOUT, 0};
            if (poll(&entry, 1, 100) == 0) {
                break;
            }
        }
    }
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    port.SetBlocking(false);
    const std::vector<std::uint8_t> frame(44, 0x24);
    for (bool blocking : {false, true}) {
        port.SetBlocking(blocking);
        std::uint32_t written = 7;
        const auto start = SteadyClock::now();
        EXPECT_FALSE(port.Write(frame.data(), static_cast<std::uint32_t>(frame.size()), &written));
        EXPECT_EQ(written, 0u);
        EXPECT_GE(MillisecondsSince(start), 1500.0) << blocking;
        EXPECT_LT(MillisecondsSince(start), 3000.0) << blocking;
    }
    // Nor does the stuck line hold up a change of rate.
    const auto start = SteadyClock::now();
    EXPECT_TRUE(port.SetBaudRate(9600));
    EXPECT_LT(MillisecondsSince(start), 1000.0);
    close(filler);
}

// A line whose output does not drain (a stopped adapter) holds SetBaudRate for no longer
// than the queued bytes need at the old rate, plus a second.
TEST(SerialPortDrain, LimitIsTheQueuedBytesTimeAtTheOldRatePlusASecond) {
    EXPECT_EQ(SerialPort::DrainLimit(0, 19200, 10), 1000ms);
    EXPECT_EQ(SerialPort::DrainLimit(960, 9600, 10), 2000ms);
    EXPECT_EQ(SerialPort::DrainLimit(4096, 4800, 10), 9534ms);
    EXPECT_EQ(SerialPort::DrainLimit(4800, 4800, 11), 12000ms);
    EXPECT_EQ(SerialPort::DrainLimit(100, 0, 10), 1000ms);
}

TEST_F(SerialPortTest, ClosedPortRefusesIoAndCloseIsHarmless) {
    SerialPort port;
    ExpectClosedPortRefusesIoAndReopens(port, pty.path().c_str());
}

TEST_F(SerialPortTest, SetBaudRateIsSeenByThePeer) {
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    const struct {
        std::uint32_t rate;
        speed_t speed;
    } rates[] = {{4800, B4800},   {9600, B9600},     {19200, B19200},   {38400, B38400},
                 {57600, B57600}, {115200, B115200}, {230400, B230400}, {1200, B1200}};
    for (const auto& r : rates) {
        ASSERT_TRUE(port.SetBaudRate(r.rate)) << r.rate << ": " << port.errorText();
        const termios s = pty.Settings();
        EXPECT_EQ(cfgetispeed(&s), r.speed) << r.rate;
        EXPECT_EQ(cfgetospeed(&s), r.speed) << r.rate;
        // Only the rate changes.
        EXPECT_EQ(s.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(s.c_lflag & ICANON, 0u);
    }
    // What was written before the change is not held up by it and reaches the
    // peer whole.
    ASSERT_TRUE(WriteText(port, "LOADSTAR\r"));
    const auto start = SteadyClock::now();
    ASSERT_TRUE(port.SetBaudRate(19200));
    EXPECT_LT(MillisecondsSince(start), 1000.0);
    EXPECT_EQ(pty.Receive(9), "LOADSTAR\r");

    // Open takes every rate as well.
    port.Close();
    ASSERT_TRUE(port.Open(pty.path().c_str(), 38400, 0));
    const termios s = pty.Settings();
    EXPECT_EQ(cfgetospeed(&s), static_cast<speed_t>(B38400));
}

TEST_F(SerialPortTest, AnUnsupportedRateFailsCleanly) {
    SerialPort port;
    for (std::uint32_t rate : {0u, 12345u, 19201u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(port.Open(pty.path().c_str(), rate, 0)) << rate;
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.lastError(), static_cast<std::uint32_t>(EINVAL));
        EXPECT_STREQ(port.errorText(), std::strerror(EINVAL));
    }
    // The failed opens released the device.
    ASSERT_TRUE(port.Open(pty.path().c_str(), 9600, 0));
    EXPECT_FALSE(port.SetBaudRate(12345));
    EXPECT_EQ(port.lastError(), static_cast<std::uint32_t>(EINVAL));
    EXPECT_TRUE(port.IsOpen());
    const termios s = pty.Settings();
    EXPECT_EQ(cfgetospeed(&s), static_cast<speed_t>(B9600));
}

TEST_F(SerialPortTest, OpenAndPurgeDiscardPendingInputOnly) {
    SerialPort port;
    port.SetBlocking(false);
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    pty.Send("stale");
    std::this_thread::sleep_for(200ms); // let it reach the port's input buffer
    // Our own output waiting for the peer is not thrown away.
    ASSERT_TRUE(WriteText(port, "keep"));
    port.Purge();
    EXPECT_EQ(pty.Receive(4), "keep");
    pty.Send("fresh");
    EXPECT_EQ(Collect(port, 5), "fresh");

    // Input left over from before an Open is gone after it.
    pty.Send("old");
    std::this_thread::sleep_for(200ms);
    port.Close();
    ASSERT_TRUE(port.Open(pty.path().c_str(), 19200, 0));
    pty.Send("new");
    EXPECT_EQ(Collect(port, 3), "new");
}

TEST_F(SerialPortTest, RefusedModemLineControlDoesNotFailTheOpen) {
    // A pseudo-terminal has no DTR or RTS and refuses to switch them.
    const int fd = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    int lines = TIOCM_DTR | TIOCM_RTS;
    const bool refused = ioctl(fd, TIOCMBIC, &lines) != 0;
    close(fd);
    if (!refused) {
        GTEST_SKIP() << "this kernel's pseudo-terminals accept modem line control";
    }
    SerialPort port;
    EXPECT_TRUE(port.Open(pty.path().c_str(), 19200, 0)) << port.errorText();
    EXPECT_TRUE(port.IsOpen());
}

} // namespace
