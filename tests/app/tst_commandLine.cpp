#include "app/commandDatabase.h"
#include "app/commandLine.h"
#include "app/commandRunner.h"
#include "app/instanceServer.h"
#include "core/texts.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "net/relayClient.h"
#include "product/versionInfo.h"
#include "support/isolatedNetwork.h"
#include "support/netns.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TRun
{
    int Exit = -1;
    QString Out;
    QString Err;
};

struct TPeer
{
    const char* Name;
    const char* IP;
    const char* MAC;
};

// Two computers reached over loopback, each with a listener of its own for the wake-up packets.
const TPeer Peers[] = {{"Alpha", "127.0.0.1", "00-11-22-33-44-55"},
                       {"Beta", "127.0.0.2", "66-77-88-99-AA-BB"}};

bool Isolated = false; // in a network namespace of its own (set in main): only then may a test change it

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void answersWithoutWindowOrFile_data();
    void answersWithoutWindowOrFile();
    void requests_data();
    void requests();
    void ambiguousNamesWakeNothing();
    void nothingButTheAnswerWithoutRuntimeVariable();
    void secondStartBringsTheWindowForward();
    void foreignSocketIsNotUsed();
    void foreignPeerIsRefused();
    void queriesWriteNothing();
    void wakeThroughTheWindowIsWatched();
    void answersInTheUsersLanguage();
    void largeRequestsThroughTheWindow();
    void plainListEscapes();
    void administratorsOnly();
    void checksWithoutPingSockets();
    void runSchedules_data();
    void runSchedules();
    void deletionWhileNamesAreMatched();
    void statusStartsItsChecksInSlices();
    void editCommands_data();
    void editCommands();
    void heldDatabase();
    void socketBoundsWhatRequestsHold();

private:
    TRun Run(const QStringList& arguments, const QString& workingFolder = {}, int timeoutMs = 90000);
    void MakeDatabase(bool twins = false);
    bool StartInstance();
    QStringList Received(int peer);
    QString DatabaseFile() const { return FTemp->filePath(QStringLiteral("db/network.ccn")); }

    std::unique_ptr<QTemporaryDir> FTemp;
    QProcessEnvironment FEnvironment;
    std::vector<std::unique_ptr<QUdpSocket>> FListeners;
    std::unique_ptr<QProcess> FInstance;
};

void TestCommandLine::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("sablewick"));
}

void TestCommandLine::init()
{
    FTemp = std::make_unique<QTemporaryDir>();
    QVERIFY(FTemp->isValid());
    const QString runtime = FTemp->filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));

    // No display: whatever runs here must not need one.
    FEnvironment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        FEnvironment.remove(QString::fromLatin1(name));
    FEnvironment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    FEnvironment.insert(QStringLiteral("XDG_DATA_HOME"), FTemp->filePath(QStringLiteral("data")));
    FEnvironment.insert(QStringLiteral("HOME"), FTemp->filePath(QStringLiteral("home")));

    FListeners.clear();
    for (const TPeer& peer : Peers) {
        auto socket = std::make_unique<QUdpSocket>();
        QVERIFY(socket->bind(QHostAddress(QString::fromLatin1(peer.IP)), 0));
        FListeners.push_back(std::move(socket));
    }
}

void TestCommandLine::cleanup()
{
    if (FInstance) {
        FInstance->kill();
        FInstance->waitForFinished(10000);
        FInstance.reset();
    }
    FListeners.clear();
    FTemp.reset();
}

TRun TestCommandLine::Run(const QStringList& arguments, const QString& workingFolder, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(FEnvironment);
    process.setWorkingDirectory(workingFolder.isEmpty() ? FTemp->path() : workingFolder);
    process.start(qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick"),
                  arguments);
    TRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TestCommandLine::MakeDatabase(bool twins)
{
    QVERIFY(QDir().mkpath(QFileInfo(DatabaseFile()).path()));
    TOstrelDatabase db;
    db.FileName = DatabaseFile();
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (size_t i = 0; i < std::size(Peers); ++i) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(QString::fromLatin1(Peers[i].Name));
        computer->IPAddress = QString::fromLatin1(Peers[i].IP);
        computer->SendOptions = soInternet;
        computer->Port = FListeners[i]->localPort();
        computer->MACAddresses()->Add()->Address = QString::fromLatin1(Peers[i].MAC);
    }
    if (TComputer* twin = twins ? group.Computers()->Add() : nullptr) { // Alpha's address, name in lower case
        twin->SetName(QStringLiteral("alpha"));
        twin->IPAddress = QString::fromLatin1(Peers[0].IP);
        twin->SendOptions = soInternet;
        twin->Port = FListeners[0]->localPort();
        twin->MACAddresses()->Add()->Address = QStringLiteral("02-00-00-00-00-01");
    }
    // A computer without a MAC address cannot be woken.
    group.Computers()->Add()->SetName(QStringLiteral("NoMac"));
    // Nor one whose host name does not resolve: no packet leaves, and the command must not say it did.
    TComputer* lost = group.Computers()->Add();
    lost->SetName(QStringLiteral("Lost"));
    lost->IPAddress = QStringLiteral("lost.invalid");
    lost->SendOptions = soInternet;
    lost->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-66");
    QVERIFY(SaveGroup(group));
    group.Storage.reset();
}

bool TestCommandLine::StartInstance()
{
    FInstance = std::make_unique<QProcess>();
    QProcessEnvironment environment = FEnvironment;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    FInstance->setProcessEnvironment(environment);
    FInstance->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FInstance->start(qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick"),
                     {QStringLiteral("--database"), DatabaseFile()});
    const QString socket = InstanceSocketPath(DatabaseFile());
    // The socket appears once the window holds the database.
    for (int i = 0; i < 600 && FInstance->state() != QProcess::NotRunning; ++i) {
        if (QFileInfo::exists(socket))
            return true;
        QTest::qWait(100);
    }
    return false;
}

