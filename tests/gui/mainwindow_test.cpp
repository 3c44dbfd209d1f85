// The main window driven end to end offscreen: opening workbooks into the panes, the range
// boxes, both comparisons through their options (answered through UserPrompts), the result
// pane against what the command line computes, report.htm, export, and the failures.

#include "app/CQuellarDlg.h"
#include "app/CRunDlg.h"
#include "base/MessageTable.h"
#include "components/SheetPane.h"
#include "components/SheetPaneModel.h"
#include "table/compare/WorkbookComparison.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/RangeReader.h"
#include "workbook/TableWriter.h"
#include "workbook/WorkbookFormat.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

using namespace quellar;
using test::ScriptedPrompts;
using test::staff;
using test::testDataPath;
using Command = CQuellarDlg::Command;

namespace {

QDateTime fixedTime() {
    return QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7));
}

QString readReport(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    const QByteArray bytes = file.readAll();
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                              (bytes.size() - 2) / 2);
}

class MainWindowTest : public test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        window->setClock(fixedTime);
    }
};

// The CLI's way: read both files, clip their used ranges, compare, write into a workbook.
Workbook comparedLikeTheCli(const CompareOptions& options, const QStringList& keys, QString& reportText) {
    Workbook b1, b2;
    EXPECT_TRUE(readWorkbook(staff(1), b1).isOk());
    EXPECT_TRUE(readWorkbook(staff(2), b2).isOk());
    NullProgress progress;
    RowTable t1 = readRange(b1, b1.sheets[0], clipUsedRange(b1.sheets[0]), progress, 1);
    RowTable t2 = readRange(b2, b2.sheets[0], clipUsedRange(b2.sheets[0]), progress, 1);
    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, WorkbookSink::Mode::WriteOnly);
    EXPECT_TRUE(runTableComparison(sink, progress, std::move(t1), std::move(t2), options, keys, 1,
                                   QStringLiteral("对比结果"), reportText)
                    .isOk());
    return result;
}

} // namespace

TEST_F(MainWindowTest, HasTheTitleMenusToolbarAndButtons) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quellar"));
    QStringList menus;
    for (QAction* a : window->menuBar()->actions())
        menus.append(a->text());
    EXPECT_EQ(menus, QStringList({QStringLiteral("文件(&F)"), QStringLiteral("工具(&T)"),
                                  QStringLiteral("帮助(&H)")}));

    struct Button {
        Command command;
        Msg caption;
        Msg tip;
        bool enabled;
    };
    const Button buttons[] = {
        {Command::CompareTables, Msg::ToolCompareTables, Msg::TipCompareTables, true},
        {Command::CompareBooks, Msg::ToolCompareBooks, Msg::TipCompareBooks, true},
        {Command::GroupSum, Msg::ToolGroupSum, Msg::TipGroupSum, true},
        {Command::PageSubtotals, Msg::ToolPageSubtotals, Msg::TipPageSubtotals, true},
        {Command::Join, Msg::ToolJoin, Msg::TipJoin, true},
        {Command::BlankRows, Msg::ToolBlankRows, Msg::TipBlankRows, true},
        {Command::Filter, Msg::ToolFilter, Msg::TipFilter, true},
        {Command::Query, Msg::ToolQuery, Msg::TipQuery, true},
        {Command::ConditionalSum, Msg::ToolConditionalSum, Msg::TipConditionalSum, true},
        {Command::Help, Msg::ToolHelp, Msg::TipHelp, true},
        {Command::WebSite, Msg::ToolWebSite, Msg::TipWebSite, true},
    };
    QList<QAction*> onBar;
    for (QAction* a : window->toolBar()->actions())
        if (!a->isSeparator()) onBar.append(a);
    ASSERT_EQ(onBar.size(), 11);
    QSet<qint64> images;
    for (size_t i = 0; i < std::size(buttons); ++i) {
        const Button& b = buttons[i];
        QAction* tool = window->toolAction(b.command);
        ASSERT_NE(tool, nullptr);
        EXPECT_EQ(onBar[qsizetype(i)], tool) << "button order";
        EXPECT_EQ(tool->text(), MessageTable::text(b.caption));
        EXPECT_EQ(tool->isEnabled(), b.enabled) << MessageTable::name(b.caption);
        if (b.enabled) EXPECT_EQ(tool->toolTip(), MessageTable::text(b.tip));
        const QImage image = tool->icon().pixmap(32, 32).toImage();
        EXPECT_EQ(image.size(), QSize(32, 32));
        images.insert(image.cacheKey() ^ qHash(QByteArray(reinterpret_cast<const char*>(image.constBits()),
                                                          image.sizeInBytes())));
    }
    EXPECT_EQ(images.size(), 11) << "one distinct icon per command";
    // The menu item of workbook comparison reads 两簿比较, its button 两薄比较.
    EXPECT_EQ(window->action(Command::CompareBooks)->text(), QStringLiteral("两簿比较"));
    EXPECT_EQ(window->action(Command::Repair)->toolTip(), QStringLiteral("修复“库没有注册”错误"));
    for (const char* name : {"open1", "open2", "export", "report"})
        EXPECT_NE(window->findChild<QPushButton*>(QLatin1String(name)), nullptr) << name;
}

