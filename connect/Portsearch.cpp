#include "connect/Portsearch.h"

#include "proto/Memoutils.h"

PortSearch::PortSearch(SerialPort& port, Clock& clock, const DeviceList& devices, SearchHost& host)
    : port_(port), clock_(&clock), devices_(devices), host_(host) {}

std::string PortSearch::AttemptText(const std::string& device, std::uint32_t rate) {
    return "Attempting " + device + " at " + std::to_string(rate);
}

void PortSearch::Start(int deviceIndex, int baudIndex) {
    deviceIndex_ = deviceIndex;
    baudIndex_ = baudIndex;
    StartAttempt();
}

bool PortSearch::StartAttempt() {
    // Whatever was open (an earlier attempt, a manual open) makes way for this attempt.
    port_.Close();

    const bool inRange =
        deviceIndex_ >= 0 && static_cast<std::size_t>(deviceIndex_) < devices_.size() &&
        baudIndex_ >= 0 && static_cast<std::size_t>(baudIndex_) < kBaudRates.size();
    // A device that will not open is skipped without a word, at the start second of the
    // attempt before it, and whatever that attempt counted is not this one's.
    if (!inRange ||
        !port_.Open(devices_[static_cast<std::size_t>(deviceIndex_)].c_str(),
                    kBaudRates[static_cast<std::size_t>(baudIndex_)], 0)) {
        if (state_ != State::Idle) {
            state_ = State::Skipping;
        }
        host_.AttemptNotOpened();
        return false;
    }
    const std::string& device = devices_[static_cast<std::size_t>(deviceIndex_)];
    const std::uint32_t rate = kBaudRates[static_cast<std::size_t>(baudIndex_)];
    port_.SetBlocking(false);
    // Whatever the line held before belongs to no attempt of ours.
    port_.Purge();

    host_.AttemptOpened(device, rate, deviceIndex_, baudIndex_);
    host_.ShowAttempt(AttemptText(device, rate));

    std::uint8_t request[kRequestMsgLen + 1];
    const std::uint8_t n = BuildRequestMsg(kMsgConfigReport, request);
    port_.Write(request, n);

    state_ = State::Attempting;
    attemptMessageCount_ = host_.MessageCount();
    attemptStart_ = clock_->Seconds();
    return true;
}

void PortSearch::Check() {
    switch (state_) {
    case State::Idle:
        return;

    case State::Attempting:
    case State::Skipping: {
        const std::int64_t now = clock_->Seconds();
        if (now < attemptStart_) {
            // The calendar clock was set back: count the attempt from now rather than
            // wait for the clock to catch up with a start second in its future.
            attemptStart_ = now;
        }
        if (now - attemptStart_ < kAttemptSeconds) {
            return;
        }
        if (state_ == State::Attempting && host_.MessageCount() != attemptMessageCount_ &&
            host_.LastMessageId() != kEchoMessageId) {
            Stop();
            host_.ReceiverFound(baudIndex_);
            return;
        }
        if (host_.BaudManual()) {
            AdvanceDevice();
            return;
        }
        ++baudIndex_;
        if (static_cast<std::size_t>(baudIndex_) < kBaudRates.size()) {
            StartAttempt();
        } else {
            baudIndex_ = 0;
            AdvanceDevice();
        }
        return;
    }
    }
}

void PortSearch::AdvanceDevice() {
    if (host_.DeviceManual()) {
        NothingFound();
        return;
    }
    ++deviceIndex_;
    if (deviceIndex_ >= 0 && static_cast<std::size_t>(deviceIndex_) < devices_.size()) {
        StartAttempt();
    } else {
        NothingFound();
    }
}

void PortSearch::Stop() {
    state_ = State::Idle;
    host_.HideAttempt();
}

void PortSearch::NothingFound() {
    // Stopped before the note: the ticks that run while the modal note is up find the
    // search idle.
    Stop();
    host_.ReceiverNotFound();
}
