// Cells packed while a pane does not show them and given back: every kind of value at its
// edges comes back bit for bit, with its column, style and formula, in the rows it came from;
// the texts are the same stored texts (not copies), and dropping the packed cells gives the
// texts' storage back.

#include "workbook/PackedCells.h"

#include "tests/NumberEdges.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace quellar {
namespace {

uint64_t bitsOf(double n) {
    uint64_t bits;
    std::memcpy(&bits, &n, 8);
    return bits;
}

// Every value kind at its edges, one per cell, in rows of `perRow` cells at columns with
// gaps, with styles that change and repeat, some cells with formulas.
Workbook edgeWorkbook(size_t perRow) {
    std::vector<CellValue> values;
    for (double n : test::edgeAmounts()) {
        values.push_back(CellValue::fromNumber(n));
        values.push_back(CellValue::fromNumber(-n));
    }
    for (double n : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
                     std::numeric_limits<double>::max(), 9007199254740992.0, -9007199254740992.0,
                     9007199254740994.0, 10000000.0, 0.0})
        values.push_back(CellValue::fromNumber(n));
    values.push_back(CellValue::fromBoolean(true));
    values.push_back(CellValue::fromBoolean(false));
    values.push_back(CellValue::fromDateTime(45000));        // 2023/3/15
    values.push_back(CellValue::fromDateTime(45000.380625)); // with a time
    values.push_back(CellValue::fromDateTime(0.5));          // a time alone
    values.push_back(CellValue::fromDateTime(1.25));         // a duration past a day
    values.push_back(CellValue::fromError(SharedText(u"#N/A")));
    values.push_back(CellValue::fromError(SharedText(u"#DIV/0!")));
    values.push_back(CellValue::fromString(SharedText()));
    for (const char16_t* text : {u"OK", u"东北", u"技术部", u"K0000001", u"2026/10/22", u"００７１２３４５",
                                 u"１２３，４５６．７８", u"0.30000000000000004", u"-0", u"1e-7"})
        values.push_back(CellValue::fromString(SharedText(text)));
    values.push_back(CellValue::fromString(SharedText(std::u16string_view(std::u16string(5000, u'长')))));
    values.push_back(CellValue());
    values.push_back(CellValue::fromPlaceholder(123456789));

    Workbook book = Workbook::makeDefault();
    size_t next = 0;
    for (size_t s = 0; s < 2; ++s) {
        Sheet& sheet = book.sheets[s];
        for (int32_t r = 0; r < 40; ++r) {
            SheetRow& row = sheet.rowAt(r * 3 + int32_t(s));
            row.height = r % 5 == 0 ? 30.5f : -1;
            row.hidden = r % 7 == 3;
            if (r % 6 == 5) continue; // a row with no cells
            uint16_t column = uint16_t(r % 3);
            for (size_t c = 0; c < perRow; ++c) {
                Cell cell;
                cell.column = column;
                cell.style = uint32_t((c / 3) % 4 == 0 ? 0 : 1000000 + c % 2);
                cell.value = values[next++ % values.size()];
                if ((next % 11) == 0) cell.formula = SharedText(u"=SUM(A1:B2)");
                row.cells.push_back(std::move(cell));
                column = uint16_t(column + (c % 4 == 3 ? 17 : 1));
            }
        }
    }
    book.sheets[0].rowAt(200).cells.push_back(
        Cell{CellValue::fromNumber(1), 16383, 7, {}}); // the last column
    return book;
}

void expectSameCells(const Workbook& a, const Workbook& b) {
    ASSERT_EQ(a.sheets.size(), b.sheets.size());
    for (size_t s = 0; s < a.sheets.size(); ++s) {
        ASSERT_EQ(a.sheets[s].rows.size(), b.sheets[s].rows.size());
        for (size_t r = 0; r < a.sheets[s].rows.size(); ++r) {
            const SheetRow& x = a.sheets[s].rows[r];
            const SheetRow& y = b.sheets[s].rows[r];
            ASSERT_EQ(x.cells.size(), y.cells.size()) << s << '/' << r;
            for (size_t c = 0; c < x.cells.size(); ++c) {
                const Cell& p = x.cells[c];
                const Cell& q = y.cells[c];
                SCOPED_TRACE(testing::Message() << "sheet " << s << " row " << r << " cell " << c);
                EXPECT_EQ(p.column, q.column);
                EXPECT_EQ(p.style, q.style);
                EXPECT_EQ(p.value.type(), q.value.type());
                EXPECT_EQ(bitsOf(p.value.number()), bitsOf(q.value.number())); // -0 and NaN too
                EXPECT_EQ(p.value.placeholder(), q.value.placeholder());
                // The same stored text, not an equal copy.
                EXPECT_TRUE(p.value.text().sharesStorageWith(q.value.text()));
                EXPECT_TRUE(p.formula.sharesStorageWith(q.formula));
            }
        }
    }
}

