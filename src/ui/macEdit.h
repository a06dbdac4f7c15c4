#pragma once

#include <QLineEdit>

// One-line edit for a MAC address: six pairs of letters or digits joined by hyphens, letters upper-cased
// as they are typed. Guards itself the way a masked edit does: moving on to another field after a user
// change with a position still empty beeps, takes the focus back and reports the input as invalid. A
// button is never kept from its click: OK and Next check the field themselves, Cancel and the like
// leave without a check. Escape after a user change puts back the text the field had before it, as the
// invalid-input message promises; otherwise Escape reaches the dialog.
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
    // True after a user change; cleared by SetTextByProgram.
    bool UserChanged() const { return isModified(); }

    // Index of the first empty position, -1 when every position holds a character.
    int FirstEmptyPosition() const;

    static constexpr QChar BlankChar = u'_';

    // Wide enough for the widest address the font can show.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void ValidateEdit();

    // The text before the user's change, which Escape puts back.
    QString FUnchangedText;
};
