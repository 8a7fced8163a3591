// kestrane-cli.exe, the Windows build, run under wine against the simulated receiver. The
// test run maps a COM port (KESTRANE_WINE_RECEIVER_PORT) to a link
// (KESTRANE_WINE_RECEIVER_LINK) that each test points at the receiver it starts, so every
// byte goes through the program's Win32 serial port and wine's serial driver.

#include "tests/loader/Gstfile.h"
#include "tests/network/Ser2net.h"
#include "tests/wine/Winereceiver.h"

#include "sim/Simrecords.h"

#include <map>

namespace {

// A console program's lines end in CR LF on Windows; the texts compare without the CR.
std::string WithoutCr(std::string text) {
    std::erase(text, '\r');
    return text;
}

class WineCli : public WineReceiverTest {
protected:
    CliResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), Setting("KESTRANE_WINDOWS_CLI"));
        CliResult r = RunWindowsProgram(args);
        r.out = WithoutCr(r.out);
        r.err = WithoutCr(r.err);
        return r;
    }
};

TEST_F(WineCli, PortsComeFromTheRegistryAndFindSearchesThemForTheReceiver) {
    SimOptions options;
    options.baudRate = 9600;
    StartReceiver(options);

    const CliResult ports = Run({"ports"});
    EXPECT_EQ(ports.status, 0) << ports.err;
    EXPECT_NE(ports.out.find(port_ + "\nCOM6\nCOM7\n"), std::string::npos) << ports.out;

    const CliResult found = Run({"find"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out, port_ + " 9600\n");
    EXPECT_NE(found.err.find("Attempting " + port_ + " at 4800\nAttempting " + port_ +
                             " at 9600\n"),
              std::string::npos)
        << found.err;
}

TEST_F(WineCli, InfoAndSetGoThroughTheWindowsPortByteForByte) {
    SimOptions options;
    options.nmeaFlags = kNmeaGGA | kNmeaRMC;
    options.navRate = 5;
    StartReceiver(options);

    const CliResult info = Run({"--port", port_, "info"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "Device: " + port_ +
                            "\nBaud rate: 19200\nSoftware version: 2.5b\nEngine status: 0\n"
                            "NMEA sentences: GGA,RMC\nNavigation rate: 5\nWAAS: on\n"
                            "Corrections: on\nFrequency: default\n");
    EXPECT_EQ(receiver_->ReceivedFrames(), (std::vector<Bytes>{kRequestConfig, kRequestCorrections}));

    receiver_->ClearEvents();
    const CliResult set = Run({"--port", port_, "set", "--nmea", "gga", "--nav-rate", "1",
                               "--new-baud", "9600"});
    EXPECT_EQ(set.status, 0) << set.err;
    const auto frames = receiver_->ReceivedFrames();
    ASSERT_EQ(frames.size(), 7u);
    // Navigation rate 1 (the receiver took it below, so its check sum was right).
    EXPECT_EQ(Bytes(frames[2].begin(), frames[2].begin() + 7),
              Bytes({0x24, 0x78, 0x83, 0x0B, 0x78, 0x24, 0x01}));
    // Output configuration: reserved 0, binary flags 0, NMEA GGA alone, 9600 baud.
    ASSERT_EQ(frames[4].size(), 44u);
    EXPECT_EQ(Bytes(frames[4].begin() + 8, frames[4].begin() + 24),
              Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x80, 0x25, 0x00, 0x00}));
    // Read back at the new rate, which the Windows side switched to: all understood.
    EXPECT_EQ(frames[5], kRequestConfig);
    const SimStatus s = receiver_->Status();
    EXPECT_EQ(s.bytesNotUnderstood, 0u);
    EXPECT_EQ(s.lineRate, 9600u);
    EXPECT_EQ(s.navRate, 1);
    EXPECT_EQ(s.nmeaFlags, kNmeaGGA);
}

