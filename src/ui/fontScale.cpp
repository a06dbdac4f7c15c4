#include "ui/fontScale.h"

#include <algorithm>
#include <cmath>
#include <QDialog>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace {

constexpr qreal DefaultPointSize = 9.0;

int Scaled(int value, qreal scale)
{
    return static_cast<int>(std::ceil(value * scale));
}

// A container the dialogs fill themselves: the dialog, its pages, frames and group boxes. The inner
// parts of composite controls (a combo box's list, a scroll area's bars) are placed by their owners and
// left alone.
bool OwnContainer(const QWidget* widget)
{
    const QMetaObject* kind = widget->metaObject();
    return qobject_cast<const QDialog*>(widget) || kind == &QWidget::staticMetaObject ||
           kind == &QFrame::staticMetaObject || kind == &QGroupBox::staticMetaObject;
}

void ScaleLayout(QLayout* layout, qreal scale)
{
    const QMargins m = layout->contentsMargins();
    layout->setContentsMargins(Scaled(m.left(), scale), Scaled(m.top(), scale), Scaled(m.right(), scale),
                               Scaled(m.bottom(), scale));
    if (layout->spacing() > 0)
        layout->setSpacing(Scaled(layout->spacing(), scale));
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QLayout* inner = item->layout())
            ScaleLayout(inner, scale);
        else if (QSpacerItem* spacer = item->spacerItem()) {
            // Fixed gaps grow with the text; stretches take what is left anyway.
            const QSize gap = spacer->sizeHint();
            const QSizePolicy policy = spacer->sizePolicy();
            if (spacer->expandingDirections() == Qt::Orientations() && (gap.width() > 0 || gap.height() > 0))
                spacer->changeSize(Scaled(gap.width(), scale), Scaled(gap.height(), scale),
                                   policy.horizontalPolicy(), policy.verticalPolicy());
        }
    }
    layout->invalidate();
}

void ScaleFixedSize(QWidget* widget, qreal scale)
{
    if (widget->minimumWidth() > 0 && widget->minimumWidth() == widget->maximumWidth())
        widget->setFixedWidth(Scaled(widget->minimumWidth(), scale));
    if (widget->minimumHeight() > 0 && widget->minimumHeight() == widget->maximumHeight())
        widget->setFixedHeight(Scaled(widget->minimumHeight(), scale));
}

} // namespace

qreal FontScale(const QFont& font)
{
    QFont reference(font);
    reference.setPointSizeF(DefaultPointSize);
    const QFontMetricsF now(font);
    const QFontMetricsF then(reference);
    const QString sample = QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789");
    const qreal height = now.height() / then.height();
    const qreal width = now.horizontalAdvance(sample) / then.horizontalAdvance(sample);
    return std::max<qreal>(1.0, std::max(height, width));
}

void ScaleToFont(QWidget* dialog)
{
    const qreal scale = FontScale(dialog->font());
    if (scale <= 1.0)
        return;
    const QList<QWidget*> children = dialog->findChildren<QWidget*>();
    for (QWidget* child : children) {
        const QWidget* parent = child->parentWidget();
        if (child->isWindow() || !parent || !OwnContainer(parent))
            continue;
        if (!parent->layout()) {
            // The edges are scaled, not the sizes, so controls that touched still touch and none overlaps
            // its neighbour by a rounded pixel.
            const QRect r = child->geometry();
            const int left = Scaled(r.x(), scale);
            const int top = Scaled(r.y(), scale);
            const QSize size(Scaled(r.x() + r.width(), scale) - left,
                             Scaled(r.y() + r.height(), scale) - top);
            if (child->minimumWidth() == child->maximumWidth())
                child->setFixedWidth(size.width());
            if (child->minimumHeight() == child->maximumHeight())
                child->setFixedHeight(size.height());
            child->setGeometry(QRect(QPoint(left, top), size));
        } else {
            ScaleFixedSize(child, scale);
        }
    }
    for (QWidget* child : children)
        if (!child->isWindow() && child->layout() && OwnContainer(child))
            ScaleLayout(child->layout(), scale);
    if (dialog->layout())
        ScaleLayout(dialog->layout(), scale);
    ScaleFixedSize(dialog, scale);
}

namespace {

// Moves the controls of a container placed by hand that lie past `at` by `by`, and stretches those that
// cross it (and theirs, when they are placed by hand too); along x or y.
void MakeRoom(QWidget* container, Qt::Orientation along, int at, int by)
{
    const bool x = along == Qt::Horizontal;
    for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow())
            continue;
        QRect r = child->geometry();
        const int start = x ? r.left() : r.top();
        const int end = start + (x ? r.width() : r.height());
        if (start >= at) {
            r.translate(x ? by : 0, x ? 0 : by);
        } else if (end > at) {
            (x ? r.setWidth(r.width() + by) : r.setHeight(r.height() + by));
            if (!child->layout())
                MakeRoom(child, along, at - start, by);
        } else {
            continue;
        }
        if (x && child->minimumWidth() == child->maximumWidth())
            child->setFixedWidth(r.width());
        if (!x && child->minimumHeight() == child->maximumHeight())
            child->setFixedHeight(r.height());
        child->setGeometry(r);
    }
}

} // namespace

void GrowDialog(QWidget* dialog, Qt::Orientation along, int at, int by)
{
    if (by <= 0)
        return;
    MakeRoom(dialog, along, at, by);
    QSize size = dialog->size();
    (along == Qt::Horizontal ? size.rwidth() : size.rheight()) += by;
    if (dialog->minimumSize() == dialog->maximumSize())
        dialog->setFixedSize(size);
    else
        dialog->resize(size);
}

QSize ScreenRoom(const QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    QSize frame = window->frameGeometry().size() - window->geometry().size();
    if (!window->isVisible() || frame.height() <= 0) {
        // A title bar holds a line of the title font; window managers scale theirs with the desktop's.
        const int title = std::max(window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window),
                                   QFontMetrics(window->font()).height() + 12);
        frame = QSize(2 * 4, title + 2 * 4);
    }
    return screen->availableGeometry().size() - frame;
}
