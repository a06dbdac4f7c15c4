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

} // namespace

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
    if (slash >= 0) {
        bool ok = false;
        const QString prefixText = trimmed.mid(slash + 1);
        prefix = prefixText.toInt(&ok);
        if (!ok || prefix < 0 || prefix > 32 || prefixText.contains(QLatin1Char('+')))
            return std::nullopt;
    }
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
    QSettings settings(path, QSettings::IniFormat);
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
            problem = Res::Str(Res::RelayBadNetwork).arg(relay.Name, bad.join(QStringLiteral(", ")));
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
