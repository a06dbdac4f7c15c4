#include "core/texts.h"
#include "core/worker.h"
#include "dialogs/dlgNetEnum.h"
#include "dialogs/dlgProgress.h"
#include "dialogs/wizNewComp.h"
#include "net/threadMac.h"
#include "support/isolatedNetwork.h"
#include "ui/macEdit.h"
#include "ui/messageBoxes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <QWindow>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString isolationProblem;

const QString EmptyMAC = QStringLiteral("  -  -  -  -  -  ");

// A node on the loopback network that answers NetBIOS adapter status questions with a unit ID of its
// own, after a delay, the way a computer on the LAN answers the detection.
class TFakeNode : public QObject
{
public:
    TFakeNode(const QString& address, const QByteArray& unitId, int delayMs)
        : FUnitId(unitId), FDelayMs(delayMs)
    {
        FSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(137);
        FOk = FSocket >= 0 && inet_pton(AF_INET, address.toLatin1().constData(), &local.sin_addr) == 1 &&
              bind(FSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
        if (FOk) {
            FNotifier = new QSocketNotifier(FSocket, QSocketNotifier::Read, this);
            connect(FNotifier, &QSocketNotifier::activated, this, [this] { Answer(); });
        }
    }
    ~TFakeNode() override
    {
        delete FNotifier;
        if (FSocket >= 0)
            close(FSocket);
    }
    bool Ok() const { return FOk; }
    int Questions() const { return FQuestions; }

private:
    void Answer()
    {
        for (;;) {
            char buffer[1500];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got =
                recvfrom(FSocket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0)
                return;
            const QByteArray request(buffer, int(got));
            // Header, then the question name (length 32, encoded name, end).
            if (request.size() < 12 + 34)
                continue;
            ++FQuestions;
            QByteArray reply = request.left(2);
            reply += QByteArray::fromHex("8400"
                                         "0000"
                                         "0001"
                                         "0000"
                                         "0000");
            reply += request.mid(12, 34);
            reply += QByteArray::fromHex("0021"
                                         "0001"
                                         "00000000");
            QByteArray data;
            data += char(1);
            data += QByteArray("FAKENODE        ", 16) + QByteArray::fromHex("0400");
            data += FUnitId + QByteArray(40, '\0');
            reply += char(data.size() >> 8);
            reply += char(data.size() & 0xFF);
            reply += data;
            QTimer::singleShot(FDelayMs, this, [this, reply, from] {
                sendto(FSocket, reply.constData(), size_t(reply.size()), 0,
                       reinterpret_cast<const sockaddr*>(&from), sizeof from);
            });
        }
    }

    int FSocket = -1;
    QSocketNotifier* FNotifier = nullptr;
    QByteArray FUnitId;
    int FDelayMs;
    bool FOk = false;
    int FQuestions = 0;
};

// Detection goes out through one adapter on the loopback network, so a computer named by its address
// in 127/8 is asked directly.
void UseLoopbackAdapter()
{
    TMacDetectionSources sources;
    sources.EnumerateAdapters = [](std::vector<TLanAdapter>& adapters) {
        adapters = {TLanAdapter{QStringLiteral("lo"), 0x7F000001u, 0x7FFFFFFFu}};
        return true;
    };
    sources.LocalInterfaces = [](QStringList&) { return -1; };
    SetMacDetectionSources(sources);
}

// Runs the wizard modally; script runs once the modal loop is up. Returns the result.
int RunModal(TfrmWizNewComp& wizard, const std::function<void()>& script)
{
    QTimer::singleShot(0, &wizard, [&wizard, script] {
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        script();
        // A script that ends without closing the wizard must not leave the test hanging.
        if (wizard.isVisible())
            wizard.reject();
    });
    return wizard.exec();
}

void TypeMAC(TfrmWizNewComp& wizard, const QString& digits)
{
    wizard.edMACAddress->setFocus();
    wizard.edMACAddress->selectAll();
    QTest::keyClicks(wizard.edMACAddress, digits);
}

// Fills the pages and moves to the summary.
void FillToSummary(TfrmWizNewComp& wizard, int connection, const QString& name, const QString& ip,
                   const QString& macDigits)
{
    wizard.cbSendOptions->setCurrentIndex(connection);
    wizard.edComputername->setText(name);
    wizard.btnNext->click();
    wizard.edIPAddress->setText(ip);
    wizard.btnNext->click();
    TypeMAC(wizard, macDigits);
    wizard.btnNext->click();
}

QStringList SummaryLines(const TfrmWizNewComp& wizard)
{
    return wizard.memComp->toPlainText().split(QLatin1Char('\n'));
}

} // namespace

