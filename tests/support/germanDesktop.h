// The desktop a window test runs on: German, with a 14 pt font that the platform theme hands to the
// application as it starts. Call before the QApplication is made.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

inline bool UseGermanDesktop(const QTemporaryDir& config)
{
    QDir().mkpath(config.filePath(QStringLiteral("qt6ct")));
    QFile settings(config.filePath(QStringLiteral("qt6ct/qt6ct.conf")));
    if (!settings.open(QIODevice::WriteOnly) || settings.write("[Fonts]\ngeneral=\"DejaVu Sans,14\"\n") < 0)
        return false;
    settings.close();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("QT_QPA_PLATFORMTHEME", "qt6ct");
    qputenv("LANG", "de_DE.UTF-8");
    return true;
}
