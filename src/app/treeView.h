// TComputerTreeView, the main window's computer tree, and the delegate that draws its cells.
#pragma once

#include <QStyledItemDelegate>
#include <QTreeView>

class QRubberBand;

// The look of the computer tree's cells: fixed row height, grid lines, no focus rectangle.
class TTreeCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 26;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// A flat list of rows with columns: whole-row extended selection, a translucent rubber band while the
// mouse drags over rows, and the first column taking up the spare width when the view is resized
// (never less than its minimum; the same view width always gives the same columns). Enter, Alt+Enter
// and a double-click on a row ask for the row's properties; Shift+F10 and the Menu key ask for the
// context menu at the current row.
class TComputerTreeView : public QTreeView
{
    Q_OBJECT

public:
    static constexpr int MinFirstColumnWidth = 60;

    explicit TComputerTreeView(QWidget* parent = nullptr);
    void setModel(QAbstractItemModel* model) override;

    // The selected rows in tree order.
    QList<int> SelectedRows() const;

signals:
    // A mouse click in the tree (press and release of a button).
    void Clicked();
    // Enter, Alt+Enter or a double-click on a row.
    void PropertiesRequested();
    // "/": the user wants to type a filter.
    void FilterRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

public:
    // Gives the first column the width the others leave, at least the least width set (by default
    // MinFirstColumnWidth); when the others leave less, the list scrolls sideways.
    void FitFirstColumn();
    void SetLeastFirstColumnWidth(int width) { FLeastFirstColumnWidth = width; }

private:
    void SelectCurrentRow();

    QRubberBand* FRubberBand = nullptr;
    QPoint FOrigin; // in content coordinates, so scrolling during the drag keeps it anchored
    bool FDragging = false;
    int FLeastFirstColumnWidth = MinFirstColumnWidth;
};
