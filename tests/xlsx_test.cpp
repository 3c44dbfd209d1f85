// The xlsx and xls readers, the xlsx writer and the zip container beneath them, on
// workbooks made for the purpose (tests/data/make_xlsx_fixtures.py) and on hostile files.

#include "base/CellOps.h"
#include "fuzz/FuzzEntries.h"
#include "tests/TestSupport.h"
#include "tests/WorkbookCells.h"
#include "workbook/DisplayFormat.h"
#include "workbook/RangeReader.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/containers/ZipArchive.h"
#include "workbook/xls/XlsFormat.h"
#include "workbook/xlsx/XlsxFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string_view>

namespace quellar {
namespace {

using test::cellAt;
using test::readOk;
using test::testDataPath;
using test::textAt;

const Style& styleAt(const Workbook& book, const Sheet& sheet, const char* ref) {
    static const Style none;
    const Cell* c = cellAt(sheet, ref);
    return c && c->style < book.styles.size() ? book.styles[c->style] : none;
}

// ---------------------------------------------------------------------------------------------
// Small pieces

TEST(XlsxHelpers, CellReferences) {
    struct Case {
        const char* text;
        bool ok;
        int32_t row, column;
    } cases[] = {
        {"A1", true, 0, 0},
        {"B12", true, 11, 1},
        {"XFD1048576", true, 1048575, 16383},
        {"AA10", true, 9, 26},
        {"XFE1", false, 0, 0},
        {"A1048577", false, 0, 0},
        {"A0", false, 0, 0},
        {"1A", false, 0, 0},
        {"", false, 0, 0},
        {"AAAA1", false, 0, 0},
        {"A", false, 0, 0},
        {"A1B", false, 0, 0},
        {"A99999999999", false, 0, 0},
    };
    for (const Case& c : cases) {
        int32_t row = -1, column = -1;
        EXPECT_EQ(xlsx::parseCellReference(c.text, row, column), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(row, c.row) << c.text;
            EXPECT_EQ(column, c.column) << c.text;
        }
    }
}

TEST(XlsxHelpers, DateFormatCodes) {
    struct Case {
        const char16_t* code;
        bool date;
    } cases[] = {
        {u"yyyy/m/d", true},
        {u"yyyy\\-mm\\-dd\\ hh:mm", true},
        {u"[h]:mm:ss", true},
        {u"mm:ss.0", true},
        {u"h:mm AM/PM", true},
        {u"[$-804]yyyy\"年\"m\"月\"", true},
        {u"0.00", false},
        {u"General", false},
        {u"\"day\" 0", false},
        {u"0.00E+00", false},
        {u"[Red]#,##0", false},
        {u"#,##0_);[Red](#,##0)", false},
        {u"@", false},
        {u"\\d0", false},
        {u"[DBNum1][$-804]0", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isDateFormatCode(QStringView(c.code)), c.date) << QString::fromUtf16(c.code).toStdString();
    for (int id : {14, 15, 22, 31, 45, 46, 47, 57})
        EXPECT_TRUE(isBuiltinDateFormat(id)) << id;
    for (int id : {0, 1, 2, 9, 11, 23, 37, 49})
        EXPECT_FALSE(isBuiltinDateFormat(id)) << id;
}

TEST(XlsxHelpers, IsoDates) {
    struct Case {
        const char* text;
        bool ok;
        double serial;
    } cases[] = {
        {"2026-12-07", true, 46363},
        {"2026-12-07T18:00:00", true, 46363.75},
        {"2026-12-07 06:00:00Z", true, 46363.25},
        {"1900-01-01", true, 1},
        {"1900-02-28", true, 59},
        {"1900-03-01", true, 61},
        {"12:00:00", true, 0.5},
        {"2026-13-01", false, 0},
        {"yesterday", false, 0},
        {"2026-12-07T25:00", false, 0},
    };
    for (const Case& c : cases) {
        double serial = -1;
        EXPECT_EQ(xlsx::isoDateToSerial(c.text, serial), c.ok) << c.text;
        if (c.ok) EXPECT_DOUBLE_EQ(serial, c.serial) << c.text;
    }
}

TEST(XlsxHelpers, ColumnWidthsGoThroughWholePixels) {
    // Stored widths as Excel writes them, and their pixel widths.
    EXPECT_DOUBLE_EQ(characterWidthToPoints(9.140625), 64 * 0.75); // the default column
    EXPECT_DOUBLE_EQ(characterWidthToPoints(12.7109375), 89 * 0.75);
    EXPECT_DOUBLE_EQ(characterWidthToPoints(0), 0);
    // What the writer hands to libxlsxwriter comes back as the same pixels.
    for (int pixels : {5, 12, 13, 20, 64, 89, 145, 300, 1000}) {
        const double shown = pointsToCharacterWidth(pixels * 0.75);
        const double stored = shown < 1 ? std::trunc(std::round(shown * 12) / 7.0 * 256) / 256
                                        : std::trunc((std::round(shown * 7) + 5) / 7.0 * 256) / 256;
        EXPECT_DOUBLE_EQ(characterWidthToPoints(stored), pixels * 0.75) << pixels;
    }
}

// ---------------------------------------------------------------------------------------------
// Reading

TEST(XlsxRead, ValuesOfEveryKind) {
    const Workbook book = readOk(QStringLiteral("xlsx/basic.xlsx"));
    ASSERT_EQ(book.sheets.size(), 3u);
    const Sheet& s = book.sheets[0];
    struct Case {
        const char* ref;
        CellValue::Type type;
        const char16_t* text; // as variantToText gives it
    } cases[] = {
        {"A1", CellValue::Type::String, u"名称"},
        {"B1", CellValue::Type::String, u"Rich text"},
        {"C1", CellValue::Type::String, u"東京"}, // the phonetic run is left out
        {"D1", CellValue::Type::String, u"内联文本"},
        {"E1", CellValue::Type::String, u"line\rbreak & more"},
        {"A2", CellValue::Type::Number, u"0.1234567"},
        {"B2", CellValue::Type::Number, u"100000000000000000000.000000"},
        {"D2", CellValue::Type::Boolean, u"-1"},
        {"E2", CellValue::Type::Boolean, u"0"},
        {"F2", CellValue::Type::Error, u"#N/A"},
        {"A3", CellValue::Type::DateTime, u"2026/12/7"},
        {"B3", CellValue::Type::DateTime, u"2026/12/7 12:00:00"},
        {"C3", CellValue::Type::DateTime, u"6:00:00"},
        {"D3", CellValue::Type::Number, u"5.000000"}, // "day" 0: the letters are quoted
        {"A4", CellValue::Type::Number, u"0.2469134"},
        {"B4", CellValue::Type::String, u"ab"},
        {"C5", CellValue::Type::Number, u"1.500000"},
        {"D5", CellValue::Type::Error, u"#DIV/0!"},
        {"A7", CellValue::Type::String, u"名称"},
        {"B7", CellValue::Type::Number, u"8.000000"}, // no reference: after A7
        {"D7", CellValue::Type::DateTime, u"2024/3/1 6:00:00"},
        {"A8", CellValue::Type::Number, u"9.000000"}, // a row without a number follows row 7
        {"D4", CellValue::Type::Empty, u""},          // a styled empty cell is kept
    };
    for (const Case& c : cases) {
        const Cell* cell = cellAt(s, c.ref);
        ASSERT_NE(cell, nullptr) << c.ref;
        EXPECT_EQ(cell->value.type(), c.type) << c.ref;
        EXPECT_EQ(variantToText(cell->value), QString::fromUtf16(c.text)) << c.ref;
    }
    EXPECT_EQ(cellAt(s, "A2")->value.number(), 0.1234567);
    EXPECT_EQ(cellAt(s, "B2")->value.number(), 1e20);
    EXPECT_EQ(cellAt(s, "C2")->value.number(), 0.0);
    EXPECT_TRUE(std::signbit(cellAt(s, "C2")->value.number()));
    EXPECT_EQ(cellAt(s, "F1")->value.text().toQString(), QStringLiteral("  spaced  "));
    EXPECT_EQ(cellAt(s, "E5"), nullptr);  // neither value nor style
    EXPECT_EQ(cellAt(s, "ZZ1"), nullptr); // inside an extension, not sheet data
    EXPECT_EQ(s.row(98), nullptr);

    struct FormulaCase {
        const char* ref;
        const char16_t* formula;
    } formulas[] = {// C5 shares C4's formula: it gets the master's text shifted down one row.
                    {"A4", u"=A2*2"},
                    {"B4", u"=\"a\"&\"b\""},
                    {"C4", u"=A2+1"},
                    {"C5", u"=A3+1"},
                    {"D5", u"=1/0"}};
    for (const FormulaCase& f : formulas)
        EXPECT_EQ(cellAt(s, f.ref)->formula.toQString(), QString::fromUtf16(f.formula)) << f.ref;

    EXPECT_EQ(textAt(book.sheets[1], "A1"), QStringLiteral("藏"));
    EXPECT_EQ(textAt(book.sheets[2], "B2"), QStringLiteral("東京"));
    EXPECT_EQ(textAt(book.sheets[2], "B3"), QStringLiteral("42.000000"));
}

TEST(XlsxRead, SheetsLayoutAndPageSetup) {
    const Workbook book = readOk(QStringLiteral("xlsx/basic.xlsx"));
    ASSERT_EQ(book.sheets.size(), 3u);
    EXPECT_EQ(book.sheets[0].name, QStringLiteral("数据"));
    EXPECT_EQ(book.sheets[1].name, QStringLiteral("隐藏"));
    EXPECT_EQ(book.sheets[2].name, QStringLiteral("Third"));
    EXPECT_FALSE(book.sheets[0].hidden);
    EXPECT_TRUE(book.sheets[1].hidden);
    EXPECT_EQ(book.activeSheet, 2);

    const Sheet& s = book.sheets[0];
    EXPECT_EQ(s.merges, (std::vector<CellRange>{{9, 0, 10, 2}, {6, 4, 7, 5}}));
    EXPECT_DOUBLE_EQ(s.columnWidth(0), 89 * 0.75);
    EXPECT_DOUBLE_EQ(s.columnWidth(1), 48);
    EXPECT_DOUBLE_EQ(s.columnWidth(2), 145 * 0.75);
    EXPECT_DOUBLE_EQ(s.columnWidth(3), 145 * 0.75);
    EXPECT_DOUBLE_EQ(s.columnWidth(5), 0); // hidden
    EXPECT_DOUBLE_EQ(s.defaultRowHeight, 14.25);
    EXPECT_DOUBLE_EQ(s.rowHeight(0), 30);
    EXPECT_DOUBLE_EQ(s.rowHeight(1), 14.25);
    ASSERT_NE(s.row(2), nullptr);
    EXPECT_TRUE(s.row(2)->hidden);
    EXPECT_DOUBLE_EQ(book.sheets[2].rowHeight(1), 20.25);

    EXPECT_EQ(
        test::pageSetupText(s.pageSetup),
        QStringLiteral("paper 8 landscape scale 85 fit 1x0 margins 0.5 0.5 1 1.25 0.4 0.35 titles 0-1"));
    // Breaks after rows 5 and 20: the new pages start at rows 6 and 21; column breaks are not rows.
    EXPECT_EQ(s.rowBreaks, (std::vector<int32_t>{6, 21}));
    EXPECT_EQ(book.sheets[2].pageSetup.printTitleFirstRow, -1);
    EXPECT_FALSE(book.sheets[2].pageSetup.fitToPage);
}

TEST(XlsxRead, Styles) {
    const Workbook book = readOk(QStringLiteral("xlsx/basic.xlsx"));
    const Sheet& s = book.sheets[0];
    EXPECT_EQ(book.defaultFontName, QStringLiteral("宋体"));
    EXPECT_DOUBLE_EQ(book.defaultFontSize, 11);

    // 0.000, Arial 14 bold italic in red on yellow (palette 6), centred, at the top, wrapped.
    EXPECT_EQ(test::styleText(styleAt(book, s, "B1")),
              QStringLiteral("{0.000|fill 1 6 ffff00|font Arial 14 11 1 ff0000|align 2 1 1}"));

    EXPECT_EQ(styleAt(book, s, "A3").numberFormat, QStringLiteral("yyyy/m/d"));
    EXPECT_EQ(styleAt(book, s, "B3").numberFormat, QStringLiteral("yyyy\\-mm\\-dd\\ hh:mm"));
    EXPECT_EQ(styleAt(book, s, "C3").numberFormat, QStringLiteral("h:mm:ss"));

    const Style& d4 = styleAt(book, s, "D4"); // indexed colour 10
    EXPECT_TRUE(d4.hasFill);
    EXPECT_EQ(d4.fillPalette, 3);
    EXPECT_EQ(d4.fillRgb, 0xFF0000u);

    const Style& e4 = styleAt(book, s, "E4"); // theme accent 1, 80% lighter; font colour indexed 12
    EXPECT_TRUE(e4.hasFill);
    EXPECT_EQ(e4.fillRgb, 0xDAE3F3u);
    EXPECT_EQ(e4.fillPalette, nearestPaletteIndex(0xDAE3F3));
    EXPECT_TRUE(e4.hasFontColor);
    EXPECT_EQ(e4.fontRgb, 0x0000FFu);
    EXPECT_TRUE(e4.fontName.isEmpty()); // the default font
    EXPECT_FALSE(e4.bold);
    EXPECT_EQ(e4.horizontal, HAlign::Right);
    EXPECT_EQ(e4.vertical, VAlign::Center);

    const Style& a1 = styleAt(book, s, "A1");
    EXPECT_EQ(a1, Style()); // cellXfs 0 is the default, whatever the cell-style records say
}

TEST(XlsxRead, AbsoluteTargetsInlineStringsAnd1904Dates) {
    const Workbook book = readOk(QStringLiteral("xlsx/absolute_1904.xlsx"));
    ASSERT_EQ(book.sheets.size(), 1u);
    const Sheet& s = book.sheets[0];
    EXPECT_EQ(s.name, QStringLiteral("日期"));
    struct Case {
        const char* ref;
        const char16_t* text;
    } cases[] = {
        {"A1", u"1904/1/1"},  {"A2", u"2026/12/7"},    {"A3", u"2026/12/7 18:00:00"},
        {"B3", u"2026/12/7"}, {"A4", u"44901.000000"}, // no date format: a number
        {"B1", u"纯内联"},    {"B2", u"2026/12/7"},    // ISO dates do not shift with the 1904 system
    };
    for (const Case& c : cases)
        EXPECT_EQ(textAt(s, c.ref), QString::fromUtf16(c.text)) << c.ref;
    EXPECT_EQ(cellAt(s, "A3")->value.type(), CellValue::Type::DateTime);
}

TEST(XlsxRead, WorkbookWrittenByOpenpyxl) {
    const Workbook book = readOk(QStringLiteral("xlsx/openpyxl.xlsx"));
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[0].name, QStringLiteral("销售"));
    EXPECT_EQ(book.sheets[1].name, QStringLiteral("备注"));
    EXPECT_TRUE(book.sheets[1].hidden);
    EXPECT_EQ(book.activeSheet, 0);
    const Sheet& s = book.sheets[0];
    EXPECT_EQ(textAt(s, "A1"), QStringLiteral("日期"));
    EXPECT_EQ(textAt(s, "A2"), QStringLiteral("2026/12/7"));
    EXPECT_EQ(textAt(s, "A3"), QStringLiteral("2026/12/8 9:05:07"));
    EXPECT_EQ(textAt(s, "B2"), QStringLiteral("苹果"));
    EXPECT_EQ(textAt(s, "D3"), QStringLiteral("0.100000"));
    EXPECT_EQ(cellAt(s, "E2")->formula.toQString(), QStringLiteral("=C2*D2"));
    EXPECT_TRUE(cellAt(s, "E2")->value.isEmpty()); // no cached value was written
    EXPECT_EQ(cellAt(s, "B4"), nullptr);           // the blank inside row 4
    EXPECT_EQ(s.merges, (std::vector<CellRange>{{3, 0, 3, 3}}));
    const Style& b2 = styleAt(book, s, "B2");
    EXPECT_EQ(b2.fillRgb, 0xFFC000u);
    EXPECT_EQ(b2.fontName, QStringLiteral("微软雅黑"));
    EXPECT_DOUBLE_EQ(b2.fontSize, 12);
    EXPECT_TRUE(b2.bold);
    EXPECT_EQ(b2.fontRgb, 0x0000FFu);
    EXPECT_EQ(styleAt(book, s, "D2").numberFormat, QStringLiteral("0.00"));
    EXPECT_EQ(styleAt(book, s, "A4").horizontal, HAlign::Center);
    EXPECT_TRUE(styleAt(book, s, "A4").wrapText);
    EXPECT_DOUBLE_EQ(s.columnWidth(1), characterWidthToPoints(25));
    EXPECT_DOUBLE_EQ(s.rowHeight(0), 28);
}

TEST(XlsRead, ValuesAndSheetsOfAnXlwtWorkbook) {
    for (const char* name : {"xlsx/legacy.xls", "xlsx/renamed_xls.xlsx"}) {
        const Workbook book = readOk(QString::fromLatin1(name));
        ASSERT_EQ(book.sheets.size(), 2u) << name;
        EXPECT_EQ(book.sheets[0].name, QStringLiteral("数据"));
        EXPECT_EQ(book.sheets[1].name, QStringLiteral("Second"));
        const Sheet& s = book.sheets[0];
        struct Case {
            const char* ref;
            CellValue::Type type;
            const char16_t* text;
        } cases[] = {
            {"A1", CellValue::Type::String, u"名称"},
            {"B2", CellValue::Type::Number, u"12.500000"},
            {"B3", CellValue::Type::Number, u"-3.000000"},
            {"B4", CellValue::Type::Number, u"0.1234567"},
            {"B5", CellValue::Type::Number, u"123456789.000000"},
            {"C2", CellValue::Type::DateTime, u"2026/12/7"},
            {"C3", CellValue::Type::DateTime, u"2026/12/7 9:05:07"},
            {"C4", CellValue::Type::DateTime, u"12:30:00"},
            {"A5", CellValue::Type::Boolean, u"-1"}, // as the xlsx reader gives booleans
        };
        for (const Case& c : cases) {
            const Cell* cell = cellAt(s, c.ref);
            ASSERT_NE(cell, nullptr) << name << " " << c.ref;
            EXPECT_EQ(cell->value.type(), c.type) << name << " " << c.ref;
            EXPECT_EQ(variantToText(cell->value), QString::fromUtf16(c.text)) << name << " " << c.ref;
        }
        EXPECT_EQ(textAt(book.sheets[1], "A1"), QStringLiteral("第二页"));
    }
}

TEST(XlsxRead, RowsAndCellsOutOfOrder) {
    const Workbook book = readOk(QStringLiteral("xlsx/unordered.xlsx"));
    const Sheet& s = book.sheets[0];
    ASSERT_EQ(s.rows.size(), 2u);
    EXPECT_EQ(s.rows[0].index, 0);
    EXPECT_EQ(s.rows[1].index, 2);
    EXPECT_EQ(textAt(s, "A1"), QStringLiteral("99.000000")); // the later of the two A1 cells
    EXPECT_EQ(textAt(s, "B1"), QStringLiteral("12.000000"));
    EXPECT_EQ(textAt(s, "C1"), QStringLiteral("13.000000"));
    EXPECT_EQ(s.rows[0].cells.size(), 3u);
    EXPECT_EQ(textAt(s, "A3"), QStringLiteral("31.000000"));
    EXPECT_EQ(textAt(s, "B3"), QStringLiteral("32.000000"));
    EXPECT_TRUE(s.rows[1].hidden);

    const Workbook descending = readOk(QStringLiteral("xlsx/descending_rows.xlsx"));
    const std::vector<SheetRow>& rows = descending.sheets[0].rows;
    ASSERT_EQ(rows.size(), 60000u);
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(),
                               [](const SheetRow& a, const SheetRow& b) { return a.index < b.index; }));
    EXPECT_EQ(textAt(descending.sheets[0], "A77"), QStringLiteral("77.000000"));
}

