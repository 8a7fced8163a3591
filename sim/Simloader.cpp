#include "sim/Simloader.h"

#include "sim/Simline.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kLoaderVersionText = "Kestrane Loader V1.30";
constexpr const char* kLoaderMfgText = "Kestrane GPS";

} // namespace

SimLoader::SimLoader(const SimOptions& options, SimJournal& journal, SimOutput& output)
    : options_(options), journal_(journal), output_(output) {
    ArmDropAck();
}

std::string SimLoader::Prompt() const {
    return options_.noPrompt ? "" : ">";
}

void SimLoader::Start(SimTime now, std::uint32_t fromRate) {
    active_ = true;
    ready_ = now + std::chrono::milliseconds(options_.loaderStartMs);
    erased_ = false;
    inRecord_ = false;
    line_.Clear();
    if (!options_.noPrompt) {
        output_.Schedule(ready_, ">");
    }
    journal_.Log("loader started at " + std::to_string(kLoaderRate) + " baud (was " +
                 std::to_string(fromRate) + ")");
}

bool SimLoader::Leave() {
    active_ = false;
    inRecord_ = false;
    line_.Clear();
    return erased_;
}

void SimLoader::PowerCycle() {
    active_ = false;
    inRecord_ = false;
    line_.Clear();
}

bool SimLoader::Receive(std::uint8_t b, SimTime now) {
    if (now < ready_) {
        return false; // the loader is still starting: the byte is lost
    }
    if (inRecord_) {
        // One byte beyond the longest record is kept, to know the record is too long.
        if (record_.size() <= kMaxSimRecordLen) {
            record_.push_back(b);
        }
        recordLast_ = now;
        return false;
    }
    if (b == ';' && line_.Idle()) {
        inRecord_ = true;
        record_.assign(1, b);
        recordFirst_ = now;
        recordLast_ = now;
        return false;
    }
    if (b == '\r') {
        return Command(now);
    }
    line_.Add(b);
    return false;
}

bool SimLoader::Command(SimTime now) {
    std::string command;
    if (!line_.End(command)) {
        return false;
    }
    const std::string text = command + '\r';
    journal_.AddText(text, true);
    const std::string prompt = Prompt();
    const auto ackDelay = std::chrono::milliseconds(options_.ackDelayMs);
    if (command == "Ver") {
        output_.Schedule(now, std::string(kLoaderVersionText) + "\r\n" + prompt);
    } else if (command == "Mfg") {
        output_.Schedule(now, std::string(kLoaderMfgText) + "\r\n" + prompt);
    } else if (command == "On") {
        output_.Schedule(now + ackDelay, options_.ackText + "\r\n" + prompt);
    } else if (command == "ERASE") {
        records_.clear();
        digest_.Clear();
        erased_ = true;
        output_.Schedule(now + std::chrono::milliseconds(options_.eraseMs) + ackDelay,
                         options_.ackText + "\r\n" + prompt);
    } else if (command == "RESET") {
        journal_.Log("loader: \"RESET\"");
        return true;
    } else {
        journal_.Log("loader: unknown command \"" + SimPrintableText(text) + "\" ignored");
        return false;
    }
    journal_.Log("loader: \"" + SimPrintableText(text) + "\" answered");
    return false;
}

SimTime SimLoader::RecordDue() const {
    const auto wire = std::chrono::nanoseconds(ByteTimeNs(output_.Rate()) *
                                               static_cast<std::int64_t>(record_.size()));
    return std::max(recordLast_ + std::chrono::milliseconds(options_.recordGapMs),
                    recordFirst_ + wire);
}

void SimLoader::FinishDue(SimTime now) {
    if (inRecord_ && now >= RecordDue()) {
        FinishRecord(now);
    }
}

SimTime SimLoader::NextDue() const {
    return inRecord_ ? RecordDue() : SimTime::max();
}

void SimLoader::FinishRecord(SimTime now) {
    inRecord_ = false;
    const std::size_t number = records_.size() + 1;
    char buf[120];
    if (record_.size() > kMaxSimRecordLen) {
        journal_.Add(SimEvent::Record, record_.data(), record_.size(), true, false);
        std::snprintf(buf, sizeof buf, "loader: record %zu longer than %zu bytes, refused", number,
                      kMaxSimRecordLen);
        journal_.Log(buf);
        return;
    }
    if (options_.dropAckRecord == number && (options_.dropAckAlways || dropArmed_)) {
        dropArmed_ = false;
        journal_.Add(SimEvent::Record, record_.data(), record_.size(), true, false);
        std::snprintf(buf, sizeof buf, "loader: record %zu (%zu bytes) acknowledgement dropped",
                      number, record_.size());
        journal_.Log(buf);
        return;
    }
    records_.push_back(record_);
    digest_.Add(record_);
    journal_.Add(SimEvent::Record, record_.data(), record_.size(), true, true);
    output_.Schedule(now + std::chrono::milliseconds(options_.ackDelayMs),
                     options_.ackText + "\r\n" + Prompt());
    std::snprintf(buf, sizeof buf, "loader: record %zu (%zu bytes) taken: ", number,
                  record_.size());
    journal_.Log(buf + SimHexText(record_.data(), record_.size(), 16));
}
