#include "product/webAddresses.h"

QString HexToText(const QString& hex)
{
    QString result;
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2) {
        bool ok = false;
        const uint code = QStringView(hex).mid(i, 2).toUInt(&ok, 16);
        if (ok)
            result.append(QChar(static_cast<char16_t>(code)));
    }
    return result;
}
