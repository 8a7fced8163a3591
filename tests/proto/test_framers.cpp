// The CRC, the two receive state machines and the framer classes: worked example, table
// of garbage / split / corrupt streams, result codes and buffer limits.

#include "framing_helpers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

const Bytes kExample = B({0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0x9F, 0xA9, 0x0D, 0x0A});

// ---------------------------------------------------------------------------------------
// CRC

TEST(Crc, CheckValueAndTable) {
    const Bytes check = B("123456789");
    EXPECT_EQ(CalcCrc(check.data(), check.size()), 0x29B1);
    EXPECT_EQ(CalcCrc(nullptr, 0), 0xFFFF);

    // Every entry against the definition: byte i in the high half, eight shift steps.
    for (unsigned i = 0; i < 256; ++i) {
        unsigned reg = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x8000) ? ((reg << 1) ^ 0x1021) : (reg << 1);
        }
        ASSERT_EQ(CrcTable[i], reg & 0xFFFF) << "entry " << i;
    }
}

TEST(Crc, ExampleHeaderAndPayload) {
    // Covers bytes 0 to N-5 and is stored low byte first.
    EXPECT_EQ(CalcCrc(kExample.data(), 7), 0xA99F);
}

// ---------------------------------------------------------------------------------------
// Streams through both framers, as the reader feeds them.

struct StreamCase {
    const char* name;
    Bytes input;
    std::vector<Bytes> frames;
    std::vector<Bytes> lines;
};

const Bytes kNoPayload = Frame(0x42, {});
// "\x04" "\x0B" written apart so that the hex escape does not run into the next character.
const Bytes kMarkers = Frame(0x10, B(std::string("$xx$\r\n$x\x04\x0B") + "x$\rA\n"));
const Bytes kLongest = Frame(0x07, Bytes(245, 0x24));
const Bytes kGga = B("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
const Bytes kCrCrLfFrame = B({0x24, 0x78, 0xD4, 0x0B, 0x78, 0x24, 0x00, 0x50, 0x0D, 0x0D, 0x0A});

Bytes WithByte(Bytes b, std::size_t at, std::uint8_t value) {
    b[at] = value;
    return b;
}

std::vector<StreamCase> StreamCases() {
    const Bytes badCrc = WithByte(kExample, 7, 0x00);
    return {
        {"example frame", kExample, {kExample}, {kExample}},
        {"frame of length 10", kNoPayload, {kNoPayload}, {kNoPayload}},
        {"longest frame, payload all dollars", kLongest, {kLongest}, {kLongest}},
        // Markers, a fake header and CR/LF in the payload do not disturb the frame; the line
        // framer sees the CR LF inside it and cuts a line there.
        {"markers and CR LF in payload",
         kMarkers,
         {kMarkers},
         {Bytes(kMarkers.begin(), kMarkers.begin() + 12),
          Bytes(kMarkers.begin() + 20, kMarkers.end())}},
        {"two frames back to back",
         Cat({kExample, kNoPayload}),
         {kExample, kNoPayload},
         {kExample, kNoPayload}},
        {"frame right after text", Cat({kGga, kExample}), {kExample}, {kGga, kExample}},
        {"text right after frame", Cat({kExample, kGga}), {kExample}, {kExample, kGga}},
        {"frame after text without line end",
         Cat({B("noise"), kExample}),
         {kExample},
         {Cat({B("noise"), kExample})}},
        {"NMEA sentence only", kGga, {}, {kGga}},
        // A "$" that breaks a header is taken as the start of the next frame.
        {"stray dollar then frame", Cat({B("$"), kExample}), {kExample}, {Cat({B("$"), kExample})}},
        {"run of dollars then frame",
         Cat({B("$$$$"), kExample}),
         {kExample},
         {Cat({B("$$$$"), kExample})}},
        {"header cut after length then frame",
         Cat({B({0x24, 0x78, 0xFF, 0x0B}), kExample}),
         {kExample},
         {Cat({B({0x24, 0x78, 0xFF, 0x0B}), kExample})}},
        {"bad CRC then good frame", Cat({badCrc, kExample}), {kExample}, {badCrc, kExample}},
        {"last byte not LF", WithByte(kExample, 10, 0x0D), {}, {}},
        {"CR missing", WithByte(kExample, 9, 0x0A), {}, {}},
        {"length 9", WithByte(kExample, 3, 0x09), {}, {WithByte(kExample, 3, 0x09)}},
        // Line rules: a CR followed by anything but LF abandons the line so far.
        {"CR inside a line", B({0x41, 0x42, 0x0D, 0x43, 0x0D, 0x0A}), {}, {B({0x0D, 0x0A})}},
        // A CR after a CR may be the line end: CR CR LF ends with the line CR LF, and the
        // next line starts clean. Otherwise the byte after it begins a line (an even run
        // of CRs) or is abandoned with the CR before it (an odd run), as without the rule.
        {"CR CR LF", B("ab\r\r\n"), {}, {B("\r\n")}},
        {"CR CR LF then sentence", Cat({B("ab\r\r\n"), kGga}), {}, {B("\r\n"), kGga}},
        {"CR CR then text", B("ab\r\rcd\r\n"), {}, {B("cd\r\n")}},
        {"CR CR CR then text", B("ab\r\r\rXcd\r\n"), {}, {B("cd\r\n")}},
        // Id 212 with the payload 00 has the CRC 0D50: the frame ends 0D 0D 0A.
        {"frame ending CR CR LF then sentence",
         Cat({kCrCrLfFrame, kGga}),
         {kCrCrLfFrame},
         {B("\r\n"), kGga}},
        {"LF alone is no line end", B("ab\ncd\r\n"), {}, {B("ab\ncd\r\n")}},
        {"empty line", B("\r\n"), {}, {B("\r\n")}},
        {"NUL and high bytes in a line",
         B({0x24, 0x00, 0xFF, 0x80, 0x0D, 0x0A}),
         {},
         {B({0x24, 0x00, 0xFF, 0x80, 0x0D, 0x0A})}},
    };
}

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class Streams : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Streams, DeliverExactlyTheExpectedMessages) {
    const StreamCase& c = GetParam();
    const Received got = Feed(c.input);
    EXPECT_EQ(got.frames, c.frames);
    EXPECT_EQ(got.lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(Framers, Streams, ::testing::ValuesIn(StreamCases()),
                         [](const ::testing::TestParamInfo<StreamCase>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) {
                                     ch = '_';
                                 }
                             }
                             return n;
                         });

