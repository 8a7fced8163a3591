#include "sim/Simpcrates.h"

namespace {

constexpr auto kRateWindow = std::chrono::milliseconds(50);

} // namespace

void SimPcRates::Note(SimTime now, std::uint32_t rate) {
    rates_.push_back({now, rate});
    // Keep the window and the last sample before it (the rate in force at its start).
    while (rates_.size() > 1 && rates_[1].first < now - kRateWindow) {
        rates_.pop_front();
    }
}

bool SimPcRates::Seen(std::uint32_t rate) const {
    if (rates_.empty()) {
        // The PC opened, wrote and closed again before the thread could look: the rate
        // it left behind is the best guess there is.
        return pty_.PcRate() == rate;
    }
    for (const auto& sample : rates_) {
        if (sample.second == rate) {
            return true;
        }
    }
    return false;
}
