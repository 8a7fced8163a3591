// Replays arbitrary bytes as a recording file through the serial port and the receive
// step, as kestrane-cli replay does, into a sink that decodes every line; then again at
// the recording's own pace on a fake clock. Checks that a file is either refused with a
// message or given out whole (every byte of it, to its end), and that the pace never
// holds the replay for good: each look after the longest wait gives something more.

#include "proto/Nmea.h"
#include "proto/Pollport.h"
#include "proto/Replay.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

struct DecodingSink : PollSink {
    NmeaDecoder decoder;
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
    std::uint64_t frames = 0;
    bool hungUp = false;
    void BytesReceived(const std::uint8_t*, std::size_t length) override { bytes += length; }
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        Check(length >= 10 && length <= 255 && frame[0] == '$');
        ++frames;
    }
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        Check(length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n');
        decoder.Decode(line, length);
        ++lines;
    }
    void PortHungUp() override { hungUp = true; }
};

// Replays the file at speed; between looks the fake clock moves by stepMs. Returns the
// sink's byte count, after checking that the whole file was given out.
std::uint64_t Replay(const std::string& path, std::size_t size, double speed, std::int64_t stepMs) {
    FakeClock clock;
    std::string error;
    std::unique_ptr<ReplayFile> replay = ReplayFile::Open(path, clock, error);
    if (!replay) {
        Check(error.find(path) != std::string::npos);
        return 0;
    }
    replay->SetSpeed(speed);
    const ReplayFile* file = replay.get();
    SerialPort port;
    Check(port.OpenSource(std::move(replay), path.c_str()));
    DiagProto diag;
    CRLFProto line;
    std::uint8_t buffer[kPollBlockSize];
    DecodingSink sink;
    // Every look gives at least the bytes up to the next held sentence, so a file needs
    // no more looks than it has bytes.
    for (std::size_t looks = 0; !file->Finished(); ++looks) {
        Check(looks <= size + 1);
        Check(PollPortMany(port, diag, line, buffer, sink, 1 << 20) == PollResult::Polled);
        clock.AdvanceMilliseconds(stepMs);
    }
    Check(!sink.hungUp);
    Check(file->Position() == size && file->Size() == size);
    Check(sink.decoder.UsedCount() + sink.decoder.UnusableCount() + sink.decoder.OtherCount() ==
          sink.lines);
    return sink.bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("fuzz_replay-" + std::to_string(getpid())))
            .string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        return 0;
    }
    const std::uint64_t fast = Replay(path, size, 0, 0);
    // At the recording's pace, looking once per longest wait: the same bytes come out.
    const std::uint64_t paced = Replay(path, size, 1, ReplayFile::kLongestWaitMs);
    Check(fast == paced);
    std::remove(path.c_str());
    return 0;
}
