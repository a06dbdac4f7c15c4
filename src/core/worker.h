#pragma once

#include "core/events.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <poll.h>
#include <QThread>

// The one base of every worker of the system.
//
// A worker is created without running and started by its creator with Start(). It can be asked to
// stop (a flag its work polls). When the work is done, the completion handler, if one is set, runs
// on the main thread, and then the worker frees itself (unless FreeOnTerminate was switched off, in
// which case its creator owns it). A creator that no longer wants the result calls Detach() on the
// main thread and then AskToStop(); the worker is never waited for.
//
// A worker is a role, not necessarily a thread. By default its Execute runs on a thread of its own;
// a worker whose work never blocks (it only waits for timers and sockets) overrides Launch to run as
// tasks on the shared TWorkerEngine instead and calls Finish when it is done, so thousands of them
// cost no thread each.
class TWorkerThread : public QThread, public TObject
{
    Q_OBJECT

public:
    using TCompletion = std::function<void(TWorkerThread* sender)>;

    TWorkerThread();
    ~TWorkerThread() override;

    // Main thread only.
    void SetOnTerminate(TCompletion handler) { FOnTerminate = std::move(handler); }
    void Detach() { FOnTerminate = nullptr; }
    bool HasOnTerminate() const { return static_cast<bool>(FOnTerminate); }
    void SetFreeOnTerminate(bool value) { FFreeOnTerminate = value; }
    void Start();

    // Any thread.
    void AskToStop() { FStopRequested.store(true); }
    bool StopRequested() const { return FStopRequested.load(); }
    bool Finished() const { return FFinished.load(); }

    // Workers started and not yet freed in this process; for tests and benchmarks.
    static int LiveCount() { return FLive.load(); }

protected:
    // The work of a thread worker, on its own thread. Errors that escape it are dropped: workers
    // never show messages. Engine workers do not use it.
    virtual void Execute() {}

    // Starts the work; the default starts the worker's own thread, which runs Execute.
    virtual void Launch();
    // Ends an engine worker's work, from any thread, exactly once: its completion step follows on the
    // main thread, in finishing order with every other worker.
    void Finish();

private:
    void run() final;
    void HandleFinished();
    static void Complete(TWorkerThread* worker);
    friend class TCompletionPump;

    TCompletion FOnTerminate;
    bool FFreeOnTerminate = true;
    bool FStarted = false;
    std::atomic<bool> FStopRequested{false};
    std::atomic<bool> FFinished{false};
    static std::atomic<int> FLive;
};

// One thread that runs short tasks at their due times and calls handlers when watched sockets are
// ready: the home of every worker that only waits. Tasks must not block; blocking work goes to
// RunBlocking. Tasks due at the same moment run in the order they were scheduled.
class TWorkerEngine
{
public:
    using TClock = std::chrono::steady_clock;
    using TTask = std::function<void()>;
    using TTimerId = quint64;

    // The process's engine; its thread starts with the first use and ends when the application does.
    static TWorkerEngine& Instance();

    // Any thread. Runs task on the engine at when (at once when that has passed); the id cancels it.
    TTimerId At(TClock::time_point when, TTask task);
    TTimerId Post(TTask task) { return At(TClock::now(), std::move(task)); }
    // Any thread; a task that already began runs to its end.
    void Cancel(TTimerId id);
    // Any thread. Calls onReady(revents) on the engine whenever fd is readable or has an error (or, with
    // the events given, whenever one of them holds: POLLOUT for a connection under way). revents uses the
    // POLL* bits.
    void Watch(int fd, std::function<void(short revents)> onReady) { Watch(fd, POLLIN, std::move(onReady)); }
    void Watch(int fd, short events, std::function<void(short revents)> onReady);
    // Any thread. No handler of fd is called after this returns on the engine; call it before closing fd.
    void Unwatch(int fd);

    bool OnEngine() const;
    // Ends the engine's thread promptly (tasks still queued are dropped); later calls are ignored.
    void Shutdown();

private:
    TWorkerEngine();
    struct TState;
    TState* FState;
};

// Runs call on a pool thread (blocking work such as name lookups). The pool grows as calls come while
// every thread is busy, up to BlockingThreadLimit threads; only beyond that do calls queue, so the number
// of threads stays bounded however many calls there are. Threads without work end after a while.
void RunBlocking(std::function<void()> call);
inline constexpr int BlockingThreadLimit = 64;
