// The result pane's difference tools: 只看差异 maps the shown rows onto the sheet without
// copying it, F8 / Shift+F8 walk the marked cells in reading order (also into rows hidden at
// the time), and the grid's context menu offers both.

#include "components/SheetPane.h"
#include "components/SheetPaneModel.h"
#include "table/compare/Comparison.h"
#include "tests/TestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QTableView>

#include <gtest/gtest.h>

using namespace quellar;
using test::tbl;

namespace {

QAction* actionNamed(SheetPane& pane, const QString& text) {
    for (QAction* action : pane.actions())
        if (action->text() == text) return action;
    return nullptr;
}

// The current cell as "sheet row, column" (1-based row as the header shows it).
QString current(SheetPane& pane) {
    const QModelIndex at = pane.view()->currentIndex();
    return QStringLiteral("%1,%2").arg(pane.model()->sheetRow(at.row()) + 1).arg(at.column());
}

} // namespace

TEST(SheetPaneDifferences, OnlyDifferencesAndNextDifference) {
    SheetPane pane;
    pane.setExtent(40, 12);
    pane.enableDifferenceTools();
    pane.resize(600, 400);
    pane.show();
    auto* box = pane.findChild<QCheckBox*>();
    ASSERT_TRUE(box);
    EXPECT_FALSE(box->isEnabled()); // nothing compared yet
    QAction* next = actionNamed(pane, QStringLiteral("下一处差异"));
    QAction* previous = actionNamed(pane, QStringLiteral("上一处差异"));
    ASSERT_TRUE(next && previous);
    EXPECT_EQ(next->shortcut(), QKeySequence(Qt::Key_F8));
    EXPECT_EQ(previous->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F8));
    EXPECT_EQ(pane.view()->contextMenuPolicy(), Qt::CustomContextMenu);

    // Sheet rows: 1 fields, 2 same, 3 changed (B and E red), 4 only in file 1, 5 same,
    // 6 only in file 2 (D and E green).
    CompareOptions options;
    QString report;
    NullProgress progress;
    ASSERT_TRUE(runTableComparison(pane, progress, tbl("id,v;1,a;2,b;3,c;4,d"), tbl("id,v;1,a;2,x;4,d;5,e"),
                                   options, {QStringLiteral("id")}, 1, QStringLiteral("对比结果"), report)
                    .isOk());
    EXPECT_TRUE(box->isEnabled());
    EXPECT_EQ(pane.differenceStatusText(), QStringLiteral("显示 6 行，共 6 行（3 行有差异）"));

    pane.select(RangeBounds{1, 1, 1, 1});
    next->trigger();
    EXPECT_EQ(current(pane), "3,1");
    next->trigger();
    EXPECT_EQ(current(pane), "3,4");
    next->trigger();
    EXPECT_EQ(current(pane), "4,0"); // the first mark of the next marked row

    box->setChecked(true);
    EXPECT_TRUE(pane.onlyDifferences());
    EXPECT_EQ(pane.model()->rowCount(), 4);
    EXPECT_EQ(pane.differenceStatusText(), QStringLiteral("显示 4 行，共 6 行（3 行有差异）"));
    const QStringList headers = {pane.model()->headerData(0, Qt::Vertical).toString(),
                                 pane.model()->headerData(1, Qt::Vertical).toString(),
                                 pane.model()->headerData(2, Qt::Vertical).toString(),
                                 pane.model()->headerData(3, Qt::Vertical).toString()};
    EXPECT_EQ(headers, (QStringList{"1", "3", "4", "6"}));
    EXPECT_EQ(pane.model()->displayText(1, 1), "b");
    EXPECT_EQ(pane.model()->displayText(3, 4), "e");
    EXPECT_EQ(current(pane), "4,0"); // the current cell stayed on its sheet row

    // A row of only one file (row 4 only in file 1, row 6 only in file 2) is one stop.
    next->trigger();
    EXPECT_EQ(current(pane), "6,3");
    EXPECT_FALSE(pane.goToDifference(true)); // the last one
    previous->trigger();
    EXPECT_EQ(current(pane), "4,0");
    pane.select(RangeBounds{5, 6, 5, 6}); // on the green row's second mark
    previous->trigger();
    EXPECT_EQ(current(pane), "6,3");
    previous->trigger();
    EXPECT_EQ(current(pane), "4,0");
    previous->trigger();
    EXPECT_EQ(current(pane), "3,4"); // a row of both files stops at each of its marks
    next->trigger();
    next->trigger();
    EXPECT_EQ(current(pane), "6,3");

    // Back to every row: the same sheet cell is current, view rows are sheet rows again.
    box->setChecked(false);
    EXPECT_EQ(pane.model()->rowCount(), 40);
    EXPECT_EQ(current(pane), "6,3");
    EXPECT_EQ(pane.view()->currentIndex().row(), 5);

    // A result of another operation has no differences to go to.
    ASSERT_TRUE(pane.takeResult(1, QStringLiteral("x"), tbl("a;b"), progress, 1).isOk());
    EXPECT_TRUE(pane.differenceStatusText().isEmpty());
    EXPECT_FALSE(box->isEnabled());
    EXPECT_FALSE(pane.goToDifference(true));
}
