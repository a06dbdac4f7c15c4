#include "dialogs/dlgOptions.h"

#include "app/utilsGeneral.h"
#include "core/texts.h"
#include "core/userSettings.h"
#include "net/checkSettings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

// A label's text as a screen reader should say it: without its mnemonic's ampersand.
QString Spoken(const QString& text)
{
    QString spoken = text;
    spoken.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return spoken;
}

} // namespace

TfrmOptions::TfrmOptions(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(Res::Str(Res::OptionsCaption));

    auto* label = new QLabel(Res::Str(Res::OptionsTcpPorts), this);
    label->setObjectName(QStringLiteral("lblTcpPorts"));
    FTcpPorts = new QLineEdit(PortListText(TcpProbePorts()), this);
    FTcpPorts->setObjectName(QStringLiteral("edTcpPorts"));
    FTcpPorts->setAccessibleName(Spoken(label->text()));
    FTcpPorts->setMinimumWidth(FTcpPorts->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 48);
    label->setBuddy(FTcpPorts);
    auto* note = new QLabel(Res::Str(Res::OptionsTcpPortsNote), this);
    note->setObjectName(QStringLiteral("lblTcpPortsNote"));
    note->setWordWrap(true);
    FTcpPorts->setAccessibleDescription(note->text());

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(Res::Str(Res::OptionsOK), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(Res::Str(Res::OptionsCancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    QPushButton* defaults = buttons->addButton(Res::Str(Res::OptionsDefaults), QDialogButtonBox::ResetRole);
    defaults->setObjectName(QStringLiteral("btnDefaults"));
    defaults->setAccessibleName(Spoken(defaults->text()));
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmOptions::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TfrmOptions::reject);
    connect(defaults, &QPushButton::clicked, this,
            [this] { FTcpPorts->setText(PortListText(DefaultTcpProbePorts())); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(FTcpPorts);
    layout->addWidget(note);
    layout->addStretch();
    layout->addWidget(buttons);
}

QString TfrmOptions::PortsText() const
{
    return FTcpPorts->text();
}

void TfrmOptions::accept()
{
    std::vector<quint16> ports;
    QString bad;
    if (!ParsePortList(FTcpPorts->text(), &ports, &bad)) {
        ShowWarning(bad.isEmpty() ? Res::Str(Res::OptionsTooManyPorts).arg(MaxTcpProbePorts)
                                  : Res::Str(Res::OptionsBadPort).arg(bad));
        FTcpPorts->setFocus();
        return;
    }
    if (!SetTcpProbePorts(ports)) {
        ShowError(Res::Str(Res::OptionsCannotSave).arg(UserSettingsFile()));
        return;
    }
    QDialog::accept();
}