TEST_F(MainWindowTest, LaysTheControlsOutByTheProportionsOnEveryResize) {
    double firstShare = 0;
    for (QSize size : {QSize(1000, 700), QSize(1400, 900), QSize(800, 560), QSize(1001, 701)}) {
        window->resize(size);
        QApplication::processEvents();
        QWidget* central = window->centralWidget();
        const int W = central->width();
        // The panes sit in the splitter; their places are measured in the central widget.
        auto inCentral = [&](QWidget* w) { return QRect(w->mapTo(central, QPoint(0, 0)), w->size()); };
        const QRect p1 = inCentral(window->pane(1)), p2 = inCentral(window->pane(2)),
                    r = inCentral(window->resultPane());
        // Two file panes side by side, equally wide (to a pixel: the width may be odd) and
        // apart; the result pane below them spans both, with the same margin on either side.
        EXPECT_NEAR(p1.width(), p2.width(), 1);
        EXPECT_EQ(p1.top(), p2.top());
        EXPECT_LT(p1.right(), p2.left());
        EXPECT_EQ(r.left(), p1.left());
        EXPECT_NEAR(r.right(), p2.right(), 1);
        EXPECT_EQ(r.left(), W - 1 - r.right());
        EXPECT_GT(r.width(), W * 9 / 10);
        // The file panes start 5 pixels lower than the result pane; later sizes keep the
        // splitter's share.
        const double share = double(p1.height()) / (p1.height() + r.height());
        if (firstShare == 0) {
            EXPECT_NEAR(p1.height(), r.height() - 5, 1);
            firstShare = share;
        } else {
            EXPECT_NEAR(share, firstShare, 0.01) << size.width() << "x" << size.height();
        }
        EXPECT_GT(r.top(), p1.bottom());
        // Each range box stands over its pane; the buttons are below the result pane.
        EXPECT_EQ(inCentral(window->rangeBox(1)).left(), p1.left());
        EXPECT_NEAR(inCentral(window->rangeBox(2)).left(), p2.left(), 1);
        EXPECT_LT(r.bottom(), inCentral(window->findChild<QPushButton*>(QStringLiteral("export"))).top());
    }
}

