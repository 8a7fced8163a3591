// Feeds arbitrary bytes, cut into lines by the line framer as the program cuts them, to
// the NMEA decoder and the fix status, and checks what they keep: every line counted
// once, values within their ranges, at most 600 fixes, finite statistics.

#include "proto/Crlfproto.h"
#include "proto/Fixstatus.h"
#include "proto/Nmea.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void CheckState(const NmeaState& s) {
    if (s.time) {
        Check(s.time->hour < 24 && s.time->minute < 60 && s.time->second <= 60);
        Check(s.time->millisecond >= 0 && s.time->millisecond < 1000);
    }
    if (s.latitude)
        Check(std::fabs(s.latitude->degrees) <= 90.0);
    if (s.longitude)
        Check(std::fabs(s.longitude->degrees) <= 180.0);
    if (s.date)
        Check(s.date->month >= 1 && s.date->month <= 12 && s.date->day >= 1 && s.date->day <= 31);
    if (s.fixMode)
        Check(*s.fixMode >= 1 && *s.fixMode <= 3);
    Check(s.prnCount <= kNmeaMaxPrns);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CRLFProto lines;
    lines.Reset();
    FixStatus status;
    std::uint64_t given = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (!lines.ProcessByte(data[i]))
            continue;
        status.AddSentence(lines.GetMsg(), lines.GetMsgLen(), 0);
        ++given;
        CheckState(status.State());
    }
    // The whole input as one line, as a caller without a framer might give it.
    status.AddSentence(data, size, 0);
    ++given;
    CheckState(status.State());

    const NmeaDecoder& d = status.Decoder();
    Check(d.UsedCount() + d.UnusableCount() + d.OtherCount() == given);
    Check(status.History().Count() <= DeviationHistory::kCapacity);
    const DeviationHistory::Stats st = status.History().Compute();
    if (st.cep50) {
        Check(std::isfinite(*st.cep50) && std::isfinite(*st.cep95));
        Check(*st.cep50 <= *st.cep95 && *st.cep95 <= st.largestDistance);
    }
    return 0;
}
