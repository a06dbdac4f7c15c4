#include "product/editionLibrary.h"

#include "core/texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

namespace {

QString libraryFileName = QStringLiteral("swdist");

// The ordinary library search first; then the program's own library folder and its own folder, since a
// program holding a file capability runs with LD_LIBRARY_PATH ignored. A name with a folder is only
// tried as given.
bool LoadEdition(QLibrary& library)
{
    library.setFileName(libraryFileName);
    if (library.load() || libraryFileName.contains(QLatin1Char('/')) || !QCoreApplication::instance())
        return library.isLoaded();
    const QDir program(QCoreApplication::applicationDirPath());
    const QString file = QStringLiteral("lib%1.so").arg(libraryFileName);
    for (const QString& folder :
         {program.filePath(QStringLiteral("../" SABLEWICK_PRIVATE_LIBDIR)), program.path()}) {
        library.setFileName(QDir(folder).filePath(file));
        if (library.load())
            return true;
    }
    return false;
}

using TTextExport = const char* (*)();

// Copies the text that an exported function returns while the library is still loaded.
QString CallTextExport(const char* symbol, bool* found)
{
    if (found)
        *found = false;
    QLibrary library;
    if (!LoadEdition(library))
        return {};
    QString text;
    if (auto function = reinterpret_cast<TTextExport>(library.resolve(symbol))) {
        if (found)
            *found = true;
        if (const char* value = function())
            text = QString::fromLocal8Bit(value);
    }
    library.unload();
    return text;
}

} // namespace

QString TEditionLibrary::EditionName(bool* found)
{
    return CallTextExport("GetEditionName", found);
}

QString TEditionLibrary::EditionURL(bool* found)
{
    return CallTextExport("GetEditionURL", found);
}

QByteArray TEditionLibrary::Logo()
{
    QLibrary library;
    if (!LoadEdition(library))
        return {};
    QByteArray logo;
    const auto* data = reinterpret_cast<const char*>(library.resolve("oemlogo_JPEG"));
    const auto* size = reinterpret_cast<const unsigned int*>(library.resolve("oemlogo_JPEG_size"));
    if (data && size && *size > 0 && *size <= 64u * 1024u * 1024u)
        logo = QByteArray(data, static_cast<qsizetype>(*size));
    library.unload();
    return logo;
}

QString TEditionLibrary::FileName()
{
    return libraryFileName;
}

void TEditionLibrary::SetFileName(const QString& fileName)
{
    libraryFileName = fileName;
}

QString GetWindowTitle()
{
    const QString product = Res::Str(Res::ProductName);
    const QString edition = TEditionLibrary::EditionName();
    if (edition.isEmpty())
        return product;
    return product + QStringLiteral(" - ") + edition;
}
