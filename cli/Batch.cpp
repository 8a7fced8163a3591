// Many receivers at once (cli/Batch.h).
#include "cli/Batch.h"

#include "base/Smallfile.h"
#include "cli/Child.h"
#include "cli/Interrupt.h"
#include "proto/Jsontext.h"
#include "proto/Numbertext.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kWaitStep{100};
constexpr std::chrono::milliseconds kRedraw{200};
constexpr int kBarWidth = 20;
// A unit's lines are kept for its JSON object up to this many of each kind, so that a
// unit that talks on and on cannot fill memory.
constexpr std::size_t kKeptLines = 2000;
// A list of devices longer than this is no list of devices.
constexpr std::size_t kPortsFileMaxBytes = 1 << 20;

struct Unit {
    std::string device;
    ChildProcess child;
    std::string partial[2];             // [0] standard output, [1] standard error
    std::vector<std::string> lines[2];  // kept for --json and the detail
    std::string last[2];                // the last line of each
    bool open[2] = {true, true};
    bool running = false;
    bool cancelled = false;   // Ctrl-C was passed on while it ran
    bool waitingEnter = false;
    std::string startError;
    int status = -1;
    std::size_t sent = 0;
    std::string state; // the last status text of a load
    SteadyClock::time_point start;
    SteadyClock::time_point end;
};

std::string ResultOf(const Unit& u, const std::string& command) {
    if (u.status == 0) {
        return "ok";
    }
    const std::string_view differs = kDiffersText;
    if (command == "diff" && u.status == kExitFailed && u.last[1].size() > differs.size() &&
        u.last[1].compare(u.last[1].size() - differs.size(), differs.size(), differs) == 0) {
        return "differs";
    }
    return u.cancelled ? "cancelled" : "failed";
}

// A value from a JSON object's text, for the detail of info's report: the string of key.
// (Not the profile reader: it refuses a report whose settings no profile may hold, and
// the version is wanted all the same.)
std::string JsonStringValue(const std::string& object, const std::string& key) {
    const std::string quoted = "\"" + key + "\":\"";
    const std::size_t at = object.find(quoted);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t from = at + quoted.size();
    const std::size_t to = object.find('"', from);
    return to == std::string::npos ? std::string() : object.substr(from, to - from);
}

// The one JSON object a unit printed as its result, or empty.
std::string ReportOf(const Unit& u) {
    const std::vector<std::string>& out = u.lines[0];
    if (out.size() == 1 && out[0].size() >= 2 && out[0].front() == '{' && out[0].back() == '}') {
        return out[0];
    }
    return {};
}

// What the table and the JSON object say of a unit in a few words.
std::string DetailOf(const Unit& u, const std::string& command) {
    if (!u.startError.empty()) {
        return "could not be started: " + u.startError;
    }
    if (u.status != 0) {
        // A load that failed on its way says how in its last status text ("Failed GPS
        // Engine download", "Cancelled"); the texts of a load going well say nothing of
        // it, and the reason is then its last message.
        static const std::array<std::string_view, 6> kGoingWell = {
            "Started", "Finished", "Checking GPS Engine", "Downloading to GPS Engine",
            "Cycle Power Now", "Done"};
        if (command == "load" && !u.state.empty() &&
            std::find(kGoingWell.begin(), kGoingWell.end(), u.state) == kGoingWell.end()) {
            return u.state;
        }
        if (!u.last[1].empty()) {
            return u.last[1];
        }
        return u.status > 128 ? "ended by signal " + std::to_string(u.status - 128)
                              : "exit status " + std::to_string(u.status);
    }
    if (command == "info") {
        std::string version = JsonStringValue(ReportOf(u), "software_version");
        if (version.empty()) {
            for (const std::string& line : u.lines[0]) {
                if (line.rfind("Software version: ", 0) == 0) {
                    version = line.substr(18);
                }
            }
        }
        return "software version " + (version.empty() ? std::string("unknown") : version);
    }
    if (command == "set") {
        return "settings applied and read back";
    }
    if (command == "diff") {
        return "no differences";
    }
    return !u.state.empty() ? u.state : u.last[0];
}

std::string Seconds(const Unit& u) {
    if (!u.startError.empty()) {
        return "0.0";
    }
    return FixedText(std::chrono::duration<double>(u.end - u.start).count(), 1);
}

std::string JsonLines(const std::vector<std::string>& lines) {
    std::string out = "[";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += (i == 0 ? "" : ",") + JsonString(lines[i]);
    }
    return out + "]";
}

