// Two main windows started in one folder: each works on its own working files, so 分页汇总
// and 两表对比 in one window never use what the other opened, even when both workbooks have a
// sheet named Sheet1; the second window's folder goes when it closes; a lock left by a window
// that crashed is taken over; a 1.xml changed behind a window's back is found and written
// again, or refused by name when that cannot give what the window showed.

#include "app/CQuellarDlg.h"
#include "app/WorkFolder.h"
#include "components/SheetPane.h"
#include "dialogs/PageSumDlg.h"
#include "table/PageSubtotals.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/ExcelDriver.h"
#include "workbook/WorkbookFormat.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;
using Command = CQuellarDlg::Command;
using test::bytesOf;

namespace {

// The scripted prompts, answering PageSumDlg too: three rows a page, the sum of column C.
class WindowPrompts : public test::ScriptedPrompts {
public:
    std::optional<PageSumChoice> pageSumOptions(QWidget*, const QStringList&, int) override {
        return PageSumChoice{QStringLiteral("03"), QStringLiteral("2"), {QStringLiteral("C (金额)")}};
    }
};

// A staff list on Sheet1 (编号, 姓名, 金额); every name carries `tag`, and `step` sets the amounts.
void writeStaff(const QString& path, const QString& tag, int step) {
    Workbook book = Workbook::makeDefault();
    Sheet& sheet = book.sheets[0];
    const QStringList header = {QStringLiteral("编号"), QStringLiteral("姓名"), QStringLiteral("金额")};
    for (int c = 0; c < 3; ++c)
        sheet.cellAt(0, c).value = CellValue::fromString(SharedText(header[c]));
    for (int r = 1; r <= 7; ++r) {
        sheet.cellAt(r, 0).value = CellValue::fromNumber(r);
        sheet.cellAt(r, 1).value =
            CellValue::fromString(SharedText(QStringLiteral("%1员工%2").arg(tag).arg(r)));
        sheet.cellAt(r, 2).value = CellValue::fromNumber(r * step);
    }
    ASSERT_EQ(sheet.name, QStringLiteral("Sheet1"));
    ASSERT_TRUE(writeWorkbook(book, path, FileKind::XmlSpreadsheet).isOk());
}

// The cell texts of the first sheet of a workbook file, rows on lines.
QString firstSheetText(const QString& path) {
    Workbook book;
    if (!readWorkbook(path, book).isOk() || book.sheets.empty()) return QStringLiteral("(unreadable)");
    return test::sheetText(book, book.sheets[0], 14, 3);
}

QString reportText(const QString& path) {
    const QByteArray bytes = bytesOf(path);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
}

// The whole text of the window's status line, after the note about its own folder if it has one.
QString fullStatus(const CQuellarDlg& window) {
    QString text;
    if (const auto* note = window.findChild<QLabel*>(QStringLiteral("folderNote")))
        text = note->text() + u' ';
    for (const QLabel* label : window.findChildren<QLabel*>())
        if (label->property("fullText").isValid()) return text + label->property("fullText").toString();
    return text;
}

class TwoWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        start = dir.filePath(QStringLiteral("work"));
        ASSERT_TRUE(QDir().mkpath(start));
        // File 1 and file 2 of each window: 甲 for the first window, 乙 for the second.
        for (const QString& tag : {QStringLiteral("甲"), QStringLiteral("乙")}) {
            writeStaff(source(tag, 1), tag, tag == QStringLiteral("甲") ? 100 : 1000);
            writeStaff(source(tag, 2), tag, tag == QStringLiteral("甲") ? 101 : 1001);
        }
    }
    QString source(const QString& tag, int which) const {
        return dir.filePath(QStringLiteral("%1名单%2.xml").arg(tag).arg(which));
    }
    std::unique_ptr<CQuellarDlg> newWindow(WindowPrompts*& prompts) {
        auto window = std::make_unique<CQuellarDlg>(start);
        auto owned = std::make_unique<WindowPrompts>();
        prompts = owned.get();
        window->setPrompts(std::move(owned));
        window->show();
        return window;
    }
    void pageSubtotals(CQuellarDlg& window, WindowPrompts& prompts) {
        window.action(Command::PageSubtotals)->trigger();
        ASSERT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(u'\n').toStdString();
    }
    void compare(CQuellarDlg& window, WindowPrompts& prompts) {
        CompareOptions positional;
        positional.keyMode = false;
        prompts.diffAnswers.push_back(DiffChoice{positional, {}});
        window.action(Command::CompareTables)->trigger();
        ASSERT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(u'\n').toStdString();
    }

    QTemporaryDir dir;
    QString start;
};

} // namespace

