// kestrane-cli monitor: the main window's receive monitor and log on standard output.

#include "cli/Cli.h"
#include "cli/Interrupt.h"

#include "proto/Sentencetext.h"
#include "base/Timeutils.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"
#include "proto/Streamshare.h"

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
    MonitorSink(std::ostream& out, std::FILE* log, StreamShare& share)
        : out_(out), log_(log), share_(share) {}

    void BytesReceived(const std::uint8_t* data, std::size_t length) override {
        share_.BytesReceived(data, length);
    }

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
        share_.SentenceReceived(sentence);
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
    StreamShare& share_;
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

    // The stream shared with other programs, on loopback unless a host is given.
    StreamShare share;
    if (inv.Has("--serve")) {
        std::string host;
        std::string port;
        if (!StreamShare::ParseAddress(inv.Value("--serve"), host, port)) {
            return inv.Usage("bad value '" + inv.Value("--serve") +
                             "' for --serve: [HOST:]PORT, such as 10110 or 127.0.0.1:10110");
        }
        SocketError error;
        if (!share.Start(inv.Value("--serve"),
                         inv.Has("--serve-raw") ? StreamShare::Content::Everything
                                                : StreamShare::Content::Sentences,
                         error)) {
            inv.err << "Cannot share on " << inv.Value("--serve") << ": " << error.text << std::endl;
            return kExitFailed;
        }
    } else if (inv.Has("--serve-raw")) {
        return inv.Usage("--serve-raw goes with --serve");
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

    MonitorSink sink(inv.out, log, share);
    int status = kExitOk;
    if (!OpenConnection(inv.port, sink, inv.err)) {
        status = kExitFailed;
    } else {
        CatchInterrupt();
        inv.err << "Monitoring " << PortDeviceName << " at " << PortBaudRate
                << " baud; Ctrl-C ends." << std::endl;
        if (share.Running()) {
            inv.err << "Sharing " << (inv.Has("--serve-raw") ? "every byte" : "the sentences")
                    << " on " << share.Address() << std::endl;
        }
        // Standard output that can no longer be written (its reader gone, with SIGPIPE
        // ignored as under a service manager, or a full disk) ends the monitor: what it
        // would show from then on is lost. The program's end reports it.
        const TickEnd end = RunTicks(
            sink, [&] { return Interrupted() || sink.LogError() != 0 || !inv.out; }, duration,
            true, [&] {
                inv.out.flush();
                share.Service();
            });
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
