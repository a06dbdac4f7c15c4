#pragma once

#include <QString>
#include <QtGlobal>

// The one way this system turns a host text into an IPv4 address. Safe to call from any thread.
//
// "LOCALHOST" in any letter case is 127.0.0.1; a dotted IPv4 address is taken as it is (also in the forms
// IsValidIP accepts, with leading zeros read as decimal); any other text
// is looked up as a host name and its first IPv4 address is used. On failure the function returns false
// and, where asked for, gives an error number (the resolver's code made positive) and its description.
bool ResolveIPv4(const QString& host, quint32* addressHostOrder, int* errorCode = nullptr,
                 QString* errorText = nullptr);

// The address of a host text that needs no lookup ("LOCALHOST", or an address in one of the forms
// ResolveIPv4 takes as it is); false for a text that would have to be looked up. Never blocks.
bool ParseIPv4Literal(const QString& host, quint32* addressHostOrder);

// Name to its first IPv4 address as dotted text. An empty name stands for this computer; a dotted
// address answers itself; a name the system's resolver does not know is asked for by a NetBIOS name
// query on the local networks; a name that does not resolve answers the empty text. Never throws.
QString ResolveHostAddress(const QString& name);

// Dotted decimal text of an address in host byte order.
QString IPv4ToText(quint32 addressHostOrder);