// The checks the fuzzer makes on every package it tries: the plain-cell shortcut reads what the
// general scanner reads (and fails as it does), and the used-range table streamed while the
// sheet is read equals the table taken from the whole workbook.
void expectReadAlikeEveryWay(const std::string& package) {
    for (const fuzz::Target& target : fuzz::targets())
        if (std::string_view(target.name) == "zip")
            target.entry(reinterpret_cast<const uint8_t*>(package.data()), package.size());
}

// A sheet part of a few thousand rows holding every form a cell takes, so plain cells, cells
// the scanner must read and cells cut by the end of a read window all occur.
std::string variedSheet(bool descending = false) {
    std::mt19937 random(7);
    auto pick = [&](int n) { return int(random() % uint32_t(n)); };
    std::vector<std::string> rows;
    for (int r = 1; r <= 4000; ++r) {
        if (pick(10) == 0) continue; // a gap
        std::string row = "<row r=\"" + std::to_string(r) + "\"";
        if (pick(20) == 0) row += " ht=\"30\" customHeight=\"1\"";
        if (pick(50) == 0) row += " hidden=\"1\"";
        row += " spans=\"1:9\">";
        int column = pick(3);
        const int cells = pick(9);
        for (int k = 0; k < cells; ++k, column += 1 + pick(2)) {
            const std::string ref = std::string(1, char('A' + column)) + std::to_string(r);
            if (pick(15) == 0) row += "\n  ";
            const std::string at = pick(12) == 0 ? "" : " r=\"" + ref + "\"";
            const std::string style = pick(3) == 0 ? " s=\"" + std::to_string(pick(3)) + "\"" : "";
            switch (pick(12)) {
            case 0:
                row += "<c" + at + style + "><v>" + std::to_string(pick(100000)) + "." +
                       std::to_string(pick(100)) + "</v></c>";
                break;
            case 1:
                row +=
                    "<c" + at + style + " t=\"inlineStr\"><is><t>文本" + std::to_string(r) + "</t></is></c>";
                break;
            case 2:
                row += "<c" + at + " t=\"inlineStr\"" + style +
                       "><is><t xml:space=\"preserve\">  前后有空格  </t></is></c>";
                break;
            case 3:
                row += "<c" + at + style + " t=\"s\"><v>" + std::to_string(pick(2)) + "</v></c>";
                break;
            case 4:
                row += "<c" + at + " t=\"b\"><v>" + std::to_string(pick(2)) + "</v></c>";
                break;
            case 5:
                row += "<c" + at + " t=\"e\"><v>#N/A</v></c>";
                break;
            case 6:
                row += "<c" + at + "><f>" + ref + "*2</f><v>4</v></c>";
                break;
            case 7:
                row += "<c" + at + " t=\"inlineStr\"><is><t>R&amp;D " + std::to_string(r) + "</t></is></c>";
                break;
            case 8:
                row += "<c" + at + " s=\"1\"/>";
                break;
            case 9:
                row += "<c" + at + " s=\"2\"></c>";
                break;
            case 10:
                row += "<c" + at + " t=\"inlineStr\"><is><t>第一行\r\n第二行</t></is></c>";
                break;
            default:
                row += "<c" + at + "><v>" + std::to_string(r * 10 + k) + "</v></c>";
                break;
            }
        }
        rows.push_back(row + "</row>");
    }
    if (descending) std::reverse(rows.begin(), rows.end());
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
        "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><cols><col min=\"2\" max=\"3\" "
        "width=\"20\" customWidth=\"1\"/></cols><sheetData>";
    for (const std::string& row : rows)
        xml += row;
    return xml +
           "</sheetData><mergeCells count=\"2\"><mergeCell ref=\"B3:C4\"/><mergeCell ref=\"E100:F100\"/>"
           "</mergeCells></worksheet>";
}

