#include "sim/Simengine.h"

SimEngine::SimEngine(const SimOptions& options, SimJournal& journal)
    : options_(options), journal_(journal), version_(options.version) {}

void SimEngine::StartDownload(SimTime now) {
    downloading_ = true;
    installPending_ = false;
    downloadStart_ = now;
    status_ = kEngineDownloading1;
}

void SimEngine::Update(SimTime now) {
    if (!downloading_) {
        return;
    }
    const auto total = std::chrono::milliseconds(options_.engineDownloadMs);
    const auto elapsed = now - downloadStart_;
    if (elapsed >= total) {
        downloading_ = false;
        status_ = options_.engineFailure ? kEngineFailed : kEngineCyclePower;
        installPending_ = !options_.engineFailure;
        journal_.Log(options_.engineFailure ? "GPS engine download failed (status 4)"
                                            : "GPS engine download done: cycle power (status 3)");
    } else {
        status_ = elapsed < total / 2 ? kEngineDownloading1 : kEngineDownloading2;
    }
}

SimTime SimEngine::NextDue() const {
    if (!downloading_) {
        return SimTime::max();
    }
    const auto total = std::chrono::milliseconds(options_.engineDownloadMs);
    return status_ == kEngineDownloading1 ? downloadStart_ + total / 2 : downloadStart_ + total;
}

void SimEngine::PowerCycle() {
    if (downloading_) {
        // Power removed while the engine was taking in its software.
        downloading_ = false;
        status_ = kEngineFailed;
    } else if (status_ == kEngineCyclePower && installPending_) {
        version_ = options_.newVersion;
        status_ = kEngineIdle;
    } else {
        status_ = kEngineIdle;
    }
    installPending_ = false;
}
