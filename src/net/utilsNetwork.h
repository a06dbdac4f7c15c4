#pragma once

#include <optional>
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Text rules for IPv4 and MAC addresses. Pure functions: no state, no errors escape, any thread.

// The integer text conversion every numeric text field of the system uses: leading spaces, at most one
// sign, then decimal digits or a hexadecimal prefix ("$", "x", "X", "0x", "0X") with hexadecimal digits,
// and nothing after the last digit. Decimal values must fit a signed 32-bit integer
// (-2147483648..2147483647); hexadecimal values are 32-bit patterns up to $FFFFFFFF ($FFFFFFFF is -1),
// the sign applied afterwards. Returns false (and leaves *value alone) when the text does not convert.
bool TryTextToInt(const QString& text, qint32* value);

// True when the text is a dotted IPv4 address: four fields that convert and are each below 256 when read
// as unsigned numbers (so negative fields are invalid).
bool IsValidIP(const QString& address);

// The address a text that passes IsValidIP stands for, in host byte order; false for any other text.
// Fields are read by the integer conversion, so "010" is ten, never eight.
bool ParseIPv4(const QString& address, quint32* addressHostOrder);

// True when the text, upper-cased, is 17 characters of 0-9, A-F and "-". Hyphen positions are not checked.
bool IsValidMAC(const QString& mac);

// The one form in which MAC addresses compare: twelve upper-case hexadecimal digits, for a text of
// exactly twelve such digits (either case) with "-", ":" or "." anywhere between them; the empty text for
// any other text. Typed names, the kernel's neighbours and a scan's hosts all meet in it.
QString MacDigits(const QString& text);

// The six bytes a wake-up sends for a stored MAC text: hyphens dropped, then the first twelve characters
// read as hexadecimal pairs (what follows them is ignored); nothing when that fails. Only hyphens
// separate here: the stored form is written with them, and a text with colons wakes nothing.
std::optional<QByteArray> MacBytes(const QString& text);

// The directed broadcast address of the address's subnet in plain dotted decimal, or the empty text when
// the address or the mask is not a valid dotted address. Works octet by octet, so any mask gives a result.
QString SubnetBroadcast(const QString& address, const QString& mask);
