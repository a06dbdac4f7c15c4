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
