// Large worksheet parts have their rows read in pieces on two threads. Here the pieces are made
// tiny (and every part counts as large), so sheets of a few thousand rows are cut into many
// pieces, and each sheet is compared cell by cell with the same sheet read in one go.

#include "fuzz/FuzzEntries.h"
#include "tests/WorkbookCells.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

namespace quellar {
namespace {

using test::cellAt;
using test::textAt;

const std::string kSheetStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
    "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><cols><col min=\"1\" max=\"2\" "
    "width=\"20\" customWidth=\"1\"/></cols><sheetData>";

// A sheet part of `count` rows made by `row` (1-based), with `after` following <sheetData>.
std::string sheetOf(int count, const std::function<std::string(int)>& row, const std::string& after = "") {
    std::string xml = kSheetStart;
    for (int r = 1; r <= count; ++r)
        xml += row(r);
    return xml + "</sheetData>" + after + "</worksheet>";
}

struct Read {
    Status status;
    Workbook book;
};

// The package at `path` read with rows in pieces of `pieceBytes`, or in one go when it is 0.
Read readIn(const QString& path, size_t pieceBytes) {
    xlsx::setRowPieces({pieceBytes, 0});
    Read read;
    read.status = readWorkbook(path, read.book);
    xlsx::setRowPieces({});
    return read;
}

void expectSameSheet(const Sheet& a, const Sheet& b) {
    EXPECT_EQ(a.merges, b.merges);
    EXPECT_EQ(a.columnWidths, b.columnWidths);
    ASSERT_EQ(a.rows.size(), b.rows.size());
    for (size_t r = 0; r < a.rows.size(); ++r) {
        const SheetRow& x = a.rows[r];
        const SheetRow& y = b.rows[r];
        ASSERT_EQ(x.index, y.index) << "row " << r;
        EXPECT_EQ(x.height, y.height) << "row " << x.index + 1;
        EXPECT_EQ(x.hidden, y.hidden) << "row " << x.index + 1;
        ASSERT_EQ(x.cells.size(), y.cells.size()) << "row " << x.index + 1;
        for (size_t c = 0; c < x.cells.size(); ++c) {
            const Cell& p = x.cells[c];
            const Cell& q = y.cells[c];
            const double pn = p.value.number(), qn = q.value.number();
            EXPECT_TRUE(p.column == q.column && p.style == q.style && p.value.type() == q.value.type() &&
                        std::memcmp(&pn, &qn, sizeof pn) == 0 && p.value.text() == q.value.text() &&
                        p.formula == q.formula)
                << "row " << x.index + 1 << " cell " << c << ": " << p.formula.toQString().toStdString()
                << " / " << q.formula.toQString().toStdString();
        }
    }
}

// The sheet read in one go, after checking that pieces of several sizes read the same (or
// fail with the same message).
Read expectSameInPieces(const std::string& sheet) {
    const std::string package = fuzz::xlsxPackageWith("xl/worksheets/sheet1.xml", sheet);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("package.xlsx"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) &&
                file.write(package.data(), qint64(package.size())) == qint64(package.size()));
    file.close();
    Read whole = readIn(path, 0);
    for (size_t pieceBytes : {300, 4096, 50000}) {
        SCOPED_TRACE(pieceBytes);
        const Read pieces = readIn(path, pieceBytes);
        EXPECT_EQ(pieces.status.isOk(), whole.status.isOk());
        EXPECT_EQ(pieces.status.message(), whole.status.message());
        EXPECT_EQ(pieces.book.sheets.size(), whole.book.sheets.size());
        for (size_t i = 0; i < std::min(whole.book.sheets.size(), pieces.book.sheets.size()); ++i)
            expectSameSheet(whole.book.sheets[i], pieces.book.sheets[i]);
    }
    return whole;
}

double numberAt(const Sheet& sheet, const char* ref) {
    const Cell* cell = cellAt(sheet, ref);
    return cell ? cell->value.number() : -1;
}

const Sheet& firstSheet(const Read& read) {
    static const Sheet none;
    EXPECT_TRUE(read.status.isOk()) << read.status.message().toStdString();
    return read.book.sheets.empty() ? none : read.book.sheets[0];
}

// Every kind of value, dates by their style, and shared formulas: groups of 40 rows (some cut
// between pieces) and one group whose master is the first row and whose cells reach the last.
TEST(XlsxPieces, ValuesAndSharedFormulasReadAsInOneGo) {
    const std::string sheet = sheetOf(3000, [](int r) {
        const std::string n = std::to_string(r);
        std::string row = "<row r=\"" + n + "\"" + (r % 97 == 0 ? " ht=\"30\" customHeight=\"1\"" : "") +
                          (r % 89 == 0 ? " hidden=\"1\"" : "") + ">";
        row += "<c r=\"A" + n + "\" t=\"inlineStr\"><is><t>名称" + n + "</t></is></c>";
        row += "<c r=\"B" + n + "\"><v>" + std::to_string(r * 1.5) + "</v></c>";
        row += "<c r=\"C" + n + "\" s=\"1\"><v>" + std::to_string(45000 + r) + "</v></c>";
        row += "<c r=\"D" + n + "\" t=\"s\"><v>" + std::to_string(r % 2) + "</v></c>";
        row += "<c r=\"E" + n + "\" t=\"b\"><v>" + std::to_string(r % 2) + "</v></c>";
        row += "<c r=\"F" + n + "\" t=\"inlineStr\"><is><t>R&amp;D " + n + "</t></is></c>";
        const int group = (r - 1) / 40;
        if ((r - 1) % 40 == 0)
            row += "<c r=\"G" + n + "\"><f t=\"shared\" ref=\"G" + n + ":G" + std::to_string(r + 39) +
                   "\" si=\"" + std::to_string(group % 3) + "\">B" + n + "*2</f><v>0</v></c>";
        else
            row +=
                "<c r=\"G" + n + "\"><f t=\"shared\" si=\"" + std::to_string(group % 3) + "\"/><v>0</v></c>";
        if (r == 1)
            row +=
                "<c r=\"H1\" t=\"str\"><f t=\"shared\" ref=\"H1:H3000\" si=\"7\">$A1&amp;B1</f><v>x</v></c>";
        else if (r % 5 == 0)
            row += "<c r=\"H" + n + "\" t=\"str\"><f t=\"shared\" si=\"7\"/><v>x</v></c>";
        return row + "<c r=\"I" + n + "\" t=\"e\"><v>#N/A</v></c></row>";
    });
    const Read read = expectSameInPieces(sheet);
    const Sheet& s = firstSheet(read);
    ASSERT_EQ(s.rows.size(), 3000u);
    EXPECT_EQ(textAt(s, "A2999"), QStringLiteral("名称2999"));
    EXPECT_EQ(cellAt(s, "C2500")->value.type(), CellValue::Type::DateTime);
    EXPECT_EQ(textAt(s, "D2001"), QStringLiteral("张三"));
    EXPECT_EQ(textAt(s, "F1234"), QStringLiteral("R&D 1234"));
    EXPECT_EQ(cellAt(s, "G2399")->formula.toQString(), QStringLiteral("=B2399*2"));
    EXPECT_EQ(cellAt(s, "H2995")->formula.toQString(), QStringLiteral("=$A2995&B2995"));
    EXPECT_EQ(s.rows[96].height, 30.0f);
    EXPECT_TRUE(s.rows[88].hidden);
}

// Rows without r count from the row before them, across pieces; cells without r from the cell
// before; rows out of order and repeated rows end up as in one go.
TEST(XlsxPieces, RowsWithoutNumbersAndRowsOutOfOrderReadAsInOneGo) {
    const std::string unnumbered = sheetOf(3000, [](int r) {
        return "<row" + std::string(r % 50 == 0 ? " ht=\"20\"" : "") + "><c t=\"inlineStr\"><is><t>行" +
               std::to_string(r) + "</t></is></c><c><v>" + std::to_string(r) + "</v></c></row>";
    });
    const Read read = expectSameInPieces(unnumbered);
    const Sheet& s = firstSheet(read);
    ASSERT_EQ(s.rows.size(), 3000u);
    EXPECT_EQ(s.rows.back().index, 2999);
    EXPECT_EQ(textAt(s, "A2345"), QStringLiteral("行2345"));
    EXPECT_EQ(numberAt(s, "B3000"), 3000);

    // Numbered rows, then unnumbered ones after them, a jump, a repeated row, rows going back.
    const std::string mixed = sheetOf(3000, [](int r) {
        std::string row;
        if (r <= 1000 || (r > 1500 && r % 7 != 0))
            row = "<row r=\"" + std::to_string(r < 2500 ? r : r + 5000) + "\">";
        else
            row = "<row>";
        row += "<c><v>" + std::to_string(r) + "</v></c><c r=\"D" +
               std::to_string(r <= 1000 ? r : 1 + (r % 900)) + "\"><v>1</v></c>";
        if (r == 2000) row += "</row><row r=\"1999\"><c r=\"E1999\"><v>2</v></c>";
        if (r == 2600) row += "</row><row r=\"7601\"><c r=\"F7601\"><v>3</v></c>";
        return row + "</row>";
    });
    const Read mixedRead = expectSameInPieces(mixed);
    const Sheet& m = firstSheet(mixedRead);
    EXPECT_EQ(numberAt(m, "E1999"), 2);
    EXPECT_EQ(numberAt(m, "F7601"), 3);
    EXPECT_EQ(numberAt(m, "A1002"), 1002);
}

// A fault far into the part gives the message it gives in one go, whatever piece it is in:
// a cell's type, a shared string that does not exist, malformed XML, a part cut short; and a
// row start inside a comment (where a piece may be cut) reads as in one go.
TEST(XlsxPieces, FaultsFarIntoThePartAreToldAsInOneGo) {
    auto rowsWith = [](int at, const std::string& odd) {
        return sheetOf(3000, [at, odd](int r) {
            const std::string n = std::to_string(r);
            if (r == at) return "<row r=\"" + n + "\">" + odd + "</row>";
            return "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n +
                   "\" t=\"inlineStr\"><is><t>文本</t></is></c></row>";
        });
    };
    const std::string faults[] = {
        rowsWith(2500, "<c r=\"A2500\" t=\"q\"><v>1</v></c>"),
        rowsWith(2700, "<c r=\"A2700\" t=\"s\"><v>99</v></c>"),
        rowsWith(2600, "<c r=\"A2600\"><v>1</v></x>"),
        rowsWith(1800, "<c r=\"A1800\"><v>1e999</v></c>"),
    };
    for (const std::string& sheet : faults) {
        const Read read = expectSameInPieces(sheet);
        EXPECT_FALSE(read.status.isOk());
    }
    const std::string whole = rowsWith(0, "");
    const Read cut = expectSameInPieces(whole.substr(0, whole.size() * 2 / 3));
    EXPECT_TRUE(cut.status.message().contains(QStringLiteral("不完整")));

    const Read commented =
        expectSameInPieces(rowsWith(1500, "<!-- <row r=\"9\"><c/></row> --><c><v>5</v></c>"));
    EXPECT_EQ(numberAt(firstSheet(commented), "A1500"), 5);
}

} // namespace
} // namespace quellar
