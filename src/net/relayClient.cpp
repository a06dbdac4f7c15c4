#include "net/relayClient.h"

#include "core/texts.h"
#include "net/relaySlots.h"

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
    TRelaySlots::Instance().Forget(this);
    for (; FLaunched > 0; --FLaunched)
        TRelaySlots::Instance().Release();
}

bool TRelayClient::ConnectionStands() const
{
    return QFileInfo::exists(ControlPath());
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

void TRelayClient::CloseConnection(bool wait)
{
    FConnected = false;
    TRelaySlots::Instance().Forget(this);
    if (!ConnectionStands())
        return;
    QStringList arguments = SshArguments();
    arguments.insert(arguments.size() - 1, QStringLiteral("-O"));
    arguments.insert(arguments.size() - 1, QStringLiteral("exit"));
    QProcess process;
    process.setProgram(QStringLiteral("ssh"));
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!wait) {
        process.startDetached();
        return;
    }
    // The master answers at once from its local socket.
    process.start();
    if (!process.waitForFinished(5000))
        process.kill();
}

namespace {

// The last line of ssh's standard error that is not a warning; empty when ssh gave no reason.
QString LastReason(const QString& sshError)
{
    QStringList lines;
    for (const QString& line : sshError.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        // ssh's warnings about added host keys and the like are not the reason.
        if (!trimmed.isEmpty() && !trimmed.startsWith(QLatin1String("Warning:")))
            lines << trimmed;
    }
    return lines.isEmpty() ? QString() : lines.last();
}

} // namespace

QString TRelayClient::ErrorText(const QString& relayName, const QString& destination, const QString& sshError)
{
    const QString last = LastReason(sshError);
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

void TRelayClient::Run(const QByteArray& script, int timeoutMs, qint64 outputLimit, TDone done)
{
    TJob job{script, timeoutMs > 0 ? timeoutMs : DefaultTimeoutMs, std::max<qint64>(outputLimit, 0),
             std::move(done)};
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
    auto held = std::make_shared<TJob>(std::move(job));
    TRelaySlots::Instance().Acquire(this, [this, held] { Launch(std::move(*held)); });
}

namespace {

// The script's output: what follows the mark line; nothing when the mark never came.
QByteArray ScriptOutput(const QByteArray& output, bool* marked)
{
    const QByteArray mark = QByteArray(TRelayClient::OutputMark) + '\n';
    *marked = true;
    if (output.startsWith(mark))
        return output.mid(mark.size());
    const qsizetype at = output.indexOf('\n' + mark);
    *marked = at >= 0;
    return at < 0 ? QByteArray() : output.mid(at + 1 + mark.size());
}

} // namespace

void TRelayClient::Launch(TJob job)
{
    ++FLaunched;
    // Without a standing connection this exchange opens it; this run ends it when done (CloseConnection).
    if (!ConnectionStands())
        FStartedConnection = true;
    TRelaySlots::Instance().Use(this);
    auto* process = new QProcess(this);
    auto* timer = new QTimer(process);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto done = std::make_shared<TDone>(std::move(job.Done));
    auto output = std::make_shared<QByteArray>();
    auto errors = std::make_shared<QByteArray>();
    auto finish = [this, process, timer, clock, done](TRelayReply reply) {
        process->disconnect();
        timer->stop();
        reply.ElapsedMs = clock->elapsed();
        // A process cut off is freed once it has ended, not waited for here.
        if (process->state() == QProcess::NotRunning) {
            process->deleteLater();
        } else {
            process->kill();
            connect(process, &QProcess::finished, process, &QObject::deleteLater);
        }
        --FLaunched;
        --FRunning;
        TRelaySlots::Instance().Release();
        Ended(reply);
        if (*done)
            (*done)(reply);
    };
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, finish, timeoutMs = job.TimeoutMs] {
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
    // Output is taken as it comes and never held beyond what the exchange can need: a relay that prints
    // without end is cut off instead of filling this process's memory.
    const qint64 limit = BannerAllowance + job.OutputLimit;
    auto take = [this, process, finish, output, errors, limit] {
        output->append(process->readAllStandardOutput());
        errors->append(process->readAllStandardError());
        if (output->size() <= limit && errors->size() <= limit)
            return false;
        TRelayReply reply;
        reply.Error = Res::Str(Res::RelayTooMuchOutput).arg(FRelay.Name);
        finish(reply);
        return true;
    };
    connect(process, &QProcess::readyReadStandardOutput, this, take);
    connect(process, &QProcess::readyReadStandardError, this, take);
    connect(process, &QProcess::finished, this,
            [this, finish, take, output, errors](int code, QProcess::ExitStatus status) {
                if (take())
                    return;
                TRelayReply reply;
                bool marked = false;
                reply.Output = ScriptOutput(*output, &marked);
                // ssh itself ends with 255 on every failure of its own; the scripts never use that code.
                if (status == QProcess::NormalExit && code != 255) {
                    reply.Ok = true;
                    reply.ExitCode = code;
                } else if (status == QProcess::NormalExit &&
                           (marked || LastReason(QString::fromLocal8Bit(*errors)).isEmpty())) {
                    // The script had begun, or ssh ended without a word of its own: the connection went
                    // away under the exchange.
                    reply.Error = Res::Str(Res::RelayClosed).arg(FRelay.Name).arg(code);
                } else {
                    reply.Error = ErrorText(FRelay.Name, FRelay.Destination, QString::fromLocal8Bit(*errors));
                }
                finish(reply);
            });
    process->setProgram(QStringLiteral("ssh"));
    process->setArguments(SshArguments() << QStringLiteral("sh -s"));
    timer->start(job.TimeoutMs);
    process->start();
    process->write("echo " + QByteArray(OutputMark) + '\n' + job.Script);
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
