// The main window's everyday desktop habits: every "open on the desktop" that no program can
// serve says so, dialogs refuse to be confirmed without a needed choice, each operation
// leaves only its own result, Ctrl+O / Ctrl+Shift+O, recent files kept between runs, the
// splitter kept between runs, dialogs that remember their last choices, and 修复's report.

#include "app/CQuellarDlg.h"
#include "app/DialogMemory.h"
#include "app/RecentFiles.h"
#include "base/Progress.h"
#include "components/SheetPane.h"
#include "dialogs/CAddRowDlg.h"
#include "dialogs/CDiffDlg.h"
#include "dialogs/CLinkDlg.h"
#include "dialogs/CSumDlg.h"
#include "dialogs/FieldListPair.h"
#include "dialogs/GzbDlg.h"
#include "dialogs/PageSumDlg.h"
#include "dialogs/SelDlg.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/WorkbookFormat.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quellar;
using test::ScriptedPrompts;
using test::staff;
using test::testDataPath;
using Command = CQuellarDlg::Command;

namespace {

using test::u;

using test::choose;
using test::whenShown;

class WindowHabitsTest : public test::WindowTest {
protected:
    void compareStaff() {
        open(1, staff(1));
        open(2, staff(2));
        CompareOptions options;
        prompts->diffAnswers.push_back(DiffChoice{options, {u(u"工号")}});
        window->action(Command::CompareTables)->trigger();
    }
    QStringList recentPaths(int which) const {
        QStringList paths;
        for (QAction* item : window->recentMenu(which)->actions())
            if (item->data().isValid()) paths << item->data().toString();
        return paths;
    }
};

} // namespace

TEST_F(WindowHabitsTest, EveryOpenNoProgramCanServeSaysWhichFileAndWhatWouldOpenIt) {
    prompts->desktopFails = true;
    compareStaff();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("report.htm")))
        << prompts->messages[0].toStdString();
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("网页浏览器")));
    EXPECT_TRUE(prompts->messages[0].contains(QDir::toNativeSeparators(dir.path())));

    window->action(Command::Report)->trigger();
    window->action(Command::Help)->trigger();
    window->toolAction(Command::WebSite)->trigger();
    ASSERT_EQ(prompts->messages.size(), 4);
    EXPECT_TRUE(prompts->messages[1].contains(QStringLiteral("report.htm")));
    for (int i : {2, 3}) {
        EXPECT_TRUE(prompts->messages[i].contains(QStringLiteral("index.html"))) << i;
        EXPECT_TRUE(prompts->messages[i].contains(QStringLiteral("网页浏览器"))) << i;
    }

    prompts->savePaths.push_back(SaveChoice{dir.filePath(QStringLiteral("导出.xlsx")), true});
    window->action(Command::Export)->trigger();
    ASSERT_EQ(prompts->messages.size(), 5);
    EXPECT_TRUE(prompts->messages[4].contains(QStringLiteral("导出.xlsx")));
    EXPECT_TRUE(prompts->messages[4].contains(QStringLiteral("表格程序")));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("导出.xlsx")))); // written all the same

    // With a program at hand nothing is said.
    prompts->desktopFails = false;
    window->action(Command::Report)->trigger();
    EXPECT_EQ(prompts->messages.size(), 5);
}

TEST_F(WindowHabitsTest, RepairSaysWhatItChecked) {
    window->action(Command::Repair)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    const QString said = prompts->messages[0];
    EXPECT_FALSE(said.contains(QStringLiteral("库注册")));
    EXPECT_TRUE(said.contains(QStringLiteral("修复检查了")));
    EXPECT_TRUE(said.contains(QDir::toNativeSeparators(dir.path())));
    EXPECT_TRUE(said.contains(QStringLiteral("Carlito")));
}

TEST_F(WindowHabitsTest, CtrlOAndCtrlShiftOOpenFileOneAndFileTwo) {
    QApplication::setActiveWindow(window.get());
    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(prompts->openAsked, (std::vector<int>{1}));
    EXPECT_TRUE(window->action(Command::OpenFile2)
                    ->shortcuts()
                    .contains(QKeySequence(QStringLiteral("Ctrl+Shift+O"))));
}

