#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A number from /proc/<pid>/status ("Threads", "VmHWM" in kB, ...), the unit dropped; -1 when unreadable.
// Tests and benchmarks use it to show that thread counts and memory stay bounded.
inline qint64 ProcStatusField(const char* name, const QString& pid = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    return -1;
}

inline qint64 ThreadCount()
{
    return ProcStatusField("Threads");
}

// The system's load averages over 1, 5 and 15 minutes, as /proc/loadavg gives them: benchmarks print it,
// since their times depend on what else the machine runs.
inline QString LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    const QList<QByteArray> fields = file.readAll().split(' ');
    return QString::fromLatin1(fields.mid(0, 3).join(' '));
}
