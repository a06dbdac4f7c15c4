#pragma once

#include <QString>

// The folder of the program's .qm files: share/sablewick/translations beside the installed program's
// bin folder, or translations/ beside a program in its build tree; empty when neither exists.
QString TranslationsFolder();

// Installs the translations of the user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG): the program's
// own and Qt's. English is the language of the sources, so an English user gets no translator at all.
// Needs the application object.
void LoadTranslations(const QString& folder = TranslationsFolder());
