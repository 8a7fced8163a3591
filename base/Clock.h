#pragma once
// The calendar clock by which the automatic port search and the software loader time
// their waits (whole seconds), and a replay paces a recording (milliseconds). Sequences
// take a Clock& so tests can run them on a FakeClock as well as on the real one.

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Calendar time in whole seconds.
    virtual std::int64_t Seconds() const = 0;
    // Calendar time in milliseconds; the whole seconds of it are Seconds().
    virtual std::int64_t Milliseconds() const { return Seconds() * 1000; }
};

// The system's calendar clock.
Clock& SystemClock();

// A clock that only moves when told to.
class FakeClock : public Clock {
public:
    explicit FakeClock(std::int64_t start = 1'000'000) : nowMs_(start * 1000) {}
    std::int64_t Seconds() const override {
        return nowMs_ >= 0 ? nowMs_ / 1000 : -((-nowMs_ + 999) / 1000);
    }
    std::int64_t Milliseconds() const override { return nowMs_; }
    void Set(std::int64_t seconds) { nowMs_ = seconds * 1000; }
    void Advance(std::int64_t seconds) { nowMs_ += seconds * 1000; }
    void AdvanceMilliseconds(std::int64_t ms) { nowMs_ += ms; }

private:
    std::int64_t nowMs_;
};
