#include "product/databaseLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

namespace {

QString openDatabaseFile;

// access() asks the kernel, so ACLs, read-only mounts and root's privileges all count; QFileInfo's
// permission bits would not.
bool IsWritableFolder(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

} // namespace

bool IsPortableFolder(const QString& programDir)
{
    const QDir dir(programDir);
    const bool marked = QFileInfo::exists(dir.filePath(QLatin1String(DatabaseFileName))) ||
                        QFileInfo::exists(dir.filePath(QLatin1String(PortableMarkerName)));
    return marked && IsWritableFolder(programDir);
}

QString DatabaseFilePath(const QString& programDir, const QString& explicitFile)
{
    if (!explicitFile.isEmpty())
        return QFileInfo(explicitFile).absoluteFilePath();
    if (IsPortableFolder(programDir))
        return QDir(programDir).absoluteFilePath(QLatin1String(DatabaseFileName));
    // AppDataLocation is $XDG_DATA_HOME/<organization>/<application>; the program sets no organization,
    // so it is ~/.local/share/sablewick.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(data).absoluteFilePath(QLatin1String(DatabaseFileName));
}

bool EnsureDatabaseFolder(const QString& filePath, QString* error)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (QFileInfo(folder).isDir() || QDir().mkpath(folder))
        return true;
    if (error)
        *error = folder;
    return false;
}

QString OpenDatabaseFile()
{
    return openDatabaseFile;
}

void SetOpenDatabaseFile(const QString& filePath)
{
    openDatabaseFile = filePath;
}
