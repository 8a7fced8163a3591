// kestrane-cli load: the Load Software window's load and after-load dialogue on the
// command line, through the same loading sequence and after-load decisions.

#include "cli/Cli.h"
#include "cli/Interrupt.h"

#include "loader/Loadsession.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

// The window's load timer: one tick a millisecond.
constexpr std::chrono::milliseconds kLoadTick{1};
// The progress bar is redrawn this often on a terminal.
constexpr std::chrono::milliseconds kRedraw{200};
constexpr int kBarWidth = 24;
// How long the engine may take to take in the software, and the receiver to report once
// its power has been cycled (the status is asked for again every few seconds).
constexpr std::chrono::minutes kEngineWait{5};
constexpr std::chrono::seconds kConfirmWait{60};
constexpr std::chrono::seconds kConfirmRequestEvery{5};

const char* const kCancelWarning =
    "Cancelling the load: the receiver may need a new load before it works again.";

std::string Clock2(std::int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

// The status texts and the progress, on standard output: on a terminal one progress
// line redrawn in place with the status texts above it (but for the record-by-record
// "Sending Record n", which the progress line shows); otherwise every status text as a
// plain line.
class LoadDisplay {
public:
    LoadDisplay(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

    void Status(const std::string& text) {
        if (terminal_ && text.rfind(kSendingRecordText, 0) == 0) {
            return; // the progress line shows it
        }
        ClearBar();
        out_ << text << std::endl;
        DrawBar();
    }

    // The load starts now.
    void Begin() { start_ = SteadyClock::now(); }

    void Progress(std::int32_t step, std::size_t total) {
        if (!terminal_ || complete_ || step <= 0 || total == 0) {
            return;
        }
        const auto now = SteadyClock::now();
        if (firstRecord_ == SteadyClock::time_point()) {
            firstRecord_ = now;
        }
        const auto sent = std::min(static_cast<std::size_t>(step), total);
        if (sent != sent_ && (now - drawn_ >= kRedraw || sent == total)) {
            sent_ = sent;
            drawn_ = now;
            bar_ = BarText(sent, total, now);
            DrawBar();
            if (sent == total) {
                // The last record has gone: the bar stays as a line above what follows.
                out_ << std::endl;
                bar_.clear();
                complete_ = true;
            }
        }
    }

    void End() {
        ClearBar();
        bar_.clear();
    }

private:
    std::string ProgressText(std::size_t sent, std::size_t total, SteadyClock::time_point now) {
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double sending = std::chrono::duration<double>(now - firstRecord_).count();
        // The rate from the first record on: the commands before it take seconds.
        const double rate = sending > 0 ? static_cast<double>(sent - 1) / sending : 0.0;
        const std::string left =
            rate > 0 ? Clock2(static_cast<std::int64_t>(static_cast<double>(total - sent) / rate))
                     : std::string("--:--");
        char text[160];
        std::snprintf(text, sizeof text,
                      "%zu of %zu records %3zu%%  %.1f records/s  %s elapsed  %s left", sent,
                      total, sent * 100 / total, rate,
                      Clock2(static_cast<std::int64_t>(elapsed)).c_str(), left.c_str());
        return text;
    }
    std::string BarText(std::size_t sent, std::size_t total, SteadyClock::time_point now) {
        const std::size_t filled = sent * kBarWidth / total;
        return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
               ProgressText(sent, total, now);
    }
    void DrawBar() {
        if (terminal_ && !bar_.empty()) {
            out_ << "\r" << bar_ << "\x1b[K" << std::flush;
        }
    }
    void ClearBar() {
        if (terminal_ && !bar_.empty()) {
            out_ << "\r\x1b[K";
        }
    }

    std::ostream& out_;
    bool terminal_;
    std::string bar_;
    std::size_t sent_ = 0;
    bool complete_ = false;
    SteadyClock::time_point start_ = SteadyClock::now();
    SteadyClock::time_point firstRecord_{};
    SteadyClock::time_point drawn_{};
};

// The receiver's traffic while no load runs; every Configuration report goes on to the
// load session.
class ReportSink : public Traffic {
public:
    explicit ReportSink(std::function<void(const ConfigurationReport&)> onReport)
        : onReport_(std::move(onReport)) {}
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        Traffic::FrameReceived(frame, length);
        ConfigurationReport report;
        if (ReadConfigurationReport(frame, static_cast<int>(length), report)) {
            onReport_(report);
        }
    }

private:
    std::function<void(const ConfigurationReport&)> onReport_;
};

void FileRefused(const std::string& file, const std::string& reason, std::ostream& err) {
    err << "Error opening file " << file << ": " << reason << std::endl;
}

// The command line's view of the load session (loader/Loadsession.h), the Load Software
// window being the other: the status texts and progress on standard output, messages on
// standard error, and the after-load dialogue followed to its end when asked to.
class Loader : private LoadView {
public:
    Loader(Invocation& inv)
        : inv_(inv), display_(inv.out, StandardOutputIsTerminal()),
          session_(CommPort, SystemClock(), *this),
          sink_([this](const ConfigurationReport& r) { OnReport(r); }) {}

    int Run() {
        const std::string& file = inv_.operand;
        if (!SoftwareFileNameTaken(file, inv_.err)) {
            return kExitFailed;
        }
        // The whole file is read and checked before the port is even opened. Its refusal
        // is a message, not a result.
        quiet_ = true;
        const bool usable = session_.OpenFile(file);
        quiet_ = false;
        if (!usable) {
            FileRefused(file, session_.FileRefusalText(), inv_.err);
            return kExitFailed;
        }
        const std::size_t total = session_.RecordCount();
        if (!OpenConnection(inv_.port, sink_, inv_.err)) {
            return kExitFailed;
        }
        CatchInterrupt();

        // As the window is shown: the receiver's outputs, so the end of the load can put
        // them back. A receiver left without working software may answer only its loader.
        session_.Restart();
        session_.RequestStatus();
        const TickEnd asked = RunTicks(sink_, [this] { return reportSeen_ || Interrupted(); },
                                       kReportWait);
        if (asked == TickEnd::DeviceGone) {
            inv_.err << "The device " << PortDeviceName << " went away." << std::endl;
            return kExitFailed;
        }
        if (Interrupted()) {
            return kExitFailed; // nothing has gone to the loader yet
        }
        if (reportSeen_) {
            inv_.err << "Software version " << SoftwareVersionText(lastReport_) << std::endl;
        } else {
            inv_.err << "No Configuration report: the receiver's outputs will not be put back "
                        "after the load."
                     << std::endl;
        }

        inv_.err << "Loading " << file << " (" << total << " records) to " << PortDeviceName
                 << "; do not switch the receiver off." << std::endl;
        // What the engine said before this load says nothing of it: a receiver still
        // waiting for the power cycle of an earlier load, or one whose engine failed
        // then, must not end the following of this one. Only reports after "RESET\r"
        // count (the load itself reads the port, so none reaches the session before).
        shown_.clear();
        engineFailed_ = false;
        done_ = false;
        display_.Begin();
        if (!session_.Begin(static_cast<std::uint32_t>(PortBaudRate))) {
            inv_.err << kFixedRateLoadText << std::endl;
            return kExitFailed;
        }
        auto next = SteadyClock::now();
        while (session_.Running()) {
            // Once "Finished" is shown every record and "RESET\r" have gone out: the
            // load is not cancelled any more, and the sequence ends within seconds.
            if (Interrupted() && !session_.Finishing()) {
                display_.End();
                inv_.err << kCancelWarning << std::endl;
                session_.Cancel();
                break;
            }
            session_.Tick();
            display_.Progress(session_.Sequence().CurrentStep(), total);
            next += kLoadTick;
            std::this_thread::sleep_until(next);
            if (SteadyClock::now() - next > kRedraw) {
                next = SteadyClock::now(); // a blocking wait: no ticks to catch up on
            }
        }
        display_.End();

        if (session_.Outcome() != LoadOutcome::Completed) {
            // The answer to the request the end of the load made puts the outputs back.
            if (CommPort.IsOpen()) {
                RunTicks(sink_, [this] { return !session_.AfterLoad().RestorePending(); },
                         kReportWait);
            }
            return kExitFailed;
        }
        if (Interrupted()) {
            return NotFollowed();
        }
        if (!inv_.Has("--follow")) {
            PutOutputsBack();
            inv_.err << "The GPS engine now takes the software in; cycle the receiver's power "
                        "when its engine status is 3 ('info' shows it)."
                     << std::endl;
            return kExitOk;
        }
        return Follow();
    }

private:
    // The view of the session.
    void ShowStatus(const char* text) override {
        if (!quiet_) {
            display_.Status(text);
        }
    }
    // While SYS is on the same report comes every second: a status is shown once.
    void ShowEngineStatus(const char* text) override {
        const std::string status = text;
        if (status != shown_) {
            display_.Status(status);
            shown_ = status;
        }
        engineFailed_ = status == "Failed GPS Engine download";
        done_ = status == "Done";
    }
    void LoadStarted() override {}
    void LoadEnded() override {}
    void PortRestored(LoadPortEnd end) override {
        if (end == LoadPortEnd::Closed) {
            inv_.err << "The device " << PortDeviceName << " went away." << std::endl;
        }
    }
    std::uint32_t OutputsRate() const override { return static_cast<std::uint32_t>(PortBaudRate); }

    // The end of the command after a completed load: the end of the load turned the
    // receiver's SYS output on so its engine could be followed; nothing follows it once
    // this program has gone, so the outputs it had before the load are put back, as the
    // after-load dialogue would put them back later.
    void PutOutputsBack() {
        if (CommPort.IsOpen() && session_.PutOutputsBackNow()) {
            inv_.err << "The receiver's outputs were put back as they were before the load."
                     << std::endl;
        }
    }

    // Ctrl-C once the load had finished: the software is in the receiver, only its
    // engine was not followed. That is the work of a plain load, and short of it under
    // --follow.
    int NotFollowed() {
        PutOutputsBack();
        inv_.err << "Load finished; the engine status was not followed." << std::endl;
        return inv_.Has("--follow") ? kExitFailed : kExitOk;
    }

    int Follow() {
        // The engine's progress comes in the Configuration reports, SYS being on.
        TickEnd end = RunTicks(
            sink_, [this] { return shown_ == "Cycle Power Now" || engineFailed_ || Interrupted(); },
            kEngineWait);
        if (Interrupted()) {
            return NotFollowed();
        }
        if (end == TickEnd::Done && !engineFailed_) {
            inv_.err << kPowerCyclePromptText << std::endl;
            std::string answer;
            const bool confirmed = static_cast<bool>(std::getline(std::cin, answer));
            if (Interrupted()) {
                return NotFollowed();
            }
            if (!confirmed) {
                PutOutputsBack();
                inv_.err << "No power cycle confirmed." << std::endl;
                return kExitFailed;
            }
            // As Request pressed once the receiver, powered again, reports itself idle
            // (the report that says so comes by itself, or answers a request).
            bool pressed = false;
            auto asked = SteadyClock::now();
            session_.RequestStatus();
            end = RunTicks(
                sink_, [this] { return done_ || engineFailed_ || Interrupted(); }, kConfirmWait,
                true, [&] {
                    if (!pressed && session_.AfterLoad().PowerCyclePending()) {
                        session_.RequestPressed();
                        pressed = true;
                        asked = SteadyClock::now();
                    } else if (SteadyClock::now() - asked >= kConfirmRequestEvery) {
                        session_.RequestStatus();
                        asked = SteadyClock::now();
                    }
                });
        }
        if (Interrupted()) {
            return NotFollowed();
        }
        if (end == TickEnd::DeviceGone) {
            inv_.err << "The device " << PortDeviceName << " went away." << std::endl;
            return kExitFailed;
        }
        if (done_) {
            inv_.out << "Software version " << SoftwareVersionText(lastReport_) << std::endl;
            return kExitOk;
        }
        PutOutputsBack();
        if (!engineFailed_) {
            inv_.err << "The GPS engine did not report in time." << std::endl;
        }
        return kExitFailed;
    }

    void OnReport(const ConfigurationReport& report) {
        reportSeen_ = true;
        lastReport_ = report;
        session_.OnReport(report);
    }

    Invocation& inv_;
    LoadDisplay display_;
    LoadSession session_;
    ReportSink sink_;
    bool quiet_ = false; // the file's check: its refusal is told on standard error
    bool reportSeen_ = false;
    ConfigurationReport lastReport_{};
    std::string shown_;
    bool engineFailed_ = false;
    bool done_ = false;
};

} // namespace

int RunLoad(Invocation& inv) {
    Loader loader(inv);
    return loader.Run();
}

bool SoftwareFileNameTaken(const std::string& file, std::ostream& err) {
    // As the window's file choice: only a software file's name is taken.
    std::string lower = file;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find(".gst") == std::string::npos) {
        err << "Invalid File Type: " << file << std::endl;
        return false;
    }
    return true;
}

bool CheckSoftwareFile(const std::string& file, std::size_t& records, std::ostream& err) {
    if (!SoftwareFileNameTaken(file, err)) {
        return false;
    }
    SerialPort unopened;
    LoadSequence sequence(unopened, SystemClock());
    if (!sequence.OpenSoftwareFile(file)) {
        FileRefused(file, sequence.FileRefusalText(), err);
        return false;
    }
    records = sequence.RecordCount();
    return true;
}