// The package written to a file in `dir`.
QString writtenPackage(const QTemporaryDir& dir, const std::string& package) {
    const QString path = dir.filePath(QStringLiteral("package.xlsx"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(package.data(), qint64(package.size())) != qint64(package.size()))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

// The first sheet read for its table: the workbook, and whether the table was streamed.
std::pair<Workbook, bool> readForTable(const QString& path) {
    UsedRangeStream stream;
    SheetTableRequest request;
    request.choose = [](const Workbook&) -> Result<int> { return 0; };
    request.stream = &stream;
    Workbook part;
    EXPECT_TRUE(readWorkbook(path, part, &request).isOk());
    return {std::move(part), request.streamed};
}

TEST(XlsxRead, PlainCellsAndStreamedTablesReadAsTheWholeWorkbook) {
    const std::string sheet = variedSheet();
    ASSERT_GT(sheet.size(), 200'000u); // several read windows
    const std::string package = fuzz::xlsxPackageWith("xl/worksheets/sheet1.xml", sheet);
    expectReadAlikeEveryWay(package);

    QTemporaryDir dir;
    const QString path = writtenPackage(dir, package);
    Workbook book;
    ASSERT_TRUE(readWorkbook(path, book).isOk());
    const Sheet& s = book.sheets[0];
    EXPECT_GT(s.rows.size(), 3000u);
    bool entity = false, crlf = false, preserved = false;
    for (const SheetRow& row : s.rows)
        for (const Cell& cell : row.cells) {
            const QString text = cell.value.text().toQString();
            entity |= text.startsWith(QStringLiteral("R&D "));
            crlf |= text == QStringLiteral("第一行\n第二行");
            preserved |= text == QStringLiteral("  前后有空格  ");
        }
    EXPECT_TRUE(entity && crlf && preserved);

    // Streamed for its table, the sheet keeps only its rows' heights: no cells.
    const auto [part, streamed] = readForTable(path);
    EXPECT_TRUE(streamed);
    for (const SheetRow& row : part.sheets[0].rows)
        EXPECT_TRUE(row.cells.empty());
}

// Rows out of order, or a sheet too sparse to hold as full rows, are read whole instead.
TEST(XlsxRead, StreamingFallsBackToReadingTheWholeSheet) {
    std::string sparse =
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    for (int r = 1; r <= 600; ++r)
        sparse += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
                  "\"><v>1</v></c><c r=\"CDA" + std::to_string(r) + "\"><v>2</v></c></row>";
    sparse += "</sheetData></worksheet>";
    for (const std::string& sheet : {variedSheet(true), sparse}) {
        const std::string package = fuzz::xlsxPackageWith("xl/worksheets/sheet1.xml", sheet);
        expectReadAlikeEveryWay(package);
        QTemporaryDir dir;
        const auto [part, streamed] = readForTable(writtenPackage(dir, package));
        EXPECT_FALSE(streamed);
        EXPECT_FALSE(part.sheets[0].rows.empty());
        EXPECT_FALSE(part.sheets[0].rows.front().cells.empty());
    }
}

// A string table large enough to be read beside the first sheet.
TEST(XlsxRead, LargeStringTableReadInParallel) {
    const Workbook book = readOk(QStringLiteral("xlsx/large_strings.xlsx"));
    const Sheet& s = book.sheets[0];
    EXPECT_EQ(textAt(s, "A1"), QStringLiteral("第一个"));
    EXPECT_EQ(textAt(s, "A2"), QStringLiteral("中间的"));
    EXPECT_EQ(textAt(s, "A3"), QStringLiteral("最后一个"));
    EXPECT_EQ(cellAt(s, "A3")->value.number(), 0);
}

// A dimension claiming the whole grid costs nothing: only real cells are kept.
TEST(XlsxRead, WholeGridDimensionAllocatesNothing) {
    const Workbook book = readOk(QStringLiteral("broken/whole_grid_dimension.xlsx"));
    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].rows.size(), 2u);
    EXPECT_EQ(textAt(book.sheets[0], "XFD1048576"), QStringLiteral("2.000000"));
}

// Workbook parts for packages whose sheet list is the point of the test.
std::string workbookPart(const std::string& sheets, int activeTab = -1) {
    const std::string view = activeTab < 0 ? ""
                                           : "<bookViews><workbookView activeTab=\"" +
                                                 std::to_string(activeTab) + "\"/></bookViews>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook "
           "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" +
           view + "<sheets>" + sheets + "</sheets></workbook>";
}

// Relationships rId1 to rId3 as the package has them, then rId4 (a macro sheet), rId5 (a chart
// sheet), rId6 and rId7 (worksheets).
std::string workbookRelationships() {
    const std::string type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    auto rel = [](const std::string& id, const std::string& type, const std::string& target) {
        return "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
    };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
           rel("rId1", type + "worksheet", "worksheets/sheet1.xml") +
           rel("rId2", type + "styles", "styles.xml") +
           rel("rId3", type + "sharedStrings", "sharedStrings.xml") +
           rel("rId4", "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet",
               "macrosheets/sheet1.xml") +
           rel("rId5", type + "chartsheet", "chartsheets/sheet1.xml") +
           rel("rId6", type + "worksheet", "worksheets/sheet2.xml") +
           rel("rId7", type + "worksheet", "worksheets/sheet3.xml") + "</Relationships>";
}

std::string oneCellSheet(const std::string& text) {
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row "
           "r=\"1\">"
           "<c r=\"A1\" t=\"inlineStr\"><is><t>" +
           text + "</t></is></c></row></sheetData></worksheet>";
}

Workbook readPackage(const std::string& package) {
    QTemporaryDir dir;
    Workbook book;
    const Status s = readWorkbook(writtenPackage(dir, package), book);
    EXPECT_TRUE(s.isOk()) << s.message().toStdString();
    return book;
}

// <c t="s"><v/></c> refers to no shared string: an empty cell, by the plain-cell path and the
// scanner alike; a styled one keeps its style.
TEST(XlsxRead, AnEmptySharedStringReferenceIsAnEmptyCell) {
    const std::string sheet =
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row "
        "r=\"1\">"
        "<c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v/></c><c r=\"C1\" t=\"s\"><v></v></c>"
        "<c r=\"D1\" s=\"2\" t=\"s\"><v></v></c><c r=\"E1\" "
        "t=\"s\"><v>1</v></c></row></sheetData></worksheet>";
    const std::string package = fuzz::xlsxPackageWith("xl/worksheets/sheet1.xml", sheet);
    expectReadAlikeEveryWay(package);
    for (bool plain : {true, false}) {
        xlsx::setPlainCellPath(plain);
        const Workbook book = readPackage(package);
        xlsx::setPlainCellPath(true);
        ASSERT_EQ(book.sheets.size(), 1u);
        const Sheet& s = book.sheets[0];
        EXPECT_EQ(textAt(s, "A1"), QStringLiteral("姓名"));
        EXPECT_EQ(cellAt(s, "B1"), nullptr);
        EXPECT_EQ(cellAt(s, "C1"), nullptr);
        ASSERT_NE(cellAt(s, "D1"), nullptr);
        EXPECT_TRUE(cellAt(s, "D1")->value.isEmpty());
        EXPECT_NE(cellAt(s, "D1")->style, 0u);
        EXPECT_EQ(textAt(s, "E1"), QStringLiteral("张三"));
    }
}

// A sheet entry without a relationship id names no part: it is skipped, the others are read
// and the tabs after it keep their places.
TEST(XlsxRead, ASheetEntryWithoutRelationshipIsSkipped) {
    const Workbook book = readPackage(fuzz::xlsxPackageWith(
        {{"xl/workbook.xml", workbookPart("<sheet name=\"无\" sheetId=\"9\" r:id=\"\"/>"
                                          "<sheet name=\"表一\" sheetId=\"1\" r:id=\"rId1\"/>"
                                          "<sheet name=\"表二\" sheetId=\"2\" r:id=\"rId6\"/>",
                                          2)},
         {"xl/_rels/workbook.xml.rels", workbookRelationships()},
         {"xl/worksheets/sheet2.xml", oneCellSheet("二")}}));
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[0].name, QStringLiteral("表一"));
    EXPECT_EQ(book.sheets[1].name, QStringLiteral("表二"));
    EXPECT_EQ(book.activeSheet, 1);
}

