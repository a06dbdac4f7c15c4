#pragma once

#include <functional>

// Hand-over to the main (user-interface) thread.
// RunOnMainThread queues the call; RunOnMainThreadAndWait blocks the calling thread until it has run.
// Both run the call directly when already on the main thread.
void RunOnMainThread(std::function<void()> call);
void RunOnMainThreadAndWait(const std::function<void()>& call);
bool IsMainThread();

class QString;
class QObject;

// Errors that reach a boundary where Qt would otherwise swallow or abort on them (event handlers,
// completion handlers, callbacks from workers) are passed to one reporter; the main window installs
// one that shows the error box. Without a reporter the message goes to standard error.
void SetExceptionReporter(std::function<void(const QString& message)> reporter);
void ReportException(const std::exception& e);
void ReportError(const QString& message);

// Runs call and reports whatever it throws; returns false when it threw.
bool Guarded(const std::function<void()>& call);
