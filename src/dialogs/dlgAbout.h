// The about box, TfrmAbout; dialog units are named dlg*, their classes Tfrm*.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class THyperlinkLabel;

// The about box: product title, the program file's version, the edition (name, link and logo) that the
// optional edition library supplies, and the maker's notice. Everything is set up at creation.
class TfrmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget* owner = nullptr);

    QLabel* lbAppTitle = nullptr;
    QLabel* lbVersion = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lbEdition = nullptr;
    THyperlinkLabel* webEdition = nullptr;
    QLabel* lbCopyright = nullptr;
    THyperlinkLabel* webOstrel = nullptr;
    QLabel* lbRights = nullptr;
    QLabel* lbQuandrel = nullptr;
    THyperlinkLabel* webQuandrel = nullptr;
    QLabel* lbWarning = nullptr;
    QFrame* Bevel2 = nullptr;
    QPushButton* btnOK = nullptr;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void CreateControls();
    void LoadEdition();
};
