// The receive path as the program's poll runs it: every byte of an interleaved stream of
// NMEA sentences and binary frames goes to the binary framer and then to the line
// framer, and every completed frame is dispatched by id. Reports bytes per second
// (the target is at least 100 MB/s on one core) and how many heap allocations the
// receive path made (it must make none).

#include "proto/Memoutils.h"
#include "proto/Port.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tests/proto/Alloccount.h"

namespace {

void Append(std::vector<std::uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
}

void AppendFrame(std::vector<std::uint8_t>& out, std::uint8_t id, std::size_t payloadLen,
                 std::uint8_t fill) {
    std::vector<std::uint8_t> payload(payloadLen);
    for (std::size_t i = 0; i < payloadLen; ++i) {
        payload[i] = static_cast<std::uint8_t>(fill + i * 7);
    }
    std::uint8_t frame[kMaxFrameLen];
    const std::uint8_t n = BuildMsg(id, payload.data(), payloadLen, frame);
    out.insert(out.end(), frame, frame + n);
}

// About 1 MB of one-second epochs: five NMEA sentences, a Configuration report, a
// Corrections status report and a proprietary frame of another id.
std::vector<std::uint8_t> MakeStream() {
    std::vector<std::uint8_t> out;
    for (int epoch = 0; out.size() < (1u << 20); ++epoch) {
        const std::string t = std::to_string(100000 + epoch % 86400);
        Append(out, "$GPGGA," + t + ".00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
        Append(out, "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n");
        Append(out,
               "$GPRMC," + t + ".00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
        Append(out, "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\r\n");
        Append(out, "$GPZDA," + t + ".00,04,07,2002,00,00*60\r\n");
        AppendFrame(out, kMsgConfigReport, 134, static_cast<std::uint8_t>(epoch));
        AppendFrame(out, kMsgCorrectionsReport, 72, 0x24);
        AppendFrame(out, 0x30, 40, 0x0D);
    }
    return out;
}

void BM_ReceivePath(benchmark::State& state) {
    const std::vector<std::uint8_t> stream = MakeStream();
    long frames = 0;
    long reports = 0;
    long lines = 0;
    RegisterRecipient(
        kMsgConfigReport, nullptr, [&reports](const std::uint8_t*, int) { ++reports; }, 0);
    RegisterRecipient(
        kMsgCorrectionsReport, nullptr, [&reports](const std::uint8_t*, int) { ++reports; }, 0);
    const long allocationsBefore = AllocationCount();
    for (auto _ : state) {
        // Read in blocks of RxBuffer's size, as the poll does.
        for (std::size_t at = 0; at < stream.size(); at += kRxBufferSize) {
            const std::size_t n = std::min(kRxBufferSize, stream.size() - at);
            std::memcpy(RxBuffer, stream.data() + at, n);
            for (std::size_t i = 0; i < n; ++i) {
                if (DiagFramer.ProcessByte(RxBuffer[i])) {
                    ++frames;
                    DispatchMsg(DiagFramer.GetMsg(), DiagFramer.GetMsgLen());
                }
                if (LineFramer.ProcessByte(RxBuffer[i])) {
                    ++lines;
                    benchmark::DoNotOptimize(LineFramer.GetMsg());
                }
            }
        }
    }
    const long receiveAllocations = AllocationCount() - allocationsBefore;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["lines"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
    state.counters["dispatched"] = double(reports);
    state.counters["allocations"] = double(receiveAllocations);
}
BENCHMARK(BM_ReceivePath)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
