#include "app/tableModel.h"

#include "core/texts.h"
#include "model/computers.h"
#include "net/hostResolve.h"
#include "net/relayHub.h"

#include <algorithm>
#include <QCollator>
#include <unordered_map>
#include <unordered_set>

TComputerTableModel::TComputerTableModel(std::function<TGroup*()> root, QObject* parent)
    : QAbstractTableModel(parent), FRoot(std::move(root))
{
}

TComputerTableModel::~TComputerTableModel() = default;

void TComputerTableModel::SetImages(const QIcon& online, const QIcon& offline)
{
    FImages[imgOnline] = online;
    FImages[imgOffline] = offline;
}

int TComputerTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FEntries.size());
}

int TComputerTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TComputerTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return CellText(index.row(), index.column());
    case Qt::DecorationRole:
        if (index.column() == colName)
            return FImages[ImageIndex(index.row())];
        return {};
    case Qt::ToolTipRole: {
        // The tool tip shows the lines; a carriage return would show as a glyph of its own.
        QString hint = Hint(index.row());
        return hint.isEmpty() ? QVariant()
                              : QVariant(hint.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
    case HintRole:
        return Hint(index.row());
    default:
        return {};
    }
}

QVariant TComputerTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case colName:
        return Res::Str(Res::MainColName);
    case colMAC:
        return Res::Str(Res::MainColMAC);
    case colIP:
        return Res::Str(Res::MainColIP);
    default:
        return {};
    }
}

Qt::ItemFlags TComputerTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

const TTreeEntry* TComputerTableModel::Entry(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return FEntries[static_cast<size_t>(row)].get();
}

int TComputerTableModel::RowOf(const TTreeEntry* entry) const
{
    for (size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i].get() == entry)
            return static_cast<int>(i);
    return -1;
}

TComputer* TComputerTableModel::FindComputer(const TTreeEntry& entry) const
{
    TGroup* root = FRoot ? FRoot() : nullptr;
    return root ? root->FindComputer(entry.ItemID) : nullptr;
}

TComputer* TComputerTableModel::Computer(int row) const
{
    const TTreeEntry* entry = Entry(row);
    return entry ? FindComputer(*entry) : nullptr;
}

void TComputerTableModel::AddEntry(const QString& itemID)
{
    AddEntries({itemID});
}

void TComputerTableModel::AddEntries(const QStringList& itemIDs)
{
    if (itemIDs.isEmpty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(itemIDs.size()) - 1);
    for (const QString& id : itemIDs)
        FEntries.push_back(std::make_unique<TTreeEntry>(TTreeEntry{id}));
    endInsertRows();
    Sort();
}

void TComputerTableModel::RemoveEntry(const TTreeEntry* entry)
{
    const int row = RowOf(entry);
    if (row < 0)
        return;
    beginRemoveRows({}, row, row);
    FEntries.erase(FEntries.begin() + row);
    endRemoveRows();
}

void TComputerTableModel::RemoveEntries(const std::vector<const TTreeEntry*>& entries)
{
    std::unordered_set<const TTreeEntry*> gone(entries.begin(), entries.end());
    // From the bottom up, one run of neighbouring rows at a time, so the rows above keep their numbers.
    int row = rowCount() - 1;
    while (row >= 0) {
        if (!gone.count(FEntries[static_cast<size_t>(row)].get())) {
            --row;
            continue;
        }
        const int last = row;
        while (row > 0 && gone.count(FEntries[static_cast<size_t>(row - 1)].get()))
            --row;
        beginRemoveRows({}, row, last);
        FEntries.erase(FEntries.begin() + row, FEntries.begin() + last + 1);
        endRemoveRows();
        --row;
    }
}

void TComputerTableModel::Clear()
{
    beginResetModel();
    FEntries.clear();
    endResetModel();
}

QString TComputerTableModel::CellText(int row, int column) const
{
    const TComputer* computer = Computer(row);
    if (!computer)
        return {};
    switch (column) {
    case colName:
        return computer->Name();
    case colMAC: {
        const TMACAddresses* adapters = computer->MACAddresses();
        return adapters && adapters->Count() > 0 ? adapters->Items(0)->Address : QString();
    }
    case colIP:
        return computer->IPAddress;
    default:
        return {};
    }
}

