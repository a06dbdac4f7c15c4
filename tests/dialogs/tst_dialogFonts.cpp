// Every window in German at a 14 pt desktop font (through the qt6ct theme): no text is cut, no layout
// squeezed, no control overlaps another. German runs long and the hand-placed dialogs were made for 9 pt.
#include "app/translations.h"
#include "sampleWindows.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <QTest>

class TestDialogFonts : public QObject
{
    Q_OBJECT

private slots:
    void textsFitAt14ptInGerman()
    {
        // Without the theme the check would pass at the default font and prove nothing.
        QCOMPARE(QFontDatabase::systemFont(QFontDatabase::GeneralFont).pointSize(), 14);
        QStringList problems;
        int windows = 0;
        ShowSampleWindows(
            [&](QWidget* window, const QString& name) {
                ++windows;
                for (const QString& problem : ClippedTexts(window))
                    problems << name + QStringLiteral(": ") + problem;
            },
            QString());
        QVERIFY(windows >= 25);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }
};

int main(int argc, char** argv)
{
    // The desktop's font comes from the platform theme, read when the application starts.
    QTemporaryDir config;
    QDir(config.path()).mkpath(QStringLiteral("qt6ct"));
    QFile settings(config.filePath(QStringLiteral("qt6ct/qt6ct.conf")));
    if (!settings.open(QIODevice::WriteOnly) ||
        settings.write(
            "[Appearance]\nstyle=Fusion\n[Fonts]\ngeneral=\"DejaVu Sans,14,-1,5,50,0,0,0,0,0\"\n") < 0)
        return 1;
    settings.close();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("QT_QPA_PLATFORMTHEME", "qt6ct");
    qputenv("LANG", "de_DE.UTF-8");
    qputenv("LANGUAGE", "de");
    QApplication app(argc, argv);
    LoadTranslations(QStringLiteral(SABLEWICK_BUILD_DIR "/translations"));
    TestDialogFonts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dialogFonts.moc"
