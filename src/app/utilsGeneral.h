// No class: the shared helpers of the windows (message boxes, greyed images, shell, administrator test).
#pragma once

#include <functional>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

// The shared helpers of the windows: message boxes, greyed images, opening web addresses and the
// administrator test.

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

// The characters coded by a string of hexadecimal digit pairs; invalid pairs are skipped and a single
// trailing digit is ignored.
QString HexToText(const QString& hex);

// The grey that stands for a colour in a disabled image: all three components
// min(addition, 100) + (red + green + blue) div 3, capped at 240.
QColor GreyLevel(const QColor& color, int addition);
// A greyed copy of an image: drawn over magenta, every pixel turned to its grey level (addition 30),
// then the grey of the top-left pixel made transparent.
QImage GreyedImage(const QImage& source, const QSize& size);
// Gives each image, at each of the sizes, its greyed copy as the pixmap shown when disabled.
void MakeDisabledImages(QList<QIcon>& images, const QList<QSize>& sizes);

// Asks the desktop to open a file or web address; true when it accepted the request. Shows nothing.
bool ShellOpen(const QString& target, QWidget* owner = nullptr);

// Whether the logged-on user holds administrator privilege here.
bool IsUserAdmin();
// Whether the named account is an administrator: root, or a member (primary or supplementary group)
// of one of the groups sudo, wheel or admin. An unknown account is not.
bool IsUserAdmin(const QString& userName);
