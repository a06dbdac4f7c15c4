#include "dialogs/dlgNetEnum.h"

#include "core/texts.h"
#include "core/worker.h"
#include "net/threadNetEnumEx.h"
#include "ui/fontScale.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr int RowHeight = 26;
constexpr int ImageSize = 24;

// Fixed row height and no focus rectangle: the rows read as a list of computers, not of cells.
class TNetItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(RowHeight);
        return size;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem plain(option);
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
    }
};

// A small monitor on a network line: the one picture every node shows.
QPixmap DrawNetImage(qreal scale)
{
    const int side = qRound(ImageSize * scale);
    QPixmap pixmap(side, side);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // Network line with a drop to the computer.
    p.setPen(QPen(QColor(0x3a, 0x6e, 0x3a), 1.6));
    p.drawLine(QPointF(2, 22), QPointF(22, 22));
    p.drawLine(QPointF(12, 18), QPointF(12, 22));
    p.setBrush(QColor(0x5c, 0xa8, 0x5c));
    p.drawEllipse(QPointF(12, 22), 1.6, 1.6);

    // Stand.
    p.setPen(QPen(QColor(0x55, 0x5b, 0x66), 1.0));
    p.setBrush(QColor(0xa9, 0xb0, 0xbb));
    QPainterPath stand;
    stand.moveTo(9.5, 15.5);
    stand.lineTo(14.5, 15.5);
    stand.lineTo(16, 18.5);
    stand.lineTo(8, 18.5);
    stand.closeSubpath();
    p.drawPath(stand);

    // Case.
    QLinearGradient caseGradient(QPointF(0, 2), QPointF(0, 16));
    caseGradient.setColorAt(0, QColor(0xe4, 0xe7, 0xec));
    caseGradient.setColorAt(1, QColor(0xb4, 0xba, 0xc4));
    p.setBrush(caseGradient);
    p.setPen(QPen(QColor(0x4a, 0x50, 0x5a), 1.0));
    p.drawRoundedRect(QRectF(2.5, 2.5, 19, 13.5), 1.8, 1.8);

    // Screen.
    QLinearGradient screenGradient(QPointF(4, 4), QPointF(20, 14));
    screenGradient.setColorAt(0, QColor(0x4f, 0x9c, 0xe8));
    screenGradient.setColorAt(1, QColor(0x1d, 0x4f, 0x9a));
    p.setBrush(screenGradient);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(4.5, 4.5, 15, 9.5));

    // Highlight across the screen.
    p.setBrush(QColor(255, 255, 255, 70));
    QPainterPath glare;
    glare.moveTo(4.5, 4.5);
    glare.lineTo(13, 4.5);
    glare.lineTo(4.5, 10.5);
    glare.closeSubpath();
    p.drawPath(glare);
    return pixmap;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------

TNetTreeModel::TNetTreeModel(QObject* parent) : QAbstractItemModel(parent), FImage(TfrmNetEnum::NetImage())
{
}

TNetTreeModel::~TNetTreeModel() = default;

TNetTreeModel::TNode* TNetTreeModel::NodeOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return const_cast<TNode*>(&FRoot);
    return static_cast<TNode*>(index.internalPointer());
}

void* TNetTreeModel::AddEntry(void* parentNode, std::unique_ptr<TNetEntry> entry)
{
    if (!entry)
        return nullptr;
    TNode* parent = parentNode ? static_cast<TNode*>(parentNode) : &FRoot;
    const int row = static_cast<int>(parent->Children.size());
    beginInsertRows(parent == &FRoot ? QModelIndex() : createIndex(parent->Row, 0, parent), row, row);
    auto node = std::make_unique<TNode>();
    node->Entry = std::move(entry);
    node->Parent = parent;
    node->Row = row;
    TNode* added = node.get();
    parent->Children.push_back(std::move(node));
    endInsertRows();
    return added;
}

const TNetEntry* TNetTreeModel::Entry(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return NodeOf(index)->Entry.get();
}

QModelIndex TNetTreeModel::IndexOfNode(void* node) const
{
    if (!node)
        return {};
    auto* n = static_cast<TNode*>(node);
    return createIndex(n->Row, 0, n);
}

