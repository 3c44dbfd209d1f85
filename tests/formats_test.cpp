#include "base/CellOps.h"
#include "base/TextIO.h"
#include "tests/TestSupport.h"
#include "tests/WorkbookCells.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/csv/CsvFormat.h"
#include "workbook/json/JsonTables.h"
#include "workbook/xmlss/XmlSpreadsheetFormat.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <csignal>
#include <limits>
#include <random>

#ifdef __linux__
#include <sys/resource.h>
#endif

using namespace quellar;
using test::bytesOf;

namespace {

QString dataPath(const QString& relative) {
    return QStringLiteral(QUELLAR_TEST_DATA_DIR "/") + relative;
}

QString styleText(const Workbook& book, uint32_t index) {
    return index < book.styles.size() ? test::styleText(book.styles[index]) : QStringLiteral("?");
}

QString valueText(const CellValue& v) {
    switch (v.type()) {
    case CellValue::Type::Empty:
        return QStringLiteral("empty");
    case CellValue::Type::Number:
        return QStringLiteral("N:%1").arg(v.number(), 0, 'g', 17);
    case CellValue::Type::Boolean:
        return QStringLiteral("B:%1").arg(v.number());
    case CellValue::Type::DateTime:
        return QStringLiteral("D:%1").arg(v.number(), 0, 'g', 17);
    case CellValue::Type::String:
        return QStringLiteral("S:") + v.text().toQString();
    case CellValue::Type::Error:
        return QStringLiteral("E:") + v.text().toQString();
    }
    return {};
}

// Everything the model carries, with styles spelled out (indexes may differ between files).
QString describe(const Workbook& book) {
    QString out = QStringLiteral("font %1 %2 active %3 default %4\n")
                      .arg(book.defaultFontName)
                      .arg(book.defaultFontSize)
                      .arg(book.activeSheet)
                      .arg(styleText(book, 0));
    for (const Sheet& s : book.sheets) {
        const PageSetup& p = s.pageSetup;
        out += QStringLiteral("sheet [%1] hidden %2 protected %3 defaults %4/%5\n")
                   .arg(s.name)
                   .arg(s.hidden)
                   .arg(s.isProtected)
                   .arg(s.defaultColumnWidth)
                   .arg(s.defaultRowHeight);
        out += QStringLiteral(" page %1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11 %12 titles %13-%14\n")
                   .arg(p.paperSize)
                   .arg(p.landscape)
                   .arg(p.marginTop)
                   .arg(p.marginBottom)
                   .arg(p.marginLeft)
                   .arg(p.marginRight)
                   .arg(p.marginHeader)
                   .arg(p.marginFooter)
                   .arg(p.scale)
                   .arg(p.fitToPage)
                   .arg(p.fitToWidth)
                   .arg(p.fitToHeight)
                   .arg(p.printTitleFirstRow)
                   .arg(p.printTitleLastRow);
        for (const auto& [c, w] : s.columnWidths)
            out += QStringLiteral(" width %1=%2\n").arg(c).arg(w);
        for (const SheetRow& r : s.rows) {
            out += QStringLiteral(" row %1 h %2 hidden %3\n").arg(r.index).arg(r.height).arg(r.hidden);
            for (const Cell& c : r.cells)
                out += QStringLiteral("  %1 %2 f[%3] %4\n")
                           .arg(columnAddress(int(c.column) + 1, r.index + 1), valueText(c.value),
                                c.formula.toQString(), styleText(book, c.style));
        }
        std::vector<CellRange> merges = s.merges;
        std::sort(merges.begin(), merges.end(), [](const CellRange& a, const CellRange& b) {
            return std::tie(a.firstRow, a.firstColumn) < std::tie(b.firstRow, b.firstColumn);
        });
        for (const CellRange& m : merges)
            out += QStringLiteral(" merge %1,%2-%3,%4\n")
                       .arg(m.firstRow)
                       .arg(m.firstColumn)
                       .arg(m.lastRow)
                       .arg(m.lastColumn);
        for (int b : s.rowBreaks)
            out += QStringLiteral(" break %1\n").arg(b);
    }
    return out;
}

Workbook richWorkbook() {
    Workbook book;
    book.defaultFontName = QStringLiteral("宋体");
    book.defaultFontSize = 12;
    book.styles[0].vertical = VAlign::Center; // as Chinese Excel's Normal style
    Style title;
    title.hasFill = true;
    title.fillRgb = 0xFFFF00;
    title.fillPalette = 6;
    title.fontName = QStringLiteral("黑体");
    title.fontSize = 14;
    title.bold = true;
    title.hasFontColor = true;
    title.fontRgb = 0xFF0000;
    title.horizontal = HAlign::Center;
    title.vertical = VAlign::Center;
    title.wrapText = true;
    const uint32_t titleStyle = book.internStyle(title);
    Style money;
    money.numberFormat = QStringLiteral("#,##0.00");
    money.vertical = VAlign::Bottom; // differs from the default's Center
    money.italic = true;
    const uint32_t moneyStyle = book.internStyle(money);
    Style date;
    date.numberFormat = QStringLiteral("yyyy/m/d h:mm");
    date.vertical = VAlign::Center;
    const uint32_t dateStyle = book.internStyle(date);

    book.sheets.resize(3);
    Sheet& s = book.sheets[0];
    s.name = QStringLiteral("数据 & <名单> \"甲\"");
    s.isProtected = true;
    s.defaultColumnWidth = 60;
    s.defaultRowHeight = 15;
    s.columnWidths = {{0, 80.25}, {3, 120}};
    s.cellAt(0, 0).value = CellValue::fromString(u"标题");
    s.cellAt(0, 0).style = titleStyle;
    s.merges.push_back({0, 0, 1, 2});
    s.cellAt(0, 3).value = CellValue::fromNumber(1.5);
    s.cellAt(0, 3).style = moneyStyle;
    s.cellAt(1, 3).value = CellValue::fromNumber(3);
    s.cellAt(1, 3).formula = SharedText(u"=D1*2"); // written as =R[-1]C*2
    s.rowAt(1).height = 30;
    s.cellAt(4, 1).value = CellValue::fromDateTime(45356.5);
    s.cellAt(4, 1).style = dateStyle;
    s.cellAt(4, 2).value = CellValue::fromBoolean(true);
    s.cellAt(4, 4).value = CellValue::fromError(u"#N/A");
    s.cellAt(4, 5).value = CellValue::fromString(u"  a&b<c>\"d\"\te\nf\r\n第二行 ");
    s.cellAt(4, 6).style = moneyStyle;                     // a formatted blank
    s.cellAt(4, 7).value = CellValue::fromDateTime(59.25); // before the phantom 29 February
    s.cellAt(4, 8).value = CellValue::fromDateTime(60);    // the phantom day itself
    SheetRow& hiddenRow = s.rowAt(7);
    hiddenRow.height = 0;
    hiddenRow.hidden = true;
    const double numbers[] = {0.1, -2.5e-7, 1e21, 123456789012345, -0.0, 5e-324};
    for (int i = 0; i < 6; ++i)
        s.cellAt(9, i).value = CellValue::fromNumber(numbers[i]);
    s.merges.push_back({9, 7, 12, 7}); // an anchor without a stored cell, in a stored row
    s.pageSetup = {8, true, 1, 1, 0.75, 0.75, 0.5, 0.5, 85, true, 1, 0, 0, 1};
    s.rowBreaks = {5, 20};

    book.sheets[1].name = QStringLiteral("Sheet2");
    book.sheets[1].hidden = true;
    book.sheets[2].name = QStringLiteral("只有合并");
    book.sheets[2].merges.push_back({1, 1, 2, 2}); // no cells at all
    book.activeSheet = 2;
    return book;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The model

TEST(Workbook, RowsAndCellsStaySortedInAnyInsertionOrder) {
    Sheet s;
    const std::pair<int, int> order[] = {{5, 3}, {1, 0}, {5, 1}, {3, 2}, {5, 2}, {1, 0}, {0, 9}};
    for (auto [r, c] : order)
        s.cellAt(r, c).value = CellValue::fromNumber(r * 100 + c);
    ASSERT_EQ(s.rows.size(), 4u);
    std::vector<int> seen;
    for (const SheetRow& row : s.rows)
        for (const Cell& cell : row.cells)
            seen.push_back(int(cell.value.number()));
    EXPECT_EQ(seen, (std::vector<int>{9, 100, 302, 501, 502, 503}));
    EXPECT_EQ(s.cell(5, 2)->value.number(), 502);
    EXPECT_EQ(s.cell(5, 4), nullptr);
    EXPECT_EQ(s.cell(4, 0), nullptr);
    EXPECT_EQ(s.row(2), nullptr);
    EXPECT_EQ(s.usedRange(), (CellRange{0, 0, 5, 9}));
    s.merges.push_back({6, 0, 7, 1});
    EXPECT_EQ(s.usedRange(), (CellRange{0, 0, 7, 9}));
    s.rowAt(8).height = 20;
    EXPECT_EQ(s.rowHeight(8), 20);
    EXPECT_EQ(s.rowHeight(9), s.defaultRowHeight);
    s.clear();
    EXPECT_FALSE(s.usedRange());
    EXPECT_EQ(s.mergeContaining(6, 0), nullptr);
}

TEST(Workbook, MergeLookupMatchesAScanOfAllAreas) {
    std::mt19937 random(7);
    Sheet s;
    // Non-overlapping areas of random sizes on a grid of 8x8 blocks, one tall column too.
    for (int br = 0; br < 60; ++br)
        for (int bc = 0; bc < 6; ++bc)
            if (random() % 3 == 0)
                s.merges.push_back(
                    {br * 8, bc * 8 + 1, br * 8 + int(random() % 8), bc * 8 + 1 + int(random() % 7)});
    s.merges.push_back({0, 0, 479, 0});
    for (int pass = 0; pass < 2; ++pass) {
        for (int q = 0; q < 5000; ++q) {
            const int r = int(random() % 500), c = int(random() % 52);
            const CellRange* expected = nullptr;
            for (const CellRange& m : s.merges)
                if (m.contains(r, c)) expected = &m;
            ASSERT_EQ(s.mergeContaining(r, c), expected) << r << "," << c;
        }
        s.merges.push_back({490, 0, 495, 3}); // the index follows a changed list
    }
}

TEST(Workbook, StylesAreInternedOncePaletteIsExcels) {
    Workbook book;
    ASSERT_EQ(book.styles.size(), 1u);
    Style bold;
    bold.bold = true;
    const uint32_t a = book.internStyle(bold);
    EXPECT_EQ(book.internStyle(bold), a);
    EXPECT_EQ(book.internStyle(Style{}), 0u);
    Style red = bold;
    red.hasFill = true;
    red.fillRgb = 0xFF0000;
    book.styles.push_back(red); // added directly, still found
    EXPECT_EQ(book.internStyle(red), book.styles.size() - 1);

    const Workbook grid = Workbook::makeDefault();
    ASSERT_EQ(grid.sheets.size(), 3u);
    EXPECT_EQ(grid.sheets[2].name, QStringLiteral("Sheet3"));
    EXPECT_EQ(grid.defaultFontName, QStringLiteral("宋体"));
    EXPECT_EQ(grid.sheetIndex(QStringLiteral("Sheet2")), 1);
    EXPECT_EQ(grid.sheetIndex(QStringLiteral("sheet2")), -1);

    const std::pair<int, uint32_t> palette[] = {{1, 0x000000},  {2, 0xFFFFFF}, {3, 0xFF0000},
                                                {4, 0x00FF00},  {6, 0xFFFF00}, {20, 0xCCFFFF},
                                                {22, 0xFF8080}, {56, 0x333333}};
    for (auto [index, rgb] : palette) {
        EXPECT_EQ(paletteColor(index), rgb) << index;
        EXPECT_EQ(nearestPaletteIndex(rgb), index) << index; // duplicates resolve to the first
    }
    EXPECT_EQ(nearestPaletteIndex(0xFE0101), 3);
    EXPECT_EQ(nearestPaletteIndex(0xC6EFCE), 35); // Excel's "good" green is nearest to light green
}

// ---------------------------------------------------------------------------------------------
// XML Spreadsheet 2003

TEST(XmlSpreadsheet, RoundTripKeepsEverythingTheModelCarries) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("往返.xml"));
    const Workbook book = richWorkbook();
    ASSERT_TRUE(writeWorkbook(book, path, FileKind::XmlSpreadsheet).isOk());
    Workbook back;
    const Status read = readWorkbook(path, back);
    ASSERT_TRUE(read.isOk()) << read.message().toStdString();
    EXPECT_EQ(describe(back).toStdString(), describe(book).toStdString());

