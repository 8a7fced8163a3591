#pragma once
// The rates the PC had lately, to judge at which rate bytes read from the
// pseudo-terminal were sent: bytes received while the PC's rate differs from the
// receiver's are not understood.
//
// Bytes on a pseudo-terminal carry no rate, and the receiver's thread reads them a little
// after the PC wrote them; a PC that writes and at once reopens at another rate (the
// loader right after "LOADSTAR") has often switched before the bytes are read. So the
// thread notes the PC's rate whenever it looks (while the PC holds the device open, and
// when it finds bytes the PC left behind on closing), and bytes count as sent at any rate
// noted within a short window before they were read, or at the rate in force when that
// window began. The window is longer than a pass of the thread even on a loaded machine,
// and short beside the pauses with which the program changes rates (two seconds between
// search attempts, 200 ms after an output configuration).

#include "sim/Simoptions.h"
#include "sim/Simpty.h"

#include <cstdint>
#include <deque>
#include <utility>

class SimPcRates {
public:
    // Falls back on the rate the PC left on `pty` when nothing was noted.
    explicit SimPcRates(const SimPty& pty) : pty_(pty) {}

    void Clear() { rates_.clear(); }
    void Note(SimTime now, std::uint32_t rate);
    // Whether bytes read now may have been sent at `rate`.
    bool Seen(std::uint32_t rate) const;

private:
    const SimPty& pty_;
    // Oldest first: the window, and the last sample before it.
    std::deque<std::pair<SimTime, std::uint32_t>> rates_;
};
