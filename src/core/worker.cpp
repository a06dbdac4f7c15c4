#include "core/worker.h"

#include "core/mainThread.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

std::atomic<int> TWorkerThread::FLive{0};

namespace {
// Workers that keep a thread of their own need little stack.
constexpr uint WorkerStackSize = 512 * 1024;
// Due tasks run between two looks at the sockets: a burst of thousands of sends must not let the
// answers to the first ones overflow the socket's queue.
constexpr size_t MaxBatch = 64;
// Readiness reports taken per look at the sockets.
constexpr int MaxReady = 256;
// Threads of the pool for blocking calls: a name lookup stuck on a slow name server holds one for
// seconds, and a lookup only waits behind another computer's once this many hang at once. Threads are
// made only when no idle one is left, and end after a while without work.
constexpr int BlockingThreads = BlockingThreadLimit;
constexpr auto BlockingIdleEnd = std::chrono::seconds(10);

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

    // A worker whose completion has run, freed after the completions of the slice. A deferred delete
    // each cost a posted event and a wake-up of the main thread per worker: a third of the main
    // thread's time while 65,535 checks reported.
    void Free(TWorkerThread* worker)
    {
        FToFree.push_back(worker);
        if (!FTimer.isActive())
            FTimer.start();
    }

private:
    void Run()
    {
        QElapsedTimer slice;
        slice.start();
        // The clock is read every few completions: once each cost as much as a tenth of them.
        for (int done = 1; !FPending.empty(); ++done) {
            QPointer<TWorkerThread> worker = FPending.front();
            FPending.pop_front();
            if (worker)
                TWorkerThread::Complete(worker);
            if (done % ClockEvery == 0 && slice.elapsed() >= CompletionSliceMs)
                break;
        }
        // What is left of the slice, and a few at least, so that a long burst frees as it goes: freed at
        // once, a burst of thousands held the window's thread for up to 60 ms.
        for (int freed = 0; !FToFree.empty(); ++freed) {
            if (freed >= MinFreedPerSlice && freed % ClockEvery == 0 && slice.elapsed() >= CompletionSliceMs)
                break;
            TWorkerThread* worker = FToFree.front();
            FToFree.pop_front();
            delete worker;
        }
        if (!FPending.empty() || !FToFree.empty())
            FTimer.start();
    }

    static constexpr int MinFreedPerSlice = 64;
    static constexpr int ClockEvery = 8;
    std::deque<QPointer<TWorkerThread>> FPending;
    std::deque<TWorkerThread*> FToFree;
    QTimer FTimer;
};

namespace {

TCompletionPump& Pump()
{
    // Lives as long as the process: workers may still finish while the program ends.
    static auto* pump = new TCompletionPump;
    return *pump;
}

// Engine workers that finished and wait for the main thread to take them, in finishing order. A burst of
// thousands of results costs one hand-over to the main thread, not a wake-up of it per worker.
struct TFinishedQueue
{
    std::mutex Lock;
    std::vector<QPointer<TWorkerThread>> Workers;
    bool Posted = false;
    // Finished on the engine, waiting for the end of its round.
    bool Deferred = false;
};

TFinishedQueue& FinishedQueue()
{
    static auto* queue = new TFinishedQueue;
    return *queue;
}

void PostFinished()
{
    TFinishedQueue& queue = FinishedQueue();
    {
        std::lock_guard<std::mutex> guard(queue.Lock);
        queue.Deferred = false;
        if (queue.Workers.empty() || std::exchange(queue.Posted, true))
            return;
    }
    // The main thread takes every worker finished by then, in order, into the completion pump.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            TFinishedQueue& finished = FinishedQueue();
            std::vector<QPointer<TWorkerThread>> workers;
            {
                std::lock_guard<std::mutex> guard(finished.Lock);
                workers.swap(finished.Workers);
                finished.Posted = false;
            }
            for (const QPointer<TWorkerThread>& worker : workers)
                if (worker)
                    Pump().Add(worker);
        },
        Qt::QueuedConnection);
}

// At the top of each round of the engine: hands over what the previous round finished.
void PostFinishedOfRound()
{
    {
        TFinishedQueue& queue = FinishedQueue();
        std::lock_guard<std::mutex> guard(queue.Lock);
        if (!queue.Deferred)
            return;
    }
    PostFinished();
}

} // namespace