    // Writing what was read gives the same bytes.
    const QString again = dir.filePath(QStringLiteral("again.xml"));
    ASSERT_TRUE(writeWorkbook(back, again, FileKind::XmlSpreadsheet).isOk());
    EXPECT_EQ(bytesOf(again), bytesOf(path));
}

TEST(XmlSpreadsheet, WritesCellsTheWayExcelReadsThem) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.xml"));
    ASSERT_TRUE(writeWorkbook(richWorkbook(), path, FileKind::XmlSpreadsheet).isOk());
    const QString xml = QString::fromUtf8(bytesOf(path));
    for (
        const char* piece : {
            R"(<Worksheet ss:Name="数据 &amp; &lt;名单&gt; &quot;甲&quot;" ss:Protected="1">)",
            R"(<Table ss:ExpandedColumnCount="9" ss:ExpandedRowCount="13")",
            R"(<Cell ss:MergeAcross="2" ss:MergeDown="1" ss:StyleID=)",
            R"(<Cell ss:Index="4" ss:Formula="=R[-1]C*2"><Data ss:Type="Number">3</Data></Cell>)",
            R"(<Data ss:Type="DateTime">2024-03-05T12:00:00.000</Data>)",
            R"(<Data ss:Type="DateTime">1900-02-28T06:00:00.000</Data>)",
            R"(<Data ss:Type="DateTime">1900-02-29T00:00:00.000</Data>)",
            R"(<Data ss:Type="String">  a&amp;b&lt;c&gt;"d"	e&#10;f&#13;&#10;第二行 </Data>)",
            R"(<Data ss:Type="Number">1e+21</Data>)",
            R"(<Cell ss:Index="8" ss:MergeDown="3"/>)",
            R"(<Row ss:Index="8" ss:AutoFitHeight="0" ss:Height="0" ss:Hidden="1"/>)",
            R"(<NamedRange ss:Name="Print_Titles" ss:RefersTo="='数据 &amp; &lt;名单&gt; &quot;甲&quot;'!R1:R2"/>)",
            R"(<RowBreak>
     <Row>4</Row>)",
            R"(<Font ss:FontName="宋体" x:CharSet="134" ss:Size="12"/>)",
            "<ActiveSheet>2</ActiveSheet>",
        })
        EXPECT_TRUE(xml.contains(QString::fromUtf8(piece))) << piece;
}

