#include "loader/Afterload.h"

namespace {

// GPS engine load status of the Configuration report.
constexpr std::uint8_t kEngineIdle = 0;
constexpr std::uint8_t kEngineDownloading1 = 1;
constexpr std::uint8_t kEngineDownloading2 = 2;
constexpr std::uint8_t kEngineCyclePower = 3;
constexpr std::uint8_t kEngineFailed1 = 4;
constexpr std::uint8_t kEngineFailed2 = 12;

} // namespace

void AfterLoadDialogue::Restart() {
    loadEnded_ = false;
    powerCyclePending_ = false;
    confirmRequested_ = false;
    if (restore_ == Restore::UntilDone) {
        restore_ = Restore::Once; // "Done" cannot come any more
    }
}

void AfterLoadDialogue::LoadStarting() {
    savedKnown_ = flagsKnown_;
    savedBinary_ = binaryFlags_;
    savedNmea_ = nmeaFlags_;
    loadEnded_ = false;
    powerCyclePending_ = false;
    confirmRequested_ = false;
    restore_ = Restore::None;
}

OutputConfiguration AfterLoadDialogue::LoadEnded(LoadOutcome outcome) {
    loadEnded_ = outcome == LoadOutcome::Completed;
    powerCyclePending_ = false;
    confirmRequested_ = false;
    if (!savedKnown_) {
        restore_ = Restore::None;
        return {};
    }
    restore_ = loadEnded_ ? Restore::UntilDone : Restore::Once;
    return {true, savedBinary_ | kBinSYS, savedNmea_};
}

void AfterLoadDialogue::RequestPressed() {
    if (powerCyclePending_) {
        powerCyclePending_ = false;
        confirmRequested_ = true;
    }
}

OutputConfiguration AfterLoadDialogue::PutBackNow() {
    if (restore_ == Restore::None) {
        return {};
    }
    restore_ = Restore::None;
    return {true, savedBinary_, savedNmea_};
}

ReportReaction AfterLoadDialogue::OnReport(const ConfigurationReport& report) {
    flagsKnown_ = true;
    binaryFlags_ = report.binaryFlags;
    nmeaFlags_ = report.nmeaFlags;

    ReportReaction reaction;
    bool restores = false; // the report may put the outputs back
    bool done = false;
    switch (report.engineLoadStatus) {
    case kEngineIdle:
        if (loadEnded_) {
            loadEnded_ = false;
            reaction.status = "Cycle Power Now";
            powerCyclePending_ = true;
        }
        if (confirmRequested_) {
            confirmRequested_ = false;
            reaction.status = "Done";
            done = true;
        }
        restores = true;
        break;
    case kEngineDownloading1:
    case kEngineDownloading2:
        // SYS stays on while the engine downloads, so its progress keeps coming.
        reaction.status = "Downloading to GPS Engine";
        break;
    case kEngineCyclePower:
        reaction.status = "Cycle Power Now";
        restores = true;
        break;
    case kEngineFailed1:
    case kEngineFailed2:
        reaction.status = "Failed GPS Engine download";
        restores = true;
        break;
    default:
        break;
    }
    if (restores && restore_ != Restore::None) {
        if (restore_ == Restore::Once || done) {
            reaction.outputs = {true, savedBinary_, savedNmea_};
            restore_ = Restore::None;
        } else {
            // SYS stays on until "Done": after the power cycle the idle status must
            // come by itself to ask for the Request.
            reaction.outputs = {true, savedBinary_ | kBinSYS, savedNmea_};
        }
    }
    return reaction;
}