class TstWizNewComp : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 30000);
        UseLoopbackAdapter();
    }

    void firstPage();
    void validation_data();
    void validation();
    void nameTypedInLowerCase_data();
    void nameTypedInLowerCase();
    void internetDisablesBrowseOnly();
    void autoDetectIP_data();
    void autoDetectIP();
    void summary_data();
    void summary();
    void finishAndBack();
    void cancel_data();
    void cancel();
    void detectionWithProgress();
    void detectionCompletingOnSummary();
    void detectionFindingNothingSaysSo();
    void cancelInProgressWindow();
    void secondDetectionDropsTheFirst();
    void pickFromTheNetwork_data();
    void pickFromTheNetwork();
    void browseWithoutPick_data();
    void browseWithoutPick();
    void escapeInUnfinishedMAC();
    void wizardGoesWhileDetecting();
    void ownedWizardStaysUsableWhileDetecting();
    void fieldsNamedForScreenReaders();
};

void TstWizNewComp::firstPage()
{
    TfrmWizNewComp wizard;
    QCOMPARE(wizard.windowTitle(), QStringLiteral("New computer wizard"));
    QCOMPARE(wizard.CurrentPage(), 0);
    QCOMPARE(wizard.Notebook1->currentIndex(), 0);
    QCOMPARE(wizard.lbHeaderCaption->text(), Res::Str(Res::WizNameCaption));
    QCOMPARE(wizard.lbHeaderDescr->text(), Res::Str(Res::WizNameDescr));
    QVERIFY(!wizard.btnBack->isEnabled());
    QCOMPARE(wizard.btnNext->text(), QStringLiteral("Next >"));
    QCOMPARE(wizard.cbSendOptions->currentIndex(), 0);
    QCOMPARE(wizard.cbSendOptions->count(), 2);
    QCOMPARE(wizard.edMACAddress->MaskedText(), EmptyMAC);
    QCOMPARE(wizard.focusWidget(), wizard.cbSendOptions);
    QCOMPARE(wizard.lbFinished->text().count(QStringLiteral("review  your")), 1);
}

void TstWizNewComp::validation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("macDigits"); // typed into the field; empty: untouched
    QTest::addColumn<int>("stopsOnPage");
    QTest::addColumn<QString>("message");

    const QString name = Res::Str(Res::WizNameRequired);
    const QString ip = Res::Str(Res::WizIPInvalid);
    const QString mac = Res::Str(Res::WizMACInvalid);
    QTest::newRow("empty name") << ""
                                << "10.0.0.5"
                                << "001122334455" << 0 << name;
    QTest::newRow("empty IP") << "PC1"
                              << ""
                              << "001122334455" << 1 << ip;
    QTest::newRow("host name is no IP") << "PC1"
                                        << "pc1.lan"
                                        << "001122334455" << 1 << ip;
    QTest::newRow("octet above 255") << "PC1"
                                     << "10.0.0.256"
                                     << "001122334455" << 1 << ip;
    QTest::newRow("three octets") << "PC1"
                                  << "10.0.5"
                                  << "001122334455" << 1 << ip;
    QTest::newRow("untouched MAC") << "PC1"
                                   << "10.0.0.5"
                                   << "" << 2 << mac;
    QTest::newRow("letters beyond F") << "PC1"
                                      << "10.0.0.5"
                                      << "0011223344GG" << 2 << mac;
    QTest::newRow("all valid") << "PC1"
                               << "10.0.0.5"
                               << "00aabbccddee" << 3 << "";
}

void TstWizNewComp::validation()
{
    QFETCH(QString, name);
    QFETCH(QString, ip);
    QFETCH(QString, macDigits);
    QFETCH(int, stopsOnPage);
    QFETCH(QString, message);

    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    wizard.show();
    QVERIFY(QTest::qWaitForWindowActive(&wizard));
    wizard.edComputername->setText(name);
    wizard.edIPAddress->setText(ip);
    if (!macDigits.isEmpty()) {
        wizard.edMACAddress->SetTextByProgram(macDigits.left(2) + '-' + macDigits.mid(2, 2) + '-' +
                                              macDigits.mid(4, 2) + '-' + macDigits.mid(6, 2) + '-' +
                                              macDigits.mid(8, 2) + '-' + macDigits.mid(10, 2));
    }
    for (int i = 0; i < 4; ++i)
        wizard.btnNext->click();
    QCOMPARE(wizard.CurrentPage(), stopsOnPage);
    QCOMPARE(wizard.Notebook1->currentIndex(), stopsOnPage);
    if (message.isEmpty()) {
        QVERIFY(boxes.Shown().isEmpty());
        QCOMPARE(wizard.btnNext->text(), QStringLiteral("Finish"));
        return;
    }
    // Every further press of Next repeats the same one message.
    QCOMPARE(boxes.Shown().size(), 4 - stopsOnPage);
    QCOMPARE(boxes.Shown().first().Text, message);
    QCOMPARE(boxes.Shown().first().Icon, QMessageBox::Warning);
    QWidget* field = stopsOnPage == 0   ? static_cast<QWidget*>(wizard.edComputername)
                     : stopsOnPage == 1 ? static_cast<QWidget*>(wizard.edIPAddress)
                                        : static_cast<QWidget*>(wizard.edMACAddress);
    QCOMPARE(wizard.focusWidget(), field);
}

