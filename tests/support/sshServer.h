// Debian's OpenSSH server in a test namespace, and an ssh client set up for it (TSshServer, TSshClientSetup).
#pragma once

#include <QString>
#include <QStringList>

class TTestNamespace;

// Keys, configuration and ssh wrapper of a test's own, all in one folder: the program's "ssh" (first on the
// PATH) is a wrapper that runs /usr/bin/ssh with the folder's ssh_config, so the user's ~/.ssh is never read.
// Sets PATH, XDG_CONFIG_HOME and XDG_RUNTIME_DIR of this process.
class TSshClientSetup
{
public:
    explicit TSshClientSetup(const QString& folder);
    bool Ok() const { return FOk; }
    const QString& Folder() const { return FFolder; }
    QString ClientPublicKey() const { return FFolder + QStringLiteral("/client_key.pub"); }
    // Adds a host key as known for host (an address, or "[address]:port").
    void TrustHost(const QString& host, const QString& hostPublicKeyFile);
    // Extra lines for the ssh_config (Host blocks).
    void AddConfig(const QString& lines);
    // Writes relays.conf.
    void WriteRelays(const QString& content);
    void WriteSettings(const QString& content);

private:
    QString FFolder;
    bool FOk = false;
};

// sshd -D in a namespace, listening on address:port, accepting the client's key for root.
class TSshServer
{
public:
    TSshServer(const TTestNamespace& ns, const QString& folder, const QString& address, int port,
               const QString& authorizedKeys, const QString& extraConfig = QString());
    ~TSshServer();
    bool Start(QString* error = nullptr);
    void Stop();
    QString HostPublicKey() const { return FFolder + QStringLiteral("/host_key.pub"); }
    // Established TCP connections to the server's port, counted inside its namespace.
    int Connections() const;

private:
    const TTestNamespace& FNamespace;
    QString FFolder;
    QString FAddress;
    int FPort;
    qint64 FPid = 0;
};
