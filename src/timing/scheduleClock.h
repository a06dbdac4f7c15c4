// TScheduleClock: the one clock that every schedule of a run shares.
#pragma once

#include <functional>
#include <memory>

struct TScheduleClockState;

// Ticks on the shared engine's timer queue (no thread of its own) and delivers each tick on the main
// thread. Ticks fall on whole multiples of the period on the wall clock (every half minute by default),
// so a start minute is met within its first seconds whenever the program was started. The next tick is
// queued only after the handler has returned: ticks never overlap, and a handler slower than the period
// skips the ticks it overran.
class TScheduleClock
{
public:
    static constexpr int DefaultPeriod = 30000;

    // tick runs on the main thread.
    explicit TScheduleClock(std::function<void()> tick, int periodMs = DefaultPeriod);
    // No tick is delivered once the clock is gone, also when one was already on its way.
    ~TScheduleClock();
    TScheduleClock(const TScheduleClock&) = delete;
    TScheduleClock& operator=(const TScheduleClock&) = delete;

    // Main thread.
    void Start();
    void Stop();
    bool Active() const;
    int Period() const;

private:
    std::shared_ptr<TScheduleClockState> FState;
};
