// The main window's list at a 14 pt font in German: the filter field, the count of shown rows, commands
// on shown rows only, the columns of the header's menu and the window on the screen.
#include "app/frmMain.h"
#include "app/tableModel.h"
#include "app/translations.h"
#include "app/treeView.h"
#include "core/texts.h"
#include "core/worker.h"
#include "model/computers.h"
#include "model/database.h"
#include "product/editionLibrary.h"
#include "support/germanDesktop.h"
#include "ui/messageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Three computers whose MAC addresses are stored in three written forms.
const char* const Samples[][4] = {{"Workshop NAS", "127.0.0.7", "00-11-32-4A-7C-01", "Backups at night"},
                                  {"media centre", "127.0.0.12", "b8:27:eb:12:34:56", ""},
                                  {"build-server", "127.0.0.100", "3C970EAABBCC", "Rack 2, lower shelf"}};

void WriteDatabase(const QString& file)
{
    TOstrelDatabase db;
    db.FileName = file;
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (const auto& sample : Samples) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(QString::fromLatin1(sample[0]));
        computer->IPAddress = QString::fromLatin1(sample[1]);
        computer->MACAddresses()->Add()->Address = QString::fromLatin1(sample[2]);
        computer->Comments = QString::fromLatin1(sample[3]);
    }
    QString error;
    QVERIFY2(SaveGroup(group, &error), qPrintable(error));
}

QStringList Shown(const TfrmMain& window)
{
    QStringList names;
    for (int row = 0; row < window.VSTModel->rowCount(); ++row)
        names << window.VSTModel->CellText(row, TComputerTableModel::colName);
    return names;
}

} // namespace

