// Clipping a selection to the filled part of a sheet, reading it into a table, and writing
// a result table back into a sheet.

#include "base/CellOps.h"
#include "base/ParallelRows.h"
#include "tests/TestSupport.h"
#include "workbook/RangeReader.h"
#include "workbook/RangeText.h"
#include "workbook/TableWriter.h"

#include <gtest/gtest.h>

#include <random>

using namespace quellar;

namespace {

// A sheet from rows of texts placed at (firstRow, firstColumn), 0-based; "" leaves no cell.
Sheet makeSheet(const std::vector<QStringList>& rows, int firstRow = 0, int firstColumn = 0) {
    Sheet sheet;
    sheet.name = QStringLiteral("S");
    for (size_t r = 0; r < rows.size(); ++r)
        for (qsizetype c = 0; c < rows[r].size(); ++c)
            if (!rows[r][c].isEmpty())
                sheet.cellAt(firstRow + int(r), firstColumn + int(c)).value =
                    CellValue::fromString(SharedText(rows[r][c]));
    return sheet;
}

RangeBounds bounds(int firstColumn, int firstRow, int lastColumn, int lastRow) {
    return RangeBounds{firstColumn, firstRow, lastColumn, lastRow};
}

} // namespace

TEST(ClipSourceRange, TrimsSelectionsReachingPastTheFilledPart) {
    // Filled part B3:D10 (a table that does not start at A1), with a blank-text cell at E12.
    Sheet sheet = makeSheet({{"a", "b", "c"}, {"1", "2", "3"}}, 2, 1);
    for (int r = 4; r < 10; ++r)
        sheet.cellAt(r, 1).value = CellValue::fromNumber(r);
    sheet.cellAt(11, 4).value = CellValue::fromString(SharedText(QStringLiteral("   ")));

    // Whole columns: clipped to the last row and column holding text; nothing of B3:D10 is cut.
    EXPECT_EQ(clipSourceRange(sheet, bounds(2, 1, 4, kMaxRows)), bounds(2, 1, 4, 10));
    EXPECT_EQ(clipSourceRange(sheet, bounds(1, 1, kMaxColumns, kMaxRows)), bounds(1, 1, 4, 10));
    EXPECT_EQ(clipSourceRange(sheet, clipUsedRange(sheet)), bounds(2, 3, 4, 10));
    // A selection ending above the used range's end is read as selected, blanks included.
    EXPECT_EQ(clipSourceRange(sheet, bounds(2, 3, 3, 6)), bounds(2, 3, 3, 6));
    // Past the filled part with no text at all: its first cell.
    EXPECT_EQ(clipSourceRange(sheet, bounds(6, 11, 9, 40)), bounds(6, 11, 6, 11));
    // A sheet without cells gives a single cell.
    EXPECT_EQ(clipSourceRange(Sheet(), bounds(3, 5, 10, 20)), bounds(3, 5, 3, 5));
    EXPECT_EQ(clipUsedRange(Sheet()), bounds(1, 1, 1, 1));
}

TEST(ReadRange, MergedAreasBecomeAnchorAndCoveredCells) {
    Workbook book;
    Sheet sheet = makeSheet({{"m", "", "x"}, {"", "", "y"}, {"p", "q", "r"}});
    sheet.merges.push_back(CellRange{0, 0, 1, 1});
    sheet.columnWidths[0] = 80;
    sheet.rowAt(1).height = 30;
    NullProgress progress;
    const RowTable table = readRange(book, sheet, bounds(1, 1, 3, 3), progress, 1);
    EXPECT_EQ(test::tableText(table), "m:2[2x2] ~ x:2\n~ ~ y:2\np:2 q:2 r:2");
    EXPECT_EQ(table[0][0].columnWidth, 80);
    EXPECT_EQ(table[1][0].columnWidth, 0); // widths only in row 0
    EXPECT_EQ(table[1][2].rowHeight, 0);   // heights only in cell 0 of a row
    EXPECT_EQ(table[2][0].rowHeight, 13.5f);
    EXPECT_EQ(table[2][1].fontName().toQString(), QString::fromUtf16(u"宋体"));
    EXPECT_EQ(table[2][1].numberFormat().toQString(), "General");
}

