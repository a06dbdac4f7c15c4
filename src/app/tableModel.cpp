#include "app/tableModel.h"

#include "core/dateTime.h"
#include "core/texts.h"
#include "model/computers.h"
#include "net/hostResolve.h"
#include "net/relayHub.h"

#include <algorithm>
#include <cmath>
#include <QCollator>
#include <QLocale>
#include <unordered_map>
#include <unordered_set>

namespace {

// The relay that serves the computer: for an address, the route as it stands; for a host name, the relay of
// its last check (the name is not looked up while the tree paints).
QString RelayOf(const TComputer& computer)
{
    if (quint32 address = 0; ParseIPv4Literal(computer.IPAddress, &address))
        return RelaysConfigured() ? RelayNameFor(address) : QString();
    return computer.RelayName;
}

// What a column sorts by when it sorts by number: an address (names after every address), the date of the
// last check (never checked first), online before offline.
double SortNumber(const TComputer& computer, int column)
{
    switch (column) {
    case TComputerTableModel::colIP: {
        quint32 address = 0;
        return ParseIPv4Literal(computer.IPAddress, &address) ? double(address) : 4294967296.0;
    }
    case TComputerTableModel::colLastChecked:
        return std::isfinite(computer.LastPingDate) ? computer.LastPingDate : 0.0;
    case TComputerTableModel::colStatus:
        return computer.Online ? 0.0 : 1.0;
    default:
        return 0.0;
    }
}

// The text of a column for a computer.
QString ColumnText(const TComputer& computer, int column)
{
    using M = TComputerTableModel;
    switch (column) {
    case M::colName:
        return computer.Name();
    case M::colMAC: {
        const TMACAddresses* adapters = computer.MACAddresses();
        return adapters && adapters->Count() > 0 ? adapters->Items(0)->Address : QString();
    }
    case M::colIP:
        return computer.IPAddress;
    case M::colStatus: {
        const QString state = Res::Str(computer.Online ? Res::ListOnline : Res::ListOffline);
        return computer.LastPingReply.isEmpty()
                   ? state
                   : Res::Str(computer.Online ? Res::ListOnlineReply : Res::ListOfflineReply)
                         .arg(computer.LastPingReply);
    }
    case M::colLastChecked: {
        if (computer.LastPingDate == 0)
            return {};
        const QDateTime when = DateTimeToQDateTime(computer.LastPingDate);
        return when.isValid() ? M::DateText(when) : QString();
    }
    case M::colRelay:
        return RelayOf(computer);
    case M::colSchedule:
        return computer.Schedule().UseSchedule ? ScheduleToStr(computer.Schedule()) : QString();
    case M::colComments: {
        // One line: the row is one line high.
        QString comments = computer.Comments;
        return comments.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(u'\n', u' ');
    }
    default:
        return {};
    }
}

bool SortsByNumber(int column)
{
    return column == TComputerTableModel::colIP || column == TComputerTableModel::colLastChecked ||
           column == TComputerTableModel::colStatus;
}

} // namespace

QString TComputerTableModel::DateText(const QDateTime& when)
{
    // The locale's short form, with the year's four digits.
    const QLocale locale;
    QString format = locale.dateTimeFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return locale.toString(when, format);
}

TComputerTableModel::TComputerTableModel(std::function<TGroup*()> root, QObject* parent)
    : QAbstractTableModel(parent), FRoot(std::move(root))
{
}

TComputerTableModel::~TComputerTableModel() = default;

void TComputerTableModel::SetImages(const QIcon& online, const QIcon& offline, const QIcon& otherMac)
{
    FImages[imgOnline] = online;
    FImages[imgOffline] = offline;
    FImages[imgOtherMac] = otherMac.isNull() ? online : otherMac;
}

int TComputerTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FShown.size());
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
    case colStatus:
        return Res::Str(Res::MainColStatus);
    case colLastChecked:
        return Res::Str(Res::MainColLastChecked);
    case colRelay:
        return Res::Str(Res::MainColRelay);
    case colSchedule:
        return Res::Str(Res::MainColSchedule);
    case colComments:
        return Res::Str(Res::MainColComments);
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
    return FShown[static_cast<size_t>(row)];
}

