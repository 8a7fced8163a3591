#include "sim/Simfixes.h"

#include "proto/Memoutils.h"

#include <string>
#include <vector>

SimFixes::SimFixes(const SimOptions& options, const SimSettings& settings, SimOutput& output,
                   SimCommands& commands)
    : options_(options), settings_(settings), output_(output), commands_(commands),
      nmea_(options.seed) {}

void SimFixes::Advance(SimTime now, WallTime wall) {
    if (options_.fillLine) {
        // A fix whenever less than about 50 ms of output waits, so the line never rests.
        const std::size_t lowWater = output_.Rate() / 200;
        for (int i = 0; i < 16 && output_.Bytes().size() < lowWater; ++i) {
            const std::size_t before = output_.Bytes().size();
            Send(wall, false);
            if (output_.Bytes().size() == before) {
                break; // nothing enabled, or no room
            }
        }
        timed_ = false;
        return;
    }
    if (!timed_) {
        const auto period = settings_.FixPeriod();
        const auto wallMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch());
        next_ = now + (period - wallMs % period);
        timed_ = true;
    }
    if (now >= next_) {
        Fix(now, wall);
        if (next_ <= now) {
            timed_ = false; // far behind (a stalled thread): start again from here
        }
    }
}

SimTime SimFixes::NextDue() const {
    if (options_.fillLine) {
        return SimTime::max();
    }
    return timed_ ? next_ : SimTime::min();
}

void SimFixes::Fix(SimTime now, WallTime wall) {
    using namespace std::chrono;
    const auto period = settings_.FixPeriod().count();
    const auto wallMs = duration_cast<milliseconds>(wall.time_since_epoch()).count();
    // The fix belongs to the nearest period boundary of the calendar clock.
    const auto fixMs = (wallMs + period / 2) / period * period;
    Send(WallTime(milliseconds(fixMs)), fixMs % 1000 == 0);
    // The next fix at the next boundary after this one.
    next_ = now + milliseconds(fixMs + period - wallMs);
}

void SimFixes::Send(WallTime when, bool sysDue) {
    using std::chrono::seconds;
    if (count_ == 0) {
        firstFix_ = when;
    }
    ++count_;
    const auto since = when - firstFix_;
    const bool noFix = options_.fixGap > 0 && since >= seconds(options_.fixGapStart) &&
                       since < seconds(std::uint64_t{options_.fixGapStart} + options_.fixGap);
    const bool differential = settings_.Differential(options_.waasAvailable) &&
                              !(options_.diffLost && since >= seconds(*options_.diffLost));
    std::vector<std::string> sentences;
    nmea_.Fix(when, settings_.nmeaFlags, options_.otherTalkers, differential, sentences, noFix);
    for (const std::string& s : sentences) {
        output_.QueueSentence(s);
    }
    const std::uint32_t bin = settings_.binaryFlags;
    if (bin & kBinQX) {
        output_.QueueRandomFrame(kSimIdQX, 40);
    }
    if (bin & kBinGPS) {
        output_.QueueRandomFrame(kSimIdGPS, 60);
    }
    if (bin & kBinSATS) {
        output_.QueueRandomFrame(kSimIdSATS, 80);
    }
    if (bin & kBinREFMON) {
        output_.QueueRandomFrame(kSimIdREFMON, 24);
    }
    if ((bin & kBinSYS) && sysDue) {
        commands_.QueueConfigReport(false);
    }
    if (options_.otherBinary) {
        output_.QueueRandomFrame(kSimIdOther1, 24);
        output_.QueueRandomFrame(kSimIdOther2, 48);
    }
}
