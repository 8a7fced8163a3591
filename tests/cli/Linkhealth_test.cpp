// The link's health against the simulated receiver: an Apply of 5 fixes a second seen in
// the counted rate of GGA, and kestrane-cli monitor --alerts through an outage of the
// fix.

#include "tests/cli/Cliprocess.h"

#include "base/Clock.h"
#include "proto/Linkstats.h"
#include "proto/Pollport.h"
#include "receiver/Rcvrsettings.h"
#include "sim/Simreceiver.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

struct CountingSink : PollSink {
    LinkStats stats;
    void BytesReceived(const std::uint8_t*, std::size_t length) override {
        stats.BytesReceived(length, SystemClock().Milliseconds());
    }
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        stats.FrameReceived(frame, length, SystemClock().Milliseconds());
    }
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        stats.LineReceived(line, length, SystemClock().Milliseconds());
    }
    void PortHungUp() override {}

    double GgaRate() const {
        for (const LinkStats::Entry& e : stats.Sentences(SystemClock().Milliseconds()))
            if (e.name == "GGA")
                return e.rate;
        return 0.0;
    }
};

} // namespace

TEST(LinkHealth, AnApplyOfFiveFixesASecondShowsInTheRate) {
    SimOptions options;
    options.nmeaFlags = 0x11; // GGA and RMC
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start());
    SerialPort port;
    ASSERT_TRUE(port.Open(sim.DevicePath().c_str(), 19200, 0));
    port.SetBlocking(false);
    DiagProto diag;
    CRLFProto line;
    std::uint8_t buffer[kPollBlockSize];
    CountingSink sink;
    // Polls as the program does, ten times a second, until the rate is within range.
    const auto pollUntil = [&](double low, double high, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            PollPort(port, diag, line, buffer, sink);
            const double rate = sink.GgaRate();
            if (rate >= low && rate <= high)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    };
    ASSERT_TRUE(pollUntil(0.8, 1.2, std::chrono::seconds(6))) << sink.GgaRate();

    ApplyValues values;
    values.navRate = 5;
    values.nmeaFlags = 0x11;
    values.correctionsOn = true;
    ASSERT_EQ(SendApply(port, values, 19200), ApplyRate::Unchanged);
    const auto applied = std::chrono::steady_clock::now();
    // Halfway within a few seconds; in full once the whole window is at the new rate
    // (a stream on the second's boundaries may gain or lose one at either end of it).
    EXPECT_TRUE(pollUntil(3.0, 5.5, std::chrono::seconds(8))) << sink.GgaRate();
    EXPECT_LT(std::chrono::steady_clock::now() - applied, std::chrono::seconds(8));
    EXPECT_TRUE(pollUntil(4.8, 5.2, std::chrono::seconds(10))) << sink.GgaRate();
}

TEST(LinkHealth, MonitorAlertsShowAFixLostAndBack) {
    EmptySysfs tree;
    SimOptions options; // corrections on: differential fixes
    options.fixGapStart = 3;
    options.fixGap = 6;
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start());
    // The gap from 3 to 9 s: the fix lost 5 s after the last at 2, back 5 s after 9.
    const CliResult r = RunCliProgram(
        {"--port", sim.DevicePath(), "monitor", "--alerts", "--quiet", "--duration", "16.5"}, {},
        tree.path());
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> events;
    const std::regex line("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9] (.*)$");
    std::smatch m;
    for (std::size_t at = 0; at < r.out.size();) {
        const std::size_t end = r.out.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string text = r.out.substr(at, end - at);
        ASSERT_TRUE(std::regex_match(text, m, line)) << text;
        events.push_back(m[1]);
        at = end + 1;
    }
    EXPECT_EQ(events, (std::vector<std::string>{"ALERT Differential lost", "ALERT Fix lost",
                                                "END Fix back", "END Differential back"}))
        << r.out;
}

TEST(LinkHealth, MonitorStatsEverySecondAsJsonLines) {
    EmptySysfs tree;
    SimOptions options;
    options.binaryFlags = 0x1; // QX: binary messages of id 0x10 as well
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start());
    const CliResult r = RunCliProgram(
        {"--port", sim.DevicePath(), "monitor", "--stats", "1", "--json", "--duration", "3.5"}, {},
        tree.path());
    EXPECT_EQ(r.status, 0) << r.err;
    // Three a second apart and the one at the end, nothing else.
    const std::regex object("\\{\"type\": \"stats\", .*\"not_sentences\": 0, .*\\}");
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < r.out.size();) {
        const std::size_t end = r.out.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(r.out.substr(at, end - at));
        EXPECT_TRUE(std::regex_match(lines.back(), object)) << lines.back();
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_NE(lines.back().find("{\"name\": \"GGA\", \"count\": "), std::string::npos);
    EXPECT_NE(lines.back().find("{\"id\": 16, \"count\": "), std::string::npos);

    for (const auto& args : {std::vector<std::string>{"monitor", "--json"},
                             std::vector<std::string>{"monitor", "--stats=0"}}) {
        const CliResult usage = RunCliProgram(args, {}, tree.path());
        EXPECT_EQ(usage.status, 2);
        EXPECT_NE(usage.err.find(args[1].substr(0, 7)), std::string::npos) << usage.err;
    }
}
