// kestrane-cli monitor: the main window's receive monitor and log on standard output.
// kestrane-cli replay: the same for a recording, which stands where the receiver would.
// Both can record every byte received, and export the fixes as a GPX track and a CSV
// table when they end.

#include "cli/Cli.h"
#include "cli/Interrupt.h"

#include "proto/Sentencetext.h"
#include "base/Clock.h"
#include "base/Timeutils.h"
#include "connect/Reconnect.h"
#include "proto/Alerts.h"
#include "proto/Epochs.h"
#include "proto/Linkstats.h"
#include "proto/Memoutils.h"
#include "proto/Nmea.h"
#include "proto/Port.h"
#include "proto/Rawrecord.h"
#include "proto/Replay.h"
#include "proto/Streamshare.h"
#include "proto/Trackfiles.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

// Longest --duration taken: a day. Without it the monitor runs until stopped.
constexpr double kMaxDurationSeconds = 24.0 * 3600.0;
constexpr std::chrono::hours kForever{24 * 365 * 100};
// Fastest --speed taken short of max.
constexpr double kMaxReplaySpeed = 1000.0;

// The fixes the sentences tell, for --gpx and --csv: decoded as the status window
// decodes them, epoch by epoch, and written to the files named when the command ends.
class TrackExport {
public:
    // Takes --gpx and --csv; false after a usage error has been reported.
    bool Parse(Invocation& inv, int& status) {
        for (auto [option, name] : {std::pair{"--gpx", &gpxName_}, std::pair{"--csv", &csvName_}}) {
            if (inv.Has(option)) {
                *name = inv.Value(option);
                if (name->empty()) {
                    status = inv.Usage(std::string("bad value '' for ") + option + ": a file name");
                    return false;
                }
            }
        }
        return true;
    }
    bool Wanted() const { return !gpxName_.empty() || !csvName_.empty(); }

    // Creates the files (or empties them), so one that cannot be written is found before
    // anything is received. False after a message on err.
    bool Create(std::ostream& err) {
        return Create(gpxName_, gpx_, "GPX", err) && Create(csvName_, csv_, "CSV", err);
    }

    void Add(std::string_view sentence) {
        if (!Wanted()) {
            return;
        }
        const NmeaResult result = decoder_.Decode(
            reinterpret_cast<const std::uint8_t*>(sentence.data()), sentence.size());
        epochs_.Add(result, decoder_.State());
    }

    // Writes the fixes to the files. False after a message on err for each that failed.
    bool Write(std::ostream& err) {
        epochs_.Finish();
        bool ok = true;
        if (gpx_.is_open()) {
            const bool written = WriteGpx(gpx_, epochs_.Epochs(), "kestrane-cli");
            ok = Finish(gpx_, written, gpxName_, "GPX", err) && ok;
        }
        if (csv_.is_open()) {
            ok = Finish(csv_, WriteCsv(csv_, epochs_.Epochs()), csvName_, "CSV", err) && ok;
        }
        return ok;
    }

private:
    static bool Create(const std::string& name, std::ofstream& file, const char* kind,
                       std::ostream& err) {
        if (name.empty()) {
            return true;
        }
        errno = 0;
        file.open(name, std::ios::binary | std::ios::trunc);
        if (!file.is_open()) {
            err << "Error opening " << kind << " file " << name << ": "
                << std::strerror(errno != 0 ? errno : EIO) << std::endl;
            return false;
        }
        return true;
    }

    static bool Finish(std::ofstream& file, bool written, const std::string& name, const char* kind,
                       std::ostream& err) {
        errno = 0;
        if (written) {
            file.flush();
        }
        const bool flushed = written && file.good();
        file.close();
        if (flushed && !file.fail()) {
            return true;
        }
        err << "Error writing " << kind << " file " << name << ": "
            << std::strerror(errno != 0 ? errno : EIO) << std::endl;
        return false;
    }

    std::string gpxName_;
    std::string csvName_;
    std::ofstream gpx_;
    std::ofstream csv_;
    NmeaDecoder decoder_;
    EpochCollector epochs_;
};

