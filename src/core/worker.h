#pragma once

#include "core/tobject.h"

#include <QThread>
#include <atomic>
#include <functional>

// The one base of every worker thread of the system.
//
// A worker is created without running and started by its creator with Start(). It can be asked to
// stop (a flag its Execute polls). When Execute returns, the completion handler, if one is set, runs
// on the main thread, and then the worker frees itself (unless FreeOnTerminate was switched off, in
// which case its creator owns it). A creator that no longer wants the result calls Detach() on the
// main thread and then AskToStop(); the worker is never waited for.
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
    // The work, on the worker thread. Errors that escape it are dropped: workers never show messages.
    virtual void Execute() = 0;

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