TEST(DiagFramer, AnyChangedHeaderOrCrcByteDropsTheFrame) {
    for (std::size_t at = 0; at <= 8; ++at) {
        for (int delta : {1, 0x80, 0xFF}) {
            const Bytes bad =
                WithByte(kExample, at, static_cast<std::uint8_t>(kExample[at] + delta));
            // Followed by a good frame, which must still be found; only that one may be.
            const Received got = Feed(Cat({bad, kExample}));
            if (at == 3 && bad[3] >= 10) {
                // A larger length swallows what follows as its body; the CRC then fails.
                // Anything accepted here would have to be the good frame.
                for (const Bytes& f : got.frames) {
                    EXPECT_EQ(f, kExample);
                }
                continue;
            }
            EXPECT_EQ(got.frames, std::vector<Bytes>{kExample}) << "byte " << at << " +" << delta;
        }
    }
}

TEST(DiagFramer, SplitAtEveryPointAcrossGarbage) {
    // The framer keeps its state between bytes, whatever the other framer does in between;
    // a frame fed in two parts with the line framer working through text around it is found.
    for (std::size_t cut = 1; cut < kExample.size(); ++cut) {
        DiagProto diag;
        CRLFProto line;
        Received got;
        FeedInto(diag, line, Cat({kGga, Bytes(kExample.begin(), kExample.begin() + cut)}), got);
        FeedInto(diag, line, Cat({Bytes(kExample.begin() + cut, kExample.end()), kGga}), got);
        EXPECT_EQ(got.frames, std::vector<Bytes>{kExample}) << "cut " << cut;
        EXPECT_EQ(got.lines, (std::vector<Bytes>{kGga, kExample, kGga})) << "cut " << cut;
    }
}

TEST(DiagFramer, RandomGarbageNeverYieldsAFrameAndFramesAfterItAreFound) {
    std::mt19937 rng(12345);
    DiagProto diag;
    CRLFProto line;
    Received got;
    for (int round = 0; round < 200; ++round) {
        Bytes noise(1 + rng() % 300);
        for (auto& b : noise) {
            // Biased toward the marker bytes so that partial headers are common.
            const unsigned r = rng() % 8;
            b = r == 0 ? '$' : r == 1 ? 'x' : r == 2 ? '\r' : static_cast<std::uint8_t>(rng());
        }
        FeedInto(diag, line, noise, got);
    }
    EXPECT_TRUE(got.frames.empty());
    for (const Bytes& l : got.lines) {
        ASSERT_GE(l.size(), 2u);
        EXPECT_EQ(l[l.size() - 2], '\r');
        EXPECT_EQ(l.back(), '\n');
        EXPECT_LE(l.size(), kMaxLineLen);
    }
    // Garbage may leave the framer inside a claimed body of up to 255 bytes; after that
    // much quiet text it hunts again.
    got = {};
    FeedInto(diag, line, Cat({Bytes(255, 'a'), kExample}), got);
    EXPECT_EQ(got.frames, std::vector<Bytes>{kExample});
}

