// What a network scan's hosts are to the database: which are known, and adding the others.
#pragma once

#include "net/netScan.h"

#include <QString>
#include <QStringList>
#include <vector>

class TComputer;
class TGroup;
class TOpenDatabase;

// The computer of the group that a found host already is: one with an adapter of the same MAC address
// or with the same IP address; null when none is.
const TComputer* KnownComputer(const TGroup& root, const TScanHost& host);

// What a host is to the database, as the scan's lists say it: "as NAME" when known, the proxy-ARP
// warning for a host of a shared MAC, else "new".
QString ScanHostState(const TComputer* known, const TScanHost& host);

// A MAC address as the database keeps it: "00-1B-21-0A-0B-0C"; empty for the empty text.
QString DatabaseMac(const QString& mac);

// The names that computers for these hosts get: the host's name (without control characters and
// backslashes), or its IP address when it has none;
// a name already taken (in the group or by an earlier host of the list, letters of either case) gets
// the first free suffix " (2)", " (3)", ...
QStringList NewComputerNames(const TGroup& root, const std::vector<TScanHost>& hosts);

// Adds a computer for each host, in one save: the name as NewComputerNames gives it, the IP address,
// the MAC marked for wake-up, LAN mode and the given subnet mask (host byte order). Returns the
// computers added, in the order of the hosts; none without a root group.
std::vector<TComputer*> AddScannedHosts(TOpenDatabase& database, const std::vector<TScanHost>& hosts,
                                        quint32 subnetMask);
