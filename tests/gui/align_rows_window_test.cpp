// 识别插入和删除的行 in the window: the box under 按每行每列 in both comparison dialogs, remembered
// like the other choices; both comparisons giving exactly what quellar-cli gives with
// --align-rows; and the result pane's 只看差异 keeping the field row where the alignment put it.

#include "app/CQuellarDlg.h"
#include "app/UserPrompts.h"
#include "components/SheetPane.h"
#include "components/SheetPaneModel.h"
#include "dialogs/CDiffDlg.h"
#include "dialogs/GzbDlg.h"
#include "table/compare/Comparison.h"
#include "tests/CliRun.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/WorkbookFormat.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

using namespace quellar;
using test::whenShown;
using Command = CQuellarDlg::Command;

namespace {

void writeFile(const QString& path, const QString& text) {
    ASSERT_TRUE(test::writeBytes(path, text.toUtf8())) << path.toStdString();
}

} // namespace

TEST(AlignRowsDialogs, TheBoxBelongsToByPositionAndIsRemembered) {
    CDiffDlg diff({QStringLiteral("品名")});
    QCheckBox* align = diff.alignRowsBox();
    ASSERT_TRUE(align);
    EXPECT_FALSE(align->isChecked());
    EXPECT_FALSE(align->isEnabled()); // key mode at first
    diff.positionalButton()->setChecked(true);
    EXPECT_TRUE(align->isEnabled());
    // It stands under 按每行每列.
    EXPECT_EQ(align->mapTo(&diff, QPoint()).x(), diff.positionalButton()->mapTo(&diff, QPoint()).x());
    align->setChecked(true);
    diff.confirmButton()->click();
    EXPECT_TRUE(diff.options().alignRows);
    EXPECT_FALSE(diff.options().keyMode);

    // In key mode the tick means nothing.
    CDiffDlg keyed({QStringLiteral("品名")});
    keyed.positionalButton()->setChecked(true);
    keyed.alignRowsBox()->setChecked(true);
    keyed.keyModeButton()->setChecked(true);
    keyed.chooser(0)->setCurrentIndex(1);
    keyed.confirmButton()->click();
    EXPECT_EQ(keyed.result(), QDialog::Accepted);
    EXPECT_FALSE(keyed.options().alignRows);

    GzbDlg book;
    ASSERT_TRUE(book.alignRowsBox());
    EXPECT_FALSE(book.alignRowsBox()->isChecked());
    book.confirmButton()->click();
    EXPECT_FALSE(book.options().alignRows);

    // The real prompts remember the choice for the next time.
    UserPrompts prompts;
    whenShown<CDiffDlg>([](CDiffDlg* dialog) {
        dialog->positionalButton()->setChecked(true);
        dialog->alignRowsBox()->setChecked(true);
        dialog->confirmButton()->click();
    });
    ASSERT_TRUE(prompts.diffOptions(nullptr, {QStringLiteral("品名")}).has_value());
    bool ticked = false;
    whenShown<CDiffDlg>([&](CDiffDlg* dialog) {
        ticked = dialog->alignRowsBox()->isChecked() && dialog->alignRowsBox()->isEnabled();
        dialog->confirmButton()->click();
    });
    const std::optional<DiffChoice> again = prompts.diffOptions(nullptr, {QStringLiteral("品名")});
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(ticked);
    EXPECT_TRUE(again->options.alignRows);

    whenShown<GzbDlg>([](GzbDlg* dialog) {
        dialog->alignRowsBox()->setChecked(true);
        dialog->confirmButton()->click();
    });
    ASSERT_TRUE(prompts.bookOptions(nullptr).has_value());
    whenShown<GzbDlg>([&](GzbDlg* dialog) {
        ticked = dialog->alignRowsBox()->isChecked();
        dialog->confirmButton()->click();
    });
    const std::optional<CompareOptions> book2 = prompts.bookOptions(nullptr);
    ASSERT_TRUE(book2.has_value());
    EXPECT_TRUE(ticked);
    EXPECT_TRUE(book2->alignRows);
}

