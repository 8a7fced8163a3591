// Replaying a recording: the pace of its sentences' own times on the fake clock, the
// line ends a capture is given (and the bytes a raw recording keeps), files that are not
// recordings, and the serial port standing on the replay as on a receiver's line.

#include "proto/Pollport.h"
#include "proto/Replay.h"

#include "framing_helpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

// A sentence with its checksum.
std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char star[4];
    std::snprintf(star, sizeof star, "*%02X", sum);
    return "$" + body + star;
}

// An epoch of a capture: GGA, GSA and RMC of the time hhmmss(.ss), each ended by end.
std::string Epoch(const std::string& time, const std::string& end = "\n") {
    return Sentence("GPGGA," + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") + end +
           Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") + end +
           Sentence("GPRMC," + time + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") + end;
}

class ReplayTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& f : files_) {
            std::remove(f.c_str());
        }
    }

    std::string Write(const std::string& content) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string path =
            (std::filesystem::temp_directory_path() /
             (std::string("kestrane-replay-") + info->name() + "-" + std::to_string(files_.size())))
                .string();
        std::ofstream(path, std::ios::binary) << content;
        files_.push_back(path);
        return path;
    }

    std::unique_ptr<ReplayFile> Open(const std::string& content, double speed = 0) {
        std::string error;
        auto replay = ReplayFile::Open(Write(content), clock_, error);
        EXPECT_TRUE(replay) << error;
        if (replay) {
            replay->SetSpeed(speed);
        }
        return replay;
    }

    // Everything the replay gives now, in small reads.
    static std::string ReadNow(ReplayFile& replay) {
        std::string out;
        std::uint8_t block[100];
        std::uint32_t n = 0;
        std::string error;
        while (replay.Read(block, sizeof block, n, error) && n > 0) {
            out.append(reinterpret_cast<const char*>(block), n);
        }
        EXPECT_EQ(error, "");
        return out;
    }

    // The fake clock's milliseconds since the start at which each GGA came out, looking
    // every tickMs for totalMs.
    std::vector<std::int64_t> GgaTimes(ReplayFile& replay, std::int64_t totalMs,
                                       std::int64_t tickMs = 1) {
        std::vector<std::int64_t> at;
        for (std::int64_t t = 0; t <= totalMs; t += tickMs) {
            const std::string out = ReadNow(replay);
            for (std::size_t i = out.find("GGA"); i != std::string::npos;
                 i = out.find("GGA", i + 1)) {
                at.push_back(t);
            }
            clock_.AdvanceMilliseconds(tickMs);
        }
        return at;
    }

    FakeClock clock_;
    std::vector<std::string> files_;
};

TEST_F(ReplayTest, SentencesComeAtThePaceOfTheirOwnTimes) {
    struct Case {
        const char* what;
        std::vector<std::string> times;
        double speed;
        std::vector<std::int64_t> expected; // ms after the start at which each epoch comes
        std::int64_t tickMs = 1;            // how often the replay is read
    };
    // clang-format off
    const Case cases[] = {
        {"one a second", {"120000.00", "120001.00", "120002.00", "120003.00", "120004.00"}, 1,
         {0, 1000, 2000, 3000, 4000}},
        {"twice as fast", {"120000.00", "120001.00", "120002.00", "120003.00", "120004.00"}, 2,
         {0, 500, 1000, 1500, 2000}},
        {"tenths, and no decimals", {"120000", "120000.2", "120000.45", "120001"}, 1,
         {0, 200, 450, 1000}},
        {"a gap of a minute waits the longest wait", {"120000", "120100", "120101"}, 1,
         {0, 10000, 11000}},
        {"the gap at speed 4", {"120000", "120100"}, 4, {0, 2500}},
        {"across midnight", {"235959", "000000", "000001"}, 1, {0, 1000, 2000}},
        {"back in time: no wait", {"120005", "110000", "110001"}, 1, {0, 0, 1000}},
        {"as fast as possible", {"120000", "120001", "120100"}, 0, {0, 0, 0}},
        // Read every 100 ms: what a tick overshoots counts towards the next wait, so the
        // replay keeps to the recording's time instead of falling behind.
        {"read in ticks", {"120000.00", "120000.45", "120000.90", "120001.35"}, 1,
         {0, 500, 900, 1400}, 100},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::string capture = "# a capture's header\n";
        for (const std::string& t : c.times) {
            capture += Epoch(t);
        }
        auto replay = Open(capture, c.speed);
        ASSERT_TRUE(replay);
        EXPECT_EQ(GgaTimes(*replay, c.expected.back() + 1500, c.tickMs), c.expected) << c.what;
        EXPECT_TRUE(replay->Finished()) << c.what;
        EXPECT_EQ(replay->Position(), capture.size()) << c.what;
    }
}

