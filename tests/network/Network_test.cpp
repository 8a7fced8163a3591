// Receivers behind a network server, end to end: kestrane-cli against Debian's ser2net
// on loopback in front of the simulated receiver (or a line the test plays), over
// RFC 2217 and over a raw TCP stream; the stream shared with TCP clients and with gpsd.

#include "tests/cli/Cliprocess.h"
#include "tests/common/Pty.h"
#include "tests/common/Tempdir.h"
#include "tests/loader/Gstfile.h"
#include "tests/network/Ser2net.h"

#include "sim/Simreceiver.h"
#include "sim/Simrecords.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A TCP client of the share: connects, and reads (or, stalled, never reads).
class ShareClient {
public:
    explicit ShareClient(int port, int receiveBuffer = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~ShareClient() { close(fd_); }
    bool connected() const { return connected_; }
    // Reads what is there; false once the other side has closed.
    bool Drain() {
        char chunk[4096];
        for (;;) {
            const ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n > 0) {
                got.append(chunk, static_cast<std::size_t>(n));
            } else {
                return !(n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK));
            }
        }
    }
    std::string got;

private:
    int fd_ = -1;
    bool connected_ = false;
};

class NetworkTest : public ::testing::Test {
protected:
    std::unique_ptr<SimReceiver> StartSim(std::uint32_t rate) {
        SimOptions options;
        options.baudRate = rate;
        auto sim = std::make_unique<SimReceiver>(options);
        EXPECT_TRUE(sim->Start());
        return sim;
    }
    CliResult Cli(const std::vector<std::string>& args,
                  const std::function<void(pid_t, const CliResult&)>& during = {}) {
        return RunCliProgram(args, {}, tree_.path(), std::chrono::seconds(120), during);
    }

    EmptySysfs tree_;
    std::string dir_ = MakeTempDir();
};

// A real receiver's capture through ser2net, once over RFC 2217 and once over raw TCP:
// the log is, byte for byte, the one the same capture gives on a serial line.
TEST_F(NetworkTest, MonitorLogsACaptureThroughBothAccepters) {
    const std::string name = "gp-320fw-2019-04-07-coldboot.log";
    const std::string capture = ReadFile(std::string(KESTRANE_TEST_DATA) + "/nmea/" + name);
    const std::string golden = ReadFile(std::string(KESTRANE_TEST_DATA) + "/nmea/expected/" + name);
    ASSERT_FALSE(capture.empty());
    // A server of its own for each: the next connection never meets the last one's end.
    for (const bool rfc2217 : {true, false}) {
        Pty line;
        ASSERT_TRUE(line.ok());
        Ser2net server(line.path(), 19200, dir_);
        ASSERT_TRUE(server.ok()) << "ser2net did not start";
        const std::string device = rfc2217 ? server.Rfc2217() : server.Raw();
        SCOPED_TRACE(device);
        const std::string log = dir_ + "/monitor.log";
        std::size_t fed = 0;
        const CliResult r = Cli(
            {"--port", device, "monitor", "--log", log, "--duration", "6"},
            [&](pid_t, const CliResult& sofar) {
                if (sofar.err.find("Monitoring") == std::string::npos || fed >= capture.size())
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(300)); // ser2net's open
                while (fed < capture.size()) {
                    const std::size_t n = std::min<std::size_t>(256, capture.size() - fed);
                    line.Write(capture.substr(fed, n));
                    fed += n;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ReadFile(log) == golden) << "the log differs from " << name << "'s";
    }
}

// Auto rate over RFC 2217: each attempt asks ser2net for its rate, and the receiver at
// 38400 sees the PC's side at every one of the four rates before it answers.
TEST_F(NetworkTest, TheSearchGoesThroughEveryRateOverRfc2217) {
    auto sim = StartSim(38400);
    Ser2net server(sim->DevicePath(), 19200, dir_);
    ASSERT_TRUE(server.ok());
    std::set<std::uint32_t> seen;
    const CliResult r = Cli({"find", "--device", server.Rfc2217()},
                            [&](pid_t, const CliResult&) { seen.insert(sim->Status().pcRate); });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, server.Rfc2217() + " 38400\n");
    for (const std::uint32_t rate : {4800u, 9600u, 19200u, 38400u})
        EXPECT_EQ(seen.count(rate), 1u) << rate;
}

// Receiver Setup's Apply with a rate change: the commands at the old rate, then ser2net
// moved to the new one, where the settings are read back.
TEST_F(NetworkTest, ApplyWithARateChangeOverRfc2217) {
    auto sim = StartSim(9600);
    Ser2net server(sim->DevicePath(), 19200, dir_);
    ASSERT_TRUE(server.ok());
    const CliResult r = Cli({"--port", server.Rfc2217(), "--baud", "9600", "set", "--nav-rate",
                             "5", "--new-baud", "38400"});
    EXPECT_EQ(r.status, 0) << r.err;
    const SimStatus s = sim->Status();
    EXPECT_EQ(s.lineRate, 38400u);
    EXPECT_EQ(s.navRate, 5);
    EXPECT_EQ(s.bytesNotUnderstood, 0u);
    // A raw stream cannot follow: the same Apply is refused before a byte goes out. (ser2net
    // lets go of the line the last connection had before another accepter takes it.)
    std::this_thread::sleep_for(std::chrono::seconds(1));
    sim->ClearEvents();
    const CliResult raw = Cli({"--port", server.Raw(), "--baud", "38400", "set", "--nav-rate", "1"});
    EXPECT_EQ(raw.status, 1);
    EXPECT_NE(raw.err.find("fixed by its server"), std::string::npos) << raw.err;
    EXPECT_EQ(sim->Status().navRate, 5);
}

