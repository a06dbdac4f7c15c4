#include "support/sshServer.h"

#include "support/netns.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <signal.h>

namespace {

bool WriteText(const QString& path, const QString& text, bool append = false)
{
    QFile file(path);
    if (!file.open(append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

TSshClientSetup::TSshClientSetup(const QString& folder) : FFolder(folder)
{
    QDir().mkpath(folder + QStringLiteral("/bin"));
    QDir().mkpath(folder + QStringLiteral("/config/sablewick"));
    QDir().mkpath(folder + QStringLiteral("/run"));
    QFile::setPermissions(folder + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    FOk = RunCommand(QStringLiteral("ssh-keygen"),
                     {"-q", "-t", "ed25519", "-N", "", "-f", folder + "/client_key"}) == 0 &&
          WriteText(folder + QStringLiteral("/known_hosts"), QString()) &&
          WriteText(folder + QStringLiteral("/ssh_config"),
                    QStringLiteral("Host *\n  User root\n  IdentityFile %1/client_key\n  IdentitiesOnly yes\n"
                                   "  UserKnownHostsFile %1/known_hosts\n  GlobalKnownHostsFile /dev/null\n"
                                   "  StrictHostKeyChecking yes\n  LogLevel ERROR\n")
                        .arg(folder)) &&
          WriteText(folder + QStringLiteral("/bin/ssh"),
                    QStringLiteral("#!/bin/sh\nexec /usr/bin/ssh -F %1/ssh_config \"$@\"\n").arg(folder));
    QFile::setPermissions(folder + QStringLiteral("/bin/ssh"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("PATH", (folder + QStringLiteral("/bin:")).toUtf8() + qgetenv("PATH"));
    qputenv("XDG_CONFIG_HOME", (folder + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (folder + QStringLiteral("/run")).toUtf8());
}

void TSshClientSetup::TrustHost(const QString& host, const QString& hostPublicKeyFile)
{
    QFile key(hostPublicKeyFile);
    if (!key.open(QIODevice::ReadOnly))
        return;
    const QStringList fields = QString::fromUtf8(key.readAll()).split(QLatin1Char(' '));
    WriteText(FFolder + QStringLiteral("/known_hosts"),
              host + ' ' + fields.value(0) + ' ' + fields.value(1) + '\n', true);
}

void TSshClientSetup::AddConfig(const QString& lines)
{
    // ssh takes the first value it meets, so specific Host blocks go before "Host *".
    QFile file(FFolder + QStringLiteral("/ssh_config"));
    file.open(QIODevice::ReadOnly);
    const QString old = QString::fromUtf8(file.readAll());
    file.close();
    WriteText(FFolder + QStringLiteral("/ssh_config"), lines + QLatin1Char('\n') + old);
}

void TSshClientSetup::WriteRelays(const QString& content)
{
    WriteText(FFolder + QStringLiteral("/config/sablewick/relays.conf"), content);
}

void TSshClientSetup::WriteSettings(const QString& content)
{
    WriteText(FFolder + QStringLiteral("/config/sablewick/sablewick.conf"), content);
}

TSshServer::TSshServer(const TTestNamespace& ns, const QString& folder, const QString& address, int port,
                       const QString& authorizedKeys, const QString& extraConfig)
    : FNamespace(ns), FFolder(folder), FAddress(address), FPort(port)
{
    QDir().mkpath(folder);
    RunCommand(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", folder + "/host_key"});
    WriteText(folder + QStringLiteral("/sshd_config"),
              QStringLiteral("ListenAddress %1:%2\nHostKey %3/host_key\nPidFile %3/sshd.pid\n"
                             "AuthorizedKeysFile %4\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                             "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n"
                             "MaxStartups 100\nMaxSessions 20\n%5\n")
                  .arg(address)
                  .arg(port)
                  .arg(folder, authorizedKeys, extraConfig));
}

TSshServer::~TSshServer()
{
    Stop();
}

bool TSshServer::Start(QString* error)
{
    // The privilege separation folder of Debian's sshd.
    QDir().mkpath(QStringLiteral("/run/sshd"));
    if (!QProcess::startDetached(QStringLiteral("ip"),
                                 {"netns", "exec", FNamespace.Name(), "/usr/sbin/sshd", "-D", "-f",
                                  FFolder + "/sshd_config", "-E", FFolder + "/sshd.log"},
                                 QString(), &FPid)) {
        if (error)
            *error = QStringLiteral("sshd did not start");
        return false;
    }
    const QString listen = QStringLiteral("%1:%2").arg(FAddress).arg(FPort);
    for (int i = 0; i < 100; ++i) {
        QString out;
        FNamespace.Exec({"ss", "-Hltn"}, &out);
        if (out.contains(listen))
            return true;
        QThread::msleep(50);
    }
    if (error) {
        QFile log(FFolder + QStringLiteral("/sshd.log"));
        log.open(QIODevice::ReadOnly);
        *error =
            QStringLiteral("sshd does not listen on %1: %2").arg(listen, QString::fromUtf8(log.readAll()));
    }
    return false;
}

void TSshServer::Stop()
{
    if (FPid > 0)
        ::kill(static_cast<pid_t>(FPid), SIGTERM);
    FPid = 0;
}

int TSshServer::Connections() const
{
    QString out;
    FNamespace.Exec({"ss", "-Htn", "state", "established", "( sport = :" + QString::number(FPort) + " )"},
                    &out);
    return static_cast<int>(out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size());
}
