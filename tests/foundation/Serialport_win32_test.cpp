// SerialPort on real COM ports. The harness joins two ports to each other (under wine:
// the two ends of a pseudo-terminal pair), so what is written to one comes out of the
// other; their names come from KESTRANE_TEST_COM_A and KESTRANE_TEST_COM_B. The test
// holds B as the receiver's side and puts the port under test on A.
#include "serial/Serialport.h"
#include "tests/foundation/Serialhelpers.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Reads with either set until want bytes came or timeout passed.
std::string Collect(SerialPort& port, std::size_t want, std::chrono::milliseconds timeout = 2s) {
    std::string got;
    const auto deadline = SteadyClock::now() + timeout;
    while (got.size() < want && SteadyClock::now() < deadline) {
        std::uint8_t buffer[4096];
        std::uint32_t received = 0;
        const auto room = static_cast<std::uint32_t>(std::min(sizeof buffer, want - got.size()));
        if (port.Read(buffer, room, received, 50) && received > 0) {
            got += AsText(buffer, received);
        } else {
            std::this_thread::sleep_for(2ms);
        }
    }
    return got;
}

class SerialPortWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        const char* a = std::getenv("KESTRANE_TEST_COM_A");
        const char* b = std::getenv("KESTRANE_TEST_COM_B");
        ASSERT_TRUE(a && *a && b && *b) << "KESTRANE_TEST_COM_A and KESTRANE_TEST_COM_B "
                                           "must name two COM ports joined to each other";
        portA = a;
        ASSERT_TRUE(peer.Open(b, 19200, 0)) << b << ": " << peer.errorText();
        peer.SetBlocking(false);
        // Start from a quiet line: an earlier program may have left bytes on the way.
        while (!Collect(peer, 1u << 20, 50ms).empty()) {
        }
    }
    void Send(const std::string& text) { ASSERT_TRUE(WriteText(peer, text)); }

    std::string portA;
    SerialPort peer;
    SerialPort port; // the port under test, on A
};

TEST_F(SerialPortWin32Test, OpenOfAMissingPortFailsWithTheSystemsReason) {
    EXPECT_FALSE(port.Open("COM249", 19200, 0));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.lastError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    const std::string text = port.errorText();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;

    EXPECT_FALSE(port.Open(nullptr, 19200, 0));
    EXPECT_EQ(port.lastError(), static_cast<std::uint32_t>(ERROR_INVALID_NAME));
    EXPECT_FALSE(port.Open(std::string(400, 'C').c_str(), 19200, 0));
    EXPECT_EQ(port.lastError(), static_cast<std::uint32_t>(ERROR_INVALID_NAME));

    EXPECT_TRUE(port.Open(portA.c_str(), 19200, 0)) << port.errorText();
}

