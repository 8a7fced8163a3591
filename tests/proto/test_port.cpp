// The port manager: its state at start-up, recipient registration and dispatch, the
// port-changed hook, the receive path on a real pseudo-terminal, and that receiving
// allocates nothing per byte or per message.

#include "proto/Port.h"

#include "framing_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <thread>
#include <unistd.h>

#include "tests/proto/Alloccount.h"

namespace {

const Bytes kExample = B({0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0x9F, 0xA9, 0x0D, 0x0A});

struct Call {
    int who;
    Bytes frame;
    int length;
    bool pointerAtDollar;
};

// What recipients saw; filled by the callbacks below.
std::vector<Call> calls;

MsgCallback Recorder(int who) {
    return [who](const std::uint8_t* frame, int length) {
        calls.push_back({who, Bytes(frame, frame + length), length, frame[0] == '$'});
    };
}

// The reader's loop: every byte to the binary framer, then the line framer; each binary
// frame dispatched before the next byte.
void Receive(const std::uint8_t* data, std::size_t n, int* lines = nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
        if (DiagFramer.ProcessByte(data[i])) {
            DispatchMsg(DiagFramer.GetMsg(), DiagFramer.GetMsgLen());
        }
        if (LineFramer.ProcessByte(data[i]) && lines != nullptr) {
            ++*lines;
        }
    }
}

void Receive(const Bytes& b) {
    Receive(b.data(), b.size());
}

// Runs first (tests run in the order written): nothing has touched the globals yet.
TEST(Port, StateAtStart) {
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_TRUE(PortDeviceName.empty());
    EXPECT_EQ(PortBaudRate, 0);
    EXPECT_TRUE(Recipients.empty());
    // Without a hook the notification does nothing.
    NotifyPortChanged();
    // Both framers start hunting.
    int lines = 0;
    Receive(kExample.data(), kExample.size(), &lines);
    EXPECT_EQ(DiagFramer.GetMsgLen(), 11);
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(sizeof RxBuffer, 1024u);
    const MsgRecipient none;
    EXPECT_EQ(none.owner, nullptr);
    EXPECT_FALSE(none.callback);
    EXPECT_EQ(none.flags, 0);
}

TEST(Port, DispatchByIdToTheLatestRecipient) {
    calls.clear();
    int ownerA = 0, ownerB = 0;
    RegisterRecipient(4, &ownerA, Recorder(1), 0);
    RegisterRecipient(1, &ownerA, Recorder(2), 0);
    RegisterRecipient(4, &ownerB, Recorder(3), 0); // replaces the first
    RegisterRecipient(7, &ownerB, MsgCallback(), 0);
    EXPECT_EQ(Recipients.size(), 3u);
    EXPECT_EQ(Recipients[4].owner, &ownerB);

    const Bytes report4 = Frame(4, Bytes(140, 0x24));
    const Bytes report1 = Frame(1, B({9, 9}));
    Receive(Cat({report4, B("$GPZDA,1*00\r\n"), Frame(2, B({1})), Frame(7, {}), report1,
                 Frame(0xFF, B({4}))}));

    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].who, 3);
    EXPECT_EQ(calls[0].frame, report4);
    EXPECT_EQ(calls[0].length, int(report4.size()));
    EXPECT_EQ(calls[0].length, report4[kFrameLengthOffset]);
    EXPECT_TRUE(calls[0].pointerAtDollar);
    EXPECT_EQ(calls[1].who, 2);
    EXPECT_EQ(calls[1].frame, report1);

    // Frames too short to hold an id are ignored rather than read past.
    calls.clear();
    const std::uint8_t stub[2] = {'$', 'x'};
    DispatchMsg(stub, 2);
    DispatchMsg(nullptr, 11);
    EXPECT_TRUE(calls.empty());
}

TEST(Port, NotifyCallsTheInstalledHook) {
    int refreshed = 0;
    SetPortChangedHook([&refreshed] { ++refreshed; });
    NotifyPortChanged();
    NotifyPortChanged();
    EXPECT_EQ(refreshed, 2);
    SetPortChangedHook(nullptr);
    NotifyPortChanged();
    EXPECT_EQ(refreshed, 2);
}

TEST(Port, ReceivePathAllocatesNothing) {
    calls.clear();
    calls.reserve(4);
    long seen = 0;
    RegisterRecipient(
        4, nullptr, [&seen](const std::uint8_t*, int) { ++seen; }, 0);
    // Interleaved text, frames for a recipient and for none, garbage and an over-long line.
    const Bytes stream = Cat({B("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,*47\r\n"),
                              Frame(4, Bytes(130, 0x0D)), Frame(0x31, B({1, 2, 3})),
                              B("$$x\x01garbage\r\r"), Bytes(1300, 'z'), B("\r\n")});
    const long before = AllocationCount();
    for (int i = 0; i < 1000; ++i) {
        Receive(stream);
    }
    EXPECT_EQ(AllocationCount() - before, 0);
    EXPECT_EQ(seen, 1000);
}

// ---------------------------------------------------------------------------------------
// The real serial port on a pseudo-terminal: a frame written in pieces, with text
// around it, is read in several reads and dispatched once.

TEST(Port, FramesArriveThroughTheSerialPort) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);

    PortDeviceName = slave;
    PortBaudRate = 19200;
    ASSERT_TRUE(CommPort.Open(PortDeviceName.c_str(), PortBaudRate, 0)) << CommPort.errorText();
    CommPort.SetBlocking(false);

    calls.clear();
    RegisterRecipient(4, nullptr, Recorder(4), 0);
    const Bytes report = Frame(4, Bytes(134, 0x78));
    const Bytes all = Cat({B("$GPRMC,1*00\r\n"), report, B("$GPRMC,2*00\r\n")});
    int lines = 0;
    // Written in three pieces with pauses, so the frame is cut across reads.
    const std::size_t cuts[] = {0, 20, 90, all.size()};
    for (int piece = 0; piece < 3; ++piece) {
        ASSERT_EQ(write(master, all.data() + cuts[piece], cuts[piece + 1] - cuts[piece]),
                  static_cast<ssize_t>(cuts[piece + 1] - cuts[piece]));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        std::uint32_t received = 0;
        ASSERT_TRUE(CommPort.Read(RxBuffer, kRxBufferSize, received, 0));
        Receive(RxBuffer, received, &lines);
    }
    // Whatever the driver still held.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (lines < 3 && std::chrono::steady_clock::now() < deadline) {
        std::uint32_t received = 0;
        ASSERT_TRUE(CommPort.Read(RxBuffer, kRxBufferSize, received, 0));
        Receive(RxBuffer, received, &lines);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CommPort.Close();
    close(master);

    EXPECT_EQ(lines, 3);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].frame, report);
}

} // namespace