TEST_F(TwoWindows, EachWindowWorksOnItsOwnFilesAndTheSecondFolderGoesWithItsWindow) {
    WindowPrompts* firstPrompts = nullptr;
    WindowPrompts* secondPrompts = nullptr;
    auto first = newWindow(firstPrompts);
    auto second = newWindow(secondPrompts);
    const QString secondFolder = QDir(start).filePath(QStringLiteral("quellar-2"));
    EXPECT_EQ(first->workFolder().path(), start);
    EXPECT_EQ(second->workFolder().path(), secondFolder);
    EXPECT_TRUE(fullStatus(*second).contains(QDir::toNativeSeparators(secondFolder)))
        << fullStatus(*second).toStdString();
    EXPECT_FALSE(fullStatus(*first).contains(QStringLiteral("quellar-2")));

    // Opened in turns, as two users at two windows would.
    for (int which = 1; which <= 2; ++which) {
        ASSERT_TRUE(first->openWorkbook(which, source(QStringLiteral("甲"), which)));
        ASSERT_TRUE(second->openWorkbook(which, source(QStringLiteral("乙"), which)));
    }
    first->settleWorkingFiles();
    second->settleWorkingFiles();
    // The first window's working files keep their names in the start folder.
    EXPECT_TRUE(QFileInfo::exists(QDir(start).filePath(QStringLiteral("1.xml"))));
    EXPECT_TRUE(QFileInfo::exists(QDir(secondFolder).filePath(QStringLiteral("1.xml"))));

    pageSubtotals(*first, *firstPrompts);
    pageSubtotals(*second, *secondPrompts);
    const QString firstOutput = pageSubtotalOutputPath(source(QStringLiteral("甲"), 1));
    const QString secondOutput = pageSubtotalOutputPath(source(QStringLiteral("乙"), 1));
    EXPECT_EQ(firstPrompts->shownWorkbooks, QStringList{firstOutput});
    EXPECT_EQ(secondPrompts->shownWorkbooks, QStringList{secondOutput});
    const QString firstPages = firstSheetText(firstOutput);
    const QString secondPages = firstSheetText(secondOutput);
    EXPECT_TRUE(firstPages.contains(QStringLiteral("甲员工7")) && !firstPages.contains(QStringLiteral("乙")))
        << firstPages.toStdString();
    EXPECT_TRUE(secondPages.contains(QStringLiteral("乙员工7")) &&
                !secondPages.contains(QStringLiteral("甲")))
        << secondPages.toStdString();
    // The first page's subtotal: 100 + 200 + 300, and 1000 + 2000 + 3000.
    EXPECT_TRUE(firstPages.section(u'\n', 4, 4).contains(QStringLiteral("600:0")))
        << firstPages.toStdString();
    EXPECT_TRUE(secondPages.section(u'\n', 4, 4).contains(QStringLiteral("6000:0")))
        << secondPages.toStdString();

    compare(*first, *firstPrompts);
    compare(*second, *secondPrompts);
    ASSERT_EQ(firstPrompts->opened.size(), 1);
    ASSERT_EQ(secondPrompts->opened.size(), 1);
    EXPECT_EQ(firstPrompts->opened[0], QDir(start).filePath(QStringLiteral("report.htm")));
    EXPECT_EQ(secondPrompts->opened[0], QDir(secondFolder).filePath(QStringLiteral("report.htm")));
    const QString firstReport = reportText(firstPrompts->opened[0]);
    const QString secondReport = reportText(secondPrompts->opened[0]);
    EXPECT_TRUE(firstReport.contains(QDir::toNativeSeparators(source(QStringLiteral("甲"), 1))));
    EXPECT_FALSE(firstReport.contains(QStringLiteral("乙")));
    EXPECT_TRUE(secondReport.contains(QDir::toNativeSeparators(source(QStringLiteral("乙"), 1))));
    EXPECT_FALSE(secondReport.contains(QStringLiteral("甲")));
    const Workbook& firstResult = first->resultPane()->workbook();
    const Workbook& secondResult = second->resultPane()->workbook();
    EXPECT_TRUE(
        test::sheetText(firstResult, firstResult.sheets[0], 9, 3).contains(QStringLiteral("甲员工7")));
    EXPECT_TRUE(
        test::sheetText(secondResult, secondResult.sheets[0], 9, 3).contains(QStringLiteral("乙员工7")));

    // 对比报告 shows each window's own report.
    first->action(Command::Report)->trigger();
    second->action(Command::Report)->trigger();
    EXPECT_EQ(firstPrompts->opened.last(), firstPrompts->opened[0]);
    EXPECT_EQ(secondPrompts->opened.last(), secondPrompts->opened[0]);

    second.reset();
    EXPECT_FALSE(QFileInfo::exists(secondFolder));
    EXPECT_EQ(QDir(start).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("1.xml"), QStringLiteral("2.xml"), QStringLiteral("3.xml"),
                           QStringLiteral("report-details.htm"), QStringLiteral("report.htm")}));
}

