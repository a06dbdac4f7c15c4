#pragma once

#include <functional>

// Ends the program the orderly way on SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C in a terminal): the
// first of them runs closeWindows on the main thread, from the event loop, and then quits the event loop,
// so that the shutdown sequence runs as after a close of the main window. A second signal ends the
// process at once, the way the signal would have without us. A signal that was ignored at start (nohup)
// stays ignored. Needs the application object; install it once.
void InstallSignalHandler(std::function<void()> closeWindows);