QStringList TestCommandLine::Received(int peer)
{
    QStringList macs;
    QUdpSocket& socket = *FListeners[peer];
    (void)QTest::qWaitFor([&socket] { return socket.hasPendingDatagrams(); }, 2000);
    while (socket.hasPendingDatagrams()) {
        QByteArray packet(socket.pendingDatagramSize(), 0);
        socket.readDatagram(packet.data(), packet.size());
        // The target's address follows six 0xFF bytes, sixteen times over.
        if (packet.size() == 102 && packet.startsWith(QByteArray(6, char(0xFF))))
            macs.append(QString::fromLatin1(packet.mid(6, 6).toHex('-').toUpper()));
    }
    return macs;
}

void TestCommandLine::answersWithoutWindowOrFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expectedOut"); // a part of stdout; empty: nothing

    QTest::newRow("help") << QStringList{"--help"} << 0 << "--status";
    QTest::newRow("help with database") << QStringList{"--database", "x.ccn", "-h"} << 0 << "--wake";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "sablewick ";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "";
    QTest::newRow("option value missing") << QStringList{"--database"} << 2 << "";
    QTest::newRow("wake without names") << QStringList{"--wake"} << 2 << "";
    QTest::newRow("two actions") << QStringList{"--wake", "--list", "a"} << 2 << "";
    QTest::newRow("list with names") << QStringList{"--list", "a"} << 2 << "";
    QTest::newRow("names alone") << QStringList{"alpha"} << 2 << "";
    QTest::newRow("two databases") << QStringList{"--database", "a", "--database", "b", "--list"} << 2 << "";
    QTest::newRow("json alone") << QStringList{"--json"} << 2 << "";
    QTest::newRow("wake json") << QStringList{"--wake", "--json", "a"} << 2 << "";
    QTest::newRow("missing database") << QStringList{"--database", "missing.ccn", "--list"} << 1 << "";
    QTest::newRow("no database at the default place") << QStringList{"--list"} << 0 << "";
    QTest::newRow("no schedules at the default place") << QStringList{"--run-schedules"} << 0 << "";
    QTest::newRow("mac without new") << QStringList{"--mac", "00:11:22:33:44:55"} << 2 << "";
    QTest::newRow("comment with wake") << QStringList{"--wake", "a", "--comment", "x"} << 2 << "";
    QTest::newRow("port with list") << QStringList{"--list", "--port", "9"} << 2 << "";
    QTest::newRow("port zero") << QStringList{"--wake", "a", "--port", "0"} << 2 << "";
    QTest::newRow("new without mac") << QStringList{"--new", "a"} << 2 << "";
    QTest::newRow("new with a bad mode")
        << QStringList{"--new", "a", "--mac", "001122334455", "--mode", "wan"} << 2 << "";
    QTest::newRow("window without a display") << QStringList{} << 1 << "";
}

void TestCommandLine::answersWithoutWindowOrFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, expectedOut);

    const QString work = FTemp->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    const TRun run = Run(arguments, work);
    QCOMPARE(run.Exit, exitCode);
    if (expectedOut.isEmpty())
        QCOMPARE(run.Out, QString());
    else
        QVERIFY2(run.Out.contains(expectedOut), qPrintable(run.Out));
    if (exitCode == 0) {
        QCOMPARE(run.Err, QString());
    } else {
        QVERIFY(run.Err.startsWith(QLatin1String("sablewick: ")));
        QCOMPARE(run.Err.count(QLatin1Char('\n')), 1);
    }
    if (arguments == QStringList{"--version"}) {
        const QString binary =
            qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick");
        QCOMPARE(run.Out, QStringLiteral("sablewick %1\n").arg(GetFileVersionString(binary)));
    }
    QCOMPARE(QDir(work).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QVERIFY(!QFileInfo::exists(FTemp->filePath(QStringLiteral("data"))));
    QVERIFY(!QFileInfo::exists(FTemp->filePath(QStringLiteral("home"))));
}

void TestCommandLine::requests_data()
{
    QTest::addColumn<bool>("withInstance");
    QTest::addColumn<int>("runtimeVariable"); // 0: everywhere, 1: nowhere, 2: the window's alone
    QTest::newRow("database opened here") << false << 0;
    QTest::newRow("handed to the running window") << true << 0;
    // As from cron: the window and the command line still find each other.
    QTest::newRow("handed over without XDG_RUNTIME_DIR") << true << 1;
    QTest::newRow("window with a runtime folder of its own, command without") << true << 2;
}