TEST(ReadRange, ValuesAsTextAndProgressEveryStep) {
    Workbook book;
    Sheet sheet;
    sheet.cellAt(0, 0).value = CellValue::fromNumber(3);
    sheet.cellAt(0, 1).value = CellValue::fromBoolean(true);
    sheet.cellAt(0, 2).value = CellValue::fromString(SharedText(QStringLiteral(" t ")));
    sheet.cellAt(0, 2).formula = SharedText(QStringLiteral("=A1&\"\""));
    for (int r = 1; r < 7; ++r)
        sheet.cellAt(r, 0).value = CellValue::fromNumber(r);
    test::RecordingProgress progress;
    const RowTable table = readRange(book, sheet, bounds(1, 1, 3, 7), progress, 3);
    EXPECT_EQ(test::tableTexts(table).section(u'\n', 0, 0), "3.000000 -1 t");
    EXPECT_EQ(table[0][2].formula.toQString(), "=A1&\"\"");
    // Advanced by the step before rows 0, 3 and 6.
    EXPECT_EQ(progress.positions, (std::vector<int64_t>{3, 6, 9}));
}

TEST(ReadRange, TakingTheRangeGivesTheSameTableAndEmptiesItsRows) {
    Workbook book;
    Sheet sheet = makeSheet({{"m", "", "x"}, {"", "", "y"}, {"p", "q", "r"}, {"s", "t", "u"}});
    sheet.cellAt(2, 0).formula = SharedText(QStringLiteral("=B3"));
    sheet.merges.push_back(CellRange{0, 0, 1, 1});
    sheet.columnWidths[2] = 70;
    sheet.rowAt(1).height = 30;
    NullProgress progress;
    const RowTable read = readRange(book, sheet, bounds(1, 2, 3, 3), progress, 1);
    const RowTable taken = takeRange(book, sheet, bounds(1, 2, 3, 3), progress, 1);
    EXPECT_EQ(test::tableText(taken), test::tableText(read));
    EXPECT_EQ(taken[1][0].formula.toQString(), "=B3");
    EXPECT_EQ(taken[0][2].columnWidth, 70);
    EXPECT_EQ(taken[0][0].rowHeight, 30);
    // Rows 2 and 3 were read and emptied; rows 1 and 4 and the sheet's layout stay.
    EXPECT_TRUE(sheet.row(1)->cells.empty());
    EXPECT_TRUE(sheet.row(2)->cells.empty());
    EXPECT_EQ(sheet.rowHeight(1), 30);
    EXPECT_EQ(sheet.cell(0, 0)->value.text().toQString(), "m");
    EXPECT_EQ(sheet.cell(3, 2)->value.text().toQString(), "u");
    EXPECT_EQ(sheet.merges.size(), 1u);
}

