#include "sim/Simcore.h"

#include "proto/Memoutils.h"
#include "sim/Simline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kMaxTextLine = 80;
// The event log keeps at most this many entries; the oldest half goes when it is full.
constexpr std::size_t kMaxEvents = 100000;
constexpr const char* kLoaderVersionText = "Kestrane Loader V1.30";
constexpr const char* kLoaderMfgText = "Kestrane GPS";

std::string Hex(const std::uint8_t* data, std::size_t n, std::size_t limit = 48) {
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

std::string Printable(const std::string& text) {
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

} // namespace

bool SimVersion::Parse(const std::string& text, SimVersion& out) {
    std::size_t i = 0;
    auto number = [&](std::uint8_t& value) {
        unsigned v = 0;
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
        }
        if (i == start || v > 255) {
            return false;
        }
        value = static_cast<std::uint8_t>(v);
        return true;
    };
    SimVersion v;
    if (!number(v.major) || i >= text.size() || text[i] != '.') {
        return false;
    }
    ++i;
    if (!number(v.minor)) {
        return false;
    }
    const std::string suffix = text.substr(i);
    if (suffix.size() > 3) {
        return false;
    }
    std::memset(v.suffix, 0, sizeof v.suffix);
    std::memcpy(v.suffix, suffix.data(), suffix.size());
    out = v;
    return true;
}

std::string SimVersion::Text() const {
    return std::to_string(major) + "." + std::to_string(minor) + std::string(suffix);
}

bool SimVersion::operator==(const SimVersion& o) const {
    return major == o.major && minor == o.minor && std::strcmp(suffix, o.suffix) == 0;
}

SimCore::SimCore(const SimOptions& options)
    : options_(options), lineRate_(IsSimRate(options.baudRate) ? options.baudRate : 19200),
      rng_(options.seed ^ 0x5eed5eed5eed5eedULL), nmea_(options.seed) {
    options_.baudRate = lineRate_;
    if (options_.navRate != 1 && options_.navRate != 5) {
        options_.navRate = 1;
    }
    dropArmed_ = options_.dropAckRecord != 0;
}