TEST_F(MainWindowTest, OpeningFilesConvertsShowsProtectsAndSelectsTheUsedRange) {
    open(1, staff(1));
    open(2, staff(2));
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    EXPECT_EQ(window->filePath(1), staff(1));
    EXPECT_EQ(window->filePath(2), staff(2));
    for (int which : {1, 2}) {
        const QString working = dir.filePath(QStringLiteral("%1.xml").arg(which));
        Workbook back;
        ASSERT_TRUE(readWorkbook(working, back).isOk()) << working.toStdString();
        EXPECT_EQ(back.sheets[0].name, QStringLiteral("员工"));
        EXPECT_EQ(window->rangeBox(which)->text(), QStringLiteral("A1:E10"));
        EXPECT_EQ(window->pane(which)->selection(), (RangeBounds{1, 1, 5, 10}));
        EXPECT_TRUE(window->pane(which)->activeSheet().isProtected);
        EXPECT_FALSE(window->pane(which)->model()->flags(window->pane(which)->model()->index(2, 2)) &
                     Qt::ItemIsEditable);
    }
    // Opening file 1 again replaces the pane and the working file.
    open(1, testDataPath(QStringLiteral("cli/book1.xml")));
    EXPECT_EQ(window->pane(1)->sheetCount(), 3);
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1:B3"));
    // Another sheet shown for the first time has its filled part selected, and each sheet
    // keeps its selection.
    window->pane(1)->tabBar()->setCurrentIndex(1);
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1:B2"));
    window->pane(1)->select(RangeBounds{1, 1, 1, 1});
    window->pane(1)->tabBar()->setCurrentIndex(0);
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1:B3"));
    window->pane(1)->tabBar()->setCurrentIndex(1);
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1"));
    Workbook back;
    ASSERT_TRUE(readWorkbook(dir.filePath(QStringLiteral("1.xml")), back).isOk());
    EXPECT_EQ(back.sheets[0].name, QStringLiteral("a"));
}

TEST_F(MainWindowTest, AFileThatCannotBeOpenedIsNamedInAMessageAndChangesNothing) {
    open(1, staff(1));
    const QString broken[] = {testDataPath(QStringLiteral("broken/truncated.xml")),
                              testDataPath(QStringLiteral("broken/not_a_workbook.xlsx")),
                              dir.filePath(QStringLiteral("no such file.xlsx"))};
    for (const QString& path : broken) {
        prompts->messages.clear();
        open(1, path);
        ASSERT_EQ(prompts->messages.size(), 1) << path.toStdString();
        EXPECT_TRUE(prompts->messages[0].contains(QFileInfo(path).fileName()))
            << prompts->messages[0].toStdString();
        EXPECT_EQ(window->filePath(1), staff(1));
        EXPECT_EQ(window->pane(1)->workbook().sheets[0].name, QStringLiteral("员工"));
        EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1:E10"));
    }
    // A cancelled dialog does nothing at all.
    prompts->messages.clear();
    window->action(Command::OpenFile2)->trigger();
    EXPECT_TRUE(prompts->messages.isEmpty());
    EXPECT_TRUE(window->filePath(2).isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("2.xml"))));
}

