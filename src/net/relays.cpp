#include "net/relays.h"

#include "core/texts.h"
#include "net/hostResolve.h"
#include "net/utilsNetwork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

quint32 MaskOf(int prefix)
{
    return prefix <= 0 ? 0 : prefix >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - prefix)) - 1u);
}

// QSettings keeps keys outside any group in [General], and "/" would nest groups: neither can name a relay.
bool UsableName(const QString& name)
{
    return !name.trimmed().isEmpty() && name == name.trimmed() && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) &&
           name.compare(QLatin1String("General"), Qt::CaseInsensitive) != 0;
}

// One or two digits from 0 to 32; no sign, no blank (toInt would take " 24", "+24" and "-0").
bool ParsePrefix(const QString& text, int* prefix)
{
    if (text.isEmpty() || text.size() > 2)
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    *prefix = text.toInt();
    return *prefix <= 32;
}

// A group name as QSettings reads it from an INI section header: %XX and %UXXXX escapes, "\\" for "/".
QString UnescapedGroup(const QString& text)
{
    QString name;
    for (qsizetype i = 0; i < text.size(); ++i) {
        bool ok = false;
        if (text[i] == QLatin1Char('%') && text.mid(i + 1, 1) == QLatin1String("U")) {
            const uint code = text.mid(i + 2, 4).toUInt(&ok, 16);
            if (ok && text.mid(i + 2, 4).size() == 4) {
                name += QChar(char16_t(code));
                i += 5;
                continue;
            }
        } else if (text[i] == QLatin1Char('%')) {
            const uint code = text.mid(i + 1, 2).toUInt(&ok, 16);
            if (ok && text.mid(i + 1, 2).size() == 2) {
                name += QChar(char16_t(code));
                i += 2;
                continue;
            }
        }
        name += text[i] == QLatin1Char('\\') ? QLatin1Char('/') : text[i];
    }
    return name;
}

// The lines of an INI text without the groups QSettings would merge into an earlier one of the same name
// or read as no group at all ([General]), each such group with a line in problems. Empty when nothing is
// left out.
QByteArray WithoutMergedGroups(const QByteArray& content, QStringList* problems)
{
    QList<QByteArray> lines = content.split('\n');
    QStringList seen;
    bool dropping = false;
    bool dropped = false;
    QByteArray kept;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.startsWith('[')) {
            const qsizetype end = line.indexOf(']');
            const QString section = QString::fromUtf8(line.mid(1, end < 0 ? -1 : end - 1)).trimmed();
            const QString name = UnescapedGroup(section);
            const QString number = QString::number(i + 1);
            dropping = true;
            if (section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                *problems << Res::Str(Res::RelayGroupGeneral).arg(section, number);
            else if (seen.contains(name))
                *problems << Res::Str(Res::RelayGroupTwice).arg(name, number);
            else
                dropping = false;
            seen << name;
            dropped = dropped || dropping;
        }
        if (!dropping)
            kept += lines[i] + '\n';
    }
    return dropped ? kept : QByteArray();
}

} // namespace

QString BadNetworksText(const QString& relay, const QStringList& bad)
{
    // A network whose address reads but whose prefix length does not is told so.
    for (const QString& text : bad) {
        const qsizetype slash = text.indexOf(QLatin1Char('/'));
        quint32 address = 0;
        int prefix = 0;
        const QString prefixText = text.mid(slash + 1);
        if (slash >= 0 && ParseIPv4(text.left(slash), &address) && !ParsePrefix(prefixText, &prefix) &&
            !QRegularExpression(QStringLiteral("^\\d+$")).match(prefixText).hasMatch())
            return Res::Str(Res::RelayBadPrefix).arg(relay, text, prefixText);
    }
    return Res::Str(Res::RelayBadNetwork).arg(relay, bad.join(QStringLiteral(", ")));
}

bool TRelayNetwork::Contains(quint32 address) const
{
    return (address & MaskOf(Prefix)) == Address;
}

QString TRelayNetwork::Text() const
{
    return IPv4ToText(Address) + QLatin1Char('/') + QString::number(Prefix);
}

