#include "sim/Simpacer.h"

#include "sim/Simline.h"

#include <algorithm>

const std::vector<std::uint8_t>& SimPacer::Take(std::deque<std::uint8_t>& out, SimTime now,
                                                std::uint32_t rate) {
    chunk_.clear();
    if (out.empty()) {
        busy_ = false;
        return chunk_;
    }
    const auto byteTime = std::chrono::nanoseconds(ByteTimeNs(rate));
    if (!busy_) {
        nextDone_ = std::max(now, lineFree_) + byteTime;
        busy_ = true;
    }
    while (!out.empty() && nextDone_ <= now) {
        chunk_.push_back(out.front());
        out.pop_front();
        lineFree_ = nextDone_;
        nextDone_ += byteTime;
    }
    if (out.empty()) {
        busy_ = false;
    }
    return chunk_;
}
