#include "dialogs/dlgProgress.h"

#include "core/texts.h"
#include "ui/fontScale.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>

namespace {

// The window to centre over when the progress window has no owner: the active window, else the first
// visible main window.
QWidget* FallbackOwner(const QWidget* self)
{
    if (QWidget* active = QApplication::activeWindow(); active && active != self)
        return active;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMainWindow*>(widget) && widget->isVisible())
            return widget;
    }
    return nullptr;
}

} // namespace

TfrmProgress::TfrmProgress(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(Res::Str(Res::ProductName));
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    setFixedSize(299, 91);
    setCursor(Qt::WaitCursor);

    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    lbStatus->setGeometry(13, 8, 273, 41);
    lbStatus->setWordWrap(true);
    lbStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lbStatus->setTextFormat(Qt::PlainText);
    lbStatus->setAttribute(Qt::WA_TranslucentBackground);
    lbStatus->setCursor(Qt::WaitCursor);

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(112, 56, 75, 25);
    btnCancel->setDefault(true);
    btnCancel->setAutoDefault(true);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);
    ScaleToFont(this);
}

void TfrmProgress::SetStatus(const QString& value)
{
    if (value == FStatus)
        return;
    FStatus = value;
    lbStatus->setText(value);
}

void TfrmProgress::btnCancelClick()
{
    if (!FNotifyWindow)
        return;
    QPointer<TfrmProgress> self(this);
    QEvent cancel(WM_PROGRESSCANCEL);
    QCoreApplication::sendEvent(FNotifyWindow, &cancel);
    // The receiver may have closed this window already (closing again is harmless) or even released it.
    if (self)
        done(QDialog::Rejected);
}

void TfrmProgress::reject()
{
    btnCancelClick();
}

bool TfrmProgress::event(QEvent* e)
{
    if (e->type() == WM_PROGRESSCLOSE) {
        done(QDialog::Rejected);
        return true;
    }
    return QDialog::event(e);
}

void TfrmProgress::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    CenterOverOwner();
}

void TfrmProgress::CenterOverOwner()
{
    QWidget* owner = parentWidget() ? parentWidget()->window() : FallbackOwner(this);
    QRect area;
    if (owner)
        area = owner->frameGeometry();
    else if (QScreen* screen = QApplication::primaryScreen())
        area = screen->availableGeometry();
    else
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
}
