// 分页汇总 from the main window offscreen: the sheet of the file-1 pane, the proposal from
// its first page break, PageSumDlg answered through UserPrompts, the output workbook next
// to file 1 handed to the desktop; and PageSumDlg itself.

#include "app/CQuellarDlg.h"
#include "base/MessageTable.h"
#include "components/SheetPane.h"
#include "dialogs/FieldListPair.h"
#include "dialogs/PageSumDlg.h"
#include "table/PageSubtotals.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/ExcelDriver.h"
#include "workbook/WorkbookFormat.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;
using Command = CQuellarDlg::Command;

namespace {

using test::u;

// The scripted prompts, answering PageSumDlg too (cancelled when no answer is left).
class PagePrompts : public test::ScriptedPrompts {
public:
    std::optional<PageSumChoice> pageSumOptions(QWidget*, const QStringList& dialogList,
                                                int proposedRows) override {
        offered.append(dialogList);
        proposals.push_back(proposedRows);
        if (answers.empty()) return {};
        PageSumChoice choice = answers.front();
        answers.pop_front();
        return choice;
    }
    std::deque<PageSumChoice> answers;
    QList<QStringList> offered;
    std::vector<int> proposals;
};

class PageSubtotalsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<CQuellarDlg>(dir.filePath(QStringLiteral("work")));
        QDir().mkpath(dir.filePath(QStringLiteral("work")));
        auto owned = std::make_unique<PagePrompts>();
        prompts = owned.get();
        window->setPrompts(std::move(owned));
        window->show();
    }
    // Opens a copy of test file `source` as file 1, under `name` in a folder of its own.
    QString openCopy(const QString& source, const QString& name) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(QFile::copy(source, path));
        EXPECT_TRUE(window->openWorkbook(1, path));
        return path;
    }
    QTemporaryDir dir;
    std::unique_ptr<CQuellarDlg> window;
    PagePrompts* prompts = nullptr;
};

} // namespace

TEST_F(PageSubtotalsCommand, WritesTheWorkbookNextToFileOneAndOpensIt) {
    EXPECT_TRUE(window->action(Command::PageSubtotals)->isEnabled());
    EXPECT_TRUE(window->toolAction(Command::PageSubtotals)->isEnabled());
    const QString path = openCopy(test::staff(1), u(u"员工.xml"));
    prompts->answers.push_back({QStringLiteral("03"), QStringLiteral("2"), {u(u"D (工资)")}});
    window->toolAction(Command::PageSubtotals)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();

    // The dialog list of the field row under the title, and the proposal from the page break.
    ASSERT_EQ(prompts->offered.size(), 1);
    EXPECT_EQ(prompts->offered[0], QStringList({QStringLiteral("5"), u(u"工号"), u(u"姓名"), u(u"部门"),
                                                u(u"工资"), u(u"入职日期")}));
    EXPECT_EQ(prompts->proposals[0], proposedRowsPerPage(FirstPageBreakRow(path, 1), 1));

    const QString output = dir.filePath(u(u"员工_分页汇总.xls"));
    ASSERT_EQ(prompts->shownWorkbooks, QStringList{output});
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("work/3.xml"))));
    Workbook book;
    ASSERT_TRUE(readWorkbook(output, book).isOk());
    const Sheet& sheet = book.sheets[0];
    EXPECT_EQ(test::sheetText(book, sheet, 14, 4).section(u'\n', 5, 5), u(u":0 小计:0 :0 30500:0"));
    EXPECT_EQ(test::sheetText(book, sheet, 14, 4).section(u'\n', 9, 9), u(u":0 小计:0 :0 28000:0"));
    EXPECT_EQ(test::sheetText(book, sheet, 14, 4).section(u'\n', 12, 13),
              u(u":0 小计:0 :0 19800:0\n:0 合计:0 :0 78300:0"));
    // The panes are not touched.
    EXPECT_TRUE(window->resultPane()->workbook().sheets[0].rows.empty());
}