TEST(LineFramer, FramesOfAnyCrcNeverCostASentence) {
    // A receiver's stream: binary frames with every kind of CRC (CR among its bytes,
    // both at once included) between NMEA sentences. Every sentence comes through.
    std::mt19937 rng(2024);
    Bytes stream;
    int sentences = 0;
    for (int i = 0; i < 3000; ++i) {
        Bytes payload(rng() % 4);
        for (auto& b : payload) {
            b = static_cast<std::uint8_t>(rng());
        }
        stream = Cat({stream, Frame(static_cast<std::uint8_t>(rng()), payload)});
        if (rng() % 2 == 0) {
            stream = Cat({stream, kGga});
            ++sentences;
        }
    }
    stream = Cat({stream, kCrCrLfFrame, kGga});
    ++sentences;
    int seen = 0;
    for (const Bytes& l : Feed(stream).lines) {
        seen += l == kGga ? 1 : 0;
    }
    EXPECT_EQ(seen, sentences);
}

// ---------------------------------------------------------------------------------------
// Result codes and limits of the state machines.

int FeedDiag(const Bytes& in, DiagFrameState& st, std::uint8_t* buf, std::uint16_t cap) {
    int last = -1;
    for (std::uint8_t b : in) {
        last = FrameDiagByte(b, st, buf, cap);
    }
    return last;
}

TEST(FrameDiagByte, ResultCodes) {
    std::uint8_t buf[4000];
    {
        DiagFrameState st;
        EXPECT_EQ(FeedDiag(kExample, st, buf, sizeof buf), kDiagFrameComplete);
        EXPECT_EQ(st.count, 11);
        EXPECT_EQ(st.length, 11);
        EXPECT_EQ(Bytes(buf, buf + 11), kExample);
    }
    {
        // Length 9 is refused at the length byte itself.
        DiagFrameState st;
        EXPECT_EQ(FeedDiag(B({0x24, 0x78, 0x01, 0x09}), st, buf, sizeof buf), kDiagOverflow);
        EXPECT_EQ(st.state, DiagState::Hunting);
    }
    {
        // The CRC mismatch is reported at the high CRC byte.
        DiagFrameState st;
        const Bytes bad = WithByte(kExample, 6, 0x05);
        EXPECT_EQ(FeedDiag(Bytes(bad.begin(), bad.begin() + 9), st, buf, sizeof buf), kDiagBadCrc);
    }
    {
        DiagFrameState st;
        st.state = static_cast<DiagState>(200);
        st.count = 3;
        EXPECT_EQ(FrameDiagByte('a', st, buf, sizeof buf), kDiagBadState);
        EXPECT_EQ(st.state, DiagState::Hunting);
    }
    {
        // A record whose length was spoilt while in the body is not trusted for offsets.
        DiagFrameState st;
        FeedDiag(Bytes(kExample.begin(), kExample.begin() + 6), st, buf, sizeof buf);
        st.length = 3;
        EXPECT_EQ(FrameDiagByte(0x04, st, buf, sizeof buf), kDiagBadState);
    }
}

TEST(FrameDiagByte, NeverWritesPastTheCapacity) {
    // A length above the capacity is refused; a full buffer refuses the byte.
    std::uint8_t buf[24] = {};
    DiagFrameState st;
    EXPECT_EQ(FeedDiag(B({0x24, 0x78, 0x01, 20}), st, buf, 16), kDiagOverflow);
    st = {};
    EXPECT_EQ(FeedDiag(B({0x24, 0x78, 0x01, 16, 0x78, 0x24}), st, buf, 16), kDiagNoFrame);
    st = {};
    EXPECT_EQ(FeedDiag(B({0x24, 0x78, 0x01}), st, buf, 3), kDiagNoFrame);
    EXPECT_EQ(FrameDiagByte(10, st, buf, 3), kDiagOverflow);
    EXPECT_EQ(st.count, 3);
    for (std::size_t i = 16; i < sizeof buf; ++i) {
        EXPECT_EQ(buf[i], 0);
    }
    // A count beyond the capacity in a spoilt record is refused as well.
    st = {};
    st.state = DiagState::Body;
    st.count = 500;
    st.length = 255;
    EXPECT_EQ(FrameDiagByte(0, st, buf, 16), kDiagOverflow);
}

TEST(FrameDiagByte, NmeaSentenceIsLeftAtItsSecondByte) {
    std::uint8_t buf[64];
    DiagFrameState st;
    FrameDiagByte('$', st, buf, sizeof buf);
    EXPECT_EQ(st.state, DiagState::AfterDollar);
    FrameDiagByte('G', st, buf, sizeof buf);
    EXPECT_EQ(st.state, DiagState::Hunting);
}

