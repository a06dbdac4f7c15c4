#include "core/exceptions.h"
#include "core/mainThread.h"
#include "core/worker.h"
#include "support/procStatus.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <QPointer>
#include <QProcess>
#include <QtTest>
#include <thread>

namespace {

// A worker whose work is a callable, so each test says what the work does.
class TProbeWorker : public TWorkerThread
{
public:
    explicit TProbeWorker(std::function<void(TProbeWorker&)> work = {}) : FWork(std::move(work)) {}
    std::atomic<bool> Executed{false};
    std::atomic<QThread*> ExecutedOn{nullptr};

    using TWorkerThread::StopRequested;

protected:
    void Execute() override
    {
        ExecutedOn = QThread::currentThread();
        Executed = true;
        if (FWork)
            FWork(*this);
    }

private:
    std::function<void(TProbeWorker&)> FWork;
};

// A worker that runs as a role on the engine: it finishes after its delay, from an engine timer.
class TEngineProbe : public TWorkerThread
{
public:
    explicit TEngineProbe(int delayMs) : FDelayMs(delayMs) {}

protected:
    void Launch() override
    {
        TWorkerEngine::Instance().At(TWorkerEngine::TClock::now() + std::chrono::milliseconds(FDelayMs),
                                     [this] { Finish(); });
    }

private:
    int FDelayMs;
};

const char* ChildArgument = "--exit-while-workers-run";
const char* ThreadDestroyedWarning = "QThread: Destroyed while thread is still running";

// The child process: starts workers that are still running (or just finishing) when main returns.
int ExitWhileWorkersRun(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool viaEventLoop = argc > 2 && std::strcmp(argv[2], "loop") == 0;
    for (int i = 0; i < 40; ++i) {
        // Most sleep for seconds; a few end right around the moment the program leaves, so the
        // completion step races with the shutdown.
        const int sleepMs = i < 30 ? 4000 : (i - 30) * 3;
        auto* worker = new TProbeWorker([sleepMs](TProbeWorker&) { QThread::msleep(sleepMs); });
        if (i % 2 == 0)
            worker->SetOnTerminate([](TWorkerThread*) {});
        worker->Start();
    }
    // And engine workers, waiting on timers for seconds.
    for (int i = 0; i < 40; ++i)
        (new TEngineProbe(i < 30 ? 4000 : i - 30))->Start();
    if (viaEventLoop) {
        QTimer::singleShot(20, &app, &QCoreApplication::quit);
        return app.exec();
    }
    return 0;
}

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void CreatedNotRunning();
    void CompletionOnMainThread();
    void CompletionForWorkerMadeOnOtherThread();
    void FreesItself();
    void KeptWhenFreeOnTerminateOff();
    void DetachThenStop();
    void ErrorInExecuteIsDropped();
    void ErrorInHandlerIsReported();
    void EngineWorkersCompleteInFinishingOrder();
    void EngineTimersKeepOrderAndCancel();
    void BlockingCallsPassHangingOnes();
    void ProgramExitsWhileWorkersRun_data();
    void ProgramExitsWhileWorkersRun();
};

void TestWorker::cleanup()
{
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 5000);
    SetExceptionReporter(nullptr);
}

void TestWorker::CreatedNotRunning()
{
    auto* worker = new TProbeWorker;
    bool completed = false;
    worker->SetOnTerminate([&completed](TWorkerThread*) { completed = true; });
    QCoreApplication::processEvents();
    QTest::qWait(50);
    QVERIFY(!worker->isRunning());
    QVERIFY(!worker->Executed);
    QVERIFY(!worker->Finished());
    QVERIFY(!completed);
    QCOMPARE(TWorkerThread::LiveCount(), 0);
    // A worker that was never started can simply be deleted.
    delete worker;
}