TEST(XmlSpreadsheet, ReadsAWorkbookAsExcelWritesIt) {
    Workbook book;
    const Status status = readWorkbook(dataPath(QStringLiteral("xmlss/excel_style.xml")), book);
    ASSERT_TRUE(status.isOk()) << status.message().toStdString();
    ASSERT_EQ(book.sheets.size(), 3u);
    EXPECT_EQ(book.activeSheet, 1);
    EXPECT_EQ(book.defaultFontName, QStringLiteral("宋体"));
    EXPECT_EQ(book.defaultFontSize, 12);
    const Sheet& s = book.sheets[0];
    EXPECT_EQ(s.name, QStringLiteral("名单"));
    EXPECT_TRUE(book.sheets[2].hidden);

    auto text = [&](int r, int c) {
        return s.cell(r, c) ? valueText(s.cell(r, c)->value) : QStringLiteral("-");
    };
    EXPECT_EQ(text(0, 0), QStringLiteral("S:职工名单"));
    EXPECT_EQ(text(0, 3), QStringLiteral("N:1.5"));
    EXPECT_EQ(text(1, 3), QStringLiteral("S:工资"));
    EXPECT_EQ(text(2, 0), QStringLiteral("-"));
    EXPECT_EQ(text(3, 0), QStringLiteral("S:李四")); // the comment's text is not the value
    EXPECT_EQ(text(3, 1), QStringLiteral("-"));
    EXPECT_EQ(text(3, 2), QStringLiteral("D:45356"));
    EXPECT_EQ(text(3, 3), QStringLiteral("N:6500.5"));
    EXPECT_EQ(s.cell(3, 3)->formula.toQString(), QStringLiteral("=A4*2")); // =RC[-3]*2 in the file
    EXPECT_EQ(text(4, 0), QStringLiteral("S:红字 & 黑"));                  // rich text runs joined
    EXPECT_EQ(text(4, 1), QStringLiteral("B:1"));
    EXPECT_EQ(text(4, 2), QStringLiteral("E:#N/A"));
    EXPECT_EQ(text(4, 3), QStringLiteral("S:a<b\n第二行"));
    EXPECT_EQ(text(5, 1), QStringLiteral("N:-0.25"));
    EXPECT_TRUE(s.row(5)->hidden);
    EXPECT_EQ(s.rowHeight(0), 30);
    EXPECT_EQ(s.rowHeight(1), 14.25);
    EXPECT_EQ(s.columnWidth(0), 80.25);
    EXPECT_EQ(s.columnWidth(1), 54);
    EXPECT_EQ(s.columnWidth(2), 120);
    EXPECT_EQ(s.columnWidth(3), 120);
    ASSERT_EQ(s.merges.size(), 2u);
    EXPECT_EQ(s.merges[0], (CellRange{0, 0, 0, 2}));
    EXPECT_EQ(s.merges[1], (CellRange{4, 0, 5, 0}));

    const Style& title = book.styles[s.cell(0, 0)->style];
    EXPECT_TRUE(title.hasFill);
    EXPECT_EQ(title.fillPalette, 6);
    EXPECT_EQ(title.fontName, QStringLiteral("黑体"));
    EXPECT_TRUE(title.bold && title.wrapText && title.hasFontColor);
    EXPECT_EQ(title.horizontal, HAlign::Center);
    const Style& child = book.styles[s.cell(0, 3)->style]; // s23 inherits from s21
    EXPECT_EQ(child.fillPalette, 20);
    EXPECT_TRUE(child.bold);
    EXPECT_EQ(child.numberFormat, QStringLiteral("0.00"));
    EXPECT_EQ(book.styles[s.cell(1, 0)->style].vertical, VAlign::Center); // from Default

    const PageSetup& p = s.pageSetup;
    EXPECT_TRUE(p.landscape && p.fitToPage);
    EXPECT_EQ(p.paperSize, 8);
    EXPECT_EQ(p.scale, 85);
    EXPECT_EQ(p.fitToWidth, 1);
    EXPECT_EQ(p.fitToHeight, 0);
    EXPECT_EQ(p.marginTop, 1);
    EXPECT_EQ(p.marginHeader, 0.5);
    EXPECT_EQ(p.printTitleFirstRow, 0);
    EXPECT_EQ(p.printTitleLastRow, 1);
    EXPECT_EQ(s.rowBreaks, std::vector<int32_t>{5});
}

