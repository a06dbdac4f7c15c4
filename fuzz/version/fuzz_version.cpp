// Feeds arbitrary bytes, as the image of a program file, to the version section reader and reads both
// values from whatever section it finds.
#include "product/versionInfo.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray image(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray section = VersionSectionOf(image);
    if (section.size() > 64 * 1024)
        std::abort(); // the reader's own limit
    if (!section.isEmpty() && image.indexOf(section) < 0)
        std::abort(); // the section is a part of the image
    VersionValue(section, QStringLiteral("FileVersion"));
    VersionValue(section, QStringLiteral("Comments"));
    return 0;
}
