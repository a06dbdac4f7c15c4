// The --scan command of the command line.
#pragma once

#include "app/commandLine.h"

#include <QString>

struct TScanCommand
{
    QString Network; // as typed: "10.1.2.0/24"
    bool Json = false;
    bool Add = false;
    bool AddShared = false; // with Add: the hosts of a MAC that answers for many addresses too
};

// Sweeps the network in this process (the settings' rate and mDNS choice), then tells each host found
// whether the database already has it: one line a host (IP, MAC, name, vendor, "new", the name it has
// or the proxy-ARP warning), or one JSON array of {"ip", "mac", "name", "vendor", "known", and
// "sharedMac" for the hosts of a MAC that answers for many addresses}. With Add, the hosts not in the
// database yet are added in one save (those of a shared MAC only with AddShared), and only their number
// is printed. On a terminal, without Json, the sweep's progress goes to stderr. The database is opened
// through TOpenDatabase: read only to list, and only when the file exists.
TCommandResult RunScanCommand(const TScanCommand& command, const QString& databaseFile);