TEST(XmlSpreadsheet, BrokenAndHostileFilesGiveClearErrors) {
    struct Case {
        const char* file;
        const char* message;
    } cases[] = {
        {"broken/billion_laughs.xml", "DOCTYPE"},
        {"broken/external_entity.xml", "DOCTYPE"},
        {"broken/unknown_entity.xml", "&nbsp;"},
        {"broken/beyond_xfd_column.xml", "XFD1048576"},
        {"broken/beyond_xfd_row.xml", "XFD1048576"},
        {"broken/truncated.xml", "截断"},
        {"broken/deep_nesting.xml", "嵌套"},
        {"broken/empty.xml", "空文件"},
        {"broken/not_a_workbook.xml", "不是 XML 表格"},
        {"broken/fake.xlsx", ""},
        {"broken/no_such_file.xml", "找不到文件"},
    };
    for (const Case& c : cases) {
        const QString path = dataPath(QString::fromUtf8(c.file));
        test::expectMentions(test::refusalOf(path),
                             {QString::fromUtf8(c.message), QFileInfo(path).fileName()}, c.file);
    }
}

TEST(XmlSpreadsheet, WriteFailureLeavesNoFileAndNamesThePath) {
    const QString path = QStringLiteral("/nonexistent-folder-quellar/out.xml");
    const Status status = writeWorkbook(richWorkbook(), path, FileKind::XmlSpreadsheet);
    EXPECT_FALSE(status.isOk());
    EXPECT_TRUE(status.message().contains(QStringLiteral("out.xml")));
    EXPECT_FALSE(
        writeWorkbook(richWorkbook(), QStringLiteral("a.txt"), fileKindForPath(QStringLiteral("a.txt")))
            .isOk());
}

