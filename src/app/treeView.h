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
// mouse drags over rows, and the first column taking up the spare width when the view is resized.
class TComputerTreeView : public QTreeView
{
    Q_OBJECT

public:
    explicit TComputerTreeView(QWidget* parent = nullptr);
    void setModel(QAbstractItemModel* model) override;

    // The selected rows in tree order.
    QList<int> SelectedRows() const;

signals:
    // A mouse click in the tree (press and release of a button).
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRubberBand* FRubberBand = nullptr;
    QPoint FOrigin; // in content coordinates, so scrolling during the drag keeps it anchored
    bool FDragging = false;
    int FLastWidth = -1;
};
