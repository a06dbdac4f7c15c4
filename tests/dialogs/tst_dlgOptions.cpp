#include "app/utilsGeneral.h"
#include "dialogs/dlgOptions.h"
#include "net/checkSettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The Options dialog writes the ports the checks use into the settings file, and refuses lists that do
// not read without touching what is saved.
class TestDlgOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(FConfig.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(FConfig.path()));
    }

    void editsThePortList_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QString>("stored");
        QTest::newRow("blanks, commas, a repeat") << " 3389 22,,22 "
                                                  << ""
                                                  << "3389, 22";
        QTest::newRow("empty turns probes off") << ""
                                                << ""
                                                << "";
        QTest::newRow("port 0") << "22, 0"
                                << "\"0\" is not a port number (1 to 65535)."
                                << "3389, 22";
        QTest::newRow("too large") << "65536"
                                   << "\"65536\" is not a port number (1 to 65535)."
                                   << "3389, 22";
        QTest::newRow("not a number") << "22 ssh"
                                      << "\"ssh\" is not a port number (1 to 65535)."
                                      << "3389, 22";
        QTest::newRow("too many") << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17"
                                  << "At most 16 ports can be tried."
                                  << "3389, 22";
    }
    void editsThePortList()
    {
        QFETCH(QString, typed);
        QFETCH(QString, warning);
        QFETCH(QString, stored);
        if (!warning.isEmpty())
            QVERIFY(SetTcpProbePorts({3389, 22}));
        TMessageRecorder recorder;
        TfrmOptions form;
        auto* edit = form.findChild<QLineEdit*>(QStringLiteral("edTcpPorts"));
        auto* label = form.findChild<QLabel*>(QStringLiteral("lblTcpPorts"));
        QVERIFY(edit && label);
        QCOMPARE(label->buddy(), edit);
        QVERIFY(!edit->accessibleName().contains(QLatin1Char('&')) && !edit->accessibleName().isEmpty());
        QTimer::singleShot(0, &form, [&] {
            edit->setText(typed);
            QTest::keyClick(edit, Qt::Key_Return);
            if (form.isVisible())
                form.reject();
        });
        QCOMPARE(form.exec(), warning.isEmpty() ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(recorder.Shown().size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QCOMPARE(recorder.Shown()[0].Text, warning);
        QCOMPARE(PortListText(TcpProbePorts()), stored);
        const QSettings file(FConfig.filePath(QStringLiteral("sablewick/sablewick.conf")),
                             QSettings::IniFormat);
        QVERIFY(file.contains(QStringLiteral("checks/tcpPorts")));
        QCOMPARE(file.value(QStringLiteral("checks/tcpPorts")).toString(), stored);
    }

private:
    QTemporaryDir FConfig;
};

QTEST_MAIN(TestDlgOptions)
#include "tst_dlgOptions.moc"
