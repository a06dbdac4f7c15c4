// Renders every dialog of the program to a PNG file, for looking at the layout: renderDialogs <outdir>
// [edition library]. Not a test; scripts/render-dialogs.sh builds and runs it.
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgComputer.h"
#include "dialogs/dlgDebug.h"
#include "dialogs/dlgMAC.h"
#include "dialogs/dlgProgress.h"
#include "model/computers.h"
#include "product/editionLibrary.h"
#include "ui/macEdit.h"

#include <cstdio>
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
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
