// Renders every dialog of the program to a PNG file, for looking at the layout: renderDialogs <outdir>
// [edition library]. Not a test; scripts/render-dialogs.sh builds and runs it. The dialogs speak the
// language of LANG/LANGUAGE and use the desktop's font (the script sets its size);
// SABLEWICK_RENDER_DARK=1 renders them with a dark palette. Every text that does not fit its control and
// every control that overlaps another or leaves its parent is listed on stderr ("clipped: ...").
#include "app/translations.h"
#include "sampleWindows.h"

#include <cstdio>
#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QWidget>

namespace {

void SetDarkPalette()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
    dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xbf));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    QApplication::setPalette(dark);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <outdir> [edition library]\n", argv[0]);
        return 2;
    }
    const QDir outputDir(QString::fromLocal8Bit(argv[1]));
    outputDir.mkpath(QStringLiteral("."));
    // The relays and settings the dialogs read and write live in a folder of their own, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    LoadTranslations(QStringLiteral(SABLEWICK_BUILD_DIR "/translations"));
    if (qEnvironmentVariableIntValue("SABLEWICK_RENDER_DARK"))
        SetDarkPalette();

    int failures = 0;
    ShowSampleWindows(
        [&](QWidget* window, const QString& name) {
            for (const QString& problem : ClippedTexts(window))
                std::fprintf(stderr, "clipped: %s/%s\n", qPrintable(name), qPrintable(problem));
            const QString file = outputDir.filePath(name + QStringLiteral(".png"));
            if (!window->grab().save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                ++failures;
                return;
            }
            std::printf("%s\n", qPrintable(file));
        },
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    return failures == 0 ? 0 : 1;
}