// Macro, chart and dialog sheets are not read. When one of them is the active tab, the first
// visible worksheet becomes the active sheet; an active worksheet stays active whatever stands
// before it.
TEST(XlsxRead, TheActiveSheetIsAWorksheet) {
    const std::string hiddenFirst = "<sheet name=\"隐藏\" sheetId=\"1\" state=\"hidden\" r:id=\"rId1\"/>";
    const std::string macro = "<sheet name=\"宏\" sheetId=\"4\" r:id=\"rId4\"/>";
    const std::string chart = "<sheet name=\"图\" sheetId=\"5\" r:id=\"rId5\"/>";
    const std::string data = "<sheet name=\"数据\" sheetId=\"6\" r:id=\"rId6\"/>";
    const std::string report = "<sheet name=\"报告\" sheetId=\"7\" r:id=\"rId7\"/>";
    const std::string macroSheet =
        "<xm:macrosheet "
        "xmlns:xm=\"http://schemas.microsoft.com/office/excel/2006/main\"><sheetData/></xm:macrosheet>";
    struct Case {
        std::string sheets;
        int activeTab;
        int active; // the sheet read as active
        const char16_t* name;
    } cases[] = {
        {hiddenFirst + macro + data + report, 1, 1, u"数据"}, // the macro sheet is active
        {macro + hiddenFirst + data, 0, 1, u"数据"},
        {chart + data + report, -1, 0, u"数据"},              // no view: the first tab, a chart sheet
        {hiddenFirst + macro + data + report, 3, 2, u"报告"}, // a worksheet after the macro sheet
        {hiddenFirst + macro + data, 0, 0, u"隐藏"},          // a hidden worksheet that is active stays so
        {hiddenFirst + macro + data, 9, 1, u"数据"},          // no such tab
    };
    for (const Case& c : cases) {
        const Workbook book =
            readPackage(fuzz::xlsxPackageWith({{"xl/workbook.xml", workbookPart(c.sheets, c.activeTab)},
                                               {"xl/_rels/workbook.xml.rels", workbookRelationships()},
                                               {"xl/macrosheets/sheet1.xml", macroSheet},
                                               {"xl/chartsheets/sheet1.xml", "<chartsheet/>"},
                                               {"xl/worksheets/sheet2.xml", oneCellSheet("数据")},
                                               {"xl/worksheets/sheet3.xml", oneCellSheet("报告")}}));
        ASSERT_LT(size_t(c.active), book.sheets.size()) << c.sheets;
        EXPECT_EQ(book.activeSheet, c.active) << c.sheets;
        EXPECT_EQ(book.sheets[size_t(book.activeSheet)].name, QString::fromUtf16(c.name)) << c.sheets;
        for (const Sheet& sheet : book.sheets)
            EXPECT_TRUE(sheet.name != QStringLiteral("宏") && sheet.name != QStringLiteral("图")) << c.sheets;
    }
}