std::uint64_t SimCore::Random() {
    std::uint64_t z = (rng_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

void SimCore::Log(const std::string& line) {
    if (options_.verbose && log_.size() < 10000) {
        log_.push_back(line);
    }
}

std::vector<std::string> SimCore::TakeLog() {
    std::vector<std::string> out;
    out.swap(log_);
    return out;
}

void SimCore::AddEvent(SimEvent::Kind kind, const std::uint8_t* data, std::size_t n,
                       bool accepted) {
    if (events_.size() >= kMaxEvents) {
        events_.erase(events_.begin(), events_.begin() + kMaxEvents / 2);
    }
    SimEvent e{kind, std::vector<std::uint8_t>(data, data + n), loaderActive_, accepted, n};
    events_.push_back(std::move(e));
}

std::chrono::nanoseconds SimCore::FixPeriod() const {
    return std::chrono::milliseconds(options_.navRate == 5 ? 200 : 1000);
}

void SimCore::SetLineRate(std::uint32_t rate) {
    if (!IsSimRate(rate)) {
        return;
    }
    options_.baudRate = rate;
    if (loaderActive_) {
        savedRate_ = rate;
    } else {
        lineRate_ = rate;
    }
}

void SimCore::SetDropAck(std::uint32_t record, bool always) {
    options_.dropAckRecord = record;
    options_.dropAckAlways = always;
    dropArmed_ = record != 0;
}

// ---------------------------------------------------------------------------------------
// Receiving

std::size_t SimCore::Receive(const std::uint8_t* data, std::size_t n, SimTime now) {
    if (options_.dead || options_.echo) {
        return n;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t rateBefore = lineRate_;
        if (loaderActive_) {
            ReceiveLoader(data[i], now);
        } else {
            ReceiveNormal(data[i], now);
        }
        if (lineRate_ != rateBefore) {
            return i + 1;
        }
    }
    return n;
}

void SimCore::NotUnderstood(std::size_t n) {
    if (n == 0) {
        return;
    }
    bytesNotUnderstood_ += n;
    if (!events_.empty() && events_.back().kind == SimEvent::NotUnderstood) {
        events_.back().count += n;
    } else {
        AddEvent(SimEvent::NotUnderstood, nullptr, 0, false);
        events_.back().count = n;
    }
    Log("received " + std::to_string(n) + " bytes at another rate than " +
        std::to_string(lineRate_) + ": not understood");
}

void SimCore::ReceiveNormal(std::uint8_t b, SimTime now) {
    if (framer_.ProcessByte(b)) {
        HandleFrame(framer_.GetMsg(), framer_.GetMsgLen());
    }
    // Text lines (the loader's wake-up call) are collected beside the frames. A binary
    // frame is passed over by its length byte, so the CR and LF inside it end no line.
    if (frameSkip_ > 0) {
        --frameSkip_;
        return;
    }
    if (b == '\r') {
        HandleNormalLine(now);
        return;
    }
    if (!CollectTextByte(b)) {
        return;
    }
    if (line_.size() == 4 && line_[0] == '$' && line_[1] == 'x' &&
        static_cast<std::uint8_t>(line_[3]) >= kMinFrameLen) {
        frameSkip_ = static_cast<std::uint8_t>(line_[3]) - 4;
        line_.clear();
    }
}

void SimCore::HandleNormalLine(SimTime now) {
    if (lineOverflow_) {
        lineOverflow_ = false;
        line_.clear();
        return;
    }
    const std::string text = line_ + '\r';
    line_.clear();
    AddEvent(SimEvent::Text, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), true);
    Log("received text \"" + Printable(text) + "\"");
    if (text == "LOADSTAR\r") {
        StartLoader(now);
    }
}

void SimCore::HandleFrame(const std::uint8_t* frame, std::size_t n) {
    ++framesReceived_;
    AddEvent(SimEvent::Frame, frame, n, true);
    const std::uint8_t id = frame[kFrameIdOffset];
    const std::uint8_t* p = frame + kPayloadOffset;
    const std::size_t len = n - kFrameOverhead;
    char buf[160];
    std::snprintf(buf, sizeof buf, "received frame id 0x%02X, %zu bytes: ", id, n);
    std::string what = buf;

    switch (id) {
    case kMsgOutputRequest:
        if (len >= 1 && p[0] == kMsgConfigReport) {
            QueueConfigReport(true);
            what += "request for the Configuration report, answered";
        } else if (len >= 1 && p[0] == kMsgCorrectionsReport) {
            QueueCorrectionsReport(true);
            what += "request for the Corrections status report, answered";
        } else {
            what += "request for a message not offered, ignored";
        }
        break;
    case kMsgNavRate:
        if (len >= 1 && (p[0] == 1 || p[0] == 5)) {
            options_.navRate = p[0];
            what += "navigation rate " + std::to_string(p[0]);
        } else {
            what += "navigation rate out of range, ignored";
        }
        break;
    case kMsgCorrections:
        if (len >= 8 && p[0] <= 1) {
            options_.alternateFrequency = p[0] == 1;
            if (options_.alternateFrequency) {
                options_.channel = static_cast<std::int32_t>(GetLE32(p + 2));
            }
            options_.waasOn = p[6] == 1;
            options_.correctionsOn = p[7] == 0;
            std::snprintf(buf, sizeof buf,
                          "corrections: %s frequency, channel %d, WAAS %s, "
                          "corrections %s",
                          options_.alternateFrequency ? "alternate" : "default",
                          static_cast<int>(options_.channel), options_.waasOn ? "on" : "off",
                          options_.correctionsOn ? "on" : "off");
            what += buf;
        } else {
            what += "malformed corrections command, ignored";
        }
        break;
    case kMsgPortConfig:
        if (len >= 34) {
            options_.binaryFlags = GetLE32(p + 6);
            options_.nmeaFlags = GetLE32(p + 10);
            const std::uint32_t rate = GetLE32(p + 14);
            std::snprintf(buf, sizeof buf, "output configuration: binary 0x%X, NMEA 0x%X, ",
                          options_.binaryFlags, options_.nmeaFlags);
            what += buf;
            if (IsSimRate(rate)) {
                // Takes effect now: the next byte in either direction runs at the new rate.
                options_.baudRate = rate;
                lineRate_ = rate;
                what += "baud rate " + std::to_string(rate);
            } else {
                what += "baud rate " + std::to_string(rate) + " not supported, kept " +
                        std::to_string(lineRate_);
            }
        } else {
            what += "malformed output configuration, ignored";
        }
        break;
    default:
        what += "not a command of this receiver, ignored";
        break;
    }
    Log(what);
}

void SimCore::ReceiveLoader(std::uint8_t b, SimTime now) {
    if (now < loaderReady_) {
        return; // the loader is still starting: the byte is lost
    }
    if (inRecord_) {
        // One byte beyond the longest record is kept, to know the record is too long.
        if (record_.size() <= kMaxSimRecordLen) {
            record_.push_back(b);
        }
        recordLast_ = now;
        return;
    }
    if (b == ';' && line_.empty() && !lineOverflow_) {
        inRecord_ = true;
        record_.assign(1, b);
        recordFirst_ = now;
        recordLast_ = now;
        return;
    }
    if (b == '\r') {
        HandleLoaderCommand(now);
        return;
    }
    CollectTextByte(b);
}

bool SimCore::CollectTextByte(std::uint8_t b) {
    if (lineOverflow_ || (b == '\n' && line_.empty())) {
        return false;
    }
    if (line_.size() >= kMaxTextLine) {
        lineOverflow_ = true; // dropped whole, up to its CR
        line_.clear();
        return false;
    }
    line_ += static_cast<char>(b);
    return true;
}

void SimCore::HandleLoaderCommand(SimTime now) {
    if (lineOverflow_) {
        lineOverflow_ = false;
        line_.clear();
        return;
    }
    const std::string command = line_;
    const std::string text = command + '\r';
    line_.clear();
    AddEvent(SimEvent::Text, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), true);
    const std::string prompt = options_.noPrompt ? "" : ">";
    const auto ackDelay = std::chrono::milliseconds(options_.ackDelayMs);
    if (command == "Ver") {
        Schedule(now, std::string(kLoaderVersionText) + "\r\n" + prompt);
    } else if (command == "Mfg") {
        Schedule(now, std::string(kLoaderMfgText) + "\r\n" + prompt);
    } else if (command == "On") {
        Schedule(now + ackDelay, options_.ackText + "\r\n" + prompt);
    } else if (command == "ERASE") {
        records_.clear();
        digest_.Clear();
        erased_ = true;
        Schedule(now + std::chrono::milliseconds(options_.eraseMs) + ackDelay,
                 options_.ackText + "\r\n" + prompt);
    } else if (command == "RESET") {
        Log("loader: \"RESET\"");
        LeaveLoader(now);
        return;
    } else {
        Log("loader: unknown command \"" + Printable(text) + "\" ignored");
        return;
    }
    Log("loader: \"" + Printable(text) + "\" answered");
}