void TestCommandLine::requests()
{
    QFETCH(bool, withInstance);
    QFETCH(int, runtimeVariable);
    auto dropVariable = [this] {
        qunsetenv("XDG_RUNTIME_DIR");
        FEnvironment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    };
    if (runtimeVariable == 1)
        dropVariable();
    MakeDatabase();
    if (withInstance)
        QVERIFY(StartInstance());
    if (runtimeVariable == 2)
        dropVariable();
    const QStringList db{QStringLiteral("--database"), DatabaseFile()};

    // The list, as JSON.
    TRun run = Run(db + QStringList{"--list", "--json"});
    QCOMPARE(run.Exit, 0);
    const QJsonArray list = QJsonDocument::fromJson(run.Out.toUtf8()).array();
    QCOMPARE(list.size(), 4);
    QCOMPARE(list[1].toObject().value("name").toString(), QStringLiteral("Beta"));
    QCOMPARE(list[1].toObject().value("mac").toString(), QStringLiteral("66-77-88-99-AA-BB"));
    QCOMPARE(list[1].toObject().value("ip").toString(), QStringLiteral("127.0.0.2"));
    QCOMPARE(list[1].toObject().value("mode").toString(), QStringLiteral("Internet"));
    QCOMPARE(list[1].toObject().value("port"), QJsonValue(FListeners[1]->localPort()));
    run = Run(db + QStringList{"--list"});
    QCOMPARE(run.Out.count(QLatin1Char('\n')), 4);
    QVERIFY(run.Out.startsWith(QLatin1String("Alpha\t00-11-22-33-44-55\t127.0.0.1\t")));

    // Waking by name (any case), by MAC and by IP, two at once.
    run = Run(db + QStringList{"--wake", "alpha", "127.0.0.2"});
    QCOMPARE(run.Exit, 0);
    QCOMPARE(Received(0), QStringList{"00-11-22-33-44-55"});
    QCOMPARE(Received(1), QStringList{"66-77-88-99-AA-BB"});
    run = Run(db + QStringList{"--wake", "66:77:88:99:aa:bb", "Nobody", "NoMac", "Lost"});
    QCOMPARE(run.Exit, 1);
    QVERIFY2(run.Err.contains(QLatin1String("\"Nobody\"")) && run.Err.contains(QLatin1String("\"NoMac\"")) &&
                 run.Err.contains(QLatin1String("\"Lost\"")),
             qPrintable(run.Err));
    QVERIFY2(!run.Out.contains(QLatin1String("Lost")), qPrintable(run.Out));
    QCOMPARE(Received(1), QStringList{"66-77-88-99-AA-BB"}); // the match found is still woken
    QCOMPARE(Received(0), QStringList());
    // Every packet of the run to the port given.
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    run = Run(db + QStringList{"--wake", "alpha", "--port", QString::number(other.localPort())});
    QCOMPARE(run.Exit, 0);
    QVERIFY(QTest::qWaitFor([&other] { return other.hasPendingDatagrams(); }, 2000));
    QCOMPARE(Received(0), QStringList());

    // Checking now: both answer on loopback.
    run = Run(db + QStringList{"--status", "Alpha", "beta", "--json"});
    const QJsonArray status = QJsonDocument::fromJson(run.Out.toUtf8()).array();
    QCOMPARE(status.size(), 2);
    if (status[0].toObject().value("reply").toString().contains(QLatin1String("socket")))
        QSKIP("no ICMP socket for this user");
    QCOMPARE(run.Exit, 0);
    for (const QJsonValue& entry : status) {
        QVERIFY(entry.toObject().value("online").toBool());
        QVERIFY(!entry.toObject().value("checked").isNull());
    }
    run = Run(db + QStringList{"--status", "Alpha", "Nobody"});
    QCOMPARE(run.Exit, 1);
    QVERIFY(run.Out.startsWith(QLatin1String("Alpha\tonline\t")));

    // What a check found is kept, by the window or by the command line.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QJsonArray after =
                QJsonDocument::fromJson(Run(db + QStringList{"--list", "--json"}).Out.toUtf8()).array();
            return after.size() == 4 && after[0].toObject().value("online").toBool();
        }(),
        20000);
    if (!withInstance) // the lock is released: only the file is left
        QCOMPARE(QDir(QFileInfo(DatabaseFile()).path()).entryList(QDir::Files), QStringList{"network.ccn"});
    else
        QCOMPARE(FInstance->state(), QProcess::Running);
}

// A name two computers match (one exactly), or an address two hold, wakes neither; the others still go.
void TestCommandLine::ambiguousNamesWakeNothing()
{
    MakeDatabase(true);
    const QString line = "\" matches several computers: Alpha (00-11-22-33-44-55, 127.0.0.1), alpha "
                         "(02-00-00-00-00-01, 127.0.0.1); name one by its MAC or IP address\n";
    for (const bool window : {false, true}) {
        QVERIFY(!window || StartInstance());
        const TRun run = Run({"--database", DatabaseFile(), "--wake", "alpha", "127.0.0.1", "beta"});
        QCOMPARE(run.Exit, 1);
        QCOMPARE(run.Err, "sablewick: \"alpha" + line + "sablewick: \"127.0.0.1" + line);
        QCOMPARE(Received(0), QStringList());
        QCOMPARE(Received(1), QStringList{"66-77-88-99-AA-BB"});
    }
}

// As cron runs it, without $XDG_RUNTIME_DIR: Qt, asked for the runtime folder, would warn on stderr.
void TestCommandLine::nothingButTheAnswerWithoutRuntimeVariable()
{
    qunsetenv("XDG_RUNTIME_DIR");
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    QVERIFY(RelaySocketFolder().startsWith(QDir::tempPath()));
}

void TestCommandLine::secondStartBringsTheWindowForward()
{
    MakeDatabase();
    QVERIFY(StartInstance());
    // A second window would stay (its sharing-violation box waits for a click); the hand-over ends at once.
    FEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const TRun second = Run({QStringLiteral("--database"), DatabaseFile()}, {}, 30000);
    QCOMPARE(second.Exit, 0);
    QCOMPARE(second.Err, QString());
    QCOMPARE(FInstance->state(), QProcess::Running);
}

void TestCommandLine::foreignSocketIsNotUsed()
{
    if (::geteuid() != 0)
        QSKIP("needs root to give a socket to another user");
    MakeDatabase();
    QLocalServer impostor;
    QVERIFY(impostor.listen(InstanceSocketPath(DatabaseFile())));
    QCOMPARE(::chown(QFile::encodeName(impostor.fullServerName()).constData(), 65534, 65534), 0);
    const TRun run = Run({QStringLiteral("--database"), DatabaseFile(), QStringLiteral("--list")});
    QCOMPARE(run.Exit, 0);
    QCOMPARE(run.Out.count(QLatin1Char('\n')), 4); // read from the file itself
    QVERIFY(!impostor.hasPendingConnections());
}

void TestCommandLine::foreignPeerIsRefused()
{
    const passwd* other = ::getpwnam("nobody");
    if (::geteuid() != 0 || !other)
        QSKIP("needs root and the user nobody");
    MakeDatabase();
    TOpenDatabase database(DatabaseFile(), TOpenDatabase::omReadOnly);
    database.Open();
    TInstanceServer server([&database] { return &database; }, nullptr);
    QVERIFY(server.Listen(DatabaseFile()));
    const QByteArray path = QFile::encodeName(server.SocketPath());

    // Open the way through the file system, so that only the server's own check stands in between (the
    // owner being answered is shown by the requests handed to the window).
    const QByteArray socketFolder = QFile::encodeName(QFileInfo(server.SocketPath()).path());
    auto privateAgain = qScopeGuard([&socketFolder] { ::chmod(socketFolder.constData(), 0700); });
    for (const QByteArray& folder : {QFile::encodeName(FTemp->path()), socketFolder})
        QCOMPARE(::chmod(folder.constData(), 0755), 0);
    QCOMPARE(::chmod(path.constData(), 0666), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(other->pw_gid) != 0 || ::setuid(other->pw_uid) != 0)
            ::_exit(3);
        ::alarm(20);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            ::_exit(4);
        const char request[] = "{\"command\":\"list\"}\n";
        if (::write(fd, request, sizeof(request) - 1) < 0)
            ::_exit(5);
        char reply[256];
        ::_exit(::read(fd, reply, sizeof(reply)) > 0 ? 1 : 0);
    }
    QVERIFY(child > 0);
    int status = -1;
    QVERIFY(QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 30000));
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

