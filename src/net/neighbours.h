#pragma once

#include <functional>
#include <QString>
#include <QtGlobal>
#include <vector>

// The kernel's IPv4 neighbour table, read over netlink.

// The hardware address the neighbour table holds for the address (host byte order) in a usable state
// (reachable, stale, delay, probe or permanent), in the detected MAC text form (six lower-case
// hexadecimal pairs joined by hyphens); the empty text when there is none or the table cannot be read.
// Asks only the kernel: quick, and it sends nothing.
QString NeighbourMac(quint32 address);
QString NeighbourMac(const QString& ipAddress);

// Worker engine only. Calls onMac on the engine with what NeighbourMac would answer for the address.
// Lookups asked for while the table is being read share the next reading, so a burst of a thousand
// answers costs a few readings of the table, not a thousand, and never waits on the engine's thread.
void LookUpNeighbourMac(quint32 address, std::function<void(const QString& mac)> onMac);

// One IPv4 entry of the table, in whatever state (NUD_*) it is.
struct TNeighbourEntry
{
    quint32 Address = 0; // host byte order
    quint16 State = 0;
    int InterfaceIndex = 0;
    QString Mac; // as NeighbourMac gives it; empty unless the state is usable
};
// Every IPv4 entry of the table, of every interface; false when the table cannot be read. Sends nothing.
bool ReadNeighbourTable(std::vector<TNeighbourEntry>& entries);

// For a host on one of this machine's local networks: sends it one UDP datagram (to the discard port, so
// that the kernel resolves its hardware address), waits up to timeoutMs for the neighbour table to learn
// it and answers it as NeighbourMac does. An address that is not dotted, or that no local network holds,
// gets the empty text and nothing is sent: behind a router the table would only hold the router's
// address. Blocks: worker threads only.
QString ProbeNeighbourMac(const QString& ipAddress, int timeoutMs = 1500);