TEST_F(TwoWindows, ALockLeftByACrashedWindowIsTakenOver) {
    ASSERT_TRUE(test::leaveStaleLock(WorkFolder::lockFileOf(start)));
    WindowPrompts* prompts = nullptr;
    auto window = newWindow(prompts);
    ASSERT_TRUE(window->openWorkbook(1, source(QStringLiteral("甲"), 1)));
    window->settleWorkingFiles();
    EXPECT_EQ(window->workFolder().path(), start);
    EXPECT_TRUE(QFileInfo::exists(QDir(start).filePath(QStringLiteral("1.xml"))));
    EXPECT_FALSE(QFileInfo::exists(QDir(start).filePath(QStringLiteral("quellar-2"))));
    // And held now: the next window gets a folder of its own.
    WindowPrompts* nextPrompts = nullptr;
    auto next = newWindow(nextPrompts);
    EXPECT_EQ(next->workFolder().path(), QDir(start).filePath(QStringLiteral("quellar-2")));
}

TEST_F(TwoWindows, AWorkingFileChangedBehindTheWindowsBackIsWrittenAgainOrRefusedByName) {
    WindowPrompts* prompts = nullptr;
    auto window = newWindow(prompts);
    ASSERT_TRUE(window->openWorkbook(1, source(QStringLiteral("甲"), 1)));
    window->settleWorkingFiles();
    const QString working = QDir(start).filePath(QStringLiteral("1.xml"));
    const QByteArray written = bytesOf(working);

    // Another program (or a window of an older version) puts its own workbook there.
    ASSERT_TRUE(ConvertWorkbook(source(QStringLiteral("乙"), 1), working, QStringLiteral("46")).isOk());
    ASSERT_NE(bytesOf(working), written);
    window->action(Command::PageSubtotals)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("1.xml"))) << prompts->messages[0].toStdString();
    EXPECT_EQ(bytesOf(working), written);
    const QString output = pageSubtotalOutputPath(source(QStringLiteral("甲"), 1));
    ASSERT_EQ(prompts->shownWorkbooks, QStringList{output});
    const QString pages = firstSheetText(output);
    EXPECT_TRUE(pages.contains(QStringLiteral("甲员工7")) && !pages.contains(QStringLiteral("乙")))
        << pages.toStdString();

    // File 1 itself changed too: 1.xml cannot be made what the window shows any more.
    const QByteArray outputBefore = bytesOf(output);
    writeStaff(source(QStringLiteral("甲"), 1), QStringLiteral("丙"), 5);
    test::writeBytes(working, "changed");
    window->action(Command::PageSubtotals)->trigger();
    ASSERT_EQ(prompts->messages.size(), 2);
    EXPECT_TRUE(prompts->messages[1].contains(QStringLiteral("分页汇总没有完成")));
    EXPECT_TRUE(prompts->messages[1].contains(QDir::toNativeSeparators(working)))
        << prompts->messages[1].toStdString();
    EXPECT_EQ(prompts->shownWorkbooks.size(), 1);
    EXPECT_EQ(bytesOf(output), outputBefore);

    // The report: changed behind the window's back, it is written again before it is shown.
    ASSERT_TRUE(window->openWorkbook(2, source(QStringLiteral("甲"), 2)));
    CompareOptions positional;
    positional.keyMode = false;
    prompts->diffAnswers.push_back(DiffChoice{positional, {}});
    window->action(Command::CompareTables)->trigger();
    const QString report = QDir(start).filePath(QStringLiteral("report.htm"));
    const QByteArray reportBytes = bytesOf(report);
    ASSERT_FALSE(reportBytes.isEmpty());
    test::writeBytes(report, "<html>another window's report</html>");
    window->action(Command::Report)->trigger();
    EXPECT_EQ(bytesOf(report), reportBytes);
    EXPECT_EQ(prompts->opened.last(), report);
    EXPECT_TRUE(fullStatus(*window).contains(QStringLiteral("report.htm")));
}
