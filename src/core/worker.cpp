#include "core/worker.h"

#include "core/mainThread.h"

#include <QCoreApplication>

std::atomic<int> TWorkerThread::FLive{0};

namespace {
// Thousands of workers may run at once (one reachability check per computer); they need little stack.
constexpr uint WorkerStackSize = 512 * 1024;
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
    if (FOnTerminate) {
        TCompletion handler = FOnTerminate;
        Guarded([&] { handler(this); });
    }
    if (FFreeOnTerminate)
        deleteLater();
}
