// The MAC address dialog, TfrmMAC; dialog units are named dlg*, their classes Tfrm*.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class TMACEdit;

// Edits one MAC address. No command of the program opens it; OK accepts only a complete, valid address.
class TfrmMAC : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmMAC(QWidget* owner = nullptr);

    QLabel* lbMAC = nullptr;
    TMACEdit* edMAC = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

public slots:
    void btnOKClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FormCreate();
};
