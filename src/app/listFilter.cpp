#include "app/listFilter.h"

#include "model/computers.h"

namespace {

bool IsMacSeparator(QChar ch)
{
    return ch == u'-' || ch == u':' || ch == u'.' || ch == u' ';
}

char16_t UpperHex(char16_t ch)
{
    return ch >= u'a' && ch <= u'f' ? char16_t(ch - u'a' + u'A') : ch;
}

// The digits of a MAC text hold the needle (upper-case hexadecimal digits). Up to 32 digits are looked at,
// more than any written MAC address has.
bool MacHolds(const QString& address, const QString& needle)
{
    char16_t digits[32];
    qsizetype count = 0;
    for (QChar ch : address) {
        if (IsMacSeparator(ch))
            continue;
        if (count == qsizetype(std::size(digits)))
            break;
        digits[count++] = UpperHex(ch.unicode());
    }
    const qsizetype length = needle.size();
    for (qsizetype start = 0; start + length <= count; ++start) {
        qsizetype i = 0;
        while (i < length && digits[start + i] == needle[i].unicode())
            ++i;
        if (i == length)
            return true;
    }
    return false;
}

char16_t AsciiLower(char16_t ch)
{
    return ch >= u'A' && ch <= u'Z' ? char16_t(ch - u'A' + u'a') : ch;
}

bool IsAscii(QStringView text)
{
    char16_t any = 0;
    for (QChar ch : text)
        any |= ch.unicode();
    return any < 0x80;
}

// The field holds the needle (ASCII, lower case), ignoring case. Both ASCII: Qt's case folding is then
// the ASCII one, and this loop does not look up every character in the Unicode tables.
bool AsciiHolds(QStringView field, QStringView needle)
{
    const qsizetype length = needle.size();
    const char16_t first = needle.front().unicode();
    const char16_t* text = field.utf16();
    for (qsizetype start = 0; start + length <= field.size(); ++start) {
        if (AsciiLower(text[start]) != first)
            continue;
        qsizetype i = 1;
        while (i < length && AsciiLower(text[start + i]) == needle[i].unicode())
            ++i;
        if (i == length)
            return true;
    }
    return false;
}

} // namespace

TListFilter::TListFilter(const QString& text) : FText(text.trimmed())
{
    if (IsAscii(FText)) {
        FAsciiLower = FText;
        for (QChar& ch : FAsciiLower)
            ch = QChar(AsciiLower(ch.unicode()));
    }
    QString digits;
    for (QChar ch : std::as_const(FText)) {
        if (IsMacSeparator(ch))
            continue;
        if (!(ch >= u'0' && ch <= u'9') && !(ch >= u'a' && ch <= u'f') && !(ch >= u'A' && ch <= u'F'))
            return;
        digits.append(QChar(UpperHex(ch.unicode())));
    }
    FMacDigits = digits;
}

bool TListFilter::Holds(const QString& field) const
{
    if (field.size() < FText.size())
        return false;
    // Outside ASCII, case folding has its own rules (the Kelvin sign folds to "k").
    if (FAsciiLower.isEmpty() || !IsAscii(field))
        return field.contains(FText, Qt::CaseInsensitive);
    return AsciiHolds(field, FAsciiLower);
}

bool TListFilter::Matches(const TComputer& computer) const
{
    if (FText.isEmpty())
        return true;
    if (Holds(computer.Name()) || Holds(computer.IPAddress) || Holds(computer.Comments))
        return true;
    const TMACAddresses* adapters = computer.MACAddresses();
    for (int i = 0; adapters && i < adapters->Count(); ++i) {
        const QString& address = adapters->Items(i)->Address;
        if (Holds(address) || (!FMacDigits.isEmpty() && MacHolds(address, FMacDigits)))
            return true;
    }
    return false;
}

bool TListFilter::Narrows(const TListFilter& other) const
{
    // A text of separators alone compares only as text; with a digit added it finds MAC addresses too.
    if (other.FMacDigits.isEmpty() && !FMacDigits.isEmpty())
        return false;
    return FText.contains(other.FText, Qt::CaseInsensitive);
}
