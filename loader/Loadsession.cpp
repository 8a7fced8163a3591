#include "loader/Loadsession.h"

#include "proto/Port.h"

LoadSession::LoadSession(SerialPort& port, Clock& clock, LoadView& view)
    : port_(port), view_(view), sequence_(port, clock) {
    InstallHooks({});
}

void LoadSession::SetClock(Clock& clock, std::function<void(int)> pause) {
    sequence_.SetClock(clock);
    InstallHooks(std::move(pause));
}

void LoadSession::InstallHooks(std::function<void(int)> pause) {
    LoadSequence::Hooks hooks;
    hooks.ShowStatus = [this](const char* text) { view_.ShowStatus(text); };
    hooks.ReopenPort = [this](std::uint32_t rate) { ReopenPort(rate); };
    hooks.EndLoad = [this] { EndLoad(); };
    hooks.Pause = std::move(pause);
    sequence_.SetHooks(hooks);
}

bool LoadSession::OpenFile(const std::string& fileName) {
    return sequence_.OpenSoftwareFile(fileName);
}

bool LoadSession::Begin(std::uint32_t savedBaudRate) {
    if (port_.RateFixed()) {
        view_.ShowStatus(kFixedRateLoadText);
        return false;
    }
    afterLoad_.LoadStarting();
    outcome_ = LoadOutcome::None;
    view_.LoadStarted();
    active_ = true;
    sequence_.Start(savedBaudRate);
    return true;
}

void LoadSession::Cancel() {
    if (!active_) {
        return;
    }
    view_.ShowStatus("Cancelled");
    EndLoad();
}

void LoadSession::EndLoad() {
    // Every path out of a load comes here; only the first restores anything.
    if (!active_) {
        return;
    }
    active_ = false;
    const std::uint32_t savedBaudRate = sequence_.SavedRate();
    const bool lineGone = sequence_.LineGone();
    sequence_.Finish();
    outcome_ = sequence_.Outcome();
    view_.LoadEnded();

    // The device may have gone: nothing is reopened then, and the port stays closed.
    const LoadPortEnd end = RestoreLoadPort(port_, PortDeviceName, savedBaudRate, lineGone);
    if (end == LoadPortEnd::ReopenFailed) {
        view_.ShowStatus("Error Changing Baud Rate");
    }
    view_.PortRestored(end);
    // Outputs back with SYS on in addition, so the engine's status keeps coming.
    SendEndOfLoadFrames(port_, afterLoad_.LoadEnded(outcome_), view_.OutputsRate());
}

void LoadSession::OnReport(const ConfigurationReport& report) {
    const ReportReaction reaction = afterLoad_.OnReport(report);
    if (reaction.status != nullptr) {
        view_.ShowEngineStatus(reaction.status);
    }
    WriteOutputConfiguration(port_, reaction.outputs, view_.OutputsRate());
}

bool LoadSession::PutOutputsBackNow() {
    const OutputConfiguration outputs = afterLoad_.PutBackNow();
    WriteOutputConfiguration(port_, outputs, view_.OutputsRate());
    return outputs.send;
}

void LoadSession::RequestPressed() {
    afterLoad_.RequestPressed();
    RequestStatus();
}

void LoadSession::RequestStatus() {
    RequestConfigurationReport(port_);
}

void LoadSession::ReopenPort(std::uint32_t rate) {
    // The device that is open, not the one last selected in the Open Port dialog: a
    // search may have found the receiver on another.
    if (!ReopenLoadPort(port_, PortDeviceName, rate)) {
        view_.ShowStatus("Error Changing Baud Rate");
    }
}
