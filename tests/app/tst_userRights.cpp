#include "app/userRights.h"
#include "support/netns.h"

#include <QTest>
#include <unistd.h>

class TestUserRights : public QObject
{
    Q_OBJECT

private slots:
    void isUserAdminKnownAccounts_data();
    void isUserAdminKnownAccounts();
    void isUserAdminCreatedAccounts_data();
    void isUserAdminCreatedAccounts();
};

void TestUserRights::isUserAdminKnownAccounts_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("admin");
    QTest::newRow("root") << "root" << true;
    QTest::newRow("nobody") << "nobody" << false;
    QTest::newRow("unknown") << "no-such-account-sablewick" << false;
    QTest::newRow("empty") << "" << false;
}

void TestUserRights::isUserAdminKnownAccounts()
{
    QFETCH(QString, user);
    QFETCH(bool, admin);
    QCOMPARE(IsUserAdmin(user), admin);
}

void TestUserRights::isUserAdminCreatedAccounts_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("admin");
    QTest::newRow("ordinary") << QStringList() << false;
    QTest::newRow("primary group sudo") << QStringList{"-g", "sudo"} << true;
    QTest::newRow("supplementary group sudo") << QStringList{"-G", "sudo"} << true;
    QTest::newRow("other supplementary group") << QStringList{"-G", "users"} << false;
}

void TestUserRights::isUserAdminCreatedAccounts()
{
    QFETCH(QStringList, options);
    QFETCH(bool, admin);
    if (geteuid() != 0)
        QSKIP("creating accounts needs root");
    if (RunCommand("getent", {"group", "sudo"}) != 0)
        QSKIP("this machine has no group sudo");
    const QString user = QStringLiteral("swtst%1").arg(getpid() % 100000);
    RunCommand("userdel", {user});
    QStringList args{"-M", "-N", "-s", "/usr/sbin/nologin"};
    if (!options.contains("-g"))
        args << "-g"
             << "nogroup";
    args << options << user;
    QString output;
    if (RunCommand("useradd", args, &output) != 0)
        QSKIP(qPrintable("useradd failed: " + output));
    const bool result = IsUserAdmin(user);
    RunCommand("userdel", {user});
    QCOMPARE(result, admin);
}

QTEST_MAIN(TestUserRights)
#include "tst_userRights.moc"
