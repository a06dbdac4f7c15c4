#include "product/databaseLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

class TestDatabaseLocation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void chosenFile_data();
    void chosenFile();
    void unwritableFolderIsNotPortable();
    void folderIsMadeOnFirstRun();

private:
    QTemporaryDir FTemp;
};

void TestDatabaseLocation::initTestCase()
{
    QVERIFY(FTemp.isValid());
    QCoreApplication::setApplicationName(QStringLiteral("sablewick"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(FTemp.filePath(QStringLiteral("data"))));
}

void TestDatabaseLocation::chosenFile_data()
{
    QTest::addColumn<QStringList>("besideProgram");
    QTest::addColumn<QString>("explicitFile");
    QTest::addColumn<QString>("expected"); // relative to the temporary folder
    QTest::addColumn<bool>("portable");

    const QString user = QStringLiteral("data/sablewick/network.ccn");
    QTest::newRow("nothing beside: user data") << QStringList() << QString() << user << false;
    QTest::newRow("existing file: portable")
        << QStringList{"network.ccn"} << QString() << "program/network.ccn" << true;
    QTest::newRow("marker: portable")
        << QStringList{"sablewick.portable"} << QString() << "program/network.ccn" << true;
    QTest::newRow("other file names: user data")
        << QStringList{"Network.CCN", "portable"} << QString() << user << false;
    QTest::newRow("explicit wins over portable")
        << QStringList{"sablewick.portable"} << QStringLiteral("elsewhere/my.ccn") << "elsewhere/my.ccn"
        << true;
    QTest::newRow("explicit wins over user data")
        << QStringList() << QStringLiteral("x.db") << "x.db" << false;
}

void TestDatabaseLocation::chosenFile()
{
    QFETCH(QStringList, besideProgram);
    QFETCH(QString, explicitFile);
    QFETCH(QString, expected);
    QFETCH(bool, portable);

    QTemporaryDir base(FTemp.filePath(QStringLiteral("run-XXXXXX")));
    const QString program = base.filePath(QStringLiteral("program"));
    QVERIFY(QDir().mkpath(program));
    for (const QString& name : besideProgram) {
        QFile file(QDir(program).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // An explicit relative name is taken from the working folder.
    QVERIFY(QDir::setCurrent(base.path()));
    const QString expectedPath = expected.startsWith(QLatin1String("data/"))
                                     ? FTemp.filePath(expected)
                                     : QDir(base.path()).absoluteFilePath(expected);
    QCOMPARE(DatabaseFilePath(program, explicitFile), expectedPath);
    QCOMPARE(IsPortableFolder(program), portable);
    // Deciding touches nothing.
    QVERIFY(!QFileInfo::exists(FTemp.filePath(QStringLiteral("data"))));
}

void TestDatabaseLocation::unwritableFolderIsNotPortable()
{
    QTemporaryDir base(FTemp.filePath(QStringLiteral("ro-XXXXXX")));
    const QString program = base.filePath(QStringLiteral("program"));
    QVERIFY(QDir().mkpath(program));
    QFile marker(QDir(program).filePath(QStringLiteral("network.ccn")));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    QVERIFY(IsPortableFolder(program));

    if (::geteuid() == 0) {
        // Root writes anywhere but on a read-only mount: make one, in a mount namespace of this test's own.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            QSKIP("no mount namespace for a read-only folder");
        const QByteArray path = QFile::encodeName(program);
        QVERIFY(::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0);
        QVERIFY(::mount(nullptr, path.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        const bool portable = IsPortableFolder(program);
        const QString chosen = DatabaseFilePath(program);
        ::umount(path.constData());
        QVERIFY(!portable);
        QCOMPARE(chosen, FTemp.filePath(QStringLiteral("data/sablewick/network.ccn")));
    } else {
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        const bool portable = IsPortableFolder(program);
        const QString chosen = DatabaseFilePath(program);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!portable);
        QCOMPARE(chosen, FTemp.filePath(QStringLiteral("data/sablewick/network.ccn")));
    }
}

void TestDatabaseLocation::folderIsMadeOnFirstRun()
{
    const QString file = FTemp.filePath(QStringLiteral("deep/er/network.ccn"));
    QVERIFY(EnsureDatabaseFolder(file));
    QVERIFY(QFileInfo(QFileInfo(file).path()).isDir());
    QVERIFY(!QFileInfo::exists(file));
    QVERIFY(EnsureDatabaseFolder(file)); // already there

    // A plain file where the folder should be.
    QFile blocker(FTemp.filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    QVERIFY(!EnsureDatabaseFolder(FTemp.filePath(QStringLiteral("blocked/network.ccn")), &error));
    QCOMPARE(error, FTemp.filePath(QStringLiteral("blocked")));
}

QTEST_GUILESS_MAIN(TestDatabaseLocation)
#include "tst_databaseLocation.moc"