SimTime SimCore::RecordDue() const {
    const auto wire =
        std::chrono::nanoseconds(ByteTimeNs(lineRate_) * static_cast<std::int64_t>(record_.size()));
    return std::max(recordLast_ + std::chrono::milliseconds(options_.recordGapMs),
                    recordFirst_ + wire);
}

void SimCore::FinishRecord(SimTime now) {
    inRecord_ = false;
    const std::size_t number = records_.size() + 1;
    char buf[120];
    if (record_.size() > kMaxSimRecordLen) {
        AddEvent(SimEvent::Record, record_.data(), record_.size(), false);
        std::snprintf(buf, sizeof buf, "loader: record %zu longer than %zu bytes, refused", number,
                      kMaxSimRecordLen);
        Log(buf);
        return;
    }
    if (options_.dropAckRecord == number && (options_.dropAckAlways || dropArmed_)) {
        dropArmed_ = false;
        AddEvent(SimEvent::Record, record_.data(), record_.size(), false);
        std::snprintf(buf, sizeof buf, "loader: record %zu (%zu bytes) acknowledgement dropped",
                      number, record_.size());
        Log(buf);
        return;
    }
    records_.push_back(record_);
    digest_.Add(record_);
    AddEvent(SimEvent::Record, record_.data(), record_.size(), true);
    Schedule(now + std::chrono::milliseconds(options_.ackDelayMs),
             options_.ackText + (options_.noPrompt ? "\r\n" : "\r\n>"));
    std::snprintf(buf, sizeof buf, "loader: record %zu (%zu bytes) taken: ", number,
                  record_.size());
    Log(buf + Hex(record_.data(), record_.size(), 16));
}