TEST(WriteTableToSheet, WritesWhatEachMergeStateCarries) {
    Workbook book = Workbook::makeDefault();
    book.sheets[0].cellAt(50, 50).value = CellValue::fromNumber(1); // cleared by the write
    RowTable table = test::makeTable({{"007", "15.500000", "-3", "123456789012"}, {"1,234", "x", "", "1e5"}});
    table[0][0].rowHeight = 20;
    table[0][1].columnWidth = 70;
    table[1][0].rowHeight = 0; // carries none: must not hide the row
    test::makeAnchor(table[1][1], 2, 2);
    table[1][2].mergeState = MergeState::Covered;
    table[0][3].mergeState = MergeState::TextOnly;
    table[0][3].fillColorIndex = Fill::LightTurquoise;
    table[0][3].columnWidth = 99; // TextOnly sets no width
    test::RecordingProgress progress;
    ASSERT_TRUE(writeTableToSheet(book, 1, QString::fromUtf16(u"对比结果"), table, progress, 1).isOk());

    const Sheet& sheet = book.sheets[0];
    EXPECT_EQ(sheet.name, QString::fromUtf16(u"对比结果"));
    EXPECT_EQ(sheet.cell(50, 50), nullptr);
    EXPECT_EQ(sheet.cell(0, 0)->value.type(), CellValue::Type::String); // 007 keeps its zeros
    EXPECT_EQ(sheet.cell(0, 1)->value.type(), CellValue::Type::Number);
    EXPECT_EQ(sheet.cell(0, 1)->value.number(), 15.5);
    EXPECT_EQ(sheet.cell(0, 2)->value.number(), -3);
    EXPECT_EQ(sheet.cell(0, 3)->value.type(), CellValue::Type::String); // twelve digits stay text, unchanged
    EXPECT_EQ(sheet.cell(0, 3)->value.text().toQString(), "123456789012");
    EXPECT_EQ(sheet.cell(1, 0)->value.text().toQString(), "1,234");
    EXPECT_EQ(sheet.cell(1, 2), nullptr); // covered: not written
    EXPECT_EQ(sheet.merges, (std::vector<CellRange>{CellRange{1, 1, 2, 2}}));
    EXPECT_EQ(sheet.rowHeight(0), 20);
    EXPECT_EQ(sheet.rowHeight(1), sheet.defaultRowHeight);
    EXPECT_EQ(sheet.columnWidths.count(1), 1u);
    EXPECT_EQ(sheet.columnWidths.count(3), 0u);
    const Style& turquoise = book.styles[sheet.cell(0, 3)->style];
    EXPECT_TRUE(turquoise.hasFill);
    EXPECT_EQ(turquoise.fillPalette, Fill::LightTurquoise);
    EXPECT_FALSE(book.styles[sheet.cell(0, 0)->style].hasFill); // white is no fill
    EXPECT_EQ(progress.positions, (std::vector<int64_t>{1, 2}));

    // Sheet k beyond the workbook's sheets is added.
    ASSERT_TRUE(writeTableToSheet(book, 5, "e", table, progress, 1).isOk());
    ASSERT_EQ(book.sheets.size(), 5u);
    EXPECT_EQ(book.sheets[3].name, "Sheet4");
    EXPECT_EQ(book.sheets[4].name, "e");
}