TEST_F(WindowHabitsTest, RecentFilesOfEachPaneAreKeptBetweenRuns) {
    open(1, staff(1));
    open(1, staff(2));
    open(2, staff(2));
    open(1, staff(1)); // once, moved to the top
    EXPECT_EQ(recentPaths(1), QStringList({staff(1), staff(2)}));
    EXPECT_EQ(recentPaths(2), QStringList({staff(2)}));

    // The next run offers them, and choosing one opens it in its pane.
    window->close();
    window = makeWindow(prompts);
    EXPECT_EQ(recentPaths(1), QStringList({staff(1), staff(2)}));
    window->recentMenu(1)->actions()[1]->trigger();
    EXPECT_EQ(window->filePath(1), staff(2));
    EXPECT_EQ(recentPaths(1), QStringList({staff(2), staff(1)}));
    EXPECT_TRUE(prompts->openAsked.empty()); // no file dialog

    // A file that has gone is named, and taken off the list.
    const QString gone = dir.filePath(QStringLiteral("已删除.xlsx"));
    RecentFiles(2).add(gone);
    window->close();
    window = makeWindow(prompts);
    ASSERT_EQ(recentPaths(2).value(0), gone);
    window->recentMenu(2)->actions()[0]->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("已删除.xlsx")));
    EXPECT_EQ(recentPaths(2), QStringList({staff(2)}));

    // At most ten, the newest first.
    RecentFiles many(1);
    for (int i = 0; i < 12; ++i)
        many.add(dir.filePath(QStringLiteral("f%1.xlsx").arg(i)));
    EXPECT_EQ(many.paths().size(), RecentFiles::kLimit);
    EXPECT_EQ(many.paths().front(), dir.filePath(QStringLiteral("f11.xlsx")));
}

TEST_F(WindowHabitsTest, TheSplitterGivesTheResultPaneRoomAndKeepsItsPlace) {
    QSplitter* splitter = window->splitter();
    ASSERT_NE(splitter, nullptr);
    EXPECT_TRUE(splitter->isAncestorOf(window->resultPane()));
    EXPECT_TRUE(splitter->isAncestorOf(window->pane(1)));
    const int total = splitter->sizes()[0] + splitter->sizes()[1];
    splitter->setSizes({total / 4, total - total / 4});
    const int resultHeight = window->resultPane()->height();
    EXPECT_GT(resultHeight, window->pane(1)->height() * 2);
    window->close();
    window.reset(); // the next run's window is the only one (a second one has its folder's note)

    window = makeWindow(prompts);
    EXPECT_NEAR(window->resultPane()->height(), resultHeight, 2);
    EXPECT_NEAR(window->splitter()->sizes()[0], total / 4, 2);
}

TEST_F(WindowHabitsTest, ALaterOperationLeavesNoSheetOfAnEarlierOneAndExportHoldsOnlyItsResult) {
    compareTestBooks();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    const QStringList before = test::sheetNames(window->resultPane()->workbook());

    open(1, staff(1));
    open(2, staff(2));
    JoinChoice join;
    join.conditions = QStringList{u(u"工号")};
    prompts->joinAnswers.push_back(join);
    window->action(Command::Join)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    const QStringList after = test::sheetNames(window->resultPane()->workbook());
    EXPECT_NE(after, before);
    ASSERT_EQ(after.size(), 3) << after.join(u',').toStdString();
    EXPECT_EQ(after.mid(1), QStringList({QStringLiteral("Sheet2"), QStringLiteral("Sheet3")}));
    EXPECT_TRUE(window->resultPane()->workbook().sheets[1].rows.empty());
    EXPECT_TRUE(window->resultPane()->workbook().sheets[2].rows.empty());

    prompts->savePaths.push_back(SaveChoice{dir.filePath(QStringLiteral("out.xlsx")), true});
    window->action(Command::Export)->trigger();
    Workbook exported;
    ASSERT_TRUE(readWorkbook(dir.filePath(QStringLiteral("out.xlsx")), exported).isOk());
    EXPECT_EQ(test::sheetNames(exported), after);

    // A cancelled operation leaves the last result as it was.
    prompts->joinAnswers.push_back(std::nullopt);
    window->action(Command::Join)->trigger();
    EXPECT_EQ(window->resultPane()->workbook().sheets[0].name, after[0]);
    EXPECT_FALSE(window->resultPane()->workbook().sheets[0].rows.empty());
}