// The lines of a run on standard output and standard error, and on a terminal the
// progress lines of a load below them.
class BatchView {
public:
    BatchView(const BatchPlan& plan, std::vector<std::unique_ptr<Unit>>& units,
              std::ostream& out, std::ostream& err)
        : plan_(plan), units_(units), out_(out), err_(err),
          progress_(plan.terminal && !plan.json && plan.command->name == std::string("load")) {
        for (const auto& u : units_) {
            width_ = std::max(width_, u->device.size());
        }
    }

    void Line(const Unit& u, bool error, const std::string& line) {
        if (plan_.json) {
            return;
        }
        ClearBlock();
        std::ostream& to = error ? err_ : out_;
        if (error) {
            out_.flush();
        }
        to << u.device << ": " << line << "\n";
        if (error) {
            err_.flush();
        }
        dirty_ = true;
    }

    void Ended(const Unit& u) {
        if (!plan_.json) {
            dirty_ = true;
            return;
        }
        const std::string report = ReportOf(u);
        out_ << "{\"device\":" << JsonString(u.device) << ",\"result\":"
             << JsonString(ResultOf(u, plan_.command->name)) << ",\"exit_status\":" << u.status
             << ",\"detail\":" << JsonString(DetailOf(u, plan_.command->name))
             << ",\"seconds\":" << Seconds(u);
        if (plan_.records != 0) {
            out_ << ",\"records\":" << plan_.records << ",\"records_sent\":" << u.sent;
        }
        if (!report.empty()) {
            out_ << ",\"report\":" << report;
        } else {
            out_ << ",\"output\":" << JsonLines(u.lines[0]);
        }
        out_ << ",\"messages\":" << JsonLines(u.lines[1]) << "}\n";
        out_.flush();
    }

    // Redraws the progress lines when something changed, at most every kRedraw.
    void Draw(bool force) {
        if (!progress_) {
            out_.flush();
            return;
        }
        const auto now = SteadyClock::now();
        if (!force && (!dirty_ || now - drawn_ < kRedraw)) {
            return;
        }
        ClearBlock();
        const auto width = static_cast<std::size_t>(std::max(plan_.columns - 1, 20));
        for (const auto& u : units_) {
            std::string line = ProgressLine(*u, now);
            if (line.size() > width) {
                line.resize(width);
            }
            out_ << line << "\x1b[K\n";
        }
        drawn_ = now;
        shown_ = units_.size();
        dirty_ = false;
        out_.flush();
    }

    void Changed() { dirty_ = true; }

    void Table() {
        if (plan_.json) {
            return;
        }
        Draw(true);
        std::vector<std::array<std::string, 4>> rows;
        rows.push_back({"DEVICE", "RESULT", "DETAIL", "TIME"});
        for (const auto& u : units_) {
            rows.push_back({u->device, ResultOf(*u, plan_.command->name), DetailOf(*u, plan_.command->name),
                            Seconds(*u) + " s"});
        }
        std::array<std::size_t, 3> widths{};
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < widths.size(); ++c) {
                widths[c] = std::max(widths[c], row[c].size());
            }
        }
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < widths.size(); ++c) {
                out_ << row[c] << std::string(widths[c] - row[c].size() + 2, ' ');
            }
            out_ << row[3] << "\n";
        }
        out_.flush();
    }

private:
    std::string ProgressLine(const Unit& u, SteadyClock::time_point now) const {
        const std::size_t total = plan_.records;
        const std::size_t sent = std::min(u.sent, total);
        const std::size_t filled = total == 0 ? 0 : sent * kBarWidth / total;
        const auto until = u.running ? now : u.end;
        const auto elapsed =
            static_cast<long long>(std::chrono::duration<double>(until - u.start).count());
        char text[96];
        std::snprintf(text, sizeof text, "] %zu of %zu records %3zu%%  %02lld:%02lld  ", sent,
                      total, total == 0 ? 0 : sent * 100 / total, elapsed / 60, elapsed % 60);
        std::string state = u.running ? u.state : ResultOf(u, "load") + ": " + DetailOf(u, "load");
        return u.device + std::string(width_ - u.device.size(), ' ') + "  [" +
               std::string(filled, '#') + std::string(kBarWidth - filled, '.') + text + state;
    }

    void ClearBlock() {
        if (progress_ && shown_ > 0) {
            out_ << "\x1b[" << shown_ << "A\r\x1b[J";
            shown_ = 0;
        }
    }

    const BatchPlan& plan_;
    std::vector<std::unique_ptr<Unit>>& units_;
    std::ostream& out_;
    std::ostream& err_;
    const bool progress_;
    std::size_t width_ = 0;
    std::size_t shown_ = 0; // progress lines on the screen below the other lines
    bool dirty_ = true;
    SteadyClock::time_point drawn_{};
};

