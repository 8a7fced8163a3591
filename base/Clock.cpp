#include "base/Clock.h"

#include <chrono>
#include <ctime>

namespace {
class RealClock : public Clock {
public:
    std::int64_t Seconds() const override { return static_cast<std::int64_t>(std::time(nullptr)); }
    std::int64_t Milliseconds() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};
} // namespace

Clock& SystemClock() {
    static RealClock clock;
    return clock;
}