TEST_F(MainWindowTest, TypedRangesSelectByTheRangeBoxRules) {
    open(1, staff(1));
    struct Case {
        const char16_t* typed;
        bool selects;
        RangeBounds selected;
    };
    const RangeBounds before{1, 1, 5, 10};
    const Case cases[] = {
        {u"A1:C10", true, {1, 1, 3, 10}},
        {u"b2:d4", true, {2, 2, 4, 4}},
        {u"C10:A1", true, {1, 1, 3, 10}},
        {u"A:C10", false, before},
        {u"A1:C", false, before},
        {u"A1-C10", false, before},
        {u"1A:C10", false, before},
        {u"B2:AAAZ5", false, before},
        {u"A1:XFE3", false, before},
        {u"AB12:XFD1048576", true, {28, 12, 16384, 1048576}},
        // Each keystroke applies: A1:A104857 was valid before the last digit made it too far.
        {u"A1:A1048577", true, {1, 1, 1, 104857}},
    };
    for (const Case& c : cases) {
        window->pane(1)->select(before);
        typeRange(1, QString::fromUtf16(c.typed), false);
        EXPECT_EQ(window->pane(1)->selection(), c.selected) << QString::fromUtf16(c.typed).toStdString();
        // The box keeps what was typed while the pane follows it.
        EXPECT_EQ(window->rangeBox(1)->text(), QString::fromUtf16(c.typed));
    }
    // Enter applies and writes the address in its usual form; it never closes the window.
    typeRange(1, QStringLiteral("c3:a1"), true);
    EXPECT_EQ(window->pane(1)->selection(), (RangeBounds{1, 1, 3, 3}));
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1:C3"));
    EXPECT_TRUE(window->isVisible());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(window->pane(1)->view(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    // Selecting in the pane shows the address.
    window->pane(1)->select(RangeBounds{2, 3, 4, 8});
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("B3:D8"));
}

TEST_F(MainWindowTest, SelectingTheWholeSheetSelectsItsUsedRange) {
    open(2, staff(2));
    window->pane(2)->view()->selectAll();
    EXPECT_EQ(window->rangeBox(2)->text(), QStringLiteral("A1:E10"));
    EXPECT_EQ(window->pane(2)->selection(), (RangeBounds{1, 1, 5, 10}));
    // An empty sheet's used range is its first cell.
    window->pane(1)->view()->selectAll();
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1"));
}

TEST_F(MainWindowTest, CompareTablesByKeyGivesWhatTheCommandLineGives) {
    open(1, staff(1));
    open(2, staff(2));
    CompareOptions options; // text, key mode
    prompts->diffAnswers.push_back(DiffChoice{options, {QStringLiteral("工号")}});
    window->action(Command::CompareTables)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();

    // The dialog offered the fields common to both tables.
    ASSERT_EQ(prompts->offeredFields.size(), 1u);
    EXPECT_EQ(prompts->offeredFields[0],
              QStringList({QStringLiteral("工号"), QStringLiteral("姓名"), QStringLiteral("部门"),
                           QStringLiteral("工资"), QStringLiteral("入职日期")}));
    // The selections were clipped and are shown.
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1:E10"));

    const SheetPane* result = window->resultPane();
    EXPECT_EQ(result->workbook().sheets[0].name, QStringLiteral("对比结果"));
    EXPECT_EQ(result->tabBar()->tabText(0), QStringLiteral("对比结果"));
    EXPECT_EQ(result->activeSheetIndex(), 0);
    // A002's salary differs (red), A003's department differs, A008 is only in file 1
    // (yellow), A009 only in file 2 (green, listed last).
    const Sheet& sheet = result->workbook().sheets[0];
    EXPECT_EQ(
        test::sheetText(result->workbook(), sheet, 11, 11),
        QStringLiteral(
            "员工名单:0[1x5] . . . . 1:20 员工名单:0[1x5] . . . .\n"
            "工号:0 姓名:0 部门:0 工资:0 入职日期:0 2:20 工号:0 姓名:0 部门:0 工资:0 入职日期:0\n"
            "A001:0 张伟:0 销售部:0 8500:0 2019/3/1:0 3:20 A001:0 张伟:0 销售部:0 8500:0 2019/3/1:0\n"
            "A002:0 王芳:0 财务部:0 9200:3 2018/7/15:0 4:20 A002:0 王芳:0 财务部:0 9500:3 2018/7/15:0\n"
            "A003:0 李娜:0 技术部:3 12800:0 2020/1/6:0 5:20 A003:0 李娜:0 研发部:3 12800:0 2020/1/6:0\n"
            "A004:0 刘洋:0 技术部:0 11500:0 2021/5/20:0 7:20 A004:0 刘洋:0 技术部:0 11500:0 2021/5/20:0\n"
            "A005:0 陈静:0 人事部:0 7600:0 2017/11/2:0 6:20 A005:0 陈静:0 人事部:0 7600:0 2017/11/2:0\n"
            "A006:0 杨磊:0 销售部:0 8900:0 2022/2/14:0 8:20 A006:0 杨磊:0 销售部:0 8900:0 2022/2/14:0\n"
            "A007:0 赵敏:0 技术部:0 13600:0 2016/9/1:0 9:20 A007:0 赵敏:0 技术部:0 13600:0 2016/9/1:0\n"
            "A008:6 黄强:6 后勤部:6 6200:6 2023/4/10:6 . . . . . .\n"
            ". . . . . 10:20 A009:4 周杰:4 市场部:4 9800:4 2024/6/3:4"));

    // Exactly what the command line computes, cell for cell and style for style.
    QString cliReport;
    const Workbook cli = comparedLikeTheCli(options, {QStringLiteral("工号")}, cliReport);
    EXPECT_EQ(test::sheetText(result->workbook(), sheet, 12, 12),
              test::sheetText(cli, cli.sheets[0], 12, 12));
    for (int r = 0; r < 11; ++r)
        for (int c = 0; c < 11; ++c) {
            const Cell* a = sheet.cell(r, c);
            const Cell* b = cli.sheets[0].cell(r, c);
            ASSERT_EQ(a == nullptr, b == nullptr);
            if (a) EXPECT_EQ(result->workbook().styles[a->style], cli.styles[b->style]) << r << "," << c;
        }

    // The report: written into the start directory and opened.
    const QString reportPath = dir.filePath(QStringLiteral("report.htm"));
    ASSERT_EQ(prompts->opened, QStringList({reportPath}));
    const QString report = readReport(reportPath);
    EXPECT_TRUE(report.contains(QStringLiteral("<title>对比对比</title>")));
    EXPECT_TRUE(report.contains(QStringLiteral("12月6日2026年 9点5分7秒")));
    EXPECT_TRUE(report.contains(staff(1)));
    EXPECT_TRUE(report.contains(staff(2)));
    EXPECT_TRUE(report.contains(cliReport));
    EXPECT_TRUE(report.contains(QStringLiteral("<td>不同的行数：</td>\n<td>4</td>")));
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("不同的行 4")));

    // 对比报告 opens the same report again.
    window->findChild<QPushButton*>(QStringLiteral("report"))->click();
    EXPECT_EQ(prompts->opened.size(), 2);
    EXPECT_EQ(prompts->opened.last(), reportPath);

    // 差异明细 opens the details page written beside it: each red cell pair listed once.
    window->findChild<QPushButton*>(QStringLiteral("details"))->click();
    const QString detailsPath = dir.filePath(QStringLiteral("report-details.htm"));
    EXPECT_EQ(prompts->opened.last(), detailsPath);
    QFile detailsFile(detailsPath);
    ASSERT_TRUE(detailsFile.open(QIODevice::ReadOnly));
    const QString details = QString::fromUtf8(detailsFile.readAll());
    const QRegularExpressionMatch cells =
        QRegularExpression(QStringLiteral("不同的单元格 (\\d+)")).match(window->statusText());
    ASSERT_TRUE(cells.hasMatch());
    EXPECT_EQ(details.count(QStringLiteral("<li class=\"cell\">")), cells.captured(1).toInt());
    EXPECT_TRUE(details.contains(QStringLiteral("只在文件一的行")));
    EXPECT_FALSE(details.contains(QStringLiteral("<script")));
    // The result pane offers only the differences.
    EXPECT_FALSE(window->resultPane()->differenceStatusText().isEmpty());
}

