#include "base/Clock.h"

#include <ctime>

namespace {
class RealClock : public Clock {
public:
    std::int64_t Seconds() const override { return static_cast<std::int64_t>(std::time(nullptr)); }
};
} // namespace

Clock& SystemClock() {
    static RealClock clock;
    return clock;
}
