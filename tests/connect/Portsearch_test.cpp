// The automatic search on real serial ports: pseudo-terminals whose master side plays a
// silent line or a receiver at one rate. (The loopback plug and Cancel are tested through
// the windows, against the simulated receiver.) The clock is a FakeClock that
// moves one second every ten 100 ms ticks, so a two-second attempt takes twenty ticks.

#include "connect/Portsearch.h"

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "tests/connect/Ptypeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Attempt = std::pair<std::string, std::uint32_t>;

// Plays the window and the main window's poll around a PortSearch.
class Harness : public SearchHost {
public:
    FakeClock clock;
    SerialPort port;
    DeviceList devices;
    PortSearch search{port, clock, devices, *this};
    std::vector<PeerOnPty*> peers;

    bool deviceManual = false;
    bool baudManual = false;
    std::int32_t messageCount = 0;
    int lastMessageId = 0;

    std::vector<Attempt> attempts;
    std::vector<std::string> waitTexts;
    bool waitVisible = false;
    int found = 0;
    int foundBaudIndex = -1;
    int notFound = 0;
    int notOpened = 0;
    bool searchingDuringNote = true;

    bool DeviceManual() const override { return deviceManual; }
    bool BaudManual() const override { return baudManual; }
    std::int32_t MessageCount() const override { return messageCount; }
    int LastMessageId() const override { return lastMessageId; }
    void AttemptOpened(const std::string& device, std::uint32_t rate, int deviceIndex,
                       int baudIndex) override {
        EXPECT_EQ(device, devices[static_cast<std::size_t>(deviceIndex)]);
        EXPECT_EQ(rate, kBaudRates[static_cast<std::size_t>(baudIndex)]);
        attempts.emplace_back(device, rate);
    }
    void AttemptNotOpened() override { ++notOpened; }
    void ShowAttempt(const std::string& text) override {
        waitTexts.push_back(text);
        waitVisible = true;
    }
    void HideAttempt() override { waitVisible = false; }
    void ReceiverFound(int baudIndex) override {
        ++found;
        foundBaudIndex = baudIndex;
    }
    void ReceiverNotFound() override {
        ++notFound;
        searchingDuringNote = search.Searching();
    }

    // The main window's poll: read what arrived, count frames and $GP lines.
    void Poll() {
        if (!port.IsOpen())
            return;
        std::uint8_t buf[1024];
        std::uint32_t n = 0;
        if (!port.Read(buf, sizeof buf, n, 0))
            n = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (diag_.ProcessByte(buf[i])) {
                ++messageCount;
                lastMessageId = diag_.GetMsg()[kFrameIdOffset];
            }
            if (line_.ProcessByte(buf[i]) && line_.GetMsgLen() >= 3 &&
                std::string(reinterpret_cast<const char*>(line_.GetMsg()), 3) == "$GP") {
                ++messageCount;
            }
        }
    }

    void Tick() {
        for (PeerOnPty* p : peers)
            p->Serve();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Poll();
        search.Check();
    }

    // Ten ticks, then the calendar moves on one second.
    void RunSeconds(int seconds) {
        for (int s = 0; s < seconds; ++s) {
            for (int t = 0; t < 10; ++t)
                Tick();
            clock.Advance(1);
        }
    }

    // Runs until the search has ended; fails the test if that takes too long.
    // Stops at the tick that ended it, so the clock tells how long the search took.
    void RunToEnd(int maxSeconds = 60) {
        for (int s = 0; s < maxSeconds && search.Searching(); ++s) {
            for (int t = 0; t < 10 && search.Searching(); ++t)
                Tick();
            if (search.Searching())
                clock.Advance(1);
        }
        EXPECT_FALSE(search.Searching());
    }

private:
    DiagProto diag_;
    CRLFProto line_;
};

std::vector<Attempt> Combos(const std::string& device, std::initializer_list<std::uint32_t> rates) {
    std::vector<Attempt> out;
    for (std::uint32_t r : rates)
        out.emplace_back(device, r);
    return out;
}