namespace {

// What tells a file that was written, replaced or touched from one that was only read.
struct TFileMark
{
    ino_t Inode = 0;
    timespec Modified{};
    QByteArray Bytes;
    QStringList Beside; // every name in its folder, hidden ones too

    static TFileMark Of(const QString& path)
    {
        TFileMark mark;
        struct stat info
        {
        };
        if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
            mark.Inode = info.st_ino;
            mark.Modified = info.st_mtim;
        }
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            mark.Bytes = file.readAll();
        mark.Beside = QDir(QFileInfo(path).path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
        return mark;
    }
    bool operator==(const TFileMark& other) const
    {
        return Inode == other.Inode && Modified.tv_sec == other.Modified.tv_sec &&
               Modified.tv_nsec == other.Modified.tv_nsec && Bytes == other.Bytes && Beside == other.Beside;
    }
};

} // namespace

void TestCommandLine::queriesWriteNothing()
{
    MakeDatabase();
    const QString folder = QFileInfo(DatabaseFile()).path();
    // A crashed window's backup copy may be the last good one.
    QFile backup(folder + QStringLiteral("/network.~ccn"));
    QVERIFY(backup.open(QIODevice::WriteOnly) && backup.write("left by a crash") > 0);
    backup.close();
    const QStringList db{QStringLiteral("--database"), DatabaseFile()};
    const TFileMark before = TFileMark::Of(DatabaseFile());
    QVERIFY(!before.Bytes.isEmpty());

    QCOMPARE(Run(db + QStringList{"--list"}).Exit, 0);
    QCOMPARE(Run(db + QStringList{"--wake", "Alpha"}).Exit, 0);
    QCOMPARE(Received(0), QStringList{"00-11-22-33-44-55"});
    QVERIFY(TFileMark::Of(DatabaseFile()) == before);

    // On read-only media (or, without root, in a folder and file nobody may write).
    const QByteArray local = QFile::encodeName(folder);
    const bool mounted = ::geteuid() == 0 && ::mount(local, local, nullptr, MS_BIND, nullptr) == 0;
    if (mounted) {
        QCOMPARE(::mount(nullptr, local, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
    } else {
        QVERIFY(::geteuid() != 0);
        QCOMPARE(::chmod(QFile::encodeName(DatabaseFile()).constData(), 0444), 0);
        QCOMPARE(::chmod(local.constData(), 0555), 0);
    }
    const TRun run = Run(db + QStringList{"--list"});
    // A status still checks; only its results cannot be kept.
    const TRun status = Run(db + QStringList{"--status", "Alpha"});
    if (mounted)
        ::umount2(local, MNT_DETACH);
    else
        ::chmod(local.constData(), 0755);
    QCOMPARE(run.Err, QString());
    QCOMPARE(run.Exit, 0);
    QCOMPARE(run.Out.count(QLatin1Char('\n')), 4);
    QCOMPARE(status.Exit, 0);
    QVERIFY2(status.Out.startsWith(QStringLiteral("Alpha\tonline\t")), qPrintable(status.Out + status.Err));
    QVERIFY2(status.Err.contains(Res::Str(Res::CmdErrSave).arg(QString())), qPrintable(status.Err));
    QVERIFY(TFileMark::Of(DatabaseFile()) == before);
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) == 0) { // no save
        const TRun deleted = Run(db + QStringList{"--delete", "Alpha"});
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
        QCOMPARE(deleted.Exit, 1);
    }
}

void TestCommandLine::wakeThroughTheWindowIsWatched()
{
    // The window's side of a hand-over: the request runs on the window's open database.
    MakeDatabase();
    TOpenDatabase database(DatabaseFile());
    database.Open();
    database.WakeWatch()->SetTiming(100, 1000);
    QStringList messages;
    connect(&database, &TOpenDatabase::StatusMessage, this, [&](const QString& text) { messages << text; });
    TCommandRequest request;
    request.Command = QStringLiteral("wake");
    request.Names = QStringList{QStringLiteral("alpha")};
    std::optional<TCommandResult> result;
    (new TCommandRunner(&database))->Start(request, [&](const TCommandResult& done) { result = done; });
    QTRY_VERIFY(result.has_value());
    QCOMPARE(result->ExitCode, 0);
    QCOMPARE(Received(0), QStringList{"00-11-22-33-44-55"});
    // Whether it answered or not, the watch says so, as after the window's own wake-up.
    QTRY_VERIFY_WITH_TIMEOUT(messages.filter(QStringLiteral("Alpha")).size() == 1, 10000);
}

