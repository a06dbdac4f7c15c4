// Every window in German at a 14 pt desktop font (set through the qt6ct theme): no text cut, no layout
// squeezed, no control overlapping another; and the keyboard's accelerators in German and English.
#include "app/translations.h"
#include "sampleWindows.h"
#include "support/germanDesktop.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

class TestDialogFonts : public QObject
{
    Q_OBJECT

private slots:
    void textsFitAt14ptInGerman()
    {
        // At the default font the check would prove nothing.
        QCOMPARE(QFontDatabase::systemFont(QFontDatabase::GeneralFont).pointSize(), 14);
        QStringList problems, windows;
        ShowSampleWindows(
            [&](QWidget* window, const QString& name) {
                windows << name;
                for (const QString& problem : ClippedTexts(window))
                    problems << name + QStringLiteral(": ") + problem;
            },
            QString());
        QVERIFY(windows.contains(QStringLiteral("options")));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    // In German, then in English: every label and button reachable with Alt and a letter of its own.
    void accelerators()
    {
        QStringList problems;
        for (const QString& language : {QStringLiteral("de"), QStringLiteral("en")}) {
            if (language == QLatin1String("en"))
                for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>())
                    QCoreApplication::removeTranslator(translator);
            ShowSampleWindows(
                [&](QWidget* window, const QString& name) {
                    // The windows where values are typed; About, progress and browse have buttons only.
                    static const QRegularExpression typed(
                        QStringLiteral("^(wizard|properties|schedule|options|relay|scan)"));
                    if (!typed.match(name).hasMatch())
                        return;
                    for (const QString& problem : AcceleratorProblems(window))
                        problems << QStringLiteral("%1 %2: %3").arg(language, name, problem);
                },
                QString());
        }
        LoadTranslations(QStringLiteral(SABLEWICK_BUILD_DIR "/translations"));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir config;
    if (!UseGermanDesktop(config))
        return 1;
    QApplication app(argc, argv);
    LoadTranslations(QStringLiteral(SABLEWICK_BUILD_DIR "/translations"));
    TestDialogFonts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dialogFonts.moc"
