#include "timing/scheduleClock.h"

#include "core/mainThread.h"
#include "core/worker.h"

#include <chrono>

struct TScheduleClockState
{
    // Main thread only, except the timer id, which only the main thread writes.
    std::function<void()> Tick;
    int Period = TScheduleClock::DefaultPeriod;
    bool Active = false;
    quint64 Generation = 0; // a Stop or Start makes every tick already on its way void
    TWorkerEngine::TTimerId Timer = 0;
};

namespace {

// A little after the boundary, so the tick reads a time inside the new half minute even when the
// engine's timer comes a hair early.
constexpr auto BoundaryMargin = std::chrono::milliseconds(20);

void Queue(const std::shared_ptr<TScheduleClockState>& state)
{
    using namespace std::chrono;
    const auto wallNow = system_clock::now();
    const auto period = milliseconds(state->Period);
    const auto sinceEpoch = duration_cast<milliseconds>(wallNow.time_since_epoch());
    const auto untilBoundary = period - sinceEpoch % period;
    const auto when = TWorkerEngine::TClock::now() + untilBoundary + BoundaryMargin;
    const std::weak_ptr<TScheduleClockState> weak = state;
    const quint64 generation = state->Generation;
    state->Timer = TWorkerEngine::Instance().At(when, [weak, generation] {
        RunOnMainThread([weak, generation] {
            const auto alive = weak.lock();
            if (!alive || !alive->Active || alive->Generation != generation)
                return;
            alive->Timer = 0;
            // A copy: the handler may stop the clock, or destroy it.
            const std::function<void()> tick = alive->Tick;
            Guarded(tick);
            if (alive->Active && alive->Generation == generation)
                Queue(alive);
        });
    });
}

} // namespace

TScheduleClock::TScheduleClock(std::function<void()> tick, int periodMs)
    : FState(std::make_shared<TScheduleClockState>())
{
    FState->Tick = std::move(tick);
    FState->Period = periodMs > 0 ? periodMs : DefaultPeriod;
}

TScheduleClock::~TScheduleClock()
{
    Stop();
}

void TScheduleClock::Start()
{
    if (FState->Active)
        return;
    FState->Active = true;
    ++FState->Generation;
    Queue(FState);
}

void TScheduleClock::Stop()
{
    if (!FState->Active)
        return;
    FState->Active = false;
    ++FState->Generation;
    if (FState->Timer)
        TWorkerEngine::Instance().Cancel(FState->Timer);
    FState->Timer = 0;
}

bool TScheduleClock::Active() const
{
    return FState->Active;
}

int TScheduleClock::Period() const
{
    return FState->Period;
}
