// kestrane-cli end to end: the real program, run as a script runs it, against simulated
// receivers and silent pseudo-terminals offered through the device list.

#include "tests/cli/Cliprocess.h"
#include "tests/common/Startsim.h"
#include "tests/common/Pty.h"

#include "sim/Simreceiver.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const Bytes kRequestConfig = {0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0x9F, 0xA9, 0x0D, 0x0A};
const Bytes kRequestCorrections = {0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x01, 0x3A, 0xF9, 0x0D, 0x0A};

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t eol = text.find('\n', start);
        out.push_back(text.substr(start, eol - start));
        if (eol == std::string::npos)
            break;
        start = eol + 1;
    }
    return out;
}

class CliTest : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args, const std::vector<std::string>& devices) {
        return RunCliProgram(args, devices, tree_.path());
    }
    EmptySysfs tree_;
};

TEST_F(CliTest, UsageErrorsExitTwoNameTheBadArgumentAndSendNothing) {
    auto receiver = StartSim();
    ASSERT_TRUE(receiver);
    const std::string dev = receiver->DevicePath();
    struct Case {
        std::vector<std::string> args;
        const char* named;
    };
    const Case cases[] = {
        {{"bogus"}, "'bogus'"},
        {{"--port", dev, "info", "--bogus"}, "'--bogus'"},
        {{"--port", dev, "--baud", "57600", "info"}, "'57600'"},
        {{"info", "--port"}, "'--port'"},
        {{"--port", dev, "info", "--json=yes"}, "'--json'"},
        {{"--json", "info"}, "'--json'"}, // a command's option before the command
        {{"ports", "extra"}, "'extra'"},
        {{"--port", dev, "set", "--nav-rate", "3"}, "'3' for --nav-rate"},
        {{"--port", dev, "set", "--nmea", "GGA,XYZ"}, "'GGA,XYZ' for --nmea"},
        {{"--port", dev, "set", "--nmea", "GGA,"}, "'GGA,' for --nmea"},
        {{"--port", dev, "set", "--waas", "yes"}, "'yes' for --waas"},
        {{"--port", dev, "set", "--corrections", "1"}, "'1' for --corrections"},
        {{"--port", dev, "set", "--freq", "1545,5"}, "'1545,5' for --freq"},
        {{"--port", dev, "set", "--freq", "9999999"}, "'9999999' for --freq"},
        {{"--port", dev, "set", "--nav-rate", "5", "--new-baud", "115200"}, "'115200'"},
        {{"--port", dev, "find", "--device", "/dev/a"}, "'/dev/a'"},
        // Frequencies outside the correction band, off its 0.5 kHz step, or not written
        // as a plain decimal would be sent as nonsense channels.
        {{"--port", dev, "set", "--freq", "1"}, "'1' for --freq"},
        {{"--port", dev, "set", "--freq", "1e3"}, "'1e3' for --freq"},
        {{"--port", dev, "set", "--freq", "1545.5e0"}, "'1545.5e0' for --freq"},
        {{"--port", dev, "set", "--freq", "0x1p10"}, "'0x1p10' for --freq"},
        {{"--port", dev, "set", "--freq", "154.55"}, "'154.55' for --freq"},
        {{"--port", dev, "set", "--freq", "1524.9995"}, "'1524.9995' for --freq"},
        {{"--port", dev, "set", "--freq", "1559.0005"}, "'1559.0005' for --freq"},
        {{"--port", dev, "set", "--freq", "1525.0001"}, "'1525.0001' for --freq"},
        {{"--port", dev, "set", "--freq", "1545.7777"}, "'1545.7777' for --freq"},
        {{"--port", dev, "set", "--freq", "-1545.5"}, "'-1545.5' for --freq"},
        {{"--port", dev, "monitor", "--duration", "0x10"}, "'0x10' for --duration"},
        {{"--port", dev, "monitor", "--duration", "1e1"}, "'1e1' for --duration"},
        // Options a command does not take.
        {{"--port", dev, "ports"}, "'--port' is not taken by ports"},
        {{"ports", "--baud", "9600"}, "'--baud' is not taken by ports"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const CliResult r = Run(c.args, {dev});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    const CliResult band = Run({"--port", dev, "set", "--freq", "1600"}, {dev});
    EXPECT_NE(band.err.find("from 1525 to 1559 on a 0.5 kHz step"), std::string::npos) << band.err;
    // No command: the overview, on standard error.
    const CliResult none = Run({}, {dev});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("Usage: kestrane-cli"), std::string::npos);
    // Nothing reached the receiver, nor was its line opened at another rate.
    EXPECT_TRUE(receiver->Events().empty());
    EXPECT_EQ(receiver->Status().framesReceived, 0u);

    // Help is a result: standard output and exit 0.
    const CliResult help = Run({"set", "--help"}, {});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--nmea", "--nav-rate", "--waas", "--corrections", "--freq",
                               "--new-baud", "--port", "--baud"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    const CliResult overview = Run({"--help"}, {});
    EXPECT_EQ(overview.status, 0);
    for (const char* command : {"ports", "find", "info", "set", "load", "monitor"})
        EXPECT_NE(overview.out.find(std::string("  ") + command + " "), std::string::npos);
}

TEST_F(CliTest, PortsListsTheDevicesInTheOpenPortOrder) {
    const CliResult r = Run({"ports"}, {"/dev/ttyUSB3", "/dev/ttyS1", "/dev/pts/9", "/dev/ttyS0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "/dev/ttyS0\n/dev/ttyS1\n/dev/ttyUSB3\n/dev/pts/9\n");
    // Without a readable sysfs tree the two classic ports are offered.
    const CliResult fallback = RunCliProgram({"ports"}, {"/dev/pts/9"}, tree_.path() + "/none");
    EXPECT_EQ(fallback.status, 0);
    EXPECT_EQ(fallback.out, "/dev/ttyS0\n/dev/ttyS1\n");
}

TEST_F(CliTest, FindTriesDevicesThenRatesAndPrintsWhereTheReceiverAnswered) {
    Pty silent;
    ASSERT_TRUE(silent.ok());
    auto receiver = StartSim([](SimOptions& o) { o.baudRate = 9600; });
    ASSERT_TRUE(receiver);
    const std::string a = silent.path();
    const std::string b = receiver->DevicePath();

    const CliResult r = Run({"find"}, {a, b});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, b + " 9600\n");
    EXPECT_EQ(Lines(r.err), (std::vector<std::string>{
                                "Attempting " + a + " at 4800", "Attempting " + a + " at 9600",
                                "Attempting " + a + " at 19200", "Attempting " + a + " at 38400",
                                "Attempting " + b + " at 4800", "Attempting " + b + " at 9600"}));
    // Each attempt asked for the Configuration report.
    const Bytes heard = silent.ReadAll();
    ASSERT_EQ(heard.size(), 4 * kRequestConfig.size());
    EXPECT_EQ(Bytes(heard.end() - 11, heard.end()), kRequestConfig);

    // One device at one rate, without an answer.
    const CliResult none = Run({"--baud", "9600", "find", "--device", a}, {a, b});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.out.empty());
    EXPECT_EQ(Lines(none.err), (std::vector<std::string>{"Attempting " + a + " at 9600",
                                                         "Failed to find unit."}));
}

// Unlike the window's search, which never begins when its first device will not open,
// the program names that device and searches on.
TEST_F(CliTest, FindSkipsADeviceThatWillNotOpenAndSearchesTheNext) {
    auto receiver = StartSim();
    ASSERT_TRUE(receiver);
    const std::string missing = tree_.path() + "/ttyMissing";
    const std::string dev = receiver->DevicePath();
    const CliResult r = Run({"find"}, {missing, dev});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dev + " 19200\n");
    EXPECT_EQ(r.err.find("Error opening device " + missing + "\n"), 0u) << r.err;
    EXPECT_NE(r.err.find("Skipping " + missing + ".\nAttempting " + dev + " at 4800\n"),
              std::string::npos)
        << r.err;
}

