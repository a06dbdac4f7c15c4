// The database as a command of the command line opens it: who holds a file that is locked, and the wait
// for another command to let it go.
#pragma once

#include "app/commandMessage.h"
#include "core/texts.h"
#include "model/openDatabase.h"

#include <functional>
#include <memory>
#include <optional>
#include <QString>

// Who holds the lock on a database file, as far as a command taking it would be kept out.
enum class TDatabaseHolder
{
    None,    // nobody: the lock can be had
    Command, // another command, which lets it go when it ends
    Window,  // a window, which takes requests over its socket
    Unknown, // a process this one cannot name
};

// Tries the lock as a command that writes (exclusive) or reads (shared) takes it, and lets it go at once.
TDatabaseHolder DatabaseHolder(const QString& fileName, bool write);

// How long a command waits for another command that holds the file (cron and a timer started together).
inline constexpr int CommandLockWaitMs = 30000;
// How long a window that holds the file may take to answer on its socket (it locks the file before it
// listens) before the command gives up on it.
inline constexpr int WindowListenWaitMs = 5000;

struct TCommandDatabase
{
    std::unique_ptr<TOpenDatabase> Database; // open; null when the command has its answer already
    std::optional<TCommandResult> Result;
};

// Opens the file in mode. While another command holds it, tries again every 100 ms for up to
// CommandLockWaitMs, each time offering the request to a window first (handOver: nothing when none
// answers), as a window may have taken the file meanwhile. A window that holds the file and does not
// answer gets windowHolds as the error.
TCommandDatabase OpenForCommand(const QString& fileName, TOpenDatabase::TOpenMode mode,
                                const std::function<std::optional<TCommandResult>()>& handOver,
                                Res::Id windowHolds = Res::CmdErrWindowHolds);
