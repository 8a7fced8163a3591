#pragma once
// The simulated receiver's GPS engine: its software version and its load status, the
// value the Configuration report carries.
//
// When the loader leaves after an erase, the engine takes in the new software: its load
// status runs 1 for the first half of the download time, 2 ("downloading") for the
// second, and then 3 ("cycle power"), or 4 when the options make the download fail. A
// power cycle brings status 0 and, after a finished download, the new software version;
// power removed during the download leaves status 4 until the next power cycle.

#include "sim/Simjournal.h"
#include "sim/Simoptions.h"

#include <cstdint>

// GPS engine load status values of the Configuration report.
enum SimEngineStatus : std::uint8_t {
    kEngineIdle = 0,
    kEngineDownloading1 = 1,
    kEngineDownloading2 = 2,
    kEngineCyclePower = 3,
    kEngineFailed = 4,
};

class SimEngine {
public:
    // Starts with the options' version; reads the download time, its failure and the
    // version a load installs as it runs.
    SimEngine(const SimOptions& options, SimJournal& journal);
    SimEngine(const SimEngine&) = delete;
    SimEngine& operator=(const SimEngine&) = delete;

    const SimVersion& Version() const { return version_; }
    void SetVersion(const SimVersion& version) { version_ = version; }
    std::uint8_t Status() const { return status_; }

    // The loader has left after an erase: the download begins.
    void StartDownload(SimTime now);
    // Moves the load status on to `now`.
    void Update(SimTime now);
    // When the load status next changes; SimTime::max() when it does not.
    SimTime NextDue() const;
    void PowerCycle();

private:
    const SimOptions& options_;
    SimJournal& journal_;
    SimVersion version_;
    std::uint8_t status_ = kEngineIdle;
    bool downloading_ = false;
    bool installPending_ = false; // a finished download waits for the power cycle
    SimTime downloadStart_{};
};
