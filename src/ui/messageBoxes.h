// No class: the message boxes of every window.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

// Modal message boxes, always with the caption "Sablewick".
// An OK box with the exclamation icon (validation messages).
void ShowWarning(const QString& message);
// An OK box with the error icon.
void ShowError(const QString& message);
// A Yes/No box with the question icon; true only when the user answers Yes.
bool AskQuestion(const QString& message);
// A Retry/Discard box with the error icon; true only when the user answers Retry.
bool AskRetry(const QString& message);

// Seam for tests: while a recorder is installed, boxes are not shown but recorded, and questions are
// answered from the queued answers (No when none is left).
struct TShownMessage
{
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString Caption;
    QString Text;
    QMessageBox::StandardButtons Buttons;
    QMessageBox::StandardButton Answer = QMessageBox::NoButton;
};

class TMessageRecorder
{
public:
    TMessageRecorder();
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    void SetNextAnswer(QMessageBox::StandardButton answer) { FAnswers.append(answer); }
    // Runs while a box is "shown", before its answer is taken: what a user does before clicking.
    void SetOnShow(std::function<void(const TShownMessage&)> onShow) { FOnShow = std::move(onShow); }
    const QList<TShownMessage>& Shown() const { return FShown; }
    void Clear() { FShown.clear(); }

private:
    friend QMessageBox::StandardButton ShowMessage(QMessageBox::Icon, const QString&,
                                                   QMessageBox::StandardButtons);
    QList<TShownMessage> FShown;
    QList<QMessageBox::StandardButton> FAnswers;
    std::function<void(const TShownMessage&)> FOnShow;
    TMessageRecorder* FPrevious = nullptr;
};

// A message with every quoted value longer than maxLength characters shortened in its middle to that
// length ("…" standing for what is left out), the quote marks kept. A line's value is what stands
// between its first and its last double quote, so quotes inside a value do not cut it.
QString ElideQuotedValues(const QString& message, int maxLength = 64);

// The one way every box is shown (or recorded): caption "Sablewick", the active window as owner, long
// quoted values shortened (ElideQuotedValues) so that no box outgrows the screen.
QMessageBox::StandardButton ShowMessage(QMessageBox::Icon icon, const QString& message,
                                        QMessageBox::StandardButtons buttons);
