// kestrane-cli replay end to end: a raw recording of the simulated receiver made by the
// monitor shows again exactly what the monitor showed live; every capture in the tests'
// data replays to its golden display; a recording or an export that cannot be written
// fails the command without stopping reception.

#include "tests/cli/Cliprocess.h"

#include "sim/Simreceiver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines shown, each without its "HH:MM:SS: " stamp.
std::vector<std::string> Shown(const std::string& out) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        lines.push_back(line.size() >= 10 && line[2] == ':' && line[8] == ':'
                            ? line.substr(10)
                            : "unstamped " + line);
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return lines;
}

class ReplayCliTest : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args,
                  const std::function<void(pid_t, const CliResult&)>& during = {}) {
        return RunCliProgram(args, {}, tree_.path(), std::chrono::seconds(60), during);
    }
    EmptySysfs tree_;
    std::string dir_ = MakeTempDir();
};

TEST_F(ReplayCliTest, ARawRecordingReplaysAsTheMonitorShowedItLive) {
    SimOptions options;
    options.navRate = 5;
    options.otherTalkers = true;
    options.otherBinary = true;
    options.noise = true; // bytes of every value between the messages, LF among them
    SimReceiver receiver(options);
    ASSERT_TRUE(receiver.Start());
    const std::string raw = dir_ + "/raw.bin";
    const CliResult live = Run({"--port", receiver.DevicePath(), "monitor", "--duration", "3",
                                "--raw", raw, "--log", dir_ + "/live.log"});
    ASSERT_EQ(live.status, 0) << live.err;
    const std::vector<std::string> shown = Shown(live.out);
    ASSERT_GT(shown.size(), 40u);
    ASSERT_NE(live.out.find("Proprietary ID 2"), std::string::npos);

    const CliResult again = Run({"replay", "--speed", "max", raw, "--log", dir_ + "/again.log"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(Shown(again.out), shown);
    EXPECT_EQ(ReadFile(dir_ + "/again.log"), ReadFile(dir_ + "/live.log"));
}

TEST_F(ReplayCliTest, EveryCaptureReplaysToItsGoldenDisplay) {
    const std::string data = KESTRANE_TEST_DATA;
    int captures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data + "/nmea")) {
        if (entry.path().extension() != ".log")
            continue;
        ++captures;
        const std::string name = entry.path().filename().string();
        const CliResult r = Run({"replay", "--speed", "max", entry.path().string()});
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        std::string shown;
        for (const std::string& line : Shown(r.out))
            shown += line + "\n";
        EXPECT_EQ(shown, ReadFile(data + "/golden/" + name + ".replay")) << name;
    }
    EXPECT_EQ(captures, 6);
}

TEST_F(ReplayCliTest, AFailedRecordingStopsWithAMessageAndReceptionGoesOn) {
    SimReceiver receiver;
    ASSERT_TRUE(receiver.Start());
    const std::string message =
        "Error writing raw recording /dev/full: No space left on device; the recording has "
        "stopped.\n";
    // The recording is flushed as it is written, so the full disk is found with the first
    // fix (a second or so after the port opens), not when the monitor ends.
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> opened;
    std::optional<Clock::time_point> told;
    const CliResult r =
        Run({"--port", receiver.DevicePath(), "monitor", "--duration", "4", "--raw", "/dev/full"},
            [&](pid_t, const CliResult& sofar) {
                if (!opened && sofar.err.find("Monitoring") != std::string::npos)
                    opened = Clock::now();
                if (!told && sofar.err.find(message) != std::string::npos)
                    told = Clock::now();
            });
    EXPECT_EQ(r.status, 1);
    ASSERT_TRUE(opened && told) << r.err;
    EXPECT_LT(*told - *opened, std::chrono::milliseconds(2500));
    const std::size_t at = r.err.find(message);
    EXPECT_EQ(r.err.find(message, at + 1), std::string::npos) << "told once";
    // A fix a second for 4 s: the fixes after the failure were shown too.
    EXPECT_GE(std::count(r.out.begin(), r.out.end(), '\n'), 12) << r.out;

    // Replay's exports: the CSV written, the GPX that cannot be fails the command.
    const std::string capture = dir_ + "/three.log";
    std::ofstream(capture, std::ios::binary)
        << "$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*49\n"
           "$GPRMC,120000,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*64\n"
           "$GPGGA,120001,4807.039,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*49\n"
           "$GPRMC,120001,A,4807.039,N,01131.000,E,022.4,084.4,230394,003.1,W*64\n";
    const std::string csv = dir_ + "/three.csv";
    const CliResult exported =
        Run({"replay", "--speed", "max", "--quiet", capture, "--csv", csv, "--gpx", "/dev/full"});
    EXPECT_EQ(exported.status, 1);
    EXPECT_EQ(exported.out, "");
    EXPECT_NE(exported.err.find("Error writing GPX file /dev/full: No space left on device"),
              std::string::npos)
        << exported.err;
    const std::string table = ReadFile(csv);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3) << table;
    EXPECT_NE(table.find("1994-03-23T12:00:01"), std::string::npos) << table;
}

TEST_F(ReplayCliTest, AFileThatIsNotARecordingIsRefused) {
    const std::string blob = dir_ + "/blob.bin";
    std::ofstream(blob, std::ios::binary) << std::string(3000, '\x01') << "\n";
    const CliResult r = Run({"replay", blob});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(blob + " is not a recording"), std::string::npos) << r.err;
}

} // namespace
