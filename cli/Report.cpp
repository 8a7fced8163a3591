// kestrane-cli report: how precise the receiver's fixes were, from a recording or from the
// receiver itself, and whether that meets the criteria an installation is accepted by.
//
// Both go through the receive path a port's traffic takes: the recording is replayed as
// fast as possible, the receiver is read in ticks for the duration given. Every sentence
// of the receiver's goes to the status window's decoder and from there, epoch by epoch,
// to the figures (proto/Precision.h).

#include "cli/Cli.h"
#include "cli/Interrupt.h"

#include "proto/Epochs.h"
#include "proto/Nmea.h"
#include "proto/Port.h"
#include "proto/Precision.h"

#include <cmath>

namespace {

// Longest --duration taken: a day.
constexpr double kMaxDurationSeconds = 24.0 * 3600.0;

// Decodes each of the receiver's sentences and gathers the epochs they make.
class ReportSink : public Traffic {
public:
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        Traffic::LineReceived(line, length);
        if (!sentenceReceived) {
            return;
        }
        const NmeaResult r = decoder_.Decode(reinterpret_cast<const std::uint8_t*>(sentence.data()),
                                             sentence.size());
        epochs.Add(r, decoder_.State());
    }

    EpochCollector epochs;

private:
    NmeaDecoder decoder_;
};

} // namespace

int RunReport(Invocation& inv) {
    const bool fromFile = !inv.operand.empty();
    PrecisionCriteria criteria;
    double value = 0;
    if (inv.Has("--max-cep95")) {
        if (!ParsePlainDecimal(inv.Value("--max-cep95"), value)) {
            return inv.Usage("bad value '" + inv.Value("--max-cep95") +
                             "' for --max-cep95: metres, written as a plain decimal");
        }
        criteria.maxCep95 = value;
    }
    if (inv.Has("--min-availability")) {
        if (!ParsePlainDecimal(inv.Value("--min-availability"), value) || value > 100) {
            return inv.Usage("bad value '" + inv.Value("--min-availability") +
                             "' for --min-availability: a percentage from 0 to 100, written "
                             "as a plain decimal");
        }
        criteria.minAvailability = value;
    }
    criteria.requireDifferential = inv.Has("--require-differential");

    std::chrono::milliseconds duration{0};
    if (fromFile) {
        if (inv.port.deviceGiven || inv.port.baudGiven) {
            return inv.Usage("a recording is reported on its own: --port and --baud are for "
                             "a report from the receiver");
        }
        if (inv.Has("--duration")) {
            return inv.Usage("--duration is for a report from the receiver, not from FILE");
        }
    } else {
        if (!inv.Has("--duration")) {
            return inv.Usage("report needs FILE, or --duration SECONDS to read the receiver");
        }
        if (!ParsePlainDecimal(inv.Value("--duration"), value) || value <= 0 ||
            value > kMaxDurationSeconds) {
            return inv.Usage("bad value '" + inv.Value("--duration") +
                             "' for --duration: a number of seconds greater than 0 and at most "
                             "86400, written as a plain decimal");
        }
        duration = std::chrono::milliseconds(std::llround(value * 1000));
    }

    ReportSink sink;
    int status = kExitOk;
    if (fromFile) {
        if (!OpenReplay(inv.operand, 0, inv.err)) {
            return kExitFailed;
        }
        CatchInterrupt();
        if (RunReplay(sink, [] { return Interrupted(); }) == TickEnd::DeviceGone) {
            inv.err << "Error reading " << inv.operand << ": " << CommPort.errorText() << std::endl;
            status = kExitFailed;
        }
    } else {
        if (!OpenConnection(inv.port, sink, inv.err)) {
            CommPort.Close();
            return kExitFailed;
        }
        CatchInterrupt();
        inv.err << "Reading the fixes of " << PortDeviceName << " at " << PortBaudRate
                << " baud for " << inv.Value("--duration") << " s; Ctrl-C ends it early."
                << std::endl;
        if (RunTicks(
                sink, [] { return Interrupted(); }, duration) == TickEnd::DeviceGone) {
            inv.err << "The device " << PortDeviceName << " went away." << std::endl;
            status = kExitFailed;
        }
    }
    CommPort.Close();

    sink.epochs.Finish();
    const PrecisionFigures figures = ComputePrecision(sink.epochs.Epochs());
    const std::vector<std::string> failed = FailedCriteria(figures, criteria);
    if (inv.Has("--json")) {
        WritePrecisionJson(inv.out, figures, failed);
    } else {
        WritePrecisionText(inv.out, figures);
    }
    inv.out.flush();
    for (const std::string& line : failed) {
        inv.err << "Failed: " << line << "\n";
    }
    inv.err.flush();
    return failed.empty() ? status : kExitFailed;
}