QModelIndex TNetTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column >= ColumnCount || row < 0)
        return {};
    TNode* p = NodeOf(parent);
    if (row >= static_cast<int>(p->Children.size()))
        return {};
    return createIndex(row, column, p->Children[static_cast<size_t>(row)].get());
}

QModelIndex TNetTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    TNode* p = NodeOf(child)->Parent;
    if (!p || p == &FRoot)
        return {};
    return createIndex(p->Row, 0, p);
}

int TNetTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return static_cast<int>(NodeOf(parent)->Children.size());
}

int TNetTreeModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant TNetTreeModel::data(const QModelIndex& index, int role) const
{
    const TNetEntry* entry = Entry(index);
    if (!entry)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: // the hint shows the same text as the cell
        return index.column() == colComputers ? entry->RemoteName : entry->Comment;
    case Qt::DecorationRole:
        if (index.column() == colComputers)
            return FImage;
        return {};
    default:
        return {};
    }
}

QVariant TNetTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    if (section == colComputers)
        return Res::Str(Res::NetEnumComputers);
    if (section == colComments)
        return Res::Str(Res::NetEnumComments);
    return {};
}

// ---------------------------------------------------------------------------------------------------------

QIcon TfrmNetEnum::NetImage()
{
    QIcon icon;
    icon.addPixmap(DrawNetImage(1.0));
    icon.addPixmap(DrawNetImage(2.0));
    return icon;
}

