#pragma once

#include <QString>

// Moves the calling thread (call it on the main thread before any worker exists) into a network
// namespace of its own with only the loopback interface up. Workers and child processes started from
// it afterwards inherit it, so whatever a test's browsing, detection or name lookups send can reach
// nothing outside 127.0.0.0/8. False, with the reason, when the namespace cannot be made.
bool IsolateNetwork(QString* reason = nullptr);
