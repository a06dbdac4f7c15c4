#pragma once

#include <QString>

// The user's settings file, $XDG_CONFIG_HOME/sablewick/sablewick.conf (~/.config/sablewick/sablewick.conf),
// an INI file (QSettings::IniFormat) with one group of keys per feature. The database never holds them.
QString UserSettingsFile();