std::vector<Attempt> operator+(std::vector<Attempt> a, const std::vector<Attempt>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(PortSearch, FindsReceiverOnSecondDeviceAt9600AfterSixAttempts) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    PeerOnPty silent(a, PeerOnPty::Mode::Silent);
    PeerOnPty receiver(b, PeerOnPty::Mode::Receiver, 9600);
    Harness h;
    h.devices = {a.path(), b.path()};
    h.peers = {&silent, &receiver};

    h.search.Start(0, 0);
    ASSERT_TRUE(h.search.Searching());
    const std::int64_t start = h.clock.Seconds();
    h.RunToEnd();

    EXPECT_EQ(h.attempts,
              Combos(a.path(), {4800, 9600, 19200, 38400}) + Combos(b.path(), {4800, 9600}));
    EXPECT_EQ(h.found, 1);
    EXPECT_EQ(h.foundBaudIndex, 1);
    EXPECT_EQ(h.notFound, 0);
    EXPECT_FALSE(h.waitVisible);
    // Six attempts of two seconds each, the last one judged at its end.
    EXPECT_EQ(h.clock.Seconds() - start, 12);
    // The port stays open at the receiver's device and rate.
    EXPECT_TRUE(h.port.IsOpen());
    EXPECT_EQ(b.LineRate(), 9600u);
    EXPECT_EQ(receiver.answered(), 1);
    EXPECT_EQ(h.waitTexts.front(), "Attempting " + a.path() + " at 4800");
    EXPECT_EQ(h.waitTexts.back(), "Attempting " + b.path() + " at 9600");

    // Each attempt on the silent line sent exactly the Output request for message 4.
    const std::vector<std::uint8_t> request = {0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24,
                                               0x04, 0x9F, 0xA9, 0x0D, 0x0A};
    std::vector<std::uint8_t> four;
    for (int i = 0; i < 4; ++i)
        four.insert(four.end(), request.begin(), request.end());
    EXPECT_EQ(silent.received(), four);

    // Once found, further ticks change nothing.
    h.RunSeconds(5);
    EXPECT_EQ(h.attempts.size(), 6u);
}

// The order of attempts for each setting of the Auto/Manual buttons, on silent lines.
TEST(PortSearch, OrderOfAttemptsFollowsTheButtons) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    struct Case {
        const char* name;
        bool deviceManual;
        bool baudManual;
        int deviceIndex;
        int baudIndex;
        std::vector<Attempt> expected;
        std::uint32_t lastRate;
    };
    const std::vector<Case> cases = {
        {"both auto", false, false, 0, 0,
         Combos(a.path(), {4800, 9600, 19200, 38400}) +
             Combos(b.path(), {4800, 9600, 19200, 38400}),
         38400},
        {"device manual, second device", true, false, 1, 0,
         Combos(b.path(), {4800, 9600, 19200, 38400}), 38400},
        {"rate manual at 9600", false, true, 0, 1,
         Combos(a.path(), {9600}) + Combos(b.path(), {9600}), 9600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.devices = {a.path(), b.path()};
        h.deviceManual = c.deviceManual;
        h.baudManual = c.baudManual;
        h.search.Start(c.deviceIndex, c.baudIndex);
        const std::int64_t start = h.clock.Seconds();
        h.RunToEnd();
        EXPECT_EQ(h.attempts, c.expected);
        EXPECT_EQ(h.notFound, 1);
        EXPECT_EQ(h.found, 0);
        EXPECT_FALSE(h.searchingDuringNote);
        EXPECT_FALSE(h.waitVisible);
        EXPECT_EQ(h.clock.Seconds() - start, static_cast<std::int64_t>(2 * c.expected.size()));
        // Nothing found: the port stays open at the last combination.
        EXPECT_TRUE(h.port.IsOpen());
        EXPECT_EQ((c.expected.back().first == a.path() ? a : b).LineRate(), c.lastRate);
    }
}

TEST(PortSearch, ButtonsAreReadAtEveryStep) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    Harness h;
    h.devices = {a.path(), b.path()};
    h.search.Start(0, 0);
    h.RunSeconds(1);
    // The rate goes to Manual during the first attempt: the search keeps 4800 and moves
    // across the devices instead of through the rates.
    h.baudManual = true;
    h.RunSeconds(2);
    EXPECT_EQ(h.attempts, Combos(a.path(), {4800}) + Combos(b.path(), {4800}));
    // And the device goes to Manual: the attempt under way is the last one.
    h.deviceManual = true;
    h.RunToEnd();
    EXPECT_EQ(h.attempts.size(), 2u);
    EXPECT_EQ(h.notFound, 1);
}

TEST(PortSearch, ReceiverSendingOnlyNmeaIsRecognised) {
    Pty a;
    ASSERT_TRUE(a.ok());
    PeerOnPty nmea(a, PeerOnPty::Mode::Nmea, 38400);
    Harness h;
    h.devices = {a.path()};
    h.peers = {&nmea};
    h.search.Start(0, 0);
    h.RunToEnd();
    EXPECT_EQ(h.attempts.size(), 4u);
    EXPECT_EQ(h.found, 1);
    EXPECT_EQ(h.foundBaudIndex, 3);
}

