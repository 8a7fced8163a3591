// What the link's counts and alerts cost on a busy line: a receiver at 5 fixes a second
// sending GGA, GSA, RMC, VTG and ZDA and three binary messages each fix, topped up with
// another message to fill a 38400 baud line (3840 bytes a second). The stream is cut by
// the framers and decoded once, beforehand; what is timed is what the counts and the
// alerts add to the receive path: every block of a 100 ms tick, every frame and every
// line to LinkStats, every block and decoded sentence to AlertMonitor, and its tick ten
// times a second, on the line's own clock. Prints the CPU time they take per second of
// line time as a share of one core (the target is under 0.05 points of a core) and, for
// comparison, the same with the framers and the decoder.
//
//   bench_link [SECONDS]     (seconds of line time, default 3600)

#include "proto/Alerts.h"
#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Linkstats.h"
#include "proto/Memoutils.h"
#include "proto/Nmea.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr double kTargetPoints = 0.05;
constexpr std::size_t kLineBytesPerSecond = 3840; // 38400 baud, 10 bits a byte
constexpr std::size_t kTickBytes = kLineBytesPerSecond / 10;

using Bytes = std::vector<std::uint8_t>;

std::string WithChecksum(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

void Append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

void AppendFrame(Bytes& out, std::uint8_t id, std::size_t payloadLength, unsigned seed) {
    Bytes payload(payloadLength);
    for (std::size_t i = 0; i < payloadLength; ++i) {
        payload[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    }
    std::uint8_t frame[kMaxFrameLen];
    const std::uint8_t n = BuildMsg(id, payload.data(), payloadLength, frame);
    out.insert(out.end(), frame, frame + n);
}

// One second of the line, the fixes' times from second.
Bytes LineSecond(int second) {
    Bytes out;
    for (int fix = 0; fix < 5; ++fix) {
        char time[16];
        std::snprintf(time, sizeof time, "%02d%02d%02d.%02d", second / 3600 % 24, second / 60 % 60,
                      second % 60, fix * 20);
        const std::string t = time;
        Append(out, WithChecksum("GPGGA," + t +
                                 ",4807.0381,N,01131.0001,E,2,08,0.9,545.4,M,46.9,M,3.0,0120"));
        Append(out, WithChecksum("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"));
        Append(out, WithChecksum("GPRMC," + t +
                                 ",A,4807.0381,N,01131.0001,E,022.4,084.4,230394,003.1,W,D"));
        Append(out, WithChecksum("GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,D"));
        Append(out, WithChecksum("GPZDA," + t + ",04,07,2002,00,00"));
        AppendFrame(out, 0x10, 40, static_cast<unsigned>(second * 5 + fix));
        AppendFrame(out, 0x11, 60, static_cast<unsigned>(second * 7 + fix));
        AppendFrame(out, 0x12, 80, static_cast<unsigned>(second * 11 + fix));
    }
    // The rest of the second's bytes in frames of another id, as a full line has them.
    while (kLineBytesPerSecond - out.size() >= 120) {
        AppendFrame(out, 0x14, 90, static_cast<unsigned>(out.size()));
    }
    AppendFrame(out, 0x14, kLineBytesPerSecond - out.size() - kFrameOverhead, 1);
    return out;
}

// The receive path's calls, in their order, with the line's clock.
struct Event {
    enum Kind : std::uint8_t { Block, Frame, Line, Tick } kind;
    std::int64_t atMs;
    std::size_t at; // in the stream
    std::size_t length;
    NmeaResult result; // of a line
    std::size_t state; // its decoded state, in states
};

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3600;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_link [SECONDS]\n");
        return 2;
    }
    Bytes stream;
    for (int s = 0; s < seconds; ++s) {
        const Bytes second = LineSecond(s);
        stream.insert(stream.end(), second.begin(), second.end());
    }

    // Cut and decode once: the blocks of 100 ms, the frames and lines within them.
    const std::int64_t startMs = 1'700'000'000'000;
    std::vector<Event> events;
    std::vector<NmeaState> states;
    std::size_t frameLines = 0; // lines that are frames or their pieces
    {
        DiagProto diag;
        CRLFProto line;
        NmeaDecoder decoder;
        for (std::size_t block = 0; block < stream.size(); block += kTickBytes) {
            const std::int64_t now =
                startMs + static_cast<std::int64_t>(block * 1000 / kLineBytesPerSecond);
            events.push_back({Event::Block, now, block, kTickBytes, {}, 0});
            for (std::size_t i = block; i < block + kTickBytes && i < stream.size(); ++i) {
                if (diag.ProcessByte(stream[i])) {
                    events.push_back(
                        {Event::Frame, now, i + 1 - diag.GetMsgLen(), diag.GetMsgLen(), {}, 0});
                }
                if (line.ProcessByte(stream[i])) {
                    const std::size_t length = line.GetMsgLen();
                    frameLines += line.GetMsg()[0] == '$' && line.GetMsg()[1] == 'G' ? 0 : 1;
                    const NmeaResult r = decoder.Decode(line.GetMsg(), length);
                    states.push_back(decoder.State());
                    events.push_back(
                        {Event::Line, now, i + 1 - length, length, r, states.size() - 1});
                }
            }
            events.push_back({Event::Tick, now, 0, 0, {}, 0});
        }
    }

    double best = 1e9;
    std::uint64_t sentences = 0;
    std::uint64_t others = 0;
    std::size_t alerts = 0;
    for (int pass = 0; pass < 3; ++pass) {
        LinkStats stats;
        AlertMonitor watch;
        const double start = CpuSeconds();
        for (const Event& e : events) {
            switch (e.kind) {
            case Event::Block:
                stats.BytesReceived(e.length, e.atMs);
                watch.BytesReceived(e.atMs);
                break;
            case Event::Frame:
                stats.FrameReceived(stream.data() + e.at, e.length, e.atMs);
                break;
            case Event::Line:
                stats.LineReceived(stream.data() + e.at, e.length, e.atMs);
                if (e.result.type != NmeaType::None) {
                    watch.Sentence(e.result, states[e.state], e.atMs);
                }
                break;
            case Event::Tick:
                watch.Tick(e.atMs);
                break;
            }
        }
        best = std::min(best, CpuSeconds() - start);
        sentences = 0;
        for (const LinkStats::Entry& entry : stats.Sentences(startMs + seconds * 1000LL)) {
            sentences += entry.count;
        }
        others = stats.NotSentences() + stats.ChecksumRefused();
        alerts = watch.Log().size();
    }

    // For comparison: the framers and the decoder, which the receive path runs anyway.
    double path = 1e9;
    for (int pass = 0; pass < 3; ++pass) {
        DiagProto diag;
        CRLFProto line;
        NmeaDecoder decoder;
        std::size_t n = 0;
        const double start = CpuSeconds();
        for (const std::uint8_t b : stream) {
            if (diag.ProcessByte(b)) {
                ++n;
            }
            if (line.ProcessByte(b)) {
                n += decoder.Decode(line.GetMsg(), line.GetMsgLen()).validPosition ? 1 : 0;
            }
        }
        path = std::min(path, CpuSeconds() - start);
        if (n == 0) {
            std::fprintf(stderr, "nothing framed\n");
            return 1;
        }
    }

    const double points = best / seconds * 100.0;
    std::printf("%d s of a 38400 baud line (%.1f MB): %llu sentences counted, %llu other lines, "
                "%zu alerts\n(the line framer made %zu lines of the frames and their pieces)\n",
                seconds, static_cast<double>(stream.size()) / 1e6,
                static_cast<unsigned long long>(sentences), static_cast<unsigned long long>(others),
                alerts, frameLines);
    std::printf("framers and decoder: %.4f points of a core\n", path / seconds * 100.0);
    std::printf("counts and alerts: %.3f s CPU, %.5f points of a core (target under %.2f): %s\n",
                best, points, kTargetPoints, points < kTargetPoints ? "met" : "NOT MET");
    return points < kTargetPoints ? 0 : 1;
}
