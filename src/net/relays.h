// The relays of relays.conf (TRelay, TRelayNetwork) and the route of an address through them.
#pragma once

#include <optional>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

// One IPv4 network a relay serves, in host byte order.
struct TRelayNetwork
{
    quint32 Address = 0; // the network's first address (host bits cleared)
    int Prefix = 0;

    bool Contains(quint32 address) const;
    QString Text() const;
    // "10.20.0.0/16"; a bare address is a /32. Host bits are cleared. Nothing for any other text.
    static std::optional<TRelayNetwork> Parse(const QString& text);
};

// A host on another network that the user reaches with ssh, and the networks it wakes and checks.
struct TRelay
{
    QString Name;        // the group name in relays.conf
    QString Destination; // anything ssh accepts: a Host alias, user@host, ssh://user@host:port
    std::vector<TRelayNetwork> Networks;
    QString Command; // optional remote command that sends a magic packet; placeholders {mac} {broadcast} ...

    QStringList NetworkTexts() const;
};

// $XDG_CONFIG_HOME/sablewick/relays.conf.
QString RelaysFilePath();

// Reads the relays of an INI file, in the file's order. Groups without a usable destination or network, a
// second group of a name and a [General] group are left out, each with a line in problems; a missing file
// is no relay and no problem.
std::vector<TRelay> LoadRelays(const QString& path, QStringList* problems = nullptr);
// Writes the relays as the whole content of the file. False with the reason in error.
bool SaveRelays(const QString& path, const std::vector<TRelay>& relays, QString* error = nullptr);

// The line that tells why the network texts bad of a relay do not read.
QString BadNetworksText(const QString& relay, const QStringList& bad);

// Why a relay cannot be stored as it is (a line naming the field); empty when it can.
QString RelayProblem(const TRelay& relay);

// The relay whose networks hold the address, the longest matching network winning (the first relay of the
// list on a tie); null when none does.
const TRelay* RelayFor(quint32 address, const std::vector<TRelay>& relays);
