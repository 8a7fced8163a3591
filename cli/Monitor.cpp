// kestrane-cli monitor: the main window's receive monitor and log on standard output.

#include "cli/Cli.h"
#include "cli/Interrupt.h"

#include "proto/Sentencetext.h"
#include "base/Timeutils.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Longest --duration taken: a day. Without it the monitor runs until stopped.
constexpr double kMaxDurationSeconds = 24.0 * 3600.0;
constexpr std::chrono::hours kForever{24 * 365 * 100};

// Shows every message as the memo does and logs every sentence as the window's log does,
// while counting the traffic as the window counts it.
class MonitorSink : public Traffic {
public:
    MonitorSink(std::ostream& out, std::FILE* log) : out_(out), log_(log) {}

    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        Traffic::FrameReceived(frame, length);
        Show(FrameDisplayText(count.LastMessageId()));
    }
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        Traffic::LineReceived(line, length);
        if (!sentenceReceived) {
            return;
        }
        Show(SentenceDisplayText(sentence));
        if (log_ != nullptr && logError_ == 0) {
            errno = 0;
            if (!WriteSentenceLog(log_, sentence)) {
                logError_ = errno != 0 ? errno : EIO;
            }
        }
    }

    // The error number of the first failed write to the log, or 0.
    int LogError() const { return logError_; }

private:
    void Show(const std::string& text) { out_ << TimeOfDayText() << ": " << text << "\n"; }

    std::ostream& out_;
    std::FILE* log_;
    int logError_ = 0;
};

bool ParseDuration(const std::string& text, std::chrono::milliseconds& duration) {
    double seconds = 0;
    if (!ParsePlainDecimal(text, seconds) || seconds <= 0 || seconds > kMaxDurationSeconds) {
        return false;
    }
    duration = std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000)));
    return true;
}

} // namespace

int RunMonitor(Invocation& inv) {
    std::chrono::milliseconds duration = kForever;
    if (inv.Has("--duration") && !ParseDuration(inv.Value("--duration"), duration)) {
        return inv.Usage("bad value '" + inv.Value("--duration") +
                         "' for --duration: a number of seconds greater than 0, written as a "
                         "plain decimal");
    }
    std::string logName;
    if (inv.Has("--log")) {
        logName = inv.Value("--log");
        if (logName.empty()) {
            return inv.Usage("bad value '' for --log: a file name");
        }
    }

    // As the window's Logging: the file is created, or emptied when it exists.
    std::FILE* log = nullptr;
    if (!logName.empty()) {
        errno = 0;
        log = std::fopen(logName.c_str(), "wb");
        if (log == nullptr) {
            inv.err << "Error opening log file " << logName << ": " << std::strerror(errno)
                    << std::endl;
            return kExitFailed;
        }
    }

    MonitorSink sink(inv.out, log);
    int status = kExitOk;
    if (!OpenConnection(inv.port, sink, inv.err)) {
        status = kExitFailed;
    } else {
        CatchInterrupt();
        inv.err << "Monitoring " << PortDeviceName << " at " << PortBaudRate
                << " baud; Ctrl-C ends." << std::endl;
        // Standard output that can no longer be written (its reader gone, with SIGPIPE
        // ignored as under a service manager, or a full disk) ends the monitor: what it
        // would show from then on is lost. The program's end reports it.
        const TickEnd end = RunTicks(
            sink, [&] { return Interrupted() || sink.LogError() != 0 || !inv.out; }, duration,
            true, [&] { inv.out.flush(); });
        inv.out.flush();
        if (!inv.out) {
            status = kExitFailed;
        } else if (sink.LogError() != 0) {
            inv.err << "Error writing log file " << logName << ": "
                    << std::strerror(sink.LogError()) << std::endl;
            status = kExitFailed;
        } else if (end == TickEnd::DeviceGone) {
            inv.err << "The device " << PortDeviceName << " went away." << std::endl;
            status = kExitFailed;
        }
    }
    CommPort.Close();
    if (log != nullptr && std::fclose(log) != 0 && status == kExitOk) {
        inv.err << "Error closing log file " << logName << ": " << std::strerror(errno)
                << std::endl;
        status = kExitFailed;
    }
    return status;
}
