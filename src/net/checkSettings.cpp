#include "net/checkSettings.h"

#include "core/userSettings.h"
#include "net/icmpListener.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

namespace {

const QString PortsKey = QStringLiteral("checks/tcpPorts");

std::mutex Lock;
std::optional<std::vector<quint16>> Cached;

} // namespace

std::vector<quint16> DefaultTcpProbePorts()
{
    return {22, 80, 135, 139, 443, 445, 3389, 5900};
}

bool ParsePortList(const QString& text, std::vector<quint16>* ports, QString* bad)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    std::vector<quint16> result;
    for (const QString& item : text.split(separators, Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint port = item.toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            if (bad)
                *bad = item;
            return false;
        }
        if (std::find(result.begin(), result.end(), port) == result.end())
            result.push_back(static_cast<quint16>(port));
    }
    if (result.size() > size_t(MaxTcpProbePorts)) {
        if (bad)
            bad->clear();
        return false;
    }
    *ports = std::move(result);
    return true;
}

QString PortListText(const std::vector<quint16>& ports)
{
    QStringList items;
    for (const quint16 port : ports)
        items << QString::number(port);
    return items.join(QStringLiteral(", "));
}

std::vector<quint16> TcpProbePorts()
{
    std::lock_guard<std::mutex> guard(Lock);
    if (!Cached) {
        const QSettings settings(UserSettingsFile(), QSettings::IniFormat);
        if (!settings.contains(PortsKey)) {
            Cached = DefaultTcpProbePorts();
        } else {
            // An INI list ("22, 80") comes back as a list of strings, a single value as a string.
            const QVariant value = settings.value(PortsKey);
            const QString text = value.typeId() == QMetaType::QStringList
                                     ? value.toStringList().join(QLatin1Char(','))
                                     : value.toString();
            std::vector<quint16> ports;
            // A list that does not read (a typing error in the file) leaves the defaults in force.
            Cached = ParsePortList(text, &ports, nullptr) ? ports : DefaultTcpProbePorts();
        }
    }
    return *Cached;
}

bool SetTcpProbePorts(const std::vector<quint16>& ports)
{
    QSettings settings(UserSettingsFile(), QSettings::IniFormat);
    // Written as one string, so an empty list stays an empty value instead of a missing key.
    settings.setValue(PortsKey, PortListText(ports));
    settings.sync();
    std::lock_guard<std::mutex> guard(Lock);
    Cached = ports;
    return settings.status() == QSettings::NoError;
}

bool ChecksAvailable()
{
    return !TcpProbePorts().empty() || TIcmpListener::Acquire() != nullptr;
}