void TstWizNewComp::nameTypedInLowerCase_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("leftBeforeLast"); // caret moves left this often before the last character
    QTest::addColumn<QString>("shown");
    QTest::newRow("ASCII") << "pc-one7x" << 0 << "PC-ONE7X";
    // A letter whose upper case is longer stays as typed: nothing moves under the caret.
    QTest::newRow("sharp s") << "fußball" << 0 << "FUßBALL";
    QTest::newRow("mixed scripts") << "büro-straße-电脑" << 0 << "BÜRO-STRAßE-电脑";
    QTest::newRow("sharp s typed in the middle") << "fuballß" << 4 << "FUßBALL";
    QTest::newRow("letter typed after a sharp s") << "ßab" << 1 << "ßBA";
}

void TstWizNewComp::nameTypedInLowerCase()
{
    QFETCH(QString, typed);
    QFETCH(int, leftBeforeLast);
    QFETCH(QString, shown);
    TfrmWizNewComp wizard;
    wizard.show();
    QVERIFY(QTest::qWaitForWindowActive(&wizard));
    wizard.edComputername->setFocus();
    // Key presses that carry any character, as a keyboard layout or input method delivers them.
    const auto type = [&wizard](const QString& text) {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, wizard.edComputername, Qt::Key_unknown, QString(c),
                                Qt::NoModifier);
    };
    type(typed.chopped(1));
    for (int i = 0; i < leftBeforeLast; ++i)
        QTest::keyClick(wizard.edComputername, Qt::Key_Left);
    const int caret = wizard.edComputername->cursorPosition();
    type(typed.right(1));
    QCOMPARE(wizard.edComputername->text(), shown);
    QCOMPARE(wizard.edComputername->displayText(), shown);
    QCOMPARE(wizard.edComputername->cursorPosition(), caret + 1);
}

void TstWizNewComp::internetDisablesBrowseOnly()
{
    TfrmWizNewComp wizard;
    wizard.show();
    QVERIFY(QTest::qWaitForWindowActive(&wizard));
    // An Auto-detect button pressed with an empty name only disables itself.
    wizard.btnAutoIP->click();
    QVERIFY(!wizard.btnAutoIP->isEnabled());
    QVERIFY(wizard.btnAutoMAC->isEnabled());

    wizard.cbSendOptions->setFocus();
    QTest::keyClick(wizard.cbSendOptions, Qt::Key_Down);
    QCOMPARE(wizard.cbSendOptions->currentIndex(), 1);
    QVERIFY(!wizard.btnBrowseNet->isEnabled());
    QVERIFY(!wizard.btnAutoIP->isEnabled());
    QVERIFY(wizard.btnAutoMAC->isEnabled());

    QTest::keyClick(wizard.cbSendOptions, Qt::Key_Up);
    QCOMPARE(wizard.cbSendOptions->currentIndex(), 0);
    QVERIFY(wizard.btnBrowseNet->isEnabled());
    QVERIFY(!wizard.btnAutoIP->isEnabled());

    // Only a change of the name brings the Auto-detect buttons back.
    wizard.edComputername->setText(QStringLiteral("PC1"));
    QVERIFY(wizard.btnAutoIP->isEnabled());
}

void TstWizNewComp::autoDetectIP_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("loopback name") << "localhost"
                                   << "10.1.1.1"
                                   << "127.0.0.1";
    QTest::newRow("dotted address answers itself") << "127.0.0.9"
                                                   << ""
                                                   << "127.0.0.9";
    QTest::newRow("name that does not resolve clears") << "NO-SUCH-HOST-X9.INVALID"
                                                       << "10.1.1.1"
                                                       << "";
    QTest::newRow("empty name keeps the field") << ""
                                                << "10.1.1.1"
                                                << "10.1.1.1";
}

void TstWizNewComp::autoDetectIP()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    QFETCH(QString, name);
    QFETCH(QString, before);
    QFETCH(QString, after);
    TfrmWizNewComp wizard;
    wizard.edComputername->setText(name);
    wizard.edIPAddress->setText(before);
    QVERIFY(wizard.btnAutoIP->isEnabled());
    wizard.btnAutoIP->click();
    QCOMPARE(wizard.edIPAddress->text(), after);
    QVERIFY(!wizard.btnAutoIP->isEnabled());
}

