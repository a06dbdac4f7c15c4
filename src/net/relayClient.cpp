#include "net/relayClient.h"

#include "core/texts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <unistd.h>

QString RelaySocketFolder()
{
    // Qt warns on stderr each time it is asked without $XDG_RUNTIME_DIR (and cron mails every line), so
    // it is asked only when the variable is set; else a folder of this user's in the temporary folder.
    const QString base = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")
                             ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                             : QString();
    const QString folder =
        base.isEmpty() ? QDir::tempPath() + QStringLiteral("/sablewick-") + QString::number(::geteuid())
                       : base + QStringLiteral("/sablewick");
    QDir().mkpath(folder);
    // Whoever can reach a control socket can run commands on the relay as this user.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

QByteArray ShellQuote(const QString& text)
{
    QByteArray quoted = text.toUtf8();
    quoted.replace('\'', QByteArrayLiteral("'\\''"));
    return '\'' + quoted + '\'';
}

TRelayClient::TRelayClient(TRelay relay, QObject* parent) : QObject(parent), FRelay(std::move(relay))
{
}

TRelayClient::~TRelayClient()
{
    // Processes still running are children of this object; they are killed with it, and their callers
    // were told nothing because the owner is going away.
    for (QProcess* process : findChildren<QProcess*>()) {
        process->disconnect();
        process->kill();
    }
}

QString TRelayClient::ControlPath() const
{
    const QByteArray key = (FRelay.Name + QLatin1Char('\n') + FRelay.Destination).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16);
    return RelaySocketFolder() + QLatin1Char('/') + QString::fromLatin1(hash);
}

QStringList TRelayClient::SshArguments() const
{
    QString path = ControlPath();
    // ssh expands %-tokens in the path.
    path.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return {QStringLiteral("-T"),
            QStringLiteral("-o"),
            QStringLiteral("BatchMode=yes"),
            QStringLiteral("-o"),
            QStringLiteral("ConnectTimeout=%1").arg(ConnectTimeoutSeconds),
            QStringLiteral("-o"),
            QStringLiteral("ServerAliveInterval=5"),
            QStringLiteral("-o"),
            QStringLiteral("ServerAliveCountMax=2"),
            QStringLiteral("-o"),
            QStringLiteral("ControlMaster=auto"),
            QStringLiteral("-o"),
            QStringLiteral("ControlPersist=%1").arg(PersistSeconds),
            QStringLiteral("-o"),
            QStringLiteral("ControlPath=") + path,
            FRelay.Destination};
}

void TRelayClient::CloseConnection()
{
    if (!QFileInfo::exists(ControlPath()))
        return;
    QStringList arguments = SshArguments();
    arguments.insert(arguments.size() - 1, QStringLiteral("-O"));
    arguments.insert(arguments.size() - 1, QStringLiteral("exit"));
    QProcess process;
    process.setProgram(QStringLiteral("ssh"));
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

QString TRelayClient::ErrorText(const QString& relayName, const QString& destination, const QString& sshError)
{
    QStringList lines;
    for (const QString& line : sshError.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        // ssh's warnings about added host keys and the like are not the reason.
        if (!trimmed.isEmpty() && !trimmed.startsWith(QLatin1String("Warning:")))
            lines << trimmed;
    }
    const QString last = lines.isEmpty() ? QString() : lines.last();
    auto has = [&sshError](const char* text) {
        return sshError.contains(QLatin1String(text), Qt::CaseInsensitive);
    };
    if (has("Host key verification failed") || has("HOST IDENTIFICATION HAS CHANGED") ||
        has("host key is known"))
        return Res::Str(Res::RelayHostKey).arg(relayName, destination);
    if (has("Permission denied"))
        return Res::Str(Res::RelayKeyRefused).arg(relayName, destination);
    if (has("Connection refused"))
        return Res::Str(Res::RelayRefused).arg(relayName, destination);
    if (has("timed out") || has("No route to host") || has("Network is unreachable") ||
        has("Could not resolve hostname") || has("Name or service not known"))
        return Res::Str(Res::RelayUnreachable).arg(relayName, destination, last);
    return Res::Str(Res::RelayFailed).arg(relayName, last.isEmpty() ? Res::Str(Res::RelayNoReason) : last);
}

void TRelayClient::Run(const QByteArray& script, int timeoutMs, TDone done)
{
    TJob job{script, timeoutMs > 0 ? timeoutMs : DefaultTimeoutMs, std::move(done)};
    // A shared connection that timed out or was closed is opened again by the next exchange alone.
    if (FConnected && !QFileInfo::exists(ControlPath()))
        FConnected = false;
    if (!FConnected && FRunning > 0) {
        FWaiting.push_back(std::move(job));
        return;
    }
    Start(std::move(job));
}

void TRelayClient::Start(TJob job)
{
    ++FRunning;
    auto* process = new QProcess(this);
    auto* timer = new QTimer(process);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto done = std::make_shared<TDone>(std::move(job.Done));
    auto finish = [this, process, timer, clock, done](TRelayReply reply) {
        process->disconnect();
        timer->stop();
        reply.ElapsedMs = clock->elapsed();
        process->deleteLater();
        --FRunning;
        Ended(reply);
        if (*done)
            (*done)(reply);
    };
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, process, finish, timeoutMs = job.TimeoutMs] {
        process->kill();
        TRelayReply reply;
        reply.Error = Res::Str(Res::RelayTimedOut).arg(FRelay.Name).arg((timeoutMs + 999) / 1000);
        finish(reply);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process, finish](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        TRelayReply reply;
        reply.Error = Res::Str(Res::RelayNoSsh).arg(FRelay.Name, process->errorString());
        finish(reply);
    });
    connect(process, &QProcess::finished, this,
            [this, process, finish](int code, QProcess::ExitStatus status) {
                TRelayReply reply;
                reply.Output = process->readAllStandardOutput();
                // ssh itself ends with 255 on every failure of its own; the scripts never use that code.
                if (status == QProcess::NormalExit && code != 255) {
                    reply.Ok = true;
                    reply.ExitCode = code;
                } else {
                    reply.Error = ErrorText(FRelay.Name, FRelay.Destination,
                                            QString::fromLocal8Bit(process->readAllStandardError()));
                }
                finish(reply);
            });
    process->setProgram(QStringLiteral("ssh"));
    process->setArguments(SshArguments() << QStringLiteral("sh -s"));
    timer->start(job.TimeoutMs);
    process->start();
    process->write(job.Script);
    process->closeWriteChannel();
}

void TRelayClient::Ended(const TRelayReply& reply)
{
    if (reply.Ok) {
        FConnected = true;
        while (!FWaiting.empty()) {
            TJob job = std::move(FWaiting.front());
            FWaiting.pop_front();
            Start(std::move(job));
        }
        return;
    }
    if (FConnected)
        return;
    // The exchange that was to open the connection failed: those waiting for it would only fail the same
    // way, one timeout after another.
    std::deque<TJob> waiting;
    waiting.swap(FWaiting);
    for (TJob& job : waiting)
        if (job.Done)
            job.Done(reply);
}
