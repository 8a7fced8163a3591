#include "sim/Simreceiver.h"

#include "sim/Simline.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxCapture = 8u << 20;
// The thread wakes at least this often, and never more often than every kMinSleep while
// it is only pacing output, so a burst at a high rate goes out a few bytes at a time.
constexpr auto kMaxSleep = std::chrono::milliseconds(50);
constexpr auto kMinSleep = std::chrono::milliseconds(2);
// While no one holds the slave open, the thread looks this often for the PC side coming
// back (bytes it sends wake the thread at once).
constexpr auto kHangUpPoll = std::chrono::milliseconds(20);
// Bytes on a pseudo-terminal carry no rate, and the thread reads them a little after
// the PC wrote them; a PC that writes and at once reopens at another rate (the loader
// right after "LOADSTAR") has often switched before the bytes are read. So the thread
// notes the PC's rate whenever it looks (while the PC holds the device open, and when it
// finds bytes the PC left behind on closing), and takes bytes as sent at any rate noted
// within this time before they were read, or at the rate in force when that time
// began. Longer than a pass of the thread even on a loaded machine; short beside the
// pauses with which the program changes rates (two seconds between search attempts,
// 200 ms after an output configuration).
constexpr auto kRateWindow = std::chrono::milliseconds(50);

timespec ToTimespec(std::chrono::nanoseconds d) {
    if (d.count() < 0) {
        d = std::chrono::nanoseconds(0);
    }
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(d.count() / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(d.count() % 1'000'000'000);
    return ts;
}

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
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        lastError_ = errno;
        return false;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        lastError_ = errno;
        ::close(master);
        return false;
    }
    // Until the PC side sets its own, the slave is raw at the receiver's rate, so even a
    // plain `cat` of the device shows the sentences. A slave left in its cooked default
    // would also echo the receiver's output straight back at it.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        lastError_ = errno;
        ::close(master);
        return false;
    }
    termios t{};
    if (tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        speed_t speed;
        if (SpeedFromRate(core_.LineRate(), speed)) {
            cfsetispeed(&t, speed);
            cfsetospeed(&t, speed);
        }
        tcsetattr(slave, TCSANOW, &t);
    }
    ::close(slave);
    const int flags = fcntl(master, F_GETFL);
    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event masterEvent{};
    masterEvent.events = EPOLLIN | EPOLLET;
    masterEvent.data.fd = master;
    epoll_event wakeEvent{};
    wakeEvent.events = EPOLLIN;
    wakeEvent.data.fd = wake;
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 || wake < 0 || ep < 0 ||
        epoll_ctl(ep, EPOLL_CTL_ADD, master, &masterEvent) != 0 ||
        epoll_ctl(ep, EPOLL_CTL_ADD, wake, &wakeEvent) != 0) {
        lastError_ = errno;
        for (int fd : {ep, wake, master}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        return false;
    }
    master_ = master;
    wake_ = wake;
    epoll_ = ep;
    path_ = name;
    pcRates_.clear();
    stop_ = false;
    hungUp_ = true;
    txBusy_ = false;
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
    ::close(master_);
    ::close(wake_);
    ::close(epoll_);
    master_ = -1;
    wake_ = -1;
    epoll_ = -1;
    running_ = false;
    changed_.notify_all();
}

bool SimReceiver::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::string SimReceiver::DevicePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

int SimReceiver::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

void SimReceiver::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
}

std::uint32_t SimReceiver::PcRate() const {
    termios t{};
    if (master_ < 0 || tcgetattr(master_, &t) != 0) {
        return 0;
    }
    return RateFromSpeed(cfgetospeed(&t));
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
            if (txBusy_) {
                next = std::min(next, std::max(nextTxDone_, now + kMinSleep));
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
        // The master is watched edge-triggered: a hang-up would otherwise be reported on
        // every wait and keep the thread spinning while no one holds the slave open. The
        // PC opening the slave raises no event, so while hung up the thread looks again
        // every kHangUpPoll.
        if (hungUp) {
            sleep = std::min<std::chrono::nanoseconds>(sleep, kHangUpPoll);
        }
        epoll_event events[2];
        const timespec ts = ToTimespec(sleep);
        const int ready = epoll_pwait2(epoll_, events, 2, &ts, nullptr);
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.fd == wake_) {
                std::uint64_t count;
                [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
            }
        }
        // The master's state as it is now: open or hung up, and whether bytes wait.
        pollfd master{master_, POLLIN, 0};
        poll(&master, 1, 0);
        now = SimClock::now();
        // Bytes still waiting when the PC has closed again were sent at the latest at the
        // rate it left behind (no one can change it without opening the device, which
        // ends the hang-up): a PC that reopens at another rate, writes and closes while
        // this thread is held up would otherwise be judged by rates it no longer had.
        if ((master.revents & POLLHUP) == 0 || (master.revents & POLLIN) != 0) {
            NotePcRate(now);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        hungUp_ = (master.revents & POLLHUP) != 0;
        if (master.revents & POLLIN) {
            for (;;) {
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n <= 0) {
                    break; // EAGAIN: all read (which re-arms the edge); EIO: the PC has gone
                }
                TakeIn(buffer, static_cast<std::size_t>(n), now);
            }
        }
    }
}

