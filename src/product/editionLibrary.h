#pragma once

#include <QByteArray>
#include <QString>

// The optional edition library: a shared library "swdist" (libswdist.so) found through the normal
// library search. Everything it offers is optional; a missing library or export means "no edition".
//
// Exports, all with C linkage:
//   const char* GetEditionName(void);             the edition's name, zero-terminated (may be empty)
//   const char* GetEditionURL(void);              the edition's web address, zero-terminated
//   const unsigned char oemlogo_JPEG[];           the edition's logo, a JPEG file's bytes
//   const unsigned int oemlogo_JPEG_size;         the number of bytes in oemlogo_JPEG
//
// The library is loaded for each use and unloaded again before the call returns, whatever happens.
class TEditionLibrary
{
public:
    // The edition's name; empty when the library or the export is missing or gives a null pointer.
    static QString EditionName(bool* found = nullptr);
    // The edition's web address; empty when the library or the export is missing.
    static QString EditionURL(bool* found = nullptr);
    // The logo's JPEG bytes; empty when the library or either export is missing.
    static QByteArray Logo();

    // The file name handed to the library search ("swdist"). Tests point it at a library of their own.
    static QString FileName();
    static void SetFileName(const QString& fileName);
};

// "Sablewick", or "Sablewick - " followed by the edition's name when the edition library names one.
QString GetWindowTitle();