// Random result tables with every merge state, fills, alignments, fonts, heights, widths,
// dates, numbers and texts: the sheet and the workbook's styles are the same whether the rows
// are built on one core or split between two, and whether the table is kept or given up.
TEST(WriteTableToSheet, OneCoreOrTwoBuildTheSameSheet) {
    const QStringList values{"",
                             "007",
                             "15.500000",
                             "-3",
                             "0.30000000000000004",
                             "10000000",
                             "2015/1/1",
                             "2026/12/7 9:05:07",
                             "2015/2/30",
                             QString(40, QChar(0x6587)),
                             "-0",
                             "1e-7",
                             "123456789012345",
                             "1234567890123456",
                             "ｘ"};
    const int8_t fills[] = {0, Fill::White, Fill::Red, Fill::BrightGreen, Fill::LightTurquoise};
    const int16_t aligns[] = {0, Align::Left, Align::Center, Align::Right};
    std::mt19937 random(20261208);
    for (int round = 0; round < 40; ++round) {
        const int rows = 1 + int(random() % 60);
        const int columns = 1 + int(random() % 8);
        RowTable table = RowTable(size_t(rows), Row(size_t(columns)));
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                CellRecord& record = table[size_t(r)][size_t(c)];
                if (record.mergeState == MergeState::Covered && record.mergeRows < 0)
                    continue; // inside a block
                record.mergeState = random() % 7 == 0 ? MergeState::TextOnly : MergeState::Single;
                record.text = SharedText(values[qsizetype(random() % uint32_t(values.size()))]);
                record.fillColorIndex = fills[random() % 5];
                record.alignment1 = aligns[random() % 4];
                record.alignment2 = random() % 3 == 0 ? Align::Top : 0;
                if (random() % 4 == 0) record.setFontSize(9 + int(random() % 3));
                if (random() % 5 == 0) record.setColorValue(0xFF0000);
                if (c == 0 && random() % 3 == 0) record.rowHeight = float(12 + random() % 20);
                if (r == 0 && random() % 2 == 0) record.columnWidth = float(40 + random() % 60);
                if (random() % 11 == 0 && r + 1 < rows && c + 1 < columns) {
                    test::makeAnchor(record, 2, 2);
                    for (int dr = 0; dr < 2; ++dr)
                        for (int dc = 0; dc < 2; ++dc)
                            if (dr || dc) {
                                CellRecord& covered = table[size_t(r + dr)][size_t(c + dc)];
                                covered = CellRecord();
                                covered.mergeRows = -1; // marks it as taken by this block
                            }
                }
            }
        }
        for (Row& row : table)
            for (CellRecord& record : row)
                if (record.mergeRows < 0) record.mergeRows = 0;
        if (round % 4 == 0) table[size_t(random() % uint32_t(rows))].clear(); // a row with no cells

        auto build = [&](bool twoCores, bool giveUp, test::RecordingProgress& progress) {
            setParallelRowFloor(twoCores ? 1 : kParallelRowsOff);
            Workbook book = Workbook::makeDefault();
            Style earlier;
            earlier.hasFill = true;
            earlier.fillPalette = Fill::Red;
            earlier.fillRgb = paletteColor(Fill::Red);
            book.internStyle(earlier); // a style the workbook holds already
            const int64_t step = 1 + int64_t(random() % 5);
            const Status status = giveUp ? writeTableToSheet(book, 1, "r", RowTable(table), progress, step)
                                         : writeTableToSheet(book, 1, "r", table, progress, step);
            EXPECT_TRUE(status.isOk()) << status.message().toStdString();
            setParallelRowFloor(kParallelRowsOff);
            return std::pair{std::move(book), step};
        };
        test::RecordingProgress oneProgress, twoProgress;
        const std::mt19937 saved = random;
        auto [one, oneStep] = build(false, false, oneProgress);
        random = saved;
        auto [two, twoStep] = build(true, round % 2 == 1, twoProgress);
        ASSERT_EQ(oneStep, twoStep);
        EXPECT_EQ(oneProgress.position(), twoProgress.position()) << "round " << round;
        EXPECT_EQ(one.styles, two.styles) << "round " << round;
        const Sheet& a = one.sheets[0];
        const Sheet& b = two.sheets[0];
        EXPECT_EQ(a.merges, b.merges) << "round " << round;
        EXPECT_EQ(a.columnWidths, b.columnWidths) << "round " << round;
        ASSERT_EQ(a.rows.size(), b.rows.size()) << "round " << round;
        for (size_t r = 0; r < a.rows.size(); ++r) {
            ASSERT_EQ(a.rows[r].index, b.rows[r].index);
            EXPECT_EQ(a.rows[r].height, b.rows[r].height);
            ASSERT_EQ(a.rows[r].cells.size(), b.rows[r].cells.size());
            for (size_t c = 0; c < a.rows[r].cells.size(); ++c) {
                const Cell& x = a.rows[r].cells[c];
                const Cell& y = b.rows[r].cells[c];
                EXPECT_EQ(x.column, y.column);
                EXPECT_EQ(x.style, y.style) << "round " << round << " row " << r << " cell " << c;
                EXPECT_EQ(x.value.type(), y.value.type());
                EXPECT_EQ(x.value.text().toQString(), y.value.text().toQString());
                EXPECT_EQ(x.value.number(), y.value.number());
            }
        }
    }

    // A row too wide for a sheet is named the same way, whichever core met it.
    RowTable wide(6, Row(2));
    for (Row& row : wide)
        for (CellRecord& record : row)
            record.mergeState = MergeState::Single;
    wide[4].resize(size_t(kMaxColumns) + 1);
    for (bool twoCores : {false, true}) {
        setParallelRowFloor(twoCores ? 1 : kParallelRowsOff);
        Workbook book = Workbook::makeDefault();
        test::RecordingProgress progress;
        const Status status = writeTableToSheet(book, 1, "r", wide, progress, 1);
        setParallelRowFloor(kParallelRowsOff);
        EXPECT_FALSE(status.isOk());
        EXPECT_TRUE(status.message().contains(QStringLiteral("结果第 5 行有 16385 列")))
            << status.message().toStdString();
    }
}

