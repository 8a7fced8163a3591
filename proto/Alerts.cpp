#include "proto/Alerts.h"

#include "base/Timeutils.h"

namespace {

constexpr std::size_t kKinds = 4;

std::size_t Index(AlertKind kind) {
    return static_cast<std::size_t>(kind);
}

std::int64_t Ms(int seconds) {
    return static_cast<std::int64_t>(seconds) * 1000;
}

// Whole seconds of a time in milliseconds, rounded down also before 1970.
std::int64_t SecondOf(std::int64_t ms) {
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

const char* JsonName(AlertKind kind) {
    switch (kind) {
    case AlertKind::FixLost:
        return "fix_lost";
    case AlertKind::DifferentialLost:
        return "differential_lost";
    case AlertKind::CorrectionsOld:
        return "corrections_old";
    case AlertKind::NoData:
        break;
    }
    return "no_data";
}

} // namespace

AlertMonitor::AlertMonitor(AlertLimits limits) : limits_(limits) {}

void AlertMonitor::KeepGoing(Recovery& r, std::int64_t nowMs, std::int64_t pauseMs) {
    if (!r.going || nowMs - r.lastMs >= pauseMs) {
        r.going = true;
        r.sinceMs = nowMs;
    }
    r.lastMs = nowMs;
}

bool AlertMonitor::Recovered(const Recovery& r, std::int64_t nowMs, std::int64_t pauseMs) const {
    return r.going && nowMs - r.lastMs < pauseMs &&
           r.lastMs - r.sinceMs >= Ms(limits_.clearSeconds);
}

void AlertMonitor::Begin(std::int64_t nowMs) {
    if (!started_) {
        started_ = true;
        startMs_ = nowMs;
    }
}

void AlertMonitor::Sentence(const NmeaResult& result, const NmeaState& state, std::int64_t nowMs) {
    Begin(nowMs);
    if (!dataSeen_) {
        dataSeen_ = true;
        firstDataMs_ = nowMs;
    }
    if (result.outcome == NmeaOutcome::Used &&
        (result.type == NmeaType::GGA || result.type == NmeaType::RMC)) {
        if (result.validPosition) {
            KeepGoing(fix_, nowMs, Ms(limits_.fixLostSeconds));
            validFixSeen_ = true;
            lastValidFixMs_ = nowMs;
        } else {
            fix_.going = false;
        }
    }
    if (result.outcome == NmeaOutcome::Used && result.type == NmeaType::GGA) {
        if (state.quality) {
            const int quality = *state.quality;
            if (quality == 2) {
                KeepGoing(differential_, nowMs, Ms(limits_.fixLostSeconds));
            } else {
                differential_.going = false;
                if ((quality == 1 || quality == 0) && lastQuality_ == 2 &&
                    !Active(AlertKind::DifferentialLost)) {
                    Event(AlertKind::DifferentialLost, true, nowMs);
                }
            }
            lastQuality_ = quality;
        }
        if (!state.correctionAge) {
            corrections_.going = false;
        } else if (*state.correctionAge > static_cast<double>(limits_.correctionsMaxAgeSeconds)) {
            corrections_.going = false;
            if (!Active(AlertKind::CorrectionsOld)) {
                Event(AlertKind::CorrectionsOld, true, nowMs);
            }
        } else {
            KeepGoing(corrections_, nowMs, Ms(limits_.fixLostSeconds));
        }
    }
    Update(nowMs);
}

void AlertMonitor::BytesReceived(std::int64_t nowMs) {
    Begin(nowMs);
    if (!dataSeen_) {
        dataSeen_ = true;
        firstDataMs_ = nowMs;
    }
    KeepGoing(data_, nowMs, Ms(limits_.noDataSeconds));
    byteSeen_ = true;
    lastByteMs_ = nowMs;
    Update(nowMs);
}

void AlertMonitor::Tick(std::int64_t nowMs) {
    Begin(nowMs);
    Update(nowMs);
}

void AlertMonitor::Update(std::int64_t nowMs) {
    const std::int64_t fixLost = Ms(limits_.fixLostSeconds);
    if (!Active(AlertKind::FixLost)) {
        if (dataSeen_ && nowMs - (validFixSeen_ ? lastValidFixMs_ : firstDataMs_) >= fixLost) {
            Event(AlertKind::FixLost, true, nowMs);
        }
    } else if (Recovered(fix_, nowMs, fixLost)) {
        Event(AlertKind::FixLost, false, nowMs);
    }
    if (Active(AlertKind::DifferentialLost) && Recovered(differential_, nowMs, fixLost)) {
        Event(AlertKind::DifferentialLost, false, nowMs);
    }
    if (Active(AlertKind::CorrectionsOld) && Recovered(corrections_, nowMs, fixLost)) {
        Event(AlertKind::CorrectionsOld, false, nowMs);
    }
    const std::int64_t noData = Ms(limits_.noDataSeconds);
    if (!Active(AlertKind::NoData)) {
        if (nowMs - (byteSeen_ ? lastByteMs_ : startMs_) >= noData) {
            Event(AlertKind::NoData, true, nowMs);
        }
    } else if (Recovered(data_, nowMs, noData)) {
        Event(AlertKind::NoData, false, nowMs);
    }
}

void AlertMonitor::Event(AlertKind kind, bool raised, std::int64_t nowMs) {
    active_[Index(kind)] = raised;
    std::string text;
    switch (kind) {
    case AlertKind::FixLost:
        text = raised ? "Fix lost" : "Fix back";
        break;
    case AlertKind::DifferentialLost:
        text = raised ? "Differential lost" : "Differential back";
        break;
    case AlertKind::CorrectionsOld:
        text = raised ? "Corrections older than " +
                            std::to_string(limits_.correctionsMaxAgeSeconds) + " s"
                      : "Corrections current";
        break;
    case AlertKind::NoData:
        text = raised ? "No data" : "Data back";
        break;
    }
    log_.push_back({kind, raised, nowMs, std::move(text)});
    if (log_.size() > kLogSize) {
        log_.pop_front();
    }
    ++events_;
}

bool AlertMonitor::Active(AlertKind kind) const {
    return active_[Index(kind)];
}

std::string AlertMonitor::ActiveText() const {
    std::string text;
    for (std::size_t i = 0; i < kKinds; ++i) {
        if (!active_[i]) {
            continue;
        }
        const AlertKind kind = static_cast<AlertKind>(i);
        if (!text.empty()) {
            text += ", ";
        }
        text += kind == AlertKind::CorrectionsOld
                    ? "Corrections older than " + std::to_string(limits_.correctionsMaxAgeSeconds) +
                          " s"
                    : std::string(Name(kind));
    }
    return text;
}

const std::deque<AlertEvent>& AlertMonitor::Log() const {
    return log_;
}

std::vector<AlertEvent> AlertMonitor::TakeEvents() {
    const std::uint64_t pending = events_ - taken_;
    const std::size_t n = pending < log_.size() ? static_cast<std::size_t>(pending) : log_.size();
    taken_ = events_;
    return std::vector<AlertEvent>(log_.end() - static_cast<std::ptrdiff_t>(n), log_.end());
}

void AlertMonitor::Reset() {
    *this = AlertMonitor(limits_);
}

const char* AlertMonitor::Name(AlertKind kind) {
    switch (kind) {
    case AlertKind::FixLost:
        return "Fix lost";
    case AlertKind::DifferentialLost:
        return "Differential lost";
    case AlertKind::CorrectionsOld:
        return "Corrections old";
    case AlertKind::NoData:
        break;
    }
    return "No data";
}

void AlertMonitor::WriteText(std::ostream& out, const AlertEvent& event) {
    out << FormatTimeOfDay(SecondOf(event.atMs)) << (event.raised ? " ALERT " : " END ")
        << event.text << "\n";
}

void AlertMonitor::WriteJson(std::ostream& out, const AlertEvent& event) {
    // The texts are the monitor's own: nothing in them needs escaping.
    out << "{\"type\": \"alert\", \"time_ms\": " << std::to_string(event.atMs) << ", \"time\": \""
        << FormatTimeOfDay(SecondOf(event.atMs)) << "\", \"alert\": \"" << JsonName(event.kind)
        << "\", \"event\": \"" << (event.raised ? "raised" : "ended") << "\", \"text\": \""
        << event.text << "\"}\n";
}
