// kestrane-cli report end to end: the simulator's recordings against the reports a small
// script of their own worked out from the sentences (tests/data/recordings/expected.py),
// the criteria that pass or fail an installation, and a report from a receiver live.

#include "tests/cli/Cliprocess.h"

#include "sim/Simreceiver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>

namespace {

const std::string kRecordings = std::string(KESTRANE_TEST_DATA) + "/recordings/";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A JSON text flattened: each number, string, true, false and null under its path
// ("quality_percent.gps", "failed.0"), as written.
using Flat = std::map<std::string, std::string>;

void Flatten(const std::string& s, std::size_t& i, const std::string& path, Flat& out) {
    const auto space = [&] {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
            ++i;
    };
    const auto text = [&] {
        const std::size_t start = i++;
        while (i < s.size() && s[i] != '"')
            i += s[i] == '\\' ? 2 : 1;
        return s.substr(start + 1, i++ - start - 1);
    };
    space();
    if (i >= s.size())
        return;
    const char open = s[i];
    if (open == '{' || open == '[') {
        ++i;
        for (int n = 0;; ++n) {
            space();
            if (i >= s.size() || s[i] == '}' || s[i] == ']') {
                ++i;
                return;
            }
            std::string key = std::to_string(n);
            if (open == '{') {
                key = text();
                space();
                ++i; // ':'
            }
            Flatten(s, i, path.empty() ? key : path + "." + key, out);
            space();
            if (i < s.size() && s[i] == ',')
                ++i;
        }
    }
    if (open == '"') {
        out[path] = text();
        return;
    }
    const std::size_t start = i;
    while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']' &&
           !std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    out[path] = s.substr(start, i - start);
}

Flat Flatten(const std::string& json) {
    Flat out;
    std::size_t i = 0;
    Flatten(json, i, "", out);
    return out;
}

// The program's report against the expected one: the same keys, numbers within a
// millimetre or 0.01 % (degrees within 1e-8, about a millimetre), the rest as written.
void ExpectReport(const std::string& json, const std::string& expectedJson) {
    const Flat got = Flatten(json);
    const Flat expected = Flatten(expectedJson);
    ASSERT_EQ(expected.size(), 30u); // the figures and "passed"
    for (const auto& [key, want] : expected) {
        const auto it = got.find(key);
        ASSERT_NE(it, got.end()) << key << " missing in " << json;
        const std::string& have = it->second;
        char* end = nullptr;
        const double w = std::strtod(want.c_str(), &end);
        if (want.empty() || *end != '\0') {
            EXPECT_EQ(have, want) << key;
            continue;
        }
        const double h = std::strtod(have.c_str(), &end);
        ASSERT_TRUE(!have.empty() && *end == '\0') << key << ": " << have;
        const bool degrees = key.size() > 4 && key.compare(key.size() - 4, 4, "_deg") == 0;
        EXPECT_NEAR(h, w, degrees ? 1e-8 : std::max(1e-3, 1e-4 * std::fabs(w))) << key;
    }
    for (const auto& [key, value] : got)
        EXPECT_TRUE(expected.count(key) != 0 || key.rfind("failed.", 0) == 0) << key;
}

class ReportTest : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args,
                  const std::vector<std::string>& devices = {}) {
        return RunCliProgram(args, devices, tree_.path());
    }
    EmptySysfs tree_;
};

} // namespace

TEST_F(ReportTest, RecordingsGiveTheReportsWorkedOutFromTheirSentences) {
    for (const std::string name : {"gap", "difflost"}) {
        SCOPED_TRACE(name);
        const CliResult r = Run({"report", kRecordings + name + ".nmea", "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        ExpectReport(r.out, ReadFile(kRecordings + name + ".expected.json"));
    }
    // The text report gives the same figures for people.
    const CliResult text = Run({"report", kRecordings + "gap.nmea"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("Availability             87.50 %\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Longest gap             16.0 s\n"), std::string::npos) << text.out;
}

// From the expected reports: the gap's CEP95 is 96.96 m, its availability 87.5 % and
// every fix differential; after the corrections were lost, CEP95 is 67.66 m and 61 of
// 120 fixes are GPS alone.
TEST_F(ReportTest, CriteriaPassOrFailAnInstallation) {
    const CliResult pass = Run({"report", kRecordings + "gap.nmea", "--max-cep95", "97",
                                "--min-availability", "87.5", "--require-differential"});
    EXPECT_EQ(pass.status, 0) << pass.err;
    EXPECT_EQ(pass.err, "");

    const CliResult fail = Run({"report", kRecordings + "difflost.nmea", "--json", "--max-cep95",
                                "50", "--min-availability", "100", "--require-differential"});
    EXPECT_EQ(fail.status, 1);
    EXPECT_EQ(fail.err, "Failed: CEP95 67.66 m is over 50.00 m\n"
                        "Failed: differential required, but 61 of 120 fixes were without it\n");
    const Flat json = Flatten(fail.out);
    EXPECT_EQ(json.at("passed"), "false");
    EXPECT_EQ(json.at("failed.0"), "CEP95 67.66 m is over 50.00 m");
    EXPECT_EQ(json.count("failed.2"), 0u);

    const CliResult gap = Run({"report", kRecordings + "gap.nmea", "--min-availability", "90"});
    EXPECT_EQ(gap.status, 1);
    EXPECT_EQ(gap.err, "Failed: availability 87.50 % is under 90.00 %\n");
}

TEST_F(ReportTest, UsageAndFilesThatAreNoRecording) {
    const std::string gap = kRecordings + "gap.nmea";
    EXPECT_EQ(Run({"report"}).status, 2);
    EXPECT_EQ(Run({"--port", "/dev/null", "report", gap}).status, 2);
    EXPECT_EQ(Run({"report", gap, "--duration", "5"}).status, 2);
    EXPECT_EQ(Run({"report", gap, "--max-cep95", "-1"}).status, 2);
    EXPECT_EQ(Run({"report", gap, "--min-availability", "101"}).status, 2);
    // No sentence and no frame: not a recording. No epoch at all fails.
    const CliResult none = Run({"report", kRecordings + "make.sh"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("not a recording"), std::string::npos) << none.err;
}

TEST_F(ReportTest, LiveFromTheSimulatedReceiver) {
    SimOptions options;
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start());
    const CliResult r = Run({"--port", sim.DevicePath(), "report", "--duration", "3.5", "--json",
                             "--require-differential"},
                            {sim.DevicePath()});
    EXPECT_EQ(r.status, 0) << r.err;
    const Flat json = Flatten(r.out);
    ASSERT_TRUE(json.count("epochs")) << r.out;
    EXPECT_GE(std::stoi(json.at("epochs")), 2);
    EXPECT_EQ(json.at("fixes"), json.at("epochs"));
    EXPECT_EQ(json.at("quality_percent.differential"), "100");
}