TEST(RangeText, ExportTargetsAndAddresses) {
    EXPECT_EQ(rangeAddress(RangeBounds{1, 1, 4, 20}), QStringLiteral("A1:D20"));
    EXPECT_EQ(rangeAddress(RangeBounds{27, 10, 27, 10}), QStringLiteral("AA10")); // one cell: no ":"
    // Enter in a range box also takes a single cell, inside the grid only.
    RangeBounds b;
    EXPECT_TRUE(typedCellOrRange(QStringLiteral("b3"), b));
    EXPECT_EQ(b, (RangeBounds{2, 3, 2, 3}));
    EXPECT_TRUE(typedCellOrRange(QStringLiteral("XFD1048576"), b));
    EXPECT_EQ(b, (RangeBounds{16384, 1048576, 16384, 1048576}));
    EXPECT_EQ(rangeAddress(b), QStringLiteral("XFD1048576"));
    EXPECT_TRUE(typedCellOrRange(QStringLiteral("C10:A1"), b));
    EXPECT_EQ(b, (RangeBounds{1, 1, 3, 10}));
    for (const char* bad : {"XFE1", "A1048577", "A0", "A", "1A", "A1:", ":A1", "", "A1 "}) {
        b = RangeBounds{9, 9, 9, 9};
        EXPECT_FALSE(typedCellOrRange(QLatin1String(bad), b)) << bad;
        EXPECT_EQ(b, (RangeBounds{9, 9, 9, 9})) << bad;
    }
    RangeBounds typing;
    EXPECT_FALSE(typedRange(QStringLiteral("B3"), typing)); // while typing, only the start of a range
    struct Case {
        const char* chosen;
        bool xlsx;
        const char* path;
        FileKind kind;
    };
    const Case cases[] = {
        {"/t/r.xlsx", false, "/t/r.xlsx", FileKind::Xlsx}, {"/t/R.XLSX", false, "/t/R.XLSX", FileKind::Xlsx},
        {"/t/r.xls", true, "/t/r.xls", FileKind::Xls},     {"/t/r.XLS", false, "/t/r.XLS", FileKind::Xls},
        {"/t/r", false, "/t/r.xls", FileKind::Xls},        {"/t/r", true, "/t/r.xlsx", FileKind::Xlsx},
        {"/t.d/r", false, "/t.d/r.xls", FileKind::Xls},    {"/t/r.v2", true, "/t/r.v2.xlsx", FileKind::Xlsx},
    };
    for (const Case& c : cases) {
        const ExportTarget t = exportTarget(QLatin1String(c.chosen), c.xlsx);
        EXPECT_EQ(t.path, QLatin1String(c.path)) << c.chosen;
        EXPECT_EQ(t.kind, c.kind) << c.chosen;
    }
}

TEST(ParseRangeText, AddressesWithinTheGrid) {
    RangeBounds b;
    ASSERT_TRUE(parseRangeText(u"a1:d20", b));
    EXPECT_EQ(b, bounds(1, 1, 4, 20));
    ASSERT_TRUE(parseRangeText(u"D20:A1", b));
    EXPECT_EQ(b, bounds(1, 1, 4, 20));
    ASSERT_TRUE(parseRangeText(u"$B$3", b));
    EXPECT_EQ(b, bounds(2, 3, 2, 3));
    ASSERT_TRUE(parseRangeText(u"XFD1048576", b));
    for (const char16_t* bad : {u"", u"A", u"A0", u"XFE1", u"A1048577", u"A1:", u"1:2", u"A1:B2:C3", u"A-1"})
        EXPECT_FALSE(parseRangeText(bad, b)) << QString::fromUtf16(bad).toStdString();
}

TEST(ReadRange, RangesTooLargeToHoldAreRefused) {
    // A stray cell at the far corner stretches the used range over the whole grid.
    Workbook book;
    Sheet sheet;
    sheet.cellAt(0, 0).value = CellValue::fromNumber(1);
    sheet.cellAt(kMaxRows - 1, kMaxColumns - 1).value = CellValue::fromNumber(2);
    const RangeBounds whole = clipUsedRange(sheet);
    EXPECT_EQ(whole, bounds(1, 1, kMaxColumns, kMaxRows));
    const Status refused = checkReadableRange(whole);
    ASSERT_FALSE(refused.isOk());
    EXPECT_TRUE(refused.message().contains("A1:XFD1048576")) << refused.message().toStdString();
    NullProgress progress;
    EXPECT_TRUE(readRange(book, sheet, whole, progress, 1).empty());
    EXPECT_TRUE(checkReadableRange(bounds(1, 1, 10, 1048576)).isOk());
}

