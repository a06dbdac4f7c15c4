#pragma once

#include <QString>

// Where the database file lives. Portable mode keeps network.ccn beside the program when that folder
// already holds one, or a "sablewick.portable" marker, and is writable; otherwise the file lives in the
// user's data folder ($XDG_DATA_HOME/sablewick). An explicit file chosen on the command line wins.

inline constexpr char DatabaseFileName[] = "network.ccn";
inline constexpr char PortableMarkerName[] = "sablewick.portable";

// True when programDir qualifies for portable mode.
bool IsPortableFolder(const QString& programDir);

// The absolute path of the database file to use. explicitFile: the command line's choice, empty when
// none. Touches nothing on disk.
QString DatabaseFilePath(const QString& programDir, const QString& explicitFile = {});

// Creates the folder of the database file when it is missing. False (with the reason in error) when it
// cannot be made.
bool EnsureDatabaseFolder(const QString& filePath, QString* error = nullptr);

// The database file this process works on, for showing (the about box's tool tip); empty until set.
QString OpenDatabaseFile();
void SetOpenDatabaseFile(const QString& filePath);
