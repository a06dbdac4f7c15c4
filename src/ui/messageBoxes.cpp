#include "ui/messageBoxes.h"

#include "core/texts.h"

#include <algorithm>
#include <QApplication>

namespace {

TMessageRecorder* currentRecorder = nullptr;

} // namespace

TMessageRecorder::TMessageRecorder() : FPrevious(currentRecorder)
{
    currentRecorder = this;
}

TMessageRecorder::~TMessageRecorder()
{
    currentRecorder = FPrevious;
}

QString ElideQuotedValues(const QString& message, int maxLength)
{
    maxLength = std::max(maxLength, 3);
    QStringList lines = message.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        const qsizetype open = line.indexOf(QLatin1Char('"'));
        const qsizetype close = line.lastIndexOf(QLatin1Char('"'));
        if (open < 0 || close <= open || close - open - 1 <= maxLength)
            continue;
        // Both ends stay: a path keeps its folder and its file name.
        const qsizetype keep = maxLength - 1;
        qsizetype head = (keep + 1) / 2;
        qsizetype tail = keep - head;
        const QString value = line.mid(open + 1, close - open - 1);
        // Never half a character.
        if (head > 0 && value.at(head - 1).isHighSurrogate())
            --head;
        if (tail > 0 && value.at(value.size() - tail).isLowSurrogate())
            --tail;
        line = line.left(open + 1) + value.left(head) + QChar(0x2026) + value.right(tail) + line.mid(close);
    }
    return lines.join(QLatin1Char('\n'));
}

QMessageBox::StandardButton ShowMessage(QMessageBox::Icon icon, const QString& fullMessage,
                                        QMessageBox::StandardButtons buttons)
{
    const QString message = ElideQuotedValues(fullMessage);
    const QString caption = Res::Str(Res::ProductName);
    if (TMessageRecorder* recorder = currentRecorder) {
        TShownMessage shown;
        shown.Icon = icon;
        shown.Caption = caption;
        shown.Text = message;
        shown.Buttons = buttons;
        if (recorder->FOnShow)
            recorder->FOnShow(shown);
        if (buttons.testFlag(QMessageBox::Ok) && !buttons.testFlag(QMessageBox::Yes))
            shown.Answer = QMessageBox::Ok;
        else
            shown.Answer = recorder->FAnswers.isEmpty() ? QMessageBox::No : recorder->FAnswers.takeFirst();
        recorder->FShown.append(shown);
        return shown.Answer;
    }
    QMessageBox box(icon, caption, message, buttons, QApplication::activeWindow());
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowWarning(const QString& message)
{
    ShowMessage(QMessageBox::Warning, message, QMessageBox::Ok);
}

void ShowError(const QString& message)
{
    ShowMessage(QMessageBox::Critical, message, QMessageBox::Ok);
}

bool AskQuestion(const QString& message)
{
    return ShowMessage(QMessageBox::Question, message, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool AskRetry(const QString& message)
{
    return ShowMessage(QMessageBox::Critical, message, QMessageBox::Retry | QMessageBox::Discard) ==
           QMessageBox::Retry;
}