// A result that could not be written is not a success, and a reader that went away ends
// the monitor even when SIGPIPE is ignored (as a service manager starts programs).
TEST_F(CliTest, OutputThatCannotBeWrittenFailsTheCommand) {
    auto receiver = StartSim();
    ASSERT_TRUE(receiver);
    const std::string dev = receiver->DevicePath();
    const std::string toFull = "\"$0\" \"$@\" > /dev/full";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"ports"}, {"--port", dev, "info"},
          {"--port", dev, "info", "--json"}, {"--port", dev, "monitor", "--duration", "3"}}) {
        SCOPED_TRACE(args.back());
        const CliResult r = RunCliInShell(toFull, args, {dev}, tree_.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("error writing standard output"), std::string::npos) << r.err;
        if (args[0] != "--port" || args[2] == "info") {
            EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
        }
    }

    const auto start = std::chrono::steady_clock::now();
    const CliResult piped = RunCliInShell(
        "trap '' PIPE; set -o pipefail; \"$0\" \"$@\" | head -n 1 > /dev/null",
        {"--port", dev, "monitor", "--duration", "30"}, {dev}, tree_.path());
    EXPECT_EQ(piped.status, 1) << piped.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_NE(piped.err.find("error writing standard output"), std::string::npos) << piped.err;
}