void TstWizNewComp::summary_data()
{
    QTest::addColumn<int>("connection");
    QTest::addColumn<QString>("connectionText");
    QTest::newRow("LAN") << 0 << "Home network (LAN)";
    QTest::newRow("Internet") << 1 << "Internet";
}

void TstWizNewComp::summary()
{
    QFETCH(int, connection);
    QFETCH(QString, connectionText);
    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    wizard.show();
    QVERIFY(QTest::qWaitForWindowActive(&wizard));
    FillToSummary(wizard, connection, QStringLiteral("PC1"), QStringLiteral("10.0.0.5"),
                  QStringLiteral("001122334455"));
    QVERIFY(boxes.Shown().isEmpty());
    QCOMPARE(wizard.CurrentPage(), 3);
    QCOMPARE(SummaryLines(wizard), (QStringList{
                                       QStringLiteral("Computer name\t: PC1"),
                                       QStringLiteral("Connection\t: ") + connectionText,
                                       QStringLiteral("IP Address\t: 10.0.0.5"),
                                       QStringLiteral("MAC Address\t: 00-11-22-33-44-55"),
                                   }));
    QCOMPARE(wizard.memComp->document()->blockCount(), 4);
    QCOMPARE(wizard.lbHeaderCaption->text(), Res::Str(Res::WizFinishCaption));
    QCOMPARE(wizard.focusWidget(), wizard.btnNext);

    // Back and forward again rebuilds it from the fields.
    wizard.btnBack->click();
    TypeMAC(wizard, QStringLiteral("a1b2c3d4e5f6"));
    wizard.btnNext->click();
    QCOMPARE(SummaryLines(wizard).value(3), QStringLiteral("MAC Address\t: A1-B2-C3-D4-E5-F6"));
    QCOMPARE(SummaryLines(wizard).size(), 4);
    QVERIFY(wizard.memComp->toolTip().isEmpty());

    // A 300-character name is shortened to fit its line; the tool tip shows the whole summary.
    const QString longName = QString(300, QLatin1Char('N'));
    wizard.btnBack->click();
    wizard.btnBack->click();
    wizard.btnBack->click();
    wizard.edComputername->setText(longName);
    for (int i = 0; i < 3; ++i)
        wizard.btnNext->click();
    QCOMPARE(wizard.CurrentPage(), 3);
    const QString first = SummaryLines(wizard).value(0);
    QVERIFY(first.startsWith(QStringLiteral("Computer name\t: NNN")));
    QVERIFY(first.endsWith(QChar(0x2026)));
    const int tabEnd = int(wizard.memComp->tabStopDistance());
    const int lineWidth =
        tabEnd + wizard.memComp->fontMetrics().horizontalAdvance(first.mid(first.indexOf('\t') + 1));
    QVERIFY2(lineWidth <= wizard.memComp->viewport()->width(), qPrintable(QString::number(lineWidth)));
    QCOMPARE(SummaryLines(wizard).value(3), QStringLiteral("MAC Address\t: A1-B2-C3-D4-E5-F6"));
    const QString tip = wizard.memComp->toolTip();
    QVERIFY(QString(tip)
                .remove(QLatin1Char('\n'))
                .contains(QStringLiteral("Computer name\t: ") + longName + QStringLiteral("Connection")));
    for (const QString& line : tip.split(QLatin1Char('\n')))
        QVERIFY(line.size() <= 64);
    // What the caller stores is the field, never the shortened line.
    QCOMPARE(wizard.edComputername->text(), longName);
}

void TstWizNewComp::finishAndBack()
{
    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    bool stayedAfterEnter = false;
    bool enterMovedOn = false;
    const int result = RunModal(wizard, [&] {
        FillToSummary(wizard, 0, QStringLiteral("PC1"), QStringLiteral("10.0.0.5"),
                      QStringLiteral("001122334455"));
        QCOMPARE(wizard.btnNext->text(), QStringLiteral("Finish"));
        wizard.btnBack->click();
        QCOMPARE(wizard.CurrentPage(), 2);
        QCOMPARE(wizard.btnNext->text(), QStringLiteral("Next >"));
        QCOMPARE(wizard.focusWidget(), wizard.edMACAddress);
        // Enter presses the default button, which is an ordinary Next again: it moves on, no closing.
        QTest::keyClick(wizard.focusWidget(), Qt::Key_Return);
        stayedAfterEnter = wizard.isVisible();
        enterMovedOn = wizard.CurrentPage() == 3 && wizard.btnNext->text() == QStringLiteral("Finish");
        // On the summary Enter is Finish.
        QTest::keyClick(wizard.focusWidget(), Qt::Key_Return);
    });
    QVERIFY(stayedAfterEnter);
    QVERIFY(enterMovedOn);
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(boxes.Shown().isEmpty());
}

