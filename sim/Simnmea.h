#pragma once
// NMEA 0183 sentences of the simulated receiver: GGA, GSA, RMC, VTG and ZDA of the GPS
// talker ($GP), and optionally sentences of other talkers ($GN, $GL) that the program
// must not show. Each fix moves a receiver slowly along a gently curving track and lets
// the set of satellites in use change now and then, so time, position and satellites
// all change from one sentence to the next as they do on a real receiver.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// XOR of every character between "$" and "*" (body is that part alone).
std::uint8_t NmeaChecksum(std::string_view body);
// "$" body "*" two upper-case hex digits of the checksum, CR LF.
std::string NmeaSentence(std::string_view body);

class NmeaGenerator {
public:
    explicit NmeaGenerator(std::uint64_t seed);

    // Appends the sentences of one fix taken at the UTC time `when`, in the order GGA,
    // GSA, RMC, VTG, ZDA, each only if its bit (proto/Memoutils.h kNmea...) is set in
    // nmeaFlags; then, with otherTalkers, a $GNGSA and a $GLGSV sentence. Times carry
    // hundredths of a second, as a navigation rate of 5 per second needs.
    // differential: the fix uses corrections (GGA quality 2, RMC/VTG mode D).
    // noFix: the receiver has lost its fix and says so as receivers do, while it goes on
    // moving: GGA quality 0, RMC status V and VTG mode N with their position, speed and
    // course empty, GSA mode 1 without satellites or precisions; the time goes on.
    void Fix(std::chrono::system_clock::time_point when, std::uint32_t nmeaFlags, bool otherTalkers,
             bool differential, std::vector<std::string>& out, bool noFix = false);

private:
    void Move(double seconds);

    std::uint64_t rng_;
    bool started_ = false;
    std::chrono::system_clock::time_point last_{};
    double latDeg_;
    double lonDeg_;
    double altM_;
    double headingDeg_;
    double speedMs_;
    double turnDegPerS_;
    std::uint64_t fixCount_ = 0;
    int satsUsed_ = 8;
};
