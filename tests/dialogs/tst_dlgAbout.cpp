#include "core/mainThread.h"
#include "core/texts.h"
#include "dialogs/dlgAbout.h"
#include "product/editionLibrary.h"
#include "ui/hyperlinkLabel.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// Whether a shared library is still mapped into this process.
bool IsMapped(const QString& libraryPath)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    const QByteArray name = QFileInfo(libraryPath).canonicalFilePath().toLocal8Bit();
    return maps.readAll().contains(name);
}

} // namespace

class TestDlgAbout : public QObject
{
    Q_OBJECT

private:
    QStringList FErrors;

private slots:
    void init()
    {
        FErrors.clear();
        SetExceptionReporter([this](const QString& message) { FErrors << message; });
    }
    void cleanup()
    {
        SetExceptionReporter(nullptr);
        TEditionLibrary::SetFileName(QStringLiteral("swdist"));
    }

    void versionAndLinks()
    {
        TEditionLibrary::SetFileName(QStringLiteral("/nonexistent/libswdist.so"));
        TfrmAbout about;
        // This test program carries no version data.
        QCOMPARE(about.lbVersion->text(), QStringLiteral("Version 0.0.0.0 []"));
        for (THyperlinkLabel* link : {about.webOstrel, about.webQuandrel}) {
            QVERIFY(link->Target().startsWith(QStringLiteral("https://")));
            QCOMPARE(link->text(), link->Target());
        }
        QVERIFY(about.webOstrel->Target() != about.webQuandrel->Target());
    }

    void modalRunEndsWithOK()
    {
        TEditionLibrary::SetFileName(QStringLiteral("/nonexistent/libswdist.so"));
        TfrmAbout about;
        QTimer::singleShot(0, &about, [&about] {
            if (about.isVisible())
                about.btnOK->click();
        });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
    }

    void edition_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("edition");
        QTest::addColumn<QString>("link"); // "designed", "hidden" or the address shown
        QTest::addColumn<bool>("logo");
        QTest::addColumn<QString>("error"); // start of the reported error, empty for none

        QTest::newRow("no library") << "/nonexistent/libswdist.so"
                                    << ""
                                    << "designed" << false << "";
        QTest::newRow("full") << EDITION_FULL << "Test Edition"
                              << "https://edition.example/" << true << "";
        QTest::newRow("name only") << EDITION_NAMEONLY << "Name Only Edition"
                                   << "designed" << false << Res::Str(Res::LogoNotFound);
        QTest::newRow("empty address") << EDITION_EMPTYURL << "Quiet Edition"
                                       << "hidden" << true << "";
        QTest::newRow("broken logo") << EDITION_BROKENLOGO << "Broken Edition"
                                     << "https://broken.example/" << false << "JPEG error: ";
    }
    void edition()
    {
        QFETCH(QString, library);
        QFETCH(QString, edition);
        QFETCH(QString, link);
        QFETCH(bool, logo);
        QFETCH(QString, error);

        // The design state of the link, to compare against.
        TEditionLibrary::SetFileName(QStringLiteral("/nonexistent/libswdist.so"));
        const TfrmAbout plain;
        const bool designedVisible = plain.webEdition->isVisibleTo(&plain);
        const QString designedText = plain.webEdition->text();

        TEditionLibrary::SetFileName(library);
        TfrmAbout about;
        QCOMPARE(about.lbEdition->text(), edition);
        if (link == QLatin1String("designed")) {
            QCOMPARE(about.webEdition->isVisibleTo(&about), designedVisible);
            QCOMPARE(about.webEdition->text(), designedText);
        } else if (link == QLatin1String("hidden")) {
            QVERIFY(!about.webEdition->isVisibleTo(&about));
        } else {
            QVERIFY(about.webEdition->isVisibleTo(&about));
            QCOMPARE(about.webEdition->text(), link);
            QCOMPARE(about.webEdition->Target(), link);
        }
        if (logo) {
            QCOMPARE(about.imgLogo->pixmap().size(), QSize(48, 60));
            // The test logo runs from blue at the top to near white at the bottom.
            const QImage shown = about.imgLogo->pixmap().toImage();
            QVERIFY(QColor(shown.pixel(24, 1)).blue() > QColor(shown.pixel(24, 1)).red() + 60);
            QVERIFY(QColor(shown.pixel(24, 58)).red() > 200);
        } else {
            QVERIFY(about.imgLogo->pixmap().isNull());
        }
        if (error.isEmpty()) {
            QVERIFY2(FErrors.isEmpty(), qPrintable(FErrors.join(u'|')));
        } else {
            QCOMPARE(FErrors.size(), 1);
            QVERIFY2(FErrors.first().startsWith(error), qPrintable(FErrors.first()));
        }
        // The library is released again whatever happened.
        if (QFile::exists(library))
            QVERIFY(!IsMapped(library));
        // The box opens all the same.
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
    }
};

QTEST_MAIN(TestDlgAbout)
#include "tst_dlgAbout.moc"
