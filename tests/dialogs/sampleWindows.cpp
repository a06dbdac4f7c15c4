#include "sampleWindows.h"

#include "core/texts.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgComputer.h"
#include "dialogs/dlgDebug.h"
#include "dialogs/dlgMAC.h"
#include "dialogs/dlgNetEnum.h"
#include "dialogs/dlgOptions.h"
#include "dialogs/dlgProgress.h"
#include "dialogs/dlgRelays.h"
#include "dialogs/dlgScan.h"
#include "dialogs/dlgSchedule.h"
#include "dialogs/frameSchedule.h"
#include "dialogs/wizNewComp.h"
#include "model/computers.h"
#include "net/relays.h"
#include "product/editionLibrary.h"
#include "ui/elidedLabel.h"
#include "ui/macEdit.h"

#include <cstdio>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

namespace {

QString Shown(QString text)
{
    return text.remove(QRegularExpression(QStringLiteral("&(?!&)"))).replace(u'\n', u' ');
}

void Report(QStringList* problems, const QWidget* widget, const QString& what)
{
    problems->append(QStringLiteral("%1 (%2): %3")
                         .arg(widget->objectName(), QLatin1String(widget->metaObject()->className()), what));
}

// Containers whose children the dialogs place themselves (by hand or by a layout).
bool Placed(const QWidget* parent)
{
    const QMetaObject* kind = parent->metaObject();
    return qobject_cast<const QDialog*>(parent) || kind == &QWidget::staticMetaObject ||
           kind == &QFrame::staticMetaObject || kind == &TframeSchedule::staticMetaObject;
}

using TVisit = std::function<void(QWidget*, const QString&)>;

void Show(const TVisit& visit, QWidget* window, const QString& name)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        std::fprintf(stderr, "%s: not exposed\n", qPrintable(name));
    QApplication::processEvents();
    visit(window, name);
}

TSchedule SampleSchedule(TScheduleInterval kind)
{
    TSchedule schedule;
    schedule.UseSchedule = true;
    schedule.ScheduleInterval = kind;
    schedule.StartHour = 7;
    schedule.StartMin = 30;
    schedule.weeklyDays = TWeekDays(DaySet(dayMonday) | DaySet(dayWednesday) | DaySet(dayFriday));
    schedule.monthlySettings = msDayOccurence;
    schedule.monthlyDayOccurence = doSecond;
    schedule.monthlyDay = DaySet(dayTuesday);
    schedule.onceDate = QDateTimeToDateTime(QDateTime(QDate(2027, 3, 14), QTime(7, 30)));
    return schedule;
}

void RenderWizard(const TVisit& visit)
{
    TfrmWizNewComp wizard;
    wizard.edComputername->setText(QStringLiteral("workstation-07"));
    wizard.edIPAddress->setText(QStringLiteral("192.168.10.27"));
    wizard.edMACAddress->SetTextByProgram(QStringLiteral("00-1A-2B-3C-4D-5E"));
    for (int page = 0; page < 4; ++page) {
        if (page > 0)
            wizard.btnNext->click();
        Show(visit, &wizard, QStringLiteral("wizard-%1").arg(page + 1));
    }
}

void RenderProperties(const TVisit& visit)
{
    TComputer computer;
    computer.SetName(QStringLiteral("WORKSTATION-07"));
    computer.IPAddress = QStringLiteral("192.168.10.27");
    computer.Comments = QStringLiteral("Office on the second floor.\r\nWakes at 7:00 on working days.");
    computer.MACAddresses()->Add()->Address = QStringLiteral("00-1A-2B-3C-4D-5E");
    const char* kinds[] = {"daily", "weekly", "monthly", "once"};
    for (int kind = siDaily; kind <= siOnce; ++kind) {
        computer.Schedule().Assign(SampleSchedule(static_cast<TScheduleInterval>(kind)));
        TfrmComputer dialog;
        dialog.Computer()->Assign(computer);
        dialog.LoadFromComputer();
        dialog.SetModified(false);
        if (kind == siDaily) {
            Show(visit, &dialog, QStringLiteral("properties-general"));
            dialog.PageControl1->setCurrentWidget(dialog.tabNotes);
            Show(visit, &dialog, QStringLiteral("properties-notes"));
        }
        dialog.PageControl1->setCurrentWidget(dialog.tabSchedule);
        Show(visit, &dialog, QStringLiteral("properties-schedule-%1").arg(QLatin1String(kinds[kind])));
    }
}

