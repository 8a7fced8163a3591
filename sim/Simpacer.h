#pragma once
// The simulated receiver's output leaving at the line rate: a start bit, eight data bits
// and a stop bit a byte (sim/Simline.h ByteTimeNs), back to back while there is output,
// so throughput is what a real line gives. A line that has rested starts again with the
// next byte; one that is still busy goes on from where its last byte left.

#include "sim/Simoptions.h"

#include <cstdint>
#include <deque>
#include <vector>

class SimPacer {
public:
    // Takes from `out` the bytes that have left the line by `now` at `rate`; they stay
    // valid until the next call.
    const std::vector<std::uint8_t>& Take(std::deque<std::uint8_t>& out, SimTime now,
                                          std::uint32_t rate);
    // The line is sending; its next byte has left at NextDone.
    bool Busy() const { return busy_; }
    SimTime NextDone() const { return nextDone_; }
    // The line rests: what comes next starts afresh.
    void Stop() { busy_ = false; }

private:
    bool busy_ = false;
    SimTime nextDone_{}; // when the next byte has left
    SimTime lineFree_{}; // when the last byte sent has left
    std::vector<std::uint8_t> chunk_;
};
