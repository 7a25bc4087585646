#pragma once
// Sleep and the millisecond tick count, behind an interface so that the console's long service
// waits (8000 ms per step) can run on a fake clock in tests.

#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

namespace kv::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Blocks the calling thread for about `ms` milliseconds (Sleep).
    virtual void sleep(std::uint32_t ms) = 0;
    // Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
    virtual std::uint32_t tickCount() = 0;
};

// The real clock of the backend (Sleep/GetTickCount, or nanosleep/CLOCK_MONOTONIC).
class SystemClock final : public Clock {
public:
    void sleep(std::uint32_t ms) override;
    std::uint32_t tickCount() override;
};

// A fake clock for tests: sleep() returns at once, advances the tick count by the requested time
// and records it. An optional hook runs inside every sleep, after the time has advanced, so a test
// can change the world "while the program sleeps" (for example let a fake service reach running).
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::uint32_t startTick = 0) : tick_(startTick) {}

    void sleep(std::uint32_t ms) override;
    std::uint32_t tickCount() override { return tick_; }

    void advance(std::uint32_t ms) { tick_ += ms; }
    void setTickCount(std::uint32_t tick) { tick_ = tick; }
    // Every sleep requested so far, in order.
    const std::vector<std::uint32_t>& sleeps() const { return sleeps_; }
    std::uint64_t totalSlept() const;
    void clearSleeps() { sleeps_.clear(); }
    void setOnSleep(std::function<void(std::uint32_t ms)> hook) { onSleep_ = std::move(hook); }

private:
    std::uint32_t tick_;
    std::vector<std::uint32_t> sleeps_;
    std::function<void(std::uint32_t)> onSleep_;
};

// The tick count at the resolution of the system's timer (GetTickCount's own there; the coarse
// monotonic clock here, a few milliseconds), at a fraction of tickCount()'s cost: for time
// stamps shown in milliseconds that are taken on a hot path. The same count as
// SystemClock::tickCount(), only less finely.
std::uint32_t coarseTickCount();

// The local time of the machine at `time`, safely from any thread (localtime_r, localtime_s).
std::tm localTime(std::time_t time);

} // namespace kv::platform