class TestFrmMainList : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        QVERIFY(FDir->isValid());
        QFile::remove(QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("sablewick/sablewick.conf"));
        FBoxes = std::make_unique<TMessageRecorder>();
        TEditionLibrary::SetFileName(QStringLiteral("swdist-not-installed"));
        WriteDatabase(File());
        FWindow = std::make_unique<TfrmMain>(File());
        FWindow->show();
        FWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(FWindow.get()));
    }
    void cleanup()
    {
        FWindow.reset();
        FBoxes.reset();
        FDir.reset();
        QTRY_VERIFY_WITH_TIMEOUT(TWorkerThread::LiveCount() == 0, 15000);
    }

    void filterMatches_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("shown");
        const QStringList nas{"Workshop NAS"}, media{"media centre"}, build{"build-server"};
        QTest::newRow("name, any case") << "nas" << nas;
        QTest::newRow("address, partial") << "127.0.0.1" << QStringList{"build-server", "media centre"};
        QTest::newRow("comments") << "RACK 2" << build;
        QTest::newRow("MAC with hyphens, stored with hyphens") << "00-11-32" << nas;
        QTest::newRow("MAC digits only, stored with hyphens") << "324A7C" << nas;
        QTest::newRow("MAC with hyphens, stored with colons") << "B8-27-EB-12" << media;
        QTest::newRow("MAC with colons, stored bare") << "aa:bb:cc" << build;
        QTest::newRow("MAC in dotted groups") << "3c97.0eaa" << build;
        QTest::newRow("nothing") << "zz-top" << QStringList{};
    }
    void filterMatches()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, shown);
        QTest::keyClicks(FWindow->edFilter, text);
        QCOMPARE(Shown(*FWindow), shown);
    }

    // Typing on narrows, erasing widens: each step shows what the text alone would.
    void typingAndErasing()
    {
        QLineEdit* filter = FWindow->edFilter;
        QTest::keyClicks(filter, "-");
        QCOMPARE(Shown(*FWindow), (QStringList{"build-server", "Workshop NAS"}));
        // A digit makes it a piece of a MAC address, which the colons of media centre's hold.
        QTest::keyClicks(filter, "1");
        QCOMPARE(Shown(*FWindow), (QStringList{"media centre", "Workshop NAS"}));
        QTest::keyClicks(filter, "1-3");
        QCOMPARE(Shown(*FWindow), QStringList{"Workshop NAS"});
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(filter, Qt::Key_Backspace);
        QCOMPARE(Shown(*FWindow), (QStringList{"build-server", "Workshop NAS"}));
    }

    // Text beyond ASCII folds by Unicode's rules, whichever side holds it: the Kelvin sign is a "k".
    void filterBeyondAscii()
    {
        FWindow->Root()->Computers()->Items(2)->Comments = QStringLiteral(u"Étage 3, \u212A1");
        for (const char16_t* text : {u"k1", u"étage", u"TAGE 3"}) {
            FWindow->edFilter->setText(QString::fromUtf16(text));
            QCOMPARE(Shown(*FWindow), QStringList{"build-server"});
        }
    }

    // A row follows its ItemID when the collection changes under it, not the computer it last found.
    void rowFollowsItemID()
    {
        TComputers* computers = FWindow->Root()->Computers();
        FWindow->edFilter->setText("nas");
        QCOMPARE(Shown(*FWindow), QStringList{"Workshop NAS"});
        // NAS takes over media centre's identifier: media centre's row now shows it.
        const QString id = computers->Items(1)->ItemID();
        computers->Items(1)->SetItemID(NewItemID());
        computers->Items(0)->SetItemID(id);
        FWindow->edFilter->setText("workshop");
        QCOMPARE(Shown(*FWindow), QStringList{"Workshop NAS"});
        QCOMPARE(FWindow->VSTModel->Entry(0)->ItemID, id);
    }

    void countAndKeys()
    {
        QLabel* count = FWindow->lbShown;
        FWindow->VST->setFocus();
        QTest::keyClick(FWindow->VST, Qt::Key_Slash);
        QVERIFY(FWindow->edFilter->hasFocus());
        QTest::keyClicks(FWindow->edFilter, "nas");
        QVERIFY(count->isVisible());
        QCOMPARE(count->text(), Res::Str(Res::ListShown).arg(1).arg(3));
        QVERIFY(count->geometry().intersects(FWindow->statusBar()->rect()));
        QTest::keyClick(FWindow->edFilter, Qt::Key_Escape);
        QCOMPARE(FWindow->VSTModel->rowCount(), 3);
        QVERIFY(!count->isVisible());
        // Escape in the empty field goes back to the list; Ctrl+F comes back to the field.
        QTest::keyClick(FWindow->edFilter, Qt::Key_Escape);
        QVERIFY(FWindow->VST->hasFocus());
        QTest::keyClick(FWindow->VST, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(FWindow->edFilter->hasFocus());
    }

    // Every row selected, then filtered: the commands see only the row still shown.
    void commandsActOnShownRows()
    {
        FWindow->VST->selectAll();
        QCOMPARE(FWindow->SelectedItemIDs().size(), 3);
        FWindow->FocusFilter();
        QTest::keyClicks(FWindow->edFilter, "rack");
        QCOMPARE(FWindow->SelectedItemIDs().size(), 1);
        FBoxes->SetNextAnswer(QMessageBox::Yes);
        FWindow->acEditDelete->trigger();
        QCOMPARE(FBoxes->Shown().first().Text, Res::Str(Res::DeleteOne).arg("build-server"));
        QCOMPARE(FWindow->Root()->Computers()->Count(), 2);
        QCOMPARE(FWindow->VSTModel->rowCount(), 0);
        QCOMPARE(FWindow->lbShown->text(), Res::Str(Res::ListShown).arg(0).arg(2));
        QTest::keyClick(FWindow->edFilter, Qt::Key_Escape);
        QCOMPARE(Shown(*FWindow), (QStringList{"media centre", "Workshop NAS"}));
        // Nothing hidden was selected meanwhile.
        QVERIFY(FWindow->SelectedItemIDs().isEmpty());
    }

    // The columns of the header's menu are remembered with their widths; a header click sorts.
    void columns()
    {
        QHeaderView* header = FWindow->VST->header();
        QCOMPARE(FWindow->popHeader->actions().size(), 5);
        FWindow->popHeader->findChild<QAction*>(QStringLiteral("acColumn_status"))->setChecked(true);
        header->resizeSection(TComputerTableModel::colStatus, 333);
        QTRY_VERIFY(FWindow->VSTModel->CellText(0, TComputerTableModel::colStatus)
                        .startsWith(Res::Str(Res::ListOnline)));
        QCOMPARE(Shown(*FWindow), (QStringList{"build-server", "media centre", "Workshop NAS"}));
        // By address, as numbers: 127.0.0.7 before 127.0.0.12.
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(TComputerTableModel::colIP) + 5, 5));
        QCOMPARE(Shown(*FWindow), (QStringList{"Workshop NAS", "media centre", "build-server"}));

        FWindow.reset();
        FWindow = std::make_unique<TfrmMain>(File());
        header = FWindow->VST->header();
        QVERIFY(!header->isSectionHidden(TComputerTableModel::colStatus));
        QCOMPARE(header->sectionSize(TComputerTableModel::colStatus), 333);
        QVERIFY(header->isSectionHidden(TComputerTableModel::colComments));
        // The order at start is the names'.
        QCOMPARE(Shown(*FWindow), (QStringList{"build-server", "media centre", "Workshop NAS"}));
    }

    // At 14 pt the window and its status bar are on the screen, and a MAC address is not cut.
    void fitsTheScreen()
    {
        const QRect screen = FWindow->screen()->availableGeometry();
        QVERIFY(FWindow->frameGeometry().height() + 24 <= screen.height());
        QVERIFY(FWindow->statusBar()->geometry().bottom() < FWindow->height());
        const QFontMetrics metrics(FWindow->VST->font());
        QVERIFY(FWindow->VST->header()->sectionSize(TComputerTableModel::colMAC) >
                metrics.horizontalAdvance(QStringLiteral("02-AA-00-00-00-0D")) + 8);
    }

private:
    QString File() const { return FDir->filePath(QStringLiteral("network.ccn")); }
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TMessageRecorder> FBoxes;
    std::unique_ptr<TfrmMain> FWindow;
};

int main(int argc, char** argv)
{
    QTemporaryDir config;
    if (!UseGermanDesktop(config))
        return 1;
    QApplication app(argc, argv);
    LoadTranslations(QStringLiteral(SABLEWICK_BUILD_DIR "/translations"));
    TestFrmMainList test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmMainList.moc"
