#pragma once
// The calendar clock in whole seconds by which the automatic port search and the
// software loader time their waits. Sequences take a Clock& so tests can run them
// on a FakeClock as well as on the real one.

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Calendar time in whole seconds.
    virtual std::int64_t Seconds() const = 0;
};

// The system's calendar clock (time(nullptr)).
Clock& SystemClock();

// A clock that only moves when told to.
class FakeClock : public Clock {
public:
    explicit FakeClock(std::int64_t start = 1'000'000) : now_(start) {}
    std::int64_t Seconds() const override { return now_; }
    void Set(std::int64_t seconds) { now_ = seconds; }
    void Advance(std::int64_t seconds) { now_ += seconds; }

private:
    std::int64_t now_;
};
