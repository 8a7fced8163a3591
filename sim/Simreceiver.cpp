#include "sim/Simreceiver.h"

#include "sim/Simline.h"

#include <algorithm>
#include <deque>
#include <utility>

namespace {

constexpr std::size_t kMaxCapture = 8u << 20;
// The thread wakes at least this often, and never more often than every kMinSleep while
// it is only pacing output, so a burst at a high rate goes out a few bytes at a time.
constexpr auto kMaxSleep = std::chrono::milliseconds(50);
constexpr auto kMinSleep = std::chrono::milliseconds(2);
// While no one holds the slave open, the thread looks this often for the PC side coming
// back (bytes it sends wake the thread at once).
constexpr auto kHangUpPoll = std::chrono::milliseconds(20);

} // namespace

SimReceiver::SimReceiver(const SimOptions& options) : core_(options) {}

SimReceiver::~SimReceiver() {
    Stop();
}

bool SimReceiver::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) {
        return true;
    }
    if (!pty_.Open(core_.LineRate(), lastError_)) {
        return false;
    }
    pcRates_.Clear();
    stop_ = false;
    hungUp_ = true;
    pacer_.Stop();
    running_ = true;
    thread_ = std::thread(&SimReceiver::Run, this);
    return true;
}

void SimReceiver::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) {
            return;
        }
        stop_ = true;
    }
    Wake();
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    pty_.Close();
    running_ = false;
    changed_.notify_all();
}

bool SimReceiver::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::string SimReceiver::DevicePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pty_.Path();
}

int SimReceiver::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

void SimReceiver::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    pty_.Wake();
}

// ---------------------------------------------------------------------------------------
// The receiver's thread

void SimReceiver::Run() {
    std::uint8_t buffer[4096];
    for (;;) {
        SimTime now = SimClock::now();
        std::chrono::nanoseconds sleep;
        std::vector<std::string> log;
        bool hungUp;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) {
                break;
            }
            core_.Advance(now, std::chrono::system_clock::now());
            TransmitDue(now);
            SimTime next = core_.NextDue();
            if (pacer_.Busy()) {
                next = std::min(next, std::max(pacer_.NextDone(), now + kMinSleep));
            }
            sleep = next <= now ? std::chrono::nanoseconds(0)
                                : std::min<std::chrono::nanoseconds>(next - now, kMaxSleep);
            hungUp = hungUp_;
            log = core_.TakeLog();
        }
        changed_.notify_all();
        if (!log.empty()) {
            std::lock_guard<std::mutex> lock(sinkMutex_);
            if (sink_) {
                for (const std::string& line : log) {
                    sink_(line);
                }
            }
        }

        if (!hungUp) {
            NotePcRate(SimClock::now());
        }
        // Opening the slave raises no event: while hung up, look again every kHangUpPoll.
        if (hungUp) {
            sleep = std::min<std::chrono::nanoseconds>(sleep, kHangUpPoll);
        }
        const SimPty::State master = pty_.Wait(sleep);
        now = SimClock::now();
        // Bytes still waiting when the PC has closed again were sent at the latest at the
        // rate it left behind (no one can change it without opening the device, which
        // ends the hang-up): a PC that reopens at another rate, writes and closes while
        // this thread is held up would otherwise be judged by rates it no longer had.
        if (!master.hungUp || master.readable) {
            NotePcRate(now);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        hungUp_ = master.hungUp;
        if (master.readable) {
            for (;;) {
                const ssize_t n = pty_.Read(buffer, sizeof buffer);
                if (n <= 0) {
                    break; // EAGAIN: all read (which re-arms the edge); EIO: the PC has gone
                }
                TakeIn(buffer, static_cast<std::size_t>(n), now);
            }
        }
    }
}

void SimReceiver::NotePcRate(SimTime now) {
    const std::uint32_t rate = pty_.PcRate();
    std::lock_guard<std::mutex> lock(mutex_);
    pcRates_.Note(now, rate);
}

void SimReceiver::TakeIn(const std::uint8_t* data, std::size_t n, SimTime now) {
    if (core_.Echo()) {
        // A loopback plug knows no rates: the PC reads back exactly what it wrote.
        WriteLine(data, n);
        return;
    }
    if (core_.Dead()) {
        return;
    }
    std::size_t pos = 0;
    while (pos < n) {
        if (!pcRates_.Seen(core_.LineRate())) {
            core_.NotUnderstood(n - pos);
            break;
        }
        // Receive stops after a byte that changed the line rate; the rest is checked
        // against the new rate.
        pos += core_.Receive(data + pos, n - pos, now);
    }
}

