#include "app/utilsGeneral.h"

#include "core/texts.h"

#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <QApplication>
#include <QDesktopServices>
#include <QPainter>
#include <QUrl>
#include <unistd.h>
#include <vector>

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

QString HexToText(const QString& hex)
{
    QString result;
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2) {
        bool ok = false;
        const uint code = QStringView(hex).mid(i, 2).toUInt(&ok, 16);
        if (ok)
            result.append(QChar(static_cast<char16_t>(code)));
    }
    return result;
}

QColor GreyLevel(const QColor& color, int addition)
{
    const int grey = qMin(qMin(addition, 100) + (color.red() + color.green() + color.blue()) / 3, 240);
    return QColor(grey, grey, grey);
}

QImage GreyedImage(const QImage& source, const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 255));
    {
        QPainter painter(&image);
        painter.drawImage(0, 0, source);
    }
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = GreyLevel(QColor(line[x]), 30).rgb();
    }
    // The grey of the top-left pixel is the transparent colour, as the image list keeps it.
    const QRgb transparent = image.pixel(0, 0);
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            if ((line[x] & 0xFFFFFFu) == (transparent & 0xFFFFFFu))
                line[x] = 0;
    }
    return result;
}

void MakeDisabledImages(QList<QIcon>& images, const QList<QSize>& sizes)
{
    for (QIcon& image : images) {
        for (const QSize& size : sizes) {
            const QImage source = image.pixmap(size).toImage();
            image.addPixmap(QPixmap::fromImage(GreyedImage(source, size)), QIcon::Disabled);
        }
    }
}

bool ShellOpen(const QString& target, QWidget* owner)
{
    // The desktop decides how to open it and reports problems itself, if at all.
    Q_UNUSED(owner);
    const QUrl url = QUrl::fromUserInput(target);
    if (!url.isValid())
        return false;
    return QDesktopServices::openUrl(url);
}

bool IsUserAdmin()
{
    if (geteuid() == 0)
        return true;
    const passwd* account = getpwuid(geteuid());
    if (!account || !account->pw_name)
        return false;
    return IsUserAdmin(QString::fromLocal8Bit(account->pw_name));
}

bool IsUserAdmin(const QString& userName)
{
    if (userName.isEmpty())
        return false;
    const QByteArray name = userName.toLocal8Bit();
    passwd record{};
    passwd* account = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(name.constData(), &record, buffer.data(), buffer.size(), &account) != 0 || !account)
        return false;
    if (account->pw_uid == 0)
        return true;

    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(name.constData(), account->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (getgrouplist(name.constData(), account->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(static_cast<size_t>(count));

    static const char* const adminGroups[] = {"sudo", "wheel", "admin"};
    for (const char* groupName : adminGroups) {
        group groupRecord{};
        group* found = nullptr;
        std::vector<char> groupBuffer(65536);
        if (getgrnam_r(groupName, &groupRecord, groupBuffer.data(), groupBuffer.size(), &found) != 0 ||
            !found)
            continue;
        for (gid_t gid : groups)
            if (gid == found->gr_gid)
                return true;
    }
    return false;
}
