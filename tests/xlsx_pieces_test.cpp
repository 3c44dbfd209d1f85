// Large worksheet parts have their rows read in pieces on two threads. Sheets of a few thousand
// rows, cut into many tiny pieces, read exactly as in one go: values, shared formulas whose
// master is in an earlier piece, rows without numbers, rows out of order, faults far into the
// part.

#include "fuzz/FuzzEntries.h"
#include "tests/WorkbookCells.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

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

// The sheet in a package: first the fuzz target's checks, which read it in pieces of a few
// hundred bytes (any part counting as large) and compare it cell by cell with the sheet read in
// one go, or the message with the message read in one go gives; then read in one go.
Read readChecked(const std::string& sheet) {
    const std::string package = fuzz::xlsxPackageWith("xl/worksheets/sheet1.xml", sheet);
    for (const fuzz::Target& target : fuzz::targets())
        if (std::string_view(target.name) == "zip")
            target.entry(reinterpret_cast<const uint8_t*>(package.data()), package.size());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("package.xlsx"));
    EXPECT_TRUE(test::writeBytes(path, QByteArray::fromStdString(package)));
    Read read;
    read.status = readWorkbook(path, read.book);
    return read;
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

// Values of several kinds, dates by their style, and shared formulas: groups of 40 rows (some cut
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
        return row + "</row>";
    });
    const Read read = readChecked(sheet);
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
    const Read read = readChecked(unnumbered);
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
    const Read mixedRead = readChecked(mixed);
    const Sheet& m = firstSheet(mixedRead);
    EXPECT_EQ(numberAt(m, "E1999"), 2);
    EXPECT_EQ(numberAt(m, "F7601"), 3);
    EXPECT_EQ(numberAt(m, "A1002"), 1002);
}

// A row longer than a piece is a piece of its own; after a row longer than the scanner holds
// at once, the rest of the part is read in one go.
TEST(XlsxPieces, LongRowsReadAsInOneGo) {
    const std::string longText(1500000, 'x');
    const Read read = readChecked(sheetOf(2000, [&longText](int r) {
        const std::string n = std::to_string(r);
        std::string row = "<row r=\"" + n + "\"><c><v>" + n + "</v></c>";
        for (int c = 0; r == 300 && c < 300; ++c)
            row += "<c><v>" + std::to_string(c) + "</v></c>";
        if (r == 1200) row += "<c t=\"inlineStr\"><is><t>" + longText + "</t></is></c>";
        return row + "</row>";
    }));
    const Sheet& s = firstSheet(read);
    ASSERT_EQ(s.rows.size(), 2000u);
    EXPECT_EQ(s.rows[299].cells.size(), 301u);
    EXPECT_EQ(cellAt(s, "B1200")->value.text().size(), longText.size());
    EXPECT_EQ(numberAt(s, "A2000"), 2000);
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
        const Read read = readChecked(sheet);
        EXPECT_FALSE(read.status.isOk());
    }
    const std::string whole = rowsWith(0, "");
    const Read cut = readChecked(whole.substr(0, whole.size() * 2 / 3));
    EXPECT_TRUE(cut.status.message().contains(QStringLiteral("不完整")));

    const Read commented = readChecked(rowsWith(1500, "<!-- <row r=\"9\"><c/></row> --><c><v>5</v></c>"));
    EXPECT_EQ(numberAt(firstSheet(commented), "A1500"), 5);
}

} // namespace
} // namespace quellar
