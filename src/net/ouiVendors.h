// Vendor names of hardware addresses, from the IEEE list of organisationally unique identifiers.
#pragma once

#include <QString>
#include <QStringList>

// The organisation that the first three bytes of a MAC address (any of the forms "00-1b-21-..",
// "00:1B:21:..", "001B21..") are assigned to; the empty text when the list does not have it, the
// address is not one, or no list is installed. The list Debian ships (ieee-data) is read once, on
// first use, from the first of OuiListFiles() that can be read: a slow first call, so not on the
// window's thread. Any thread.
QString VendorOfMac(const QString& mac);

// Where the list is looked for, in order: the comma-separated form, then the text form.
QStringList OuiListFiles();
