// The diagnostic window, TfrmDebug; dialog units are named dlg*, their classes Tfrm*.
#pragma once

#include <QDialog>

class QPlainTextEdit;

// A window that shows diagnostic text in a fixed-pitch font. No command of the program opens it.
class TfrmDebug : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmDebug(QWidget* owner = nullptr);

    QPlainTextEdit* memOutput = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
};
