#include "product/webAddresses.h"

#include <QTest>

class TestWebAddresses : public QObject
{
    Q_OBJECT

private slots:
    void hexToText_data();
    void hexToText();
};

void TestWebAddresses::hexToText_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("text");
    QTest::newRow("invalid pair skipped") << "41ZZ42"
                                          << "AB";
    QTest::newRow("odd digit ignored") << "414"
                                       << "A";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("single digit") << "4"
                                  << "";
    QTest::newRow("lower case digits") << "6a6B"
                                       << "jk";
    QTest::newRow("half-valid pair skipped") << "4G41"
                                             << "A";
    QTest::newRow("web address") << "68747470733A2F2F782E6578616D706C652F"
                                 << "https://x.example/";
    QTest::newRow("high codes") << "E9FF" << QString::fromUtf8("\u00e9\u00ff");
}

void TestWebAddresses::hexToText()
{
    QFETCH(QString, hex);
    QFETCH(QString, text);
    QCOMPARE(HexToText(hex), text);
}

QTEST_GUILESS_MAIN(TestWebAddresses)
#include "tst_webAddresses.moc"
