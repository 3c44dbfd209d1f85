// 两表连接, 比较筛选, 增加空行 and 分组汇总 run from the main window offscreen: the list each
// dialog is offered, the answers given through UserPrompts, the "nothing chosen" rules, and
// the result pane against what the cores give for the same tables (as the command line
// runs them).

#include "app/CQuellarDlg.h"
#include "base/Faults.h"
#include "base/MessageTable.h"
#include "components/SheetPane.h"
#include "dialogs/CAddRowDlg.h"
#include "dialogs/FieldListPair.h"
#include "table/BlankRows.h"
#include "table/Filter.h"
#include "table/GroupSum.h"
#include "table/Join.h"
#include "tests/CliRun.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/RangeReader.h"
#include "workbook/TableWriter.h"
#include "workbook/WorkbookFormat.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace quellar;
using test::ScriptedPrompts;
using test::staff;
using test::testDataPath;
using Command = CQuellarDlg::Command;

namespace {

using test::u;

using test::choose;
using test::whenShown;

// The tables of staff1.xml and staff2.xml as the window reads them: the range given in
// A1 notation ("" for the used range), clipped like a selection.
RowTable readStaff(int n, const QString& range) {
    Workbook book;
    EXPECT_TRUE(readWorkbook(staff(n), book).isOk());
    RangeBounds bounds = clipUsedRange(book.sheets[0]);
    if (!range.isEmpty()) {
        const QStringList ends = range.split(u':');
        auto cell = [](const QString& ref, int32_t& column, int32_t& row) {
            qsizetype i = 0;
            column = 0;
            while (i < ref.size() && ref[i].isLetter())
                column = column * 26 + (ref[i++].unicode() - 'A' + 1);
            row = ref.mid(i).toInt();
        };
        cell(ends[0], bounds.firstColumn, bounds.firstRow);
        cell(ends[1], bounds.lastColumn, bounds.lastRow);
        bounds = clipSourceRange(book.sheets[0], bounds);
    }
    NullProgress progress;
    return readRange(book, book.sheets[0], bounds, progress, 1);
}

using test::coreResult;

class OperationCommandsTest : public test::WindowTest {
protected:
    const Workbook& resultBook() const { return window->resultPane()->workbook(); }
    const Sheet& resultSheet() const { return resultBook().sheets[0]; }

    // The result pane's first sheet holds exactly what the core wrote, cell for cell and
    // style for style, under the operation's sheet name, and it is the sheet shown.
    void expectResult(const Workbook& expected, const QString& sheetName, int rows, int columns) {
        const SheetPane* result = window->resultPane();
        EXPECT_EQ(resultSheet().name, sheetName);
        EXPECT_EQ(result->tabBar()->tabText(0), sheetName);
        EXPECT_EQ(result->activeSheetIndex(), 0);
        const Sheet& want = expected.sheets[0];
        EXPECT_EQ(test::sheetText(resultBook(), resultSheet(), rows + 1, columns + 1),
                  test::sheetText(expected, want, rows + 1, columns + 1));
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                const Cell* a = resultSheet().cell(r, c);
                const Cell* b = want.cell(r, c);
                ASSERT_EQ(a == nullptr, b == nullptr) << r << "," << c;
                if (a) EXPECT_EQ(resultBook().styles[a->style], expected.styles[b->style]) << r << "," << c;
            }
    }

    // The result pane holds what the join core makes of the staff tables with `choice`.
    void expectJoinedAsTheCoreJoins(const JoinChoice& choice) {
        const RowTable t1 = readStaff(1, QString()), t2 = readStaff(2, QString());
        expectResult(coreResult([&](ResultSink& sink, Progress& progress) {
                         return runJoin(sink, progress, t1, t2, choice.conditions, choice.options);
                     }),
                     u(u"连接结果"), 12, 7);
    }

    void expectResultUntouched() const {
        EXPECT_EQ(resultSheet().name, QStringLiteral("Sheet1"));
        EXPECT_TRUE(resultSheet().rows.empty());
    }
};

const FieldList kStaffFields = {u(u"工号"), u(u"姓名"), u(u"部门"), u(u"工资"), u(u"入职日期")};

} // namespace

TEST_F(OperationCommandsTest, TheFourCommandsAreOfferedInTheMenuAndOnTheToolbar) {
    for (Command c : {Command::GroupSum, Command::Join, Command::BlankRows, Command::Filter}) {
        ASSERT_NE(window->action(c), nullptr);
        EXPECT_TRUE(window->action(c)->isEnabled());
        ASSERT_NE(window->toolAction(c), nullptr);
        EXPECT_TRUE(window->toolAction(c)->isEnabled());
    }
}