void RenderSchedules(const TVisit& visit)
{
    const char* kinds[] = {"daily", "weekly", "monthly", "once"};
    for (int kind = siDaily; kind <= siOnce; ++kind) {
        TfrmSchedule dialog;
        dialog.Load(SampleSchedule(static_cast<TScheduleInterval>(kind)));
        Show(visit, &dialog, QStringLiteral("schedule-%1").arg(QLatin1String(kinds[kind])));
    }
    TfrmSchedule off;
    off.Load(TSchedule());
    Show(visit, &off, QStringLiteral("schedule-off"));
}

void RenderBrowse(const TVisit& visit)
{
    TfrmNetEnum browse;
    browse.AddServers({QStringLiteral("WORKSTATION-07=Office on the second floor"),
                       QStringLiteral("FILESERVER=Files and printers of the accounting department"),
                       QStringLiteral("CONFERENCE-ROOM-PROJECTOR=")});
    Show(visit, &browse, QStringLiteral("browse"));
}

void RenderScan(const TVisit& visit)
{
    TfrmScan scan(nullptr, TScanOptions());
    struct TRow
    {
        const char *Ip, *Mac, *Name, *Vendor;
        bool Known;
    };
    const TRow rows[] = {
        {"192.168.10.1", "00-1a-2b-00-00-01", "gateway.office.example", "Example Networks", false},
        {"192.168.10.27", "00-1a-2b-3c-4d-5e", "WORKSTATION-07", "", true},
        {"192.168.10.40", "", "", "", false}};
    for (const TRow& row : rows) {
        auto* item = new QTreeWidgetItem(scan.lvHosts);
        item->setText(0, QLatin1String(row.Ip));
        item->setText(1, QLatin1String(row.Mac));
        item->setText(2, QLatin1String(row.Name));
        item->setText(3, QLatin1String(row.Vendor));
        item->setText(4, row.Known ? Res::Str(Res::ScanKnownAs).arg(QStringLiteral("WORKSTATION-07"))
                                   : Res::Str(Res::ScanNew));
        if (!row.Known) {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Checked);
        }
    }
    scan.pbProgress->setRange(0, 254);
    scan.pbProgress->setValue(254);
    scan.lbFound->setText(Res::Str(Res::ScanFound).arg(3));
    Show(visit, &scan, QStringLiteral("scan"));
    QString error;
    TScanNetwork network;
    ParseScanNetwork(QStringLiteral("10.0.0.0/33"), &network, &error);
    scan.lbError->setText(error);
    scan.lbError->show();
    Show(visit, &scan, QStringLiteral("scan-error"));
}

void RenderRelays(const TVisit& visit)
{
    TRelay relay;
    relay.Name = QStringLiteral("branch-office");
    relay.Destination = QStringLiteral("admin@gw.branch.example");
    relay.Networks.push_back(*TRelayNetwork::Parse(QStringLiteral("10.20.0.0/16")));
    relay.Networks.push_back(*TRelayNetwork::Parse(QStringLiteral("192.168.7.0/24")));
    relay.Command = QStringLiteral("etherwake -i {interface} {mac}");
    TRelay second = relay;
    second.Name = QStringLiteral("lab");
    second.Destination = QStringLiteral("lab-gw");
    second.Command.clear();
    QString error;
    if (!SaveRelays(RelaysFilePath(), {relay, second}, &error))
        std::fprintf(stderr, "%s\n", qPrintable(error));
    {
        TfrmRelays relays;
        Show(visit, &relays, QStringLiteral("relays"));
        relays.lbResult->setText(Res::Str(Res::RelayTestOk)
                                     .arg(relay.Name)
                                     .arg(42)
                                     .arg(QStringLiteral("etherwake"), QStringLiteral("ping")));
        Show(visit, &relays, QStringLiteral("relays-tested"));
    }
    TfrmRelay edit(relay, {});
    Show(visit, &edit, QStringLiteral("relay-edit"));
    TfrmRelay empty(TRelay(), {});
    Show(visit, &empty, QStringLiteral("relay-new"));
}

} // namespace

