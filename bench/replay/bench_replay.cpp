// Replay as fast as possible: the real receivers' captures of the tests, one after the
// other again and again in a file of about 100 MB, replayed at full speed through the
// serial port standing on the file and the receive step (both framers), each sentence
// counted as the monitor counts it, decoded and kept as the status window keeps it
// (the fix status, its scatter and statistics) and gathered into epochs as an export
// gathers them. Prints megabytes of the file per second (the target is at least 50 MB/s)
// and what went through.
//
//   bench_replay [MEGABYTES]     (default 100)

#include "proto/Epochs.h"
#include "proto/Fixstatus.h"
#include "proto/Pollport.h"
#include "proto/Replay.h"
#include "proto/Traffic.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr double kTargetMBps = 50.0;
// As kestrane-cli's replay takes it between looks at Ctrl-C.
constexpr std::size_t kBlockBytes = 64 * 1024;

class StatusSink : public PollSink {
public:
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        count.CountFrame(frame, length);
    }
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        std::string_view sentence;
        if (!count.CountLine(line, length, sentence)) {
            return;
        }
        const NmeaResult result = status.AddSentence(
            reinterpret_cast<const std::uint8_t*>(sentence.data()), sentence.size(), 0);
        epochs.Add(result, status.State());
    }
    void PortHungUp() override { hungUp = true; }

    TrafficCount count;
    FixStatus status;
    EpochCollector epochs;
    bool hungUp = false;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 100.0;
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(KESTRANE_TEST_DATA "/nmea")) {
        if (entry.path().extension() == ".log") {
            names.push_back(entry.path());
        }
    }
    std::sort(names.begin(), names.end());
    std::string captures;
    for (const auto& name : names) {
        captures += ReadFile(name);
    }
    if (captures.empty()) {
        std::fprintf(stderr, "no captures in %s/nmea\n", KESTRANE_TEST_DATA);
        return 1;
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / "kestrane-bench-replay.log").string();
    std::uint64_t size = 0;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        while (static_cast<double>(size) < megabytes * 1e6) {
            out.write(captures.data(), static_cast<std::streamsize>(captures.size()));
            size += captures.size();
        }
        if (!out.flush()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }

    double best = 0.0;
    std::int32_t messages = 0;
    std::size_t epochs = 0;
    for (int pass = 0; pass < 3; ++pass) {
        FakeClock clock;
        std::string error;
        std::unique_ptr<ReplayFile> replay = ReplayFile::Open(path, clock, error);
        if (!replay) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        replay->SetSpeed(0);
        const ReplayFile* file = replay.get();
        SerialPort port;
        port.OpenSource(std::move(replay), path.c_str());
        DiagProto diag;
        CRLFProto line;
        std::uint8_t buffer[kPollBlockSize];
        StatusSink sink;
        const auto start = std::chrono::steady_clock::now();
        while (!file->Finished() && !sink.hungUp) {
            PollPortMany(port, diag, line, buffer, sink, kBlockBytes);
            // The status window works its figures out on every tick.
            (void)sink.status.History().Compute();
        }
        sink.epochs.Finish();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double mbps = static_cast<double>(file->Position()) / 1e6 / seconds;
        std::printf("pass %d: %.1f MB in %.3f s: %.1f MB/s\n", pass + 1,
                    static_cast<double>(file->Position()) / 1e6, seconds, mbps);
        best = std::max(best, mbps);
        messages = sink.count.MessageCount();
        epochs = sink.epochs.Epochs().size();
    }
    std::remove(path.c_str());
    std::printf("messages %d, epochs %zu\n", messages, epochs);
    std::printf("replay at full speed: %.1f MB/s (target %.0f MB/s): %s\n", best, kTargetMBps,
                best >= kTargetMBps ? "met" : "NOT MET");
    return best >= kTargetMBps ? 0 : 1;
}
