#include "dialogs/dlgScan.h"

#include "core/texts.h"
#include "model/computers.h"
#include "model/scanResults.h"
#include "net/hostResolve.h"
#include "ui/fontScale.h"
#include "ui/messageBoxes.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum TColumn
{
    colIP,
    colMAC,
    colName,
    colVendor,
    colKnown
};

// A label's text as a screen reader should say it: without its mnemonic and colon.
QString Spoken(QString text)
{
    return text.remove(QLatin1Char('&')).remove(QLatin1Char(':')).trimmed();
}

} // namespace

TfrmScan::TfrmScan(const TGroup* root, const TScanOptions& options, QWidget* owner)
    : QDialog(owner), FRoot(root), FOptions(options)
{
    setObjectName(QStringLiteral("frmScan"));
    setWindowTitle(Res::Str(Res::ScanCaption));
    // Room for the list's columns at a larger font too, within the screen.
    resize((QSize(720, 460) * FontScale(font())).boundedTo(ScreenRoom(this)));

    auto* layout = new QVBoxLayout(this);
    auto* top = new QGridLayout;
    layout->addLayout(top);

    auto* lbNetwork = new QLabel(Res::Str(Res::ScanNetworkLabel), this);
    cbNetwork = new QComboBox(this);
    cbNetwork->setObjectName(QStringLiteral("cbNetwork"));
    cbNetwork->setEditable(true);
    cbNetwork->setInsertPolicy(QComboBox::NoInsert);
    for (const TScanNetwork& network : LocalScanNetworks())
        cbNetwork->addItem(network.Text());
    lbNetwork->setBuddy(cbNetwork);
    cbNetwork->setAccessibleName(Spoken(lbNetwork->text()));
    btnStart = new QPushButton(Res::Str(Res::ScanStart), this);
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnStart->setDefault(true);
    btnStop = new QPushButton(Res::Str(Res::ScanStop), this);
    btnStop->setObjectName(QStringLiteral("btnStop"));
    top->addWidget(lbNetwork, 0, 0);
    top->addWidget(cbNetwork, 0, 1);
    top->addWidget(btnStart, 0, 2);
    top->addWidget(btnStop, 0, 3);
    top->setColumnStretch(1, 1);

    lbRate = new QLabel(Res::Str(Res::ScanRateNote).arg(FOptions.Rate), this);
    lbRate->setObjectName(QStringLiteral("lbRate"));
    top->addWidget(lbRate, 1, 1, 1, 3);

    auto* progressRow = new QHBoxLayout;
    layout->addLayout(progressRow);
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setAccessibleName(Res::Str(Res::ScanProgressName));
    pbProgress->setRange(0, 1);
    pbProgress->setValue(0);
    lbFound = new QLabel(Res::Str(Res::ScanFound).arg(0), this);
    lbFound->setObjectName(QStringLiteral("lbFound"));
    progressRow->addWidget(pbProgress, 1);
    progressRow->addWidget(lbFound);

    lbError = new QLabel(this);
    lbError->setObjectName(QStringLiteral("lbError"));
    lbError->setWordWrap(true);
    lbError->hide();
    layout->addWidget(lbError);

    auto* lbHosts = new QLabel(Res::Str(Res::ScanHostsLabel), this);
    lvHosts = new QTreeWidget(this);
    lvHosts->setObjectName(QStringLiteral("lvHosts"));
    lvHosts->setRootIsDecorated(false);
    lvHosts->setAlternatingRowColors(true);
    lvHosts->setHeaderLabels({Res::Str(Res::ScanColIP), Res::Str(Res::ScanColMAC), Res::Str(Res::ScanColName),
                              Res::Str(Res::ScanColVendor), Res::Str(Res::ScanColKnown)});
    lvHosts->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lbHosts->setBuddy(lvHosts);
    lvHosts->setAccessibleName(Spoken(lbHosts->text()));
    layout->addWidget(lbHosts);
    layout->addWidget(lvHosts, 1);

    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    buttons->addStretch(1);
    btnAdd = new QPushButton(Res::Str(Res::ScanAdd), this);
    btnAdd->setObjectName(QStringLiteral("btnAdd"));
    btnClose = new QPushButton(Res::Str(Res::ScanClose), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    buttons->addWidget(btnAdd);
    buttons->addWidget(btnClose);

    connect(btnStart, &QPushButton::clicked, this, &TfrmScan::btnStartClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmScan::btnStopClick);
    connect(btnAdd, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvHosts, &QTreeWidget::itemChanged, this, &TfrmScan::UpdateButtons);
    UpdateButtons();
}

TfrmScan::~TfrmScan()
{
    StopScan();
}

void TfrmScan::StopScan()
{
    if (!FScan)
        return;
    FScan->Detach();
    FScan->SetOnProgress(nullptr);
    FScan->AskToStop();
    FScan = nullptr;
}

void TfrmScan::btnStartClick()
{
    if (FScan)
        return;
    // A new scan clears the list: hosts checked but not added would be lost without a word.
    if (!SelectedHosts().empty() && !AskQuestion(Res::Str(Res::ScanDiscardChecked)))
        return;
    TScanNetwork network;
    QString error;
    if (!ParseScanNetwork(cbNetwork->currentText(), &network, &error)) {
        lbError->setText(error);
        lbError->show();
        cbNetwork->setFocus();
        return;
    }
    lbError->hide();
    ShowHosts({});
    pbProgress->setRange(0, qMax(1, network.HostCount()));
    pbProgress->setValue(0);
    lbFound->setText(Res::Str(Res::ScanFound).arg(0));
    FScan = new TNetScan(network, FOptions);
    FScan->SetOnProgress([this](int sent, int total, int found) { ScanProgress(sent, total, found); });
    FScan->SetOnTerminate([this](TWorkerThread* sender) { ScanCompleted(sender); });
    FScan->Start();
    UpdateButtons();
}

void TfrmScan::btnStopClick()
{
    // The completion still comes, with what was found until now.
    if (FScan)
        FScan->AskToStop();
}

void TfrmScan::ScanProgress(int sent, int total, int found)
{
    pbProgress->setRange(0, qMax(1, total));
    pbProgress->setValue(sent);
    lbFound->setText(Res::Str(Res::ScanFound).arg(found));
}

void TfrmScan::ScanCompleted(TWorkerThread* sender)
{
    auto* scan = static_cast<TNetScan*>(sender);
    FScan = nullptr;
    FHostMask = scan->HostMask();
    const std::vector<TScanHost> hosts = scan->Hosts();
    if (!scan->Error().isEmpty()) {
        lbError->setText(scan->Error());
        lbError->show();
    }
    pbProgress->setValue(pbProgress->maximum());
    lbFound->setText(Res::Str(Res::ScanFound).arg(hosts.size()));
    ShowHosts(hosts);
}

void TfrmScan::ShowHosts(const std::vector<TScanHost>& hosts)
{
    const QSignalBlocker quiet(lvHosts);
    lvHosts->clear();
    FHosts = hosts;
    for (const TScanHost& host : hosts) {
        auto* item = new QTreeWidgetItem(lvHosts);
        item->setText(colIP, IPv4ToText(host.Address));
        item->setText(colMAC, DatabaseMac(host.Mac));
        item->setText(colName, host.Name);
        item->setText(colVendor, host.Vendor);
        const TComputer* known = FRoot ? KnownComputer(*FRoot, host) : nullptr;
        item->setText(colKnown, ScanHostState(known, host));
        if (known) {
            // Shown, but neither chosen nor choosable: it is in the database already.
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable));
        } else {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            // Likely one router answering for addresses it forwards to: chosen only on purpose.
            item->setCheckState(colIP, host.SharedMac > 0 ? Qt::Unchecked : Qt::Checked);
        }
    }
    UpdateButtons();
}

std::vector<TScanHost> TfrmScan::SelectedHosts() const
{
    std::vector<TScanHost> selected;
    for (int i = 0; i < lvHosts->topLevelItemCount() && i < int(FHosts.size()); ++i) {
        const QTreeWidgetItem* item = lvHosts->topLevelItem(i);
        if ((item->flags() & Qt::ItemIsUserCheckable) && item->checkState(colIP) == Qt::Checked)
            selected.push_back(FHosts[size_t(i)]);
    }
    return selected;
}

void TfrmScan::UpdateButtons()
{
    btnStart->setEnabled(!FScan);
    btnStop->setEnabled(FScan != nullptr);
    cbNetwork->setEnabled(!FScan);
    const bool addable = !FScan && !SelectedHosts().empty();
    btnAdd->setEnabled(addable);
    // Once there is something to add, Enter adds it rather than scanning again (which clears the list).
    btnAdd->setDefault(addable);
    btnStart->setDefault(!addable);
}