// German users get German help and errors; English users, and languages without a translation, get the
// English texts unchanged.
void TestCommandLine::answersInTheUsersLanguage()
{
    const QProcessEnvironment plain = FEnvironment;
    auto runIn = [&](const char* lang, const char* language, const QStringList& arguments) {
        FEnvironment = plain;
        for (const char* name : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            FEnvironment.remove(QString::fromLatin1(name));
        FEnvironment.insert(QStringLiteral("LANG"), QString::fromLatin1(lang));
        if (language)
            FEnvironment.insert(QStringLiteral("LANGUAGE"), QString::fromLatin1(language));
        const TRun run = Run(arguments);
        FEnvironment = plain;
        return run;
    };
    const TRun german = runIn("de_DE.UTF-8", nullptr, {QStringLiteral("--help")});
    QCOMPARE(german.Exit, 0);
    QVERIFY2(german.Out.contains(QStringLiteral("Diese Hilfe anzeigen und beenden.")),
             qPrintable(german.Out));
    QVERIFY2(!german.Out.contains(QStringLiteral("computers")), qPrintable(german.Out));
    const TRun germanError = runIn("C", "de", {QStringLiteral("--list"), QStringLiteral("a")});
    QCOMPARE(germanError.Exit, 2);
    QCOMPARE(germanError.Err, QStringLiteral("sablewick: --list nimmt keine Computer an\n"));

    const TRun english = runIn("C", nullptr, {QStringLiteral("--help")});
    QVERIFY2(english.Out.contains(QStringLiteral("Show this help and exit.")), qPrintable(english.Out));
    QCOMPARE(runIn("en_GB.UTF-8", "en_GB:de", {QStringLiteral("--help")}).Out, english.Out);
    QCOMPARE(runIn("fr_FR.UTF-8", nullptr, {QStringLiteral("--help")}).Out, english.Out);
}

void TestCommandLine::largeRequestsThroughTheWindow()
{
    MakeDatabase();
    TOpenDatabase database(DatabaseFile(), TOpenDatabase::omReadOnly);
    database.Open();
    TInstanceServer server([&database] { return &database; }, nullptr);
    QVERIFY(server.Listen(DatabaseFile()));

    // More than a mebibyte of names, and an answer several times that, both ways through the socket.
    QStringList arguments{QStringLiteral("--database"), DatabaseFile(), QStringLiteral("--wake")};
    const int missing = 50000;
    for (int i = 0; i < missing; ++i)
        arguments.append(QStringLiteral("missing-computer-%1").arg(i, 5, 10, QLatin1Char('0')));
    arguments.append(QStringLiteral("ALPHA"));
    QProcess child;
    child.setProcessEnvironment(FEnvironment);
    child.start(qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick"), arguments);
    QVERIFY(QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 60000));
    const QString err = QString::fromUtf8(child.readAllStandardError());
    QCOMPARE(child.exitCode(), 1);
    QCOMPARE(err.count(QLatin1Char('\n')), missing);
    QVERIFY(err.endsWith(QLatin1String("no computer matches \"missing-computer-49999\"\n")));
    QVERIFY(child.readAllStandardOutput().startsWith("Wake-up sent to Alpha"));
    QCOMPARE(Received(0), QStringList{"00-11-22-33-44-55"});

    // Past the stated limit the peer hears so, rather than nothing.
    QLocalSocket peer;
    peer.connectToServer(server.SocketPath());
    QVERIFY(peer.waitForConnected(5000));
    peer.write(QByteArray(MaxInstanceRequest + 1, 'x'));
    QVERIFY(QTest::qWaitFor([&] { return peer.canReadLine(); }, 30000));
    const std::optional<TCommandResult> refusal = TCommandResult::FromJson(peer.readLine());
    QVERIFY(refusal);
    QCOMPARE(refusal->ExitCode, 2);
    QCOMPARE(refusal->Err, QStringLiteral("sablewick: the request is too large (more than 64 MiB)\n"));
}

void TestCommandLine::plainListEscapes()
{
    // A name with a tab, a line break and a backslash stays one line with six fields.
    QVERIFY(QDir().mkpath(QFileInfo(DatabaseFile()).path()));
    {
        TOstrelDatabase db;
        db.FileName = DatabaseFile();
        db.CreateNew();
        TGroup group;
        group.Storage = db.DataStorage;
        group.Computers()->Add()->SetName(QStringLiteral("a\tb\nc\\d\r\x1b]0;x\x07\x7f\u0085"));
        QVERIFY(SaveGroup(group));
        group.Storage.reset();
    }
    const TRun run = Run({QStringLiteral("--database"), DatabaseFile(), QStringLiteral("--list")});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QVERIFY2(run.Out.startsWith(QLatin1String("a\\tb\\nc\\\\d\\r\\x1b]0;x\\x07\\x7f\\x85\t\t\tLAN\t")),
             qPrintable(run.Out));
    QCOMPARE(run.Out.count(QLatin1Char('\n')), 1);
    QCOMPARE(run.Out.count(QLatin1Char('\t')), 5);
    QCOMPARE(Run({"--database", DatabaseFile(), "--delete", "a\tb\nc\\d\r\x1b]0;x\x07\x7f\u0085"}).Out,
             QString("Deleted a\\tb\\nc\\\\d\\r\\x1b]0;x\\x07\\x7f\\x85\n"));
}

void TestCommandLine::administratorsOnly()
{
    const passwd* other = ::getpwnam("nobody");
    if (::geteuid() != 0 || !other || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("needs root, the user nobody and setpriv");
    MakeDatabase();
    // The account may write where its data would go: nothing may appear there all the same.
    QVERIFY(QDir().mkpath(FTemp->filePath(QStringLiteral("data"))));
    for (const QString& folder : {FTemp->path(), FTemp->filePath(QStringLiteral("data"))})
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    const QString program = qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick");
    for (const QStringList& arguments : {QStringList{"--list"}, QStringList{"--wake", "Alpha"},
                                         QStringList{"--database", DatabaseFile(), "--list"}}) {
        QProcess process;
        process.setProcessEnvironment(FEnvironment);
        process.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", program} +
                          arguments);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), AdministratorRefusal());
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        QCOMPARE(
            QDir(FTemp->filePath(QStringLiteral("data"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
            QStringList());
    }
    QCOMPARE(Received(0), QStringList());
}

// Where no group may open ping sockets only a raw socket checks. An administrator who is not root is told
// how to get one; holding the raw-socket capability (even as an ambient one), the window holds it effective
// in no thread, nor ambient for the programs it starts, and still opens the raw socket.
void TestCommandLine::checksWithoutPingSockets()
{
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
    const QString user = QStringLiteral("swcap%1").arg(::getpid() % 100000);
    if (!Isolated || !range.open(QIODevice::WriteOnly) || range.write("1 0\n") != 4 ||
        RunCommand(QStringLiteral("useradd"), {"-M", "-N", "-g", "nogroup", "-G", "sudo", user}) != 0)
        QSKIP("needs root in a network namespace of its own and an account in the group sudo");
    const auto removeUser = qScopeGuard([&user] { RunCommand(QStringLiteral("userdel"), {user}); });
    const uid_t uid = ::getpwnam(user.toLocal8Bit().constData())->pw_uid;
    MakeDatabase();
    const QString config = FTemp->filePath(QStringLiteral("config"));
    QFile conf(config + QStringLiteral("/sablewick/sablewick.conf"));
    // Echo requests only: a TCP probe finds loopback without them.
    QVERIFY(QDir().mkpath(config + QStringLiteral("/sablewick")) && conf.open(QIODevice::WriteOnly) &&
            conf.write("[checks]\ntcpPorts=\n") > 0 && conf.flush());
    QCOMPARE(::chmod(QFile::encodeName(FTemp->path()).constData(), 0755), 0);
    for (const char* name : {"db", "db/network.ccn", "runtime"})
        QCOMPARE(::chown(QFile::encodeName(FTemp->filePath(name)).constData(), uid, 0), 0);
    FEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    FEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess status, window;
    status.setProcessEnvironment(FEnvironment);
    window.setProcessEnvironment(FEnvironment);
    const QStringList asUser{"--reuid", user, "--regid", "nogroup", "--init-groups"};
    const QString program = qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick");
    status.start("setpriv",
                 asUser + QStringList{"--", program, "--database", DatabaseFile(), "--status", "Alpha"});
    QVERIFY(status.waitForFinished(30000));
    QCOMPARE(status.readAllStandardOutput(),
             QByteArray("Alpha\toffline\tException: Cannot allocate socket.\n"));
    QCOMPARE(QString::fromUtf8(status.readAllStandardError()),
             QStringLiteral("sablewick: %1\n").arg(Res::Str(Res::CmdErrNoIcmpSocket).arg(program)));
    window.start("setpriv", asUser + QStringList{"--inh-caps=+net_raw", "--ambient-caps=+net_raw", "--",
                                                 program, "--database", DatabaseFile()});
    const auto stop = qScopeGuard([&window] { window.terminate(), window.waitForFinished(10000); });
    // The first check opens a raw socket for ICMP (protocol 1) as that user, a line of /proc/net/raw.
    const QRegularExpression icmp(QStringLiteral(":0001( +\\S+){5} +%1 ").arg(uid));
    QString text;
    QTRY_VERIFY_WITH_TIMEOUT(RunCommand("cat", {"/proc/net/raw"}, &text) == 0 && icmp.match(text).hasMatch(),
                             20000);
    // In every thread the raw-socket capability (bit 13) alone, permitted, neither effective nor ambient.
    RunCommand("sh", {"-c", QStringLiteral("cat /proc/%1/task/*/status").arg(window.processId())}, &text);
    const QRegularExpression other(QStringLiteral("CapPrm:\t(?!0{12}2000\n)|Cap(Eff|Amb):\t(?!0{16}\n)"));
    QVERIFY2(text.count(QLatin1String("CapPrm:")) > 1 && !text.contains(other), qPrintable(text));
}

void TestCommandLine::runSchedules_data()
{
    QTest::addColumn<bool>("withInstance");
    QTest::newRow("database opened here") << false;
    QTest::newRow("handed to the running window") << true;
}

// Alpha's and Lost's schedules are due in this hour, Beta's is not. A due schedule fires once in its
// window, whoever runs it: the command line, or the window it is handed to (whose own clock may come
// first).
void TestCommandLine::runSchedules()
{
    QFETCH(bool, withInstance);
    const QTime start = QTime::currentTime();
    if (start.minute() >= 55)
        QSKIP("the start window would end during the test");
    MakeDatabase();
    {
        TOstrelDatabase db;
        db.FileName = DatabaseFile();
        std::unique_ptr<TGroup> group = LoadDatabase(db);
        for (int i : {0, 1, 3}) {
            TSchedule& schedule = group->Computers()->Items(i)->Schedule();
            schedule.UseSchedule = true;
            schedule.StartHour = quint16((start.hour() + (i == 1 ? 1 : 0)) % 24);
            schedule.StartMin = 0;
        }
        QVERIFY(SaveGroup(*group));
    }
    if (withInstance)
        QVERIFY(StartInstance());
    const QStringList db{QStringLiteral("--database"), DatabaseFile(), QStringLiteral("--run-schedules")};
    TRun first = Run(db);
    TRun second = Run(db);
    QTest::qWait(3000); // the window's own wake-ups leave after Activate's delay
    QCOMPARE(Received(0), QStringList{"00-11-22-33-44-55"});
    QCOMPARE(Received(1), QStringList());
    QCOMPARE(second.Out, QString()); // Lost's packet never left: each run tries again
    if (!withInstance) {
        QCOMPARE(first.Exit, 1);
        QCOMPARE(first.Out, QStringLiteral("Wake-up sent to Alpha (00-11-22-33-44-55)\n"));
        QVERIFY2(first.Err.contains(QLatin1String("\"Lost\"")), qPrintable(first.Err));
        QVERIFY2(second.Err.contains(QLatin1String("\"Lost\"")), qPrintable(second.Err));
    }
    QCOMPARE(Run({QStringLiteral("--run-schedules"), QStringLiteral("Alpha")}).Exit, 2);

    // The firing is in the file; the window may hold it, so a copy is read.
    const QString copy = FTemp->filePath(QStringLiteral("copy.ccn"));
    QVERIFY(QFile::copy(DatabaseFile(), copy));
    TOstrelDatabase stored;
    stored.FileName = copy;
    std::unique_ptr<TGroup> group = LoadDatabase(stored);
    QVERIFY(group->Computers()->Items(0)->Schedule().LastDate >
            QDateTimeToDateTime(QDateTime::currentDateTime()) - 0.01);
    QCOMPARE(group->Computers()->Items(1)->Schedule().LastDate, -1.0);
    QCOMPARE(group->Computers()->Items(3)->Schedule().LastDate, -1.0);
}

// A request's names are matched in slices between the window's events; a computer deleted in between must
// not be matched through the index built before the deletion (it points at the freed computer).
void TestCommandLine::deletionWhileNamesAreMatched()
{
    MakeDatabase();
    TOpenDatabase database(DatabaseFile(), TOpenDatabase::omReadOnly);
    database.Open();
    // Enough names that matching them takes several passes of slices.
    TCommandRequest request;
    request.Command = QStringLiteral("wake");
    database.ChangeTogether([&] {
        for (int i = 0; i < 20000; ++i) {
            database.Root()->Computers()->Add()->SetName(QStringLiteral("pc-%1").arg(i));
            if (i > 0)
                request.Names.append(QStringLiteral("pc-%1").arg(i));
        }
    });
    request.Names << QStringLiteral("alpha") << QStringLiteral("pc-0");
    const TComputers& computers = *database.Root()->Computers();
    const QString doomed = computers.Items(computers.Count() - 20000)->ItemID();
    std::optional<TCommandResult> result;
    (new TCommandRunner(&database))->Start(request, [&](const TCommandResult& done) { result = done; });
    // A timer (a zero one would be a posted call, run before any slice), due while the first pass runs.
    QTimer::singleShot(1, &database, [&] { database.DeleteComputers({doomed}); });
    QTRY_VERIFY(result.has_value());
    QCOMPARE(result->ExitCode, 1);
    // Gone before its name was matched, or matched before it went; never silently left out.
    QVERIFY2(result->Err.contains(QLatin1String("no computer matches \"pc-0\"")) ||
                 result->Err.contains(QLatin1String("\"pc-0\" has no MAC address")),
             qPrintable(result->Err.right(300)));
    QCOMPARE(Received(0), QStringList{"00-11-22-33-44-55"});
}

void TestCommandLine::statusStartsItsChecksInSlices()
{
    MakeDatabase();
    TOpenDatabase database(DatabaseFile(), TOpenDatabase::omReadWrite);
    database.Open();
    const int count = 6000; // more checks than one pass of the event loop starts
    TCommandRequest request;
    request.Command = QStringLiteral("status");
    std::vector<TComputer*> computers;
    database.ChangeTogether([&] {
        for (int i = 0; i < count; ++i) {
            computers.push_back(database.Root()->Computers()->Add());
            computers.back()->SetName(QStringLiteral("pc-%1").arg(i));
            computers.back()->IPAddress = QStringLiteral("127.3.%1.%2").arg(i / 250).arg(i % 250 + 1);
            request.Names.append(computers.back()->Name());
        }
    });
    std::optional<TCommandResult> result;
    (new TCommandRunner(&database))->Start(request, [&](const TCommandResult& done) { result = done; });
    // Once some checks are started and the last is not yet, those started are deleted: the deletion
    // reports, and the request must still wait for the checks started after it.
    QTimer between;
    between.setInterval(0);
    qsizetype deleted = 0;
    connect(&between, &QTimer::timeout, &database, [&] {
        if (!computers.front()->RunningCheck() || computers.back()->RunningCheck())
            return;
        between.stop();
        QStringList ids;
        for (const TComputer* computer : computers)
            if (computer->RunningCheck())
                ids.append(computer->ItemID());
        deleted = ids.size();
        database.DeleteComputers(ids);
    });
    between.start();
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 30000);
    QVERIFY(deleted > 0);
    QCOMPARE(result->ExitCode, 1);
    const QStringList lines = result->Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), count - deleted);
    if (lines.last().contains(QLatin1String("socket")))
        QSKIP("no ICMP socket for this user");
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^pc-\\d+\tonline\t"))).size(), count - deleted);
}