TEST(FrameLineByte, ResultCodesAndLimits) {
    std::uint8_t buf[kMaxLineLen];
    {
        // 1198 bytes and CR LF fill the buffer exactly and make a line.
        LineFrameState st;
        int r = 0;
        for (int i = 0; i < 1198; ++i) {
            r = FrameLineByte('a', st, buf, sizeof buf);
        }
        FrameLineByte('\r', st, buf, sizeof buf);
        r = FrameLineByte('\n', st, buf, sizeof buf);
        EXPECT_EQ(r, kLineComplete);
        EXPECT_EQ(st.count, 1200);
    }
    {
        // 1200 bytes without a line end: the next byte meets the full buffer and is lost,
        // the one after it begins a new line.
        LineFrameState st;
        for (int i = 0; i < 1200; ++i) {
            ASSERT_EQ(FrameLineByte('a', st, buf, sizeof buf), kLineNone);
        }
        EXPECT_EQ(FrameLineByte('\r', st, buf, sizeof buf), kLineOverflow);
        EXPECT_EQ(FrameLineByte('\n', st, buf, sizeof buf), kLineNone);
        EXPECT_EQ(FrameLineByte('c', st, buf, sizeof buf), kLineNone);
        FrameLineByte('\r', st, buf, sizeof buf);
        EXPECT_EQ(FrameLineByte('\n', st, buf, sizeof buf), kLineComplete);
        EXPECT_EQ(Bytes(buf, buf + st.count), B("\nc\r\n"));
    }
    {
        // After CR CR LF the next line has one byte less room: it is cut where it was
        // when that LF began it, and the byte after the lost one begins a new line.
        LineFrameState st;
        for (std::uint8_t b : B("\r\r\n")) {
            FrameLineByte(b, st, buf, sizeof buf);
        }
        for (int i = 0; i < 1199; ++i) {
            ASSERT_EQ(FrameLineByte('a', st, buf, sizeof buf), kLineNone);
        }
        EXPECT_EQ(FrameLineByte('a', st, buf, sizeof buf), kLineOverflow);
        int r = kLineNone;
        for (std::uint8_t b : kGga) {
            r = FrameLineByte(b, st, buf, sizeof buf);
        }
        EXPECT_EQ(r, kLineComplete);
        EXPECT_EQ(Bytes(buf, buf + st.count), kGga);
    }
    {
        LineFrameState st;
        st.state = static_cast<LineState>(9);
        st.count = 4;
        EXPECT_EQ(FrameLineByte('a', st, buf, sizeof buf), kLineBadState);
        EXPECT_EQ(st.state, LineState::Idle);
    }
}

// ---------------------------------------------------------------------------------------
// Framer classes

TEST(FramerClasses, MessageStaysUntilTheNextByte) {
    DiagProto diag;
    bool done = false;
    for (std::uint8_t b : kExample) {
        done = diag.ProcessByte(b);
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(diag.GetMsgLen(), 11);
    EXPECT_EQ(Bytes(diag.GetMsg(), diag.GetMsg() + 11), kExample);
    // The next byte starts again at position 0.
    EXPECT_FALSE(diag.ProcessByte('$'));
    EXPECT_EQ(diag.GetMsg()[0], '$');
}

TEST(FramerClasses, CopyMsgCopiesAtMostTheMaximumAndReturnsTheFullLength) {
    DiagProto diag;
    CRLFProto line;
    Received got;
    FeedInto(diag, line, kExample, got);
    std::uint8_t dest[16];
    std::fill(std::begin(dest), std::end(dest), 0xEE);
    EXPECT_EQ(diag.CopyMsg(dest, 4), 11u);
    EXPECT_EQ(Bytes(dest, dest + 5), B({0x24, 0x78, 0xFF, 0x0B, 0xEE}));
    EXPECT_EQ(diag.CopyMsg(dest, sizeof dest), 11u);
    EXPECT_EQ(Bytes(dest, dest + 11), kExample);
    EXPECT_EQ(dest[11], 0xEE);

    std::fill(std::begin(dest), std::end(dest), 0xEE);
    EXPECT_EQ(line.CopyMsg(dest, 3), 11u);
    EXPECT_EQ(Bytes(dest, dest + 4), B({0x24, 0x78, 0xFF, 0xEE}));
    EXPECT_EQ(line.CopyMsg(dest, 0), 11u);
}

TEST(FramerClasses, ResetDropsAPartialMessage) {
    DiagProto diag;
    CRLFProto line;
    for (std::size_t i = 0; i < 8; ++i) {
        diag.ProcessByte(kExample[i]);
        line.ProcessByte(kExample[i]);
    }
    diag.Reset();
    line.Reset();
    Received got;
    FeedInto(diag, line, Bytes(kExample.begin() + 8, kExample.end()), got);
    EXPECT_TRUE(got.frames.empty());
    EXPECT_EQ(got.lines, std::vector<Bytes>{B({0xA9, 0x0D, 0x0A})});
}

} // namespace