TEST_F(WindowHabitsTest, TheResultPaneExportsFromItsContextMenu) {
    const QList<QAction*>& items = window->resultPane()->contextActions();
    EXPECT_TRUE(items.contains(window->action(Command::Export)));
    EXPECT_FALSE(window->pane(1)->contextActions().contains(window->action(Command::Export)));
}

TEST(OptionsDialogs, ConfirmingWithoutANeededChoiceSaysSoAndStaysOpen) {
    const FieldList fields = {u(u"工号"), u(u"姓名"), u(u"金额")};
    test::refusals().clear();
    int expected = 0;
    auto refused = [&](QDialog& dialog, const char* name) {
        EXPECT_EQ(test::refusals().size(), ++expected) << name;
        EXPECT_NE(dialog.result(), QDialog::Accepted) << name;
    };
    CDiffDlg diff(fields);
    diff.accept(); // key mode, no key
    refused(diff, "compare");
    EXPECT_TRUE(test::refusals().last().contains(QStringLiteral("对比字段")));
    diff.positionalButton()->setChecked(true);
    diff.textBox()->setChecked(false);
    diff.accept(); // nothing to compare
    refused(diff, "compare, nothing ticked");
    diff.textBox()->setChecked(true);
    diff.accept();
    EXPECT_EQ(diff.result(), QDialog::Accepted);

    GzbDlg book;
    book.textBox()->setChecked(false);
    book.accept();
    refused(book, "books");
    CLinkDlg join(fields);
    join.accept();
    refused(join, "join");
    SelDlg filter(fields);
    filter.accept();
    refused(filter, "filter");
    CSumDlg sum(fields);
    sum.accept();
    refused(sum, "group sum");
    PageSumDlg pages({QStringLiteral("1"), u(u"金额")}, 20);
    pages.accept();
    refused(pages, "page subtotals");
    CAddRowDlg rows;
    rows.countBox()->findChild<QLineEdit*>()->setText(QStringLiteral("abc"));
    rows.accept();
    refused(rows, "blank rows");
    EXPECT_EQ(rows.blankCount(), -1);
}

