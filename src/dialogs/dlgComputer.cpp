#include "dialogs/dlgComputer.h"

#include "core/mainThread.h"
#include "core/texts.h"
#include "dialogs/frameSchedule.h"
#include "model/computers.h"
#include "net/hostResolve.h"
#include "net/utilsNetwork.h"
#include "ui/fontScale.h"
#include "ui/macEdit.h"
#include "ui/messageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QLabel* FieldLabel(const QString& text, const char* name, QWidget* field, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setBuddy(field);
    return label;
}

// The notes editor shows lines joined by "\n"; the stored notes keep the "\r\n" line ends that the
// database file has always carried.
QString NotesToEditor(const QString& stored)
{
    QString text = stored;
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString EditorToNotes(const QString& shown)
{
    QString text = shown;
    return text.replace(u'\n', QStringLiteral("\r\n"));
}

} // namespace

TfrmComputer::TfrmComputer(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), FComputer(std::make_unique<TComputer>())
{
    setObjectName(QStringLiteral("frmComputer"));
    setWindowTitle(tr("Computer properties"));
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    setFixedSize(342, 295);

    acIPDetect = new QAction(tr("&Auto-detect"), this);
    acIPDetect->setObjectName(QStringLiteral("acIPDetect"));
    connect(acIPDetect, &QAction::triggered, this, [this] { Guarded([this] { acIPDetectExecute(); }); });

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(8, 8, 326, 246);
    CreateGeneralPage();
    CreateNotesPage();
    CreateSchedulePage();
    PageControl1->setCurrentWidget(tabGeneral);

    btnOK = new QPushButton(tr("&OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(178, 262, 75, 25);
    btnOK->setAutoDefault(false); // Enter must never confirm the dialog
    btnOK->setEnabled(false);
    connect(btnOK, &QPushButton::clicked, this, [this] { Guarded([this] { btnOKClick(); }); });

    btnCancel = new QPushButton(tr("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(259, 262, 75, 25);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    // The tab order is the order of creation: pages, their fields, then the buttons.
    ScaleToFont(this);
}

TfrmComputer::~TfrmComputer() = default;

void TfrmComputer::CreateGeneralPage()
{
    tabGeneral = new QWidget(PageControl1);
    tabGeneral->setObjectName(QStringLiteral("tabGeneral"));
    PageControl1->addTab(tabGeneral, tr("General"));

    cbSendOptions = new QComboBox(tabGeneral);
    cbSendOptions->setObjectName(QStringLiteral("cbSendOptions"));
    cbSendOptions->addItems({tr("Local Area Network"), tr("Internet")});
    cbSendOptions->setCurrentIndex(0);
    // Only the user's choice is a change; LoadFromComputer runs the handler itself.
    connect(cbSendOptions, &QComboBox::activated, this, &TfrmComputer::cbSendOptionsChange);

    edName = new QLineEdit(tabGeneral);
    edName->setObjectName(QStringLiteral("edName"));
    edIPAddress = new QLineEdit(tabGeneral);
    edIPAddress->setObjectName(QStringLiteral("edIPAddress"));
    connect(edName, &QLineEdit::textChanged, this, &TfrmComputer::edNameChange);
    connect(edIPAddress, &QLineEdit::textChanged, this, &TfrmComputer::edNameChange);

    Button1 = new QPushButton(acIPDetect->text(), tabGeneral);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, acIPDetect, &QAction::trigger);
    connect(acIPDetect, &QAction::changed, Button1, [this] {
        Button1->setEnabled(acIPDetect->isEnabled());
        Button1->setText(acIPDetect->text());
    });

    edMACAddress = new TMACEdit(tabGeneral);
    edMACAddress->setObjectName(QStringLiteral("edMACAddress"));
    edMACAddress->SetTextByProgram(QStringLiteral("  -  -  -  -  -  "));
    // Without this a changed MAC address alone could never be confirmed.
    connect(edMACAddress, &QLineEdit::textEdited, this, [this] { SetModified(true); });

    lbSendOptions = FieldLabel(tr("Network &type:"), "lbSendOptions", cbSendOptions, tabGeneral);
    lbName = FieldLabel(tr("Computer &name:"), "lbName", edName, tabGeneral);
    lbIPAddress = FieldLabel(tr("&IP Address:"), "lbIPAddress", edIPAddress, tabGeneral);
    lbMACAddress = FieldLabel(tr("&MAC-address:"), "lbMACAddress", edMACAddress, tabGeneral);

    // A name used twice is allowed, but a command naming it then cannot tell the computers apart.
    lbNameTaken = new QLabel(tabGeneral);
    lbNameTaken->setObjectName(QStringLiteral("lbNameTaken"));
    lbNameTaken->setWordWrap(true);
    lbNameTaken->hide();
    connect(edName, &QLineEdit::textChanged, this, &TfrmComputer::UpdateNameNote);

    // The port the magic packet goes to; in Internet mode the router must forward this one.
    gbAdvanced = new QGroupBox(Res::Str(Res::CompAdvanced), tabGeneral);
    gbAdvanced->setObjectName(QStringLiteral("gbAdvanced"));
    edPort = new QSpinBox(gbAdvanced);
    edPort->setObjectName(QStringLiteral("edPort"));
    edPort->setRange(1, 65535);
    edPort->setValue(FComputer->Port);
    edPort->setToolTip(Res::Str(Res::CompUdpPortNote));
    connect(edPort, &QSpinBox::valueChanged, this, [this] { SetModified(true); });
    auto* lbPort = FieldLabel(Res::Str(Res::CompUdpPort), "lbPort", edPort, gbAdvanced);
    lbPort->setToolTip(edPort->toolTip());
    auto* advanced = new QHBoxLayout(gbAdvanced);
    advanced->setContentsMargins(8, 4, 8, 4);
    advanced->addWidget(lbPort);
    advanced->addWidget(edPort);
    advanced->addStretch(1);

    auto* grid = new QGridLayout(tabGeneral);
    grid->setContentsMargins(10, 14, 10, 10);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(10);
    grid->addWidget(lbSendOptions, 0, 0);
    grid->addWidget(cbSendOptions, 0, 1, 1, 2);
    grid->addWidget(lbName, 1, 0);
    grid->addWidget(edName, 1, 1, 1, 2);
    grid->addWidget(lbNameTaken, 2, 1, 1, 2);
    grid->addWidget(lbIPAddress, 3, 0);
    grid->addWidget(edIPAddress, 3, 1);
    grid->addWidget(Button1, 3, 2);
    grid->addWidget(lbMACAddress, 4, 0);
    grid->addWidget(edMACAddress, 4, 1, 1, 2, Qt::AlignLeft);
    grid->setRowStretch(5, 1);
    grid->addWidget(gbAdvanced, 6, 0, 1, 3);
    grid->setColumnStretch(1, 1);
}

void TfrmComputer::CreateNotesPage()
{
    tabNotes = new QWidget(PageControl1);
    tabNotes->setObjectName(QStringLiteral("tabNotes"));
    PageControl1->addTab(tabNotes, tr("Notes"));

    memDescr = new QPlainTextEdit(tabNotes);
    memDescr->setObjectName(QStringLiteral("memDescr"));
    memDescr->setAccessibleName(tr("Notes"));
    memDescr->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(memDescr, &QPlainTextEdit::textChanged, this, &TfrmComputer::edNameChange);

    auto* layout = new QVBoxLayout(tabNotes);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(memDescr);
}

void TfrmComputer::CreateSchedulePage()
{
    tabSchedule = frameSchedule = new TframeSchedule(Res::Str(Res::SchedUseComputer), PageControl1);
    tabSchedule->setObjectName(QStringLiteral("tabSchedule"));
    PageControl1->addTab(tabSchedule, Res::Str(Res::SchedPage));
    connect(frameSchedule, &TframeSchedule::Changed, this, [this] { SetModified(true); });
}

void TfrmComputer::SetModified(bool value)
{
    if (value == FModified)
        return;
    FModified = value;
    btnOK->setEnabled(value);
}

void TfrmComputer::LoadFromComputer()
{
    edName->setText(FComputer->Name());
    edIPAddress->setText(FComputer->IPAddress);
    cbSendOptions->setCurrentIndex(FComputer->SendOptions == soInternet ? 1 : 0);
    cbSendOptionsChange();
    memDescr->setPlainText(NotesToEditor(FComputer->Comments));
    const TMACAddresses* addresses = FComputer->MACAddresses();
    if (addresses && addresses->Count() > 0)
        edMACAddress->SetTextByProgram(addresses->Items(0)->Address);
    frameSchedule->Load(FComputer->Schedule());
    // A stored port outside the range (0 from an old file) shows as the nearest valid one.
    edPort->setValue(qBound(1, int(FComputer->Port), 65535));
    UpdateNameNote();
}

void TfrmComputer::SetNameTaken(std::function<bool(const QString& name)> taken)
{
    FNameTaken = std::move(taken);
    UpdateNameNote();
}

void TfrmComputer::UpdateNameNote()
{
    const QString name = edName->text();
    const bool taken = FNameTaken && !name.isEmpty() && FNameTaken(name);
    if (taken)
        lbNameTaken->setText(Res::Str(Res::NameInUse).arg(name));
    lbNameTaken->setVisible(taken);
}

void TfrmComputer::edNameChange()
{
    SetModified(true);
    acIPDetect->setEnabled(cbSendOptions->currentIndex() == 0 && !edName->text().isEmpty());
}

void TfrmComputer::cbSendOptionsChange()
{
    if (cbSendOptions->currentIndex() != 0)
        acIPDetect->setEnabled(false);
    else if (!edName->text().isEmpty())
        acIPDetect->setEnabled(true);
    SetModified(true);
}

void TfrmComputer::acIPDetectExecute()
{
    // Resolution blocks the window; the action and the cursor come back whatever happens.
    struct TRestore
    {
        QAction* action;
        ~TRestore()
        {
            action->setEnabled(true);
            QApplication::restoreOverrideCursor();
        }
    };
    QApplication::setOverrideCursor(Qt::WaitCursor);
    acIPDetect->setEnabled(false);
    TRestore restore{acIPDetect};

    const QString address = ResolveHostAddress(edName->text());
    if (!address.isEmpty())
        edIPAddress->setText(address);
}

void TfrmComputer::RefuseField(const QString& message, QWidget* field)
{
    ShowWarning(message);
    if (PageControl1->currentWidget() != tabGeneral)
        PageControl1->setCurrentWidget(tabGeneral);
    field->setFocus(Qt::OtherFocusReason);
}

void TfrmComputer::btnOKClick()
{
    const QString ip = edIPAddress->text();
    if (ip.isEmpty()) {
        RefuseField(Res::Str(Res::IPRequired), edIPAddress);
        return;
    }
    if (!IsValidIP(ip)) {
        RefuseField(Res::Str(Res::IPNotValid).arg(ip), edIPAddress);
        return;
    }
    if (edMACAddress->RawText().isEmpty()) {
        RefuseField(Res::Str(Res::MacRequired), edMACAddress);
        return;
    }
    if (!IsValidMAC(edMACAddress->MaskedText())) {
        RefuseField(Res::Str(Res::MacInvalid), edMACAddress);
        return;
    }

    FComputer->SetName(edName->text().isEmpty() ? ip : edName->text());
    FComputer->IPAddress = ip;
    FComputer->SendOptions = cbSendOptions->currentIndex() == 1 ? soInternet : soLAN;
    // Left as stored unless the user changed it: a stored 0 is not rewritten by looking.
    if (edPort->value() != qBound(1, int(FComputer->Port), 65535))
        FComputer->Port = edPort->value();
    FComputer->Comments = EditorToNotes(memDescr->toPlainText());
    if (TMACAddresses* addresses = FComputer->MACAddresses()) {
        addresses->Clear();
        TMACAddress* entry = addresses->Add();
        entry->Address = edMACAddress->MaskedText();
        entry->UseForWake = true;
    }
    FComputer->Schedule().Assign(frameSchedule->Schedule());
    accept();
}
