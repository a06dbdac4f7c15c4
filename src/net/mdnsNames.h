// Names of hosts from multicast DNS, through the Avahi daemon.
#pragma once

#include <map>
#include <QString>
#include <QtGlobal>
#include <vector>

// Asks the Avahi daemon for the mDNS name of each address (host byte order) and waits up to timeoutMs
// for the answers. Only the names found are returned, without the ".local" domain; nothing at all
// when the daemon does not run (nothing is then sent). Blocks: the pool for blocking calls only.
std::map<quint32, QString> MdnsNamesOf(const std::vector<quint32>& addresses, int timeoutMs);