TEST_F(MainWindowTest, CompareTablesReadsTheTypedRangesAndComparesByPosition) {
    open(1, staff(1));
    open(2, staff(2));
    typeRange(1, QStringLiteral("A3:B5"), true);
    typeRange(2, QStringLiteral("A3:B4"), true);
    CompareOptions positional;
    positional.keyMode = false;
    prompts->diffAnswers.push_back(DiffChoice{positional, {}});
    window->action(Command::CompareTables)->trigger();
    const SheetPane* result = window->resultPane();
    EXPECT_EQ(test::sheetText(result->workbook(), result->workbook().sheets[0], 3, 5),
              QStringLiteral("A001:0 张伟:0 1:20 A001:0 张伟:0\n"
                             "A002:0 王芳:0 2:20 A002:0 王芳:0\n"
                             "A003:6 李娜:6 . . ."));
}

TEST_F(MainWindowTest, TheDialogIsOfferedTheFieldRowEvenBelowManyTitleRows) {
    // The dialog is asked from the first rows of each table; a field row further down is
    // still found, and the comparison then reads every row.
    for (int which = 1; which <= 2; ++which) {
        QString text;
        for (int i = 0; i < 70; ++i)
            text += QStringLiteral("标题 %1,\n").arg(i);
        text += QStringLiteral("编号,数量\n1,5\n2,%1\n").arg(which == 1 ? 6 : 7);
        QFile file(dir.filePath(QStringLiteral("titled%1.csv").arg(which)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        open(which, file.fileName());
    }
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    CompareOptions keyMode;
    prompts->diffAnswers.push_back(DiffChoice{keyMode, {QStringLiteral("编号")}});
    window->action(Command::CompareTables)->trigger();
    ASSERT_EQ(prompts->offeredFields.size(), 1u);
    EXPECT_EQ(prompts->offeredFields[0], FieldList({QStringLiteral("编号"), QStringLiteral("数量")}));
    const SheetPane* result = window->resultPane();
    ASSERT_EQ(result->workbook().sheets[0].rows.size(), 73u);
    const QString cells = test::sheetText(result->workbook(), result->workbook().sheets[0], 73, 5);
    EXPECT_EQ(cells.section(u'\n', -1), QStringLiteral("2:0 6:3 73:20 2:0 7:3"));
}

TEST_F(MainWindowTest, NothingChosenEndsTheComparisonQuietly) {
    open(1, staff(1));
    open(2, staff(2));
    CompareOptions keyMode;
    const std::optional<DiffChoice> answers[] = {std::nullopt, DiffChoice{keyMode, {}}};
    for (const std::optional<DiffChoice>& answer : answers) {
        prompts->diffAnswers.push_back(answer);
        window->action(Command::CompareTables)->trigger();
    }
    EXPECT_EQ(prompts->offeredFields.size(), 2u);
    EXPECT_TRUE(prompts->messages.isEmpty());
    EXPECT_TRUE(prompts->opened.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("report.htm"))));
    EXPECT_EQ(window->resultPane()->workbook().sheets[0].name, QStringLiteral("Sheet1"));
    EXPECT_TRUE(window->resultPane()->workbook().sheets[0].rows.empty());

    // 对比报告 before any report: a message, nothing opened.
    window->findChild<QPushButton*>(QStringLiteral("report"))->click();
    EXPECT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->opened.isEmpty());
}

