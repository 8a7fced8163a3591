// Settings profiles and many receivers at once, end to end: the real program against
// simulated receivers with settings of their own, each unit of a batch the program run
// again on its port.

#include "tests/cli/Cliprocess.h"
#include "tests/common/Startsim.h"
#include "tests/loader/Gstfile.h"

#include "sim/Simreceiver.h"
#include "sim/Simrecords.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// The lines of text that start with prefix, without it.
std::vector<std::string> LinesOf(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line.substr(prefix.size()));
    return out;
}

// The summary table's row of a device, its columns split on runs of two spaces or more.
std::vector<std::string> Row(const std::string& out, const std::string& device) {
    for (const std::string& line : LinesOf(out, "")) {
        if (line.rfind(device + " ", 0) != 0)
            continue;
        std::vector<std::string> cells;
        std::size_t at = 0;
        while (at < line.size()) {
            std::size_t gap = line.find("  ", at);
            if (gap == std::string::npos)
                gap = line.size();
            cells.push_back(line.substr(at, gap - at));
            at = line.find_first_not_of(' ', gap);
            if (at == std::string::npos)
                break;
        }
        return cells;
    }
    return {};
}

std::vector<SimRecord> AsSimRecords(const std::vector<std::string>& records) {
    std::vector<SimRecord> out;
    for (const std::string& r : records)
        out.emplace_back(r.begin(), r.end());
    return out;
}

class BatchTest : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args, std::chrono::seconds timeout = 60s,
                  const std::function<void(pid_t, const CliResult&)>& during = {},
                  int input = -1) {
        return RunCliProgram(args, {}, tree_.path(), timeout, during, input);
    }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        EXPECT_TRUE(WriteTextFile(path, text));
        return path;
    }
    EmptySysfs tree_;
    std::string dir_ = MakeTempDir();
};

