#include "net/hostResolve.h"
#include "net/utilsNetwork.h"

#include <atomic>
#include <QtTest>
#include <thread>
#include <unistd.h>

class TestUtilsNetwork : public QObject
{
    Q_OBJECT

private slots:
    void TextToInt_data();
    void TextToInt();
    void IsValidIP_data();
    void IsValidIP();
    void IsValidMAC_data();
    void IsValidMAC();
    void SubnetBroadcast_data();
    void SubnetBroadcast();
    void ResolveIPv4_data();
    void ResolveIPv4();
    void ResolveIPv4ReportsFailure();
    void IPv4ToTextEveryWidth();
    void ResolveHostAddress_data();
    void ResolveHostAddress();
    void ResolveHostAddressOwnName();
    void RulesFromManyThreads();
};

void TestUtilsNetwork::TextToInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint32>("value");

    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("decimal") << "1000" << true << 1000;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("plus") << "+12" << true << 12;
    QTest::newRow("minus") << "-12" << true << -12;
    QTest::newRow("leading blanks") << "   42" << true << 42;
    QTest::newRow("blank then sign") << "  -5" << true << -5;
    QTest::newRow("dollar hex") << "$0A" << true << 10;
    QTest::newRow("dollar lower hex") << "$ff" << true << 255;
    QTest::newRow("x hex") << "x1F" << true << 31;
    QTest::newRow("X hex") << "XaB" << true << 171;
    QTest::newRow("0x hex") << "0x10" << true << 16;
    QTest::newRow("0X hex") << "0X10" << true << 16;
    QTest::newRow("signed hex") << "-$10" << true << -16;
    QTest::newRow("int max") << "2147483647" << true << 2147483647;
    QTest::newRow("int min") << "-2147483648" << true << qint32(-2147483647 - 1);
    QTest::newRow("hex full pattern") << "$FFFFFFFF" << true << -1;
    QTest::newRow("hex high bit") << "$80000000" << true << qint32(-2147483647 - 1);
    QTest::newRow("many leading zeros") << "0000000000000000000001" << true << 1;

    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << "   " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("two signs") << "+-1" << false << 0;
    QTest::newRow("prefix only") << "$" << false << 0;
    QTest::newRow("0x only") << "0x" << false << 0;
    QTest::newRow("trailing blank") << "1 " << false << 0;
    QTest::newRow("trailing letter") << "12a" << false << 0;
    QTest::newRow("blank after sign") << "- 1" << false << 0;
    QTest::newRow("tab is not a blank") << "\t1" << false << 0;
    QTest::newRow("sign after prefix") << "$-1" << false << 0;
    QTest::newRow("hex digit in decimal") << "1F" << false << 0;
    QTest::newRow("non-hex after prefix") << "$G1" << false << 0;
    QTest::newRow("decimal overflow") << "2147483648" << false << 0;
    QTest::newRow("negative overflow") << "-2147483649" << false << 0;
    QTest::newRow("hex overflow") << "$100000000" << false << 0;
    QTest::newRow("huge") << "99999999999999999999999999" << false << 0;
    QTest::newRow("double prefix") << "0x$1" << false << 0;
    QTest::newRow("full-width digit") << QString::fromUtf8("\xef\xbc\x91") << false << 0;
}

void TestUtilsNetwork::TextToInt()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(qint32, value);
    qint32 result = 12345;
    QCOMPARE(TryTextToInt(text, &result), ok);
    QCOMPARE(result, ok ? value : 12345);
}