// The link's health for --stats, --alerts and --json: the counts of everything received
// and the alerts of the decoded sentences (as the status window keeps them), written to
// standard output as text or as JSON objects, one a line.
class LinkHealth {
public:
    // Takes --stats [SECONDS], --alerts and --json; false, with status set, after a usage
    // error.
    bool Parse(Invocation& inv, int& status) {
        wantStats_ = inv.Has("--stats");
        wantAlerts_ = inv.Has("--alerts");
        json_ = inv.Has("--json");
        if (wantStats_ && !inv.Value("--stats").empty()) {
            const std::string& text = inv.Value("--stats");
            double seconds = 0;
            if (!ParsePlainDecimal(text, seconds) || seconds < 0.1 ||
                seconds > kMaxDurationSeconds) {
                status = inv.Usage("bad value '" + text +
                                   "' for --stats: a number of seconds from 0.1, written as a "
                                   "plain decimal");
                return false;
            }
            everyMs_ = static_cast<std::int64_t>(std::llround(seconds * 1000));
        }
        if (json_ && !wantStats_ && !wantAlerts_) {
            status = inv.Usage("--json goes with --stats or --alerts");
            return false;
        }
        return true;
    }
    bool Wanted() const { return wantStats_ || wantAlerts_; }
    // With --json standard output holds the objects alone.
    bool ShowsMessages() const { return !json_; }

    void Start() {
        nextMs_ = Now() + everyMs_;
        watch_.Tick(Now());
    }

    void Bytes(std::size_t length) {
        const std::int64_t now = Now();
        counts_.BytesReceived(length, now);
        watch_.BytesReceived(now);
    }
    void Frame(const std::uint8_t* frame, std::size_t length) {
        counts_.FrameReceived(frame, length, Now());
    }
    // Every line; sentence is the receiver's sentence it carries, or nullptr.
    void Line(const std::uint8_t* line, std::size_t length, const std::string_view* sentence) {
        const std::int64_t now = Now();
        counts_.LineReceived(line, length, now);
        if (sentence != nullptr) {
            const NmeaResult result = decoder_.Decode(
                reinterpret_cast<const std::uint8_t*>(sentence->data()), sentence->size());
            watch_.Sentence(result, decoder_.State(), now);
        }
    }

    // After every tick: the alerts raised or ended, and the counts when they are due.
    void AfterTick(std::ostream& out) {
        if (!Wanted()) {
            return;
        }
        const std::int64_t now = Now();
        watch_.Tick(now);
        for (const AlertEvent& event : watch_.TakeEvents()) {
            if (!wantAlerts_) {
                continue;
            }
            if (json_) {
                AlertMonitor::WriteJson(out, event);
            } else {
                AlertMonitor::WriteText(out, event);
            }
        }
        if (wantStats_ && everyMs_ > 0 && now >= nextMs_) {
            WriteStats(out, now);
            // The next at its own time; after a stall, from now.
            nextMs_ = std::max(nextMs_ + everyMs_, now + everyMs_ / 2);
        }
    }

    // The summary at the end.
    void Finish(std::ostream& out) {
        if (wantStats_) {
            WriteStats(out, Now());
        }
    }

private:
    static std::int64_t Now() { return SystemClock().Milliseconds(); }

    void WriteStats(std::ostream& out, std::int64_t now) {
        if (json_) {
            counts_.WriteJson(out, now);
        } else {
            out << "Statistics at " << FormatTimeOfDay(now / 1000) << "\n";
            counts_.WriteText(out, now);
        }
    }

    bool wantStats_ = false;
    bool wantAlerts_ = false;
    bool json_ = false;
    std::int64_t everyMs_ = 0; // 0: at the end only
    std::int64_t nextMs_ = 0;
    LinkStats counts_;
    NmeaDecoder decoder_;
    AlertMonitor watch_;
};

// Shows every message as the memo does and logs every sentence as the window's log does,
// while counting the traffic as the window counts it; and hands the bytes and sentences
// to whatever else takes them (the shared stream, the raw recording, the track export).
class MonitorSink : public Traffic {
public:
    MonitorSink(std::ostream& out, std::FILE* log, StreamShare* share, RawRecorder* raw,
                TrackExport* track, bool show = true)
        : out_(out), log_(log), share_(share), raw_(raw), track_(track), show_(show) {}