void SimCore::StartLoader(SimTime now) {
    loaderActive_ = true;
    savedRate_ = lineRate_;
    lineRate_ = kLoaderRate;
    loaderReady_ = now + std::chrono::milliseconds(options_.loaderStartMs);
    erased_ = false;
    inRecord_ = false;
    line_.clear();
    lineOverflow_ = false;
    // What was waiting to go out at the old rate is lost when the loader takes over.
    output_.clear();
    scheduled_.clear();
    if (!options_.noPrompt) {
        Schedule(loaderReady_, ">");
    }
    Log("loader started at " + std::to_string(kLoaderRate) + " baud (was " +
        std::to_string(savedRate_) + ")");
}

void SimCore::LeaveLoader(SimTime now) {
    loaderActive_ = false;
    lineRate_ = savedRate_;
    scheduled_.clear();
    framer_.Reset();
    line_.clear();
    lineOverflow_ = false;
    frameSkip_ = 0;
    inRecord_ = false;
    fixScheduled_ = false;
    if (erased_) {
        downloading_ = true;
        installPending_ = false;
        downloadStart_ = now;
        engineStatus_ = kEngineDownloading1;
        Log("loader left; GPS engine download of " + std::to_string(records_.size()) +
            " records started");
    } else {
        Log("loader left");
    }
    Log("line rate back to " + std::to_string(lineRate_));
}

void SimCore::UpdateEngine(SimTime now) {
    if (!downloading_) {
        return;
    }
    const auto total = std::chrono::milliseconds(options_.engineDownloadMs);
    const auto elapsed = now - downloadStart_;
    if (elapsed >= total) {
        downloading_ = false;
        engineStatus_ = options_.engineFailure ? kEngineFailed : kEngineCyclePower;
        installPending_ = !options_.engineFailure;
        Log(options_.engineFailure ? "GPS engine download failed (status 4)"
                                   : "GPS engine download done: cycle power (status 3)");
    } else {
        engineStatus_ = elapsed < total / 2 ? kEngineDownloading1 : kEngineDownloading2;
    }
}

void SimCore::PowerCycle(SimTime now) {
    ++powerCycles_;
    output_.clear();
    scheduled_.clear();
    if (loaderActive_) {
        loaderActive_ = false;
        lineRate_ = savedRate_;
    }
    framer_.Reset();
    line_.clear();
    lineOverflow_ = false;
    frameSkip_ = 0;
    inRecord_ = false;
    fixScheduled_ = false;
    if (downloading_) {
        // Power removed while the engine was taking in its software.
        downloading_ = false;
        engineStatus_ = kEngineFailed;
    } else if (engineStatus_ == kEngineCyclePower && installPending_) {
        options_.version = options_.newVersion;
        engineStatus_ = kEngineIdle;
    } else {
        engineStatus_ = kEngineIdle;
    }
    installPending_ = false;
    (void)now;
    Log("power cycled: version " + options_.version.Text() + ", engine status " +
        std::to_string(engineStatus_) + ", " + std::to_string(lineRate_) + " baud");
}

// ---------------------------------------------------------------------------------------
// Sending

bool SimCore::Queue(const std::uint8_t* data, std::size_t n, bool reply) {
    // The receiver's output buffer holds about a second of the line; what does not fit
    // is dropped whole (a reply gets twice the room), so the line never carries half a
    // message and the buffer never grows without bound.
    const std::size_t perSecond = lineRate_ / 10;
    const std::size_t room = reply ? 2 * perSecond : perSecond;
    if (output_.size() + n > room) {
        Log("output buffer full: " + std::to_string(n) + " bytes dropped");
        return false;
    }
    output_.insert(output_.end(), data, data + n);
    bytesQueued_ += n;
    return true;
}

