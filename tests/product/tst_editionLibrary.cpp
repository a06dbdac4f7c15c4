#include "product/editionLibrary.h"

#include <QFile>
#include <QTest>

// The test runs with the named edition's folder on the library search path (see CMakeLists.txt).
class TestEditionLibrary : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void foundThroughSearch();
    void windowTitle_data();
    void windowTitle();
    void urlAndLogo();
    void missingLibrary();
    void unloadedAfterUse();

private:
    static QString Library(const char* folder)
    {
        return QStringLiteral(EDITION_DIR "/%1/libswdist.so").arg(QLatin1String(folder));
    }
    static bool Mapped(const QString& path)
    {
        QFile maps(QStringLiteral("/proc/self/maps"));
        if (!maps.open(QIODevice::ReadOnly))
            return false;
        return maps.readAll().contains(QFile::encodeName(path));
    }
};

void TestEditionLibrary::cleanup()
{
    TEditionLibrary::SetFileName(QStringLiteral("swdist"));
}

void TestEditionLibrary::foundThroughSearch()
{
    QCOMPARE(TEditionLibrary::FileName(), QStringLiteral("swdist"));
    QCOMPARE(GetWindowTitle(), QStringLiteral("Sablewick - Home Edition"));
}

void TestEditionLibrary::windowTitle_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("title");
    QTest::newRow("named") << Library("edition_named") << "Sablewick - Home Edition";
    QTest::newRow("empty name") << Library("edition_empty") << "Sablewick";
    QTest::newRow("null name") << Library("edition_null") << "Sablewick";
    QTest::newRow("no name export") << Library("edition_noname") << "Sablewick";
    QTest::newRow("no library") << QStringLiteral(EDITION_DIR "/nowhere/libswdist.so") << "Sablewick";
}

void TestEditionLibrary::windowTitle()
{
    QFETCH(QString, library);
    QFETCH(QString, title);
    TEditionLibrary::SetFileName(library);
    QCOMPARE(GetWindowTitle(), title);
}

void TestEditionLibrary::urlAndLogo()
{
    bool found = false;
    QCOMPARE(TEditionLibrary::EditionURL(&found), QStringLiteral("https://edition.example/"));
    QVERIFY(found);
    const QByteArray logo = TEditionLibrary::Logo();
    QCOMPARE(logo.size(), 399);
    QVERIFY(logo.startsWith("\xFF\xD8\xFF\xE0"));
    QVERIFY(logo.endsWith("\xFF\xD9"));
}

void TestEditionLibrary::missingLibrary()
{
    TEditionLibrary::SetFileName(QStringLiteral("swdist-not-installed"));
    bool found = true;
    QVERIFY(TEditionLibrary::EditionName(&found).isEmpty());
    QVERIFY(!found);
    QVERIFY(TEditionLibrary::EditionURL().isEmpty());
    QVERIFY(TEditionLibrary::Logo().isEmpty());
}

void TestEditionLibrary::unloadedAfterUse()
{
    const QString library = Library("edition_empty");
    TEditionLibrary::SetFileName(library);
    QVERIFY(!Mapped(library));
    QCOMPARE(GetWindowTitle(), QStringLiteral("Sablewick"));
    QVERIFY(!Mapped(library));
    QVERIFY(!TEditionLibrary::Logo().isEmpty());
    QVERIFY(!Mapped(library));
}

QTEST_GUILESS_MAIN(TestEditionLibrary)
#include "tst_editionLibrary.moc"
