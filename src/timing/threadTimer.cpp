#include "timing/threadTimer.h"

#include "core/mainThread.h"
#include "core/worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// Shared between the component and its thread, so the thread can outlive the component safely.
struct TThreadTimerState
{
    std::mutex Lock;
    std::condition_variable Changed;
    bool Active = false;
    bool Ended = false; // the component is gone or a handler failed: the thread ends
    int Delay = 100;
    TNotifyEvent OnTimer;          // main thread only
    TThreadTimer* Owner = nullptr; // main thread only; null once the component is gone
};

class TThreadTimerClass : public TWorkerThread
{
public:
    explicit TThreadTimerClass(std::shared_ptr<TThreadTimerState> state) : FState(std::move(state)) {}

protected:
    void Execute() override
    {
        std::unique_lock<std::mutex> lock(FState->Lock);
        while (!FState->Ended) {
            if (!FState->Active) {
                FState->Changed.wait(lock, [&] { return FState->Active || FState->Ended; });
                continue;
            }
            const auto delay = std::chrono::milliseconds(FState->Delay);
            // Only the end of the timer cuts a wait short; Delay changes apply from the next wait.
            if (FState->Changed.wait_for(lock, delay, [&] { return FState->Ended; }))
                break;
            if (!FState->Active)
                continue; // held during the wait: the next tick comes one delay after reactivation
            lock.unlock();
            auto state = FState;
            RunOnMainThreadAndWait([state] { Deliver(*state); });
            lock.lock();
        }
    }

private:
    static void Deliver(TThreadTimerState& state)
    {
        TNotifyEvent handler;
        TThreadTimer* owner = nullptr;
        {
            std::lock_guard<std::mutex> guard(state.Lock);
            if (state.Ended || !state.Active || !state.Owner)
                return;
            handler = state.OnTimer;
            owner = state.Owner;
        }
        try {
            handler(owner);
        } catch (...) {
            // A failing handler ends the timer for good, without a message.
            std::lock_guard<std::mutex> guard(state.Lock);
            state.Ended = true;
            state.Changed.notify_all();
        }
    }

    std::shared_ptr<TThreadTimerState> FState;
};

TThreadTimer::TThreadTimer(QObject* owner) : QObject(owner), FState(std::make_shared<TThreadTimerState>())
{
    FState->Owner = this;
}

TThreadTimer::~TThreadTimer()
{
    {
        std::lock_guard<std::mutex> guard(FState->Lock);
        FState->Ended = true;
        FState->Owner = nullptr;
        FState->OnTimer.Clear();
        FState->Changed.notify_all();
    }
}

bool TThreadTimer::Active() const
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    return FState->Active;
}

void TThreadTimer::SetActive(bool value)
{
    {
        std::lock_guard<std::mutex> guard(FState->Lock);
        if (FState->Active == value)
            return;
        FState->Active = value;
        FState->Changed.notify_all();
    }
    // The thread is made at the first activation: every computer owns a clock, and most never run.
    if (value && !FStarted) {
        FStarted = true;
        (new TThreadTimerClass(FState))->Start(); // frees itself when it ends
    }
}

int TThreadTimer::Delay() const
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    return FState->Delay;
}

void TThreadTimer::SetDelay(int milliseconds)
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    FState->Delay = milliseconds;
}

const TNotifyEvent& TThreadTimer::OnTimer() const
{
    return FState->OnTimer;
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler)
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    FState->OnTimer = std::move(handler);
}
