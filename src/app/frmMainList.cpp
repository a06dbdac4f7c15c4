// The main window's list as an administrator of many computers uses it: the filter field above it, the
// count of shown rows, and the columns that can be added from the header's menu (remembered in the user's
// settings). Part of TfrmMain, in a file of its own to keep frmMain.cpp short.
#include "app/frmMain.h"
#include "app/tableModel.h"
#include "app/treeView.h"
#include "core/texts.h"
#include "core/userSettings.h"
#include "ui/fontScale.h"

#include <algorithm>
#include <QAction>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QVBoxLayout>

namespace {

using M = TComputerTableModel;

// The columns' names in the settings file, by column.
const char* const ColumnKeys[M::ColumnCount] = {"name",        "mac",   "ip",       "status",
                                                "lastChecked", "relay", "schedule", "comments"};
const QString ColumnsKey = QStringLiteral("list/columns");
const QString WidthKey = QStringLiteral("list/%1Width");

bool Optional(int column)
{
    return column >= M::colStatus;
}

} // namespace

void TfrmMain::CreateFilter(QWidget* panel)
{
    edFilter = new QLineEdit(panel);
    edFilter->setObjectName(QStringLiteral("edFilter"));
    edFilter->setPlaceholderText(Res::Str(Res::ListFilterPlaceholder));
    edFilter->setAccessibleName(Res::Str(Res::ListFilterName));
    edFilter->setClearButtonEnabled(true);
    connect(edFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        VSTModel->SetFilter(text);
        UpdateShownCount();
    });
    // Escape empties the field; in an empty field it goes back to the list.
    auto* clear = new QAction(edFilter);
    clear->setShortcut(QKeySequence(Qt::Key_Escape));
    clear->setShortcutContext(Qt::WidgetShortcut);
    edFilter->addAction(clear);
    connect(clear, &QAction::triggered, this, [this] {
        if (edFilter->text().isEmpty())
            VST->setFocus();
        else
            edFilter->clear();
    });
    auto* toList = new QAction(edFilter);
    toList->setShortcuts(
        {QKeySequence(Qt::Key_Down), QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    toList->setShortcutContext(Qt::WidgetShortcut);
    edFilter->addAction(toList);
    connect(toList, &QAction::triggered, this, [this] { VST->setFocus(); });

    auto* find = new QAction(this);
    find->setObjectName(QStringLiteral("acEditFind"));
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    addAction(find);
    connect(find, &QAction::triggered, this, &TfrmMain::FocusFilter);

    // Rows come and go (added, deleted) while the filter stands.
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(VSTModel, signal, this, &TfrmMain::UpdateShownCount);
    connect(VSTModel, &QAbstractItemModel::layoutChanged, this, &TfrmMain::UpdateShownCount);

    lbShown = new QLabel(statusBar());
    lbShown->setObjectName(QStringLiteral("lbShown"));
    statusBar()->addPermanentWidget(lbShown);
    lbShown->hide();
}

void TfrmMain::FocusFilter()
{
    edFilter->setFocus(Qt::ShortcutFocusReason);
    edFilter->selectAll();
}

void TfrmMain::UpdateShownCount()
{
    if (!lbShown || !VSTModel)
        return;
    const bool filtered = !VSTModel->FilterText().isEmpty();
    if (filtered) {
        const QLocale locale;
        lbShown->setText(
            Res::Str(Res::ListShown)
                .arg(locale.toString(VSTModel->rowCount()), locale.toString(VSTModel->TotalCount())));
    }
    lbShown->setVisible(filtered);
}

QStringList TfrmMain::ShownItemIDs() const
{
    QStringList ids;
    ids.reserve(VSTModel->rowCount());
    for (int row = 0; row < VSTModel->rowCount(); ++row)
        ids.append(VSTModel->Entry(row)->ItemID);
    return ids;
}

void TfrmMain::CreateColumnMenu()
{
    QHeaderView* header = VST->header();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    popHeader = new QMenu(this);
    popHeader->setObjectName(QStringLiteral("popHeader"));
    for (int column = M::colStatus; column < M::ColumnCount; ++column) {
        QAction* action =
            popHeader->addAction(VSTModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        action->setObjectName(QStringLiteral("acColumn_%1").arg(QLatin1String(ColumnKeys[column])));
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, [this, column](bool shown) {
            VST->header()->setSectionHidden(column, !shown);
            if (shown && VST->header()->sectionSize(column) == 0)
                VST->header()->resizeSection(column, DefaultColumnWidth(column));
            VST->FitFirstColumn();
            SaveColumns();
        });
    }
    connect(header, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { popHeader->popup(VST->header()->mapToGlobal(position)); });
    // The order is the names', ascending, at every start; a click on a header changes it for this run.
    header->setSortIndicator(M::colName, Qt::AscendingOrder);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    VST->setSortingEnabled(true);
}

int TfrmMain::DefaultColumnWidth(int column) const
{
    // Wide enough for the column's heading and its longest usual text at the window's font; the widths
    // made for the default font are the least.
    const QFontMetrics metrics(VST->font());
    // The cell's margins as the item delegate draws them, and a little air.
    const int padding = 2 * (VST->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, VST) + 1) + 6;
    QString sample;
    int least = 150;
    switch (column) {
    case M::colMAC:
        sample = QStringLiteral("DD-DD-DD-DD-DD-DD");
        break;
    case M::colIP:
        sample = QStringLiteral("255.255.255.255");
        break;
    case M::colLastChecked:
        sample = M::DateText(QDateTime(QDate(2026, 12, 28), QTime(23, 59)));
        least = 120;
        break;
    case M::colStatus:
        sample = Res::Str(Res::ListOfflineReply).arg(Res::Str(Res::PingTimedOut));
        least = 120;
        break;
    default:
        least = int(150 * FontScale(VST->font()));
        break;
    }
    const int heading = VST->header()->sectionSizeHint(column);
    return std::max({least, metrics.horizontalAdvance(sample) + padding, heading});
}

void TfrmMain::LoadColumns()
{
    const QSettings settings(UserSettingsFile(), QSettings::IniFormat);
    const QStringList shown = settings.value(ColumnsKey).toStringList();
    QHeaderView* header = VST->header();
    // Names stay readable when many columns are shown: the list scrolls sideways instead.
    VST->SetLeastFirstColumnWidth(int(120 * FontScale(VST->font())));
    for (int column = M::colMAC; column < M::ColumnCount; ++column) {
        const QString key = QLatin1String(ColumnKeys[column]);
        const int stored = settings.value(WidthKey.arg(key)).toInt();
        // A width from another screen that leaves no room for its heading is not taken.
        header->resizeSection(column, stored >= 20 ? stored : DefaultColumnWidth(column));
        if (!Optional(column))
            continue;
        const bool visible = shown.contains(key);
        header->setSectionHidden(column, !visible);
        for (QAction* action : popHeader->actions())
            if (action->objectName() == QStringLiteral("acColumn_") + key) {
                const QSignalBlocker quiet(action);
                action->setChecked(visible);
            }
    }
    VST->FitFirstColumn();
}

void TfrmMain::SaveColumns() const
{
    QSettings settings(UserSettingsFile(), QSettings::IniFormat);
    QStringList shown;
    const QHeaderView* header = VST->header();
    for (int column = M::colMAC; column < M::ColumnCount; ++column) {
        const QString key = QLatin1String(ColumnKeys[column]);
        if (header->isSectionHidden(column))
            continue;
        if (Optional(column))
            shown << key;
        settings.setValue(WidthKey.arg(key), header->sectionSize(column));
    }
    settings.setValue(ColumnsKey, shown);
}
