// The network scan dialog, TfrmScan.
#pragma once

#include "net/netScan.h"

#include <QDialog>
#include <vector>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class TGroup;
class TWorkerThread;

// Sweeps a network picked from this machine's networks (or typed) and lists what answered, each host
// with its check box: the new ones checked, those already in the database greyed with the name they
// have there. Add selected closes the dialog with OK; the caller adds SelectedHosts().
class TfrmScan : public QDialog
{
    Q_OBJECT

public:
    // root: the database's group, for telling the known hosts (may be null).
    TfrmScan(const TGroup* root, const TScanOptions& options, QWidget* owner = nullptr);
    ~TfrmScan() override;

    // The checked hosts and the mask of their network, after Add selected.
    std::vector<TScanHost> SelectedHosts() const;
    quint32 HostMask() const { return FHostMask; }
    bool Scanning() const { return FScan != nullptr; }

    void btnStartClick();
    void btnStopClick();

    QComboBox* cbNetwork = nullptr;
    QLabel* lbRate = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QProgressBar* pbProgress = nullptr;
    QLabel* lbFound = nullptr;
    QTreeWidget* lvHosts = nullptr;
    QLabel* lbError = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnClose = nullptr;

private:
    void ScanProgress(int sent, int total, int found);
    void ScanCompleted(TWorkerThread* sender);
    void ShowHosts(const std::vector<TScanHost>& hosts);
    void UpdateButtons();
    void StopScan();

    const TGroup* FRoot;
    TScanOptions FOptions;
    TNetScan* FScan = nullptr;
    std::vector<TScanHost> FHosts; // in the order of the list's rows
    quint32 FHostMask = 0;
};
