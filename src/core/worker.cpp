#include "core/worker.h"

#include "core/mainThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <deque>

std::atomic<int> TWorkerThread::FLive{0};

namespace {
// Thousands of workers may run at once (one reachability check per computer); they need little stack.
constexpr uint WorkerStackSize = 512 * 1024;

// How long completion handlers may hold the main thread before input gets its turn again.
constexpr qint64 CompletionSliceMs = 8;

} // namespace

// Runs the completion steps of finished workers on the main thread, in the order the workers finished,
// a time slice at a time. When a thousand checks finish at once each completion still runs (and saves)
// on its own, but the window keeps answering between them instead of freezing until all are done.
class TCompletionPump : public QObject
{
public:
    TCompletionPump()
    {
        FTimer.setSingleShot(true);
        FTimer.setInterval(0);
        connect(&FTimer, &QTimer::timeout, this, &TCompletionPump::Run);
    }

    void Add(TWorkerThread* worker)
    {
        FPending.emplace_back(worker);
        if (!FTimer.isActive())
            FTimer.start();
    }

private:
    void Run()
    {
        QElapsedTimer slice;
        slice.start();
        while (!FPending.empty()) {
            QPointer<TWorkerThread> worker = FPending.front();
            FPending.pop_front();
            if (worker)
                TWorkerThread::Complete(worker);
            if (slice.elapsed() >= CompletionSliceMs)
                break;
        }
        if (!FPending.empty())
            FTimer.start();
    }

    std::deque<QPointer<TWorkerThread>> FPending;
    QTimer FTimer;
};

namespace {

TCompletionPump& Pump()
{
    // Lives as long as the process: workers may still finish while the program ends.
    static auto* pump = new TCompletionPump;
    return *pump;
}

} // namespace

TWorkerThread::TWorkerThread()
{
    setStackSize(WorkerStackSize);
    // The completion step belongs to the main thread, whoever created the worker.
    if (auto* app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
    connect(this, &QThread::finished, this, &TWorkerThread::HandleFinished, Qt::QueuedConnection);
}

TWorkerThread::~TWorkerThread()
{
    // A finished thread may still be leaving run(); let it do so before the object goes.
    wait();
    if (FStarted)
        --FLive;
}

void TWorkerThread::Start()
{
    if (FStarted)
        return;
    FStarted = true;
    ++FLive;
    start();
}

void TWorkerThread::run()
{
    try {
        Execute();
    } catch (...) {
        // Worker threads never report; an escaping error only ends the work.
    }
    FFinished.store(true);
}

void TWorkerThread::HandleFinished()
{
    Pump().Add(this);
}

void TWorkerThread::Complete(TWorkerThread* worker)
{
    // The handler is read now, so a creator that detached it meanwhile is not called.
    if (worker->FOnTerminate) {
        TCompletion handler = worker->FOnTerminate;
        Guarded([&] { handler(worker); });
    }
    if (worker->FFreeOnTerminate)
        worker->deleteLater();
}