TEST_F(OperationCommandsTest, JoinPairsTheTablesByTheChosenConditions) {
    open(1, staff(1));
    open(2, staff(2));
    JoinChoice choice;
    choice.conditions = {u(u"工号")};
    prompts->joinAnswers.push_back(choice);
    window->toolAction(Command::Join)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    ASSERT_EQ(prompts->joinOffered.size(), 1u);
    EXPECT_EQ(prompts->joinOffered[0], kStaffFields);

    // Title and field rows pair with each other; A002's salary differs (red, file 1 kept);
    // A008 has no partner (yellow), A009 comes last (green); the last column is the
    // 1-based row of file 2.
    EXPECT_EQ(test::sheetText(resultBook(), resultSheet(), 1, 6).section(u' ', 5), QStringLiteral("1:20"));
    EXPECT_EQ(test::sheetText(resultBook(), resultSheet(), 4, 6).section(u'\n', 3),
              u(u"A002:0 王芳:0 财务部:0 9200:3 2018/7/15:0 4:20"));
    EXPECT_TRUE(test::sheetText(resultBook(), resultSheet(), 10, 6)
                    .section(u'\n', 9)
                    .startsWith(u(u"A008:6 黄强:6")));
    EXPECT_TRUE(test::sheetText(resultBook(), resultSheet(), 11, 6)
                    .section(u'\n', 10)
                    .startsWith(u(u"A009:4 周杰:4")));
    expectJoinedAsTheCoreJoins(choice);
}

TEST_F(OperationCommandsTest, JoinWithFileTwoPreferredAndNumbersSummed) {
    open(1, staff(1));
    open(2, staff(2));
    JoinChoice choice;
    choice.conditions = {u(u"姓名"), u(u"工号")};
    choice.options.preferFileOne = false;
    choice.options.sumNumbers = true;
    prompts->joinAnswers.push_back(choice);
    window->action(Command::Join)->trigger();
    // 9200 + 9500 (the file-1 value plus the file-2 value) in a red cell; A003's department
    // shows file 2's text; equal numbers are summed too.
    EXPECT_EQ(test::sheetText(resultBook(), resultSheet(), 5, 7).section(u'\n', 2),
              u(u"A001:0 张伟:0 销售部:0 17000:0 2019/3/1:0 3:20 .\n"
                u"A002:0 王芳:0 财务部:0 18700:3 2018/7/15:0 4:20 .\n"
                u"A003:0 李娜:0 研发部:3 25600:0 2020/1/6:0 5:20 ."));
    expectJoinedAsTheCoreJoins(choice);
}

TEST_F(OperationCommandsTest, FilterListsTheMatchesOfBothFilesSideBySide) {
    open(1, staff(1));
    open(2, staff(2));
    prompts->filterAnswers.push_back(FilterChoice{{u(u"部门")}, {u(u"技术部")}});
    window->toolAction(Command::Filter)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    ASSERT_EQ(prompts->filterOffered.size(), 1u);
    EXPECT_EQ(prompts->filterOffered[0], kStaffFields);
    // File 1 has three rows of 技术部 (rows 4, 5 and 8), file 2 two (rows 6 and 8).
    EXPECT_EQ(
        test::sheetText(resultBook(), resultSheet(), 4, 12),
        u(u"A003:0 李娜:0 技术部:0 12800:0 2020/1/6:0 4:20 6:20 A004:0 刘洋:0 技术部:0 11500:0 2021/5/20:0\n"
          u"A004:0 刘洋:0 技术部:0 11500:0 2021/5/20:0 5:20 8:20 A007:0 赵敏:0 技术部:0 13600:0 2016/9/1:0\n"
          u"A007:0 赵敏:0 技术部:0 13600:0 2016/9/1:0 8:20 . . . . . .\n"
          u". . . . . . . . . . . ."));
    const RowTable t1 = readStaff(1, QString()), t2 = readStaff(2, QString());
    expectResult(coreResult([&](ResultSink& sink, Progress& progress) {
                     return runFilter(sink, progress, t1, t2, {u(u"部门")}, {u(u"技术部")});
                 }),
                 u(u"筛选结果"), 4, 12);
}