namespace {

// Every field of every record, for comparing whole tables.
std::string recordsOf(const RowTable& table) {
    std::string out;
    for (const Row& row : table) {
        for (const CellRecord& r : row)
            out += r.text.toUtf8() + '|' + r.formula.toUtf8() + '|' + std::to_string(r.columnWidth) + '|' +
                   std::to_string(r.rowHeight) + '|' + std::to_string(r.styleId) + '|' +
                   std::to_string(r.fillColorIndex) + '|' + std::to_string(r.alignment1) + '|' +
                   std::to_string(r.alignment2) + '|' + std::to_string(int(r.mergeState)) + '|' +
                   std::to_string(r.mergeRows) + '|' + std::to_string(r.mergeColumns) + ';';
        out += '\n';
    }
    return out;
}

// The table a stream makes when handed the sheet's rows in order, beside the table taken from
// the sheet's clipped used range.
void expectStreamedAsTaken(Sheet sheet, const Workbook& book) {
    Sheet streamed = sheet;
    UsedRangeStream stream;
    stream.start(book);
    for (SheetRow& row : streamed.rows)
        ASSERT_TRUE(stream.takeRow(row));
    NullProgress progress;
    const RangeBounds expected = clipUsedRange(sheet);
    ASSERT_EQ(stream.bounds(streamed), expected);
    const RowTable taken = takeRange(book, sheet, expected, progress, 1);
    EXPECT_EQ(recordsOf(stream.take(streamed, expected, progress, 1)), recordsOf(taken));
}

} // namespace

TEST(UsedRangeStream, MakesTheTableOfTheClippedUsedRange) {
    Workbook book;
    Style bold;
    bold.bold = true;
    bold.horizontal = HAlign::Center;
    const uint32_t styled = book.internStyle(bold);

    // A table from C3 with gaps, a formula, widths and heights, trailing cells that hold no
    // text (blanks, a styled empty cell) and a text of ideographic spaces, which counts as text.
    Sheet sheet = makeSheet({{"编号", "", "金额"}, {"1", "张三", ""}, {}, {"3", "", "  "}}, 2, 2);
    sheet.cellAt(3, 4).value = CellValue::fromNumber(12.5);
    sheet.cellAt(3, 4).formula = SharedText(QStringLiteral("=1+11.5"));
    sheet.cellAt(6, 6).style = styled;
    sheet.cellAt(7, 2).value = CellValue::fromString(SharedText(QStringLiteral(" \t")));
    sheet.cellAt(5, 8).value = CellValue::fromString(SharedText(QStringLiteral("\u3000")));
    sheet.columnWidths[3] = 80;
    sheet.rowAt(4).height = 25;
    sheet.rowAt(9).hidden = true;
    expectStreamedAsTaken(sheet, book);

    // Merged areas reaching above and left of the first cell, and one covering cells with text.
    Sheet merged = sheet;
    merged.merges.push_back(CellRange{0, 1, 3, 2});
    merged.merges.push_back(CellRange{3, 2, 4, 4});
    expectStreamedAsTaken(merged, book);

    // No cells at all, and only a merged area.
    expectStreamedAsTaken(Sheet(), book);
    Sheet onlyMerge;
    onlyMerge.merges.push_back(CellRange{4, 4, 5, 6});
    expectStreamedAsTaken(onlyMerge, book);
}

TEST(UsedRangeStream, RefusesRowsOutOfOrder) {
    Workbook book;
    Sheet sheet = makeSheet({{"a", "b"}, {"c", "d"}});
    UsedRangeStream stream;
    stream.start(book);
    ASSERT_TRUE(stream.takeRow(sheet.rows[1]));
    EXPECT_FALSE(stream.takeRow(sheet.rows[0]));

    SheetRow repeated;
    repeated.index = 5;
    repeated.cells.resize(2);
    repeated.cells[0].column = 3;
    repeated.cells[1].column = 3;
    UsedRangeStream other;
    other.start(book);
    EXPECT_FALSE(other.takeRow(repeated));
}