void TstWizNewComp::cancel_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("escape");
    for (int page = 0; page < 4; ++page) {
        QTest::addRow("page %d, Cancel", page) << page << false;
        QTest::addRow("page %d, Escape", page) << page << true;
    }
}

void TstWizNewComp::cancel()
{
    QFETCH(int, page);
    QFETCH(bool, escape);
    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    int reached = -1;
    const int result = RunModal(wizard, [&] {
        wizard.edComputername->setText(QStringLiteral("PC1"));
        wizard.edIPAddress->setText(QStringLiteral("10.0.0.5"));
        wizard.edMACAddress->SetTextByProgram(QStringLiteral("00-11-22-33-44-55"));
        for (int i = 0; i < page; ++i)
            wizard.btnNext->click();
        reached = wizard.CurrentPage();
        if (escape)
            QTest::keyClick(wizard.focusWidget() ? wizard.focusWidget() : &wizard, Qt::Key_Escape);
        else
            wizard.btnCancel->click();
    });
    QCOMPARE(reached, page);
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(boxes.Shown().isEmpty());
}

void TstWizNewComp::detectionWithProgress()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    TFakeNode node(QStringLiteral("127.0.0.2"), QByteArray::fromHex("0a1b2c3d4e5f"), 300);
    QVERIFY(node.Ok());
    QWidget other;
    other.setWindowTitle(QStringLiteral("another window"));
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));

    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    const int result = RunModal(wizard, [&] {
        wizard.edComputername->setText(QStringLiteral("127.0.0.2"));
        wizard.btnNext->click();
        wizard.edIPAddress->setText(QStringLiteral("127.0.0.2"));
        wizard.btnNext->click();
        wizard.btnAutoMAC->setFocus();
        wizard.btnAutoMAC->click();
        QVERIFY(!wizard.btnAutoMAC->isEnabled());
        TfrmProgress* progress = wizard.ProgressWindow();
        QVERIFY(progress);
        QVERIFY(progress->isVisible());
        QCOMPARE(progress->Status(), QStringLiteral("Attempting to auto-detect MAC-address..."));
        QCOMPARE(progress->NotifyWindow(), &wizard);
        QVERIFY(!other.isEnabled());
        QVERIFY(wizard.isEnabled());
        QCOMPARE(wizard.edMACAddress->MaskedText(), EmptyMAC);

        QTRY_VERIFY_WITH_TIMEOUT(!wizard.DetectionWorker(), 10000);
        // Shown upper case through the mask; the window set is back, the progress window gone.
        QCOMPARE(wizard.edMACAddress->MaskedText(), QStringLiteral("0A-1B-2C-3D-4E-5F"));
        QVERIFY(!wizard.ProgressWindow());
        QVERIFY(other.isEnabled());
        QCOMPARE(wizard.focusWidget(), wizard.edMACAddress);
        QVERIFY(!wizard.btnAutoMAC->isEnabled());
        wizard.btnNext->click();
        QCOMPARE(SummaryLines(wizard).value(3), QStringLiteral("MAC Address\t: 0A-1B-2C-3D-4E-5F"));
        wizard.btnNext->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(node.Questions(), 1);
    QVERIFY(boxes.Shown().isEmpty());
}

void TstWizNewComp::detectionCompletingOnSummary()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    TFakeNode node(QStringLiteral("127.0.0.2"), QByteArray::fromHex("0a1b2c3d4e5f"), 500);
    QVERIFY(node.Ok());
    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    QString summaryAfter;
    const int result = RunModal(wizard, [&] {
        wizard.edComputername->setText(QStringLiteral("127.0.0.2"));
        wizard.btnNext->click();
        wizard.edIPAddress->setText(QStringLiteral("127.0.0.2"));
        wizard.btnNext->click();
        TypeMAC(wizard, QStringLiteral("aabbccddeeff"));
        wizard.btnAutoMAC->click();
        // The wizard stays usable while the progress window is up.
        wizard.btnNext->click();
        QCOMPARE(wizard.CurrentPage(), 3);
        QCOMPARE(SummaryLines(wizard).value(3), QStringLiteral("MAC Address\t: AA-BB-CC-DD-EE-FF"));
        QTRY_VERIFY_WITH_TIMEOUT(!wizard.DetectionWorker(), 10000);
        QCOMPARE(wizard.edMACAddress->MaskedText(), QStringLiteral("0A-1B-2C-3D-4E-5F"));
        summaryAfter = SummaryLines(wizard).value(3);
        QVERIFY(wizard.focusWidget() != wizard.edMACAddress);
        wizard.btnNext->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(summaryAfter, QStringLiteral("MAC Address\t: AA-BB-CC-DD-EE-FF"));
    // What the caller stores is the field's text.
    QCOMPARE(wizard.edMACAddress->MaskedText(), QStringLiteral("0A-1B-2C-3D-4E-5F"));
}

// A name that resolves to nothing and an address with no host behind it: the line beside the field
// says what was tried, while no box is shown.
void TstWizNewComp::detectionFindingNothingSaysSo()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    RunModal(wizard, [&] {
        wizard.edComputername->setText(QStringLiteral("GAMMA"));
        wizard.btnNext->click();
        wizard.edIPAddress->setText(QStringLiteral("127.0.0.9"));
        wizard.btnNext->click();
        wizard.btnAutoMAC->click();
        QTRY_VERIFY_WITH_TIMEOUT(!wizard.DetectionWorker(), 15000);
        QCOMPARE(wizard.edMACAddress->MaskedText(), EmptyMAC);
        QVERIFY(wizard.lbMACNote->isVisible());
        QCOMPARE(wizard.lbMACNote->text(), QStringLiteral("No MAC address found for 127.0.0.9"));
    });
    QVERIFY(boxes.Shown().isEmpty());
}

void TstWizNewComp::cancelInProgressWindow()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    // The node would answer, but only after the user has cancelled.
    TFakeNode node(QStringLiteral("127.0.0.2"), QByteArray::fromHex("0a1b2c3d4e5f"), 600);
    QVERIFY(node.Ok());
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));

    TfrmWizNewComp wizard;
    QPointer<TfrmProgress> progress;
    const int result = RunModal(wizard, [&] {
        wizard.edComputername->setText(QStringLiteral("127.0.0.2"));
        wizard.edMACAddress->SetTextByProgram(QStringLiteral("00-11-22-33-44-55"));
        wizard.btnAutoMAC->click();
        progress = wizard.ProgressWindow();
        QVERIFY(progress);
        QVERIFY(QTest::qWaitForWindowExposed(progress.data()));
        QVERIFY(!other.isEnabled());
        // The node has been asked; its answer is on the way.
        QTRY_COMPARE_WITH_TIMEOUT(node.Questions(), 1, 5000);
        // A real click: the progress window must take input while the wizard runs modally.
        QTest::mouseClick(progress->btnCancel, Qt::LeftButton);
        QVERIFY(!progress || !progress->isVisible());
        QVERIFY(!wizard.ProgressWindow());
        QVERIFY(!wizard.DetectionWorker());
        QVERIFY(other.isEnabled());
        // The stopped detection finishes unobserved.
        QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 10000);
        QTest::qWait(50);
        QCOMPARE(wizard.edMACAddress->MaskedText(), QStringLiteral("00-11-22-33-44-55"));
        QVERIFY(!wizard.btnAutoMAC->isEnabled());
        wizard.edComputername->setText(QStringLiteral("127.0.0.3"));
        QVERIFY(wizard.btnAutoMAC->isEnabled());
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QTRY_VERIFY(progress.isNull());
}