TEST(PackedCells, GivesEveryValueBackUnchangedInItsRow) {
    const Workbook original = edgeWorkbook(25);
    Workbook book = original;
    const SheetRow* rowsBefore = book.sheets[0].rows.data();
    PackedCells packed;
    packed.pack(book);
    EXPECT_EQ(packed.rows(), book.sheets[0].rows.size() + book.sheets[1].rows.size());
    for (const Sheet& sheet : book.sheets)
        for (const SheetRow& row : sheet.rows) {
            EXPECT_TRUE(row.cells.empty());
            EXPECT_EQ(row.cells.capacity(), 0u); // the cells' storage is given back
        }
    // Rows keep their place, index, height and hidden flag.
    EXPECT_EQ(book.sheets[0].rows.data(), rowsBefore);
    for (size_t r = 0; r < book.sheets[1].rows.size(); ++r) {
        EXPECT_EQ(book.sheets[1].rows[r].index, original.sheets[1].rows[r].index);
        EXPECT_EQ(book.sheets[1].rows[r].height, original.sheets[1].rows[r].height);
        EXPECT_EQ(book.sheets[1].rows[r].hidden, original.sheets[1].rows[r].hidden);
    }
    packed.unpack(book);
    EXPECT_TRUE(packed.empty());
    EXPECT_EQ(packed.bytes(), 0u);
    expectSameCells(original, book);
    for (const SheetRow& row : book.sheets[0].rows)
        EXPECT_EQ(row.cells.capacity(), row.cells.size());
}

TEST(PackedCells, RowsWiderThanABlockAndManyBlocks) {
    // 16384 cells of numbers with fractions: a row needs far more than the typical room; then
    // enough rows for several blocks. A moved pack gives them back too.
    Workbook book = Workbook::makeDefault();
    SheetRow& wide = book.sheets[0].rowAt(0);
    for (uint16_t c = 0; c < 16384; ++c)
        wide.cells.push_back(Cell{CellValue::fromNumber(c + 0.1 * (c % 10)), c, uint32_t(c), {}});
    // Then rows as a list has them: a few short texts over and over in a column (more than a
    // column keeps at hand), amounts with cents and with more decimals than are kept as an integer.
    const char16_t* shortTexts[] = {u"技术部", u"人事部", u"销售部", u"OK", u"进行中", u"东北", u""};
    for (int32_t r = 1; r < 30000; ++r) {
        SheetRow& row = book.sheets[0].rowAt(r);
        for (uint16_t c = 0; c < 3; ++c)
            row.cells.push_back(
                Cell{CellValue::fromString(SharedText(shortTexts[(r * (c + 1)) % 7])), c, 0, {}});
        for (uint16_t c = 3; c < 21; ++c) {
            const double amounts[] = {r * 21.0 + c + 0.25, r / 100.0, -r / 10000.0,
                                      r * 1.00001,         655.63,    1e15 + 0.5};
            row.cells.push_back(Cell{CellValue::fromNumber(amounts[c % 6]), c, uint32_t(c % 3), {}});
        }
    }
    const Workbook original = book;
    PackedCells packed;
    packed.pack(book);
    EXPECT_GT(packed.bytes(), size_t(1) << 20);
    PackedCells moved = std::move(packed);
    EXPECT_TRUE(packed.empty());
    moved.unpack(book);
    expectSameCells(original, book);
}

TEST(PackedCells, DroppedCellsGiveTheirTextsStorageBack) {
    const size_t before = SharedText::arenaStats().chunks;
    Workbook book = Workbook::makeDefault();
    // Texts made on a thread of their own: their chunks are not kept filling by this one.
    std::thread maker([&] {
        for (int32_t r = 0; r < 300000; ++r) {
            SheetRow& row = book.sheets[0].rowAt(r);
            for (uint16_t c = 0; c < 3; ++c)
                row.cells.push_back(
                    Cell{CellValue::fromString(SharedText(QStringLiteral("文字 %1-%2").arg(r).arg(c))), c, 0,
                         c == 2 ? SharedText(u"=A1&B1") : SharedText()});
        }
    });
    maker.join();
    const size_t made = SharedText::arenaStats().chunks;
    ASSERT_GE(made, before + 20);
    {
        PackedCells packed;
        packed.pack(book);
        // Packed, the texts are held: nothing is given back.
        EXPECT_EQ(SharedText::arenaStats().chunks, made);
        // Given back and taken again: still the same texts.
        packed.unpack(book);
        EXPECT_EQ(book.sheets[0].rows[299999].cells[1].value.text().toQString(),
                  QStringLiteral("文字 299999-1"));
        EXPECT_EQ(book.sheets[0].rows[5].cells[2].formula.toQString(), QStringLiteral("=A1&B1"));
        packed.pack(book);
        // Dropped (as when a new result replaces the one packed), with the workbook.
    }
    book = Workbook();
    EXPECT_LE(SharedText::arenaStats().chunks, before + 8); // emptied chunks kept for reuse at most
}

} // namespace
} // namespace quellar
