#include "net/ouiVendors.h"

#include <mutex>
#include <QFile>
#include <QHash>

namespace {

// "MA-L,001B21,Intel Corporate,Address...": the organisation may be quoted, with doubled quotes inside.
bool ReadCsvLine(const QByteArray& line, quint32* prefix, QString* vendor)
{
    const qsizetype firstComma = line.indexOf(',');
    if (firstComma < 0 || line.size() < firstComma + 8 || line.at(firstComma + 7) != ',')
        return false;
    bool ok = false;
    *prefix = line.mid(firstComma + 1, 6).toUInt(&ok, 16);
    if (!ok)
        return false;
    qsizetype at = firstComma + 8;
    QByteArray name;
    if (at < line.size() && line.at(at) == '"') {
        for (++at; at < line.size(); ++at) {
            if (line.at(at) == '"') {
                if (at + 1 < line.size() && line.at(at + 1) == '"') {
                    name.append('"');
                    ++at;
                    continue;
                }
                break;
            }
            name.append(line.at(at));
        }
    } else {
        const qsizetype end = line.indexOf(',', at);
        name = line.mid(at, end < 0 ? -1 : end - at);
    }
    *vendor = QString::fromUtf8(name.trimmed());
    return !vendor->isEmpty();
}

// "00-1B-21   (hex)\t\tIntel Corporate"
bool ReadTextLine(const QByteArray& line, quint32* prefix, QString* vendor)
{
    const qsizetype marker = line.indexOf("(hex)");
    if (marker < 8 || line.at(2) != '-' || line.at(5) != '-')
        return false;
    QByteArray hex = line.left(8);
    hex.replace('-', "");
    bool ok = false;
    *prefix = hex.toUInt(&ok, 16);
    *vendor = QString::fromUtf8(line.mid(marker + 5).trimmed());
    return ok && !vendor->isEmpty();
}

const QHash<quint32, QString>& Vendors()
{
    static QHash<quint32, QString> vendors;
    static std::once_flag loaded;
    std::call_once(loaded, [] {
        for (const QString& path : OuiListFiles()) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const bool csv = path.endsWith(QLatin1String(".csv"));
            while (!file.atEnd()) {
                const QByteArray line = file.readLine();
                quint32 prefix = 0;
                QString vendor;
                if (csv ? ReadCsvLine(line, &prefix, &vendor) : ReadTextLine(line, &prefix, &vendor))
                    vendors.insert(prefix, vendor);
            }
            if (!vendors.isEmpty())
                return;
        }
    });
    return vendors;
}

} // namespace

QStringList OuiListFiles()
{
    return {QStringLiteral("/usr/share/ieee-data/oui.csv"), QStringLiteral("/usr/share/ieee-data/oui.txt")};
}

QString VendorOfMac(const QString& mac)
{
    QString hex;
    for (const QChar c : mac) {
        if (c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            hex.append(c);
        else if (c != QLatin1Char('-') && c != QLatin1Char(':') && c != QLatin1Char('.'))
            return {};
    }
    if (hex.size() != 12)
        return {};
    bool ok = false;
    const quint32 prefix = hex.left(6).toUInt(&ok, 16);
    return ok ? Vendors().value(prefix) : QString();
}
