#include "support/netns.h"

#include <atomic>
#include <QCoreApplication>
#include <QProcess>
#include <unistd.h>

namespace {
std::atomic<int> counter{0};
}

int RunCommand(const QString& program, const QStringList& args, QString* output, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(timeoutMs))
        return -1;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

TTestNamespace::TTestNamespace(const QString& stem)
{
    FName = QStringLiteral("sw%1%2x%3").arg(stem.left(6)).arg(getpid()).arg(counter++);
    FOk = RunCommand(QStringLiteral("ip"), {"netns", "add", FName}) == 0;
    if (FOk)
        Exec({"ip", "link", "set", "lo", "up"});
}

TTestNamespace::~TTestNamespace()
{
    if (FOk) {
        // Processes left inside would keep the namespace alive.
        RunCommand(QStringLiteral("ip"), {"netns", "pids", FName});
        QString pids;
        RunCommand(QStringLiteral("ip"), {"netns", "pids", FName}, &pids);
        for (const QString& pid : pids.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            RunCommand(QStringLiteral("kill"), {"-9", pid.trimmed()});
        RunCommand(QStringLiteral("ip"), {"netns", "del", FName});
    }
}

int TTestNamespace::Exec(const QStringList& command, QString* output, int timeoutMs) const
{
    QStringList args{"netns", "exec", FName};
    args += command;
    return RunCommand(QStringLiteral("ip"), args, output, timeoutMs);
}

bool TTestNamespace::Available(QString* reason)
{
    if (geteuid() != 0) {
        if (reason)
            *reason = QStringLiteral("network namespaces need root");
        return false;
    }
    TTestNamespace probe(QStringLiteral("probe"));
    if (!probe.Ok()) {
        if (reason)
            *reason = QStringLiteral("'ip netns add' failed on this machine");
        return false;
    }
    return true;
}

bool ConnectVeth(const TTestNamespace* a, const QString& addressA, const TTestNamespace* b,
                 const QString& addressB, QString* error)
{
    const QString tag = QStringLiteral("%1x%2").arg(getpid() % 100000).arg(counter++);
    const QString endA = QStringLiteral("va") + tag, endB = QStringLiteral("vb") + tag;
    auto fail = [&](const QString& what) {
        if (error)
            *error = what;
        return false;
    };
    if (RunCommand("ip", {"link", "add", endA, "type", "veth", "peer", "name", endB}) != 0)
        return fail(QStringLiteral("cannot create veth pair"));
    auto place = [&](const TTestNamespace* ns, const QString& end, const QString& address) {
        if (ns && RunCommand("ip", {"link", "set", end, "netns", ns->Name()}) != 0)
            return false;
        QStringList addr{"ip", "addr", "add", address, "broadcast", "+", "dev", end};
        QStringList up{"ip", "link", "set", end, "up"};
        if (ns)
            return ns->Exec(addr) == 0 && ns->Exec(up) == 0;
        return RunCommand("ip", addr.mid(1)) == 0 && RunCommand("ip", up.mid(1)) == 0;
    };
    if (!place(a, endA, addressA) || !place(b, endB, addressB)) {
        RunCommand("ip", {"link", "del", endA});
        return fail(QStringLiteral("cannot configure veth pair"));
    }
    return true;
}