TEST_F(ReplayTest, PauseHoldsEverythingAndResumesWithoutCatchingUp) {
    auto replay = Open(Epoch("120000") + Epoch("120001") + Epoch("120002"), 1);
    ASSERT_TRUE(replay);
    EXPECT_EQ(GgaTimes(*replay, 199), std::vector<std::int64_t>{0});
    replay->SetPaused(true);
    clock_.Advance(5);
    EXPECT_EQ(ReadNow(*replay), "");
    replay->SetPaused(false);
    // 200 ms of the second had gone before the pause; 800 are left.
    EXPECT_EQ(GgaTimes(*replay, 2000), (std::vector<std::int64_t>{800, 1800}));
}

TEST_F(ReplayTest, LinesOfACaptureAreGivenCrLfAndARecordingWithFramesKeepsEveryByte) {
    const std::string gga = Sentence("GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,,");
    const std::string rmc = Sentence("GPRMC,120000,A,4807.038,N,01131.000,E,,,230394,,");
    const std::string zda = Sentence("GPZDA,120000,23,03,1994,00,00");
    // LF alone, LF CR, CR LF, and LF CR LF (a line, then an empty one).
    auto text = Open("# header\n" + gga + "\n\r" + rmc + "\r\n" + zda + "\n\r\n" + gga + "\n");
    ASSERT_TRUE(text);
    EXPECT_EQ(ReadNow(*text),
              "# header\r\n" + gga + "\r\n" + rmc + "\r\n" + zda + "\r\n\r\n" + gga + "\r\n");

    // A frame whose length byte, payload and CRC hold LF: the file is a recording with
    // frames, so nothing is added anywhere, not even to the bare LF after the TXT.
    const Bytes frame = Frame(0x0A, B({0x0A, 0x24, 0x0D, 0x0A, 0x0A, 0x00}));
    const std::string raw = gga + "\r\n" + std::string(frame.begin(), frame.end()) +
                            Sentence("GPTXT,01,01,02,bare") + "\n" + rmc + "\r\n";
    auto recording = Open(raw);
    ASSERT_TRUE(recording);
    EXPECT_EQ(ReadNow(*recording), raw);
}

TEST_F(ReplayTest, AFrameLateInATextFileIsLeftWholeAndTheLinesAroundItTaken) {
    // 64 KiB and more of a capture with LF alone, then a frame of LF bytes, then more.
    std::string capture;
    std::size_t epochs = 0;
    for (; capture.size() < 70'000; ++epochs) {
        capture += Epoch("120000");
    }
    const Bytes frame = Frame(4, Bytes(20, 0x0A));
    capture += std::string(frame.begin(), frame.end()) + Epoch("130000");

    auto replay = Open(capture);
    ASSERT_TRUE(replay);
    SerialPort port;
    ASSERT_TRUE(port.OpenSource(std::move(replay), "capture"));
    struct Sink : PollSink {
        Received got;
        void FrameReceived(const std::uint8_t* f, std::size_t n) override {
            got.frames.emplace_back(f, f + n);
        }
        void LineReceived(const std::uint8_t* l, std::size_t n) override {
            if (n > 3 && l[1] == 'G' && l[2] == 'P') {
                got.lines.emplace_back(l, l + n);
            }
        }
        void PortHungUp() override {}
    } sink;
    DiagProto diag;
    CRLFProto line;
    std::uint8_t buffer[kPollBlockSize];
    EXPECT_EQ(PollPortMany(port, diag, line, buffer, sink, 1'000'000), PollResult::Polled);
    ASSERT_EQ(sink.got.frames.size(), 1u);
    EXPECT_EQ(sink.got.frames[0], frame);
    EXPECT_EQ(sink.got.lines.size(), 3 * (epochs + 1));
}