TEST_F(PageSubtotalsCommand, NoFieldRowNoSumColumnOrNoFileEndWithoutWriting) {
    window->toolAction(Command::PageSubtotals)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->offered.isEmpty());

    // Cancelled, or confirmed with no column moved: nothing is said or written.
    openCopy(test::staff(1), u(u"员工.xml"));
    prompts->answers.push_back({QStringLiteral("03"), QStringLiteral("2"), {}});
    window->toolAction(Command::PageSubtotals)->trigger();
    window->toolAction(Command::PageSubtotals)->trigger();
    EXPECT_EQ(prompts->offered.size(), 2);
    EXPECT_EQ(prompts->messages.size(), 1);
    EXPECT_FALSE(QFile::exists(dir.filePath(u(u"员工_分页汇总.xls"))));
    EXPECT_TRUE(prompts->shownWorkbooks.isEmpty());

    // A sheet whose every row has an empty or repeated text.
    Workbook noFields = Workbook::makeDefault();
    noFields.sheets[0].cellAt(0, 0).value = CellValue::fromString(SharedText(QStringLiteral("a")));
    noFields.sheets[0].cellAt(0, 1).value = CellValue::fromString(SharedText(QStringLiteral("a")));
    const QString path = dir.filePath(QStringLiteral("nofields.xml"));
    ASSERT_TRUE(writeWorkbook(noFields, path, FileKind::XmlSpreadsheet).isOk());
    ASSERT_TRUE(window->openWorkbook(1, path));
    window->toolAction(Command::PageSubtotals)->trigger();
    ASSERT_EQ(prompts->messages.size(), 2);
    EXPECT_EQ(prompts->messages[1], MessageTable::text(Msg::PageFieldRowInvalid));
    EXPECT_EQ(prompts->offered.size(), 2);

    // A working file that went missing is named in the message.
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("work/1.xml"))));
    window->toolAction(Command::PageSubtotals)->trigger();
    ASSERT_EQ(prompts->messages.size(), 3);
    EXPECT_TRUE(prompts->messages[2].contains(QStringLiteral("1.xml")));
}

TEST(PageSumDlg, OpensWithTheProposalPositionTwoAndEveryLabelOnTheLeft) {
    const QStringList list{QStringLiteral("3"), u(u"编号"), u(u"名称"), u(u"金额")};
    for (auto [proposal, selected] : std::vector<std::pair<int, QString>>{{48, QStringLiteral("48")},
                                                                          {5, QStringLiteral("06")},
                                                                          {-4, QStringLiteral("06")},
                                                                          {150, QStringLiteral("99")}}) {
        PageSumDlg dialog(list, proposal);
        EXPECT_EQ(dialog.rowsPerPage()->currentText(), selected) << proposal;
        EXPECT_EQ(dialog.rowsPerPage()->count(), 99);
        EXPECT_EQ(dialog.rowsPerPage()->itemText(0), QStringLiteral("01"));
    }
    PageSumDlg dialog(list, 48);
    EXPECT_EQ(dialog.windowTitle(), u(u"分页汇总选项"));
    EXPECT_EQ(dialog.subtotalColumn()->currentText(), QStringLiteral("2"));
    EXPECT_EQ(dialog.subtotalColumn()->count(), 10);
    QListWidget* left = dialog.sumColumns()->leftList();
    ASSERT_EQ(left->count(), 3);
    EXPECT_EQ(dialog.sumColumns()->rightList()->count(), 0);
    QStringList labels;
    for (int i = 0; i < left->count(); ++i)
        labels.append(left->item(i)->text());
    labels.sort();
    EXPECT_EQ(labels, QStringList({u(u"A (编号)"), u(u"B (名称)"), u(u"C (金额)")}));
}

TEST(PageSumDlg, ConfirmingHandsBackTheListsTextsAndTheMovedLabels) {
    PageSumDlg dialog({QStringLiteral("3"), u(u"编号"), u(u"名称"), u(u"金额")}, 10);
    dialog.rowsPerPage()->setCurrentIndex(dialog.rowsPerPage()->findText(QStringLiteral("40")));
    dialog.subtotalColumn()->setCurrentIndex(0);
    QListWidget* left = dialog.sumColumns()->leftList();
    left->setCurrentRow(left->count() - 1);
    dialog.sumColumns()->moveRight();
    dialog.sumColumns()->moveRight(); // nothing selected any more: nothing happens
    dialog.confirmButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.choice().rowsPerPage, QStringLiteral("40"));
    EXPECT_EQ(dialog.choice().subtotalColumn, QStringLiteral("0"));
    ASSERT_EQ(dialog.choice().pageSumLabels.size(), 1);

    PageSumDlg cancelled({QStringLiteral("1"), u(u"编号")}, 10);
    cancelled.sumColumns()->leftList()->setCurrentRow(0);
    cancelled.sumColumns()->moveRight();
    cancelled.cancelButton()->click();
    EXPECT_TRUE(cancelled.choice().pageSumLabels.isEmpty());
}
