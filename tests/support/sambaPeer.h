#pragma once

#include "support/netns.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <thread>

// Moves the calling thread into a network namespace for the life of the object, and back again.
// Threads and processes started from it meanwhile begin in that namespace too, so a test that enters
// its own namespace first sends nothing to any network but the ones it builds.
class TNamespaceEntry
{
public:
    explicit TNamespaceEntry(const TTestNamespace& ns);
    ~TNamespaceEntry();
    TNamespaceEntry(const TNamespaceEntry&) = delete;
    TNamespaceEntry& operator=(const TNamespaceEntry&) = delete;
    bool Ok() const { return FOk; }

private:
    int FOriginal = -1;
    bool FOk = false;
};

// Samba's own daemons as a peer inside a test namespace: a configuration of the test's choosing in a
// temporary directory that also holds every lock, state, cache and log file.
class TSambaPeer
{
public:
    struct TOptions
    {
        QString NetbiosName;
        QString Workgroup;
        QString Address;      // the peer's interface address, "10.232.3.2/24"
        QString Aliases;      // further NetBIOS names
        QString ServerString; // the comment in browse lists
        bool Nmbd = true;
        bool Smbd = false;
        bool MasterBrowser = false;
        QString Shares; // share sections, "%DIR%" standing for the temporary directory
    };

    TSambaPeer(const TTestNamespace& ns, TOptions options);
    ~TSambaPeer();
    TSambaPeer(const TSambaPeer&) = delete;
    TSambaPeer& operator=(const TSambaPeer&) = delete;

    bool Start(QString* error);
    // Waits until answered() holds (nmbd has registered its names), at most 30 s, starting nmbd anew
    // once after 15 s: a daemon that came up without its names stays so. Well inside any test's time-out,
    // so a dead peer reads as such rather than as a hang.
    bool AwaitNames(const std::function<bool()>& answered, QString* error);
    QString Directory() const { return FDir.path(); }
    const TOptions& Options() const { return FOptions; }

    // Whether nmbd and smbd are installed; the reason if not.
    static bool Available(QString* reason);

    // A client configuration (for libsmbclient) in dir: the workgroup, broadcast name resolution on
    // the given interface only, the old protocol allowed, every file of its own in dir.
    static QString WriteClientConfiguration(const QString& dir, const QString& workgroup,
                                            const QString& interfaceAddress);

private:
    bool Launch(const QString& program, QString* error);
    bool RestartNmbd(QString* error);

    const TTestNamespace& FNamespace;
    TOptions FOptions;
    QTemporaryDir FDir;
    std::vector<std::unique_ptr<QProcess>> FProcesses;
    QProcess* FNmbd = nullptr;
};

// A NetBIOS name server of the test's own, standing in where Samba cannot give what a test needs: a real
// unit ID, an answer of a given shape, an answer that comes late. It runs on a thread of its own inside
// the peer's namespace and listens on UDP 137 of every address there.
class TNbnsResponder
{
public:
    // Answers a name query for name16 (16 raw bytes) from source (host order): the address to answer, or
    // 0 for no answer.
    using TNameAnswer = std::function<quint32(const QByteArray& name16, quint32 source)>;
    // The whole reply datagram to a node status request with this transaction id; empty for no answer.
    using TStatusAnswer = std::function<QByteArray(quint16 transactionId, const QByteArray& name16)>;

    explicit TNbnsResponder(const TTestNamespace& ns);
    ~TNbnsResponder();
    TNbnsResponder(const TNbnsResponder&) = delete;
    TNbnsResponder& operator=(const TNbnsResponder&) = delete;

    bool Start(QString* error);

    void SetNameAnswer(TNameAnswer answer);
    void SetStatusAnswer(TStatusAnswer answer);
    // How long every node status answer is held back. (Name queries are answered at once: a client gives
    // up on a broadcast name query within a fraction of a second.)
    void SetStatusDelayMs(int ms) { FDelayMs = ms; }
    int NameQueries() const { return FNameQueries; }
    int StatusRequests() const { return FStatusRequests; }

    // A positive name query answer and a node status answer, built by the rules (for tests that
    // then spoil them).
    static QByteArray NameQueryReply(quint16 transactionId, const QByteArray& name16, quint32 address);
    static QByteArray NodeStatusReply(quint16 transactionId, const QByteArray& name16,
                                      const QList<QByteArray>& names, const QByteArray& unitId);

private:
    void Run();

    const TTestNamespace& FNamespace;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<int> FDelayMs{0};
    std::atomic<int> FNameQueries{0};
    std::atomic<int> FStatusRequests{0};
    std::mutex FLock;
    TNameAnswer FNameAnswer;
    TStatusAnswer FStatusAnswer;
    int FSocket = -1;
    std::atomic<int> FReady{0}; // 1 listening, -1 failed
};
