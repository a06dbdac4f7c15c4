// Texts written to a terminal: the plain (not JSON) output of the command line, and names from the
// network before they become computer names.
#pragma once

#include <QString>
#include <QStringList>

// A field of a plain output line. Tabs part the fields and line breaks the lines, so a name or reply
// holding one must not split its line, and no control character may reach the terminal (an escape
// sequence in a host name could retitle it or worse): \t, \n, \r and \\ as in C, every other control
// character (C0, DEL, C1) as \xHH, two lower-case hexadecimal digits of its code point.
QString PlainField(const QString& text);

// The fields of one line, each as PlainField writes it, joined by tabs and ended by a line break.
QString PlainLine(const QStringList& fields);

// A name learnt from the network (NetBIOS, DNS, mDNS) without control characters and backslashes, as a
// computer's name may hold neither.
QString CleanNetworkName(const QString& name);
