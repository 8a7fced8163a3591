// Real receiver captures, with our binary frames spliced in at line starts: the framers
// deliver exactly the frames and $GP sentences that the checked-in expectation lists, in
// byte order.
//
// The splice: in front of every "$GP" that directly follows CR LF goes frame k (k counts
// from 0): id k mod 256, a payload of k mod 40 bytes cycling through "$", "x", CR, LF.
// The captures are the shared ones in tests/data/nmea/; data/expected/<capture>.events
// lists what must come out: "F <id> <length>" for a frame, "L <sentence>" for a line
// beginning "$GP" (without its CR LF; a backslash and any byte outside printable ASCII
// written as \xHH).

#include "framing_helpers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string CapturePath(const std::string& name) {
    return std::string(KESTRANE_TEST_DATA) + "/nmea/" + name;
}

std::string DataPath(const std::string& name) {
    return std::string(KESTRANE_PROTO_TEST_DATA) + "/" + name;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One event per line, in the form of the expectation files.
std::vector<std::string> Expected(const std::string& capture) {
    std::ifstream in(DataPath("expected/" + capture.substr(0, capture.rfind('.')) + ".events"));
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

Bytes Splice(const Bytes& capture) {
    Bytes out;
    std::size_t k = 0;
    for (std::size_t i = 0; i < capture.size(); ++i) {
        if (i >= 2 && capture[i - 2] == '\r' && capture[i - 1] == '\n' && i + 2 < capture.size() &&
            capture[i] == '$' && capture[i + 1] == 'G' && capture[i + 2] == 'P') {
            Bytes payload(k % 40);
            for (std::size_t j = 0; j < payload.size(); ++j) {
                payload[j] = static_cast<std::uint8_t>("$x\r\n"[j % 4]);
            }
            const Bytes f = Frame(static_cast<std::uint8_t>(k), payload);
            out.insert(out.end(), f.begin(), f.end());
            ++k;
        }
        out.push_back(capture[i]);
    }
    return out;
}

// Collects what the framers deliver in the expectation files' form, in byte order.
std::vector<std::string> Events(const Bytes& input) {
    DiagProto diag;
    CRLFProto line;
    std::vector<std::string> out;
    for (std::uint8_t b : input) {
        if (diag.ProcessByte(b)) {
            out.push_back("F " + std::to_string(diag.GetMsg()[kFrameIdOffset]) + " " +
                          std::to_string(diag.GetMsgLen()));
        }
        if (line.ProcessByte(b)) {
            const std::uint8_t* l = line.GetMsg();
            const std::size_t n = line.GetMsgLen();
            if (n >= 3 && l[0] == '$' && l[1] == 'G' && l[2] == 'P') {
                std::ostringstream text;
                for (std::size_t i = 0; i + 2 < n; ++i) {
                    if (l[i] >= 0x20 && l[i] < 0x7F && l[i] != '\\') {
                        text << static_cast<char>(l[i]);
                    } else {
                        static const char hex[] = "0123456789ABCDEF";
                        text << "\\x" << hex[l[i] >> 4] << hex[l[i] & 15];
                    }
                }
                out.push_back("L " + text.str());
            }
        }
    }
    return out;
}

class Captures : public ::testing::TestWithParam<const char*> {};

TEST_P(Captures, SplicedFramesAndSentencesComeOutAsExpected) {
    const Bytes capture = ReadFile(CapturePath(GetParam()));
    ASSERT_GT(capture.size(), 1000u);
    const std::vector<std::string> expected = Expected(GetParam());
    ASSERT_GT(expected.size(), 2u);
    EXPECT_EQ(Events(Splice(capture)), expected);

    // Without the frames the same sentences come out, and nothing else.
    std::vector<std::string> sentences;
    for (const std::string& e : expected) {
        if (e[0] == 'L') {
            sentences.push_back(e);
        }
    }
    EXPECT_EQ(Events(capture), sentences);
}

INSTANTIATE_TEST_SUITE_P(Real, Captures,
                         ::testing::Values("ac12_binary.log", "pygpsdata-MIXED2.log",
                                           "gp-320fw-2019-04-07-coldboot.log"));

} // namespace
