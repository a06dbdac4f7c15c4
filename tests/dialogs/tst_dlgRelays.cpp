#include "core/texts.h"
#include "dialogs/dlgRelays.h"
#include "net/relayHub.h"
#include "ui/messageBoxes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

class TestDlgRelays : public QObject
{
    Q_OBJECT

    QTemporaryDir FDir;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", FDir.path().toUtf8()); }

    // What the dialog stores is what the file's reader gets back: a list of networks, a command with commas
    // and semicolons intact; a bad network or a taken name is refused with the field's message.
    void addedRelayReadsBack()
    {
        TMessageRecorder recorder;
        TfrmRelays relays;
        auto fill = [&](const QString& name, const QString& networks) {
            QTimer::singleShot(0, &relays, [&relays, name, networks] {
                auto* edit = relays.findChild<TfrmRelay*>();
                QVERIFY(edit);
                edit->edName->setText(name);
                edit->edDestination->setText(QStringLiteral("ssh://admin@gw.example:2222"));
                edit->edNetworks->setText(networks);
                edit->edCommand->setText(QStringLiteral("etherwake -i {interface} {mac}, x; logger {mac}"));
                edit->btnOK->click();
                if (edit->isVisible())
                    edit->reject();
            });
            relays.btnAdd->click();
        };
        fill(QStringLiteral("branch"), QStringLiteral("10.20.0.0/16, 192.168.7.9/24"));
        fill(QStringLiteral("bad"), QStringLiteral("10.20.0.0/33"));
        fill(QStringLiteral("Branch"), QStringLiteral("10.30.0.0/16"));
        QCOMPARE(recorder.Shown().size(), 2);
        QCOMPARE(recorder.Shown()[0].Text,
                 QStringLiteral("Relay bad: \"10.20.0.0/33\" is not a network; write it as "
                                "10.20.0.0/16."));
        QCOMPARE(recorder.Shown()[1].Text, QStringLiteral("There is already a relay named Branch."));
        QCOMPARE(relays.lvRelays->topLevelItemCount(), 1);
        const auto stored = LoadRelays(RelaysFilePath());
        QCOMPARE(stored.size(), size_t(1));
        QCOMPARE(stored[0].NetworkTexts(), QStringList({"10.20.0.0/16", "192.168.7.0/24"}));
        QCOMPARE(stored[0].Command, QStringLiteral("etherwake -i {interface} {mac}, x; logger {mac}"));
        // The running program routes by the new file at once.
        QCOMPARE(RelayNameFor(0x0A140505), QStringLiteral("branch"));
        QCOMPARE(RelayNameFor(0x0A150505), QString());
        // Removing asks first; No keeps the relay, in the file too.
        recorder.Clear();
        recorder.SetNextAnswer(QMessageBox::No);
        relays.btnRemove->click();
        QCOMPARE(recorder.Shown().size(), 1);
        QCOMPARE(recorder.Shown()[0].Text, Res::Str(Res::RelayRemoveAsk).arg(QStringLiteral("branch")));
        QCOMPARE(LoadRelays(RelaysFilePath()).size(), size_t(1));
        recorder.SetNextAnswer(QMessageBox::Yes);
        relays.btnRemove->click();
        QVERIFY(LoadRelays(RelaysFilePath()).empty());
        QVERIFY(!RelaysConfigured());
    }

    // What QSettings would merge or drop unsaid, and prefix lengths with a sign or a blank, are told; the
    // first group of a name is the one kept.
    void fileProblemsTold()
    {
        QFile file(RelaysFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "[a]\ndestination=first\nnetworks=10.1.0.0/16\n[General]\ndestination=g\nnetworks=10.3.0.0/16\n"
            "[a]\ndestination=second\nnetworks=10.2.0.0/16\n[b]\ndestination=h\nnetworks=10.1.1.1/+24\n"
            "[c]\ndestination=h\nnetworks=10.1.1.1/ 24\n[d]\ndestination=h\nnetworks=10.1.1.1/-0\n");
        file.close();
        TfrmRelays relays;
        const QString prefix =
            "Relay %1: in \"10.1.1.1/%2\", \"%2\" is not a prefix length; write a number from 0 "
            "to 32, as in 10.20.0.0/16.";
        QCOMPARE(relays.lbResult->text().split('\n'),
                 QStringList({"The group [General] of the relay file (line 4) cannot name a relay; give it "
                              "another name.",
                              "The relay file has a second group [a] (line 7); it is left out and the first "
                              "one is used.",
                              prefix.arg("b", "+24"), prefix.arg("c", " 24"), prefix.arg("d", "-0")}));
        QCOMPARE(relays.lvRelays->topLevelItemCount(), 1);
        QCOMPARE(relays.lvRelays->topLevelItem(0)->text(1), QStringLiteral("first"));
        QCOMPARE(relays.lvRelays->topLevelItem(0)->text(2), QStringLiteral("10.1.0.0/16"));
    }
};

QTEST_MAIN(TestDlgRelays)
#include "tst_dlgRelays.moc"
