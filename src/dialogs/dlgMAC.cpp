#include "dialogs/dlgMAC.h"

#include "app/utilsGeneral.h"
#include "core/texts.h"
#include "net/utilsNetwork.h"
#include "ui/fontScale.h"
#include "ui/macEdit.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>

TfrmMAC::TfrmMAC(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmMAC"));
    setWindowTitle(QStringLiteral("MAC Address properties"));
    setFixedSize(298, 90);

    lbMAC = new QLabel(QStringLiteral("MAC Address:"), this);
    lbMAC->setObjectName(QStringLiteral("lbMAC"));
    edMAC = new TMACEdit(this);
    edMAC->setObjectName(QStringLiteral("edMAC"));
    lbMAC->setBuddy(edMAC);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &TfrmMAC::btnOKClick);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FormCreate();
}

void TfrmMAC::FormCreate()
{
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    const int editHeight = qMax(21, edMAC->sizeHint().height());
    lbMAC->setGeometry(8, 16, 88, editHeight);
    lbMAC->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    edMAC->setGeometry(100, 16, qMin(190, edMAC->sizeHint().width()), editHeight);
    btnOK->setGeometry(135, 57, 75, 25);
    btnCancel->setGeometry(215, 57, 75, 25);
    edMAC->SetTextByProgram(QStringLiteral("  -  -  -  -  -  "));
    setTabOrder(edMAC, btnOK);
    setTabOrder(btnOK, btnCancel);
    ScaleToFont(this);
}

void TfrmMAC::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    edMAC->setFocus(Qt::OtherFocusReason);
}

void TfrmMAC::btnOKClick()
{
    if (!IsValidMAC(edMAC->MaskedText())) {
        ShowWarning(Res::Str(Res::MacInvalid));
        edMAC->setFocus(Qt::OtherFocusReason);
        return;
    }
    accept();
}