TEST_F(ReplayTest, AFileWithoutSentencesOrFramesIsNotARecording) {
    // Noise without a "$", and a sentence only after its first 64 KiB.
    std::string blob;
    std::uint32_t x = 12345;
    while (blob.size() < 70'000) {
        x = x * 1103515245u + 12345u;
        const auto b = static_cast<char>(x >> 24);
        blob += b == '$' ? '#' : b;
    }
    blob += "\r\n" + Epoch("120000", "\r\n");
    for (const std::string& content : {blob, std::string()}) {
        std::string error;
        EXPECT_FALSE(ReplayFile::Open(Write(content), clock_, error));
        EXPECT_NE(error.find(" is not a recording: "), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(ReplayFile::Open(Write("") + ".missing", clock_, error));
    EXPECT_NE(error.find("Cannot open "), std::string::npos) << error;
}

// A source that has nothing to give and then fails, as a file on a vanished medium.
struct FailingSource : ByteSource {
    bool Read(std::uint8_t*, std::uint32_t, std::uint32_t& received, std::string& error) override {
        received = 0;
        error = "Error reading gone.log: Input/output error";
        return false;
    }
};

TEST_F(ReplayTest, APortOnAReplayReadsBlocksTakesNoWritesAndHangsUpWhenItCannotRead) {
    std::string capture;
    for (int i = 0; i < 40; ++i) {
        capture += Epoch("1200" + std::to_string(10 + i), "\r\n");
    }
    ASSERT_GT(capture.size(), 3 * kPollBlockSize);
    SerialPort port;
    ASSERT_TRUE(port.OpenSource(Open(capture), "capture.log"));
    ASSERT_NE(port.Source(), nullptr);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_FALSE(port.Open("/dev/null", 19200, 0));
    EXPECT_FALSE(port.OpenSource(Open(capture), "again"));
    const std::uint8_t request[] = {'$', 'x'};
    std::uint32_t written = 99;
    EXPECT_FALSE(port.Write(request, sizeof request, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_NE(std::string(port.errorText()).find("capture.log"), std::string::npos);
    EXPECT_TRUE(port.SetBaudRate(4800));
    EXPECT_TRUE(port.RateFixed());

    struct Counter : PollSink {
        std::size_t lines = 0;
        int hangUps = 0;
        void FrameReceived(const std::uint8_t*, std::size_t) override {}
        void LineReceived(const std::uint8_t*, std::size_t) override { ++lines; }
        void PortHungUp() override { ++hangUps; }
    } sink;
    DiagProto diag;
    CRLFProto line;
    std::uint8_t buffer[kPollBlockSize];
    // One block when one is asked for; the rest in one go.
    EXPECT_EQ(PollPortMany(port, diag, line, buffer, sink, 1), PollResult::Polled);
    const std::size_t firstBlockLines = sink.lines;
    EXPECT_LT(firstBlockLines, 3u * 40);
    EXPECT_EQ(PollPortMany(port, diag, line, buffer, sink, 1'000'000), PollResult::Polled);
    EXPECT_EQ(sink.lines, 3u * 40);
    port.Close();
    EXPECT_EQ(port.Source(), nullptr);
    EXPECT_FALSE(port.IsOpen());

    ASSERT_TRUE(port.OpenSource(std::make_unique<FailingSource>(), "gone.log"));
    EXPECT_EQ(PollPort(port, diag, line, buffer, sink), PollResult::HungUp);
    EXPECT_EQ(sink.hangUps, 1);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_STREQ(port.errorText(), "Error reading gone.log: Input/output error");
}

} // namespace