void TestWorker::CompletionOnMainThread()
{
    auto* worker = new TProbeWorker;
    TWorkerThread* sender = nullptr;
    QThread* handlerThread = nullptr;
    bool finishedInHandler = false;
    worker->SetOnTerminate([&](TWorkerThread* finished) {
        sender = finished;
        handlerThread = QThread::currentThread();
        finishedInHandler = finished->Finished();
    });
    worker->Start();
    QCOMPARE(TWorkerThread::LiveCount(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(sender != nullptr, 5000);
    QCOMPARE(sender, static_cast<TWorkerThread*>(worker));
    QCOMPARE(handlerThread, QCoreApplication::instance()->thread());
    QVERIFY(finishedInHandler);
}

void TestWorker::CompletionForWorkerMadeOnOtherThread()
{
    QThread* executedOn = nullptr;
    QThread* handlerThread = nullptr;
    std::thread maker([&] {
        auto* worker = new TProbeWorker([&executedOn](TProbeWorker& self) { executedOn = self.ExecutedOn; });
        worker->SetOnTerminate(
            [&handlerThread](TWorkerThread*) { handlerThread = QThread::currentThread(); });
        worker->Start();
    });
    maker.join();
    QTRY_VERIFY_WITH_TIMEOUT(handlerThread != nullptr, 5000);
    QCOMPARE(handlerThread, QCoreApplication::instance()->thread());
    QVERIFY(executedOn != nullptr && executedOn != QCoreApplication::instance()->thread());
}

void TestWorker::FreesItself()
{
    QList<QPointer<TProbeWorker>> workers;
    for (int i = 0; i < 20; ++i) {
        auto* worker = new TProbeWorker;
        workers << worker;
        worker->Start();
    }
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 5000);
    for (const auto& worker : workers)
        QVERIFY(worker.isNull());
}

void TestWorker::KeptWhenFreeOnTerminateOff()
{
    auto* worker = new TProbeWorker;
    QPointer<TProbeWorker> watch(worker);
    bool completed = false;
    worker->SetFreeOnTerminate(false);
    worker->SetOnTerminate([&completed](TWorkerThread*) { completed = true; });
    worker->Start();
    QTRY_VERIFY_WITH_TIMEOUT(completed, 5000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QVERIFY(!watch.isNull());
    QVERIFY(worker->Executed);
    delete worker;
    QCOMPARE(TWorkerThread::LiveCount(), 0);
}

void TestWorker::DetachThenStop()
{
    std::atomic<bool> release{false};
    std::atomic<bool> sawStop{false};
    auto* worker = new TProbeWorker([&](TProbeWorker& self) {
        while (!release)
            QThread::msleep(1);
        sawStop = self.StopRequested();
    });
    QPointer<TProbeWorker> watch(worker);
    bool completed = false;
    worker->SetOnTerminate([&completed](TWorkerThread*) { completed = true; });
    worker->Start();
    worker->Detach();
    worker->AskToStop();
    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(watch.isNull(), 5000);
    QVERIFY(sawStop);
    QVERIFY(!completed);
}

void TestWorker::ErrorInExecuteIsDropped()
{
    QStringList reported;
    SetExceptionReporter([&reported](const QString& message) { reported << message; });
    auto* worker = new TProbeWorker([](TProbeWorker&) { throw EOstrelException(QStringLiteral("lost")); });
    bool completed = false;
    worker->SetOnTerminate([&completed](TWorkerThread*) { completed = true; });
    worker->Start();
    QTRY_VERIFY_WITH_TIMEOUT(completed, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 5000);
    QVERIFY(reported.isEmpty());
}

void TestWorker::ErrorInHandlerIsReported()
{
    QStringList reported;
    SetExceptionReporter([&reported](const QString& message) { reported << message; });
    auto* worker = new TProbeWorker;
    QPointer<TProbeWorker> watch(worker);
    worker->SetOnTerminate([](TWorkerThread*) { throw EOstrelException(QStringLiteral("handler failed")); });
    worker->Start();
    QTRY_COMPARE_WITH_TIMEOUT(reported, QStringList{QStringLiteral("handler failed")}, 5000);
    // The failing handler does not keep the worker alive.
    QTRY_VERIFY_WITH_TIMEOUT(watch.isNull(), 5000);
}

void TestWorker::EngineWorkersCompleteInFinishingOrder()
{
    TWorkerEngine::Instance().Post([] {}); // the engine's own thread exists before counting
    QTest::qWait(20);
    const int threadsBefore = ThreadCount();
    // Hundreds of engine workers and one thread worker: completions come on the main thread in the
    // order the workers finished, and the engine workers add no thread.
    QList<int> order;
    const int delays[] = {300, 100, 200, 0};
    for (int round = 0; round < 100; ++round)
        for (int delay : delays) {
            auto* worker = new TEngineProbe(delay);
            worker->SetOnTerminate([&order, delay](TWorkerThread*) {
                QVERIFY(IsMainThread());
                order << delay;
            });
            worker->Start();
        }
    QCOMPARE(ThreadCount(), threadsBefore);
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 400, 10000);
    QVERIFY(std::is_sorted(order.begin(), order.end()));
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 5000);
}

