#include "ui/fontScale.h"

#include <cmath>
#include <QDialog>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QLayout>
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
            const QRect r = child->geometry();
            child->setGeometry(Scaled(r.x(), scale), Scaled(r.y(), scale), Scaled(r.width(), scale),
                               Scaled(r.height(), scale));
        }
        ScaleFixedSize(child, scale);
    }
    for (QWidget* child : children)
        if (!child->isWindow() && child->layout() && OwnContainer(child))
            ScaleLayout(child->layout(), scale);
    if (dialog->layout())
        ScaleLayout(dialog->layout(), scale);
    ScaleFixedSize(dialog, scale);
}
