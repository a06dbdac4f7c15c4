// The ssh exchanges with one relay (TRelayClient) and the plain words for what went wrong.
#pragma once

#include "net/relays.h"

#include <deque>
#include <functional>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;

// How one exchange ended.
struct TRelayReply
{
    bool Ok = false;   // ssh connected and the remote script ran (whatever its exit code)
    int ExitCode = -1; // the remote script's exit code when Ok
    QByteArray Output;
    QString Error; // plain words naming the relay when not Ok
    qint64 ElapsedMs = 0;
};

// Runs shell scripts on one relay with the user's own ssh (their configuration, keys, agent, known hosts,
// ProxyJump). ssh never prompts (BatchMode), and every exchange shares one connection that the first one
// opens (ControlMaster/ControlPersist, its socket in the user's runtime folder): until that connection is
// known to stand, exchanges wait for the one in flight instead of each opening a connection of its own.
// Main thread; nothing here waits: ssh runs as an asynchronous process.
class TRelayClient : public QObject
{
public:
    using TDone = std::function<void(const TRelayReply& reply)>;

    // Longest wait for any exchange; a relay that hangs is given up then.
    static constexpr int DefaultTimeoutMs = 20000;
    static constexpr int ConnectTimeoutSeconds = 10;
    // How long the shared connection outlives its last exchange.
    static constexpr int PersistSeconds = 600;
    // What the relay may print before the script's own output (a login banner, a shell's noise), beyond
    // what the exchange itself can need; past it the exchange is ended.
    static constexpr qint64 BannerAllowance = 64 * 1024;
    // The line the script prints first: the output before it is the login shell's, not the script's.
    static constexpr char OutputMark[] = "=sablewick-output=";

    explicit TRelayClient(TRelay relay, QObject* parent = nullptr);
    ~TRelayClient() override;

    const TRelay& Relay() const { return FRelay; }
    // The script goes to "sh -s" on the relay through standard input, so no value of it passes through the
    // remote login shell's command line. Its output may take outputLimit bytes (besides BannerAllowance);
    // a relay that sends more is cut off.
    void Run(const QByteArray& script, int timeoutMs, qint64 outputLimit, TDone done);

    // The arguments given to ssh, the destination last (before the remote command).
    QStringList SshArguments() const;
    // The socket of the shared connection.
    QString ControlPath() const;
    // Ends the shared connection, if one stands (ssh -O exit); waits for ssh only when asked to.
    void CloseConnection(bool wait = false);
    // Whether this process's exchanges started the shared connection (rather than finding it standing).
    bool StartedConnection() const { return FStartedConnection; }
    bool ConnectionStands() const;
    // An exchange's ssh is running.
    bool Busy() const { return FLaunched > 0; }

    // The plain-words message for ssh's standard error of a failed connection.
    static QString ErrorText(const QString& relayName, const QString& destination, const QString& sshError);

private:
    struct TJob
    {
        QByteArray Script;
        int TimeoutMs = DefaultTimeoutMs;
        qint64 OutputLimit = 0;
        TDone Done;
    };
    void Start(TJob job);
    // Runs the job's ssh once it holds one of the slots shared by all relays.
    void Launch(TJob job);
    void Ended(const TRelayReply& reply);

    TRelay FRelay;
    bool FConnected = false; // an exchange has succeeded and the shared connection stands
    int FRunning = 0;        // exchanges started, whether their ssh runs yet or waits for a slot
    int FLaunched = 0;       // exchanges whose ssh runs
    bool FStartedConnection = false;
    std::deque<TJob> FWaiting;
};

// The folder of this user's relay connection sockets (mode 0700), created when missing.
QString RelaySocketFolder();
// A text as one word for a POSIX shell: in single quotes, each single quote written as '\''.
QByteArray ShellQuote(const QString& text);
