#include "model/computers.h"
#include "model/database.h"

#include <csignal>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <sys/socket.h>
#include <sys/stat.h>

// --run-schedules killed at random moments: every firing it stamped had been sent, the next run sends
// what a kill cut off, no run sends a computer's packet twice, and a run after a completed one sends
// nothing.
class TestOpenDatabaseSchedules : public QObject
{
    Q_OBJECT

private slots:
    void killedRunsLoseNoWakeUp();

private:
    // Runs the program, killed after killAfterMs unless that is negative, or as soon as it has replaced
    // the file; the MACs it woke, each once.
    QSet<QString> RunSchedules(int killAfterMs, bool killOnWrite = false);
    // The MACs of the computers whose schedules the file holds as fired.
    QSet<QString> Stamped();
    QString File() const { return FDir.filePath(QStringLiteral("network.ccn")); }

    QTemporaryDir FDir;
    QUdpSocket FListener;
};

constexpr int Computers = 300;

QSet<QString> TestOpenDatabaseSchedules::RunSchedules(int killAfterMs, bool killOnWrite)
{
    struct stat before, now;
    ::stat(QFile::encodeName(File()).constData(), &before);
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), FDir.path());
    run.setProcessEnvironment(environment);
    run.start(qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick"),
              {QStringLiteral("--database"), File(), QStringLiteral("--run-schedules")});
    QSet<QString> woken;
    const auto drain = [&] {
        while (FListener.hasPendingDatagrams()) {
            const QString mac = QString::fromLatin1(FListener.receiveDatagram().data().mid(6, 6).toHex('-'));
            QVERIFY2(!woken.contains(mac.toUpper()), qPrintable(mac + QStringLiteral(" woken twice")));
            woken.insert(mac.toUpper());
        }
    };
    QElapsedTimer clock;
    clock.start();
    // Looked at without a pause: the moment after a write is the one to catch.
    while (!run.waitForFinished(0)) {
        drain();
        const bool written = killOnWrite && ::stat(QFile::encodeName(File()).constData(), &now) == 0 &&
                             now.st_ino != before.st_ino;
        if (written || (killAfterMs >= 0 && clock.elapsed() >= killAfterMs))
            ::kill(pid_t(run.processId()), SIGKILL);
    }
    QTest::qWait(20);
    drain();
    return woken;
}

QSet<QString> TestOpenDatabaseSchedules::Stamped()
{
    TOstrelDatabase db;
    db.FileName = File();
    db.ReadOnly = true;
    QSet<QString> stamped;
    const std::unique_ptr<TGroup> group = LoadDatabase(db);
    for (int i = 0; i < group->Computers()->Count(); ++i) {
        if (group->Computers()->Items(i)->Schedule().LastDate != -1.0)
            stamped.insert(group->Computers()->Items(i)->WakeMAC());
    }
    return stamped;
}

void TestOpenDatabaseSchedules::killedRunsLoseNoWakeUp()
{
    const QTime start = QTime::currentTime();
    if (start.minute() >= 55)
        QSKIP("the start window would end during the test");
    QVERIFY(FListener.bind(QHostAddress::LocalHost, 0));
    // Room for every packet of a run at once (a root's right; others keep the system's limit).
    const int room = 16 << 20;
    (void)::setsockopt(int(FListener.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    {
        TOstrelDatabase db;
        db.FileName = File();
        db.CreateNew();
        TGroup group;
        group.Storage = db.DataStorage;
        for (int i = 0; i < Computers; ++i) {
            TComputer* computer = group.Computers()->Add();
            computer->IPAddress = QStringLiteral("127.0.0.1");
            computer->SendOptions = soInternet;
            computer->Port = FListener.localPort();
            const QByteArray mac = QByteArray::fromHex(QByteArray::number(i, 16).rightJustified(12, '0'));
            computer->MACAddresses()->Add()->Address = QString::fromLatin1(mac.toHex('-').toUpper());
            computer->Schedule().UseSchedule = true;
            computer->Schedule().StartHour = quint16(start.hour());
            computer->Schedule().StartMin = 0;
        }
        QVERIFY(SaveGroup(group));
        group.Storage.reset();
    }
    // Runs on fresh copies: one whole, to learn how long a run takes, then each killed as soon as it has
    // written the file: whatever the file holds as fired had been sent by then.
    const QString fresh = File() + QStringLiteral(".fresh");
    QVERIFY(QFile::copy(File(), fresh));
    const auto restore = [&] { return QFile::remove(File()) && QFile::copy(fresh, File()); };
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(RunSchedules(-1).size(), Computers);
    const int runMs = int(clock.elapsed());
    for (int round = 0; round < 6; ++round) {
        QVERIFY(restore());
        QVERIFY2(RunSchedules(-1, true).contains(Stamped()),
                 qPrintable(QStringLiteral("round %1").arg(round)));
    }
    // Killed anywhere in a run, again and again: nothing stamped unsent, and the run that is let finish
    // sends what the others did not; the next sends nothing.
    QVERIFY(restore());
    QSet<QString> woken;
    for (int round = 0; round < 8; ++round) {
        woken += RunSchedules(QRandomGenerator::global()->bounded(runMs + 1));
        QVERIFY2(woken.contains(Stamped()), qPrintable(QStringLiteral("killed run %1").arg(round)));
    }
    woken += RunSchedules(-1);
    QCOMPARE(woken.size(), Computers);
    QCOMPARE(Stamped().size(), Computers);
    QCOMPARE(RunSchedules(-1), QSet<QString>());
}

QTEST_GUILESS_MAIN(TestOpenDatabaseSchedules)
#include "tst_openDatabaseSchedules.moc"
