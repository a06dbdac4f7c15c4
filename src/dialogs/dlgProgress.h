// The progress window, TfrmProgress; dialog units are named dlg*, their classes Tfrm*.
#pragma once

#include "dialogs/progressMessages.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;

// Non-modal status window with a Cancel button, shown while a long operation runs. Cancel tells
// NotifyWindow (WM_PROGRESSCANCEL, handled before the window closes); WM_PROGRESSCLOSE closes it.
// Closing only hides it: whoever created it releases it.
class TfrmProgress : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmProgress(QWidget* owner = nullptr);

    QWidget* NotifyWindow() const { return FNotifyWindow; }
    void SetNotifyWindow(QWidget* window) { FNotifyWindow = window; }
    const QString& Status() const { return FStatus; }
    // Shows the text; an equal text changes nothing.
    void SetStatus(const QString& value);

    QLabel* lbStatus = nullptr;
    QPushButton* btnCancel = nullptr;

public slots:
    void btnCancelClick();
    // Escape, Enter and the window manager's close all act as Cancel.
    void reject() override;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void CenterOverOwner();

    QPointer<QWidget> FNotifyWindow;
    QString FStatus;
};
