// TComputerTableModel: the flat table behind the main window's computer list (VST); a row holds only the
// ItemID of its computer.
#pragma once

#include "app/listFilter.h"

#include <functional>
#include <memory>
#include <QAbstractTableModel>
#include <QDateTime>
#include <QIcon>
#include <vector>

class TComputer;
class TGroup;

// What a row of the computer tree holds: the identifier of the computer it shows, and the computer that
// identifier last led to, kept only while the collection has not changed since (see FLookupGeneration).
struct TTreeEntry
{
    QString ItemID;
    mutable TComputer* Found = nullptr;
};

// The rows of the main window's computer tree. Every text, image and hint is fetched from the root
// group when the view asks for it, so the tree never shows a stale copy of the data. Rows are kept in
// the order of the sort column (the names, ascending, unless the user clicks another header) and re-sorted
// only when a row is added or the order is changed. A filter hides the rows whose computers it does not
// keep: the model's rows are the shown ones, the hidden ones wait beside them.
class TComputerTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum TColumn
    {
        colName,
        colMAC,
        colIP,
        // Shown when the user adds them from the header's menu.
        colStatus,
        colLastChecked,
        colRelay,
        colSchedule,
        colComments,
        ColumnCount
    };
    enum TImage
    {
        imgOnline = 0,
        imgOffline = 1,
        imgOtherMac = 2, // online, answering from a MAC address none of the stored ones
    };
    // The hint exactly as built (lines joined by carriage return and line feed).
    static constexpr int HintRole = Qt::UserRole + 1;

    // root gives the current root group (null when there is none).
    explicit TComputerTableModel(std::function<TGroup*()> root, QObject* parent = nullptr);
    ~TComputerTableModel() override;

    void SetImages(const QIcon& online, const QIcon& offline, const QIcon& otherMac = {});

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Orders the rows by that column from now on (a header click).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    const TTreeEntry* Entry(int row) const;
    int RowOf(const TTreeEntry* entry) const;
    // The row's computer; null when there is no root group or no computer with the row's ItemID.
    TComputer* Computer(int row) const;

    // Adds a row for the computer, then re-sorts.
    void AddEntry(const QString& itemID);
    // Adds rows in the given order and sorts once: the same order as adding them one by one.
    void AddEntries(const QStringList& itemIDs);
    void RemoveEntry(const TTreeEntry* entry);
    // Removes these rows (those still there) in one pass.
    void RemoveEntries(const std::vector<const TTreeEntry*>& entries);
    void Clear();

    // Shows only the rows whose computers the filter keeps; the selection keeps its shown rows.
    void SetFilter(const QString& text);
    const QString& FilterText() const { return FFilter.Text(); }
    // Every row, hidden ones included.
    int TotalCount() const { return static_cast<int>(FEntries.size()); }

    QString CellText(int row, int column) const;
    // A date and time as the Last checked column shows it.
    static QString DateText(const QDateTime& when);
    int ImageIndex(int row) const;
    QString Hint(int row) const;
    // Negative, zero or positive as the rows' computers' names compare, ignoring case, by the locale;
    // zero when either computer is missing.
    int Compare(const TTreeEntry& a, const TTreeEntry& b) const;

private:
    // The row's computer, looked up by its ItemID once for each state of the collection: the filter asks
    // for every row at each keystroke.
    TComputer* FindComputer(const TTreeEntry& entry) const;
    void Sort();
    // The rows the filter keeps, in the order of FEntries.
    std::vector<TTreeEntry*> Kept(bool fromShown) const;
    // Makes the rows those given, moving the view's remembered rows (selection, current row) along.
    void SetShown(std::vector<TTreeEntry*> shown);

    std::function<TGroup*()> FRoot;
    // Every row, in order; FShown the model's rows, a part of it in the same order.
    std::vector<std::unique_ptr<TTreeEntry>> FEntries;
    std::vector<TTreeEntry*> FShown;
    TListFilter FFilter;
    // The collection's generation for which the rows' Found pointers hold; 0 for none.
    mutable quint64 FLookupGeneration = 0;
    int FSortColumn = colName;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
    QIcon FImages[3];
};
