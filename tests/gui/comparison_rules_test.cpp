// The comparison rules in the window: the 规则 section of both comparison dialogs (what it
// hands back, what it refuses), and both comparisons with rules giving exactly what
// quellar-cli gives with the same rules, statistics included, the status line naming the
// rules and the most different column, and 差异统计 showing the statistics.

#include "app/CQuellarDlg.h"
#include "components/SheetPane.h"
#include "dialogs/CDiffDlg.h"
#include "dialogs/GzbDlg.h"
#include "dialogs/RulesBox.h"
#include "dialogs/StatisticsDlg.h"
#include "table/compare/CompareStatistics.h"
#include "tests/CliRun.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/WorkbookFormat.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;
using test::bytesOf;
using test::ScriptedPrompts;
using test::staff;
using Command = CQuellarDlg::Command;

TEST(RulesSection, DialogsHandBackTheRulesOrExplainWhatIsWrong) {
    CDiffDlg diff({QStringLiteral("工号"), QStringLiteral("工资")});
    RulesBox* rules = diff.rulesBox();
    // Columns pair by name in key mode anyway.
    EXPECT_FALSE(rules->byNameBox()->isEnabled());
    diff.positionalButton()->setChecked(true);
    EXPECT_TRUE(rules->byNameBox()->isEnabled());
    rules->toleranceEdit()->setText(QStringLiteral("0.01；工资=0.5"));
    rules->relativeEdit()->setText(QStringLiteral("0.5%"));
    rules->ignoredEdit()->setText(QStringLiteral("备注、时间"));
    rules->spacesBox()->setChecked(true);
    rules->byNameBox()->setChecked(true);
    diff.confirmButton()->click();
    EXPECT_EQ(diff.result(), QDialog::Accepted);
    const CompareRules& r = diff.options().rules;
    EXPECT_EQ(*r.tolerance, 0.01);
    ASSERT_EQ(r.fieldTolerances.size(), 1u);
    EXPECT_EQ(r.fieldTolerances[0].field, QStringLiteral("工资"));
    EXPECT_DOUBLE_EQ(*r.relTolerance, 0.005);
    EXPECT_EQ(r.ignoredColumns, QStringList({QStringLiteral("备注"), QStringLiteral("时间")}));
    EXPECT_TRUE(r.ignoreSpaces && !r.ignoreWidth && r.columnsByName);

    // A dialog left as it opened chooses no rule.
    GzbDlg plain;
    plain.confirmButton()->click();
    EXPECT_TRUE(plain.options().rules.isDefault());

    // A tolerance that is no number keeps the dialog open and says which and why.
    GzbDlg book;
    book.rulesBox()->relativeEdit()->setText(QStringLiteral("金额=一半"));
    book.show();
    book.confirmButton()->click();
    EXPECT_NE(book.result(), QDialog::Accepted);
    EXPECT_TRUE(book.errorLabel()->isVisible());
    EXPECT_TRUE(book.errorLabel()->text().contains(QStringLiteral("相对容差")))
        << book.errorLabel()->text().toStdString();
    EXPECT_TRUE(book.errorLabel()->text().contains(QStringLiteral("金额")));
    book.rulesBox()->relativeEdit()->setText(QStringLiteral("金额=50%"));
    book.confirmButton()->click();
    EXPECT_EQ(book.result(), QDialog::Accepted);
    EXPECT_EQ(book.options().rules.fieldRelTolerances[0].value, 0.5);
}

class WindowRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<CQuellarDlg>(dir.path());
        auto owned = std::make_unique<ScriptedPrompts>();
        prompts = owned.get();
        window->setPrompts(std::move(owned));
        window->show();
        for (int which : {1, 2}) {
            prompts->openPaths.push_back(staff(which));
            window->action(which == 1 ? Command::OpenFile1 : Command::OpenFile2)->trigger();
        }
    }

    // The window's result sheet against the command line's result workbook.
    void expectSameResult(const QString& cliOutput, int sheets) {
        Workbook cli;
        ASSERT_TRUE(readWorkbook(cliOutput, cli).isOk());
        const Workbook& mine = window->resultPane()->workbook();
        for (int s = 0; s < sheets; ++s)
            EXPECT_EQ(test::sheetText(mine, mine.sheets[size_t(s)], 12, 12),
                      test::sheetText(cli, cli.sheets[size_t(s)], 12, 12));
    }

    // The status line shortens a long text to its width; its tooltip holds all of it.
    QString fullStatus() const { return window->findChild<QLabel*>(QStringLiteral("status"))->toolTip(); }

    QTemporaryDir dir;
    std::unique_ptr<CQuellarDlg> window;
    ScriptedPrompts* prompts = nullptr;
};