// Windows itself refuses a second open of a device held without sharing; wine does not,
// so there this shows the port's own check of its named events.
TEST_F(SerialPortWin32Test, OpenWhileOpenAndOpenOfAHeldPortAreRefused) {
    SerialPort& first = port;
    SerialPort second;
    ASSERT_TRUE(first.Open(portA.c_str(), 19200, 0));
    EXPECT_FALSE(first.Open(portA.c_str(), 4800, 0));
    EXPECT_TRUE(first.IsOpen());
    EXPECT_FALSE(second.Open(portA.c_str(), 19200, 0));
    EXPECT_EQ(second.lastError(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(second.IsOpen());

    // The refused opens took nothing from the holder: its reads and writes go on.
    Send("ping");
    EXPECT_EQ(Collect(first, 4), "ping");
    ASSERT_TRUE(WriteText(first, "pong"));
    EXPECT_EQ(Collect(peer, 4), "pong");

    first.Close();
    EXPECT_TRUE(second.Open(portA.c_str(), 19200, 0)) << second.errorText();
}

// Users also type a port in the device namespace (needed there from COM10 on), or in
// lower case: every spelling opens the same port and counts as the same held device.
TEST_F(SerialPortWin32Test, DeviceNamespaceAndLowerCaseNamesOpenTheSamePort) {
    const std::string prefixed = "\\\\.\\" + portA;
    std::string lower = portA;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    ASSERT_TRUE(port.Open(prefixed.c_str(), 19200, 0)) << prefixed << ": " << port.errorText();
    Send("ping");
    EXPECT_EQ(Collect(port, 4), "ping");

    for (const std::string& name : {portA, lower, prefixed}) {
        SerialPort second;
        EXPECT_FALSE(second.Open(name.c_str(), 19200, 0)) << name;
        EXPECT_EQ(second.lastError(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED)) << name;
    }
    port.Close();
    ASSERT_TRUE(port.Open(lower.c_str(), 19200, 0)) << lower << ": " << port.errorText();
    SerialPort second;
    EXPECT_FALSE(second.Open(prefixed.c_str(), 19200, 0));
}

TEST_F(SerialPortWin32Test, NonBlockingReadOfAQuietLineReturnsAtOnce) {
    port.SetBlocking(false); // on a closed port: applies to the next Open
    ASSERT_TRUE(port.Open(portA.c_str(), 19200, 0));
    std::uint8_t buffer[1024];
    std::uint32_t received = 99;
    const auto start = SteadyClock::now();
    EXPECT_TRUE(port.Read(buffer, sizeof buffer, received, SerialPort::kNoLimit));
    EXPECT_EQ(received, 0u);
    EXPECT_LT(MillisecondsSince(start), 500.0);

    // A read never takes more than its capacity; the rest waits for the next read.
    Send("0123456789");
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(port.Read(buffer, 4, received, SerialPort::kNoLimit));
    EXPECT_EQ(AsText(buffer, received), "0123");
    EXPECT_EQ(Collect(port, 6), "456789");
}

TEST_F(SerialPortWin32Test, BlockingReadWaitsForTheFirstByteUpToItsLimitAndEndsAtAGap) {
    ASSERT_TRUE(port.Open(portA.c_str(), 19200, 0));
    std::uint8_t buffer[64];
    std::uint32_t received = 99;

    auto start = SteadyClock::now();
    EXPECT_FALSE(port.Read(buffer, sizeof buffer, received, 150));
    EXPECT_EQ(received, 0u);
    EXPECT_FALSE(port.HungUp());
    EXPECT_GE(MillisecondsSince(start), 140.0);

    // Bytes that come within the limit end the wait, and a quiet gap ends the read: the
    // second burst is not waited for, with no limit either.
    std::thread sender([this] {
        std::this_thread::sleep_for(100ms);
        Send("first");
        std::this_thread::sleep_for(400ms);
        Send("second");
    });
    start = SteadyClock::now();
    std::string got;
    while (got.size() < 5 && port.Read(buffer, sizeof buffer, received, SerialPort::kNoLimit)) {
        got += AsText(buffer, received);
    }
    const double firstMs = MillisecondsSince(start);
    EXPECT_EQ(got, "first");
    EXPECT_GE(firstMs, 90.0);
    EXPECT_LT(firstMs, 400.0);
    EXPECT_EQ(Collect(port, 6), "second");
    sender.join();
}

TEST_F(SerialPortWin32Test, WriteDeliversEverythingWithOrWithoutACount) {
    ASSERT_TRUE(port.Open(portA.c_str(), 19200, 0));
    ASSERT_TRUE(WriteText(port, "LOADSTAR\r"));
    EXPECT_EQ(Collect(peer, 9), "LOADSTAR\r");

    // More than the line buffers at once: the write goes on as the peer reads.
    std::string big(32768, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 256);
    }
    std::string seen;
    std::thread reader([&] { seen = Collect(peer, big.size(), 10s); });
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(big.data());
    std::uint32_t written = 0;
    EXPECT_TRUE(port.Write(bytes, static_cast<std::uint32_t>(big.size()), &written));
    reader.join();
    EXPECT_EQ(written, big.size());
    EXPECT_TRUE(seen == big);
    EXPECT_TRUE(port.Write(bytes, 0, &written));
    EXPECT_EQ(written, 0u);
}

// The peer stops reading until the line is full. A 44-byte command that cannot get out
// is a failed write within about two seconds with either set, and the port works again
// once the peer reads.
TEST_F(SerialPortWin32Test, WriteToAPeerThatStoppedReadingGivesUpWithinTwoSeconds) {
    port.SetBlocking(false);
    ASSERT_TRUE(port.Open(portA.c_str(), 19200, 0));
    // The line takes smaller writes when it has no room for large ones: full is when it
    // takes no more whole frames.
    const std::vector<std::uint8_t> frame(44, 0x24);
    for (std::uint32_t size : {16384u, 44u}) {
        const std::vector<std::uint8_t> block(size, 'f');
        bool full = false;
        for (int i = 0; i < 20000 && !full; ++i) {
            full = !port.Write(block.data(), size);
        }
        ASSERT_TRUE(full) << size;
    }
    for (bool blocking : {false, true}) {
        port.SetBlocking(blocking);
        std::uint32_t written = 7;
        const auto start = SteadyClock::now();
        EXPECT_FALSE(port.Write(frame.data(), static_cast<std::uint32_t>(frame.size()), &written));
        EXPECT_EQ(written, 0u);
        EXPECT_GE(MillisecondsSince(start), 1500.0) << blocking;
        EXPECT_LT(MillisecondsSince(start), 3000.0) << blocking;
    }
    while (!Collect(peer, 1u << 20, 300ms).empty()) {
    }
    ASSERT_TRUE(WriteText(port, "after"));
    EXPECT_EQ(Collect(peer, 5), "after");
}

TEST_F(SerialPortWin32Test, SetBaudRateKeepsThePortWorking) {
    ASSERT_TRUE(port.Open(portA.c_str(), 19200, 0));
    // What was written before the change reaches the peer whole and does not hold it up.
    ASSERT_TRUE(WriteText(port, "LOADSTAR\r"));
    const auto start = SteadyClock::now();
    ASSERT_TRUE(port.SetBaudRate(38400)) << port.errorText();
    EXPECT_LT(MillisecondsSince(start), 1500.0);
    EXPECT_EQ(Collect(peer, 9), "LOADSTAR\r");
    EXPECT_TRUE(port.SetBaudRate(4800)) << port.errorText();
    Send("$GPZDA\r\n");
    EXPECT_EQ(Collect(port, 8), "$GPZDA\r\n");
}

TEST_F(SerialPortWin32Test, PurgeDiscardsPendingInputOnly) {
    port.SetBlocking(false);
    ASSERT_TRUE(port.Open(portA.c_str(), 19200, 0));
    Send("stale");
    std::this_thread::sleep_for(200ms); // let it reach the port's input buffer
    // Our own output waiting for the peer is not thrown away.
    ASSERT_TRUE(WriteText(port, "keep"));
    port.Purge();
    EXPECT_EQ(Collect(peer, 4), "keep");
    Send("fresh");
    EXPECT_EQ(Collect(port, 5), "fresh");
}

TEST_F(SerialPortWin32Test, ClosedPortRefusesIoAndCloseIsHarmless) {
    ExpectClosedPortRefusesIoAndReopens(port, portA.c_str());
}

} // namespace
