#include "sim/Simjournal.h"

#include <cstdio>

namespace {

// The events keep at most this many entries; the oldest half goes when they are full.
constexpr std::size_t kMaxEvents = 100000;
constexpr std::size_t kMaxLogLines = 10000;

} // namespace

std::string SimHexText(const std::uint8_t* data, std::size_t n, std::size_t limit) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n && i < limit; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", data[i]);
        if (i > 0) {
            s += ' ';
        }
        s += buf;
    }
    if (n > limit) {
        s += " ...";
    }
    return s;
}

std::string SimPrintableText(const std::string& text) {
    std::string s;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            s += c;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            s += buf;
        }
    }
    return s;
}

void SimJournal::Add(SimEvent::Kind kind, const std::uint8_t* data, std::size_t n, bool loader,
                     bool accepted) {
    if (events_.size() >= kMaxEvents) {
        events_.erase(events_.begin(), events_.begin() + kMaxEvents / 2);
    }
    SimEvent e{kind, std::vector<std::uint8_t>(data, data + n), loader, accepted, n};
    events_.push_back(std::move(e));
}

void SimJournal::AddText(const std::string& text, bool loader) {
    Add(SimEvent::Text, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), loader,
        true);
}

void SimJournal::AddFrame(const std::uint8_t* frame, std::size_t n) {
    ++framesReceived_;
    Add(SimEvent::Frame, frame, n, false, true);
}

void SimJournal::NotUnderstood(std::size_t n, bool loader, std::uint32_t rate) {
    bytesNotUnderstood_ += n;
    if (!events_.empty() && events_.back().kind == SimEvent::NotUnderstood) {
        events_.back().count += n;
    } else {
        Add(SimEvent::NotUnderstood, nullptr, 0, loader, false);
        events_.back().count = n;
    }
    Log("received " + std::to_string(n) + " bytes at another rate than " + std::to_string(rate) +
        ": not understood");
}

void SimJournal::Log(const std::string& line) {
    if (options_.verbose && log_.size() < kMaxLogLines) {
        log_.push_back(line);
    }
}

std::vector<std::string> SimJournal::TakeLog() {
    std::vector<std::string> out;
    out.swap(log_);
    return out;
}