TWorkerThread::TWorkerThread()
{
    setStackSize(WorkerStackSize);
    // The completion step belongs to the main thread, whoever created the worker.
    if (auto* app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
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
    Launch();
}

void TWorkerThread::Launch()
{
    // Only a worker with a thread of its own hears of its end this way; engine workers, thousands at a
    // time, make no connection.
    connect(this, &QThread::finished, this, &TWorkerThread::HandleFinished, Qt::QueuedConnection);
    start();
}

void TWorkerThread::Finish()
{
    if (FFinished.exchange(true))
        return;
    TFinishedQueue& queue = FinishedQueue();
    {
        std::lock_guard<std::mutex> guard(queue.Lock);
        queue.Workers.emplace_back(this);
        // On the engine the hand-over waits for the end of the engine's round, so the results of one
        // read of a socket or one batch of timers wake the main thread once, not once each.
        if (TWorkerEngine::Instance().OnEngine()) {
            queue.Deferred = true;
            return;
        }
    }
    PostFinished();
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
        Pump().Free(worker);
}

struct TWorkerEngine::TState
{
    struct TWatch
    {
        quint32 Generation;
        std::shared_ptr<const std::function<void(short)>> OnReady;
    };

    std::mutex Lock;
    // Keyed by due time, then by id, so equal due times keep the order they were scheduled in.
    std::map<std::pair<TClock::time_point, TTimerId>, TTask> Timers;
    std::unordered_map<TTimerId, TClock::time_point> DueOf;
    // By descriptor; guarded by Lock. The generation travels with each readiness report, so a report
    // for a descriptor that was unwatched (and perhaps reused) in the same round reaches nobody.
    std::unordered_map<int, TWatch> Watches;
    quint32 NextGeneration = 1;
    TTimerId NextId = 1;
    bool Ending = false;
    int WakeFd = -1;
    int PollFd = -1;
    std::thread Thread;
    std::thread::id ThreadId;

    void Wake() const
    {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(WakeFd, &one, sizeof(one));
    }

    void Run()
    {
        std::vector<TTask> due;
        std::vector<epoll_event> ready(MaxReady);
        for (;;) {
            PostFinishedOfRound();
            int timeoutMs = -1;
            {
                std::lock_guard<std::mutex> guard(Lock);
                if (Ending)
                    return;
                const auto now = TClock::now();
                // A bounded batch, so sockets are read between batches of a burst of due tasks.
                while (!Timers.empty() && Timers.begin()->first.first <= now && due.size() < MaxBatch) {
                    auto first = Timers.begin();
                    DueOf.erase(first->first.second);
                    due.push_back(std::move(first->second));
                    Timers.erase(first);
                }
                if (due.empty() && !Timers.empty()) {
                    const auto wait = Timers.begin()->first.first - now;
                    // Rounded up, so a timer never fires a millisecond early.
                    timeoutMs = static_cast<int>(std::min<std::chrono::milliseconds::rep>(
                        std::chrono::ceil<std::chrono::milliseconds>(wait).count(), 60000));
                }
            }
            if (!due.empty()) {
                for (TTask& task : due) {
                    try {
                        task();
                    } catch (...) {
                        // A task has no one to report to; its owner handles its own errors.
                    }
                }
                due.clear();
                timeoutMs = 0; // look at the sockets before the next timers, so answers are not starved
            }
            const int count = ::epoll_wait(PollFd, ready.data(), int(ready.size()), timeoutMs);
            for (int i = 0; i < count; ++i) {
                const int fd = static_cast<int>(ready[i].data.u64 & 0xFFFFFFFFu);
                const auto generation = static_cast<quint32>(ready[i].data.u64 >> 32);
                if (fd == WakeFd) {
                    quint64 wakes = 0;
                    [[maybe_unused]] const ssize_t read = ::read(WakeFd, &wakes, sizeof(wakes));
                    continue;
                }
                std::shared_ptr<const std::function<void(short)>> handler;
                {
                    std::lock_guard<std::mutex> guard(Lock);
                    const auto found = Watches.find(fd);
                    if (found == Watches.end() || found->second.Generation != generation)
                        continue;
                    handler = found->second.OnReady;
                }
                try {
                    (*handler)(static_cast<short>(ready[i].events));
                } catch (...) {
                    // As for tasks: the handler's owner reports its own errors.
                }
            }
        }
    }
};

TWorkerEngine::TWorkerEngine() : FState(new TState)
{
    FState->WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    FState->PollFd = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.u64 = static_cast<quint32>(FState->WakeFd);
    ::epoll_ctl(FState->PollFd, EPOLL_CTL_ADD, FState->WakeFd, &wake);
    FState->Thread = std::thread([state = FState] { state->Run(); });
    FState->ThreadId = FState->Thread.get_id();
}

TWorkerEngine& TWorkerEngine::Instance()
{
    // Never destroyed: a task may still be scheduled while the program ends. Its thread is ended
    // with the application (nothing it would finish could be delivered after that) and, failing
    // that, at exit, so it is never left running while static objects are destroyed.
    static TWorkerEngine* engine = [] {
        auto* made = new TWorkerEngine;
        if (QCoreApplication::instance())
            qAddPostRoutine([] { Instance().Shutdown(); });
        std::atexit([] { Instance().Shutdown(); });
        return made;
    }();
    return *engine;
}

TWorkerEngine::TTimerId TWorkerEngine::At(TClock::time_point when, TTask task)
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    const TTimerId id = FState->NextId++;
    if (FState->Ending)
        return id;
    const bool first = FState->Timers.empty() || when < FState->Timers.begin()->first.first;
    FState->Timers.emplace(std::make_pair(when, id), std::move(task));
    FState->DueOf.emplace(id, when);
    if (first && !OnEngine())
        FState->Wake();
    return id;
}