int TComputerTableModel::RowOf(const TTreeEntry* entry) const
{
    for (size_t i = 0; i < FShown.size(); ++i)
        if (FShown[i] == entry)
            return static_cast<int>(i);
    return -1;
}

TComputer* TComputerTableModel::FindComputer(const TTreeEntry& entry) const
{
    TGroup* root = FRoot ? FRoot() : nullptr;
    if (!root)
        return nullptr;
    // Generations are never reused, so another root group's collection never matches.
    if (const quint64 generation = root->Computers()->Generation(); generation != FLookupGeneration) {
        for (const auto& item : FEntries)
            item->Found = nullptr;
        FLookupGeneration = generation;
    }
    if (!entry.Found)
        entry.Found = root->FindComputer(entry.ItemID);
    return entry.Found;
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
    const size_t first = FEntries.size();
    for (const QString& id : itemIDs)
        FEntries.push_back(std::make_unique<TTreeEntry>(TTreeEntry{id, nullptr}));
    // The new rows the filter keeps come in at the end, then take their places by the sort.
    std::vector<TTreeEntry*> added;
    for (size_t i = first; i < FEntries.size(); ++i) {
        const TComputer* computer = FindComputer(*FEntries[i]);
        if (FFilter.IsEmpty() || (computer && FFilter.Matches(*computer)))
            added.push_back(FEntries[i].get());
    }
    if (!added.empty()) {
        const int row = rowCount();
        beginInsertRows({}, row, row + static_cast<int>(added.size()) - 1);
        FShown.insert(FShown.end(), added.begin(), added.end());
        endInsertRows();
    }
    Sort();
}

void TComputerTableModel::RemoveEntry(const TTreeEntry* entry)
{
    RemoveEntries({entry});
}

void TComputerTableModel::RemoveEntries(const std::vector<const TTreeEntry*>& entries)
{
    std::unordered_set<const TTreeEntry*> gone(entries.begin(), entries.end());
    // Hidden rows go too. The rows leave the whole list first, so the count of all rows is right when the
    // view hears of it; they are freed when the view is done with them.
    std::vector<std::unique_ptr<TTreeEntry>> leaving;
    for (auto& entry : FEntries)
        if (gone.count(entry.get()))
            leaving.push_back(std::move(entry));
    std::erase(FEntries, nullptr);
    // From the bottom up, one run of neighbouring rows at a time, so the rows above keep their numbers.
    int row = rowCount() - 1;
    while (row >= 0) {
        if (!gone.count(FShown[static_cast<size_t>(row)])) {
            --row;
            continue;
        }
        const int last = row;
        while (row > 0 && gone.count(FShown[static_cast<size_t>(row - 1)]))
            --row;
        beginRemoveRows({}, row, last);
        FShown.erase(FShown.begin() + row, FShown.begin() + last + 1);
        endRemoveRows();
        --row;
    }
}

void TComputerTableModel::Clear()
{
    beginResetModel();
    FShown.clear();
    FEntries.clear();
    endResetModel();
}

QString TComputerTableModel::CellText(int row, int column) const
{
    const TComputer* computer = Computer(row);
    return computer ? ColumnText(*computer, column) : QString();
}

int TComputerTableModel::ImageIndex(int row) const
{
    const TComputer* computer = Computer(row);
    if (!computer || !computer->Online)
        return imgOffline;
    // The warning seen at a glance, not only in the hint.
    return computer->IdentityWarning.isEmpty() ? imgOnline : imgOtherMac;
}

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
    // Up, but only a TCP port shows it: ping alone would call it offline.
    if (computer->Online && computer->AnsweredByTcp)
        lines << Res::Str(Res::HintTcpOnly).arg(computer->LastPingReply);
    if (!computer->WakeOutcome.isEmpty())
        lines << Res::Str(Res::StatusAt)
                     .arg(computer->WakeOutcome,
                          QLocale().toString(computer->WakeOutcomeAt.time(), QLocale::ShortFormat));
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

void TComputerTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    FSortColumn = column;
    FSortOrder = order;
    Sort();
}

void TComputerTableModel::SetFilter(const QString& text)
{
    TListFilter next(text);
    if (next.Text() == FFilter.Text())
        return;
    // Typing on narrows what is shown: only the shown rows need a look.
    const bool narrowing = next.Narrows(FFilter);
    FFilter = std::move(next);
    SetShown(Kept(narrowing));
}

