#pragma once

#include "core/events.h"

#include <memory>
#include <QObject>

struct TThreadTimerState;

// A timer whose waiting is done by a thread of its own while its OnTimer is delivered on the main
// thread. The thread sleeps Delay milliseconds, hands the tick to the main thread and waits until the
// handler has returned, so ticks never overlap. A handler that throws ends the timer for good, silently.
class TThreadTimer : public QObject, public TObject
{
    Q_OBJECT

public:
    explicit TThreadTimer(QObject* owner = nullptr);
    ~TThreadTimer() override;

    bool Active() const;
    void SetActive(bool value);

    int Delay() const;
    void SetDelay(int milliseconds);

    const TNotifyEvent& OnTimer() const;
    void SetOnTimer(TNotifyEvent handler);

private:
    std::shared_ptr<TThreadTimerState> FState;
    bool FStarted = false; // the thread exists (it frees itself when it ends)
};