    void BytesReceived(const std::uint8_t* data, std::size_t length) override {
        if (health != nullptr) {
            health->Bytes(length);
        }
        if (share_ != nullptr) {
            share_->BytesReceived(data, length);
        }
        if (raw_ != nullptr) {
            raw_->Write(data, length);
        }
    }

    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        Traffic::FrameReceived(frame, length);
        if (health != nullptr) {
            health->Frame(frame, length);
        }
        Show(FrameDisplayText(count.LastMessageId()));
    }
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        Traffic::LineReceived(line, length);
        if (health != nullptr) {
            health->Line(line, length, sentenceReceived ? &sentence : nullptr);
        }
        if (!sentenceReceived) {
            return;
        }
        Show(SentenceDisplayText(sentence));
        if (share_ != nullptr) {
            share_->SentenceReceived(sentence);
        }
        if (track_ != nullptr) {
            track_->Add(sentence);
        }
        if (log_ != nullptr && logError_ == 0) {
            errno = 0;
            if (!WriteSentenceLog(log_, sentence)) {
                logError_ = errno != 0 ? errno : EIO;
            }
        }
    }

    // The error number of the first failed write to the log, or 0.
    int LogError() const { return logError_; }

    LinkHealth* health = nullptr; // with --stats or --alerts

private:
    void Show(const std::string& text) {
        if (show_) {
            out_ << TimeOfDayText() << ": " << text << "\n";
        }
    }

    std::ostream& out_;
    std::FILE* log_;
    StreamShare* share_;
    RawRecorder* raw_;
    TrackExport* track_;
    bool show_;
    int logError_ = 0;
};

// With --reconnect, after every tick: a port that the tick found hung up is watched for
// its device by the name it was opened under, and reopened at its rate when it returns.
void FollowDevice(Reconnector& reconnector, std::ostream& err) {
    if (!CommPort.IsOpen() && !reconnector.Watching()) {
        reconnector.Start(PortDeviceName, static_cast<std::uint32_t>(PortBaudRate));
        err << "The device " << PortDeviceName << " went away; waiting for it to return."
            << std::endl;
    } else if (reconnector.Check() == Reconnector::Result::Reopened) {
        err << "Reopened " << PortDeviceName << " at " << PortBaudRate << "." << std::endl;
    }
}

bool ParseDuration(const std::string& text, std::chrono::milliseconds& duration) {
    double seconds = 0;
    if (!ParsePlainDecimal(text, seconds) || seconds <= 0 || seconds > kMaxDurationSeconds) {
        return false;
    }
    duration = std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000)));
    return true;
}

// What monitor and replay write besides standard output: the sentence log (--log), the
// raw recording (--raw) and the track files (--gpx, --csv).
class Outputs {
public:
    ~Outputs() {
        if (log != nullptr) {
            std::fclose(log);
        }
    }

    // Takes the options; false, with status set, after a usage error.
    bool Parse(Invocation& inv, int& status) {
        for (auto [option, name] : {std::pair{"--log", &logName_}, std::pair{"--raw", &rawName_}}) {
            if (inv.Has(option)) {
                *name = inv.Value(option);
                if (name->empty()) {
                    status = inv.Usage(std::string("bad value '' for ") + option + ": a file name");
                    return false;
                }
            }
        }
        return track.Parse(inv, status);
    }

    // Creates the files: each is created, or emptied when it exists, as the window's
    // Logging does. False after a message on err.
    bool Create(std::ostream& err) {
        if (!logName_.empty()) {
            errno = 0;
            log = std::fopen(logName_.c_str(), "wb");
            if (log == nullptr) {
                err << "Error opening log file " << logName_ << ": " << std::strerror(errno)
                    << std::endl;
                return false;
            }
        }
        std::string error;
        if (!rawName_.empty() && !raw.Start(rawName_, error)) {
            err << error << std::endl;
            return false;
        }
        return track.Create(err);
    }

    // After every tick: a raw recording that has just failed is reported, once.
    void AfterTick(std::ostream& err) {
        std::string message;
        if (raw.TakeFailure(message)) {
            err << message << std::endl;
            rawFailed_ = true;
        }
    }

    // Closes everything and writes the track files; the status the command ends with.
    int Close(MonitorSink& sink, std::ostream& err, int status) {
        if (sink.LogError() != 0) {
            err << "Error writing log file " << logName_ << ": " << std::strerror(sink.LogError())
                << std::endl;
            status = kExitFailed;
        }
        raw.Stop();
        AfterTick(err);
        if (rawFailed_) {
            status = kExitFailed;
        }
        if (!track.Write(err)) {
            status = kExitFailed;
        }
        if (log != nullptr) {
            errno = 0;
            const int closed = std::fclose(log);
            log = nullptr;
            if (closed != 0 && status == kExitOk) {
                err << "Error closing log file " << logName_ << ": " << std::strerror(errno)
                    << std::endl;
                status = kExitFailed;
            }
        }
        return status;
    }