class AlignRowsWindowTest : public test::WindowTest {
protected:
    void openLists() {
        QDir().mkpath(dir.filePath("1"));
        QDir().mkpath(dir.filePath("2"));
        a = dir.filePath("1/价目.csv");
        b = dir.filePath("2/价目.csv");
        writeFile(a, QString::fromUtf16(u"品名,单位,单价\n苹果,斤,5\n梨,斤,4\n李子,斤,6\n无花果,个,2\n"
                                        u"橙,斤,3\n"));
        writeFile(b, QString::fromUtf16(u"品名,单位,单价\n桃,斤,7\n苹果,斤,5\n梨,斤,4.5\n无花果,个,2\n"
                                        u"橙,斤,3\n柚,个,8\n"));
        open(1, a);
        open(2, b);
    }

    void expectSameResult(const QString& cliOutput) {
        Workbook cli;
        ASSERT_TRUE(readWorkbook(cliOutput, cli).isOk());
        const Workbook& mine = window->resultPane()->workbook();
        EXPECT_EQ(test::sheetText(mine, mine.sheets[0], 10, 8), test::sheetText(cli, cli.sheets[0], 10, 8));
    }

    QString status() const { return window->findChild<QLabel*>(QStringLiteral("status"))->toolTip(); }

    QString a, b;
};

TEST_F(AlignRowsWindowTest, CompareTablesGivesWhatTheCommandLineGives) {
    openLists();
    CompareOptions options;
    options.keyMode = false;
    options.alignRows = true;
    prompts->diffAnswers.push_back(DiffChoice{options, {}});
    window->action(Command::CompareTables)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    EXPECT_TRUE(status().contains(QString::fromUtf16(u"不同的行 4，不同的单元格 1")))
        << status().toStdString();

    const QString output = dir.filePath(QStringLiteral("cli.xml"));
    const test::CliRun run =
        test::runCli({"compare", "--by-position", "--align-rows", a, b, "-o", output, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    expectSameResult(output);
    // The inserted row stands at the top, green, with its row number in file 2.
    const Workbook& mine = window->resultPane()->workbook();
    EXPECT_EQ(test::fillOf(mine, mine.sheets[0], 1, 4), 4);
    EXPECT_EQ(test::fillOf(mine, mine.sheets[0], 4, 0), 6);
    EXPECT_TRUE(test::sheetText(mine, mine.sheets[0], 2, 4).endsWith(QStringLiteral("2:20")))
        << test::sheetText(mine, mine.sheets[0], 2, 4).toStdString();
}

TEST_F(AlignRowsWindowTest, CompareBooksGivesWhatTheCommandLineGives) {
    openLists();
    CompareOptions options{true, false, false, false, false};
    options.alignRows = true;
    prompts->bookAnswers.push_back(options);
    window->action(Command::CompareBooks)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();

    const QString output = dir.filePath(QStringLiteral("books.xml"));
    const test::CliRun run = test::runCli({"compare-books", "--align-rows", a, b, "-o", output, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    expectSameResult(output);
}

TEST(AlignRowsPane, OnlyDifferencesKeepsTheFieldRowWhereTheAlignmentPutIt) {
    SheetPane pane;
    pane.setExtent(20, 10);
    pane.enableDifferenceTools();
    pane.show();
    // File 2 has a title line above its field row: it comes first, the field rows pair after it.
    CompareOptions options;
    options.keyMode = false;
    options.alignRows = true;
    options.rules.columnsByName = true;
    QString report;
    NullProgress progress;
    ASSERT_TRUE(runTableComparison(pane, progress, test::tbl("id,v;1,a;2,b;3,c"),
                                   test::tbl("价目表,;id,v;1,a;3,c"), options, {}, 1,
                                   QStringLiteral("对比结果"), report)
                    .isOk());
    auto* box = pane.findChild<QCheckBox*>();
    ASSERT_TRUE(box);
    box->setChecked(true);
    // Row 1 the title (green), row 2 the field rows, row 4 the deleted row.
    ASSERT_EQ(pane.model()->rowCount(), 3);
    EXPECT_EQ(pane.model()->headerData(0, Qt::Vertical).toString(), QStringLiteral("1"));
    EXPECT_EQ(pane.model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("2"));
    EXPECT_EQ(pane.model()->headerData(2, Qt::Vertical).toString(), QStringLiteral("4"));
}
