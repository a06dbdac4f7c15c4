#pragma once

#include <QLabel>

// A label that stands for a web address: drawn in the highlight colour, underlined while the mouse is
// over it, with the hand cursor. A click opens its target with the desktop (failures are silent: there
// is nothing the user could do about them here).
class THyperlinkLabel : public QLabel
{
    Q_OBJECT

public:
    explicit THyperlinkLabel(QWidget* parent = nullptr);

    const QString& Target() const { return FTarget; }
    void SetTarget(const QString& target) { FTarget = target; }

signals:
    void clicked();

protected:
    void changeEvent(QEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void ApplyColour();
    void SetHot(bool hot);

    QString FTarget;
    bool FPressed = false;
    bool FHot = false;
};
