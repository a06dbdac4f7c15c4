#include "app/treeView.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

namespace {

// Three columns as the main window has them, and a few rows.
struct TFixture
{
    QStandardItemModel model{3, 3};
    TComputerTreeView view;

    TFixture()
    {
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 3; ++column)
                model.setItem(row, column, new QStandardItem(QStringLiteral("r%1c%2").arg(row).arg(column)));
        view.setModel(&model);
        view.header()->resizeSection(0, 268);
        view.header()->resizeSection(1, 150);
        view.header()->resizeSection(2, 150);
    }
    QList<int> Columns() const
    {
        return {view.header()->sectionSize(0), view.header()->sectionSize(1), view.header()->sectionSize(2)};
    }
};

} // namespace

class TestTreeView : public QObject
{
    Q_OBJECT

private slots:
    void sameWidthSameColumns_data()
    {
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::newRow("shrink below the minimum and back") << QList<QSize>{{250, 150}, {580, 468}};
        QTest::newRow("several shrinks and growths")
            << QList<QSize>{{400, 300}, {120, 100}, {900, 700}, {250, 150}, {580, 468}};
        QTest::newRow("grow first") << QList<QSize>{{1200, 800}, {580, 468}};
    }
    void sameWidthSameColumns()
    {
        QFETCH(QList<QSize>, sizes);
        TFixture fresh;
        fresh.view.resize(sizes.last());
        fresh.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh.view));
        const QList<int> expected = fresh.Columns();
        // The columns fill the view exactly: no horizontal scroll bar at the normal size.
        QCOMPARE(expected[0] + expected[1] + expected[2], fresh.view.viewport()->width());

        TFixture f;
        f.view.resize(sizes.last());
        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        for (const QSize& size : sizes) {
            f.view.resize(size);
            QTest::qWait(5);
            QVERIFY(f.view.header()->sectionSize(0) >= TComputerTreeView::MinFirstColumnWidth);
        }
        QCOMPARE(f.Columns(), expected);
        QCOMPARE(f.view.horizontalScrollBar()->maximum(), 0);
    }

    void keysAndDoubleClick_data()
    {
        QTest::addColumn<int>("key"); // 0: a double-click instead
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("properties");
        QTest::addColumn<bool>("menu");
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier) << true << false;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true << false;
        QTest::newRow("Alt+Enter") << int(Qt::Key_Return) << int(Qt::AltModifier) << true << false;
        QTest::newRow("Ctrl+Enter does nothing")
            << int(Qt::Key_Return) << int(Qt::ControlModifier) << false << false;
        QTest::newRow("double-click") << 0 << 0 << true << false;
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << false << true;
        QTest::newRow("Menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier) << false << true;
        QTest::newRow("F10 alone does nothing") << int(Qt::Key_F10) << int(Qt::NoModifier) << false << false;
    }
    void keysAndDoubleClick()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, properties);
        QFETCH(bool, menu);
        TFixture f;
        f.view.resize(580, 400);
        f.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&f.view));
        // The focus on a row that is not selected: a key acts on that row.
        f.view.selectionModel()->setCurrentIndex(f.model.index(1, 0), QItemSelectionModel::NoUpdate);
        QSignalSpy propertiesSpy(&f.view, &TComputerTreeView::PropertiesRequested);
        QSignalSpy menuSpy(&f.view, &QWidget::customContextMenuRequested);
        const QRect row = f.view.visualRect(f.model.index(1, 0));
        if (key == 0)
            QTest::mouseDClick(f.view.viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
        else
            QTest::keyClick(&f.view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(propertiesSpy.size(), properties ? 1 : 0);
        QCOMPARE(menuSpy.size(), menu ? 1 : 0);
        if (menu)
            QVERIFY(row.contains(menuSpy.first().first().toPoint()));
        if (properties || menu)
            QCOMPARE(f.view.SelectedRows(), QList<int>{1});
        // A double-click below the rows is on no row.
        if (key == 0) {
            QTest::mouseDClick(f.view.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 350));
            QCOMPARE(propertiesSpy.size(), 1);
        }
    }
    // Whole rows, a row whole only from pieces, a row partly selected, and overlapping ranges.
    void selectedRowsFromRanges()
    {
        TFixture f;
        f.model.setRowCount(6);
        QItemSelection selection;
        const auto add = [&](int top, int left, int bottom, int right) {
            selection.select(f.model.index(top, left), f.model.index(bottom, right));
        };
        add(0, 0, 0, 1);
        add(0, 2, 0, 2);
        add(1, 0, 1, 1);
        add(3, 0, 4, 2);
        add(4, 0, 5, 2);
        f.view.selectionModel()->select(selection, QItemSelectionModel::Select);
        QCOMPARE(f.view.SelectedRows(), (QList<int>{0, 3, 4, 5}));
        f.view.selectionModel()->select(f.model.index(4, 1), QItemSelectionModel::Deselect);
        QCOMPARE(f.view.SelectedRows(), (QList<int>{0, 3, 5}));
    }
};

QTEST_MAIN(TestTreeView)
#include "tst_treeView.moc"