TEST_F(MainWindowTest, KeyModeOnATableWithoutFieldNamesIsRefusedWithAMessage) {
    // Both panes show their empty first sheet: no field row, so key mode cannot pair.
    CompareOptions keyMode;
    prompts->diffAnswers.push_back(DiffChoice{keyMode, {QStringLiteral("x")}});
    window->action(Command::CompareTables)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].startsWith(QStringLiteral("两表对比没有完成")));
    EXPECT_TRUE(prompts->opened.isEmpty());
}

TEST_F(MainWindowTest, CompareBooksPairsSheetsByNameIntoResultSheets) {
    const CompareOptions options = compareTestBooks();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    EXPECT_EQ(prompts->bookAsked, 1);

    // Expected: the workbook comparison core on the same workbooks.
    Workbook expected = Workbook::makeDefault();
    {
        Workbook b1, b2;
        ASSERT_TRUE(readWorkbook(testDataPath(QStringLiteral("cli/book1.xml")), b1).isOk());
        ASSERT_TRUE(readWorkbook(testDataPath(QStringLiteral("cli/book2.xml")), b2).isOk());
        WorkbookSink sink(expected, WorkbookSink::Mode::WriteOnly);
        QString reportText;
        NullProgress progress;
        ASSERT_TRUE(compareWorkbooks(b1, b2, options, sink, reportText, progress, nullptr).isOk());
        EXPECT_TRUE(readReport(dir.filePath(QStringLiteral("report.htm"))).contains(reportText));
    }
    const Workbook& got = window->resultPane()->workbook();
    ASSERT_EQ(got.sheets.size(), expected.sheets.size());
    for (size_t i = 0; i < got.sheets.size(); ++i) {
        EXPECT_EQ(got.sheets[i].name, expected.sheets[i].name);
        EXPECT_EQ(test::sheetText(got, got.sheets[i], 6, 6),
                  test::sheetText(expected, expected.sheets[i], 6, 6));
        EXPECT_EQ(window->resultPane()->tabBar()->tabText(int(i)), expected.sheets[i].name);
    }
    const QString report = readReport(dir.filePath(QStringLiteral("report.htm")));
    EXPECT_TRUE(report.contains(QStringLiteral("<title>工作簿比较对比</title>")));
    EXPECT_EQ(prompts->opened, QStringList({dir.filePath(QStringLiteral("report.htm"))}));

    // Cancelled, or nothing ticked: nothing is read, written or opened.
    prompts->bookAnswers.push_back(std::nullopt);
    prompts->bookAnswers.push_back(CompareOptions{false, false, false, false, false});
    window->action(Command::CompareBooks)->trigger();
    window->action(Command::CompareBooks)->trigger();
    EXPECT_EQ(prompts->bookAsked, 3);
    EXPECT_EQ(prompts->opened.size(), 1);
    EXPECT_TRUE(prompts->messages.isEmpty());
}

