#pragma once

#include <QString>

// The version data of a program file: key=value lines ("FileVersion", "Comments") in an ELF section of
// their own, ".sablewick_version", added to the program after linking (src/app/extra.cmake). The file is
// read as untrusted input: a file that is missing, not ELF, truncated or without the section gives the
// defaults, "0.0.0.0" and "".

inline constexpr char VersionSectionName[] = ".sablewick_version";

// The "FileVersion" value, "0.0.0.0" when there is none.
QString GetFileVersionString(const QString& fileName);
// The "Comments" value, "" when there is none.
QString GetFileComments(const QString& fileName);

// The raw content of the version section, empty when the file has none (exposed for tests).
QByteArray ReadVersionSection(const QString& fileName);
// The same for an image of a program file held in memory.
QByteArray VersionSectionOf(const QByteArray& image);
// One value of the section's key=value lines; the empty text when the key is absent.
QString VersionValue(const QByteArray& section, const QString& key);
