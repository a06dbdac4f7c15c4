#include "core/texts.h"
#include "product/versionInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A copy of this test program with a version section of the given content, added by objcopy.
QString ProgramWithSection(const QTemporaryDir& dir, const QByteArray& content)
{
    const QString data = dir.filePath(QStringLiteral("version.txt"));
    const QString program = dir.filePath(QStringLiteral("program"));
    if (!WriteFile(data, content) || !QFile::copy(QCoreApplication::applicationFilePath(), program))
        return {};
    const int rc =
        QProcess::execute(QStringLiteral(OBJCOPY),
                          {QStringLiteral("--add-section"),
                           QStringLiteral("%1=%2").arg(QLatin1String(VersionSectionName), data), program});
    return rc == 0 ? program : QString();
}

} // namespace

class TestVersionInfo : public QObject
{
    Q_OBJECT

private slots:
    void realProgramCarriesVersion()
    {
        const QString program = QStringLiteral(PROGRAM_FILE);
        QCOMPARE(GetFileVersionString(program), QStringLiteral(PROGRAM_VERSION));
        QVERIFY(!GetFileComments(program).isEmpty());
        QCOMPARE(
            Res::Str(Res::VersionLine).arg(GetFileVersionString(program), GetFileComments(program)),
            QStringLiteral("Version %1 [%2]").arg(QStringLiteral(PROGRAM_VERSION), GetFileComments(program)));
    }

    void programWithoutVersionData()
    {
        // The test program itself is linked without the section.
        const QString self = QCoreApplication::applicationFilePath();
        QCOMPARE(Res::Str(Res::VersionLine).arg(GetFileVersionString(self), GetFileComments(self)),
                 QStringLiteral("Version 0.0.0.0 []"));
    }

    void sectionContent_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("comments");
        QTest::newRow("both") << QByteArray("FileVersion=2.3.4.5\nComments=build 17\n") << "2.3.4.5"
                              << "build 17";
        QTest::newRow("crlf and blanks")
            << QByteArray("Comments = nightly \r\nFileVersion= 9.8.7.6\r\n") << "9.8.7.6"
            << "nightly";
        QTest::newRow("version only") << QByteArray("FileVersion=1.2.0.0") << "1.2.0.0"
                                      << "";
        QTest::newRow("comments only") << QByteArray("Comments=x=y\n") << "0.0.0.0"
                                       << "x=y";
        QTest::newRow("no key lines") << QByteArray("garbage\n=\n\n") << "0.0.0.0"
                                      << "";
        QTest::newRow("empty version") << QByteArray("FileVersion=\nComments=c\n") << "0.0.0.0"
                                       << "c";
    }
    void sectionContent()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, version);
        QFETCH(QString, comments);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString program = ProgramWithSection(dir, content);
        QVERIFY(!program.isEmpty());
        QCOMPARE(GetFileVersionString(program), version);
        QCOMPARE(GetFileComments(program), comments);
        // The same file held in memory.
        QCOMPARE(VersionSectionOf(ReadFile(program)), content);
    }

    void damagedFilesGiveDefaults_data()
    {
        const QByteArray real = ReadFile(QStringLiteral(PROGRAM_FILE));
        QVERIFY(real.size() > 4096);
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("FileVersion=1.2.3.4\nComments=not an ELF file\n");
        QTest::newRow("magic only") << QByteArray("\x7f"
                                                  "ELF",
                                                  4);
        QTest::newRow("header cut") << real.left(40);
        QTest::newRow("section table cut off") << real.left(real.size() - 200);
        QByteArray badOffset = real;
        // e_shoff of a 64-bit file pointing far beyond its end.
        for (int i = 40; i < 48; ++i)
            badOffset[i] = char(0x7f);
        QTest::newRow("section table beyond end") << badOffset;
        QByteArray badCount = real;
        badCount[60] = char(0xff); // e_shnum
        badCount[61] = char(0xff);
        QTest::newRow("section count too large") << badCount;
        QByteArray badNames = real;
        badNames[62] = char(0xfe); // e_shstrndx beyond the table
        badNames[63] = char(0xff);
        QTest::newRow("name table index beyond table") << badNames;
        QByteArray wrongClass = real;
        wrongClass[4] = 7;
        QTest::newRow("unknown class") << wrongClass;
    }
    void damagedFilesGiveDefaults()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("damaged"));
        QVERIFY(WriteFile(path, bytes));
        QCOMPARE(GetFileVersionString(path), QStringLiteral("0.0.0.0"));
        QCOMPARE(GetFileComments(path), QString());
        QVERIFY(VersionSectionOf(bytes).isEmpty());
    }

    void missingFile()
    {
        QCOMPARE(GetFileVersionString(QStringLiteral("/nonexistent/program")), QStringLiteral("0.0.0.0"));
        QCOMPARE(GetFileComments(QStringLiteral("/nonexistent/program")), QString());
        QCOMPARE(GetFileVersionString(QString()), QStringLiteral("0.0.0.0"));
    }
};

QTEST_GUILESS_MAIN(TestVersionInfo)
#include "tst_versionInfo.moc"
