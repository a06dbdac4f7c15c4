#include "app/translations.h"

#include <memory>
#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Loads stem_de_DE or else stem_de from folder and installs it.
bool Install(const QString& stem, const QString& language, const QString& folder)
{
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    const QString full = stem + QLatin1Char('_') + QString(language).replace(u'-', u'_');
    const QString base = stem + QLatin1Char('_') + language.section(u'-', 0, 0);
    if (!translator->load(full, folder) && !translator->load(base, folder))
        return false;
    QCoreApplication::installTranslator(translator.release());
    return true;
}

} // namespace

QString TranslationsFolder()
{
    const QDir program(QCoreApplication::applicationDirPath());
    for (const char* relative : {"../share/sablewick/translations", "translations"}) {
        if (program.exists(QLatin1String(relative)))
            return QDir::cleanPath(program.filePath(QLatin1String(relative)));
    }
    return {};
}

void LoadTranslations(const QString& folder)
{
    if (folder.isEmpty())
        return;
    // The user's first language that this program speaks wins, and Qt's own texts follow it, so buttons
    // and messages never mix two languages. An English one ahead of it keeps the sources.
    for (const QString& language : QLocale().uiLanguages()) {
        if (language == QLatin1String("C") || language.startsWith(QLatin1String("en")))
            return;
        if (Install(QStringLiteral("sablewick"), language, folder)) {
            Install(QStringLiteral("qtbase"), language, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
            return;
        }
    }
}