void TstWizNewComp::secondDetectionDropsTheFirst()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    TFakeNode slow(QStringLiteral("127.0.0.2"), QByteArray::fromHex("0a0a0a0a0a0a"), 700);
    TFakeNode quick(QStringLiteral("127.0.0.3"), QByteArray::fromHex("0c0b0b0b0b0b"), 0);
    QVERIFY(slow.Ok());
    QVERIFY(quick.Ok());
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));

    TfrmWizNewComp wizard;
    const int result = RunModal(wizard, [&] {
        wizard.edComputername->setText(QStringLiteral("127.0.0.2"));
        wizard.btnAutoMAC->click();
        QPointer<TfrmProgress> first = wizard.ProgressWindow();
        QVERIFY(first);
        QTRY_COMPARE_WITH_TIMEOUT(slow.Questions(), 1, 5000);
        wizard.edComputername->setText(QStringLiteral("127.0.0.3"));
        wizard.btnAutoMAC->click();
        // The earlier window is closed and released; the set is disabled once more for the new run.
        QTRY_VERIFY(first.isNull());
        QVERIFY(wizard.ProgressWindow());
        QVERIFY(!other.isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 10000);
        QCOMPARE(wizard.edMACAddress->MaskedText(), QStringLiteral("0C-0B-0B-0B-0B-0B"));
        QVERIFY(!wizard.ProgressWindow());
        QVERIFY(other.isEnabled());
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(slow.Questions(), 1);
    QCOMPARE(quick.Questions(), 1);
}

void TstWizNewComp::pickFromTheNetwork_data()
{
    QTest::addColumn<bool>("onMACPage");
    QTest::newRow("completes on the name page") << false;
    QTest::newRow("completes on the MAC page") << true;
}

void TstWizNewComp::pickFromTheNetwork()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    QFETCH(bool, onMACPage);
    TFakeNode node(QStringLiteral("127.0.0.2"), QByteArray::fromHex("001122aabbcc"), 400);
    QVERIFY(node.Ok());
    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    QPointer<TfrmNetEnum> browse;
    const int result = RunModal(wizard, [&] {
        QTimer::singleShot(0, &wizard, [&] {
            QTRY_VERIFY(qobject_cast<TfrmNetEnum*>(QApplication::activeModalWidget()));
            browse = qobject_cast<TfrmNetEnum*>(QApplication::activeModalWidget());
            QVERIFY(browse->ListServers);
            // The list as the server-list worker hands it over.
            browse->AddServers({QStringLiteral("OTHER=first"), QStringLiteral("127.0.0.2=the one")});
            browse->vtNet->selectionModel()->select(browse->Model()->index(1, 0),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
            browse->btnSelect->click();
        });
        wizard.btnBrowseNet->click();
        QTRY_VERIFY(browse.isNull());
        // At once: name, LAN and the resolved address; no progress window for this detection.
        QCOMPARE(wizard.edComputername->text(), QStringLiteral("127.0.0.2"));
        QCOMPARE(wizard.cbSendOptions->currentIndex(), 0);
        QCOMPARE(wizard.edIPAddress->text(), QStringLiteral("127.0.0.2"));
        QCOMPARE(wizard.edMACAddress->MaskedText(), EmptyMAC);
        QVERIFY(wizard.DetectionWorker());
        QVERIFY(!wizard.ProgressWindow());
        if (onMACPage) {
            wizard.btnNext->click();
            wizard.btnNext->click();
            QCOMPARE(wizard.CurrentPage(), 2);
            wizard.btnAutoMAC->setFocus();
        }
        QWidget* focusBefore = wizard.focusWidget();
        QVERIFY(focusBefore != wizard.edMACAddress);
        QTRY_VERIFY_WITH_TIMEOUT(!wizard.DetectionWorker(), 10000);
        QCOMPARE(wizard.edMACAddress->MaskedText(), QStringLiteral("00-11-22-AA-BB-CC"));
        QCOMPARE(wizard.focusWidget(), onMACPage ? static_cast<QWidget*>(wizard.edMACAddress) : focusBefore);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(boxes.Shown().isEmpty());
}

void TstWizNewComp::browseWithoutPick_data()
{
    QTest::addColumn<bool>("select");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Select with nothing selected") << true;
}

void TstWizNewComp::browseWithoutPick()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    QFETCH(bool, select);
    TfrmWizNewComp wizard;
    wizard.show();
    QVERIFY(QTest::qWaitForWindowActive(&wizard));
    wizard.edComputername->setText(QStringLiteral("OLD"));
    wizard.edIPAddress->setText(QStringLiteral("10.0.0.5"));
    wizard.cbSendOptions->setCurrentIndex(0);
    bool seen = false;
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_VERIFY(qobject_cast<TfrmNetEnum*>(QApplication::activeModalWidget()));
        auto* browse = qobject_cast<TfrmNetEnum*>(QApplication::activeModalWidget());
        seen = true;
        browse->AddServers({QStringLiteral("OTHER=first")});
        if (select)
            browse->btnSelect->click();
        else
            browse->btnCancel->click();
    });
    wizard.btnBrowseNet->click();
    QVERIFY(seen);
    QCOMPARE(wizard.edComputername->text(), QStringLiteral("OLD"));
    QCOMPARE(wizard.edIPAddress->text(), QStringLiteral("10.0.0.5"));
    QVERIFY(!wizard.DetectionWorker());
    // The dialog is released with the command.
    QTRY_VERIFY(wizard.findChildren<TfrmNetEnum*>().isEmpty());
}

