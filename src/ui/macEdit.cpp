#include "ui/macEdit.h"

#include "core/mainThread.h"
#include "core/texts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

namespace {

const QString MacMask = QStringLiteral(">NN-NN-NN-NN-NN-NN;_");
constexpr int MacLength = 17;

bool IsSeparatorPosition(int index)
{
    return index % 3 == 2;
}

} // namespace

TMACEdit::TMACEdit(QWidget* parent) : QLineEdit(parent)
{
    setInputMask(MacMask);
    // The mask fixes the length; kept explicit so it survives a change of the mask.
    setMaxLength(MacLength);
}

QSize TMACEdit::sizeHint() const
{
    QSize hint = QLineEdit::sizeHint();
    const QMargins margins = textMargins() + contentsMargins();
    // Text, the line edit's inner margins and frame on both sides, and room for the caret.
    const int text = fontMetrics().horizontalAdvance(QStringLiteral("WW-WW-WW-WW-WW-WW"));
    hint.setWidth(text + margins.left() + margins.right() + 2 * 2 + 2 * 3);
    return hint;
}

QString TMACEdit::RawText() const
{
    return displayText();
}

QString TMACEdit::MaskedText() const
{
    QString text = displayText();
    for (int i = 0; i < text.size(); ++i) {
        if (!IsSeparatorPosition(i) && text[i] == BlankChar)
            text[i] = u' ';
    }
    return text;
}

int TMACEdit::FirstEmptyPosition() const
{
    const QString text = displayText();
    for (int i = 0; i < MacLength; ++i) {
        if (IsSeparatorPosition(i))
            continue;
        if (i >= text.size() || text[i] == BlankChar)
            return i;
    }
    return -1;
}

void TMACEdit::SetTextByProgram(const QString& text)
{
    // setText clears the modified flag, so the program's text is never taken for the user's.
    setText(text);
    setModified(false);
    FUnchangedText = this->text();
}

void TMACEdit::focusInEvent(QFocusEvent* e)
{
    // Coming back to a field already changed (the invalid-input box hands the focus back) keeps the text
    // from before the change.
    if (!isModified())
        FUnchangedText = text();
    QLineEdit::focusInEvent(e);
}

void TMACEdit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && isModified()) {
        setText(FUnchangedText);
        setModified(false);
        e->accept();
        return;
    }
    // Alt with a letter is an accelerator of the window, never a character of the address.
    if (e->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) {
        e->ignore();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void TMACEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    // A popup or another window takes the focus only for a while.
    if (e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason)
        return;
    // The focus moves to a button as its click begins: the button decides (OK and Next check the field,
    // Cancel leaves at once), a check here would swallow the click.
    if (qobject_cast<QAbstractButton*>(QApplication::focusWidget()))
        return;
    if (isModified() && FirstEmptyPosition() >= 0)
        ValidateEdit();
}

void TMACEdit::ValidateEdit()
{
    QApplication::beep();
    // Taking the focus back and showing the error box inside the focus change would fight the widget
    // that is receiving the focus; both happen once the change has finished.
    QPointer<TMACEdit> self(this);
    QTimer::singleShot(0, this, [self] {
        if (!self || !self->isVisible() || !self->window()->isVisible())
            return; // the window closed meanwhile (Cancel clicked): nothing left to correct
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != self->window())
            return; // a box of the window (its own check of the field) already has the user's attention
        const int position = self->FirstEmptyPosition();
        if (position < 0)
            return;
        self->setFocus(Qt::OtherFocusReason);
        self->deselect();
        self->setCursorPosition(position);
        ReportError(Res::Str(Res::MaskInvalidInput));
    });
}
