#include "dialogs/dlgRelays.h"

#include "core/texts.h"
#include "net/relayHub.h"
#include "ui/fontScale.h"
#include "ui/messageBoxes.h"

#include <algorithm>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtMath>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, int caption)
{
    auto* button = new QPushButton(Res::Str(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(Res::Str(caption).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
    return button;
}

QLineEdit* MakeEdit(QWidget* parent, QFormLayout* form, const char* name, int label, const QString& text)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    auto* caption = new QLabel(Res::Str(label), parent);
    caption->setBuddy(edit);
    edit->setAccessibleName(Res::Str(label).remove(QLatin1Char('&')).remove(QLatin1Char(':')));
    form->addRow(caption, edit);
    return edit;
}

} // namespace

TfrmRelay::TfrmRelay(const TRelay& relay, QStringList takenNames, QWidget* owner)
    : QDialog(owner), FRelay(relay), FTakenNames(std::move(takenNames))
{
    setObjectName(QStringLiteral("frmRelay"));
    setWindowTitle(Res::Str(Res::RelayEditCaption));
    auto* form = new QFormLayout;
    edName = MakeEdit(this, form, "edName", Res::RelayLabelName, relay.Name);
    edDestination = MakeEdit(this, form, "edDestination", Res::RelayLabelDestination, relay.Destination);
    edDestination->setPlaceholderText(QStringLiteral("admin@gw.branch.example"));
    edNetworks = MakeEdit(this, form, "edNetworks", Res::RelayLabelNetworks,
                          relay.NetworkTexts().join(QStringLiteral(", ")));
    edNetworks->setPlaceholderText(QStringLiteral("10.20.0.0/16, 192.168.7.0/24"));
    edCommand = MakeEdit(this, form, "edCommand", Res::RelayLabelCommand, relay.Command);
    edCommand->setPlaceholderText(QStringLiteral("etherwake -i {interface} {mac}"));
    edName->setMinimumWidth(qCeil(420 * FontScale(font())));

    auto* buttons = new QDialogButtonBox(this);
    btnOK = MakeButton(this, "btnOK", Res::RelayOK);
    btnCancel = MakeButton(this, "btnCancel", Res::RelayCancel);
    btnOK->setDefault(true);
    buttons->addButton(btnOK, QDialogButtonBox::AcceptRole);
    buttons->addButton(btnCancel, QDialogButtonBox::RejectRole);
    connect(btnOK, &QPushButton::clicked, this, &TfrmRelay::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TfrmRelay::btnOKClick()
{
    TRelay relay;
    relay.Name = edName->text().trimmed();
    relay.Destination = edDestination->text().trimmed();
    relay.Command = edCommand->text().trimmed();
    QStringList bad;
    for (const QString& text :
         edNetworks->text().split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts)) {
        if (auto network = TRelayNetwork::Parse(text))
            relay.Networks.push_back(*network);
        else
            bad << text;
    }
    QString problem = RelayProblem(relay);
    QLineEdit* culprit = problem.isEmpty() ? nullptr : edName;
    if (problem == Res::Str(Res::RelayBadDestination).arg(relay.Name))
        culprit = edDestination;
    else if (problem == Res::Str(Res::RelayNoNetwork).arg(relay.Name))
        culprit = edNetworks;
    // A network that does not parse says more than "no network" does.
    if ((problem.isEmpty() || culprit == edNetworks) && !bad.isEmpty()) {
        problem = BadNetworksText(relay.Name, bad);
        culprit = edNetworks;
    }
    if (problem.isEmpty() && FTakenNames.contains(relay.Name, Qt::CaseInsensitive)) {
        problem = Res::Str(Res::RelayDuplicate).arg(relay.Name);
        culprit = edName;
    }
    if (!problem.isEmpty()) {
        ShowWarning(problem);
        culprit->setFocus();
        return;
    }
    FRelay = relay;
    accept();
}

TfrmRelays::TfrmRelays(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmRelays"));
    setWindowTitle(Res::Str(Res::RelaysCaption));
    lvRelays = new QTreeWidget(this);
    lvRelays->setObjectName(QStringLiteral("lvRelays"));
    lvRelays->setAccessibleName(Res::Str(Res::RelaysCaption));
    lvRelays->setRootIsDecorated(false);
    lvRelays->setHeaderLabels({Res::Str(Res::RelayColName), Res::Str(Res::RelayColDestination),
                               Res::Str(Res::RelayColNetworks), Res::Str(Res::RelayColCommand)});
    // Room for the columns at a larger font too, beside the buttons on a screen of 1280 pixels.
    lvRelays->setMinimumSize(QSize(480, 180) * FontScale(font()));
    // No column narrower than its caption, whatever the font and language.
    for (int i = 0; i < lvRelays->columnCount(); ++i)
        lvRelays->header()->resizeSection(
            i, std::max(lvRelays->header()->sectionSize(i), lvRelays->header()->sectionSizeHint(i)));
    btnAdd = MakeButton(this, "btnAdd", Res::RelayAdd);
    btnEdit = MakeButton(this, "btnEdit", Res::RelayEdit);
    btnRemove = MakeButton(this, "btnRemove", Res::RelayRemove);
    btnTest = MakeButton(this, "btnTest", Res::RelayTest);
    btnClose = MakeButton(this, "btnClose", Res::RelayClose);
    lbResult = new QLabel(this);
    lbResult->setObjectName(QStringLiteral("lbResult"));
    lbResult->setWordWrap(true);
    lbResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbResult->setMinimumHeight(lbResult->fontMetrics().lineSpacing() * 3);

    auto* side = new QVBoxLayout;
    for (QPushButton* button : {btnAdd, btnEdit, btnRemove, btnTest})
        side->addWidget(button);
    side->addStretch();
    side->addWidget(btnClose);
    auto* top = new QHBoxLayout;
    top->addWidget(lvRelays, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lbResult);

    connect(btnAdd, &QPushButton::clicked, this, &TfrmRelays::btnAddClick);
    connect(btnEdit, &QPushButton::clicked, this, &TfrmRelays::btnEditClick);
    connect(btnRemove, &QPushButton::clicked, this, &TfrmRelays::btnRemoveClick);
    connect(btnTest, &QPushButton::clicked, this, &TfrmRelays::btnTestClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(lvRelays, &QTreeWidget::itemDoubleClicked, this, &TfrmRelays::btnEditClick);
    connect(lvRelays, &QTreeWidget::currentItemChanged, this, &TfrmRelays::UpdateButtons);

    QStringList problems;
    FRelays = LoadRelays(RelaysFilePath(), &problems);
    lbResult->setText(problems.join(QLatin1Char('\n')));
    Fill(0);
}

void TfrmRelays::Fill(int select)
{
    lvRelays->clear();
    for (const TRelay& relay : FRelays) {
        auto* item = new QTreeWidgetItem(
            {relay.Name, relay.Destination, relay.NetworkTexts().join(QStringLiteral(", ")), relay.Command});
        // A text too long for its column stays readable in the tool tip.
        for (int column = 0; column < item->columnCount(); ++column)
            item->setToolTip(column, item->text(column));
        lvRelays->addTopLevelItem(item);
    }
    if (!FRelays.empty())
        lvRelays->setCurrentItem(lvRelays->topLevelItem(qBound(0, select, int(FRelays.size()) - 1)));
    // Name, destination and networks as wide as they need (a third of the list at most); the command, often
    // the longest and the least needed, takes what is left.
    const int widest = std::max(lvRelays->viewport()->width(), lvRelays->minimumWidth()) / 3;
    for (int column = 0; column < 3; ++column) {
        lvRelays->resizeColumnToContents(column);
        lvRelays->setColumnWidth(column, std::min(lvRelays->columnWidth(column), widest));
    }
    UpdateButtons();
}

void TfrmRelays::UpdateButtons()
{
    const bool selected = lvRelays->currentItem() != nullptr;
    btnEdit->setEnabled(selected);
    btnRemove->setEnabled(selected);
    btnTest->setEnabled(selected);
}

QStringList TfrmRelays::NamesExcept(int index) const
{
    QStringList names;
    for (int i = 0; i < int(FRelays.size()); ++i)
        if (i != index)
            names << FRelays[size_t(i)].Name;
    return names;
}

bool TfrmRelays::Store(std::vector<TRelay> relays)
{
    QString error;
    if (!SaveRelays(RelaysFilePath(), relays, &error)) {
        ShowError(error);
        return false;
    }
    // The file is read back, so the list shows exactly what checks and wake-ups will use.
    QStringList problems;
    ReloadRelays(&problems);
    FRelays = LoadRelays(RelaysFilePath());
    lbResult->setText(problems.join(QLatin1Char('\n')));
    return true;
}

void TfrmRelays::btnAddClick()
{
    TfrmRelay dialog(TRelay(), NamesExcept(-1), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::vector<TRelay> relays = FRelays;
    relays.push_back(dialog.Relay());
    if (!Store(std::move(relays)))
        return;
    int index = 0;
    for (int i = 0; i < int(FRelays.size()); ++i)
        if (FRelays[size_t(i)].Name == dialog.Relay().Name)
            index = i;
    Fill(index);
}

void TfrmRelays::btnEditClick()
{
    const int index = lvRelays->indexOfTopLevelItem(lvRelays->currentItem());
    if (index < 0)
        return;
    TfrmRelay dialog(FRelays[size_t(index)], NamesExcept(index), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::vector<TRelay> relays = FRelays;
    relays[size_t(index)] = dialog.Relay();
    if (Store(std::move(relays)))
        Fill(index);
}

void TfrmRelays::btnRemoveClick()
{
    const int index = lvRelays->indexOfTopLevelItem(lvRelays->currentItem());
    // Saved at once, so asked first, as a deletion in the main window is.
    if (index < 0 || !AskQuestion(Res::Str(Res::RelayRemoveAsk).arg(FRelays[size_t(index)].Name)))
        return;
    std::vector<TRelay> relays = FRelays;
    relays.erase(relays.begin() + index);
    if (Store(std::move(relays)))
        Fill(index);
}

void TfrmRelays::btnTestClick()
{
    const int index = lvRelays->indexOfTopLevelItem(lvRelays->currentItem());
    if (index < 0)
        return;
    const QString name = FRelays[size_t(index)].Name;
    lbResult->setText(Res::Str(Res::RelayTesting).arg(name));
    QPointer<TfrmRelays> self(this);
    TRelayHub::Instance().Test(name, [self, name](const TRelayTestResult& result) {
        if (!self)
            return;
        if (!result.Ok)
            self->lbResult->setText(result.Error);
        else if (result.WakeTool.isEmpty())
            self->lbResult->setText(Res::Str(Res::RelayTestNoTool).arg(name).arg(result.RoundTripMs));
        else
            self->lbResult->setText(Res::Str(Res::RelayTestOk)
                                        .arg(name)
                                        .arg(result.RoundTripMs)
                                        .arg(result.WakeTool, result.CheckTool));
    });
}
