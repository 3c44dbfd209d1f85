// quellar-cli page-subtotals end to end, in-process: an xlsx with a page setup, the output
// next to it or where -o says, and bad input ending with one line on stderr and status 2.

#include "base/CellOps.h"
#include "tests/CliRun.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;

namespace {

using test::runCli;

// 报表.xlsx: a title row, the field row 编号/名称/金额 and 50 data rows (金额 = 编号),
// printed with a manual page break before sheet row 22; a second sheet 空表 has no field row.
QString writeReport(const QTemporaryDir& dir) {
    Workbook book = Workbook::makeDefault();
    book.sheets.resize(2);
    Sheet& sheet = book.sheets[0];
    sheet.name = QString::fromUtf16(u"报表");
    sheet.cellAt(0, 0).value = CellValue::fromString(SharedText(QString::fromUtf16(u"月报")));
    sheet.merges.push_back({0, 0, 0, 2});
    const char16_t* fields[] = {u"编号", u"名称", u"金额"};
    for (int c = 0; c < 3; ++c)
        sheet.cellAt(1, c).value = CellValue::fromString(SharedText(QString::fromUtf16(fields[c])));
    for (int r = 1; r <= 50; ++r) {
        sheet.cellAt(r + 1, 0).value = CellValue::fromNumber(r);
        sheet.cellAt(r + 1, 1).value = CellValue::fromString(SharedText(QStringLiteral("item%1").arg(r)));
        sheet.cellAt(r + 1, 2).value = CellValue::fromNumber(r);
    }
    sheet.rowBreaks = {22};
    book.sheets[1].name = QString::fromUtf16(u"空表");
    book.sheets[1].cellAt(0, 0).value = CellValue::fromString(SharedText(QStringLiteral("x")));
    book.sheets[1].cellAt(0, 1).value = CellValue::fromString(SharedText(QStringLiteral("x")));
    const QString path = dir.filePath(QString::fromUtf16(u"报表.xlsx"));
    EXPECT_TRUE(writeWorkbook(book, path, FileKind::Xlsx).isOk());
    return path;
}

QString text(const Sheet& sheet, int row, int column) {
    const Cell* cell = sheet.cell(row, column);
    return cell ? variantToText(cell->value) : QStringLiteral("(none)");
}

} // namespace

TEST(PageSubtotalsCli, WritesNextToTheWorkbookWithTheProposedPageLength) {
    QTemporaryDir dir;
    const QString source = writeReport(dir);
    const test::CliRun run = runCli({"page-subtotals", source, "--sum", QString::fromUtf16(u"金额")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QString output = dir.filePath(QString::fromUtf16(u"报表_分页汇总.xls"));
    EXPECT_EQ(run.out.trimmed(), QDir::toNativeSeparators(output));
    {
        // A real .xls (BIFF8 in a compound file), no longer XML Spreadsheet text under that name.
        QFile file(output);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.read(8).startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"));
    }
    Workbook book;
    ASSERT_TRUE(readWorkbook(output, book).isOk());
    // The break before row 22 proposes 22 - 1 - 3 = 18 rows per page: subtotals after
    // data rows 18, 36 and 50, then the total.
    const Sheet& sheet = book.sheets[0];
    EXPECT_EQ(text(sheet, 19, 0), QStringLiteral("18.000000"));
    EXPECT_EQ(text(sheet, 20, 1), QString::fromUtf16(u"小计"));
    EXPECT_EQ(text(sheet, 20, 2), QStringLiteral("171.000000"));
    EXPECT_EQ(sheet.cell(20, 2)->value.type(), CellValue::Type::Number);
    EXPECT_EQ(text(sheet, 39, 2), QStringLiteral("495.000000"));
    EXPECT_EQ(text(sheet, 54, 1), QString::fromUtf16(u"小计"));
    EXPECT_EQ(text(sheet, 55, 1), QString::fromUtf16(u"合计"));
    EXPECT_EQ(text(sheet, 55, 2), QStringLiteral("1275.000000"));
    EXPECT_EQ(book.sheets.size(), 2u);

    // Chosen page length and label column, written as xlsx where -o says; a second run
    // replaces the output.
    const QString xlsx = dir.filePath("out.xlsx");
    for (int i = 0; i < 2; ++i) {
        const test::CliRun chosen =
            runCli({"page-subtotals", source, "--sum", QString::fromUtf16(u"金额"), "--sum",
                    QString::fromUtf16(u"编号"), "--rows-per-page", "25", "--label-column", "0", "-o", xlsx});
        ASSERT_EQ(chosen.status, 0) << chosen.err.toStdString();
    }
    Workbook result;
    ASSERT_TRUE(readWorkbook(xlsx, result).isOk());
    EXPECT_EQ(text(result.sheets[0], 27, 0), QStringLiteral("325.000000"));
    EXPECT_EQ(text(result.sheets[0], 27, 1), QString());
    EXPECT_EQ(text(result.sheets[0], 54, 2), QStringLiteral("1275.000000"));
}

TEST(PageSubtotalsCli, BadInputEndsWithOneClearLineAndStatusTwo) {
    QTemporaryDir dir;
    const QString source = writeReport(dir);
    const QString sum = QString::fromUtf16(u"金额");
    const std::vector<test::RefusedRun> cases = {
        {"no sum column", {source}, "--sum"},
        {"unknown field", {source, "--sum", "Amount"}, "Amount"},
        {"rows per page 0", {source, "--sum", sum, "--rows-per-page", "0"}, "rows-per-page"},
        {"rows per page 100", {source, "--sum", sum, "--rows-per-page", "100"}, "rows-per-page"},
        {"label column 10", {source, "--sum", sum, "--label-column", "10"}, "label-column"},
        {"csv output", {source, "--sum", sum, "-o", dir.filePath("out.csv")}, "out.csv"},
        {"no field row",
         {source, "--sum", sum, "--sheet1", QString::fromUtf16(u"空表")},
         QString::fromUtf16(u"标题列")},
        {"no such sheet", {source, "--sum", sum, "--sheet1", "zz"}, "zz"},
        {"a range", {source, "--sum", sum, "--range1", "A1:C3"}, "range1"},
        {"missing file", {dir.filePath("nope.xlsx"), "--sum", sum}, "nope.xlsx"},
        {"output folder missing", {source, "--sum", sum, "-o", dir.filePath("no/out.xls")}, "no"},
    };
    test::expectRefused({QStringLiteral("page-subtotals")}, cases);
    // Nothing but the source was written.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 1);
}