void TestWorker::EngineTimersKeepOrderAndCancel()
{
    TWorkerEngine& engine = TWorkerEngine::Instance();
    std::mutex lock;
    QList<int> ran;
    auto note = [&](int value) {
        return [&, value] {
            std::lock_guard<std::mutex> guard(lock);
            ran << (engine.OnEngine() ? value : 1000); // 1000: ran on another thread
        };
    };
    const auto due = TWorkerEngine::TClock::now() + std::chrono::milliseconds(50);
    engine.At(due, note(1));
    const auto cancelled = engine.At(due, note(99));
    engine.At(due, note(2));
    engine.At(due - std::chrono::milliseconds(40), note(0));
    engine.Post(note(-1));
    engine.Cancel(cancelled);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            std::lock_guard<std::mutex> guard(lock);
            return ran.size() == 4;
        }(),
        5000);
    QTest::qWait(100);
    std::lock_guard<std::mutex> guard(lock);
    QCOMPARE(ran, QList<int>({-1, 0, 1, 2}));
}

// Calls stuck for seconds (lookups on a slow name server) hold back no other call until the pool's
// stated limit is reached, even when they all arrive at once.
void TestWorker::BlockingCallsPassHangingOnes()
{
    std::atomic<bool> release{false};
    std::atomic<int> hanging{0};
    static_assert(BlockingThreadLimit > 32);
    for (int i = 0; i < 32; ++i)
        RunBlocking([&] {
            ++hanging;
            while (!release)
                QThread::msleep(5);
            --hanging;
        });
    std::atomic<bool> ran{false};
    RunBlocking([&] { ran = true; });
    QTRY_VERIFY_WITH_TIMEOUT(ran.load(), 5000);
    QTRY_COMPARE(hanging.load(), 32);
    release = true;
    QTRY_COMPARE(hanging.load(), 0);
}

void TestWorker::ProgramExitsWhileWorkersRun_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("return from main") << "return";
    QTest::newRow("quit the event loop") << "loop";
}

void TestWorker::ProgramExitsWhileWorkersRun()
{
    QFETCH(QString, mode);
    for (int round = 0; round < 5; ++round) {
        QProcess child;
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ChildArgument), mode});
        QVERIFY(child.waitForStarted(10000));
        QVERIFY2(child.waitForFinished(20000), "the program did not end while its workers ran");
        // Nothing waits for the workers (they would keep it for 4 s); the margin is for a busy machine.
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        const QByteArray errors = child.readAllStandardError();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit, errors.constData());
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(!errors.contains(ThreadDestroyedWarning), errors.constData());
    }
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], ChildArgument) == 0)
        return ExitWhileWorkersRun(argc, argv);
    QCoreApplication app(argc, argv);
    TestWorker test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_worker.moc"