// ---------------------------------------------------------------------------------------------
// Hostile and broken files

TEST(XlsxSafety, HostileFilesEndInClearErrors) {
    struct Case {
        const char* file;
        const char16_t* says; // part of the message
        const char* entry;    // the part named, when the fault is inside one
    } cases[] = {
        {"broken/zip_bomb.xlsx", u"zip 炸弹", "xl/worksheets/sheet1.xml"},
        {"broken/lying_size.xlsx", u"谎报", "xl/worksheets/sheet1.xml"},
        {"broken/short_entry.xlsx", u"与声明的 5000 字节不符", "xl/worksheets/sheet1.xml"},
        {"broken/bad_crc.xlsx", u"CRC", "xl/worksheets/sheet1.xml"},
        {"broken/too_many_entries.xlsx", u"超过了上限 5000 个", nullptr},
        {"broken/duplicate_entry.xlsx", u"重名的条目", "xl/worksheets/sheet1.xml"},
        {"broken/truncated.xlsx", u"截断", nullptr},
        {"broken/empty.xlsx", u"0 字节", nullptr},
        {"broken/billion_laughs.xlsx", u"DOCTYPE", "xl/worksheets/sheet1.xml"},
        {"broken/external_entity.xlsx", u"DOCTYPE", "xl/workbook.xml"},
        {"broken/deep_nesting.xlsx", u"嵌套", "xl/worksheets/sheet1.xml"},
        {"broken/beyond_column.xlsx", u"“XFE1”无效或超出了 XFD1048576", "xl/worksheets/sheet1.xml"},
        {"broken/beyond_row.xlsx", u"1048577", "xl/worksheets/sheet1.xml"},
        {"broken/string_index.xlsx", u"B1 引用的共享字符串编号 7 不存在（共有 2 个）",
         "xl/worksheets/sheet1.xml"},
        {"broken/string_index_parallel.xlsx", u"A2 引用的共享字符串编号 20000 不存在（共有 20000 个）",
         "xl/worksheets/sheet1.xml"},
        {"broken/style_index.xlsx", u"C3 的样式编号 9 不存在", "xl/worksheets/sheet1.xml"},
        {"broken/not_a_workbook.xlsx", u"不是 Excel 工作簿", nullptr},
        {"broken/broken_chain.xls", u"扇区链", nullptr},
        {"broken/encrypted.xlsx", u"打开密码", nullptr},
        {"broken/binary_workbook.xlsb", u".xlsb", nullptr},
    };
    const QDir folder(testDataPath(QStringLiteral("broken")));
    const QStringList before = folder.entryList(QDir::Files | QDir::Hidden);
    for (const Case& c : cases) {
        const QString path = testDataPath(QString::fromLatin1(c.file));
        QStringList mentions = {QDir::toNativeSeparators(path), QString::fromUtf16(c.says)};
        if (c.entry) mentions.append(QString::fromLatin1(c.entry));
        test::expectMentions(test::refusalOf(path), mentions, c.file);
        // Nothing half-read is left behind by the reader itself.
        if (QFileInfo(path).size() > 0) {
            Workbook filled = Workbook::makeDefault();
            const FileKind kind =
                path.endsWith(QStringLiteral(".xls")) || path.endsWith(QStringLiteral("encrypted.xlsx"))
                    ? FileKind::Xls
                    : FileKind::Xlsx;
            EXPECT_FALSE(formatFor(kind)->read(path, filled).isOk()) << c.file;
            EXPECT_TRUE(filled.sheets.empty()) << c.file;
        }
    }
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden), before); // nothing was written
}

