// TListFilter: which computers the filter field above the main window's list keeps.
#pragma once

#include <QString>

class TComputer;

// A text typed into the filter field, prepared once, then tested against each computer without making a
// string per computer: a list of tens of thousands is filtered at each keystroke.
class TListFilter
{
public:
    TListFilter() = default;
    explicit TListFilter(const QString& text);

    // True for the empty filter, which keeps every computer.
    bool IsEmpty() const { return FText.isEmpty(); }
    const QString& Text() const { return FText; }

    // The name, IP address, comments or one of the MAC addresses holds the text, ignoring case. A MAC
    // address matches in any of its written forms: 00-11-22, 00:11:22, 001122 and 0011.22 all find
    // 00-11-22-33-44-55, and so does any part of it.
    bool Matches(const TComputer& computer) const;

    // Everything this filter keeps, the other keeps too (it is a part of this one's text): narrowing
    // needs to test only the computers still shown.
    bool Narrows(const TListFilter& other) const;

private:
    // The text is in the field, ignoring case.
    bool Holds(const QString& field) const;

    QString FText;
    // The text in lower case when it is all ASCII; else empty, and fields are searched by Qt's rules.
    QString FAsciiLower;
    // The text's hexadecimal digits when it holds nothing but those and separators; else empty.
    QString FMacDigits;
};