TEST_F(WindowRulesTest, CompareTablesWithRulesGivesWhatTheCommandLineGives) {
    EXPECT_FALSE(window->statisticsAction()->isEnabled());
    CompareOptions options;
    options.rules.fieldTolerances = {{QStringLiteral("工资"), 500}};
    options.rules.ignoredColumns = {QStringLiteral("入职日期")};
    options.rules.ignoreWidth = true;
    prompts->diffAnswers.push_back(DiffChoice{options, {QStringLiteral("工号")}});
    window->action(Command::CompareTables)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();

    const QString output = dir.filePath(QStringLiteral("cli.xml")),
                  summary = dir.filePath(QStringLiteral("s.json"));
    const test::CliRun run =
        test::runCli({"compare", "--key", QStringLiteral("工号"), "--tolerance", QStringLiteral("工资=500"),
                      "--ignore-column", QStringLiteral("入职日期"), "--ignore-width", staff(1), staff(2),
                      "-o", output, "--summary", summary, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    expectSameResult(output, 1);
    ASSERT_EQ(window->statistics().size(), 1u);
    EXPECT_EQ(statisticsJson(window->statistics()[0].second) + '\n', bytesOf(summary).toStdString());

    // The salaries are within 500; the department of A003 is what differs most.
    EXPECT_TRUE(
        fullStatus().contains(QStringLiteral("规则：数值容差 工资 500；忽略全角半角；不比较 入职日期。")))
        << fullStatus().toStdString();
    EXPECT_TRUE(fullStatus().contains(QStringLiteral("差异最多的列：部门（1 格）。")));

    ASSERT_TRUE(window->statisticsAction()->isEnabled());
    window->statisticsAction()->trigger();
    ASSERT_EQ(prompts->shownStatistics.size(), 1u);
    StatisticsDlg dialog(prompts->shownStatistics[0]);
    QTableWidget* table = dialog.columnTable();
    ASSERT_EQ(table->rowCount(), 5);
    EXPECT_EQ(table->item(2, 0)->text(), QStringLiteral("部门"));
    EXPECT_EQ(table->item(2, 3)->text(), QStringLiteral("1"));
    EXPECT_EQ(table->item(4, 2)->text(), QStringLiteral("否"));
}

TEST_F(WindowRulesTest, CompareBooksWithRulesGivesWhatTheCommandLineGives) {
    CompareOptions options{true, false, false, false, false};
    options.rules.columnsByName = true;
    options.rules.tolerance = 400;
    prompts->bookAnswers.push_back(options);
    window->action(Command::CompareBooks)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();

    const QString output = dir.filePath(QStringLiteral("books.xml")),
                  summary = dir.filePath(QStringLiteral("s.json"));
    const test::CliRun run =
        test::runCli({"compare-books", "--columns-by-name", "--tolerance", "400", staff(1), staff(2), "-o",
                      output, "--summary", summary, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    expectSameResult(output, 1);
    std::vector<std::pair<QString, const CompareStatistics*>> sheets;
    for (const auto& [name, s] : window->statistics())
        sheets.emplace_back(name, &s);
    ASSERT_FALSE(sheets.empty());
    const QString path = dir.filePath(QStringLiteral("window.json"));
    ASSERT_TRUE(writeBookStatistics(path, sheets).isOk());
    EXPECT_EQ(bytesOf(path), bytesOf(summary));
    EXPECT_TRUE(fullStatus().contains(QStringLiteral("按字段名对应列"))) << fullStatus().toStdString();

    // A rule naming a field no sheet has: a message, and the result pane as it was.
    const QString before =
        test::sheetText(window->resultPane()->workbook(), window->resultPane()->workbook().sheets[0], 12, 12);
    CompareOptions unknown = options;
    unknown.rules.ignoredColumns = {QStringLiteral("奖金")};
    prompts->bookAnswers.push_back(unknown);
    window->action(Command::CompareBooks)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("奖金"))) << prompts->messages[0].toStdString();
    EXPECT_EQ(
        test::sheetText(window->resultPane()->workbook(), window->resultPane()->workbook().sheets[0], 12, 12),
        before);
}
