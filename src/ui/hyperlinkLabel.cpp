#include "ui/hyperlinkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

THyperlinkLabel::THyperlinkLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    ApplyColour();
}

void THyperlinkLabel::ApplyColour()
{
    QPalette colours = palette();
    const QColor highlight = colours.color(QPalette::Active, QPalette::Highlight);
    for (auto group : {QPalette::Active, QPalette::Inactive})
        colours.setColor(group, QPalette::WindowText, highlight);
    setPalette(colours);
}

void THyperlinkLabel::changeEvent(QEvent* e)
{
    QLabel::changeEvent(e);
    // Follow the desktop's colours; the palette change caused by ApplyColour itself is a no-op then.
    if (e->type() == QEvent::ApplicationPaletteChange)
        ApplyColour();
}

void THyperlinkLabel::SetHot(bool hot)
{
    if (hot == FHot)
        return;
    FHot = hot;
    QFont shown = font();
    shown.setUnderline(hot);
    setFont(shown);
}

void THyperlinkLabel::enterEvent(QEnterEvent* e)
{
    QLabel::enterEvent(e);
    SetHot(true);
}

void THyperlinkLabel::leaveEvent(QEvent* e)
{
    QLabel::leaveEvent(e);
    SetHot(false);
}

void THyperlinkLabel::mousePressEvent(QMouseEvent* e)
{
    FPressed = e->button() == Qt::LeftButton;
    QLabel::mousePressEvent(e);
}

void THyperlinkLabel::mouseReleaseEvent(QMouseEvent* e)
{
    const bool click = FPressed && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
    FPressed = false;
    QLabel::mouseReleaseEvent(e);
    if (!click)
        return;
    emit clicked();
    if (!FTarget.isEmpty())
        QDesktopServices::openUrl(QUrl::fromUserInput(FTarget));
}
