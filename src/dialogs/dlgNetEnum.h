// The network browse dialog TfrmNetEnum and its tree model; dialog units are dlg*, their classes Tfrm*.
#pragma once

#include "core/netEntry.h"
#include "net/threadNetEnum.h"

#include <memory>
#include <QAbstractItemModel>
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <vector>

class QLabel;
class QPushButton;
class QTreeView;
class TNetEnumThread;
class TNetEnumThreadEx;
class TWorkerThread;

// The tree of browsed resources. Every node owns its entry and is freed with its parent or the model;
// the neighbourhood walk adds nodes through the sink on the main thread.
class TNetTreeModel : public QAbstractItemModel, public TNetEntrySink
{
    Q_OBJECT

public:
    enum Column
    {
        colComputers = 0,
        colComments = 1,
        ColumnCount
    };

    explicit TNetTreeModel(QObject* parent = nullptr);
    ~TNetTreeModel() override;

    // Appends the entry as the last child of parentNode (nullptr: top level); returns the new node.
    void* AddEntry(void* parentNode, std::unique_ptr<TNetEntry> entry) override;

    // The entry a node carries, or nullptr for an invalid index.
    const TNetEntry* Entry(const QModelIndex& index) const;
    QModelIndex IndexOfNode(void* node) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct TNode
    {
        std::unique_ptr<TNetEntry> Entry;
        TNode* Parent = nullptr;
        int Row = 0;
        std::vector<std::unique_ptr<TNode>> Children;
    };
    TNode* NodeOf(const QModelIndex& index) const;

    TNode FRoot;
    QIcon FImage;
};

// The "Browse network" dialog: lists the servers of this computer's domain or walks the neighbourhood,
// and lets the user pick one.
class TfrmNetEnum : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmNetEnum(QWidget* owner = nullptr);
    ~TfrmNetEnum() override;

    bool ListServers = false;

    void StartBrowsing();
    void StopBrowsing();
    void ProcessSelection();

    // Completion of the server-list worker: one top-level node per "name=comment" line, in the order
    // the network gave them.
    void NetEnumExTerminate(TWorkerThread* sender);
    // The part of NetEnumExTerminate that fills the tree, split at the first "=" of each line.
    void AddServers(const QStringList& lines);

    // The entry of the first selected node in tree order, or nullptr when nothing is selected.
    const TNetEntry* SelectedEntry() const;

    TNetTreeModel* Model() const { return FModel; }
    // The workers still attached to the dialog (nullptr when none runs); for tests.
    TNetEnumThreadEx* ServerListWorker() const { return FNetEnumEx; }
    TNetEnumThread* WalkWorker() const { return FNetEnum.data(); }

    QTreeView* vtNet = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnSelect = nullptr;

    // The one picture of the tree's image list (24 x 24).
    static QIcon NetImage();

    // What the empty tree says over itself: "Searching…" while a search runs, "No computers found" once
    // it ended without any; empty while the tree has rows. Never a row: nothing to select or return.
    QString EmptyNotice() const;

private:
    void btnSelectClick();
    void FormDestroy();
    void UpdateEmptyNotice();

    TNetTreeModel* FModel = nullptr;
    QPointer<TNetEnumThread> FNetEnum;
    TNetEnumThreadEx* FNetEnumEx = nullptr;
    QLabel* FEmptyNotice = nullptr;
    bool FSearched = false;
};