TEST_F(BatchTest, OneReceiversProfileMakesTwoOthersAlikeAndDiffShowsItBeforeAndAfter) {
    auto good = StartSim([](SimOptions& o) {
        o.navRate = 5;
        o.nmeaFlags = 0x11; // GGA, RMC
        o.waasOn = false;
        o.alternateFrequency = true;
        o.channel = 41001; // 1545.5005 MHz
    });
    auto plain = StartSim();
    auto other = StartSim([](SimOptions& o) {
        o.nmeaFlags = 0x03; // GGA, GSA
        o.correctionsOn = false;
    });
    ASSERT_TRUE(good && plain && other);
    const std::string b = plain->DevicePath();
    const std::string c = other->DevicePath();

    const CliResult info = Run({"--port", good->DevicePath(), "info", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("\"profile_version\":1,"), std::string::npos) << info.out;
    const std::string profile = Write("good.json", info.out);

    const CliResult before = Run({"--port", b, "--port", c, "diff", "--profile", profile});
    EXPECT_EQ(before.status, 1) << before.out << before.err;
    EXPECT_EQ(LinesOf(before.out, b + ": "),
              (std::vector<std::string>{
                  "NMEA sentences: profile GGA,RMC, receiver GGA,GSA,ZDA,VTG,RMC",
                  "navigation rate: profile 5, receiver 1", "WAAS: profile off, receiver on",
                  "frequency: profile 1545.5005, receiver default"}));
    EXPECT_EQ(LinesOf(before.out, c + ": "),
              (std::vector<std::string>{"NMEA sentences: profile GGA,RMC, receiver GGA,GSA",
                                        "navigation rate: profile 5, receiver 1",
                                        "WAAS: profile off, receiver on",
                                        "corrections: profile on, receiver off",
                                        "frequency: profile 1545.5005, receiver default"}));
    EXPECT_EQ(Row(before.out, b), (std::vector<std::string>{
                                      b, "differs", "4 settings differ from the profile.",
                                      Row(before.out, b).back()}));
    EXPECT_EQ(Row(before.out, c).at(1), "differs");
    // Reading is all diff does.
    for (const auto* sim : {plain.get(), other.get()})
        EXPECT_EQ(sim->ReceivedFrames().size(), 2u);

    const CliResult set = Run({"--port", b, "--port", c, "set", "--profile", profile});
    EXPECT_EQ(set.status, 0) << set.out << set.err;
    for (const auto* sim : {plain.get(), other.get()}) {
        const SimStatus s = sim->Status();
        EXPECT_EQ(s.navRate, 5);
        EXPECT_EQ(s.nmeaFlags, 0x11u);
        EXPECT_EQ(s.waasState, 0);
        EXPECT_TRUE(s.correctionsOn);
        EXPECT_TRUE(s.alternateFrequency);
        EXPECT_EQ(s.channel, 41001);
    }

    const CliResult after =
        Run({"--port", b, "--port", c, "diff", "--profile", profile, "--json"});
    EXPECT_EQ(after.status, 0) << after.out << after.err;
    const std::vector<std::string> objects = LinesOf(after.out, "{");
    ASSERT_EQ(objects.size(), 2u) << after.out;
    std::set<std::string> devices;
    for (const std::string& o : objects) {
        EXPECT_NE(o.find("\"result\":\"ok\",\"exit_status\":0,\"detail\":\"no differences\""),
                  std::string::npos)
            << o;
        EXPECT_NE(o.find("\"differences\":[]"), std::string::npos) << o;
        devices.insert(o.substr(0, o.find(',')));
    }
    EXPECT_EQ(devices, (std::set<std::string>{"\"device\":\"" + b + "\"",
                                              "\"device\":\"" + c + "\""}));
}

TEST_F(BatchTest, APartialProfileChangesOnlyWhatItHoldsAndOptionsBesideItWin) {
    auto sim = StartSim([](SimOptions& o) { o.nmeaFlags = 0x03; });
    ASSERT_TRUE(sim);
    const std::string profile =
        Write("partial.json", "{\"profile_version\": 1, \"nav_rate\": 5, \"corrections\": \"off\"}");
    const CliResult r = Run(
        {"--port", sim->DevicePath(), "set", "--profile", profile, "--corrections", "on"});
    EXPECT_EQ(r.status, 0) << r.err;
    const SimStatus s = sim->Status();
    EXPECT_EQ(s.navRate, 5);
    EXPECT_TRUE(s.correctionsOn);
    EXPECT_EQ(s.nmeaFlags, 0x03u);
    EXPECT_EQ(s.waasState, 1);
    EXPECT_FALSE(s.alternateFrequency);
    EXPECT_EQ(s.configuredRate, 19200u);
}

TEST_F(BatchTest, ABadProfileIsRefusedNamingItsFieldBeforeAnythingIsSent) {
    auto one = StartSim();
    auto two = StartSim();
    ASSERT_TRUE(one && two);
    struct Case {
        const char* text;
        const char* named;
    };
    const Case cases[] = {
        {"{\"profile_version\": 1, \"nav_rate\": 5", "not JSON"},
        {"{\"profile_version\": 2, \"nav_rate\": 5}", "profile_version"},
        {"{\"nav_rate\": 5}", "profile_version"},
        {"{\"profile_version\": 1, \"nav_rate\": 3}", "nav_rate"},
        {"{\"profile_version\": 1, \"baud_rate\": 12345}", "baud_rate"},
        {"{\"profile_version\": 1, \"nmea\": [\"GGA\", \"GGB\"]}", "nmea"},
        {"{\"profile_version\": 1, \"frequency_mhz\": 1600}", "frequency_mhz"},
        {"{\"profile_version\": 1, \"navrate\": 5}", "navrate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string profile = Write("bad.json", c.text);
        const CliResult single =
            Run({"--port", one->DevicePath(), "set", "--profile", profile});
        const CliResult many = Run({"--port", one->DevicePath(), "--port", two->DevicePath(),
                                    "diff", "--profile", profile});
        for (const CliResult* r : {&single, &many}) {
            EXPECT_EQ(r->status, 1);
            EXPECT_TRUE(r->out.empty()) << r->out;
            EXPECT_NE(r->err.find("Error in profile " + profile + ": "), std::string::npos)
                << r->err;
            EXPECT_NE(r->err.find(c.named), std::string::npos) << r->err;
        }
    }
    EXPECT_TRUE(one->ReceivedFrames().empty());
    EXPECT_TRUE(two->ReceivedFrames().empty());

    // Ports a batch cannot take.
    const std::string dev = one->DevicePath();
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--port", dev, "--port", dev, "info"},
             {"--port", dev, "--port", "auto", "info"},
             {"--port", dev, "--port", two->DevicePath(), "monitor"}}) {
        const CliResult r = Run(args);
        EXPECT_EQ(r.status, 2) << r.err;
    }
    EXPECT_TRUE(one->ReceivedFrames().empty());
}