TEST(ZipArchive, LooksUpPartsAsPackagesNameThem) {
    ZipArchive zip;
    ASSERT_TRUE(zip.open(testDataPath(QStringLiteral("xlsx/basic.xlsx"))).isOk());
    EXPECT_NE(zip.find("xl/workbook.xml"), nullptr);
    EXPECT_EQ(zip.find("/XL/Workbook.xml"), zip.find("xl/workbook.xml"));
    EXPECT_EQ(zip.find("xl\\workbook.xml"), zip.find("xl/workbook.xml"));
    EXPECT_EQ(zip.find("xl/missing.xml"), nullptr);
    std::string text;
    ASSERT_TRUE(zip.readEntry(*zip.find("xl/workbook.xml"), text).isOk());
    EXPECT_NE(text.find("<sheets>"), std::string::npos);
    // A part larger than the caller allows is refused before it is inflated.
    const Status s = zip.readEntry(*zip.find("xl/styles.xml"), text, 100);
    EXPECT_FALSE(s.isOk());
    EXPECT_TRUE(s.message().contains(QStringLiteral("xl/styles.xml")));

    ZipArchive bomb;
    ASSERT_TRUE(bomb.open(testDataPath(QStringLiteral("broken/zip_bomb.xlsx"))).isOk());
    std::unique_ptr<ZipEntryStream> stream;
    EXPECT_FALSE(bomb.openEntry(*bomb.find("xl/worksheets/sheet1.xml"), stream).isOk());
    EXPECT_EQ(stream, nullptr);
}

