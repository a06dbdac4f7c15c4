#include "dialogs/dlgDebug.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

TfrmDebug::TfrmDebug(QWidget* owner)
    : QDialog(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmDebug"));
    setWindowTitle(QStringLiteral("Test"));
    resize(578, 443);

    memOutput = new QPlainTextEdit(this);
    memOutput->setObjectName(QStringLiteral("memOutput"));
    memOutput->setReadOnly(true);
    memOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // "Courier New" where it is installed, else the desktop's fixed-pitch font.
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(courier).fixedPitch())
        courier = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    memOutput->setFont(courier);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(memOutput);
}

void TfrmDebug::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
