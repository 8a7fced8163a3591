#pragma once
// A simulated receiver on a pseudo-terminal of its own, set up as a test wants it;
// null when it could not be started.

#include "sim/Simreceiver.h"

#include <functional>
#include <memory>

inline std::unique_ptr<SimReceiver> StartSim(const std::function<void(SimOptions&)>& setup = {}) {
    SimOptions options;
    if (setup)
        setup(options);
    auto sim = std::make_unique<SimReceiver>(options);
    if (!sim->Start())
        return nullptr;
    return sim;
}