TEST_F(WineCli, LoadPutsTheFileIntoTheReceiverAfterAResend) {
    SimOptions options;
    options.baudRate = 9600;
    StartReceiver(options);
    receiver_->SetDropAck(5, false);
    const GeneratedGst gst = MakeGst(12);
    const std::string dir = MakeTempDir();
    ASSERT_TRUE(WriteTextFile(dir + "/300load.gst", gst.text));

    // The file by its Windows name: wine's drive Z: is the Linux root.
    const CliResult r = Run({"--port", port_, "--baud", "9600", "load", "Z:" + dir + "/300load.gst"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<SimRecord> records;
    for (const std::string& text : gst.records)
        records.emplace_back(text.begin(), text.end());
    const SimStatus s = receiver_->Status();
    EXPECT_EQ(s.recordCount, gst.records.size());
    EXPECT_EQ(s.recordDigest, DigestOfRecords(records));
    EXPECT_NE(r.out.find("Sending Record 5\nSending Record 5\n"), std::string::npos) << r.out;
    EXPECT_EQ(s.pcRate, 9600u);
    EXPECT_EQ(s.bytesNotUnderstood, 0u);
}

// The Windows network port (Winsock) against ser2net on the Linux side of wine: the
// receiver read over RFC 2217 at its rate, and a name that does not resolve refused with
// the reason.
TEST_F(WineCli, ReadsAReceiverBehindSer2netOverRfc2217) {
    SimOptions options;
    options.baudRate = 9600;
    StartReceiver(options);
    const std::string dir = MakeTempDir();
    Ser2net server(receiver_->DevicePath(), 19200, dir);
    ASSERT_TRUE(server.ok());
    const CliResult r = Run({"--port", server.Rfc2217(), "--baud", "9600", "info"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Device: " + server.Rfc2217() + "\nBaud rate: 9600\n", 0), 0u) << r.out;
    EXPECT_EQ(receiver_->Status().bytesNotUnderstood, 0u);
    const CliResult nowhere = Run({"--port", "rfc2217://no-such-host.invalid:2217", "info"});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.err.find("the name no-such-host.invalid"), std::string::npos) << nowhere.err;
}

TEST_F(WineCli, APortThatWillNotOpenIsReportedWithTheSystemsText) {
    const CliResult r = Run({"--port", "COM42", "info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
    // The note's first line, then the text Windows gives for the failure.
    ASSERT_EQ(r.err.rfind("Error opening device COM42\n", 0), 0u) << r.err;
    EXPECT_GT(r.err.size(), std::string("Error opening device COM42\n\n").size()) << r.err;
}

// Several ports: each unit the Windows program started again with its one port (a
// process of its own, its outputs through pipes), one JSON object per unit.
TEST_F(WineCli, SeveralPortsRunAsUnitsOfTheirOwn) {
    StartReceiver(SimOptions{});
    const CliResult r = Run({"--port", port_, "--port", "COM42", "info", "--json"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    std::map<std::string, std::string> units; // device: its object
    for (std::size_t at = 0; at < r.out.size();) {
        const std::size_t end = r.out.find('\n', at);
        const std::string line = r.out.substr(at, end - at);
        const std::string device = line.substr(0, line.find(','));
        units[device] = line;
        at = end == std::string::npos ? r.out.size() : end + 1;
    }
    ASSERT_EQ(units.size(), 2u) << r.out;
    const std::string ok = units["{\"device\":\"" + port_ + "\""];
    EXPECT_NE(ok.find("\"result\":\"ok\",\"exit_status\":0,\"detail\":\"software version 2.5b\""),
              std::string::npos)
        << ok;
    EXPECT_NE(ok.find("\"report\":{\"device\":\"" + port_ + "\",\"profile_version\":1,"),
              std::string::npos)
        << ok;
    const std::string failed = units["{\"device\":\"COM42\""];
    EXPECT_NE(failed.find("\"result\":\"failed\",\"exit_status\":1,"), std::string::npos)
        << failed;
    EXPECT_NE(failed.find("\"messages\":[\"Error opening device COM42\","), std::string::npos)
        << failed;
}

} // namespace