QStringList ClippedTexts(QWidget* window)
{
    QStringList problems;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->isWindow())
            continue;
        const QFontMetrics fm(w->font());
        if (auto* label = qobject_cast<QLabel*>(w); label && !qobject_cast<TElidedLabel*>(w)) {
            if (label->text().isEmpty())
                continue;
            const QSize hint = label->sizeHint();
            if (label->wordWrap()) {
                const int need = label->heightForWidth(label->width());
                if (need > label->height())
                    Report(&problems, w,
                           QStringLiteral("needs height %1, has %2: %3")
                               .arg(need)
                               .arg(label->height())
                               .arg(Shown(label->text())));
            } else if (hint.width() > label->width() || fm.height() > label->height()) {
                Report(&problems, w,
                       QStringLiteral("needs %1x%2, has %3x%4: %5")
                           .arg(hint.width())
                           .arg(hint.height())
                           .arg(label->width())
                           .arg(label->height())
                           .arg(Shown(label->text())));
            }
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            const int need = fm.horizontalAdvance(Shown(button->text())) + 8 +
                             (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
            if (need > button->width() || fm.height() + 4 > button->height())
                Report(&problems, w,
                       QStringLiteral("needs width %1, has %2x%3: %4")
                           .arg(need)
                           .arg(button->width())
                           .arg(button->height())
                           .arg(Shown(button->text())));
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            const QSize hint = w->sizeHint();
            if (hint.width() > w->width() || fm.height() > w->height())
                Report(&problems, w,
                       QStringLiteral("needs %1x%2, has %3x%4: %5")
                           .arg(hint.width())
                           .arg(hint.height())
                           .arg(w->width())
                           .arg(w->height())
                           .arg(Shown(static_cast<QAbstractButton*>(w)->text())));
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            if (combo->sizeHint().width() > combo->width() || fm.height() > combo->height())
                Report(&problems, w,
                       QStringLiteral("needs width %1, has %2x%3")
                           .arg(combo->sizeHint().width())
                           .arg(combo->width())
                           .arg(combo->height()));
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            if (tabs->sizeHint().width() > tabs->width())
                Report(&problems, w,
                       QStringLiteral("tabs need width %1, have %2")
                           .arg(tabs->sizeHint().width())
                           .arg(tabs->width()));
        } else if (auto* header = qobject_cast<QHeaderView*>(w);
                   header && header->orientation() == Qt::Horizontal) {
            const QAbstractItemModel* model = header->model();
            for (int i = 0; model && i < header->count(); ++i) {
                if (header->isSectionHidden(i))
                    continue;
                const QString text = model->headerData(i, Qt::Horizontal).toString();
                const int need = fm.horizontalAdvance(text) + 8;
                const bool last = header->visualIndex(i) == header->count() - 1;
                if (need > header->sectionSize(i) && !(last && header->stretchLastSection()))
                    Report(&problems, w,
                           QStringLiteral("column %1 needs %2, has %3: %4")
                               .arg(i)
                               .arg(need)
                               .arg(header->sectionSize(i))
                               .arg(text));
            }
        }
        // A layout given less room than it needs squeezes its controls.
        if (QLayout* layout = w->layout(); layout && !qobject_cast<QAbstractScrollArea*>(w->parentWidget())) {
            const QSize need = layout->minimumSize();
            if (need.width() > w->width() || need.height() > w->height())
                Report(&problems, w,
                       QStringLiteral("layout needs %1x%2, has %3x%4")
                           .arg(need.width())
                           .arg(need.height())
                           .arg(w->width())
                           .arg(w->height()));
        }
        // Placement: inside the parent, and clear of the siblings.
        QWidget* parent = w->parentWidget();
        if (!parent || !Placed(parent))
            continue;
        if (!parent->rect().contains(w->geometry()))
            Report(&problems, w, QStringLiteral("leaves its parent %1").arg(parent->objectName()));
        for (QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other == w || other->isWindow() || !other->isVisibleTo(window) || other < w)
                continue;
            if (w->geometry().intersects(other->geometry()))
                Report(&problems, w, QStringLiteral("overlaps %1").arg(other->objectName()));
        }
    }
    return problems;
}