// A source that hands out some bytes, then fails.
class FailingSource final : public ByteSource {
public:
    explicit FailingSource(qint64 good)
        : good_(good) {}
    qint64 read(char* buffer, qint64 max) override {
        if (given_ >= good_) return -1;
        const qint64 n = std::min(max, good_ - given_);
        std::memset(buffer, 'x', size_t(n));
        given_ += n;
        return n;
    }
    QString errorString() const override { return QStringLiteral("broken on purpose"); }

private:
    qint64 good_, given_ = 0;
};

TEST(ReadAheadSource, HandsOnBytesInOrderAndThenTheFailure) {
    std::string data(5 * 1000 * 1000 + 7, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char('a' + (i * 7919) % 26);
    MemoryByteSource memory{std::string_view(data)};
    ReadAheadSource ahead(memory, 64 * 1024, 3);
    std::string copy;
    char buffer[10007];
    for (qint64 n; (n = ahead.read(buffer, sizeof buffer)) > 0;)
        copy.append(buffer, size_t(n));
    EXPECT_EQ(copy, data);
    EXPECT_EQ(ahead.read(buffer, sizeof buffer), 0);

    FailingSource failing(300000);
    ReadAheadSource broken(failing, 64 * 1024, 2);
    qint64 total = 0, n;
    while ((n = broken.read(buffer, sizeof buffer)) > 0)
        total += n;
    EXPECT_EQ(n, -1);
    EXPECT_EQ(total, 300000);
    EXPECT_EQ(broken.errorString(), QStringLiteral("broken on purpose"));

    // Stopping while the worker waits for room neither hangs nor loses the inner source.
    MemoryByteSource again{std::string_view(data)};
    ReadAheadSource abandoned(again, 4096, 2);
    EXPECT_GT(abandoned.read(buffer, 10), 0);
    abandoned.stop();
}

} // namespace
} // namespace quellar