void TestUtilsNetwork::IsValidIP_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("ordinary") << "192.168.0.1" << true;
    QTest::newRow("all zero") << "0.0.0.0" << true;
    QTest::newRow("all ones") << "255.255.255.255" << true;
    QTest::newRow("leading zeros") << "010.001.000.001" << true;
    QTest::newRow("leading blank") << " 10.0.0.1" << true;
    QTest::newRow("blanks in fields") << "10. 0. 0. 1" << true;
    QTest::newRow("hex field") << "$0A.0.0.1" << true;
    QTest::newRow("plus field") << "+1.2.3.4" << true;
    QTest::newRow("field 256") << "256.1.1.1" << false;
    QTest::newRow("negative field") << "1.2.3.-1" << false;
    QTest::newRow("negative zero is zero") << "1.2.3.-0" << true;
    QTest::newRow("hex pattern of -1") << "1.2.3.$FFFFFFFF" << false;
    QTest::newRow("trailing blank") << "10.0.0.1 " << false;
    QTest::newRow("three fields") << "1.2.3" << false;
    QTest::newRow("empty field") << "1..2.3" << false;
    QTest::newRow("five fields") << "1.2.3.4.5" << false;
    QTest::newRow("trailing dot") << "1.2.3.4." << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("host name") << "WORKSTATION7" << false;
    QTest::newRow("dotted name") << "a.b.c.d" << false;
    QTest::newRow("only dots") << "..." << false;
    QTest::newRow("hex overflow field") << "1.2.3.$100000000" << false;
}

void TestUtilsNetwork::IsValidIP()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(::IsValidIP(text), valid);
}

void TestUtilsNetwork::IsValidMAC_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("normal form") << "00-11-22-AA-BB-CC" << true;
    QTest::newRow("lower case") << "00-0c-29-aa-bb-cc" << true;
    QTest::newRow("no hyphens, 17 digits") << "0123456789ABCDEF0" << true;
    QTest::newRow("hyphens elsewhere") << "0-0112-2AABBCC---" << true;
    QTest::newRow("16 characters") << "00-11-22-AA-BB-C" << false;
    QTest::newRow("18 characters") << "00-11-22-AA-BB-CCD" << false;
    QTest::newRow("letter G") << "00-11-22-AA-BB-CG" << false;
    QTest::newRow("letter z") << "00-11-22-AA-BB-Cz" << false;
    QTest::newRow("colons") << "00:11:22:AA:BB:CC" << false;
    QTest::newRow("blank") << "00-11-22-AA-BB-C " << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("masked empty field") << "  -  -  -  -  -  " << false;
    QTest::newRow("non-ASCII letter") << QString::fromUtf8("00-11-22-AA-BB-C\xc3\xa4") << false;
}

void TestUtilsNetwork::IsValidMAC()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(::IsValidMAC(text), valid);
}

void TestUtilsNetwork::SubnetBroadcast_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("broadcast");

    QTest::newRow("class C") << "192.168.1.20"
                             << "255.255.255.0"
                             << "192.168.1.255";
    QTest::newRow("class A") << "10.1.2.3"
                             << "255.0.0.0"
                             << "10.255.255.255";
    QTest::newRow("mask zero") << "172.16.5.4"
                               << "0.0.0.0"
                               << "255.255.255.255";
    QTest::newRow("host mask") << "172.16.5.4"
                               << "255.255.255.255"
                               << "172.16.5.4";
    QTest::newRow("/20") << "172.16.37.4"
                         << "255.255.240.0"
                         << "172.16.47.255";
    QTest::newRow("non-contiguous") << "10.20.30.40"
                                    << "255.0.255.0"
                                    << "10.255.30.255";
    QTest::newRow("leading zeros normalised") << "010.001.000.001"
                                              << "255.255.255.255"
                                              << "10.1.0.1";
    QTest::newRow("hex field") << "$0A.0.0.1"
                               << "255.255.255.0"
                               << "10.0.0.255";
    QTest::newRow("invalid mask") << "192.168.1.20"
                                  << "255.255.255"
                                  << "";
    QTest::newRow("host name") << "WORKSTATION7"
                               << "255.255.255.0"
                               << "";
    QTest::newRow("empty mask") << "192.168.1.20"
                                << ""
                                << "";
    QTest::newRow("mask field 256") << "192.168.1.20"
                                    << "255.255.256.0"
                                    << "";
}

void TestUtilsNetwork::SubnetBroadcast()
{
    QFETCH(QString, address);
    QFETCH(QString, mask);
    QFETCH(QString, broadcast);
    QCOMPARE(::SubnetBroadcast(address, mask), broadcast);
}

