#include "core/userSettings.h"

#include <QStandardPaths>

QString UserSettingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/sablewick/sablewick.conf");
}
