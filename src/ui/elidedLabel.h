#pragma once

#include <QLabel>

// A one-line label that never asks for more room than it gets: a text wider than the label is cut at
// its end with "…", and the tool tip holds all of it. Lets the window that holds it keep its size.
class TElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TElidedLabel(QWidget* parent = nullptr);

    void SetFullText(const QString& text);
    const QString& FullText() const { return FFullText; }

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Elide();

    QString FFullText;
};