void SimCore::SendRaw(const std::uint8_t* data, std::size_t n) {
    output_.insert(output_.end(), data, data + n);
    bytesQueued_ += n;
}

bool SimCore::QueueFrame(std::uint8_t id, const std::uint8_t* payload, std::size_t n, bool reply) {
    std::uint8_t frame[kMaxFrameLen];
    const std::uint8_t len = BuildMsg(id, payload, n, frame);
    if (len == 0) {
        return false;
    }
    QueueNoise();
    return Queue(frame, len, reply);
}

void SimCore::QueueNoise() {
    if (!options_.noise || Random() % 3 != 0) {
        return;
    }
    std::uint8_t noise[8];
    const std::size_t n = 1 + Random() % sizeof noise;
    for (std::size_t i = 0; i < n; ++i) {
        auto b = static_cast<std::uint8_t>(Random());
        noise[i] = b == '$' ? static_cast<std::uint8_t>('$' ^ 0x80) : b;
    }
    Queue(noise, n, false);
}

void SimCore::QueueConfigReport(bool reply) {
    std::uint8_t p[kSimConfigPayloadLen] = {};
    p[kCfgVersionMajor] = options_.version.major;
    p[kCfgVersionMinor] = options_.version.minor;
    PutLE32(p + kCfgBinaryFlags, options_.binaryFlags);
    PutLE32(p + kCfgNmeaFlags, options_.nmeaFlags);
    p[kCfgNavRate] = options_.navRate;
    p[kCfgEngineLoadStatus] = engineStatus_;
    std::size_t len = kSimConfigShortPayloadLen;
    if (options_.versionSuffix) {
        std::memcpy(p + kCfgVersionSuffix, options_.version.suffix, 3);
        len = kSimConfigPayloadLen;
    }
    QueueFrame(kMsgConfigReport, p, len, reply);
}

void SimCore::QueueCorrectionsReport(bool reply) {
    std::uint8_t p[kSimCorrectionsPayloadLen] = {};
    const std::int32_t channel = options_.alternateFrequency ? options_.channel : kDefaultChannel;
    PutLE32(p + kCorrChannel, static_cast<std::uint32_t>(channel));
    p[kCorrFrequencyMode] = options_.alternateFrequency ? 1 : 0;
    p[kCorrWaasState] = !options_.waasAvailable ? 2 : (options_.waasOn ? 1 : 0);
    p[kCorrCorrectionsState] = options_.correctionsOn ? 0 : 1;
    QueueFrame(kMsgCorrectionsReport, p, sizeof p, reply);
}

void SimCore::QueueProprietary(std::uint8_t id, std::size_t n) {
    std::uint8_t p[kMaxPayloadLen];
    n = std::min(n, sizeof p);
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<std::uint8_t>(Random());
        p[i] = b == '$' ? static_cast<std::uint8_t>('$' ^ 0x80) : b;
    }
    QueueFrame(id, p, n, false);
}

void SimCore::Schedule(SimTime due, std::string bytes) {
    // Kept in order of time; equal times keep the order they were scheduled in.
    auto at = std::upper_bound(scheduled_.begin(), scheduled_.end(), due,
                               [](SimTime t, const Scheduled& s) { return t < s.due; });
    scheduled_.insert(at, Scheduled{due, std::move(bytes)});
}

// ---------------------------------------------------------------------------------------
// Time

void SimCore::Fix(SimTime now, WallTime wall) {
    using namespace std::chrono;
    const auto period = duration_cast<milliseconds>(FixPeriod()).count();
    const auto wallMs = duration_cast<milliseconds>(wall.time_since_epoch()).count();
    // The fix belongs to the nearest period boundary of the calendar clock.
    const auto fixMs = (wallMs + period / 2) / period * period;
    QueueFix(WallTime(milliseconds(fixMs)), fixMs % 1000 == 0);
    // The next fix at the next boundary after this one.
    nextFix_ = now + milliseconds(fixMs + period - wallMs);
}