namespace {

// A large workbook with everything the writer has to get right, drawn from a fixed random
// sequence: numbers of every shape, Chinese and escaped texts (surrogate pairs, lone
// surrogates, control characters), formulas, dates in and out of range, booleans, errors,
// styled blanks, gaps between rows and columns, merged areas (covered cells, anchors without
// cells), heights and hidden rows, and a few rows and areas the writer must skip.
Workbook largeRandomWorkbook(int rows) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    Workbook book = Workbook::makeDefault();
    book.activeSheet = 1;
    std::vector<uint32_t> styles = {0};
    for (int i = 0; i < 12; ++i) {
        Style s;
        s.bold = i % 2;
        s.hasFill = i % 3 == 0;
        s.fillRgb = 0x102030u * uint32_t(i + 1);
        s.numberFormat = i % 4 == 0 ? QStringLiteral("0.00") : QString();
        s.fontName = i == 5 ? QStringLiteral("黑体") : QString();
        s.horizontal = HAlign(i % 4);
        styles.push_back(book.internStyle(s));
    }
    const char16_t* texts[] = {u"张三",
                               u"华东区 & <总部>",
                               u"a\"b\"\tc",
                               u"行一\n行二\r\n",
                               u"x",
                               u"\U0001F600 表情",
                               u"lone \xD800 high",
                               u"ctl\x01\x1F end",
                               u"\xFFFE\xFFFF nonchars",
                               u"  空格  ",
                               u"Ünïcödé ½",
                               u"A12345"};
    const double numbers[] = {0,
                              -0.0,
                              1,
                              -1,
                              99999,
                              100000,
                              123456,
                              -100000,
                              1e15,
                              1e16,
                              9007199254740993.0,
                              0.1,
                              1.0 / 3,
                              -2.5e-7,
                              5e-324,
                              1e300,
                              12.5,
                              std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(),
                              65536,
                              4294967296.0};
    const char16_t* formulas[] = {u"=A1*2", u"=SUM($B$2:C3)", u"=IF(D4>1,\"是\",\"否\")", u"=Sheet1!A:A",
                                  u"='数据 1'!B2+E$5"};
    for (int sheetIndex = 0; sheetIndex < 2; ++sheetIndex) {
        Sheet& sheet = book.sheets[size_t(sheetIndex)];
        sheet.name = sheetIndex == 0 ? QStringLiteral("数据 1") : QStringLiteral("Sheet'2");
        sheet.columnWidths = {{0, 80.25}, {2, 30}, {7, 100}};
        const int sheetRows = sheetIndex == 0 ? rows : rows / 4;
        int32_t r = 0;
        for (int i = 0; i < sheetRows; ++i) {
            r += next() % 10 == 0 ? int32_t(2 + next() % 5) : 1; // some gaps
            SheetRow& row = sheet.rowAt(r);
            const uint64_t shape = next();
            if (shape % 23 == 0) row.height = float(12 + shape % 30);
            if (shape % 97 == 0) row.hidden = true;
            if (shape % 41 == 0) continue; // a row with no cells
            uint32_t column = uint32_t(next() % 2);
            const int count = int(1 + next() % 12);
            for (int c = 0; c < count; ++c, column += next() % 6 == 0 ? 3 : 1) {
                Cell& cell = sheet.cellAt(r, int32_t(column));
                const uint64_t x = next();
                if (x % 5 == 0) cell.style = styles[x / 5 % styles.size()];
                switch (x / 64 % 10) {
                case 0:
                case 1:
                    cell.value = CellValue::fromNumber(numbers[x / 1024 % std::size(numbers)]);
                    break;
                case 2:
                    cell.value = CellValue::fromNumber(double(int64_t(x >> 20) % 2000000 - 1000000) /
                                                       double(1 + x / 4096 % 1000));
                    break;
                case 3:
                case 4:
                    cell.value = CellValue::fromString(texts[x / 1024 % std::size(texts)]);
                    break;
                case 5:
                    cell.value = CellValue::fromString(QStringLiteral("客户%1").arg(x % 100000));
                    break;
                case 6:
                    cell.value = CellValue::fromDateTime(double(x % 3000000) / 100 - 10);
                    break;
                case 7:
                    cell.value = x % 3 ? CellValue::fromBoolean(x % 2) : CellValue::fromError(u"#DIV/0!");
                    break;
                case 8:
                    cell.value = CellValue::fromNumber(double(x % 1000));
                    cell.formula = SharedText(formulas[x / 1024 % std::size(formulas)]);
                    break;
                default:
                    break; // a blank: written only when it has a style
                }
            }
            if (shape % 29 == 0) { // a merged area starting in this row
                const int32_t first = int32_t(shape / 29 % 8);
                sheet.merges.push_back(
                    {r, first, r + int32_t(shape / 512 % 3), first + int32_t(shape / 4096 % 3)});
            }
            if (shape % 53 == 0) // an area in rows of its own, below the stored ones
                sheet.merges.push_back({r + 1, 12, r + 2, 12});
        }
        sheet.merges.push_back({0, 0, 0, 0});                   // a single cell: not an area
        sheet.merges.push_back({kMaxRows - 1, 0, kMaxRows, 1}); // past the grid
        sheet.rowAt(r + 3).height = 20;                         // a last row with a height only
    }
    // Rows out of order and a cell past the last column are skipped.
    SheetRow stray;
    stray.index = 3;
    stray.cells.push_back({});
    stray.cells.back().value = CellValue::fromString(u"out of order");
    book.sheets[1].rows.push_back(stray);
    Cell wide;
    wide.column = kMaxColumns + 5;
    wide.value = CellValue::fromNumber(1);
    book.sheets[1].rows.front().cells.push_back(wide);
    return book;
}

QByteArray sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

// The writer formats large tables in parallel pieces; the file must be exactly what one
// straight pass writes (the digest was taken from such a pass), every time. The digest changed
// only when round amounts were first written in plain digits (100000, not 1e+05).
TEST(XmlSpreadsheet, LargeWorkbookIsWrittenByteForByteTheSameEveryTime) {
    QTemporaryDir dir;
    const Workbook book = largeRandomWorkbook(20000);
    const QString first = dir.filePath(QStringLiteral("a.xml")),
                  second = dir.filePath(QStringLiteral("b.xml"));
    ASSERT_TRUE(writeWorkbook(book, first, FileKind::XmlSpreadsheet).isOk());
    ASSERT_TRUE(writeWorkbook(book, second, FileKind::XmlSpreadsheet).isOk());
    const QByteArray bytes = bytesOf(first);
    EXPECT_EQ(bytes, bytesOf(second));
    EXPECT_EQ(sha256Hex(bytes).toStdString(),
              "df105bca58303a76fc3ace630e0f3d80b3a012cf521240866330bb652211ff93")
        << bytes.size();
}

// A workbook written in place while its owner changes everything but the rows gives the bytes
// of the workbook as it was, and the owner may move it meanwhile.
TEST(XmlSpreadsheet, AWorkbookWrittenInPlaceIsWrittenAsItWasWhenTaken) {
    QTemporaryDir dir;
    Workbook book = richWorkbook();
    book.sheets.push_back(largeRandomWorkbook(20000).sheets[0]); // written in pieces on helper threads
    const QString expected = dir.filePath(QStringLiteral("expected.xml"));
    ASSERT_TRUE(writeWorkbook(book, expected, FileKind::XmlSpreadsheet).isOk());

    const WorkbookInPlace inPlace(book);
    Workbook owner = std::move(book);
    owner.activeSheet = int(owner.sheets.size()) - 1;
    for (Sheet& sheet : owner.sheets) {
        sheet.isProtected = !sheet.isProtected;
        sheet.columnWidths[3] = 123.5;
        sheet.name += QStringLiteral("（改）");
        sheet.merges.push_back(CellRange{40000, 0, 40001, 1});
    }
    owner.styles.emplace_back().bold = true;
    owner.sheets.emplace_back().name = QStringLiteral("新表");
    const QString written = dir.filePath(QStringLiteral("in-place.xml"));
    ASSERT_TRUE(inPlace.writeXmlSpreadsheet(written).isOk());
    EXPECT_EQ(bytesOf(written), bytesOf(expected));
}