TEST_F(OperationCommandsTest, FilterSaysWhichConditionFieldATableLacksAfterTheResult) {
    open(1, staff(1));
    open(2, staff(2));
    typeRange(2, QStringLiteral("A2:D10")); // file 2 without 入职日期
    prompts->filterAnswers.push_back(FilterChoice{{u(u"部门"), u(u"入职日期")}, {u(u"技术部"), QString()}});
    window->action(Command::Filter)->trigger();
    ASSERT_EQ(prompts->filterOffered.size(), 1u);
    EXPECT_EQ(prompts->filterOffered[0], kStaffFields); // the union of both lists
    EXPECT_EQ(resultSheet().name, u(u"筛选结果"));
    FilterInfo info;
    info.missingInTwo = QStringList{u(u"入职日期")};
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_EQ(prompts->messages[0], filterMissingFieldsNote(info));
}

TEST_F(OperationCommandsTest, BlankRowsFollowEveryRowOfTheSelectedRange) {
    open(1, staff(1));
    typeRange(1, QStringLiteral("A3:B4"));
    prompts->blankRowAnswers.push_back(2);
    window->toolAction(Command::BlankRows)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    EXPECT_EQ(prompts->blankRowsAsked, 1);
    const RowTable t1 = readStaff(1, QStringLiteral("A3:B4"));
    const Workbook expected = coreResult(
        [&](ResultSink& sink, Progress& progress) { return runInsertBlankRows(sink, progress, t1, 2); });
    expectResult(expected, u(u"增加结果"), 6, 2);
    EXPECT_TRUE(test::sheetText(resultBook(), resultSheet(), 6, 2).startsWith(u(u"A001:0 张伟:0\n")));
    EXPECT_EQ(test::sheetText(resultBook(), resultSheet(), 6, 2).section(u'\n', 3, 3), u(u"A002:0 王芳:0"));
}

TEST_F(OperationCommandsTest, GroupSummaryGroupsByTheChosenFieldsAndSumsTheChosenColumns) {
    open(1, staff(1));
    prompts->groupSumAnswers.push_back(GroupSumChoice{{u(u"部门")}, {u(u"D (工资)")}});
    window->toolAction(Command::GroupSum)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    ASSERT_EQ(prompts->groupSumOffered.size(), 1u);
    EXPECT_EQ(prompts->groupSumOffered[0], kStaffFields);
    const RowTable t1 = readStaff(1, QString());
    const Workbook expected = coreResult([&](ResultSink& sink, Progress& progress) {
        return runGroupSum(sink, progress, t1, {u(u"部门")}, {u(u"D (工资)")});
    });
    // The field row, 8 data rows, 5 department subtotals and the grand total; the title row
    // above the field row is left out.
    expectResult(expected, u(u"汇总结果"), 15, 5);
    const QString text = test::sheetText(resultBook(), resultSheet(), 16, 5);
    EXPECT_EQ(text.section(u'\n', 0, 2), u(u"工号:0 姓名:0 部门:0 工资:0 入职日期:0\n"
                                           u"A005:0 陈静:0 人事部:0 7600:0 2017/11/2:0\n"
                                           u":0 :0 人事部小计:36 7600:36 :0"));
    EXPECT_EQ(text.section(u'\n', 14), u(u"合计:0 :0 :0 78300:20 :0\n. . . . ."));
}