TfrmNetEnum::TfrmNetEnum(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmNetEnum"));
    setWindowTitle(Res::Str(Res::NetEnumCaption));
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    // Fixed dialog border, close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(363, 311);

    FModel = new TNetTreeModel(this);

    vtNet = new QTreeView(this);
    vtNet->setObjectName(QStringLiteral("vtNet"));
    vtNet->setModel(FModel);
    vtNet->setItemDelegate(new TNetItemDelegate(vtNet));
    vtNet->setUniformRowHeights(true);
    vtNet->setRootIsDecorated(true);
    vtNet->setSelectionMode(QAbstractItemView::ExtendedSelection);
    vtNet->setSelectionBehavior(QAbstractItemView::SelectRows);
    vtNet->setIconSize(QSize(ImageSize, ImageSize));
    vtNet->setAllColumnsShowFocus(true);
    vtNet->setEditTriggers(QAbstractItemView::NoEditTriggers);
    vtNet->setTextElideMode(Qt::ElideRight);
    QHeaderView* header = vtNet->header();
    header->setVisible(true);
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    header->resizeSection(TNetTreeModel::colComputers, 191);
    header->resizeSection(TNetTreeModel::colComments, 150);
    // The first column takes whatever width the others leave.
    header->setSectionResizeMode(TNetTreeModel::colComputers, QHeaderView::Stretch);
    header->setSectionResizeMode(TNetTreeModel::colComments, QHeaderView::Interactive);

    btnCancel = new QPushButton(Res::Str(Res::NetEnumCancel), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    btnSelect = new QPushButton(Res::Str(Res::NetEnumSelect), this);
    btnSelect->setObjectName(QStringLiteral("btnSelect"));
    btnSelect->setDefault(true);
    // QDialog maps Escape to reject(): the Cancel button's result.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnSelect, &QPushButton::clicked, this, &TfrmNetEnum::btnSelectClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnSelect);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);
    layout->addWidget(vtNet, 1);
    layout->addLayout(buttons);

    setTabOrder(vtNet, btnCancel);
    setTabOrder(btnCancel, btnSelect);

    // A label over the tree's empty area, not a row: it can never be selected or returned.
    FEmptyNotice = new QLabel(vtNet->viewport());
    FEmptyNotice->setObjectName(QStringLiteral("lbEmptyNotice"));
    FEmptyNotice->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    FEmptyNotice->setWordWrap(true);
    FEmptyNotice->setAttribute(Qt::WA_TransparentForMouseEvents);
    FEmptyNotice->setForegroundRole(QPalette::PlaceholderText);
    auto* noticeLayout = new QVBoxLayout(vtNet->viewport());
    noticeLayout->setContentsMargins(8, 16, 8, 8);
    noticeLayout->addWidget(FEmptyNotice);
    noticeLayout->addStretch(1);
    connect(FModel, &QAbstractItemModel::rowsInserted, this, &TfrmNetEnum::UpdateEmptyNotice);
    UpdateEmptyNotice();
    ScaleToFont(this);
}

QString TfrmNetEnum::EmptyNotice() const
{
    return FEmptyNotice->isVisibleTo(vtNet) ? FEmptyNotice->text() : QString();
}

void TfrmNetEnum::UpdateEmptyNotice()
{
    const bool searching = FNetEnum || FNetEnumEx;
    const bool empty = FModel->rowCount() == 0;
    FEmptyNotice->setText(Res::Str(searching ? Res::NetEnumSearching : Res::NetEnumNoneFound));
    FEmptyNotice->setVisible(empty && (searching || FSearched));
}

TfrmNetEnum::~TfrmNetEnum()
{
    FormDestroy();
}

void TfrmNetEnum::FormDestroy()
{
    StopBrowsing();
}

void TfrmNetEnum::StartBrowsing()
{
    if (ListServers) {
        if (FNetEnumEx)
            return;
        FNetEnumEx = new TNetEnumThreadEx(QString());
        FNetEnumEx->SetOnTerminate([this](TWorkerThread* sender) { NetEnumExTerminate(sender); });
        FNetEnumEx->Start();
    } else {
        if (FNetEnum)
            return;
        FNetEnum = new TNetEnumThread(FModel);
        // The walk has no completion handler; that it freed itself tells that it ended.
        connect(FNetEnum, &QObject::destroyed, this, &TfrmNetEnum::UpdateEmptyNotice, Qt::QueuedConnection);
    }
    FSearched = true;
    UpdateEmptyNotice();
}

void TfrmNetEnum::StopBrowsing()
{
    if (FNetEnum) {
        FNetEnum->Detach();
        FNetEnum->AskToStop();
        FNetEnum = nullptr;
    }
    if (FNetEnumEx) {
        // The dialog owns this worker but must not wait for it: once detached it frees itself when its
        // run ends (its finish is always handled later on the main thread, never before this point).
        FNetEnumEx->Detach();
        FNetEnumEx->SetFreeOnTerminate(true);
        FNetEnumEx->AskToStop();
        FNetEnumEx = nullptr;
    }
}

void TfrmNetEnum::ProcessSelection()
{
    StopBrowsing();
}

void TfrmNetEnum::NetEnumExTerminate(TWorkerThread* sender)
{
    auto* worker = dynamic_cast<TNetEnumThreadEx*>(sender);
    if (!worker)
        return;
    if (worker == FNetEnumEx)
        FNetEnumEx = nullptr;
    // The finished worker is still ours to free; its list is read before that.
    worker->deleteLater();
    AddServers(worker->Servers());
    UpdateEmptyNotice();
}

void TfrmNetEnum::AddServers(const QStringList& lines)
{
    for (const QString& line : lines) {
        auto entry = std::make_unique<TNetEntry>();
        const qsizetype split = line.indexOf(QLatin1Char('='));
        entry->RemoteName = split < 0 ? line : line.left(split);
        entry->Comment = split < 0 ? QString() : line.mid(split + 1);
        entry->EntryKind = nekServer;
        FModel->AddEntry(nullptr, std::move(entry));
    }
}

const TNetEntry* TfrmNetEnum::SelectedEntry() const
{
    const QItemSelectionModel* selection = vtNet->selectionModel();
    if (!selection || !selection->hasSelection())
        return nullptr;
    // Depth-first over the tree: the first selected row met is the first in tree order, whatever order
    // the rows were selected in.
    std::vector<QModelIndex> pending{QModelIndex()};
    while (!pending.empty()) {
        const QModelIndex parent = pending.back();
        pending.pop_back();
        const int rows = FModel->rowCount(parent);
        for (int row = rows - 1; row >= 0; --row)
            pending.push_back(FModel->index(row, 0, parent));
        if (parent.isValid() && selection->isSelected(parent))
            return FModel->Entry(parent);
    }
    return nullptr;
}

void TfrmNetEnum::btnSelectClick()
{
    ProcessSelection();
    accept();
}
