#include "app/editionLibrary.h"

#include "core/texts.h"

#include <QLibrary>

namespace {

QString libraryFileName = QStringLiteral("swdist");

using TTextExport = const char* (*)();

// Copies the text that an exported function returns while the library is still loaded.
QString CallTextExport(const char* symbol, bool* found)
{
    if (found)
        *found = false;
    QLibrary library(libraryFileName);
    if (!library.load())
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
    QLibrary library(libraryFileName);
    if (!library.load())
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
