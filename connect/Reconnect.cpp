#include "connect/Reconnect.h"

#include "serial/Netport.h"

#include <algorithm>

Reconnector::Reconnector(SerialPort& port, Clock& clock) : port_(port), clock_(&clock) {}

void Reconnector::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled) {
        Cancel();
    }
}

bool Reconnector::Start(const std::string& device, std::uint32_t rate) {
    Cancel();
    if (!enabled_ || device.empty() || port_.IsOpen()) {
        return false;
    }
    device_ = device;
    rate_ = rate;
    network_ = NetPort::IsNetworkName(device.c_str());
    interval_ = kRetryMs;
    nextTry_ = clock_->Milliseconds() + interval_;
    watching_ = true;
    return true;
}

void Reconnector::Cancel() {
    watching_ = false;
}

Reconnector::Result Reconnector::Check() {
    if (!watching_) {
        return Result::Idle;
    }
    if (port_.IsOpen()) {
        // Opened by someone else meanwhile: not ours to reopen any more.
        Cancel();
        return Result::Idle;
    }
    const std::int64_t now = clock_->Milliseconds();
    // A clock set back must not put the next try hours away.
    nextTry_ = std::min(nextTry_, now + interval_);
    if (now < nextTry_) {
        return Result::Waiting;
    }
    if (port_.Open(device_.c_str(), rate_, 0)) {
        port_.SetBlocking(false);
        watching_ = false;
        return Result::Reopened;
    }
    if (network_) {
        interval_ = std::min(interval_ * 2, kNetworkRetryMaxMs);
    }
    nextTry_ = now + interval_;
    return Result::Waiting;
}