// Three loads at once, one of them answering a record late and one whose engine fails;
// the power cycle each good unit asks for is done, and Enter pressed, as it asks.
TEST_F(BatchTest, ThreeUnitsLoadAtOnceAndEachLineSaysHowItsLoadWent) {
    std::vector<std::unique_ptr<SimReceiver>> sims;
    for (int i = 0; i < 3; ++i) {
        sims.push_back(StartSim([i](SimOptions& o) {
            o.engineDownloadMs = 500;
            o.dropAckRecord = i == 1 ? 5 : 0;
            o.engineFailure = i == 2;
        }));
        ASSERT_TRUE(sims.back());
    }
    const GeneratedGst gst = MakeGst(12);
    const std::string file = Write("300load.gst", gst.text);
    int enter[2];
    ASSERT_EQ(pipe2(enter, O_CLOEXEC), 0);
    std::set<std::size_t> cycled;
    const CliResult r = Run(
        {"--port", sims[0]->DevicePath(), "--port", sims[1]->DevicePath(), "--port",
         sims[2]->DevicePath(), "load", file, "--follow"},
        120s,
        [&](pid_t, const CliResult& sofar) {
            for (std::size_t i = 0; i < sims.size(); ++i) {
                const std::string prompt = sims[i]->DevicePath() +
                                           ": Cycle the receiver's power, then press Enter.";
                if (!cycled.count(i) && sofar.err.find(prompt) != std::string::npos) {
                    cycled.insert(i);
                    sims[i]->PowerCycle();
                    EXPECT_EQ(write(enter[1], "\n", 1), 1);
                }
            }
        },
        enter[0]);
    close(enter[0]);
    close(enter[1]);

    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(cycled, (std::set<std::size_t>{0, 1}));
    for (const auto& sim : sims) {
        const SimStatus s = sim->Status();
        EXPECT_EQ(s.recordCount, gst.records.size());
        EXPECT_EQ(s.recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    }
    const std::string late = sims[1]->DevicePath() + ": ";
    EXPECT_EQ(LinesOf(r.out, late + "Sending Record 5").size(), 2u) << r.out;
    for (std::size_t i = 0; i < 2; ++i) {
        const std::vector<std::string> row = Row(r.out, sims[i]->DevicePath());
        ASSERT_EQ(row.size(), 4u) << r.out;
        EXPECT_EQ(row[1], "ok");
        EXPECT_EQ(row[2], "Software version 2.6b");
        EXPECT_EQ(sims[i]->Status().version.Text(), "2.6b");
    }
    const std::vector<std::string> failed = Row(r.out, sims[2]->DevicePath());
    ASSERT_EQ(failed.size(), 4u) << r.out;
    EXPECT_EQ(failed[1], "failed");
    EXPECT_EQ(failed[2], "Failed GPS Engine download");
}

// Ctrl-C reaches the batch alone (its units have a process group of their own); each
// unit's load is cancelled as a single load's is.
TEST_F(BatchTest, CtrlCCancelsEveryUnitsLoad) {
    auto one = StartSim([](SimOptions& o) { o.ackDelayMs = 150; });
    auto two = StartSim([](SimOptions& o) { o.ackDelayMs = 150; });
    ASSERT_TRUE(one && two);
    const std::string file = Write("300load.gst", MakeGst(40).text);
    bool sent = false;
    const CliResult r =
        Run({"--port", one->DevicePath(), "--port", two->DevicePath(), "load", file}, 60s,
            [&](pid_t pid, const CliResult& sofar) {
                if (!sent && LinesOf(sofar.out, one->DevicePath() + ": Sending Record 3").size() &&
                    LinesOf(sofar.out, two->DevicePath() + ": Sending Record 3").size()) {
                    sent = true;
                    kill(pid, SIGINT);
                }
            });
    ASSERT_TRUE(sent) << r.out << r.err;
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (const auto* sim : {one.get(), two.get()}) {
        const std::string dev = sim->DevicePath();
        EXPECT_EQ(LinesOf(r.out, dev + ": Cancelled").size(), 1u) << r.out;
        EXPECT_EQ(Row(r.out, dev).at(1), "cancelled");
        EXPECT_LT(sim->Status().recordCount, 40u);
    }
}

// README's GNU parallel recipe, as written there, over two receivers.
TEST_F(BatchTest, TheGnuParallelRecipeRunsAsWritten) {
    std::ifstream readme(KESTRANE_README);
    std::stringstream text;
    text << readme.rdbuf();
    const std::string doc = text.str();
    const std::string start = "<!-- recipe: parallel -->\n```sh\n";
    const std::size_t from = doc.find(start);
    ASSERT_NE(from, std::string::npos);
    const std::size_t to = doc.find("```\n", from + start.size());
    ASSERT_NE(to, std::string::npos);
    const std::string recipe = doc.substr(from + start.size(), to - from - start.size());

    auto one = StartSim();
    auto two = StartSim([](SimOptions& o) { o.version = SimVersion{2, 4, {'a', 0, 0, 0}}; });
    ASSERT_TRUE(one && two);
    Write("stations.txt", one->DevicePath() + "\n" + two->DevicePath() + "\n");
    const std::string program = KESTRANE_CLI_PROGRAM;
    const std::string bin = program.substr(0, program.rfind('/'));
    const CliResult r = RunCliInShell(
        "set -e -o pipefail; cd \"$1\"; PATH=\"$2:$PATH\"; " + recipe, {dir_, bin}, {},
        tree_.path(), 120s);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // The recipe's table: device, exit status, software version.
    EXPECT_NE(r.out.find(one->DevicePath() + "\t0\t2.5b\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(two->DevicePath() + "\t0\t2.4a\n"), std::string::npos) << r.out;
}

} // namespace