void TestCommandLine::editCommands_data()
{
    QTest::addColumn<bool>("withInstance");
    QTest::newRow("database opened here") << false;
    QTest::newRow("handed to the running window") << true;
}

void TestCommandLine::editCommands()
{
    QFETCH(bool, withInstance);
    MakeDatabase();
    if (withInstance)
        QVERIFY(StartInstance());
    const QStringList db{QStringLiteral("--database"), DatabaseFile()};
    const QString port = QString::number(FListeners[0]->localPort());
    TRun run = Run(db + QStringList{"--new", "Gamma", "--mac", "02:aa:00:00:00:07", "--ip", "127.0.0.1",
                                    "--mode", "Internet", "--port", port, "--comment", "rack 4"});
    QCOMPARE(run.Exit, 0);
    QCOMPARE(run.Out, QStringLiteral("Added Gamma (02-AA-00-00-00-07, 127.0.0.1)\n"));
    // The wizard's checks, and a name in use in any case.
    run = Run(db + QStringList{"--new", "GAMMA", "--mac", "02aa.0000.0008", "--ip", "127.0.0.1"});
    QCOMPARE(run.Exit, 1);
    QCOMPARE(run.Err, QStringLiteral("sablewick: a computer named \"Gamma\" exists already\n"));
    run = Run(db + QStringList{"--new", "x\\\\gamma", "--mac", "02aa.0000.0008", "--ip", "127.0.0.1"});
    QCOMPARE(run.Err, QStringLiteral("sablewick: a computer named \"Gamma\" exists already\n"));
    run = Run(db + QStringList{"--new", "Delta", "--mac", "02-AA-00-00-00", "--ip", "127.0.0.1"});
    QCOMPARE(run.Exit, 1);
    QCOMPARE(run.Err, QStringLiteral("sablewick: You must specify a valid MAC address!\n"));
    run = Run(db + QStringList{"--new", "Delta", "--mac", "02-AA-00-00-00-09", "--ip", "127.0.0.1", "--mask",
                               "1.2.3"});
    QCOMPARE(run.Exit, 1);
    // Without an address the name is looked up.
    run = Run(db + QStringList{"--new", "nowhere.invalid", "--mac", "02-AA-00-00-00-09"});
    QCOMPARE(run.Exit, 1);
    QVERIFY2(run.Err.contains(QLatin1String("--ip")), qPrintable(run.Err));

    const QJsonArray list =
        QJsonDocument::fromJson(Run(db + QStringList{"--list", "--json"}).Out.toUtf8()).array();
    QCOMPARE(list.size(), 5);
    const QJsonObject gamma = list[4].toObject();
    QCOMPARE(gamma.value("mac").toString(), QStringLiteral("02-AA-00-00-00-07"));
    QCOMPARE(gamma.value("mode").toString(), QStringLiteral("Internet"));
    QCOMPARE(gamma.value("port"), QJsonValue(FListeners[0]->localPort()));
    QCOMPARE(Run(db + QStringList{"--wake", "gamma"}).Exit, 0);
    QCOMPARE(Received(0), QStringList{"02-AA-00-00-00-07"});

    run = Run(db + QStringList{"--delete", "gamma", "127.0.0.2", "nobody"});
    QCOMPARE(run.Exit, 1);
    QCOMPARE(run.Out, QStringLiteral("Deleted Gamma\nDeleted Beta\n"));
    QCOMPARE(Run(db + QStringList{"--list"}).Out.count(QLatin1Char('\n')), 3);

    // A new account: the data folder and the database are made by the first command that writes.
    if (withInstance)
        return;
    run = Run({"--new", "Alpha", "--mac", "00-11-22-33-44-55", "--ip", "127.0.0.1"});
    QCOMPARE(run.Exit, 0);
    QVERIFY(QFileInfo::exists(FTemp->filePath(QStringLiteral("data/sablewick/network.ccn"))));
    QCOMPARE(Run({"--list"}).Out.count(QLatin1Char('\n')), 1);
}

