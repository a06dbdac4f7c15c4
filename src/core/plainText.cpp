#include "core/plainText.h"

namespace {

bool IsControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

QString PlainField(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            escaped += QStringLiteral("\\\\");
            break;
        case '\t':
            escaped += QStringLiteral("\\t");
            break;
        case '\n':
            escaped += QStringLiteral("\\n");
            break;
        case '\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            if (IsControl(c.unicode()))
                escaped += QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QLatin1Char('0'));
            else
                escaped += c;
        }
    }
    return escaped;
}

QString PlainLine(const QStringList& fields)
{
    QStringList escaped;
    escaped.reserve(fields.size());
    for (const QString& field : fields)
        escaped.append(PlainField(field));
    return escaped.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

QString CleanNetworkName(const QString& name)
{
    QString clean;
    clean.reserve(name.size());
    for (const QChar c : name)
        if (c != QLatin1Char('\\') && !IsControl(c.unicode()))
            clean += c;
    return clean;
}