// A line a unit wrote: kept, and shown, or taken into its progress line.
void TakeLine(Unit& u, bool error, std::string line, const BatchPlan& plan, BatchView& view) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const int i = error ? 1 : 0;
    u.last[i] = line;
    if (error && line == kPowerCyclePromptText) {
        u.waitingEnter = true;
    }
    const bool record = !error && line.rfind(kSendingRecordText, 0) == 0;
    if (!record && u.lines[i].size() < kKeptLines) {
        u.lines[i].push_back(line);
    }
    if (record) {
        u.sent = static_cast<std::size_t>(
            std::strtoul(line.c_str() + std::string_view(kSendingRecordText).size(), nullptr, 10));
    } else if (!error) {
        u.state = line;
    }
    view.Changed();
    if (record && plan.terminal && !plan.json) {
        return; // the progress line shows it
    }
    view.Line(u, error, line);
}

} // namespace

std::vector<std::string> DeviceListLines(std::string_view text) {
    std::vector<std::string> devices;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string::npos) {
            to = text.size();
        }
        std::string line(text.substr(from, to - from));
        from = to + 1;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        devices.push_back(line);
    }
    return devices;
}

bool ReadPortsFile(const std::string& path, std::vector<std::string>& devices,
                   std::string& error) {
    std::string text;
    if (!ReadSmallFile(path, kPortsFileMaxBytes, text, error)) {
        return false;
    }
    if (text.size() > kPortsFileMaxBytes) {
        error = "longer than " + std::to_string(kPortsFileMaxBytes) + " bytes: not a list of devices";
        return false;
    }
    const std::vector<std::string> listed = DeviceListLines(text);
    devices.insert(devices.end(), listed.begin(), listed.end());
    return true;
}

int RunBatch(const BatchPlan& plan, std::ostream& out, std::ostream& err) {
    auto queue = std::make_shared<ChildQueue>();
    std::vector<std::unique_ptr<Unit>> units;
    for (const std::string& device : plan.devices) {
        auto u = std::make_unique<Unit>();
        u->device = device;
        units.push_back(std::move(u));
    }
    BatchView view(plan, units, out, err);
    CatchInterrupt();

    std::size_t running = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        Unit& u = *units[i];
        std::vector<std::string> args = {plan.program, "--port", u.device};
        args.insert(args.end(), plan.unitArgs.begin(), plan.unitArgs.end());
        u.start = SteadyClock::now();
        if (u.child.Start(plan.program, args, plan.follow, i, *queue, u.startError)) {
            u.running = true;
            ++running;
        } else {
            u.end = u.start;
            view.Ended(u);
        }
    }
    if (plan.follow) {
        ReadStandardInput(queue);
    }
    view.Draw(true);

    while (running > 0) {
        for (ChildEvent& e : queue->Take(kWaitStep)) {
            if (e.unit == kStandardInputUnit) {
                // Enter goes to the units asking for it now, not to one that asks later.
                for (auto& u : units) {
                    if (e.end) {
                        u->child.CloseInput();
                    } else if (u->waitingEnter) {
                        u->child.Input("\n");
                        u->waitingEnter = false;
                    }
                }
                continue;
            }
            Unit& u = *units[e.unit];
            const int i = e.error ? 1 : 0;
            u.partial[i] += e.bytes;
            std::size_t nl = 0;
            while ((nl = u.partial[i].find('\n')) != std::string::npos) {
                TakeLine(u, e.error, u.partial[i].substr(0, nl), plan, view);
                u.partial[i].erase(0, nl + 1);
            }
            if (!e.end) {
                continue;
            }
            if (!u.partial[i].empty()) {
                TakeLine(u, e.error, u.partial[i], plan, view);
                u.partial[i].clear();
            }
            u.open[i] = false;
            if (!u.open[0] && !u.open[1]) {
                u.status = u.child.Wait();
                u.end = SteadyClock::now();
                u.running = false;
                --running;
                view.Ended(u);
            }
        }
        if (Interrupted()) {
            CatchInterrupt(); // a further Ctrl-C is passed on again
            for (auto& u : units) {
                if (u->running) {
                    u->cancelled = true;
                    u->child.Interrupt();
                }
            }
        }
        view.Draw(false);
    }
    view.Table();

    int status = kExitOk;
    for (const auto& u : units) {
        if (u->status == kExitUsage) {
            status = kExitUsage;
        } else if (u->status != kExitOk && status == kExitOk) {
            status = kExitFailed;
        }
    }
    return status;
}
