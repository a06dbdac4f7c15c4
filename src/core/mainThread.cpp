#include "core/mainThread.h"

#include "core/exceptions.h"

#include <cstdio>
#include <mutex>
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace {

std::mutex reporterLock;
std::function<void(const QString&)> reporter;

} // namespace

bool IsMainThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void RunOnMainThread(std::function<void()> call)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    if (IsMainThread()) {
        Guarded(call);
        return;
    }
    QMetaObject::invokeMethod(
        app, [call = std::move(call)] { Guarded(call); }, Qt::QueuedConnection);
}

void RunOnMainThreadAndWait(const std::function<void()>& call)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    if (IsMainThread()) {
        Guarded(call);
        return;
    }
    QMetaObject::invokeMethod(
        app, [&call] { Guarded(call); }, Qt::BlockingQueuedConnection);
}

void SetExceptionReporter(std::function<void(const QString&)> newReporter)
{
    std::lock_guard<std::mutex> guard(reporterLock);
    reporter = std::move(newReporter);
}

void ReportError(const QString& message)
{
    std::function<void(const QString&)> current;
    {
        std::lock_guard<std::mutex> guard(reporterLock);
        current = reporter;
    }
    if (current && IsMainThread()) {
        try {
            current(message);
        } catch (...) {
            // A failing error box must not bring the program down.
        }
        return;
    }
    if (current) {
        RunOnMainThread([message] { ReportError(message); });
        return;
    }
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

void ReportException(const std::exception& e)
{
    ReportError(ExceptionMessage(e));
}

bool Guarded(const std::function<void()>& call)
{
    try {
        call();
        return true;
    } catch (const std::exception& e) {
        ReportException(e);
    } catch (...) {
        ReportError(QStringLiteral("Unknown error"));
    }
    return false;
}