void TstWizNewComp::escapeInUnfinishedMAC()
{
    TMessageRecorder boxes;
    TfrmWizNewComp wizard;
    const int result = RunModal(wizard, [&] {
        wizard.edComputername->setText(QStringLiteral("PC1"));
        wizard.btnNext->click();
        wizard.edIPAddress->setText(QStringLiteral("10.0.0.5"));
        wizard.btnNext->click();
        QCOMPARE(wizard.focusWidget(), wizard.edMACAddress);
        QTest::keyClicks(wizard.edMACAddress, QStringLiteral("00a"));
        // Only Next checks the field: one message, the wizard stays on the page.
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        QTest::qWait(20);
        QCOMPARE(wizard.CurrentPage(), 2);
        QCOMPARE(boxes.Shown().size(), 1);
        QCOMPARE(boxes.Shown().first().Text, Res::Str(Res::WizMACInvalid));
        // Escape abandons the field's change, then leaves.
        QTest::keyClick(wizard.edMACAddress, Qt::Key_Escape);
        QCOMPARE(wizard.CurrentPage(), 2);
        QTest::keyClick(wizard.edMACAddress, Qt::Key_Escape);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(boxes.Shown().size(), 1);
}

void TstWizNewComp::wizardGoesWhileDetecting()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    TFakeNode node(QStringLiteral("127.0.0.2"), QByteArray::fromHex("0a1b2c3d4e5f"), 300);
    QVERIFY(node.Ok());
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    QPointer<TfrmProgress> progress;
    QPointer<TMACThread> worker;
    {
        TfrmWizNewComp wizard;
        wizard.show();
        wizard.edComputername->setText(QStringLiteral("127.0.0.2"));
        wizard.btnAutoMAC->click();
        progress = wizard.ProgressWindow();
        worker = wizard.DetectionWorker();
        QVERIFY(progress && worker);
        QVERIFY(!other.isEnabled());
    }
    QVERIFY(progress.isNull());
    QVERIFY(other.isEnabled());
    if (worker) {
        QVERIFY(!worker->HasOnTerminate());
        QVERIFY(worker->StopRequested());
    }
    // Its completion reaches nobody; it frees itself.
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 10000);
}

