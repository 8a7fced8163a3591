// Feeds arbitrary bytes, cut into lines by the line framer, through the NMEA decoder to
// the epochs, the precision figures and the track files, and checks what comes out:
// at most the epochs kept, figures within their ranges, every writer done.

#include "proto/Crlfproto.h"
#include "proto/Epochs.h"
#include "proto/Nmea.h"
#include "proto/Precision.h"
#include "proto/Trackfiles.h"

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

bool Percent(double p) {
    return p >= 0.0 && p <= 100.0 + 1e-9;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CRLFProto lines;
    lines.Reset();
    NmeaDecoder decoder;
    EpochCollector collector(64);
    for (std::size_t i = 0; i < size; ++i) {
        if (!lines.ProcessByte(data[i]))
            continue;
        const NmeaResult r = decoder.Decode(lines.GetMsg(), lines.GetMsgLen());
        collector.Add(r, decoder.State());
    }
    collector.Finish();
    Check(collector.Epochs().size() <= 64);

    const PrecisionFigures f = ComputePrecision(collector.Epochs());
    Check(f.fixes <= f.epochs && f.differentialFixes <= f.fixes);
    Check(Percent(f.availability) && f.spanSeconds >= 0.0 && f.longestGapSeconds >= 0.0);
    Check(f.longestGapSeconds <= f.spanSeconds);
    const double quality =
        f.shareNoFix + f.shareGps + f.shareDifferential + f.shareEstimated + f.shareOtherQuality;
    const double mode = f.share2D + f.share3D + f.shareModeNoFix + f.shareModeUnknown;
    Check(f.epochs == 0 || (std::fabs(quality - 100.0) < 1e-6 && std::fabs(mode - 100.0) < 1e-6));
    if (f.cep50) {
        Check(std::isfinite(*f.cep50) && std::isfinite(*f.cep95) && *f.cep50 <= *f.cep95);
        Check(std::fabs(*f.meanLatitude) <= 90.0 && std::fabs(*f.meanLongitude) <= 180.0);
    }

    std::ostringstream out;
    PrecisionCriteria criteria;
    criteria.maxCep95 = 1.0;
    criteria.minAvailability = 99.0;
    criteria.requireDifferential = true;
    WritePrecisionText(out, f);
    WritePrecisionJson(out, f, FailedCriteria(f, criteria));
    Check(WriteGpx(out, collector.Epochs(), "fuzz"));
    Check(WriteCsv(out, collector.Epochs()));
    return 0;
}
