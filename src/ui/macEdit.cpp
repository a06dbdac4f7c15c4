#include "ui/macEdit.h"

#include "core/mainThread.h"
#include "core/texts.h"

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
}

bool TMACEdit::event(QEvent* e)
{
    // A pending change claims Escape before the dialog's shortcuts and its Cancel button see it.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && WantsEscape()) {
            e->accept();
            return true;
        }
    }
    return QLineEdit::event(e);
}

void TMACEdit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && WantsEscape()) {
        setText(FOldValue);
        setModified(false);
        selectAll();
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void TMACEdit::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    // Coming back from a popup or another window, or after a refused exit, is not a new visit of the
    // field while a change is pending.
    if (!(isModified() && (FAway || FReEnter)))
        FOldValue = displayText();
    FAway = false;
    FReEnter = false;
}

void TMACEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    FAway = e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason;
    if (FAway)
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
        self->FReEnter = true;
        self->setFocus(Qt::OtherFocusReason);
        self->FReEnter = false;
        self->deselect();
        self->setCursorPosition(position);
        ReportError(Res::Str(Res::MaskInvalidInput));
    });
}