void SimReceiver::NotePcRate(SimTime now) {
    const std::uint32_t rate = PcRate();
    std::lock_guard<std::mutex> lock(mutex_);
    pcRates_.push_back({now, rate});
    // Keep the window and the last sample before it (the rate in force at its start).
    while (pcRates_.size() > 1 && pcRates_[1].first < now - kRateWindow) {
        pcRates_.pop_front();
    }
}

bool SimReceiver::PcRateSeen(std::uint32_t rate) const {
    if (pcRates_.empty()) {
        // The PC opened, wrote and closed again before the thread could look: the rate
        // it left behind is the best guess there is.
        return PcRate() == rate;
    }
    for (const auto& sample : pcRates_) {
        if (sample.second == rate) {
            return true;
        }
    }
    return false;
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
        const std::uint32_t line = core_.LineRate();
        if (!PcRateSeen(line)) {
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
    if (hungUp_ && !out.empty()) {
        // No one at the other end: the line runs on, but what it carries is lost anyway.
        out.clear();
    }
    if (out.empty()) {
        txBusy_ = false;
        return;
    }
    if (!txBusy_) {
        nextTxDone_ =
            std::max(now, lineFree_) + std::chrono::nanoseconds(ByteTimeNs(core_.LineRate()));
        txBusy_ = true;
    }
    chunk_.clear();
    while (!out.empty() && nextTxDone_ <= now) {
        chunk_.push_back(out.front());
        out.pop_front();
        lineFree_ = nextTxDone_;
        nextTxDone_ += std::chrono::nanoseconds(ByteTimeNs(core_.LineRate()));
    }
    if (out.empty()) {
        txBusy_ = false;
    }
    if (!chunk_.empty()) {
        WriteLine(chunk_.data(), chunk_.size());
    }
}

void SimReceiver::WriteLine(const std::uint8_t* data, std::size_t n) {
    if (hungUp_) {
        return; // no one at the other end: lost, as on an unplugged cable
    }
    if (capture_ && captured_.size() + n <= kMaxCapture) {
        captured_.insert(captured_.end(), data, data + n);
    }
    const std::uint32_t pcRate = PcRate();
    if (!core_.Echo() && pcRate != core_.LineRate()) {
        garbled_.clear();
        GarbleForRate(data, n, core_.LineRate(), pcRate, garbled_);
        data = garbled_.data();
        n = garbled_.size();
    }
    while (n > 0) {
        const ssize_t w = ::write(master_, data, n);
        if (w <= 0) {
            break; // the PC's input queue is full: the rest is lost as on an overrun
        }
        data += w;
        n -= static_cast<std::size_t>(w);
    }
}

// ---------------------------------------------------------------------------------------
// Control

void SimReceiver::PowerCycle() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        core_.PowerCycle(SimClock::now());
        txBusy_ = false;
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

void SimReceiver::SetNmeaFlags(std::uint32_t flags) {
    Configure([flags](SimOptions& o) { o.nmeaFlags = flags; });
}

void SimReceiver::SetBinaryFlags(std::uint32_t flags) {
    Configure([flags](SimOptions& o) { o.binaryFlags = flags; });
}

void SimReceiver::SetNavRate(std::uint8_t rate) {
    if (rate == 1 || rate == 5) {
        Configure([rate](SimOptions& o) { o.navRate = rate; });
    }
}

void SimReceiver::SetVersion(const SimVersion& version, const SimVersion& newVersion) {
    Configure([&](SimOptions& o) {
        o.version = version;
        o.newVersion = newVersion;
    });
}

void SimReceiver::SetDead(bool dead) {
    Configure([dead](SimOptions& o) { o.dead = dead; });
}

void SimReceiver::SetEcho(bool echo) {
    Configure([echo](SimOptions& o) { o.echo = echo; });
}

void SimReceiver::SetNoise(bool noise) {
    Configure([noise](SimOptions& o) { o.noise = noise; });
}

void SimReceiver::SetNoPrompt(bool noPrompt) {
    Configure([noPrompt](SimOptions& o) { o.noPrompt = noPrompt; });
}

void SimReceiver::SetDropAck(std::uint32_t record, bool always) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.SetDropAck(record, always);
}

void SimReceiver::SetAckDelay(std::uint32_t ms) {
    Configure([ms](SimOptions& o) { o.ackDelayMs = ms; });
}

void SimReceiver::SetAckText(const std::string& text) {
    Configure([&text](SimOptions& o) { o.ackText = text; });
}

void SimReceiver::SetFillLine(bool on) {
    Configure([on](SimOptions& o) { o.fillLine = on; });
}

void SimReceiver::SetEngineFailure(bool fail) {
    Configure([fail](SimOptions& o) { o.engineFailure = fail; });
}

void SimReceiver::SetWaasAvailable(bool available) {
    Configure([available](SimOptions& o) { o.waasAvailable = available; });
}

void SimReceiver::SetOtherTalkers(bool on) {
    Configure([on](SimOptions& o) { o.otherTalkers = on; });
}

void SimReceiver::SetOtherBinary(bool on) {
    Configure([on](SimOptions& o) { o.otherBinary = on; });
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
    s.pcRate = PcRate();
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