void TestUtilsNetwork::ResolveIPv4_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<quint32>("address");

    QTest::newRow("LOCALHOST") << "LOCALHOST" << quint32(0x7F000001);
    QTest::newRow("mixed case") << "LocalHost" << quint32(0x7F000001);
    QTest::newRow("dotted") << "127.1.2.3" << quint32(0x7F010203);
    QTest::newRow("broadcast") << "255.255.255.255" << quint32(0xFFFFFFFF);
    // The system's own address rule holds: leading zeros are decimal, not octal.
    QTest::newRow("leading zeros decimal") << "010.001.000.011" << quint32(0x0A01000B);
    QTest::newRow("hex field") << "$7F.0.0.1" << quint32(0x7F000001);
}

void TestUtilsNetwork::ResolveIPv4()
{
    QFETCH(QString, host);
    QFETCH(quint32, address);
    quint32 result = 0;
    int code = -1;
    QString text = QStringLiteral("stale");
    QVERIFY(::ResolveIPv4(host, &result, &code, &text));
    QCOMPARE(result, address);
    QCOMPARE(code, 0);
    QVERIFY(text.isEmpty());
}

void TestUtilsNetwork::IPv4ToTextEveryWidth()
{
    QCOMPARE(::IPv4ToText(0), QStringLiteral("0.0.0.0"));
    QCOMPARE(::IPv4ToText(0xFFFFFFFF), QStringLiteral("255.255.255.255"));
    QCOMPARE(::IPv4ToText(0x0A64090B), QStringLiteral("10.100.9.11"));
    QCOMPARE(::IPv4ToText(0x7F01C800), QStringLiteral("127.1.200.0"));
}

void TestUtilsNetwork::ResolveIPv4ReportsFailure()
{
    // The reserved .invalid domain never resolves; /etc/hosts has no entry for it.
    const QString withNul(QStringLiteral("localhost") + QChar(0) + QStringLiteral("x"));
    for (const QString& host : {QStringLiteral("no-such-host.invalid"), QString(), withNul}) {
        quint32 result = 0xDEADBEEF;
        int code = 0;
        QString text;
        QVERIFY2(!::ResolveIPv4(host, &result, &code, &text), qPrintable(host));
        QVERIFY(code > 0);
        QVERIFY(!text.isEmpty());
        QCOMPARE(result, quint32(0xDEADBEEF));
    }
}

void TestUtilsNetwork::ResolveHostAddress_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");

    QTest::newRow("dotted answers itself") << "127.0.0.9"
                                           << "127.0.0.9";
    QTest::newRow("localhost") << "localhost"
                               << "127.0.0.1";
    QTest::newRow("leading zeros normalised") << "127.000.000.010"
                                              << "127.0.0.10";
    QTest::newRow("unresolvable") << "no-such-host.invalid"
                                  << "";
}

void TestUtilsNetwork::ResolveHostAddress()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QCOMPARE(::ResolveHostAddress(name), address);
}

void TestUtilsNetwork::ResolveHostAddressOwnName()
{
    char own[256] = {};
    QVERIFY(gethostname(own, sizeof(own) - 1) == 0);
    const QString expected = ::ResolveHostAddress(QString::fromLocal8Bit(own));
    if (expected.isEmpty())
        QSKIP("this machine's own host name does not resolve");
    QCOMPARE(::ResolveHostAddress(QString()), expected);
    QVERIFY(::IsValidIP(expected));
}

void TestUtilsNetwork::RulesFromManyThreads()
{
    // The rules keep no state: the same answers from several threads at once.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong] {
            for (int i = 0; i < 2000; ++i) {
                const QString address = QStringLiteral("10.%1.%2.7").arg(i % 256).arg(i / 256);
                if (!::IsValidIP(address) || !::IsValidMAC(QStringLiteral("00-11-22-aa-bb-cc")) ||
                    ::SubnetBroadcast(address, QStringLiteral("255.255.0.0")) !=
                        QStringLiteral("10.%1.255.255").arg(i % 256) ||
                    ::ResolveHostAddress(QStringLiteral("localhost")) != QStringLiteral("127.0.0.1"))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(TestUtilsNetwork)
#include "tst_utilsNetwork.moc"
