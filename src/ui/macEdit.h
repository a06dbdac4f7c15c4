#pragma once

#include <QLineEdit>

// One-line edit for a MAC address: six pairs of letters or digits joined by hyphens, letters upper-cased
// as they are typed. Guards itself the way a masked edit does: leaving it after a user change with a
// position still empty beeps, takes the focus back and reports the input as invalid; while it holds a
// user change, Escape puts back the text it had when it received the focus (the key then does not reach
// the dialog's Cancel button).
class TMACEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit TMACEdit(QWidget* parent = nullptr);

    // Empty positions read as blanks, hyphens always present: "  -  -  -  -  -  " when untouched.
    QString MaskedText() const;
    // Exactly what the field shows, empty positions as "_".
    QString RawText() const;
    // Puts text through the mask (separators in the text are taken as they are); does not count as a
    // user change.
    void SetTextByProgram(const QString& text);
    // True after a user change; cleared by SetTextByProgram and by the Escape restore.
    bool UserChanged() const { return isModified(); }

    // Index of the first empty position, -1 when every position holds a character.
    int FirstEmptyPosition() const;

    static constexpr QChar BlankChar = u'_';

    // Wide enough for the widest address the font can show.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void ValidateEdit();
    bool WantsEscape() const { return isModified(); }

    QString FOldValue;     // the text at the moment the field received the focus
    bool FReEnter = false; // the focus comes back after a refused exit: FOldValue stays
    bool FAway = false;    // the focus left for a popup or another window and will come back
};
