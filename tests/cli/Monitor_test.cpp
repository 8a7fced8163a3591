// kestrane-cli monitor end to end: a real receiver's capture replayed into a
// pseudo-terminal, the lines shown and the log written compared with the main window's
// golden log for the same capture; the device pulled out, and with --reconnect put back.

#include "tests/cli/Cliprocess.h"
#include "tests/common/Pty.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <regex>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A frame the receiver's framer takes whole: the request for the Configuration report,
// whose message id is 0xFF.
const Bytes kFrame = {0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0x9F, 0xA9, 0x0D, 0x0A};

class MonitorTest : public ::testing::Test {
protected:
    EmptySysfs tree_;
    std::string dir_ = MakeTempDir();
};

TEST_F(MonitorTest, ShowsAndLogsACaptureAsTheMainWindowDoesAndStopsOnCtrlC) {
    const std::string name = "gp-320fw-2019-04-07-coldboot.log";
    std::string stream = ReadFile(std::string(KESTRANE_TEST_DATA) + "/nmea/" + name);
    const std::string golden = ReadFile(std::string(KESTRANE_TEST_DATA) + "/nmea/expected/" + name);
    ASSERT_FALSE(stream.empty());
    ASSERT_FALSE(golden.empty());
    // The capture ends with a complete line; a binary frame follows it.
    stream.append(kFrame.begin(), kFrame.end());

    Pty pty;
    ASSERT_TRUE(pty.ok());
    const std::string log = dir_ + "/monitor.log";
    std::size_t fed = 0;
    bool interrupted = false;
    const CliResult r = RunCliProgram(
        {"--port", pty.path(), "monitor", "--log", log}, {}, tree_.path(),
        std::chrono::seconds(60), [&](pid_t pid, const CliResult& sofar) {
            if (sofar.err.find("Monitoring") == std::string::npos)
                return; // its port is not open yet: what came now would be flushed
            if (fed < stream.size()) {
                const ssize_t n = write(pty.master(), stream.data() + fed,
                                        std::min<std::size_t>(512, stream.size() - fed));
                if (n > 0)
                    fed += static_cast<std::size_t>(n);
            } else if (!interrupted && sofar.out.find("Proprietary ID") != std::string::npos) {
                kill(pid, SIGINT);
                interrupted = true;
            }
        });
    EXPECT_TRUE(interrupted);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(log), golden);

    // Each logged sentence shown, stamped, a byte that is not printable as U+FFFD; then
    // the frame.
    std::vector<std::string> expected;
    for (std::size_t at = 0; at < golden.size();) {
        const std::size_t end = golden.find("\r\n", at);
        std::string shown;
        for (std::size_t i = at; i < end; ++i) {
            const auto b = static_cast<unsigned char>(golden[i]);
            shown += b >= 0x20 && b < 0x7F ? std::string(1, golden[i]) : "\xEF\xBF\xBD";
        }
        expected.push_back(shown);
        at = end + 2;
    }
    expected.push_back("Proprietary ID 255");
    std::vector<std::string> shown;
    const std::regex stamp("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]: ");
    for (std::size_t at = 0; at < r.out.size();) {
        const std::size_t end = r.out.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = r.out.substr(at, end - at);
        ASSERT_TRUE(std::regex_search(line, stamp)) << line;
        shown.push_back(line.substr(10));
        at = end + 1;
    }
    EXPECT_EQ(shown, expected);
}

TEST_F(MonitorTest, EndsAfterItsDurationAndFailsWhenTheDeviceGoesAway) {
    auto pty = std::make_unique<Pty>();
    ASSERT_TRUE(pty->ok());
    const auto start = std::chrono::steady_clock::now();
    const CliResult timed =
        RunCliProgram({"--port", pty->path(), "monitor", "--duration", "1"}, {}, tree_.path());
    EXPECT_EQ(timed.status, 0) << timed.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    const std::string path = pty->path();
    const CliResult gone = RunCliProgram(
        {"--port", path, "monitor"}, {}, tree_.path(), std::chrono::seconds(30),
        [&](pid_t, const CliResult& sofar) {
            if (pty && sofar.err.find("Monitoring") != std::string::npos)
                pty.reset(); // the adapter pulled out
        });
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("The device " + path + " went away."), std::string::npos) << gone.err;
}

// With --reconnect a device pulled out is waited for by the name given, a link, and
// reopened at its rate once it is back behind the link under another tty: what it sends
// then is shown and logged after what came before, in the same log; Ctrl-C ends it.
TEST_F(MonitorTest, WithReconnectTheDeviceBackBehindItsLinkIsReopenedAndLoggedOn) {
    auto first = std::make_unique<Pty>();
    Pty second;
    ASSERT_TRUE(first->ok() && second.ok());
    const std::string link = dir_ + "/usb-Kestrane_GPS-if00";
    ASSERT_EQ(symlink(first->path().c_str(), link.c_str()), 0);
    const std::string log = dir_ + "/monitor.log";
    int step = 0;
    std::uint32_t rate = 0;
    const CliResult r = RunCliProgram(
        {"--port", link, "--baud", "9600", "monitor", "--reconnect", "--log", log}, {},
        tree_.path(), std::chrono::seconds(30), [&](pid_t pid, const CliResult& sofar) {
            const auto said = [&](const std::string& text) {
                return sofar.out.find(text) != std::string::npos ||
                       sofar.err.find(text) != std::string::npos;
            };
            if (step == 0 && said("Monitoring")) {
                first->Send("$GPGGA,1*00\r\n");
                ++step;
            } else if (step == 1 && said("$GPGGA,1*00")) {
                first.reset(); // pulled out, and its link gone with it
                unlink(link.c_str());
                ++step;
            } else if (step == 2 && said("waiting for it to return")) {
                symlink(second.path().c_str(), link.c_str());
                ++step;
            } else if (step == 3 && said("Reopened")) {
                rate = second.LineRate();
                second.Send("$GPGGA,2*00\r\n");
                ++step;
            } else if (step == 4 && said("$GPGGA,2*00")) {
                kill(pid, SIGINT);
                ++step;
            }
        });
    EXPECT_EQ(step, 5) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("The device " + link + " went away; waiting for it to return.\nReopened " +
                         link + " at 9600.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(rate, 9600u);
    EXPECT_EQ(ReadFile(log), "$GPGGA,1*00\r\n$GPGGA,2*00\r\n");
}

} // namespace
