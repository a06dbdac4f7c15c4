#include "net/utilsNetwork.h"

#include <array>
#include <optional>
#include <QStringList>

namespace {

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Cuts an address text into its four fields: three times the text before the first full stop (empty
// when none is left, the rest then kept whole), and the remainder as the fourth.
std::array<QString, 4> CutFields(QString text)
{
    std::array<QString, 4> fields;
    for (int i = 0; i < 3; ++i) {
        const qsizetype dot = text.indexOf(QLatin1Char('.'));
        if (dot < 0)
            continue;
        fields[i] = text.left(dot);
        text.remove(0, dot + 1);
    }
    fields[3] = text;
    return fields;
}

std::optional<std::array<quint32, 4>> ParseAddress(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    std::array<quint32, 4> values{};
    const auto fields = CutFields(text);
    for (int i = 0; i < 4; ++i) {
        qint32 value = 0;
        if (!TryTextToInt(fields[i], &value))
            return std::nullopt;
        values[i] = static_cast<quint32>(value);
        if (values[i] >= 256)
            return std::nullopt;
    }
    return values;
}

} // namespace

bool TryTextToInt(const QString& text, qint32* value)
{
    const qsizetype length = text.size();
    qsizetype pos = 0;
    while (pos < length && text[pos] == QLatin1Char(' '))
        ++pos;
    bool negative = false;
    if (pos < length && (text[pos] == QLatin1Char('-') || text[pos] == QLatin1Char('+'))) {
        negative = text[pos] == QLatin1Char('-');
        ++pos;
    }
    bool hex = false;
    if (pos < length &&
        (text[pos] == QLatin1Char('$') || text[pos] == QLatin1Char('x') || text[pos] == QLatin1Char('X'))) {
        hex = true;
        ++pos;
    } else if (pos + 1 < length && text[pos] == QLatin1Char('0') &&
               (text[pos + 1] == QLatin1Char('x') || text[pos + 1] == QLatin1Char('X'))) {
        hex = true;
        pos += 2;
    }
    if (pos >= length)
        return false;

    // Accumulate in 64 bits and stop as soon as the value leaves the 32-bit range, so any number of
    // digits is safe.
    const quint64 limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    quint64 magnitude = 0;
    for (; pos < length; ++pos) {
        int digit = -1;
        if (hex) {
            digit = HexDigit(text[pos]);
        } else if (text[pos] >= QLatin1Char('0') && text[pos] <= QLatin1Char('9')) {
            digit = text[pos].unicode() - u'0';
        }
        if (digit < 0)
            return false;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<quint64>(digit);
        if (magnitude > limit)
            return false;
    }
    quint32 pattern = static_cast<quint32>(magnitude);
    if (negative)
        pattern = 0u - pattern;
    if (value)
        *value = static_cast<qint32>(pattern);
    return true;
}

bool IsValidIP(const QString& address)
{
    return ParseAddress(address).has_value();
}

bool ParseIPv4(const QString& address, quint32* addressHostOrder)
{
    const auto values = ParseAddress(address);
    if (!values)
        return false;
    if (addressHostOrder)
        *addressHostOrder = ((*values)[0] << 24) | ((*values)[1] << 16) | ((*values)[2] << 8) | (*values)[3];
    return true;
}

bool IsValidMAC(const QString& mac)
{
    if (mac.size() != 17)
        return false;
    for (const QChar c : mac) {
        if (c != QLatin1Char('-') && HexDigit(c) < 0)
            return false;
    }
    return true;
}

QString MacDigits(const QString& text)
{
    QString hex;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F'))
            hex.append(c);
        else if (u >= 'a' && u <= 'f')
            hex.append(QChar(u - 'a' + 'A'));
        else if (u != '-' && u != ':' && u != '.')
            return {};
    }
    return hex.size() == 12 ? hex : QString();
}

std::optional<QByteArray> MacBytes(const QString& text)
{
    // The first twelve characters that are not hyphens, two hex digits a byte; a wake of thousands
    // reads one per computer, so nothing is copied on the way.
    QByteArray address(6, Qt::Uninitialized);
    int high = -1;
    int count = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('-'))
            continue;
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        if (high < 0) {
            high = digit;
            continue;
        }
        address[count++] = static_cast<char>(high << 4 | digit);
        high = -1;
        if (count == 6)
            return address;
    }
    return std::nullopt;
}

QString SubnetBroadcast(const QString& address, const QString& mask)
{
    const auto host = ParseAddress(address);
    const auto net = ParseAddress(mask);
    if (!host || !net)
        return QString();
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        parts << QString::number(((*net)[i] ^ 255u) | (*host)[i]);
    return parts.join(QLatin1Char('.'));
}