    std::FILE* log = nullptr;
    RawRecorder raw;
    TrackExport track;

private:
    std::string logName_;
    std::string rawName_;
    bool rawFailed_ = false;
};

} // namespace

int RunMonitor(Invocation& inv) {
    std::chrono::milliseconds duration = kForever;
    if (inv.Has("--duration") && !ParseDuration(inv.Value("--duration"), duration)) {
        return inv.Usage("bad value '" + inv.Value("--duration") +
                         "' for --duration: a number of seconds greater than 0, written as a "
                         "plain decimal");
    }
    Outputs outputs;
    int status = kExitOk;
    if (!outputs.Parse(inv, status)) {
        return status;
    }
    LinkHealth health;
    if (!health.Parse(inv, status)) {
        return status;
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

    if (!outputs.Create(inv.err)) {
        return kExitFailed;
    }

    MonitorSink sink(inv.out, outputs.log, &share, &outputs.raw, &outputs.track,
                     !inv.Has("--quiet") && health.ShowsMessages());
    const bool reconnect = inv.Has("--reconnect");
    Reconnector reconnector(CommPort, SystemClock());
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
        if (health.Wanted()) {
            sink.health = &health;
            health.Start();
        }
        // Standard output that can no longer be written (its reader gone, with SIGPIPE
        // ignored as under a service manager, or a full disk) ends the monitor: what it
        // would show from then on is lost. The program's end reports it.
        const TickEnd end = RunTicks(
            sink, [&] { return Interrupted() || sink.LogError() != 0 || !inv.out; }, duration,
            !reconnect,
            [&] {
                health.AfterTick(inv.out);
                inv.out.flush();
                share.Service();
                outputs.AfterTick(inv.err);
                if (reconnect) {
                    FollowDevice(reconnector, inv.err);
                }
            });
        health.Finish(inv.out);
        inv.out.flush();
        if (!inv.out) {
            status = kExitFailed;
        } else if (end == TickEnd::DeviceGone && sink.LogError() == 0) {
            inv.err << "The device " << PortDeviceName << " went away." << std::endl;
            status = kExitFailed;
        }
    }
    CommPort.Close();
    return outputs.Close(sink, inv.err, status);
}

int RunReplayCommand(Invocation& inv) {
    double speed = 1.0;
    if (inv.Has("--speed")) {
        const std::string& text = inv.Value("--speed");
        if (text == "max") {
            speed = 0.0;
        } else if (!ParsePlainDecimal(text, speed) || !(speed > 0) || speed > kMaxReplaySpeed) {
            return inv.Usage("bad value '" + text +
                             "' for --speed: max, or a plain decimal greater than 0 and at most "
                             "1000 (1 is the recording's own pace)");
        }
    }
    Outputs outputs;
    int status = kExitOk;
    if (!outputs.Parse(inv, status)) {
        return status;
    }
    if (!OpenReplay(inv.operand, speed, inv.err)) {
        return kExitFailed;
    }
    if (!outputs.Create(inv.err)) {
        CommPort.Close();
        return kExitFailed;
    }

    MonitorSink sink(inv.out, outputs.log, nullptr, &outputs.raw, &outputs.track,
                     !inv.Has("--quiet"));
    CatchInterrupt();
    inv.err << "Replaying " << inv.operand << " at "
            << (speed > 0 ? "speed " + (inv.Has("--speed") ? inv.Value("--speed") : "1")
                          : std::string("full speed"))
            << "; Ctrl-C ends." << std::endl;
    const TickEnd end = RunReplay(
        sink, [&] { return Interrupted() || sink.LogError() != 0 || !inv.out; },
        [&] {
            inv.out.flush();
            outputs.AfterTick(inv.err);
        });
    inv.out.flush();
    if (!inv.out) {
        status = kExitFailed;
    } else if (end == TickEnd::DeviceGone) {
        inv.err << CommPort.errorText() << std::endl;
        status = kExitFailed;
    }
    CommPort.Close();
    return outputs.Close(sink, inv.err, status);
}