void TestCommandLine::heldDatabase()
{
    MakeDatabase();
    const QStringList db{QStringLiteral("--database"), DatabaseFile()};
    // Another command holds the file for a while (cron and a timer at once): this one waits its turn.
    QProcess holder;
    holder.start(QStringLiteral("flock"), {DatabaseFile(), QStringLiteral("sleep"), QStringLiteral("2")});
    QVERIFY(
        QTest::qWaitFor([&] { return DatabaseHolder(DatabaseFile(), true) != TDatabaseHolder::None; }, 5000));
    TRun run = Run(db + QStringList{"--run-schedules"});
    QCOMPARE(run.Err, QString());
    QCOMPARE(run.Exit, 0);
    holder.waitForFinished();

    // A window holds it: a scan that would add is told where to add at once; a window that cannot be
    // reached is named as the holder, not as "another process".
    QVERIFY(StartInstance());
    run = Run(db + QStringList{"--scan", "127.0.0.0/30", "--add"});
    QCOMPARE(run.Exit, 1);
    QVERIFY2(run.Err.startsWith(QLatin1String("sablewick: Sablewick's window holds the database; add")),
             qPrintable(run.Err));
    QVERIFY(QFile::remove(InstanceSocketPath(DatabaseFile())));
    run = Run(db + QStringList{"--list"});
    QCOMPARE(run.Exit, 1);
    QVERIFY2(run.Err.startsWith(QLatin1String("sablewick: Sablewick's window holds the database")),
             qPrintable(run.Err));
}

