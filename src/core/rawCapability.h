#pragma once

// The raw-socket capability (CAP_NET_RAW). An installed program holds it as permitted only; it is made
// effective just while a socket that needs it is opened, and only in the thread that opens it (the
// kernel keeps capabilities per thread).

// Takes it out of the calling thread's effective set, keeping it permitted, unless the process runs as
// root (which holds every capability; dropping one of them would make it no safer). Call first thing in
// main, before any thread starts, so every thread starts without it.
void LowerRawCapability();

// Raises it for the lifetime of the object when it is permitted and not already effective, and lowers
// it again at the end of the scope.
class TRawCapabilityScope
{
public:
    TRawCapabilityScope();
    ~TRawCapabilityScope();
    TRawCapabilityScope(const TRawCapabilityScope&) = delete;
    TRawCapabilityScope& operator=(const TRawCapabilityScope&) = delete;

private:
    bool FRaised = false;
};
