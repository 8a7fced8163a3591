// Feeds arbitrary bytes through the framers, as the reader does, to the link's counts and
// the alerts, the clock moving on (and now and then back) by what the bytes say, and
// checks what comes out: every line counted at most once, rates that are numbers and
// never negative, a bounded alert log, summaries that are written whole.

#include "proto/Alerts.h"
#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Linkstats.h"
#include "proto/Memoutils.h"
#include "proto/Nmea.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void CheckEntries(const std::vector<LinkStats::Entry>& entries) {
    for (const LinkStats::Entry& e : entries) {
        Check(e.count > 0 && std::isfinite(e.rate) && e.rate >= 0.0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static DiagProto diag;
    static CRLFProto line;
    diag.Reset();
    line.Reset();
    LinkStats stats;
    AlertMonitor alerts;
    NmeaDecoder decoder;
    std::int64_t now = 1'000'000'000;
    std::uint64_t lines = 0;
    std::uint64_t frames = 0;
    for (std::size_t i = 0; i < size; ++i) {
        // Every 64th byte moves the clock by what it says, back when it is over 0xF0.
        if (i % 64 == 0) {
            now += data[i] > 0xF0 ? -1000 * (data[i] - 0xF0) : 37 * data[i];
            stats.BytesReceived(std::min<std::size_t>(64, size - i), now);
            alerts.BytesReceived(now);
            alerts.Tick(now);
        }
        if (diag.ProcessByte(data[i])) {
            ++frames;
            stats.FrameReceived(diag.GetMsg(), diag.GetMsgLen(), now);
        }
        if (line.ProcessByte(data[i])) {
            ++lines;
            stats.LineReceived(line.GetMsg(), line.GetMsgLen(), now);
            const NmeaResult r = decoder.Decode(line.GetMsg(), line.GetMsgLen());
            alerts.Sentence(r, decoder.State(), now);
        }
    }
    std::uint64_t sentences = 0;
    for (const LinkStats::Entry& e : stats.Sentences(now)) {
        sentences += e.count;
    }
    CheckEntries(stats.Sentences(now));
    CheckEntries(stats.Binary(now));
    Check(sentences + stats.ChecksumRefused() + stats.NotSentences() <= lines);
    std::uint64_t counted = 0;
    for (const LinkStats::Entry& e : stats.Binary(now)) {
        counted += e.count;
    }
    Check(counted == frames && stats.Bytes() == size);
    Check(std::isfinite(stats.BytesPerSecond(now)) && stats.BytesPerSecond(now) >= 0.0);
    Check(alerts.Log().size() <= AlertMonitor::kLogSize);

    std::ostringstream out;
    stats.WriteText(out, now);
    stats.WriteJson(out, now);
    for (const AlertEvent& e : alerts.TakeEvents()) {
        AlertMonitor::WriteText(out, e);
        AlertMonitor::WriteJson(out, e);
    }
    Check(out.good());
    return 0;
}