TEST_F(MainWindowTest, ExportWritesTheChosenKindAtomicallyAndShowsIt) {
    open(1, staff(1));
    open(2, staff(2));
    prompts->diffAnswers.push_back(DiffChoice{CompareOptions{}, {QStringLiteral("工号")}});
    window->action(Command::CompareTables)->trigger();

    struct Case {
        QString chosen;
        bool xlsxFilter;
        QString written;
        FileKind kind;
    };
    QDir(dir.path()).mkdir(QStringLiteral("a.folder"));
    const Case cases[] = {
        {dir.filePath(QStringLiteral("out.xlsx")), false, dir.filePath(QStringLiteral("out.xlsx")),
         FileKind::Xlsx},
        {dir.filePath(QStringLiteral("REPORT.XLSX")), false, dir.filePath(QStringLiteral("REPORT.XLSX")),
         FileKind::Xlsx},
        {dir.filePath(QStringLiteral("old.xls")), true, dir.filePath(QStringLiteral("old.xls")),
         FileKind::Xls},
        {dir.filePath(QStringLiteral("a.folder/result")), false,
         dir.filePath(QStringLiteral("a.folder/result.xls")), FileKind::Xls},
        {dir.filePath(QStringLiteral("a.folder/result")), true,
         dir.filePath(QStringLiteral("a.folder/result.xlsx")), FileKind::Xlsx},
    };
    for (const Case& c : cases) {
        prompts->savePaths.push_back(SaveChoice{c.chosen, c.xlsxFilter});
        window->action(Command::Export)->trigger();
        ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
        EXPECT_EQ(prompts->shownWorkbooks.last(), c.written);
        QFile file(c.written);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.written.toStdString();
        const QByteArray head = file.read(4);
        EXPECT_EQ(head.startsWith("PK"), c.kind == FileKind::Xlsx) << c.written.toStdString();
        Workbook back;
        ASSERT_TRUE(readWorkbook(c.written, back).isOk());
        EXPECT_EQ(back.sheets[0].name, QStringLiteral("对比结果"));
        EXPECT_EQ(test::fillOf(back, back.sheets[0], 3, 3), Fill::Red);
        EXPECT_EQ(test::fillOf(back, back.sheets[0], 9, 0), Fill::Yellow);
    }
    // Only the asked-for files exist: no stray .xls beside an .xlsx.
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("out.xls"))));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("REPORT.xls"))));

    // Failure: a folder that does not exist.
    const int shown = int(prompts->shownWorkbooks.size());
    prompts->savePaths.push_back(SaveChoice{dir.filePath(QStringLiteral("missing/out.xlsx")), false});
    window->action(Command::Export)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("out.xlsx")));
    EXPECT_EQ(prompts->shownWorkbooks.size(), shown);
    // Cancelled: nothing.
    window->action(Command::Export)->trigger();
    EXPECT_EQ(prompts->messages.size(), 1);
}