std::optional<TRelayNetwork> TRelayNetwork::Parse(const QString& text)
{
    const QString trimmed = text.trimmed();
    const qsizetype slash = trimmed.indexOf(QLatin1Char('/'));
    const QString addressText = slash < 0 ? trimmed : trimmed.left(slash);
    quint32 address = 0;
    if (!ParseIPv4(addressText, &address))
        return std::nullopt;
    int prefix = 32;
    if (slash >= 0 && !ParsePrefix(trimmed.mid(slash + 1), &prefix))
        return std::nullopt;
    TRelayNetwork network;
    network.Prefix = prefix;
    network.Address = address & MaskOf(prefix);
    return network;
}

QStringList TRelay::NetworkTexts() const
{
    QStringList texts;
    for (const TRelayNetwork& network : Networks)
        texts << network.Text();
    return texts;
}

QString RelaysFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/sablewick/relays.conf");
}

std::vector<TRelay> LoadRelays(const QString& path, QStringList* problems)
{
    std::vector<TRelay> relays;
    if (!QFileInfo::exists(path))
        return relays;
    QStringList groupProblems;
    QTemporaryFile filtered(QDir::tempPath() + QStringLiteral("/sablewick-relays-XXXXXX.conf"));
    QString readPath = path;
    if (QFile file(path); file.open(QIODevice::ReadOnly)) {
        // QSettings would merge a second group of a name into the first and drop [General] unsaid: what it
        // reads is the file without them.
        const QByteArray kept = WithoutMergedGroups(file.readAll(), &groupProblems);
        if (!kept.isEmpty() && filtered.open() && filtered.write(kept) == kept.size() && filtered.flush())
            readPath = filtered.fileName();
    }
    if (problems)
        *problems << groupProblems;
    QSettings settings(readPath, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        if (problems)
            *problems << Res::Str(Res::RelayFileUnreadable).arg(path);
        return relays;
    }
    for (const QString& group : settings.childGroups()) {
        settings.beginGroup(group);
        TRelay relay;
        relay.Name = group;
        relay.Destination = settings.value(QStringLiteral("destination")).toString().trimmed();
        relay.Command = settings.value(QStringLiteral("command")).toString().trimmed();
        // A single network reads as a text, several as a list; toStringList takes both.
        QStringList bad;
        for (const QString& text : settings.value(QStringLiteral("networks")).toStringList()) {
            if (text.trimmed().isEmpty())
                continue;
            if (auto network = TRelayNetwork::Parse(text))
                relay.Networks.push_back(*network);
            else
                bad << text.trimmed();
        }
        settings.endGroup();
        QString problem = RelayProblem(relay);
        if ((problem.isEmpty() || relay.Networks.empty()) && !bad.isEmpty())
            problem = BadNetworksText(relay.Name, bad);
        if (!problem.isEmpty()) {
            if (problems)
                *problems << problem;
            continue;
        }
        relays.push_back(std::move(relay));
    }
    return relays;
}

bool SaveRelays(const QString& path, const std::vector<TRelay>& relays, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.clear();
        for (const TRelay& relay : relays) {
            settings.beginGroup(relay.Name);
            settings.setValue(QStringLiteral("destination"), relay.Destination);
            settings.setValue(QStringLiteral("networks"), relay.NetworkTexts());
            if (!relay.Command.isEmpty())
                settings.setValue(QStringLiteral("command"), relay.Command);
            settings.endGroup();
        }
        settings.sync();
        if (settings.status() == QSettings::NoError)
            return true;
    }
    if (error)
        *error = Res::Str(Res::RelayFileUnwritable).arg(path);
    return false;
}

QString RelayProblem(const TRelay& relay)
{
    if (!UsableName(relay.Name))
        return Res::Str(Res::RelayBadName).arg(relay.Name);
    // A destination that starts with "-" would be read by ssh as an option.
    if (relay.Destination.isEmpty() || relay.Destination.startsWith(QLatin1Char('-')) ||
        relay.Destination.contains(QRegularExpression(QStringLiteral("\\s"))))
        return Res::Str(Res::RelayBadDestination).arg(relay.Name);
    if (relay.Networks.empty())
        return Res::Str(Res::RelayNoNetwork).arg(relay.Name);
    return {};
}

const TRelay* RelayFor(quint32 address, const std::vector<TRelay>& relays)
{
    const TRelay* best = nullptr;
    int bestPrefix = -1;
    for (const TRelay& relay : relays)
        for (const TRelayNetwork& network : relay.Networks)
            if (network.Prefix > bestPrefix && network.Contains(address)) {
                best = &relay;
                bestPrefix = network.Prefix;
            }
    return best;
}