void TstWizNewComp::ownedWizardStaysUsableWhileDetecting()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    TFakeNode node(QStringLiteral("127.0.0.2"), QByteArray::fromHex("0a1b2c3d4e5f"), 2000);
    QVERIFY(node.Ok());
    // The wizard is owned by the main window, as the New computer command opens it.
    QWidget owner;
    owner.resize(580, 468);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    TfrmWizNewComp wizard(&owner);
    QPointer<TfrmProgress> progress;
    const int result = RunModal(wizard, [&] {
        wizard.edComputername->setText(QStringLiteral("127.0.0.2"));
        wizard.btnAutoMAC->click();
        progress = wizard.ProgressWindow();
        QVERIFY(progress);
        QVERIFY(QTest::qWaitForWindowExposed(progress.data()));
        // Nothing greys the wizard: its owner is kept from the user by the modal run alone.
        QVERIFY(wizard.isEnabled());
        QVERIFY(wizard.btnNext->isEnabled());
        QVERIFY(owner.isEnabled());
        // The progress window stays above the wizard and takes a real click.
        QCOMPARE(progress->windowHandle()->transientParent(), wizard.windowHandle());
        QTest::mouseClick(progress->btnCancel, Qt::LeftButton);
        QVERIFY(!wizard.ProgressWindow());
        QVERIFY(!wizard.DetectionWorker());
        wizard.btnCancel->click();
    });
    QCOMPARE(result, int(QDialog::Rejected));
}

// A screen reader finds each field's label, as the user sees it (the "labelled by" relation that AT-SPI
// exports); buttons and the summary have names.
void TstWizNewComp::fieldsNamedForScreenReaders()
{
    TfrmWizNewComp wizard;
    auto name = [](QWidget* widget) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        return accessible ? accessible->text(QAccessible::Name) : QString();
    };
    auto label = [](QWidget* field) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
        const auto labels = accessible ? accessible->relations(QAccessible::Label)
                                       : QList<QPair<QAccessibleInterface*, QAccessible::Relation>>();
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    };
    // As shown: the accelerator's mark is no part of what is said.
    auto shown = [](int id) { return Res::Str(id).remove(QLatin1Char('&')); };
    QCOMPARE(label(wizard.cbSendOptions), shown(Res::WizConnectedTo));
    QCOMPARE(label(wizard.edComputername), shown(Res::WizComputerName));
    QCOMPARE(label(wizard.edIPAddress), shown(Res::WizIPAddressLabel));
    QCOMPARE(label(wizard.edMACAddress), shown(Res::WizMACAddressLabel));
    QCOMPARE(name(wizard.edComputername), shown(Res::WizComputerName));
    QCOMPARE(name(wizard.memComp), Res::Str(Res::WizFinishCaption));
    for (QWidget* button :
         std::initializer_list<QWidget*>{wizard.btnBack, wizard.btnNext, wizard.btnCancel,
                                         wizard.btnBrowseNet, wizard.btnAutoIP, wizard.btnAutoMAC})
        QVERIFY2(!name(button).isEmpty(), qPrintable(button->objectName()));
}

int main(int argc, char* argv[])
{
    if (!IsolateNetwork(&isolationProblem) && isolationProblem.isEmpty())
        isolationProblem = QStringLiteral("no isolated network");
    QApplication app(argc, argv);
    TstWizNewComp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wizNewComp.moc"
