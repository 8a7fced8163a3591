#include "cli/Session.h"

#include "base/Clock.h"
#include "cli/Interrupt.h"
#include "connect/Opennote.h"
#include "connect/Portsearch.h"
#include "proto/Port.h"
#include "proto/Replay.h"

#include <cstdlib>
#include <memory>
#include <thread>

void Traffic::FrameReceived(const std::uint8_t* frame, std::size_t length) {
    count.CountFrame(frame, length);
    const int n = static_cast<int>(length);
    if (DecodeConfigurationSettings(frame, n, static_cast<std::uint32_t>(PortBaudRate), settings)) {
        configSeen = true;
        versionKnown = ReadConfigurationReport(frame, n, config);
    } else if (DecodeCorrectionsSettings(frame, n, settings)) {
        correctionsSeen = true;
    }
}

void Traffic::LineReceived(const std::uint8_t* line, std::size_t length) {
    sentenceReceived = count.CountLine(line, length, sentence);
}

void Traffic::ForgetReports() {
    configSeen = false;
    correctionsSeen = false;
    versionKnown = false;
}

TickEnd RunTicks(Traffic& traffic, const std::function<bool()>& done,
                 std::chrono::milliseconds limit, bool watchHangUp,
                 const std::function<void()>& afterTick) {
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    for (;;) {
        const bool wasOpen = CommPort.IsOpen();
        const bool read = ReceiveTick(traffic);
        if (afterTick) {
            afterTick();
        }
        if (done()) {
            return TickEnd::Done;
        }
        if (watchHangUp && wasOpen && !read) {
            return TickEnd::DeviceGone;
        }
        next += kTick;
        if (next - start > limit) {
            return TickEnd::TimedOut;
        }
        std::this_thread::sleep_until(next);
    }
}

DeviceList ListDevices() {
    DeviceList devices;
#ifdef _WIN32
    OfferedSerialDevices(devices);
#else
    const char* sysfs = std::getenv(kSysfsTtyVariable);
    const std::string root = sysfs != nullptr && *sysfs != '\0' ? sysfs : kDefaultSysfsTtyRoot;
    OfferedSerialDevices(devices, root);
#endif
    return devices;
}

namespace {

const char* const kNoDeviceText = "No serial device was found to open.";

// The search as the command line shows it: each attempt a line on standard error, the
// outcome kept for the caller.
//
// Unlike the Open Port window, whose search does not begin when its first device will
// not open, the command line names such a device with the reason and goes on with the
// next one: a busy or forbidden /dev/ttyS0 first in the list must not hide a receiver
// on the device after it. A device that will not open later in the search is named the
// same way, once, while the search skips its rates.
class CliSearchHost : public SearchHost {
public:
    CliSearchHost(bool deviceManual, bool baudManual, const Traffic& traffic,
                  const DeviceList& devices, std::ostream& err)
        : deviceManual_(deviceManual), baudManual_(baudManual), traffic_(traffic),
          devices_(devices), err_(err) {}

    // The search whose attempts are reported; set once it is made.
    void Watch(const PortSearch& search) { search_ = &search; }

    bool DeviceManual() const override { return deviceManual_; }
    bool BaudManual() const override { return baudManual_; }
    std::int32_t MessageCount() const override { return traffic_.count.MessageCount(); }
    int LastMessageId() const override { return traffic_.count.LastMessageId(); }
    void AttemptOpened(const std::string& device, std::uint32_t rate, int, int) override {
        PortDeviceName = device;
        PortBaudRate = static_cast<std::int32_t>(rate);
    }
    void AttemptNotOpened() override {
        if (search_ == nullptr) {
            return;
        }
        const int index = search_->DeviceIndex();
        if (index < 0 || static_cast<std::size_t>(index) >= devices_.size() ||
            index == reportedIndex_) {
            return;
        }
        reportedIndex_ = index;
        const std::string& device = devices_[static_cast<std::size_t>(index)];
        err_ << OpenFailureNote(device, static_cast<int>(CommPort.lastError()),
                                CommPort.errorText())
             << std::endl;
        if (!deviceManual_) {
            err_ << "Skipping " << device << "." << std::endl;
        }
    }
    void ShowAttempt(const std::string& text) override { err_ << text << std::endl; }
    void HideAttempt() override {}
    void ReceiverFound(int) override { found = true; }
    void ReceiverNotFound() override { notFound = true; }

    bool found = false;
    bool notFound = false;

private:
    bool deviceManual_;
    bool baudManual_;
    const Traffic& traffic_;
    const DeviceList& devices_;
    std::ostream& err_;
    const PortSearch* search_ = nullptr;
    int reportedIndex_ = -1;
};

int BaudIndex(std::uint32_t rate) {
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (kBaudRates[i] == rate) {
            return static_cast<int>(i);
        }
    }
    return kDefaultBaudIndex;
}

} // namespace

