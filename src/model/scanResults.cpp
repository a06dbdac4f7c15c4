#include "model/scanResults.h"

#include "core/plainText.h"
#include "core/texts.h"
#include "model/computers.h"
#include "model/openDatabase.h"
#include "net/hostResolve.h"
#include "net/utilsNetwork.h"

#include <QSet>

QString DatabaseMac(const QString& mac)
{
    const QString hex = MacDigits(mac);
    if (hex.isEmpty())
        return {};
    QString text;
    for (int i = 0; i < 12; i += 2) {
        if (i > 0)
            text += QLatin1Char('-');
        text += hex.mid(i, 2);
    }
    return text;
}

const TComputer* KnownComputer(const TGroup& root, const TScanHost& host)
{
    const QString mac = MacDigits(host.Mac);
    const QString ip = IPv4ToText(host.Address);
    const TComputers* computers = root.Computers();
    for (int i = 0; i < computers->Count(); ++i) {
        const TComputer* computer = computers->Items(i);
        if (const TMACAddresses* adapters = computer->MACAddresses(); adapters && !mac.isEmpty()) {
            for (int a = 0; a < adapters->Count(); ++a)
                if (MacDigits(adapters->Items(a)->Address) == mac)
                    return computer;
        }
    }
    for (int i = 0; i < computers->Count(); ++i)
        if (computers->Items(i)->IPAddress.trimmed() == ip)
            return computers->Items(i);
    return nullptr;
}

QString ScanHostState(const TComputer* known, const TScanHost& host)
{
    if (known)
        return Res::Str(Res::ScanKnownAs).arg(known->Name());
    return host.SharedMac > 0 ? Res::Str(Res::ScanSharedMac).arg(host.SharedMac) : Res::Str(Res::ScanNew);
}

QStringList NewComputerNames(const TGroup& root, const std::vector<TScanHost>& hosts)
{
    QSet<QString> taken;
    const TComputers* computers = root.Computers();
    for (int i = 0; i < computers->Count(); ++i)
        taken.insert(computers->Items(i)->Name().toLower());
    QStringList names;
    for (const TScanHost& host : hosts) {
        // The name setter would cut a name at a double backslash; a control character has no place in one.
        const QString clean = CleanNetworkName(host.Name);
        const QString base = clean.isEmpty() ? IPv4ToText(host.Address) : clean;
        QString name = base;
        for (int suffix = 2; taken.contains(name.toLower()); ++suffix)
            name = QStringLiteral("%1 (%2)").arg(base).arg(suffix);
        taken.insert(name.toLower());
        names.append(name);
    }
    return names;
}

std::vector<TComputer*> AddScannedHosts(TOpenDatabase& database, const std::vector<TScanHost>& hosts,
                                        quint32 subnetMask)
{
    std::vector<TComputer*> added;
    if (!database.Root() || hosts.empty())
        return added;
    const QStringList names = NewComputerNames(*database.Root(), hosts);
    database.ChangeTogether([&] {
        for (size_t i = 0; i < hosts.size(); ++i) {
            TComputer* computer = database.AddComputer();
            if (!computer)
                break;
            computer->SetName(names[int(i)]);
            computer->IPAddress = IPv4ToText(hosts[i].Address);
            computer->SubNet = IPv4ToText(subnetMask);
            computer->SendOptions = soLAN;
            if (!hosts[i].Mac.isEmpty()) {
                TMACAddress* adapter = computer->MACAddresses()->Add();
                adapter->Address = DatabaseMac(hosts[i].Mac);
                adapter->UseForWake = true;
            }
            added.push_back(computer);
        }
    });
    return added;
}