int TComputerTableModel::ImageIndex(int row) const
{
    const TComputer* computer = Computer(row);
    return computer && computer->Online ? imgOnline : imgOffline;
}

namespace {

// The relay that serves the computer: for an address, the route as it stands; for a host name, the relay of
// its last check (the name is not looked up while the tree paints).
QString RelayOf(const TComputer& computer)
{
    if (quint32 address = 0; ParseIPv4Literal(computer.IPAddress, &address))
        return RelaysConfigured() ? RelayNameFor(address) : QString();
    return computer.RelayName;
}

} // namespace

QString TComputerTableModel::Hint(int row) const
{
    const TComputer* computer = Computer(row);
    if (!computer)
        return {};
    QStringList lines;
    lines << computer->Name() + Res::Str(computer->Online ? Res::HintOnline : Res::HintOffline);
    lines << Res::Str(Res::HintIPAddress).arg(computer->IPAddress);
    const TMACAddresses* adapters = computer->MACAddresses();
    if (adapters && adapters->Count() > 0)
        lines << Res::Str(Res::HintMACAddress).arg(adapters->Items(0)->Address);
    // Why it is shown as it is: the last check's reply for one that is not online ("Timed out", or that no
    // check can run at all), a warning for one that answers from another machine's hardware address.
    if (const QString relay = RelayOf(*computer); !relay.isEmpty())
        lines << Res::Str(Res::RelayHint).arg(relay);
    if (!computer->Online && !computer->LastPingReply.isEmpty())
        lines << computer->LastPingReply;
    else if (computer->Online && !computer->IdentityWarning.isEmpty())
        lines << computer->IdentityWarning;
    if (computer->Schedule().UseSchedule)
        lines << Res::Str(Res::HintSchedule).arg(ScheduleToStr(computer->Schedule()));
    if (!computer->Comments.isEmpty()) {
        lines << QString();
        lines << Res::Str(Res::HintComments).arg(computer->Comments);
    }
    return lines.join(QStringLiteral("\r\n"));
}

int TComputerTableModel::Compare(const TTreeEntry& a, const TTreeEntry& b) const
{
    const TComputer* first = FindComputer(a);
    const TComputer* second = FindComputer(b);
    if (!first || !second)
        return 0;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator.compare(first->Name(), second->Name());
}

void TComputerTableModel::Sort()
{
    if (FEntries.size() < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    std::vector<std::pair<const TTreeEntry*, int>> remembered;
    remembered.reserve(static_cast<size_t>(persistent.size()));
    for (const QModelIndex& index : persistent)
        remembered.emplace_back(Entry(index.row()), index.column());

    // One sort key per row, made once: comparing keys orders as the collator does, without redoing its
    // work for every comparison. In the C locale the collator compares case-folded text, which its own
    // keys do not, so the folded names are the keys there. Rows without a computer sort as equal to
    // everything, so they are kept out of the comparison and keep their places.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const bool folded = collator.locale().language() == QLocale::C;
    std::vector<size_t> positions;
    std::vector<QCollatorSortKey> keys;
    std::vector<QString> foldedNames;
    positions.reserve(FEntries.size());
    for (size_t i = 0; i < FEntries.size(); ++i) {
        if (const TComputer* computer = FindComputer(*FEntries[i])) {
            positions.push_back(i);
            if (folded)
                foldedNames.push_back(computer->Name().toCaseFolded());
            else
                keys.push_back(collator.sortKey(computer->Name()));
        }
    }
    std::vector<size_t> order(positions.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    if (folded)
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return foldedNames[a] < foldedNames[b]; });
    else
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<std::unique_ptr<TTreeEntry>> moved(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        moved[i] = std::move(FEntries[positions[order[i]]]);
    for (size_t i = 0; i < order.size(); ++i)
        FEntries[positions[i]] = std::move(moved[i]);

    std::unordered_map<const TTreeEntry*, int> rows;
    if (!remembered.empty()) {
        rows.reserve(FEntries.size());
        for (size_t i = 0; i < FEntries.size(); ++i)
            rows.emplace(FEntries[i].get(), static_cast<int>(i));
    }
    QModelIndexList to;
    to.reserve(persistent.size());
    for (const auto& [entry, column] : remembered)
        to.append(index(rows.at(entry), column));
    changePersistentIndexList(persistent, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
