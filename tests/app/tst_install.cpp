#include "core/texts.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QTest>

// The install tree: cmake --install into a folder of the test's own.
class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void treeHoldsTheFiles_data();
    void treeHoldsTheFiles();
    void validatorsAccept_data();
    void validatorsAccept();
    void installedProgramRuns();
    void hintsNameAnInstalledSection();

private:
    QTemporaryDir FPrefix;
};

void TestInstall::initTestCase()
{
    QVERIFY(FPrefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(CMAKE_COMMAND),
                  {QStringLiteral("--install"), qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR"),
                   QStringLiteral("--prefix"), FPrefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
}

void TestInstall::treeHoldsTheFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("program") << "bin/sablewick";
    QTest::newRow("desktop entry") << "share/applications/io.github.sablewick.Sablewick.desktop";
    QTest::newRow("metainfo") << "share/metainfo/io.github.sablewick.Sablewick.metainfo.xml";
    QTest::newRow("manual page") << "share/man/man1/sablewick.1.gz";
    QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/sablewick.svg";
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral("share/icons/hicolor/%1x%1/apps/sablewick.png").arg(size);
        QTest::newRow(qPrintable(path)) << path;
    }
}

void TestInstall::treeHoldsTheFiles()
{
    QFETCH(QString, path);
    const QFileInfo file(FPrefix.filePath(path));
    QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
    if (path.endsWith(QLatin1String(".png"))) {
        QFile png(file.filePath());
        QVERIFY(png.open(QIODevice::ReadOnly));
        const QByteArray header = png.read(24);
        QVERIFY(header.startsWith("\x89PNG"));
        const int size = path.section(QLatin1Char('/'), 3, 3).section(QLatin1Char('x'), 0, 0).toInt();
        // Width and height of the IHDR chunk, big-endian.
        QCOMPARE(qFromBigEndian<quint32>(header.constData() + 16), quint32(size));
        QCOMPARE(qFromBigEndian<quint32>(header.constData() + 20), quint32(size));
    }
}

void TestInstall::validatorsAccept_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("desktop-file-validate")
        << "desktop-file-validate"
        << QStringList{FPrefix.filePath("share/applications/io.github.sablewick.Sablewick.desktop")};
    QTest::newRow("appstreamcli")
        << "appstreamcli"
        << QStringList{"validate", "--no-net",
                       FPrefix.filePath("share/metainfo/io.github.sablewick.Sablewick.metainfo.xml")};
    QTest::newRow("man") << "man"
                         << QStringList{"--warnings", "-l", "-Tutf8",
                                        FPrefix.filePath("share/man/man1/sablewick.1.gz")};
}

void TestInstall::validatorsAccept()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is not installed")));
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(60000));
    const QByteArray errors = process.readAllStandardError();
    QVERIFY2(process.exitCode() == 0, errors.constData());
    if (tool == QLatin1String("man"))
        QVERIFY2(errors.isEmpty(), errors.constData());
}

void TestInstall::installedProgramRuns()
{
    QProcess process;
    process.start(FPrefix.filePath(QStringLiteral("bin/sablewick")), {QStringLiteral("--version")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().startsWith("sablewick "));
}

// The hints for checks that cannot run send the user to a section of the manual page.
void TestInstall::hintsNameAnInstalledSection()
{
    QFile page(qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + "/data/sablewick.1"); // what is installed
    QVERIFY(page.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(page.readAll()).contains("\n.SH REACHABILITY CHECKS\n"));
    for (const Res::Id id : {Res::CmdErrNoIcmpSocket, Res::ChecksUnavailable})
        QVERIFY(Res::Source(id).contains("see REACHABILITY CHECKS in the manual page (man sablewick)"));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