// Large tables are cut into pieces by cell count and by output size; whatever the cut, every
// row comes back once and in order.
TEST(XmlSpreadsheet, TablesOfEveryShapeReadBackAsWritten) {
    struct Case {
        const char* what;
        int rows;
        int columns;
        int textLength; // 0: numbers
        bool mergesOnly;
    } cases[] = {
        {"one small piece", 50, 3, 5, false},
        {"many pieces", 30000, 2, 0, false},
        {"pieces cut short by long texts", 17000, 1, 400, false},
        {"one piece cut short by long texts", 300, 1, 10000, false},
        {"rows of merged areas only", 20000, 1, 0, true},
    };
    for (const Case& c : cases) {
        Workbook book = Workbook::makeDefault();
        Sheet& sheet = book.sheets[0];
        for (int r = 0; r < c.rows; ++r) {
            const int32_t row = r * 2; // every other row
            if (c.mergesOnly) {
                sheet.merges.push_back({row, 1, row, 3});
                continue;
            }
            for (int col = 0; col < c.columns; ++col) {
                Cell& cell = sheet.cellAt(row, col * 3);
                if (c.textLength == 0) {
                    cell.value = CellValue::fromNumber(r * 10.5 + col);
                } else {
                    QString text = QStringLiteral("第%1行 ").arg(r);
                    text += QString(c.textLength, QChar(char16_t(0x4E00 + r % 26))); // 3 bytes each
                    cell.value = CellValue::fromString(text);
                }
            }
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.xml"));
        ASSERT_TRUE(writeWorkbook(book, path, FileKind::XmlSpreadsheet).isOk()) << c.what;
        Workbook back;
        const Status read = readWorkbook(path, back);
        ASSERT_TRUE(read.isOk()) << c.what << ": " << read.message().toStdString();
        EXPECT_TRUE(describe(back) == describe(book)) << c.what;
    }
}

#ifdef __linux__
// A disk that fills up in the middle of a large file (here: a file size limit of 1 MB) fails the
// write with the path named, leaves no partial or temporary file and the earlier file as it was.
TEST(XmlSpreadsheet, FailureInTheMiddleOfALargeWriteKeepsTheEarlierFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("工作.xml"));
    ASSERT_TRUE(writeWorkbook(richWorkbook(), path, FileKind::XmlSpreadsheet).isOk());
    const QByteArray earlier = bytesOf(path);
    const Workbook large = largeRandomWorkbook(20000);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 1 << 20;
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN); // a failed write() instead of a signal
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const Status status = writeWorkbook(large, path, FileKind::XmlSpreadsheet);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);

    EXPECT_FALSE(status.isOk());
    EXPECT_TRUE(status.message().contains(QStringLiteral("工作.xml"))) << status.message().toStdString();
    EXPECT_FALSE(status.message().contains(QStringLiteral("Unknown error")))
        << status.message().toStdString();
    EXPECT_EQ(bytesOf(path), earlier);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("工作.xml")});
}
#endif

// ---------------------------------------------------------------------------------------------
// Text plumbing

// Whole numbers take a shortcut past the general shortest-text conversion; both must agree:
// positional digits from 1e-6 up to below 1e21 (1000000, never 1e+06), the shorter form beyond.
TEST(TextIO, ShortestNumberTextMatchesTheGeneralConversion) {
    const double numbers[] = {0,
                              -0.0,
                              1,
                              -1,
                              9,
                              10,
                              99999,
                              100000,
                              -100000,
                              123456,
                              1000000,
                              1230000,
                              12000000,
                              -12300000,
                              1e14,
                              1e15,
                              -1e15,
                              999999999999999.0,
                              123456789012345.0,
                              1e16,
                              9007199254740993.0,
                              0.5,
                              -2.5e-7,
                              1e21,
                              5e-324,
                              1e300};
    for (double v : numbers) {
        char expected[32], actual[32];
        const bool positional = std::fabs(v) >= 1e-6 && std::fabs(v) < 1e21;
        const auto end =
            positional ? std::to_chars(expected, expected + sizeof expected, v, std::chars_format::fixed).ptr
                       : std::to_chars(expected, expected + sizeof expected, v).ptr;
        EXPECT_EQ(shortestNumberText(v, actual), std::string_view(expected, size_t(end - expected))) << v;
    }

    // Amounts with a few decimals take a shorter road: it must give the same digits as the
    // general search, at every scale, near 2^39 where that road ends, and for values that are
    // one double away from a short decimal.
    std::mt19937_64 random(20261208);
    int mismatches = 0;
    for (int i = 0; i < 400000 && mismatches < 10; ++i) {
        double v = 0;
        switch (i % 6) {
        case 5: // below 1: 0.05, 0.0012
            v = double(int64_t(random() % 10000)) / std::pow(10.0, double(1 + random() % 4));
            break;
        case 0: // m / 10^k
            v = double(int64_t(random() % 1000000000000ull)) / std::pow(10.0, double(random() % 7));
            break;
        case 1: // near 2^39
            v = (549755813888.0 + double(int64_t(random() % 2000000) - 1000000) / 8192.0);
            break;
        case 2: { // a short decimal moved by one or two doubles
            const double d = double(int64_t(random() % 100000000)) / 100.0;
            v = std::nextafter(d, random() % 2 ? 1e300 : -1e300);
            if (random() % 2) v = std::nextafter(v, 1e300);
            break;
        }
        case 3: // any double in the positional range
            v = std::ldexp(double(random() >> 11) / 9007199254740992.0 + 0.5, int(random() % 60) - 19);
            break;
        default: // sums that are not what they look like
            v = double(random() % 1000) / 10.0 + double(random() % 1000) / 100.0;
        }
        if (random() % 2) v = -v;
        if (std::fabs(v) < 1e-6) continue;
        char expected[32], actual[32];
        const auto end = std::to_chars(expected, expected + sizeof expected, v, std::chars_format::fixed).ptr;
        if (shortestNumberText(v, actual) != std::string_view(expected, size_t(end - expected))) {
            ++mismatches;
            ADD_FAILURE() << std::string(expected, end) << " written as " << shortestNumberText(v, actual);
        }
    }
}

