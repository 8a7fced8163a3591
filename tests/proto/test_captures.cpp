// Real receiver captures, with our binary frames spliced in at line starts: the binary
// framer finds exactly the spliced frames, and the line framer still cuts every line of
// the capture that begins after a line end exactly as it did without them.

#include "framing_helpers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

Bytes ReadCapture(const std::string& name) {
    std::ifstream in(std::string(KESTRANE_PROTO_TEST_DATA) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool StartsWithGP(const Bytes& line) {
    return line.size() >= 3 && line[0] == '$' && line[1] == 'G' && line[2] == 'P';
}

class Captures : public ::testing::TestWithParam<const char*> {};

TEST_P(Captures, SplicedFramesAreFoundAndLinesKept) {
    const Bytes capture = ReadCapture(GetParam());
    ASSERT_GT(capture.size(), 1000u);

    // Where the line framer completes a line in the plain capture.
    std::vector<bool> lineEndsAt(capture.size(), false);
    Received plain;
    {
        DiagProto diag;
        CRLFProto line;
        for (std::size_t i = 0; i < capture.size(); ++i) {
            const std::size_t before = plain.lines.size();
            FeedInto(diag, line, Bytes{capture[i]}, plain);
            lineEndsAt[i] = plain.lines.size() != before;
        }
    }
    EXPECT_TRUE(plain.frames.empty());
    std::vector<Bytes> gpLines;
    for (const Bytes& l : plain.lines) {
        if (StartsWithGP(l)) {
            gpLines.push_back(l);
        }
    }
    ASSERT_FALSE(gpLines.empty());

    // A frame goes in front of every "$GP" that begins a line. The frame ends in CR LF
    // itself, so each such sentence still begins a fresh line.
    Bytes spliced;
    std::vector<Bytes> inserted;
    for (std::size_t i = 0; i < capture.size(); ++i) {
        if (i >= 1 && lineEndsAt[i - 1] && i + 2 < capture.size() && capture[i] == '$' &&
            capture[i + 1] == 'G' && capture[i + 2] == 'P') {
            Bytes payload(inserted.size() % 40);
            for (std::size_t k = 0; k < payload.size(); ++k) {
                payload[k] = static_cast<std::uint8_t>("$x\r\n"[k % 4]);
            }
            inserted.push_back(Frame(static_cast<std::uint8_t>(inserted.size()), payload));
            spliced.insert(spliced.end(), inserted.back().begin(), inserted.back().end());
        }
        spliced.push_back(capture[i]);
    }
    ASSERT_GT(inserted.size(), 1u);

    const Received got = Feed(spliced);
    EXPECT_EQ(got.frames, inserted);
    std::vector<Bytes> gotGp;
    for (const Bytes& l : got.lines) {
        if (StartsWithGP(l)) {
            gotGp.push_back(l);
        }
    }
    EXPECT_EQ(gotGp, gpLines);
}

INSTANTIATE_TEST_SUITE_P(Real, Captures,
                         ::testing::Values("ac12_binary.log", "pygpsdata-MIXED2.log",
                                           "gp-320fw-2019-04-07-coldboot.log"));

} // namespace