void TWorkerEngine::Cancel(TTimerId id)
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    const auto found = FState->DueOf.find(id);
    if (found == FState->DueOf.end())
        return;
    FState->Timers.erase(std::make_pair(found->second, id));
    FState->DueOf.erase(found);
}

void TWorkerEngine::Watch(int fd, short events, std::function<void(short)> onReady)
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    const quint32 generation = FState->NextGeneration++;
    FState->Watches[fd] = {generation,
                           std::make_shared<const std::function<void(short)>>(std::move(onReady))};
    epoll_event wanted{};
    // POLLIN and POLLOUT have the same values as their epoll twins; errors and hang-ups always come.
    wanted.events = static_cast<quint32>(events);
    wanted.data.u64 = (quint64(generation) << 32) | static_cast<quint32>(fd);
    if (::epoll_ctl(FState->PollFd, EPOLL_CTL_ADD, fd, &wanted) != 0)
        ::epoll_ctl(FState->PollFd, EPOLL_CTL_MOD, fd, &wanted);
}

void TWorkerEngine::Unwatch(int fd)
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    if (FState->Watches.erase(fd) > 0)
        ::epoll_ctl(FState->PollFd, EPOLL_CTL_DEL, fd, nullptr);
}

bool TWorkerEngine::OnEngine() const
{
    return std::this_thread::get_id() == FState->ThreadId;
}

void TWorkerEngine::Shutdown()
{
    {
        std::lock_guard<std::mutex> guard(FState->Lock);
        if (FState->Ending)
            return;
        FState->Ending = true;
        FState->Timers.clear();
        FState->DueOf.clear();
        FState->Wake();
    }
    // Tasks are short, so the thread ends at once; from a task of its own it cannot be waited for.
    if (OnEngine())
        FState->Thread.detach();
    else if (FState->Thread.joinable())
        FState->Thread.join();
}

namespace {

struct TBlockingPool
{
    std::mutex Lock;
    std::condition_variable Arrived;
    std::deque<std::function<void()>> Calls;
    int Threads = 0;
    int Idle = 0;
};

} // namespace

void RunBlocking(std::function<void()> call)
{
    // Never destroyed: its threads may still be in a slow call when the program ends, and nothing
    // waits for them.
    static auto* pool = new TBlockingPool;
    std::lock_guard<std::mutex> guard(pool->Lock);
    pool->Calls.push_back(std::move(call));
    // Idle threads that have not woken yet are counted against the calls already waiting for them.
    if (pool->Calls.size() <= size_t(pool->Idle) || pool->Threads >= BlockingThreads) {
        pool->Arrived.notify_one();
        return;
    }
    ++pool->Threads;
    std::thread([] {
        std::unique_lock<std::mutex> lock(pool->Lock);
        for (;;) {
            ++pool->Idle;
            const bool called =
                pool->Arrived.wait_for(lock, BlockingIdleEnd, [] { return !pool->Calls.empty(); });
            --pool->Idle;
            if (!called) {
                --pool->Threads;
                return;
            }
            auto next = std::move(pool->Calls.front());
            pool->Calls.pop_front();
            lock.unlock();
            try {
                next();
            } catch (...) {
                // The caller's call handles its own errors; the pool thread lives on.
            }
            lock.lock();
        }
    }).detach();
}