// Columns with functions: the result pane holds what quellar-cli group-sum writes with the
// same choice given as --count, --average and --max (the dates are no numbers: empty maxima).
TEST_F(OperationCommandsTest, GroupSummaryWithFunctionsGivesWhatTheCommandLineGives) {
    open(1, staff(1));
    prompts->groupSumAnswers.push_back(GroupSumChoice{
        {u(u"部门")}, {u(u"B (姓名)（计数）"), u(u"D (工资)（平均值）"), u(u"E (入职日期)（最大值）")}});
    window->action(Command::GroupSum)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("cli.xml"));
    const test::CliRun run =
        test::runCli({"group-sum", staff(1), "--group", u(u"部门"), "--average", u(u"工资"), "--count",
                      u(u"姓名"), "--max", u(u"入职日期"), "-o", output, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    Workbook cli;
    ASSERT_TRUE(readWorkbook(output, cli).isOk());
    const QString shown = test::sheetText(resultBook(), resultSheet(), 16, 5);
    EXPECT_EQ(shown, test::sheetText(cli, cli.sheets[0], 16, 5));
    EXPECT_EQ(shown.section(u'\n', 0, 0),
              u(u"工号:0 姓名（计数）:0 部门:0 工资（平均值）:0 入职日期（最大值）:0"));
    EXPECT_EQ(shown.section(u'\n', 14, 14), u(u"合计:0 8:20 :0 9787.5:20 :20")) << shown.toStdString();
}

TEST_F(OperationCommandsTest, NothingChosenEndsEachCommandWithoutWriting) {
    open(1, staff(1));
    open(2, staff(2));
    struct Case {
        const char* name;
        std::function<void()> answer;
        Command command;
        QStringList messages;
    };
    const Case cases[] = {
        {"join cancelled", [&] { prompts->joinAnswers.push_back(std::nullopt); }, Command::Join, {}},
        {"join with empty names",
         [&] {
             prompts->joinAnswers.push_back(JoinChoice{{QString(), QString()}, {}});
         },
         Command::Join,
         {}},
        {"filter cancelled",
         [&] { prompts->filterAnswers.push_back(std::nullopt); },
         Command::Filter,
         {MessageTable::text(Msg::NoFilterCondition)}},
        {"blank rows cancelled",
         [&] { prompts->blankRowAnswers.push_back(std::nullopt); },
         Command::BlankRows,
         {}},
        {"blank rows count 0", [&] { prompts->blankRowAnswers.push_back(0); }, Command::BlankRows, {}},
        {"group summary cancelled",
         [&] { prompts->groupSumAnswers.push_back(std::nullopt); },
         Command::GroupSum,
         {}},
        {"group summary with columns but no group",
         [&] {
             prompts->groupSumAnswers.push_back(GroupSumChoice{{}, {u(u"D (工资)")}});
         },
         Command::GroupSum,
         {}},
    };
    for (const Case& c : cases) {
        prompts->messages.clear();
        c.answer();
        window->action(c.command)->trigger();
        EXPECT_EQ(prompts->messages, c.messages) << c.name;
        expectResultUntouched();
    }
    EXPECT_EQ(MessageTable::text(Msg::NoFilterCondition), u(u"没有选择查询条件。"));
    EXPECT_EQ(prompts->joinOffered.size(), 2u);
    EXPECT_EQ(prompts->filterOffered.size(), 1u);
    EXPECT_EQ(prompts->blankRowsAsked, 2);
    EXPECT_EQ(prompts->groupSumOffered.size(), 2u);
}

TEST_F(OperationCommandsTest, EachResultReplacesTheLastAndNamesTheSheetAfterItsOperation) {
    open(1, staff(1));
    open(2, staff(2));
    prompts->groupSumAnswers.push_back(GroupSumChoice{{u(u"部门")}, {}});
    window->action(Command::GroupSum)->trigger();
    EXPECT_EQ(resultSheet().name, u(u"汇总结果"));
    typeRange(1, QStringLiteral("A3:A3"));
    prompts->blankRowAnswers.push_back(1);
    window->action(Command::BlankRows)->trigger();
    EXPECT_EQ(resultSheet().name, u(u"增加结果"));
    // Only A001 and its blank row: nothing of the summary is left.
    EXPECT_EQ(test::sheetText(resultBook(), resultSheet(), 4, 3),
              QStringLiteral("A001:0 . .\n:0 . .\n. . .\n. . ."));
}

// The program's own prompts show the real dialogs, modally, and hand back what the user
// chose there; a cancelled dialog hands back nullopt.
TEST(OperationPrompts, TheRealDialogsAnswerForTheFourCommands) {
    UserPrompts prompts;
    whenShown<CLinkDlg>([](CLinkDlg* dialog) {
        choose(dialog->condition(2), u(u"工号"));
        dialog->fileTwoButton()->setChecked(true);
        dialog->confirmButton()->click();
    });
    const JoinChoice join = prompts.joinOptions(nullptr, kStaffFields).value();
    EXPECT_EQ(join.conditions, QStringList({u(u"工号")}));
    EXPECT_FALSE(join.options.preferFileOne);
    whenShown<CLinkDlg>([](CLinkDlg* dialog) {
        choose(dialog->condition(0), u(u"工号"));
        dialog->cancelButton()->click();
    });
    EXPECT_FALSE(prompts.joinOptions(nullptr, kStaffFields).has_value());

    whenShown<SelDlg>([](SelDlg* dialog) {
        choose(dialog->field(1), u(u"部门"));
        dialog->value(1)->setText(u(u"技术部"));
        dialog->confirmButton()->click();
    });
    const FilterChoice filter = prompts.filterOptions(nullptr, kStaffFields).value();
    EXPECT_EQ(filter.fields, QStringList({u(u"部门")}));
    EXPECT_EQ(filter.values, QStringList({u(u"技术部")}));
    whenShown<SelDlg>([](SelDlg* dialog) {
        choose(dialog->field(0), u(u"部门"));
        dialog->reject();
    });
    EXPECT_FALSE(prompts.filterOptions(nullptr, kStaffFields).has_value());

    whenShown<CAddRowDlg>([](CAddRowDlg* dialog) {
        dialog->countBox()->stepBy(2);
        dialog->confirmButton()->click();
    });
    EXPECT_EQ(prompts.blankRowCount(nullptr), 3);
    whenShown<CAddRowDlg>([](CAddRowDlg* dialog) { dialog->cancelButton()->click(); });
    EXPECT_FALSE(prompts.blankRowCount(nullptr).has_value());

    whenShown<CSumDlg>([](CSumDlg* dialog) {
        choose(dialog->group(0), u(u"部门"));
        dialog->sumColumns()->leftList()->setCurrentRow(3); // D (工资)
        dialog->sumColumns()->addButton()->click();
        dialog->confirmButton()->click();
    });
    const GroupSumChoice sum = prompts.groupSumOptions(nullptr, kStaffFields).value();
    EXPECT_EQ(sum.groupFields, QStringList({u(u"部门")}));
    EXPECT_EQ(sum.sumLabels, QStringList({u(u"D (工资)")}));
    whenShown<CSumDlg>([](CSumDlg* dialog) {
        choose(dialog->group(0), u(u"部门"));
        dialog->cancelButton()->click();
    });
    EXPECT_FALSE(prompts.groupSumOptions(nullptr, kStaffFields).has_value());
}

// An allocation failure at any point of a window command (reading the panes, the operation,
// writing the result pane) ends the command with a message box naming it and the failure;
// the source panes and the result pane stay as they were, and the next command runs. The
// failure points are tried in turn until the command gets through.
TEST_F(OperationCommandsTest, AnAllocationFailureAnywhereLeavesThePanesAsTheyWere) {
    open(1, staff(1));
    open(2, staff(2));
    prompts->groupSumAnswers.push_back(GroupSumChoice{{u(u"部门")}, {}});
    window->action(Command::GroupSum)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty());
    auto paneText = [](const SheetPane* pane) {
        const Workbook& book = pane->workbook();
        QString text;
        for (const Sheet& sheet : book.sheets)
            text += sheet.name + u'\n' + test::sheetText(book, sheet, 14, 8) + u'\n';
        return text;
    };

    struct Case {
        Command command;
        const char16_t* name;
        std::function<void()> answer;
    };
    CompareOptions keyMode;
    const std::vector<Case> cases = {
        {Command::CompareTables, u"两表对比",
         [&] {
             prompts->diffAnswers.push_back(DiffChoice{keyMode, {u(u"工号")}});
         }},
        {Command::Join, u"两表连接",
         [&] {
             prompts->joinAnswers.push_back(JoinChoice{{u(u"工号")}, {}});
         }},
        {Command::Filter, u"比较筛选",
         [&] {
             prompts->filterAnswers.push_back(FilterChoice{{u(u"部门")}, {u(u"财务部")}});
         }},
        {Command::BlankRows, u"增加空行", [&] { prompts->blankRowAnswers.push_back(1); }},
        {Command::GroupSum, u"分组汇总",
         [&] {
             prompts->groupSumAnswers.push_back(GroupSumChoice{{u(u"部门")}, {}});
         }},
    };
    for (const Case& c : cases) {
        int failures = 0;
        for (int point = 1; point < 300; ++point) {
            const QString before[3] = {paneText(window->pane(1)), paneText(window->pane(2)),
                                       paneText(window->resultPane())};
            prompts->messages.clear();
            prompts->diffAnswers.clear();
            prompts->joinAnswers.clear();
            prompts->filterAnswers.clear();
            prompts->blankRowAnswers.clear();
            prompts->groupSumAnswers.clear();
            c.answer();
            faults::failAllocationAt(point);
            window->action(c.command)->trigger();
            faults::failAllocationAt(0);
            if (prompts->messages.isEmpty()) break; // past the last checkpoint
            ++failures;
            ASSERT_EQ(prompts->messages.size(), 1);
            EXPECT_TRUE(prompts->messages[0].contains(u(c.name))) << prompts->messages[0].toStdString();
            EXPECT_TRUE(prompts->messages[0].contains(u(u"内存不足"))) << prompts->messages[0].toStdString();
            EXPECT_EQ(paneText(window->pane(1)), before[0]);
            EXPECT_EQ(paneText(window->pane(2)), before[1]);
            EXPECT_EQ(paneText(window->resultPane()), before[2])
                << u(c.name).toStdString() << " at " << point;
        }
        EXPECT_GE(failures, 3) << u(c.name).toStdString();
    }
}