TEST(PortSearch, DevicesThatWillNotOpenAreSkippedSilently) {
    Pty a, held, b;
    ASSERT_TRUE(a.ok() && held.ok() && b.ok());
    SerialPort other; // another program holds this device
    ASSERT_TRUE(other.Open(held.path().c_str(), 19200, 0));
    PeerOnPty receiver(b, PeerOnPty::Mode::Receiver, 19200);
    Harness h;
    h.devices = {a.path(), "/dev/kestrane-no-such-device", held.path(), b.path()};
    h.peers = {&receiver};
    h.search.Start(0, 0);
    h.RunToEnd();
    EXPECT_EQ(h.attempts,
              Combos(a.path(), {4800, 9600, 19200, 38400}) + Combos(b.path(), {4800, 9600, 19200}));
    EXPECT_EQ(h.waitTexts.size(), h.attempts.size());
    EXPECT_EQ(h.found, 1);
    EXPECT_EQ(h.foundBaudIndex, 2);
    EXPECT_TRUE(other.IsOpen());
}

TEST(PortSearch, FirstAttemptThatFailsStartsNoSearch) {
    Pty a;
    ASSERT_TRUE(a.ok());
    Harness h;
    h.devices = {"/dev/kestrane-no-such-device", a.path()};
    h.search.Start(0, 0);
    EXPECT_FALSE(h.search.Searching());
    h.RunSeconds(5);
    EXPECT_TRUE(h.attempts.empty());
    EXPECT_TRUE(h.waitTexts.empty());
    EXPECT_EQ(h.notFound, 0);
    EXPECT_FALSE(h.port.IsOpen());
}

// Apply during an attempt that hears the receiver, onto a device that will not open: the
// traffic counted on the first port must not make the closed one "found".
TEST(PortSearch, AttemptWhoseDeviceWillNotOpenIsNeverJudged) {
    Pty a;
    ASSERT_TRUE(a.ok());
    PeerOnPty nmea(a, PeerOnPty::Mode::Nmea, 4800);
    Harness h;
    h.devices = {a.path(), "/dev/kestrane-no-such-device"};
    h.peers = {&nmea};
    h.search.Start(0, 0);
    h.RunSeconds(1);
    ASSERT_NE(h.messageCount, h.search.AttemptMessageCount());
    h.search.Start(1, 0);
    EXPECT_TRUE(h.search.Searching());
    EXPECT_FALSE(h.port.IsOpen());
    h.RunToEnd();
    EXPECT_EQ(h.found, 0);
    EXPECT_EQ(h.notFound, 1);
    // The four rates of the missing device were each tried, and each one reported.
    EXPECT_EQ(h.attempts, Combos(a.path(), {4800}));
    EXPECT_EQ(h.notOpened, 4);
    EXPECT_FALSE(h.port.IsOpen());
}

TEST(PortSearch, IndexesThatNameNoCombinationOpenNothing) {
    Harness empty;
    empty.search.Start(0, 0); // no devices at all
    EXPECT_FALSE(empty.search.Searching());
    Pty a;
    ASSERT_TRUE(a.ok());
    Harness h;
    h.devices = {a.path()};
    h.search.Start(0, 4);
    EXPECT_FALSE(h.search.Searching());
    h.search.Start(-1, 0);
    EXPECT_FALSE(h.search.Searching());
    EXPECT_TRUE(h.attempts.empty());
}

TEST(PortSearch, AttemptLastsTwoCalendarSeconds) {
    Pty a;
    ASSERT_TRUE(a.ok());
    Harness h;
    h.devices = {a.path()};
    h.search.Start(0, 0);
    EXPECT_EQ(h.search.AttemptStart(), h.clock.Seconds());
    for (int i = 0; i < 30; ++i)
        h.Tick(); // many ticks within one second: no change
    h.clock.Advance(1);
    h.Tick();
    EXPECT_EQ(h.attempts.size(), 1u);
    h.clock.Advance(1);
    h.Tick();
    EXPECT_EQ(h.attempts.size(), 2u);

    // A clock set back counts the attempt from the moment it was noticed.
    h.clock.Advance(-3600);
    h.Tick();
    h.clock.Advance(1);
    h.Tick();
    EXPECT_EQ(h.attempts.size(), 2u);
    h.clock.Advance(1);
    h.Tick();
    EXPECT_EQ(h.attempts.size(), 3u);
}

TEST(PortSearch, StartDuringASearchRestartsFromTheNewIndexes) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    Harness h;
    h.devices = {a.path(), b.path()};
    h.search.Start(0, 0);
    h.RunSeconds(1);
    h.search.Start(1, 3);
    EXPECT_EQ(h.search.DeviceIndex(), 1);
    EXPECT_EQ(h.search.BaudIndex(), 3);
    h.RunToEnd();
    EXPECT_EQ(h.attempts, Combos(a.path(), {4800}) + Combos(b.path(), {38400}));
    EXPECT_EQ(h.notFound, 1);
}

} // namespace