bool SearchReceiver(const DeviceList& devices, bool deviceManual, const PortChoice& choice,
                    Traffic& traffic, std::ostream& err) {
    if (devices.empty()) {
        err << kNoDeviceText << std::endl;
        return false;
    }
    CliSearchHost host(deviceManual, choice.baudGiven, traffic, devices, err);
    PortSearch search(CommPort, SystemClock(), devices, host);
    host.Watch(search);
    // A search begins at the first device that opens.
    const int firstBaud = choice.baudGiven ? BaudIndex(choice.baud) : 0;
    for (std::size_t d = 0; d < devices.size() && !search.Searching(); ++d) {
        search.Start(static_cast<int>(d), firstBaud);
        if (deviceManual) {
            break;
        }
    }
    if (search.Searching()) {
        // Each attempt lasts at most a little over two seconds; the limit only guards
        // against a search that never ends.
        const auto limit = std::chrono::seconds(4 * (kAttemptSeconds + 1) *
                                                static_cast<std::int64_t>(devices.size() + 1));
        RunTicks(
            traffic, [&] { return !search.Searching(); }, limit, false, [&] { search.Check(); });
        search.Stop();
    }
    if (!host.found) {
        err << "Failed to find unit." << std::endl;
        return false;
    }
    return true;
}

bool OpenConnection(const PortChoice& choice, Traffic& traffic, std::ostream& err) {
    if (choice.autoDevice) {
        return SearchReceiver(ListDevices(), false, choice, traffic, err);
    }
    std::string device = choice.device;
    if (!choice.deviceGiven) {
        // As the Open Port dialog starts: the first device listed.
        const DeviceList devices = ListDevices();
        if (devices.empty()) {
            err << kNoDeviceText << std::endl;
            return false;
        }
        device = devices.front();
    }
    CommPort.Close();
    if (!CommPort.Open(device.c_str(), choice.baud, 0)) {
        err << OpenFailureNote(device, static_cast<int>(CommPort.lastError()),
                               CommPort.errorText())
            << std::endl;
        return false;
    }
    CommPort.SetBlocking(false);
    PortDeviceName = device;
    PortBaudRate = static_cast<std::int32_t>(choice.baud);
    if (CommPort.RateFixed()) {
        err << device << ": the line's rate is fixed by its server; " << choice.baud
            << " baud is only what is assumed. Settings and loads need rfc2217://." << std::endl;
    }
    return true;
}

bool ReadReports(Traffic& traffic, std::ostream& err) {
    traffic.ForgetReports();
    SendSettingsRequests(CommPort);
    const TickEnd end = RunTicks(
        traffic, [&] { return traffic.configSeen && traffic.correctionsSeen; }, kReportWait);
    if (end == TickEnd::Done) {
        return true;
    }
    if (end == TickEnd::DeviceGone) {
        err << "The device " << PortDeviceName << " went away." << std::endl;
        return false;
    }
    err << "No ";
    if (!traffic.configSeen && !traffic.correctionsSeen) {
        err << "report";
    } else {
        err << (traffic.configSeen ? "Corrections status report" : "Configuration report");
    }
    err << " from the receiver on " << PortDeviceName << " at " << PortBaudRate << " baud."
        << std::endl;
    return false;
}

namespace {

// At most this much of a recording goes through in one tick: at speed 1 a tick needs
// a few hundred bytes, and as fast as possible this is one block between looks at
// done() and Ctrl-C.
constexpr std::size_t kReplayBlockBytes = 64 * 1024;

} // namespace

bool OpenReplay(const std::string& file, double speed, std::ostream& err) {
    std::string error;
    std::unique_ptr<ReplayFile> replay = ReplayFile::Open(file, SystemClock(), error);
    if (!replay) {
        err << error << std::endl;
        return false;
    }
    replay->SetSpeed(speed);
    CommPort.Close();
    if (!CommPort.OpenSource(std::move(replay), file.c_str())) {
        err << "Cannot replay " << file << "." << std::endl;
        return false;
    }
    CommPort.SetBlocking(false);
    // The recording starts clean, not inside whatever a port before it left half-way.
    DiagFramer.Reset();
    LineFramer.Reset();
    PortDeviceName = file;
    return true;
}

TickEnd RunReplay(Traffic& traffic, const std::function<bool()>& done,
                  const std::function<void()>& afterTick) {
    const auto* replay = dynamic_cast<const ReplayFile*>(CommPort.Source());
    if (replay == nullptr) {
        return TickEnd::DeviceGone;
    }
    const bool fast = replay->Speed() <= 0;
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        const PollResult result =
            PollPortMany(CommPort, DiagFramer, LineFramer, RxBuffer, traffic, kReplayBlockBytes);
        if (afterTick) {
            afterTick();
        }
        if (result != PollResult::Polled) {
            return TickEnd::DeviceGone; // the file could not be read; the port is closed
        }
        if (done() || Interrupted() || replay->Finished()) {
            return TickEnd::Done;
        }
        if (!fast) {
            next += kTick;
            std::this_thread::sleep_until(next);
        }
    }
}