QStringList AcceleratorProblems(QWidget* window)
{
    QStringList problems;
    QMap<QChar, QString> taken;
    static const QRegularExpression mnemonic(QStringLiteral("&([^& ])"));
    auto take = [&](const QWidget* w, const QString& text) {
        const QRegularExpressionMatch m =
            mnemonic.match(QString(text).replace(QStringLiteral("&&"), QString()));
        if (!m.hasMatch()) {
            Report(&problems, w, QStringLiteral("no accelerator: ") + Shown(text));
            return;
        }
        const QChar letter = m.captured(1).at(0).toLower();
        if (taken.contains(letter))
            Report(&problems, w, QStringLiteral("Alt+%1 also reaches %2").arg(letter, taken[letter]));
        else
            taken.insert(letter, Shown(text));
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->isWindow())
            continue;
        if (auto* label = qobject_cast<QLabel*>(w); label && !qobject_cast<TElidedLabel*>(w)) {
            const QString text = label->text().trimmed();
            // The summary's caption names a text that is only read.
            if ((!label->buddy() && !text.endsWith(u':')) ||
                w->objectName() == QLatin1String("lbSummaryCaption"))
                continue;
            take(w, text);
            if (!label->buddy())
                Report(&problems, w, QStringLiteral("no control to reach: ") + Shown(text));
            else if (label->buddy()->focusPolicy() == Qt::NoFocus)
                Report(&problems, w, QStringLiteral("reaches a control without focus: ") + Shown(text));
        } else if (auto* button = qobject_cast<QAbstractButton*>(w);
                   button && !button->text().isEmpty() && !qobject_cast<QTabBar*>(w->parentWidget())) {
            // Enter presses the default button and Escape Cancel; the days of the week are one group, which
            // "On days:" reaches.
            auto* push = qobject_cast<QPushButton*>(w);
            if ((push && (push->isDefault() || w->objectName() == QLatin1String("btnCancel"))) ||
                w->objectName().startsWith(QLatin1String("chkDay")))
                continue;
            take(w, button->text());
        }
    }
    return problems;
}

void ShowSampleWindows(const std::function<void(QWidget*, const QString&)>& visit,
                       const QString& editionLibrary)
{
    RenderWizard(visit);
    RenderProperties(visit);
    {
        TEditionLibrary::SetFileName(QStringLiteral("/nonexistent/libswdist.so"));
        TfrmAbout about;
        Show(visit, &about, QStringLiteral("about-plain"));
    }
    if (!editionLibrary.isEmpty()) {
        TEditionLibrary::SetFileName(editionLibrary);
        TfrmAbout about;
        Show(visit, &about, QStringLiteral("about-edition"));
    }
    {
        TfrmProgress progress;
        progress.SetStatus(Res::Str(Res::WizDetectingMAC));
        Show(visit, &progress, QStringLiteral("progress"));
    }
    {
        TfrmMAC mac;
        mac.edMAC->SetTextByProgram(QStringLiteral("00-1A-2B-3C-4D-5E"));
        Show(visit, &mac, QStringLiteral("mac"));
    }
    {
        TfrmDebug debug;
        debug.memOutput->setPlainText(QStringLiteral("adapter 0  00-1A-2B-3C-4D-5E  192.168.10.27\n"
                                                     "adapter 1  00-1A-2B-3C-4D-5F  10.0.0.4"));
        Show(visit, &debug, QStringLiteral("debug"));
    }
    RenderBrowse(visit);
    RenderScan(visit);
    RenderRelays(visit);
    RenderSchedules(visit);
    {
        TfrmOptions options;
        Show(visit, &options, QStringLiteral("options"));
    }
}