namespace {

qint64 ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

int ConnectTo(const QByteArray& path, int flags)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | flags, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// Runs peers in a child process, so that what they hold is not counted as the server's, while this
// process's event loop serves them; the child's exit code.
int InChild(const std::function<int()>& peers, int timeoutMs)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(static_cast<unsigned>(timeoutMs / 1000 + 5));
        ::_exit(peers());
    }
    int status = -1;
    if (child < 0 ||
        !QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, timeoutMs)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

void TestCommandLine::socketBoundsWhatRequestsHold()
{
    MakeDatabase();
    TOpenDatabase database(DatabaseFile(), TOpenDatabase::omReadOnly);
    database.Open();
    TInstanceServer server([&database] { return &database; }, nullptr);
    QVERIFY(server.Listen(DatabaseFile()));
    const QByteArray path = QFile::encodeName(server.SocketPath());

    // A thousand command lines at once: none is turned away at the door, and every one is answered.
    const int code = InChild(
        [&path] {
            std::vector<int> peers;
            for (int i = 0; i < 1000; ++i) {
                const int fd = ConnectTo(path, SOCK_NONBLOCK); // a full listen queue refuses at once
                if (fd < 0)
                    return 2;
                peers.push_back(fd);
            }
            const char request[] = "{\"command\":\"list\"}\n";
            for (int fd : peers) {
                ::fcntl(fd, F_SETFL, 0);
                if (::write(fd, request, sizeof(request) - 1) != sizeof(request) - 1)
                    return 3;
            }
            for (int fd : peers) {
                QByteArray answer;
                char buffer[4096];
                for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
                    answer.append(buffer, got);
                if (!answer.startsWith("{\"exit\":0,"))
                    return 4;
            }
            return 0;
        },
        120000);
    QCOMPARE(code, 0);

    // Three peers send 60 MiB each and never end their lines: the window holds no more than its bound.
    const qint64 before = ResidentBytes();
    const qint64 sent = qint64(60) << 20;
    const QByteArray chunk(1 << 20, ' ');
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(60);
        for (int peer = 0; peer < 3; ++peer) {
            const int fd = ConnectTo(path, 0);
            for (qint64 done = 0; fd >= 0 && done < sent; done += chunk.size())
                if (::write(fd, chunk.constData(), size_t(chunk.size())) != chunk.size())
                    ::_exit(1);
        }
        ::_exit(0);
    }
    QVERIFY(child > 0);
    // Served at full speed for five seconds (under the idle time-out), watching the peak: without a bound
    // all three are read and the peers end.
    qint64 peak = 0;
    QEventLoop loop;
    QTimer sample;
    connect(&sample, &QTimer::timeout, &loop, [&] {
        peak = std::max(peak, ResidentBytes() - before);
        if (::waitpid(child, nullptr, WNOHANG) == child)
            loop.quit();
    });
    sample.start(20);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    QVERIFY2(peak > MaxInstanceHeld - (qint64(16) << 20), qPrintable(QString::number(peak >> 20)));
    // Beside the bound: Qt's buffers and the spare room of the connections' buffers.
    QVERIFY2(peak < MaxInstanceHeld + (qint64(32) << 20), qPrintable(QString::number(peak >> 20)));
}

int main(int argc, char* argv[])
{
    // Before any thread exists: what the programs started here send stays on loopback, and what is
    // mounted here stays here.
    Isolated = IsolateNetwork();
    if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0)
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    QCoreApplication app(argc, argv);
    TestCommandLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commandLine.moc"
