#include "workbook/ExcelDriver.h"
#include "workbook/PageBreaks.h"
#include "workbook/WorkbookFormat.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace quellar;

namespace {

// One sheet of `rows` rows (a text in column A of each), A4 portrait, default margins,
// 13.5-point rows: the setup every case starts from.
Workbook makeBook(int rows = 200) {
    Workbook book;
    book.sheets.emplace_back();
    Sheet& sheet = book.sheets.back();
    sheet.name = QStringLiteral("Sheet1");
    for (int r = 0; r < rows; ++r)
        sheet.cellAt(r, 0).value = CellValue::fromString(QString::number(r + 1));
    return book;
}

void setHeight(Sheet& s, int row1, float height) {
    s.rowAt(row1 - 1).height = height;
}

struct Case {
    const char* name;
    std::function<void(Sheet&)> setup;
    int expected;
    int rows = 200;
};

} // namespace

// The expected rows are where LibreOffice starts page 2 when it prints the same setup
// (docs/page-breaks.md), except where a comment says otherwise.
TEST(PageBreaks, FirstBreakFollowsPageSetupAndRows) {
    const Case cases[] = {
        {"A4 portrait defaults", [](Sheet&) {}, 55},
        {"15-point rows", [](Sheet& s) { s.defaultRowHeight = 15; }, 49},
        {"landscape", [](Sheet& s) { s.pageSetup.landscape = true; }, 37},
        {"Letter", [](Sheet& s) { s.pageSetup.paperSize = 1; }, 51},
        {"A3", [](Sheet& s) { s.pageSetup.paperSize = 8; }, 81},
        {"Legal", [](Sheet& s) { s.pageSetup.paperSize = 5; }, 67},
        {"wider margins", [](Sheet& s) { s.pageSetup.marginTop = 1.5, s.pageSetup.marginBottom = 1.0; }, 50},
        {"header margin beyond the top margin moves no row",
         [](Sheet& s) { s.pageSetup.marginTop = 0.3, s.pageSetup.marginHeader = 1.0; }, 57},
        {"custom heights",
         [](Sheet& s) {
             setHeight(s, 3, 40), setHeight(s, 10, 60), setHeight(s, 11, 5), setHeight(s, 20, 100);
         },
         44},
        {"hidden rows take no space",
         [](Sheet& s) {
             for (int r = 2; r <= 11; ++r)
                 s.rowAt(r - 1).hidden = true;
         },
         65},
        {"scale 50%", [](Sheet& s) { s.pageSetup.scale = 50; }, 109},
        {"scale 150%", [](Sheet& s) { s.pageSetup.scale = 150; }, 37},
        {"Letter landscape at 65% with a tall row",
         [](Sheet& s) {
             s.pageSetup.paperSize = 1, s.pageSetup.landscape = true, s.pageSetup.scale = 65,
             setHeight(s, 7, 50);
         },
         55},
        {"a row taller than the page stands alone",
         [](Sheet& s) { s.pageSetup.scale = 200, setHeight(s, 5, 409); }, 5},
        {"print titles at the top leave page 1 as it is",
         [](Sheet& s) { s.pageSetup.printTitleFirstRow = 0, s.pageSetup.printTitleLastRow = 1; }, 55},
        {"fit to one page tall: no break",
         [](Sheet& s) {
             s.pageSetup.fitToPage = true, s.pageSetup.fitToWidth = 1, s.pageSetup.fitToHeight = 1;
         },
         -1},
        {"fit to three pages tall",
         [](Sheet& s) { s.pageSetup.fitToPage = true, s.pageSetup.fitToHeight = 3; }, 68},
        {"fit to two pages tall", [](Sheet& s) { s.pageSetup.fitToPage = true, s.pageSetup.fitToHeight = 2; },
         76, 150},
        {"fit to three pages tall with repeated titles",
         [](Sheet& s) {
             s.pageSetup.fitToPage = true, s.pageSetup.fitToHeight = 3;
             s.pageSetup.printTitleFirstRow = 0, s.pageSetup.printTitleLastRow = 2;
             setHeight(s, 1, 30), setHeight(s, 2, 30), setHeight(s, 3, 30);
         },
         70},
        {"fit to one page wide only, already narrow",
         [](Sheet& s) { s.pageSetup.fitToPage = true, s.pageSetup.fitToHeight = 0; }, 55},
        // 30 columns of 105 points on one page wide: 15% (LibreOffice, measuring the widths
        // with its own fonts, prints 418 rows at 13%).
        {"fit to one page wide shrinks a wide sheet",
         [](Sheet& s) {
             s.pageSetup.fitToPage = true, s.pageSetup.fitToHeight = 0;
             for (int c = 0; c < 30; ++c)
                 s.columnWidths[c] = 105;
             s.cellAt(0, 29).value = CellValue::fromNumber(1);
         },
         363, 800},
        {"manual break before the page is full",
         [](Sheet& s) {
             s.rowBreaks = {20, 120};
         },
         20},
        {"manual break after the page is full", [](Sheet& s) { s.rowBreaks = {100}; }, 55},
        {"fit to page ignores manual breaks",
         [](Sheet& s) { s.rowBreaks = {20}, s.pageSetup.fitToPage = true, s.pageSetup.fitToHeight = 1; }, -1},
        // Both programs print a short sheet on one page; the length of a page is still had.
        {"a short sheet gives the length of a page", [](Sheet&) {}, 55, 10},
        {"margins that leave no room",
         [](Sheet& s) { s.pageSetup.marginTop = 6, s.pageSetup.marginBottom = 6; }, -1},
        {"rows without height reach past the grid",
         [](Sheet& s) {
             s.defaultRowHeight = 0;
             for (SheetRow& r : s.rows)
                 r.height = 0;
         },
         -1},
    };
    for (const Case& c : cases) {
        Workbook book = makeBook(c.rows);
        c.setup(book.sheets[0]);
        EXPECT_EQ(firstPageBreakRow(book, 1), c.expected) << c.name;
    }
}

