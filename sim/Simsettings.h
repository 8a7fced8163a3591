#pragma once
// The simulated receiver's settings, held as one value: the port's baud rate, the NMEA
// and binary output flags, the navigation rate, WAAS, corrections, the frequency mode and
// the correction channel. They are what the Output configuration, Corrections and
// Navigation rate commands change and what the two reports show; a power cycle keeps
// them, as a receiver keeps them in its memory.
//
// The baud rate is the port's configured rate. While the loader runs the line is at the
// loader's own rate (sim/Simloader.h) and comes back to this one when it leaves.

#include <chrono>
#include <cstdint>

// The correction channel of the default frequency (1545.5 MHz).
inline constexpr std::int32_t kDefaultChannel = 41000;

struct SimSettings {
    std::uint32_t baudRate = 19200;
    std::uint8_t navRate = 1;
    std::uint32_t nmeaFlags = 0x1F;
    std::uint32_t binaryFlags = 0;
    bool alternateFrequency = false;
    std::int32_t channel = kDefaultChannel;
    bool waasOn = true;
    bool correctionsOn = true;

    // The channel in force: the default frequency's unless the alternate one is chosen.
    std::int32_t ChannelInForce() const { return alternateFrequency ? channel : kDefaultChannel; }
    // WAAS as the Corrections status report gives it: 1 on, 0 off, 2 not available
    // (a receiver without it, whatever it was told).
    std::uint8_t WaasState(bool available) const { return !available ? 2 : (waasOn ? 1 : 0); }
    // Whether a fix uses corrections.
    bool Differential(bool waasAvailable) const {
        return correctionsOn || (waasOn && waasAvailable);
    }
    // Time from one fix to the next: 5 fixes a second, or else one.
    std::chrono::milliseconds FixPeriod() const {
        return std::chrono::milliseconds(navRate == 5 ? 200 : 1000);
    }
};
