#pragma once

#include <array>
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// NetBIOS name service datagrams (RFC 1001/1002) for the two questions this system asks: where is a
// name (name query, answered by an NB record) and what is the adapter status of a node (node status
// query, answered by an NBSTAT record).
namespace NetBios {

using TUnitId = std::array<quint8, 6>;

constexpr quint16 NameServicePort = 137;

// The 16 bytes of a NetBIOS name for a computer name: upper case, padded with blanks to 16 (the 16th
// byte, the service suffix, is then a blank: the name a server registers), only the first 16 used. The
// empty name is the wildcard "*" padded with NULs, the only form in which a node answers for any of
// its names.
QByteArray NameOf(const QString& computerName);

QByteArray NameQueryRequest(quint16 transactionId, const QByteArray& name16, bool broadcast);
QByteArray NodeStatusRequest(quint16 transactionId, const QByteArray& name16);

// Read a reply. Every length in it is checked against the datagram: a short, truncated or
// inconsistent reply, an error reply, one for another transaction or of another record type is
// refused (false) and nothing is read from beyond its end. A node status reply counts only with a
// unicast unit ID.
bool ParseNameQueryResponse(const QByteArray& datagram, quint16 transactionId, quint32* addressHostOrder);
bool ParseNodeStatusResponse(const QByteArray& datagram, quint16 transactionId, TUnitId* unitId);

// What a node status reply says of a node: its computer name (the first unique name with the
// workstation suffix, empty when it lists none) and its unit ID as sent (zeros when the node does not
// know it; see IsUnicastUnitId). Checked as ParseNodeStatusResponse checks.
struct TNodeStatus
{
    QString Name;
    TUnitId UnitId{};
};
bool ParseNodeStatus(const QByteArray& datagram, quint16 transactionId, TNodeStatus* status);

// An address of one adapter: not all zeros (unknown) and without the group bit (broadcast, multicast).
bool IsUnicastUnitId(const TUnitId& unitId);

// "00-0c-29-aa-bb-cc".
QString UnitIdText(const TUnitId& unitId);

} // namespace NetBios