std::vector<TTreeEntry*> TComputerTableModel::Kept(bool fromShown) const
{
    std::vector<TTreeEntry*> kept;
    kept.reserve(fromShown ? FShown.size() : FEntries.size());
    auto keep = [&](TTreeEntry* entry) {
        if (FFilter.IsEmpty()) {
            kept.push_back(entry);
            return;
        }
        // A row without a computer has no text to hold the filter's.
        if (const TComputer* computer = FindComputer(*entry); computer && FFilter.Matches(*computer))
            kept.push_back(entry);
    };
    if (fromShown)
        std::for_each(FShown.begin(), FShown.end(), keep);
    else
        for (const auto& entry : FEntries)
            keep(entry.get());
    return kept;
}

void TComputerTableModel::SetShown(std::vector<TTreeEntry*> shown)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    std::vector<std::pair<const TTreeEntry*, int>> remembered;
    remembered.reserve(static_cast<size_t>(persistent.size()));
    for (const QModelIndex& index : persistent)
        remembered.emplace_back(Entry(index.row()), index.column());
    FShown = std::move(shown);

    // Only the remembered rows are looked up: usually a handful, however many rows there are. A hidden
    // row's index becomes invalid, so it leaves the selection.
    std::unordered_map<const TTreeEntry*, int> rows;
    if (!remembered.empty()) {
        rows.reserve(remembered.size());
        for (const auto& item : remembered)
            rows.emplace(item.first, -1);
        for (size_t i = 0; i < FShown.size(); ++i)
            if (auto it = rows.find(FShown[i]); it != rows.end())
                it->second = static_cast<int>(i);
    }
    QModelIndexList to;
    to.reserve(persistent.size());
    for (const auto& [entry, column] : remembered) {
        const int row = rows.at(entry);
        to.append(row < 0 ? QModelIndex() : index(row, column));
    }
    changePersistentIndexList(persistent, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TComputerTableModel::Sort()
{
    // The rows are ordered among themselves, hidden ones too, then the filter picks the shown ones in that
    // order.
    if (FEntries.size() >= 2) {
        // One sort key per row, made once: comparing keys orders as the collator does, without redoing its
        // work for every comparison. In the C locale the collator compares case-folded text, which its own
        // keys do not, so the folded texts are the keys there. Rows without a computer sort as equal to
        // everything, so they are kept out of the comparison and keep their places. Equal keys keep their
        // order, so a second column sorts within the first.
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        const bool numeric = SortsByNumber(FSortColumn);
        const bool folded = collator.locale().language() == QLocale::C;
        std::vector<size_t> positions;
        std::vector<QCollatorSortKey> keys;
        std::vector<QString> foldedTexts;
        std::vector<double> numbers;
        positions.reserve(FEntries.size());
        for (size_t i = 0; i < FEntries.size(); ++i) {
            const TComputer* computer = FindComputer(*FEntries[i]);
            if (!computer)
                continue;
            positions.push_back(i);
            if (numeric) {
                numbers.push_back(SortNumber(*computer, FSortColumn));
                continue;
            }
            const QString text =
                FSortColumn == colName ? computer->Name() : ColumnText(*computer, FSortColumn);
            if (folded)
                foldedTexts.push_back(text.toCaseFolded());
            else
                keys.push_back(collator.sortKey(text));
        }
        std::vector<size_t> order(positions.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        auto less = [&](size_t a, size_t b) {
            if (numeric)
                return numbers[a] < numbers[b];
            if (folded)
                return foldedTexts[a] < foldedTexts[b];
            return keys[a].compare(keys[b]) < 0;
        };
        if (FSortOrder == Qt::AscendingOrder)
            std::stable_sort(order.begin(), order.end(), less);
        else
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return less(b, a); });
        std::vector<std::unique_ptr<TTreeEntry>> moved(order.size());
        for (size_t i = 0; i < order.size(); ++i)
            moved[i] = std::move(FEntries[positions[order[i]]]);
        for (size_t i = 0; i < order.size(); ++i)
            FEntries[positions[i]] = std::move(moved[i]);
    }
    SetShown(Kept(false));
}
