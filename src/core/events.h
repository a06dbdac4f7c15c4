// TEvent and the event types built on it, and TObject, the Sender every event carries.
#pragma once

#include <functional>
#include <utility>

// Common root of everything that can be the Sender of an event, so handlers can test its class.
class TObject
{
public:
    virtual ~TObject() = default;
};

// An event: a callable bound to a receiver. It is "assigned" when a callable is set.
template <typename... Args> class TEvent
{
public:
    using Handler = std::function<void(Args...)>;

    TEvent() = default;
    TEvent(const void* receiver, Handler handler) : FReceiver(receiver), FHandler(std::move(handler)) {}

    void Set(const void* receiver, Handler handler)
    {
        FReceiver = receiver;
        FHandler = std::move(handler);
    }
    void Clear()
    {
        FReceiver = nullptr;
        FHandler = nullptr;
    }
    bool Assigned() const { return static_cast<bool>(FHandler); }
    const void* Receiver() const { return FReceiver; }

    // Calls the handler if one is set; a copy is called so a handler may reassign the event.
    void operator()(Args... args) const
    {
        if (FHandler) {
            Handler handler = FHandler;
            handler(std::forward<Args>(args)...);
        }
    }

private:
    const void* FReceiver = nullptr;
    Handler FHandler;
};

class QString;
using TNotifyEvent = TEvent<TObject*>;
// (Sender, MAC, IP, Subnet)
using TScheduleEvent = TEvent<TObject*, const QString&, const QString&, const QString&>;