// A software load over RFC 2217, from 9600 to the loader's 19200 and back, records with
// 255 in them included: the receiver holds the file byte for byte.
TEST_F(NetworkTest, ASoftwareLoadOverRfc2217IsByteExact) {
    auto sim = StartSim(9600);
    Ser2net server(sim->DevicePath(), 9600, dir_);
    ASSERT_TRUE(server.ok());
    const GeneratedGst gst = MakeGst(30);
    ASSERT_NE(gst.text.find("FF"), std::string::npos);
    ASSERT_TRUE(WriteTextFile(dir_ + "/300net.gst", gst.text));
    const CliResult r =
        Cli({"--port", server.Rfc2217(), "--baud", "9600", "load", dir_ + "/300net.gst"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<SimRecord> records;
    for (const std::string& text : gst.records)
        records.emplace_back(text.begin(), text.end());
    const SimStatus s = sim->Status();
    EXPECT_EQ(s.recordCount, gst.records.size());
    EXPECT_EQ(s.recordDigest, DigestOfRecords(records));
    EXPECT_EQ(s.pcRate, 9600u);
}

// Three clients of the share, one of which never reads: the other two get every sentence
// byte for byte, as the monitor's own log has them, and the monitor loses nothing.
TEST_F(NetworkTest, TheShareFeedsItsClientsWhileOneStalls) {
    const std::string name = "gp-320fw-2019-04-07-coldboot.log";
    const std::string capture = ReadFile(std::string(KESTRANE_TEST_DATA) + "/nmea/" + name);
    const std::string golden = ReadFile(std::string(KESTRANE_TEST_DATA) + "/nmea/expected/" + name);
    Pty line;
    ASSERT_TRUE(line.ok());
    const int port = FreeLoopbackPort();
    const std::string log = dir_ + "/monitor.log";
    std::unique_ptr<ShareClient> a;
    std::unique_ptr<ShareClient> b;
    std::unique_ptr<ShareClient> stalled;
    std::size_t fed = 0;
    const CliResult r = Cli(
        {"--port", line.path(), "monitor", "--log", log, "--duration", "5", "--serve",
         std::to_string(port)},
        [&](pid_t, const CliResult& sofar) {
            if (sofar.err.find("Sharing") == std::string::npos)
                return;
            if (!a) {
                a = std::make_unique<ShareClient>(port);
                b = std::make_unique<ShareClient>(port);
                stalled = std::make_unique<ShareClient>(port, 1024);
                std::this_thread::sleep_for(std::chrono::milliseconds(300)); // taken in a tick
            }
            while (fed < capture.size()) {
                const std::size_t n = std::min<std::size_t>(256, capture.size() - fed);
                line.Write(capture.substr(fed, n));
                fed += n;
                a->Drain();
                b->Drain();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            a->Drain();
            b->Drain();
        });
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(a && a->connected() && b && b->connected() && stalled->connected());
    a->Drain();
    b->Drain();
    EXPECT_TRUE(ReadFile(log) == golden);
    EXPECT_TRUE(a->got == golden) << a->got.size() << " of " << golden.size();
    EXPECT_TRUE(b->got == golden) << b->got.size() << " of " << golden.size();
}

// gpsd, as another program would use the share: it reads the simulated receiver's
// sentences through it and reports its fixes.
TEST_F(NetworkTest, GpsdReportsTheReceiversFixesThroughTheShare) {
    auto sim = StartSim(19200);
    const int port = FreeLoopbackPort();
    const int gpsdPort = FreeLoopbackPort();
    std::string tpv;
    bool started = false;
    const CliResult r = Cli(
        {"--port", sim->DevicePath(), "monitor", "--duration", "12", "--serve",
         std::to_string(port)},
        [&](pid_t, const CliResult& sofar) {
            if (started || sofar.err.find("Sharing") == std::string::npos)
                return;
            started = true;
            const CliResult gpsd = RunProgram(
                {"/bin/sh", "-c",
                 "gpsd -N -n -G -S " + std::to_string(gpsdPort) + " -F " + dir_ +
                     "/gpsd.sock tcp://127.0.0.1:" + std::to_string(port) +
                     " >/dev/null 2>&1 & sleep 1; timeout 8 gpspipe -w -n 15 localhost:" +
                     std::to_string(gpsdPort) + "; kill $!"},
                {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}, std::chrono::seconds(20));
            tpv = gpsd.out;
        });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(tpv.find("\"class\":\"TPV\""), std::string::npos) << tpv;
    EXPECT_NE(tpv.find("\"mode\":3"), std::string::npos) << tpv;
    EXPECT_NE(tpv.find("\"lat\":47."), std::string::npos) << tpv;
}

} // namespace