// Long texts are converted in pieces; a surrogate pair on a piece boundary stays one character,
// and the piecewise and one-go conversions agree in every escape mode.
TEST(TextIO, LongTextsConvertAsOneWhateverTheirLength) {
    for (int before : {679, 680, 681, 682, 683, 1363, 1364, 1365}) {
        std::u16string text(size_t(before), u'a');
        text += u"\U0001F600&\"\t\n\x01\xD800";
        text += std::u16string(700, u'中');
        const QStringView view(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()));
        for (TextEscape escape :
             {TextEscape::None, TextEscape::XmlText, TextEscape::XmlAttribute, TextEscape::Json}) {
            std::string appended;
            appendUtf8(appended, view, escape);
            std::string written(text.size() * kUtf8BytesPerUnit, '\0');
            written.resize(
                size_t(writeUtf8(written.data(), text.data(), text.size(), escape) - written.data()));
            EXPECT_EQ(appended, written) << before << " " << int(escape);
            EXPECT_NE(appended.find("\xF0\x9F\x98\x80"), std::string::npos) << before << " " << int(escape);
            EXPECT_EQ(appended.find("\xEF\xBF\xBD\xEF\xBF\xBD"), std::string::npos)
                << before; // no split pair
        }
    }
}

// ---------------------------------------------------------------------------------------------
// CSV

TEST(Csv, TypedTextRule) {
    const std::pair<const char*, double> numbers[] = {{"3", 3},
                                                      {"-2.5", -2.5},
                                                      {"0", 0},
                                                      {"0.5", 0.5},
                                                      {"3.000000", 3},
                                                      {"100000000000", 1e11},
                                                      {"123456789.012345", 123456789.012345},
                                                      {"0.000000000000001", 1e-15}};
    for (auto [text, value] : numbers) {
        double v = -1;
        EXPECT_TRUE(typedTextToNumber(QString::fromUtf8(text), v)) << text;
        EXPECT_EQ(v, value) << text;
    }
    for (const char* text :
         {"007", "1,234", "+3", ".5", "1e5", "3.", "-0", "-0.00", "", "-", " 3", "3 ", "1.2.3",
          "100000000000.5", "1234567890123456", "0.1234567890123456", "１２", "NaN", "0x1F"}) {
        double v;
        EXPECT_FALSE(typedTextToNumber(QString::fromUtf8(text), v)) << text;
    }
}

TEST(Csv, ParsesQuotingLineEndsAndBom) {
    struct Case {
        QByteArray csv;
        const char* expected; // cells as "A1=N:3", rows separated by "|"
    } cases[] = {
        {"a,3,-2.5\r\n007,\"1,234\",x\r\n", "A1=S:a B1=N:3 C1=N:-2.5|A2=S:007 B2=S:1,234 C2=S:x"},
        {"\xEF\xBB\xBF名称,数量\n苹果,12\n", "A1=S:名称 B1=S:数量|A2=S:苹果 B2=N:12"},
        {"\"say \"\"hi\"\"\",\"two\r\nlines\",\"\"\r", "A1=S:say \"hi\" B1=S:two\nlines"},
        {"a\r\rb,,c", "A1=S:a||A3=S:b C3=S:c"},
        {"\"3\",\"x\"y,  ", "A1=N:3 B1=S:xy C1=S:  "},
        {"last,line", "A1=S:last B1=S:line"},
    };
    for (const Case& c : cases) {
        Workbook book;
        ASSERT_TRUE(CsvFormat::parse(c.csv, QStringLiteral("t"), book).isOk()) << c.csv.constData();
        QStringList rows;
        int next = 0;
        for (const SheetRow& row : book.sheets[0].rows) {
            for (; next < row.index; ++next)
                rows << QString();
            QStringList cells;
            for (const Cell& cell : row.cells)
                cells << columnAddress(int(cell.column) + 1, row.index + 1) + u'=' + valueText(cell.value);
            rows << cells.join(u' ');
            ++next;
        }
        EXPECT_EQ(rows.join(u'|').toStdString(), c.expected) << c.csv.constData();
    }

    Workbook book;
    const Status open = CsvFormat::parse("a,\"never closed\nb,c\n", QStringLiteral("t"), book);
    EXPECT_FALSE(open.isOk());
    EXPECT_TRUE(open.message().contains(QStringLiteral("第 1 行"))) << open.message().toStdString();
    EXPECT_FALSE(CsvFormat::parse(QByteArray(16385, ',') + "x", QStringLiteral("t"), book).isOk());

    QStringEncoder gbk("GB18030");
    if (gbk.isValid()) { // Chinese Windows saves CSV in GB18030
        ASSERT_TRUE(
            CsvFormat::parse(gbk(QStringLiteral("姓名,年龄\n张三,30\n")), QStringLiteral("t"), book).isOk());
        EXPECT_EQ(book.sheets[0].cell(1, 0)->value.text().toQString(), QStringLiteral("张三"));
        EXPECT_EQ(book.sheets[0].cell(1, 1)->value.number(), 30);
    }
}

