#pragma once

#include <QString>

// The web addresses the program opens, kept as hexadecimal text (turned into text with HexToText).
// The help menu and the about box share them.
namespace WebAddress {

inline constexpr char Professional[] =
    "68747470733A2F2F7777772E7361626C657769636B2E6578616D706C652F70726F66657373696F6E616C2F";
inline constexpr char OstrelDev[] = "68747470733A2F2F7777772E6F737472656C2E6578616D706C652F";
inline constexpr char Quandrel[] = "68747470733A2F2F7777772E7175616E6472656C2E6578616D706C652F";
inline constexpr char Support[] =
    "68747470733A2F2F666F72756D732E6F737472656C2E6578616D706C652F737570706F72742F";

} // namespace WebAddress

// The characters coded by a string of hexadecimal digit pairs; invalid pairs are skipped and a single
// trailing digit is ignored.
QString HexToText(const QString& hex);
