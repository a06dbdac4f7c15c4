// Renders every dialog of the program to a PNG file, for looking at the layout: renderDialogs <outdir>
// [edition library]. Not a test; scripts/render-dialogs.sh builds and runs it. The dialogs speak the
// language of LANG/LANGUAGE; SABLEWICK_RENDER_DARK=1 renders them with a dark palette.
#include "app/translations.h"
#include "product/editionLibrary.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgComputer.h"
#include "dialogs/dlgDebug.h"
#include "dialogs/dlgMAC.h"
#include "dialogs/dlgProgress.h"
#include "dialogs/wizNewComp.h"
#include "model/computers.h"
#include "product/editionLibrary.h"
#include "ui/macEdit.h"

#include <cstdio>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTest>

namespace {

QString outputDir;
int failures = 0;

void Render(QWidget* window, const QString& name)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        std::fprintf(stderr, "%s: not exposed\n", qPrintable(name));
    QApplication::processEvents();
    const QString file = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!window->grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(file));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <outdir> [edition library]\n", argv[0]);
        return 2;
    }
    outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputDir);
    LoadTranslations(QStringLiteral(SABLEWICK_BUILD_DIR "/translations"));
    if (qEnvironmentVariableIntValue("SABLEWICK_RENDER_DARK")) {
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
    {
        TfrmWizNewComp wizard;
        wizard.edComputername->setText(QStringLiteral("workstation-07"));
        wizard.edIPAddress->setText(QStringLiteral("192.168.10.27"));
        wizard.edMACAddress->SetTextByProgram(QStringLiteral("00-1A-2B-3C-4D-5E"));
        for (int page = 0; page < 4; ++page) {
            if (page > 0)
                wizard.btnNext->click();
            Render(&wizard, QStringLiteral("wizard-%1").arg(page + 1));
        }
    }

    {
        TComputer computer;
        computer.SetName(QStringLiteral("WORKSTATION-07"));
        computer.IPAddress = QStringLiteral("192.168.10.27");
        computer.Comments = QStringLiteral("Office on the second floor.\r\nWakes at 7:00 on working days.");
        computer.MACAddresses()->Add()->Address = QStringLiteral("00-1A-2B-3C-4D-5E");
        TfrmComputer dialog;
        dialog.Computer()->Assign(computer);
        dialog.LoadFromComputer();
        dialog.SetModified(false);
        Render(&dialog, QStringLiteral("properties-general"));
        dialog.PageControl1->setCurrentWidget(dialog.tabNotes);
        Render(&dialog, QStringLiteral("properties-notes"));
    }
    {
        TEditionLibrary::SetFileName(QStringLiteral("/nonexistent/libswdist.so"));
        TfrmAbout about;
        Render(&about, QStringLiteral("about-plain"));
    }
    if (argc > 2) {
        TEditionLibrary::SetFileName(QString::fromLocal8Bit(argv[2]));
        TfrmAbout about;
        Render(&about, QStringLiteral("about-edition"));
    }
    {
        TfrmProgress progress;
        progress.SetStatus(QStringLiteral("Detecting the MAC address of WORKSTATION-07 & its adapters, "
                                          "please wait..."));
        Render(&progress, QStringLiteral("progress"));
    }
    {
        TfrmMAC mac;
        mac.edMAC->SetTextByProgram(QStringLiteral("00-1A-2B-3C-4D-5E"));
        Render(&mac, QStringLiteral("mac"));
    }
    {
        TfrmDebug debug;
        debug.memOutput->setPlainText(QStringLiteral("adapter 0  00-1A-2B-3C-4D-5E  192.168.10.27\n"
                                                     "adapter 1  00-1A-2B-3C-4D-5F  10.0.0.4"));
        Render(&debug, QStringLiteral("debug"));
    }
    return failures == 0 ? 0 : 1;
}
