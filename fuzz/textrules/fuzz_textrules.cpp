// Feeds arbitrary texts to the integer, IPv4 and MAC text rules and compares every answer with a plain
// reading of the rules written here a second way (a pattern match and whole-text splitting). The input is
// UTF-8; a "|" splits it into an address and a mask for SubnetBroadcast.
#include "net/utilsNetwork.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <QRegularExpression>
#include <QStringList>

namespace {

[[noreturn]] void Fail(const char* what, const QString& a, const QString& b = QString())
{
    std::fprintf(stderr, "%s: [%s] [%s]\n", what, qUtf8Printable(a), qUtf8Printable(b));
    std::abort();
}

std::optional<qint32> ReferenceInt(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^ *([+-]?)(\\$|0x|0X|x|X)?([0-9A-Fa-f]+)\\z"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const bool negative = match.captured(1) == QLatin1String("-");
    const bool hex = !match.captured(2).isEmpty();
    const QString digits = match.captured(3);
    quint64 magnitude = 0;
    for (const QChar c : digits) {
        const int digit = c.isDigit() ? c.digitValue() : c.toUpper().unicode() - u'A' + 10;
        if (!hex && digit > 9)
            return std::nullopt;
        magnitude = magnitude * (hex ? 16 : 10) + quint64(digit);
        if (magnitude > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (!hex && magnitude > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        return std::nullopt;
    const quint32 pattern32 = negative ? 0u - quint32(magnitude) : quint32(magnitude);
    return static_cast<qint32>(pattern32);
}

// Exactly three full stops, four fields that convert, each below 256 as an unsigned number.
std::optional<std::array<quint32, 4>> ReferenceAddress(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char('.'));
    if (fields.size() != 4)
        return std::nullopt;
    std::array<quint32, 4> values{};
    for (int i = 0; i < 4; ++i) {
        const auto value = ReferenceInt(fields[i]);
        if (!value || quint32(*value) >= 256)
            return std::nullopt;
        values[i] = quint32(*value);
    }
    return values;
}

bool ReferenceMac(const QString& text)
{
    if (text.size() != 17)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const char16_t upper = (u >= u'a' && u <= u'z') ? char16_t(u - 32) : u;
        if (!(upper == u'-' || (upper >= u'0' && upper <= u'9') || (upper >= u'A' && upper <= u'F')))
            return false;
    }
    return true;
}

void CheckInt(const QString& text)
{
    qint32 value = 0x5A5A5A5A;
    const bool converted = TryTextToInt(text, &value);
    const auto expected = ReferenceInt(text);
    if (converted != expected.has_value())
        Fail("TryTextToInt accepts differently", text);
    if (!converted && value != 0x5A5A5A5A)
        Fail("TryTextToInt changed the value of a failed conversion", text);
    if (converted && value != *expected)
        Fail("TryTextToInt gives another value", text);
}

void CheckAddress(const QString& text)
{
    const auto expected = ReferenceAddress(text);
    if (IsValidIP(text) != expected.has_value())
        Fail("IsValidIP differs", text);
    quint32 address = 0;
    if (ParseIPv4(text, &address) != expected.has_value())
        Fail("ParseIPv4 differs from IsValidIP", text);
    if (expected &&
        address != (((*expected)[0] << 24) | ((*expected)[1] << 16) | ((*expected)[2] << 8) | (*expected)[3]))
        Fail("ParseIPv4 gives another address", text);
}

void CheckBroadcast(const QString& address, const QString& mask)
{
    const QString broadcast = SubnetBroadcast(address, mask);
    const auto host = ReferenceAddress(address);
    const auto net = ReferenceAddress(mask);
    if (broadcast.isEmpty() != !(host && net))
        Fail("SubnetBroadcast answers for invalid input or not for valid input", address, mask);
    if (broadcast.isEmpty())
        return;
    if (!IsValidIP(broadcast))
        Fail("SubnetBroadcast answers an invalid address", address, mask);
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        parts << QString::number(((*net)[i] ^ 255u) | (*host)[i]);
    if (broadcast != parts.join(QLatin1Char('.')))
        Fail("SubnetBroadcast gives another address", address, mask);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString input =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype bar = input.indexOf(QLatin1Char('|'));
    const QString first = bar < 0 ? input : input.left(bar);
    const QString second = bar < 0 ? QString() : input.mid(bar + 1);

    CheckInt(input);
    CheckInt(first);
    CheckAddress(first);
    CheckAddress(second);
    CheckBroadcast(first, second);
    CheckBroadcast(second, first);
    if (IsValidMAC(input) != ReferenceMac(input))
        Fail("IsValidMAC differs", input);
    return 0;
}
