#include "app/treeView.h"

#include <algorithm>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QScrollBar>

void TTreeCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    QStyleOptionViewItem cell(option);
    cell.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, cell, index);

    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight).darker(110));
    const QRect r = option.rect;
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
}

QSize TTreeCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(RowHeight);
    return size;
}

TComputerTreeView::TComputerTreeView(QWidget* parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(24, 24));
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);
    setItemDelegate(new TTreeCellDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    FRubberBand = new QRubberBand(QRubberBand::Rectangle, viewport());
}

void TComputerTreeView::setModel(QAbstractItemModel* model)
{
    QTreeView::setModel(model);
    header()->setSectionResizeMode(QHeaderView::Interactive);
}

QList<int> TComputerTreeView::SelectedRows() const
{
    QList<int> rows;
    if (!selectionModel() || !model())
        return rows;
    // Read from the ranges: Qt's selectedRows asks each row of each range whether all of it is selected,
    // which takes a noticeable time once "Select all" spans tens of thousands of rows.
    const int lastColumn = model()->columnCount(rootIndex()) - 1;
    QList<int> partial;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        QList<int>& target = range.left() == 0 && range.right() == lastColumn ? rows : partial;
        for (int row = range.top(); row <= range.bottom(); ++row)
            target.append(row);
    }
    // A row can also be whole from pieces of several ranges.
    for (int row : std::as_const(partial))
        if (selectionModel()->isRowSelected(row, rootIndex()))
            rows.append(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TComputerTreeView::mousePressEvent(QMouseEvent* event)
{
    FDragging = false;
    if (event->button() == Qt::LeftButton)
        FOrigin = event->position().toPoint() + QPoint(horizontalOffset(), verticalOffset());
    QTreeView::mousePressEvent(event);
}

void TComputerTreeView::mouseMoveEvent(QMouseEvent* event)
{
    // The view itself selects the rows that the dragged rectangle touches; the band shows the rectangle.
    if (event->buttons() & Qt::LeftButton) {
        const QPoint origin = FOrigin - QPoint(horizontalOffset(), verticalOffset());
        const QPoint position = event->position().toPoint();
        if (FDragging || (position - origin).manhattanLength() >= QApplication::startDragDistance()) {
            FDragging = true;
            FRubberBand->setGeometry(QRect(origin, position).normalized());
            FRubberBand->show();
        }
    }
    QTreeView::mouseMoveEvent(event);
}

void TComputerTreeView::mouseReleaseEvent(QMouseEvent* event)
{
    FRubberBand->hide();
    FDragging = false;
    QTreeView::mouseReleaseEvent(event);
    emit Clicked();
}

void TComputerTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        emit PropertiesRequested();
}

void TComputerTreeView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
        (modifiers == Qt::NoModifier || modifiers == Qt::AltModifier)) {
        SelectCurrentRow();
        if (!SelectedRows().isEmpty())
            emit PropertiesRequested();
        event->accept();
        return;
    }
    if (key == Qt::Key_Slash && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
        emit FilterRequested();
        event->accept();
        return;
    }
    if ((key == Qt::Key_F10 && modifiers == Qt::ShiftModifier) ||
        (key == Qt::Key_Menu && modifiers == Qt::NoModifier)) {
        // At the current row, as a right click there would open it; the top left corner without one.
        SelectCurrentRow();
        QPoint position(0, 0);
        if (const QRect row = visualRect(currentIndex()); row.isValid())
            position = QPoint(std::max(row.left(), 0) + 8, row.center().y());
        emit customContextMenuRequested(position);
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TComputerTreeView::SelectCurrentRow()
{
    // The row with the keyboard focus is the one a key acts on, as a right click acts on the row under
    // the pointer; a selection that holds it stays as it is.
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !selectionModel() ||
        selectionModel()->isRowSelected(current.row(), current.parent()))
        return;
    selectionModel()->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TComputerTreeView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    FitFirstColumn();
}

void TComputerTreeView::FitFirstColumn()
{
    if (!model() || header()->count() < 1)
        return;
    // Taken from the view's width each time, never from the last change: a shrink that the minimum
    // held back must not be undone by more than it took when the window grows again.
    int others = 0;
    for (int i = 1; i < header()->count(); ++i)
        others += header()->sectionSize(i);
    header()->resizeSection(0, std::max(viewport()->width() - others, FLeastFirstColumnWidth));
}