TEST(OptionsDialogs, OpenWithTheChoicesMadeLastTimeForTheSameFields) {
    const FieldList fields = {u(u"工号"), u(u"姓名"), u(u"部门"), u(u"工资")};
    const FieldList others = {u(u"编号"), u(u"名称")};
    UserPrompts prompts;
    whenShown<CDiffDlg>([](CDiffDlg* d) {
        choose(d->chooser(0), u(u"姓名"));
        choose(d->chooser(1), u(u"工号"));
        d->ignoreCaseBox()->setChecked(true);
        d->confirmButton()->click();
    });
    ASSERT_TRUE(prompts.diffOptions(nullptr, fields));
    // Same fields: confirmed as it opens.
    whenShown<CDiffDlg>([](CDiffDlg* d) { d->confirmButton()->click(); });
    const std::optional<DiffChoice> again = prompts.diffOptions(nullptr, fields);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->keys, QStringList({u(u"姓名"), u(u"工号")}));
    EXPECT_TRUE(again->options.ignoreCase);
    // Other fields: the dialog opens fresh.
    int chosen = -1;
    whenShown<CDiffDlg>([&](CDiffDlg* d) {
        chosen = d->chooser(0)->currentIndex();
        d->reject();
    });
    EXPECT_FALSE(prompts.diffOptions(nullptr, others));
    EXPECT_EQ(chosen, 0);

    whenShown<CLinkDlg>([](CLinkDlg* d) {
        choose(d->condition(0), u(u"工号"));
        d->sumBox()->setChecked(true);
        d->confirmButton()->click();
    });
    prompts.joinOptions(nullptr, fields);
    whenShown<CLinkDlg>([](CLinkDlg* d) { d->confirmButton()->click(); });
    const JoinChoice join = prompts.joinOptions(nullptr, fields).value_or(JoinChoice{});
    EXPECT_EQ(join.conditions, QStringList({u(u"工号")}));
    EXPECT_TRUE(join.options.sumNumbers);

    whenShown<SelDlg>([](SelDlg* d) {
        choose(d->field(0), u(u"部门"));
        d->value(0)->setText(u(u"技术部"));
        d->confirmButton()->click();
    });
    prompts.filterOptions(nullptr, fields);
    whenShown<SelDlg>([](SelDlg* d) { d->confirmButton()->click(); });
    const FilterChoice filter = prompts.filterOptions(nullptr, fields).value_or(FilterChoice{});
    EXPECT_EQ(filter.values, QStringList({u(u"技术部")}));

    whenShown<CSumDlg>([](CSumDlg* d) {
        choose(d->group(0), u(u"部门"));
        d->sumColumns()->leftList()->setCurrentRow(3);
        d->sumColumns()->moveRight();
        d->confirmButton()->click();
    });
    const GroupSumChoice first = prompts.groupSumOptions(nullptr, fields).value_or(GroupSumChoice{});
    whenShown<CSumDlg>([](CSumDlg* d) { d->confirmButton()->click(); });
    const GroupSumChoice sum = prompts.groupSumOptions(nullptr, fields).value_or(GroupSumChoice{});
    EXPECT_EQ(sum.groupFields, QStringList({u(u"部门")}));
    EXPECT_EQ(sum.sumLabels, first.sumLabels);
    EXPECT_EQ(sum.sumLabels.size(), 1);
    // A column's function is remembered with it.
    whenShown<CSumDlg>([](CSumDlg* d) {
        d->sumColumns()->leftList()->setCurrentRow(2);
        d->sumColumns()->moveRight();
        d->sumColumns()->rightList()->setCurrentRow(0);
        d->functionBox()->setCurrentIndex(3);
        d->confirmButton()->click();
    });
    prompts.groupSumOptions(nullptr, fields);
    QString shown;
    whenShown<CSumDlg>([&](CSumDlg* d) {
        d->sumColumns()->rightList()->setCurrentRow(0);
        shown = d->functionBox()->currentText();
        d->confirmButton()->click();
    });
    const GroupSumChoice functions = prompts.groupSumOptions(nullptr, fields).value_or(GroupSumChoice{});
    EXPECT_EQ(functions.sumLabels, QStringList({u(u"C (部门)（最大值）"), u(u"D (工资)")}));
    EXPECT_EQ(shown, u(u"最大值"));

    whenShown<CAddRowDlg>([](CAddRowDlg* d) {
        d->countBox()->findChild<QLineEdit*>()->setText(QStringLiteral("4"));
        d->confirmButton()->click();
    });
    prompts.blankRowCount(nullptr);
    whenShown<CAddRowDlg>([](CAddRowDlg* d) { d->confirmButton()->click(); });
    EXPECT_EQ(prompts.blankRowCount(nullptr).value_or(-1), 4);
}

TEST(ResultPane, EachResultReplacesEverySheetOfTheLastAndAFailurePutsASmallOneBack) {
    SheetPane pane;
    pane.setExtent(50, 10);
    NullProgress progress;
    // An earlier operation wrote sheets 1 and 4 (a comparison and its notes).
    ASSERT_TRUE(pane.writeResult(1, u(u"对比结果"), test::makeTable({{"a", "1"}}), progress, 1).isOk());
    ASSERT_TRUE(pane.writeResult(4, u(u"备注"), test::makeTable({{"note"}}), progress, 1).isOk());
    ASSERT_EQ(pane.sheetCount(), 4);

    pane.startResult();
    ASSERT_TRUE(pane.writeResult(1, u(u"连接结果"), test::makeTable({{"x"}}), progress, 1).isOk());
    pane.finishResult(true);
    ASSERT_EQ(pane.sheetCount(), 3);
    EXPECT_EQ(pane.workbook().sheets[0].name, u(u"连接结果"));
    EXPECT_EQ(pane.workbook().sheets[1].name, QStringLiteral("Sheet2"));
    EXPECT_TRUE(pane.workbook().sheets[1].rows.empty());
    EXPECT_EQ(pane.workbook().sheets[2].name, QStringLiteral("Sheet3"));

    // A failed operation leaves the last result as it was.
    pane.startResult();
    pane.finishResult(false);
    ASSERT_EQ(pane.sheetCount(), 3);
    EXPECT_EQ(pane.workbook().sheets[0].name, u(u"连接结果"));
    EXPECT_EQ(pane.workbook().sheets[0].rows.size(), 1u);
}
