#include "app/commandDatabase.h"

#include "app/commandLine.h"
#include "core/exceptions.h"

#include <fcntl.h>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// What a process is, from its arguments: a window is started without a command.
TDatabaseHolder HolderOf(const QString& pid)
{
    QFile file(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return TDatabaseHolder::Unknown;
    QStringList arguments;
    for (const QByteArray& argument : file.readAll().split('\0'))
        arguments.append(QString::fromLocal8Bit(argument));
    if (!arguments.isEmpty() && arguments.constLast().isEmpty())
        arguments.removeLast();
    switch (ParseCommandLine(arguments).Action) {
    case TCommandLine::RunRequest:
        return TDatabaseHolder::Command;
    case TCommandLine::Window:
        return TDatabaseHolder::Window;
    default:
        return TDatabaseHolder::Unknown;
    }
}

} // namespace

TDatabaseHolder DatabaseHolder(const QString& fileName, bool write)
{
    const int fd =
        ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return TDatabaseHolder::None;
    struct stat info
    {
    };
    const bool known = ::fstat(fd, &info) == 0;
    const bool free = ::flock(fd, (write ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
    ::close(fd);
    if (free || !known)
        return free ? TDatabaseHolder::None : TDatabaseHolder::Unknown;
    // The kernel's table of locks names each holder's process: "1: FLOCK ADVISORY WRITE 1234 08:02:5678 0
    // EOF"; lines with "->" are processes waiting for a lock, not holding one.
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return TDatabaseHolder::Unknown;
    const QString device = QStringLiteral("%1:%2:")
                               .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                               .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'));
    const QString inode = QString::number(info.st_ino);
    TDatabaseHolder holder = TDatabaseHolder::Unknown;
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).simplified().split(QLatin1Char(' '));
        if (fields.size() < 6 || fields.at(1) != QLatin1String("FLOCK"))
            continue;
        const QString& file = fields.at(5);
        if (file != device + inode)
            continue;
        const TDatabaseHolder found = HolderOf(fields.at(4));
        // A window among the holders decides it: only it answers over a socket.
        if (found == TDatabaseHolder::Window)
            return found;
        if (found == TDatabaseHolder::Command)
            holder = found;
    }
    return holder;
}

TCommandDatabase OpenForCommand(const QString& fileName, TOpenDatabase::TOpenMode mode,
                                const std::function<std::optional<TCommandResult>()>& handOver,
                                Res::Id windowHolds)
{
    QElapsedTimer clock;
    clock.start();
    bool freeBefore = false;
    for (;;) {
        auto database = std::make_unique<TOpenDatabase>(fileName, mode);
        QString error;
        try {
            database->Open();
            return {std::move(database), std::nullopt};
        } catch (const std::exception& e) {
            error = CommandErrorLineJoined(ExceptionMessage(e));
        }
        database.reset();
        const TDatabaseHolder holder = DatabaseHolder(fileName, mode != TOpenDatabase::omReadOnly);
        if (holder == TDatabaseHolder::None) {
            // Let go between the two looks: once more; free twice, the error is another one.
            if (freeBefore)
                return {nullptr, TCommandResult{1, {}, error}};
            freeBefore = true;
            continue;
        }
        freeBefore = false;
        if (handOver) {
            if (std::optional<TCommandResult> answer = handOver())
                return {nullptr, answer};
        }
        const qint64 waited = clock.elapsed();
        if (holder == TDatabaseHolder::Window && waited >= WindowListenWaitMs)
            return {nullptr, TCommandResult{1, {}, CommandErrorLineJoined(Res::Str(windowHolds))}};
        if (waited >= CommandLockWaitMs) {
            if (holder == TDatabaseHolder::Command)
                error =
                    CommandErrorLineJoined(Res::Str(Res::CmdErrCommandHolds).arg(CommandLockWaitMs / 1000));
            return {nullptr, TCommandResult{1, {}, error}};
        }
        QThread::msleep(100);
    }
}