TEST(Csv, WritesTheActiveSheetAsQuotedUtf8WithBom) {
    QTemporaryDir dir;
    Workbook book = Workbook::makeDefault();
    book.activeSheet = 1;
    Sheet& s = book.sheets[1];
    s.cellAt(0, 0).value = CellValue::fromString(u"名称");
    s.cellAt(0, 2).value = CellValue::fromString(u"a,\"b\"\nc");
    s.cellAt(2, 1).value = CellValue::fromNumber(3);
    s.cellAt(2, 2).value = CellValue::fromBoolean(true);
    const QString path = dir.filePath(QStringLiteral("销售 [2024].csv"));
    ASSERT_TRUE(writeWorkbook(book, path, fileKindForPath(path)).isOk());
    EXPECT_EQ(bytesOf(path), QByteArray("\xEF\xBB\xBF"
                                        "名称,,\"a,\"\"b\"\"\nc\"\r\n"
                                        ",,\r\n"
                                        ",3,-1\r\n")); // numbers in their shortest form
    Workbook back;
    ASSERT_TRUE(readWorkbook(path, back).isOk());
    EXPECT_EQ(back.sheets[0].name, QStringLiteral("销售 _2024_"));
    EXPECT_EQ(valueText(back.sheets[0].cell(0, 2)->value), QStringLiteral("S:a,\"b\"\nc"));
    EXPECT_EQ(valueText(back.sheets[0].cell(2, 1)->value), QStringLiteral("N:3"));
}

// ---------------------------------------------------------------------------------------------
// JSON and the registry

TEST(Json, TablesAsTheCommandLineWritesThem) {
    QTemporaryDir dir;
    RowTable table(2);
    table[0].resize(3);
    table[0][0].text = SharedText(u"名\"称\"\\\n\x01");
    table[0][0].fillColorIndex = 2;
    test::makeAnchor(table[0][0], 2, 2);
    table[0][1].text = SharedText(u"ignored");
    table[0][1].fillColorIndex = 3;
    table[0][1].mergeState = MergeState::Covered;
    table[0][2].text = SharedText(u"3.000000");
    table[0][2].fillColorIndex = 20;
    table[0][2].mergeState = MergeState::TextOnly;
    table[1].resize(1);
    table[1][0].fillColorIndex = 6;
    table[1][0].mergeState = MergeState::Single;
    const RowTable empty;
    const QString path = dir.filePath(QStringLiteral("r.json"));
    ASSERT_TRUE(writeJsonTables({{QStringLiteral("对比结果"), &table},
                                 {QStringLiteral("Sheet2"), nullptr},
                                 {QStringLiteral("Sheet3"), &empty}},
                                path)
                    .isOk());
    EXPECT_EQ(
        QString::fromUtf8(bytesOf(path)).toStdString(),
        QStringLiteral(
            "{\"sheets\": [\n"
            "{\"name\": \"对比结果\", \"rows\": [\n"
            "[{\"text\": \"名\\\"称\\\"\\\\\\n\\u0001\", \"fill\": 2, \"merge\": \"anchor\", \"rows\": 2, "
            "\"cols\": 2}, {\"text\": \"\", \"fill\": 0, \"merge\": \"covered\"}, "
            "{\"text\": \"3.000000\", \"value\": 3, \"fill\": 20, \"merge\": \"text-only\"}],\n"
            "[{\"text\": \"\", \"fill\": 6, \"merge\": \"single\"}]\n"
            "]},\n"
            "{\"name\": \"Sheet2\", \"rows\": []},\n"
            "{\"name\": \"Sheet3\", \"rows\": []}\n"
            "]}\n")
            .toStdString());
}

TEST(Json, WorkbookSheetsAsTheOperationsReadThem) {
    QTemporaryDir dir;
    Workbook book = Workbook::makeDefault();
    Sheet& s = book.sheets[0];
    s.cellAt(1, 1).value = CellValue::fromString(u"a");
    s.cellAt(1, 3).value = CellValue::fromNumber(3);
    s.merges.push_back({1, 1, 2, 2});
    s.cellAt(2, 3).value = CellValue::fromString(u"b");
    const QString path = dir.filePath(QStringLiteral("w.JSON"));
    ASSERT_EQ(fileKindForPath(path), FileKind::Json);
    ASSERT_TRUE(writeWorkbook(book, path, FileKind::Json).isOk());
    const QString json = QString::fromUtf8(bytesOf(path));
    EXPECT_TRUE(json.contains(
        QStringLiteral("[{\"text\": \"a\", \"fill\": 2, \"merge\": \"anchor\", \"rows\": 2, \"cols\": 2}, "
                       "{\"text\": \"\", \"fill\": 0, \"merge\": \"covered\"}, {\"text\": \"3.000000\", "
                       "\"value\": 3, \"fill\": 2, \"merge\": \"single\"}],\n"
                       "[{\"text\": \"\", \"fill\": 0, \"merge\": \"covered\"}, {\"text\": \"\", \"fill\": "
                       "0, \"merge\": \"covered\"}, "
                       "{\"text\": \"b\", \"fill\": 2, \"merge\": \"single\"}]\n]}")))
        << json.toStdString();
    EXPECT_TRUE(json.contains(QStringLiteral("{\"name\": \"Sheet2\", \"rows\": []}")));
    Workbook back;
    EXPECT_FALSE(readWorkbook(path, back).isOk());
}

TEST(Formats, KindsByExtensionAndByContent) {
    const std::pair<const char*, FileKind> kinds[] = {{"a.xml", FileKind::XmlSpreadsheet},
                                                      {"B.XLSX", FileKind::Xlsx},
                                                      {"c.xlsm", FileKind::Xlsx},
                                                      {"d.Xls", FileKind::Xls},
                                                      {"e.csv", FileKind::Csv},
                                                      {"f.json", FileKind::Json},
                                                      {"g.txt", FileKind::Unknown},
                                                      {"noext", FileKind::Unknown}};
    for (auto [path, kind] : kinds)
        EXPECT_EQ(fileKindForPath(QString::fromUtf8(path)), kind) << path;

    // A working file saved under another name still opens by its content.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("really-xml.csv"));
    ASSERT_TRUE(writeWorkbook(richWorkbook(), path, FileKind::XmlSpreadsheet).isOk());
    Workbook book;
    ASSERT_TRUE(readWorkbook(path, book).isOk());
    EXPECT_EQ(book.sheets.size(), 3u);
}