void SimCore::QueueFix(WallTime when, bool sysDue) {
    ++fixes_;
    std::vector<std::string> sentences;
    const bool differential = options_.correctionsOn || (options_.waasOn && options_.waasAvailable);
    nmea_.Fix(when, options_.nmeaFlags, options_.otherTalkers, differential, sentences);
    for (const std::string& s : sentences) {
        QueueNoise();
        Queue(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), false);
    }
    const std::uint32_t bin = options_.binaryFlags;
    if (bin & kBinQX) {
        QueueProprietary(kSimIdQX, 40);
    }
    if (bin & kBinGPS) {
        QueueProprietary(kSimIdGPS, 60);
    }
    if (bin & kBinSATS) {
        QueueProprietary(kSimIdSATS, 80);
    }
    if (bin & kBinREFMON) {
        QueueProprietary(kSimIdREFMON, 24);
    }
    if ((bin & kBinSYS) && sysDue) {
        QueueConfigReport(false);
    }
    if (options_.otherBinary) {
        QueueProprietary(kSimIdOther1, 24);
        QueueProprietary(kSimIdOther2, 48);
    }
}

void SimCore::Advance(SimTime now, WallTime wall) {
    if (options_.dead || options_.echo) {
        return;
    }
    UpdateEngine(now);
    if (inRecord_ && now >= RecordDue()) {
        FinishRecord(now);
    }
    std::size_t done = 0;
    while (done < scheduled_.size() && scheduled_[done].due <= now) {
        const std::string& s = scheduled_[done].bytes;
        Queue(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), true);
        ++done;
    }
    scheduled_.erase(scheduled_.begin(), scheduled_.begin() + static_cast<long>(done));
    if (loaderActive_) {
        return;
    }
    if (options_.fillLine) {
        // A fix whenever less than about 50 ms of output waits, so the line never rests.
        const std::size_t lowWater = lineRate_ / 200;
        for (int i = 0; i < 16 && output_.size() < lowWater; ++i) {
            const std::size_t before = output_.size();
            QueueFix(wall, false);
            if (output_.size() == before) {
                break; // nothing enabled, or no room
            }
        }
        fixScheduled_ = false;
        return;
    }
    if (!fixScheduled_) {
        const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(FixPeriod());
        const auto wallMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch());
        nextFix_ = now + (period - wallMs % period);
        fixScheduled_ = true;
    }
    if (now >= nextFix_) {
        Fix(now, wall);
        if (nextFix_ <= now) {
            fixScheduled_ = false; // far behind (a stalled thread): start again from here
        }
    }
}

SimTime SimCore::NextDue() const {
    SimTime due = SimTime::max();
    if (options_.dead || options_.echo) {
        return due;
    }
    if (!scheduled_.empty()) {
        due = std::min(due, scheduled_.front().due);
    }
    if (inRecord_) {
        due = std::min(due, RecordDue());
    }
    if (downloading_) {
        const auto total = std::chrono::milliseconds(options_.engineDownloadMs);
        const SimTime half = downloadStart_ + total / 2;
        due = std::min(due, engineStatus_ == kEngineDownloading1 ? half : downloadStart_ + total);
    }
    if (!loaderActive_ && !options_.fillLine) {
        due = std::min(due, fixScheduled_ ? nextFix_ : SimTime::min());
    }
    return due;
}

SimStatus SimCore::Status() const {
    SimStatus s;
    s.lineRate = lineRate_;
    s.configuredRate = loaderActive_ ? savedRate_ : lineRate_;
    s.loaderActive = loaderActive_;
    s.nmeaFlags = options_.nmeaFlags;
    s.binaryFlags = options_.binaryFlags;
    s.navRate = options_.navRate;
    s.alternateFrequency = options_.alternateFrequency;
    s.channel = options_.alternateFrequency ? options_.channel : kDefaultChannel;
    s.waasState = !options_.waasAvailable ? 2 : (options_.waasOn ? 1 : 0);
    s.correctionsOn = options_.correctionsOn;
    s.engineStatus = engineStatus_;
    s.version = options_.version;
    s.recordCount = records_.size();
    s.recordDigest = digest_.Value();
    s.framesReceived = framesReceived_;
    s.bytesNotUnderstood = bytesNotUnderstood_;
    s.fixes = fixes_;
    s.bytesQueued = bytesQueued_;
    s.powerCycles = powerCycles_;
    return s;
}