TEST_F(CliTest, InfoPrintsTheReportedSettingsAsTextAndJson) {
    auto receiver = StartSim([](SimOptions& o) {
        o.nmeaFlags = kNmeaGGA | kNmeaRMC;
        o.navRate = 5;
        o.alternateFrequency = true;
        o.channel = 41001;
        o.waasAvailable = false;
        o.correctionsOn = false;
    });
    ASSERT_TRUE(receiver);
    const std::string dev = receiver->DevicePath();

    const CliResult text = Run({"--port", dev, "info"}, {dev});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "Device: " + dev +
                            "\nBaud rate: 19200\nSoftware version: 2.5b\nEngine status: 0\n"
                            "NMEA sentences: GGA,RMC\nNavigation rate: 5\nWAAS: not available\n"
                            "Corrections: off\nFrequency: 1545.5005 MHz\n");
    const auto frames = receiver->ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], kRequestConfig);
    EXPECT_EQ(frames[1], kRequestCorrections);

    const CliResult json = Run({"info", "--json"}, {dev}); // the first device, at 19200
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "{\"device\":\"" + dev +
                            "\",\"profile_version\":1,\"baud_rate\":19200,\"software_version\":\"2.5b\","
                            "\"engine_status\":0,\"nmea\":[\"GGA\",\"RMC\"],\"nav_rate\":5,"
                            "\"waas\":\"not available\",\"corrections\":\"off\","
                            "\"frequency\":\"alternate\",\"frequency_mhz\":1545.5005,"
                            "\"channel\":41001}\n");

    // A line that never answers.
    Pty silent;
    ASSERT_TRUE(silent.ok());
    const CliResult none = Run({"--port", silent.path(), "info"}, {});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.out.empty());
    EXPECT_EQ(none.err, "No report from the receiver on " + silent.path() + " at 19200 baud.\n");
}

TEST_F(CliTest, SetSendsWhatApplySendsThenReadsTheSettingsBack) {
    auto receiver = StartSim();
    ASSERT_TRUE(receiver);
    const std::string dev = receiver->DevicePath();

    const CliResult r = Run({"--port", dev, "set", "--nmea", "gga,RMC", "--nav-rate", "5",
                             "--freq", "1545.5", "--waas", "off", "--new-baud", "9600"},
                            {dev});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto frames = receiver->ReceivedFrames();
    ASSERT_EQ(frames.size(), 7u);
    EXPECT_EQ(frames[0], kRequestConfig);
    EXPECT_EQ(frames[1], kRequestCorrections);
    EXPECT_EQ(frames[2], Bytes({0x24, 0x78, 0x83, 0x0B, 0x78, 0x24, 0x05, 0x13, 0x2F, 0x0D, 0x0A}));
    // Alternate frequency, channel 41000, WAAS off, corrections left on.
    ASSERT_EQ(frames[3].size(), 18u);
    EXPECT_EQ(Bytes(frames[3].begin(), frames[3].begin() + 14),
              Bytes({0x24, 0x78, 0x81, 0x12, 0x78, 0x24, 1, 1, 0x28, 0xA0, 0x00, 0x00, 0, 0}));
    // Output configuration: reserved 0, binary flags 0, NMEA 0x11, 9600 baud.
    ASSERT_EQ(frames[4].size(), 44u);
    EXPECT_EQ(frames[4][2], 0x82);
    EXPECT_EQ(Bytes(frames[4].begin() + 8, frames[4].begin() + 24),
              Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0, 0, 0, 0x80, 0x25, 0x00, 0x00}));
    // The settings read again, at the new rate: every byte was understood.
    EXPECT_EQ(frames[5], kRequestConfig);
    EXPECT_EQ(frames[6], kRequestCorrections);
    const SimStatus s = receiver->Status();
    EXPECT_EQ(s.bytesNotUnderstood, 0u);
    EXPECT_EQ(s.lineRate, 9600u);
    EXPECT_EQ(s.navRate, 5);
    EXPECT_EQ(s.nmeaFlags, kNmeaGGA | kNmeaRMC);
    EXPECT_TRUE(s.alternateFrequency);
    EXPECT_EQ(s.channel, 41000);
    EXPECT_EQ(s.waasState, 0);
    EXPECT_TRUE(s.correctionsOn);
    EXPECT_EQ(r.out, "Device: " + dev +
                         "\nBaud rate: 9600\nSoftware version: 2.5b\nEngine status: 0\n"
                         "NMEA sentences: GGA,RMC\nNavigation rate: 5\nWAAS: off\n"
                         "Corrections: on\nFrequency: 1545.5 MHz\n");

    // WAAS asked of a receiver without it: refused before any command goes out.
    receiver->SetWaasAvailable(false);
    receiver->ClearEvents();
    const CliResult waas = Run({"--port", dev, "--baud", "9600", "set", "--waas", "on"}, {dev});
    EXPECT_EQ(waas.status, 1);
    EXPECT_NE(waas.err.find("WAAS is not available"), std::string::npos) << waas.err;
    EXPECT_EQ(receiver->ReceivedFrames(),
              (std::vector<Bytes>{kRequestConfig, kRequestCorrections}));
}

} // namespace