TEST_F(MainWindowTest, HelpWebSiteAndRepair) {
    window->action(Command::Repair)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].startsWith(QStringLiteral("修复检查了")));

    // Without help.chm the shipped help page opens, for help and for the web site.
    window->action(Command::Help)->trigger();
    window->toolAction(Command::WebSite)->trigger();
    ASSERT_EQ(prompts->opened.size(), 2);
    EXPECT_TRUE(prompts->opened[0].endsWith(QStringLiteral("help/index.html")))
        << prompts->opened[0].toStdString();
    EXPECT_EQ(prompts->opened[1], prompts->opened[0]);
    EXPECT_TRUE(QFile::exists(prompts->opened[0]));

    QFile chm(dir.filePath(QStringLiteral("help.chm")));
    ASSERT_TRUE(chm.open(QIODevice::WriteOnly));
    chm.close();
    window->toolAction(Command::Help)->trigger();
    EXPECT_EQ(prompts->opened.last(), dir.filePath(QStringLiteral("help.chm")));
}

TEST_F(MainWindowTest, ExitClosesTheWindow) {
    window->action(Command::Exit)->trigger();
    EXPECT_FALSE(window->isVisible());
}

TEST(CRunDlg, ShowsTheTextAndAdvancesTheBar) {
    CRunDlg progress;
    progress.setText(Msg::Reading);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(progress.text(), QStringLiteral("正在初始化，请稍后 ..."));
    EXPECT_TRUE(progress.windowFlags() & Qt::FramelessWindowHint);
    // 250 rows: step 2, advanced before rows 0, 2, 4, ... and ending at 250.
    progress.setRange(250);
    progress.setStep(progressStep(250));
    progress.setPosition(0);
    EXPECT_EQ(progress.step(), 2);
    for (int i = 0; i < 250; i += 2)
        progress.advance(progress.step());
    EXPECT_EQ(progress.position(), 250);
    EXPECT_EQ(progress.findChild<QProgressBar*>()->value(), progress.findChild<QProgressBar*>()->maximum());
    progress.setText(Msg::Running);
    EXPECT_EQ(progress.text(), QStringLiteral("正在运行，请稍后 ..."));
    progress.finish();
    EXPECT_FALSE(progress.isVisible());
}

TEST(MainWindow, AReportThatCannotBeWrittenIsNamedInAMessage) {
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone"));
    CQuellarDlg window(missing);
    auto owned = std::make_unique<ScriptedPrompts>();
    ScriptedPrompts* prompts = owned.get();
    window.setPrompts(std::move(owned));
    CompareOptions positional;
    positional.keyMode = false;
    prompts->diffAnswers.push_back(DiffChoice{positional, {}});
    window.action(Command::CompareTables)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("report.htm")))
        << prompts->messages[0].toStdString();
    EXPECT_TRUE(prompts->opened.isEmpty());
    // The comparison itself was shown.
    EXPECT_EQ(window.resultPane()->workbook().sheets[0].name, QStringLiteral("对比结果"));
}

TEST_F(MainWindowTest, AWorkbookDroppedOnAFilePaneOpensAsThatFile) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(staff(2))});
    QWidget* viewport = window->pane(1)->view()->viewport();
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_TRUE(drop.isAccepted());
    QApplication::processEvents();
    EXPECT_EQ(window->filePath(1), staff(2));
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("A1:E10"));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("1.xml"))));
    EXPECT_TRUE(prompts->openAsked.empty());
}