TEST(PageBreaks, NothingToHaveGivesMinusOne) {
    Workbook book = makeBook();
    book.sheets.emplace_back(); // an empty second sheet
    EXPECT_EQ(firstPageBreakRow(book, 0), -1);
    EXPECT_EQ(firstPageBreakRow(book, 3), -1);
    EXPECT_EQ(firstPageBreakRow(book, 2), -1);
    EXPECT_EQ(firstPageBreakRow(Workbook(), 1), -1);
    EXPECT_EQ(firstPageBreakRow(book, 1), 55);
}

TEST(PageBreaks, PaperSizes) {
    const PaperSize a4 = paperSizeForCode(9);
    EXPECT_NEAR(a4.width, 595.28, 0.01);
    EXPECT_NEAR(a4.height, 841.89, 0.01);
    for (int unknown : {0, 48, 119, -3, 1000}) {
        EXPECT_DOUBLE_EQ(paperSizeForCode(unknown).height, a4.height) << unknown;
        EXPECT_DOUBLE_EQ(paperSizeForCode(unknown).width, a4.width) << unknown;
    }
    EXPECT_DOUBLE_EQ(paperSizeForCode(1).height, 792);                  // Letter
    EXPECT_NEAR(paperSizeForCode(93).height, 215 * 72 / 25.4, 1e-9);    // PRC 16K
    EXPECT_GT(paperSizeForCode(75).width, paperSizeForCode(75).height); // rotated Letter
}

TEST(PageBreaks, ReadsTheWorkbookFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Workbook book = makeBook();
    book.sheets.push_back(book.sheets[0]);
    book.sheets[1].name = QStringLiteral("第二页");
    book.sheets[1].pageSetup.landscape = true;
    book.sheets[1].rowBreaks = {30};
    book.sheets[0].pageSetup.scale = 50;
    for (FileKind kind : {FileKind::XmlSpreadsheet, FileKind::Xlsx}) {
        const QString path = dir.filePath(kind == FileKind::Xlsx ? "book.xlsx" : "book.xml");
        ASSERT_TRUE(writeWorkbook(book, path, kind).isOk());
        const Result<int> first = firstPageBreakRow(path, 1), second = firstPageBreakRow(path, 2);
        ASSERT_TRUE(first.isOk() && second.isOk()) << path.toStdString();
        EXPECT_EQ(first.value(), 109) << path.toStdString();
        EXPECT_EQ(second.value(), 30) << path.toStdString();
        EXPECT_EQ(firstPageBreakRow(path, 3).value(), -1) << path.toStdString();
        // The window's entry point gives the same rows, and -1 where nothing can be had.
        EXPECT_EQ(FirstPageBreakRow(path, 2), 30) << path.toStdString();
        EXPECT_EQ(FirstPageBreakRow(path, 3), -1) << path.toStdString();
    }
    EXPECT_EQ(FirstPageBreakRow(dir.filePath("none.xlsx"), 1), -1);
    const Result<int> missing = firstPageBreakRow(dir.filePath("none.xlsx"), 1);
    EXPECT_FALSE(missing.isOk());
    EXPECT_TRUE(missing.status().message().contains(QStringLiteral("none.xlsx")));
}