void SimReceiver::TransmitDue(SimTime now) {
    std::deque<std::uint8_t>& out = core_.Output();
    if (hungUp_) {
        // No one at the other end: the line runs on, but what it carries is lost anyway.
        out.clear();
    }
    const std::vector<std::uint8_t>& chunk = pacer_.Take(out, now, core_.LineRate());
    if (!chunk.empty()) {
        WriteLine(chunk.data(), chunk.size());
    }
}

void SimReceiver::WriteLine(const std::uint8_t* data, std::size_t n) {
    if (hungUp_) {
        return; // no one at the other end: lost, as on an unplugged cable
    }
    if (capture_ && captured_.size() + n <= kMaxCapture) {
        captured_.insert(captured_.end(), data, data + n);
    }
    const std::uint32_t pcRate = pty_.PcRate();
    if (!core_.Echo() && pcRate != core_.LineRate()) {
        garbled_.clear();
        GarbleForRate(data, n, core_.LineRate(), pcRate, garbled_);
        data = garbled_.data();
        n = garbled_.size();
    }
    pty_.Write(data, n);
}

// ---------------------------------------------------------------------------------------
// Control

void SimReceiver::PowerCycle() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        core_.PowerCycle(SimClock::now());
        pacer_.Stop();
    }
    Wake();
}

void SimReceiver::Configure(const std::function<void(SimOptions&)>& change) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        core_.Configure(change);
    }
    Wake();
}

void SimReceiver::SetBaudRate(std::uint32_t rate) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        core_.SetLineRate(rate);
    }
    Wake();
}

void SimReceiver::SetNavRate(std::uint8_t rate) {
    if (rate == 1 || rate == 5) {
        SetOption(&SimOptions::navRate, rate);
    }
}

void SimReceiver::SetVersion(const SimVersion& version, const SimVersion& newVersion) {
    Configure([&](SimOptions& o) {
        o.version = version;
        o.newVersion = newVersion;
    });
}

void SimReceiver::SetDropAck(std::uint32_t record, bool always) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.SetDropAck(record, always);
}

void SimReceiver::SendRaw(const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        core_.SendRaw(bytes.data(), bytes.size());
    }
    Wake();
}

// ---------------------------------------------------------------------------------------
// Looking inside

SimStatus SimReceiver::StatusLocked() const {
    SimStatus s = core_.Status();
    s.pcRate = pty_.PcRate();
    s.pcOpen = running_ && !hungUp_;
    return s;
}

SimStatus SimReceiver::Status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return StatusLocked();
}

std::vector<SimEvent> SimReceiver::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.Events();
}

void SimReceiver::ClearEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.ClearEvents();
}

std::vector<std::vector<std::uint8_t>> SimReceiver::ReceivedFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::vector<std::uint8_t>> frames;
    for (const SimEvent& e : core_.Events()) {
        if (e.kind == SimEvent::Frame) {
            frames.push_back(e.bytes);
        }
    }
    return frames;
}

std::vector<std::string> SimReceiver::ReceivedTexts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> texts;
    for (const SimEvent& e : core_.Events()) {
        if (e.kind == SimEvent::Text) {
            texts.emplace_back(e.bytes.begin(), e.bytes.end());
        }
    }
    return texts;
}

std::vector<SimRecord> SimReceiver::Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.Records();
}

void SimReceiver::SetCaptureOutput(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    capture_ = on;
}

std::vector<std::uint8_t> SimReceiver::CapturedOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return captured_;
}

void SimReceiver::ClearCapturedOutput() {
    std::lock_guard<std::mutex> lock(mutex_);
    captured_.clear();
}

bool SimReceiver::WaitUntil(const std::function<bool(const SimStatus&)>& predicate,
                            std::chrono::milliseconds timeout) const {
    const auto deadline = SimClock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (predicate(StatusLocked())) {
            return true;
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            return predicate(StatusLocked());
        }
    }
}

void SimReceiver::SetLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(sinkMutex_);
    sink_ = std::move(sink);
}
