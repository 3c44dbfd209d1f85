// Formulas between A1 and R1C1 notation, and the workbook model holding A1 whichever file a
// workbook came from: xlsx stores A1, XML Spreadsheet 2003 stores R1C1.

#include "base/CellOps.h"
#include "tests/TestSupport.h"
#include "workbook/FormulaNotation.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

namespace quellar {
namespace {

struct Notation {
    const char16_t* a1;
    const char16_t* r1c1;
    int32_t row, column; // 0-based position of the cell holding the formula
};

// Pairs that convert into each other both ways.
const Notation kBothWays[] = {
    {u"=B1*2", u"=R[-1]C*2", 1, 1},
    {u"=A2*2", u"=RC[-1]*2", 1, 1},
    {u"=$A$1+B2", u"=R1C1+R[1]C[1]", 0, 0},
    {u"=SUM(A1:A2)", u"=SUM(R[-2]C:R[-1]C)", 2, 0},
    {u"=\"RC\"&$C$2", u"=\"RC\"&R2C3", 0, 0},
    {u"=ROUND(B5,2)", u"=ROUND(RC[1],2)", 4, 0},
    {u"=$A1+A$1", u"=R[-4]C1+R1C[-3]", 4, 3},
    {u"=SUM($A$1:B$3)", u"=SUM(R1C1:R3C[1])", 0, 0},
    // Whole rows and columns, absolute and relative, one part when both ends are the same.
    {u"=SUM($1:$3)", u"=SUM(R1:R3)", 5, 5},
    {u"=SUM($B:$D)", u"=SUM(C2:C4)", 0, 0},
    {u"=SUM(4:6)", u"=SUM(R[-1]:R[1])", 4, 0},
    {u"=SUM(A:A)+B:C", u"=SUM(C[-1])+C:C[1]", 0, 1},
    {u"=SUM(5:5)", u"=SUM(R)", 4, 2},
    {u"=COUNTA(C:C)+$2:$2", u"=COUNTA(C)+R2", 0, 2},
    {u"=_xlfn.XLOOKUP(A1,B:B,C:C)", u"=_xlfn.XLOOKUP(RC,C[1],C[2])", 0, 0},
    // Sheet names, quoted (with an apostrophe and "!" inside), unquoted, 3-D and external.
    {u"=Sheet2!$A$1", u"=Sheet2!R1C1", 0, 0},
    {u"='R1C1 sheet'!D3", u"='R1C1 sheet'!RC", 2, 3},
    {u"='Tom''s A1!'!A1:B2", u"='Tom''s A1!'!RC:R[1]C[1]", 0, 0},
    {u"=数据!C3*单价", u"=数据!RC*单价", 2, 2},
    {u"=ABC!A1", u"=ABC!RC", 0, 0},
    {u"=SUM(Sheet1:Sheet3!B2)", u"=SUM(Sheet1:Sheet3!RC)", 1, 1},
    {u"=[1]Sheet1!B2", u"=[1]Sheet1!R[1]C[1]", 0, 0},
    // Names and functions that look like references stay what they are.
    {u"=LOG10(A1)+ATAN2(1,2)", u"=LOG10(RC[-1])+ATAN2(1,2)", 0, 1},
    {u"=Rate*RC1", u"=Rate*RC[470]", 0, 0}, // RC1 is column RC in A1
    {u"=ROUND(Rate,2)", u"=ROUND(Rate,2)", 3, 3},
    {u"=SUM(Table1[Amount])+Table1[[#This Row],[C2]]", u"=SUM(Table1[Amount])+Table1[[#This Row],[C2]]", 1,
     1},
    {u"=IF(ISERROR(A1),#N/A,#REF!)", u"=IF(ISERROR(RC),#N/A,#REF!)", 0, 0},
    {u"=1.5E+3*A1/2-{1,2;3,4}", u"=1.5E+3*RC/2-{1,2;3,4}", 0, 0},
    // The corners of the grid.
    {u"=XFD1048576+$XFD$1048576", u"=R[1048575]C[16383]+R1048576C16384", 0, 0},
    {u"=A1", u"=R[-1048575]C[-16383]", 1048575, 16383},
};

TEST(FormulaNotation, ConvertsBothWays) {
    for (const Notation& c : kBothWays) {
        const QString a1 = QString::fromUtf16(c.a1), r1c1 = QString::fromUtf16(c.r1c1);
        EXPECT_EQ(a1ToR1C1(a1, c.row, c.column), r1c1) << a1.toStdString();
        EXPECT_EQ(r1c1ToA1(r1c1, c.row, c.column), a1) << r1c1.toStdString();
    }
}

TEST(FormulaNotation, R1C1ToA1WrapsOffsetsAndKeepsWhatItCannotPlace) {
    const Notation cases[] = {
        // Relative references that leave the grid come back in from the other side.
        {u"=A1048576", u"=R[-1]C", 0, 0},
        {u"=XFD1+A2", u"=RC[-1]+R[-1048575]C", 0, 0},
        {u"=B1", u"=rc[1]", 0, 0},
        {u"=A1*2", u"=A1*2", 0, 0}, // no R1C1 reference: a name, left as it is
        {u"=R2D2+B1", u"=R2D2+RC", 0, 1},
        // Not references that can be placed: the whole formula stays as written.
        {u"=R0C1+R1C1", u"=R0C1+R1C1", 0, 0},
        {u"=R[1048576]C+RC", u"=R[1048576]C+RC", 0, 0},
        {u"=R1048577C1+RC", u"=R1048577C1+RC", 0, 0},
        {u"=RC16385+RC", u"=RC16385+RC", 0, 0},
        {u"=R[x]C+RC", u"=R[x]C+RC", 0, 0},
        {u"=SUM(R1:C1)+RC", u"=SUM(R1:C1)+RC", 0, 0},
        {u"=SUM(R1C1:R2)+RC", u"=SUM(R1C1:R2)+RC", 0, 0},
    };
    for (const Notation& c : cases)
        EXPECT_EQ(r1c1ToA1(QStringView(c.r1c1), c.row, c.column), QString::fromUtf16(c.a1))
            << QString::fromUtf16(c.r1c1).toStdString();
}

TEST(FormulaNotation, A1ToR1C1LeavesNonReferencesAlone) {
    const Notation cases[] = {
        {u"=sum(a1:b2)", u"=sum(RC:R[1]C[1])", 0, 0},
        {u"=XFE1+A0+AAAA1+A01+A1048577", u"=XFE1+A0+AAAA1+A01+A1048577", 0, 0},
        {u"=A+1", u"=A+1", 0, 0}, // a letter or a number alone is a name or a number
        {u"=SUM(A1:Total)", u"=SUM(RC:Total)", 0, 0},
    };
    for (const Notation& c : cases)
        EXPECT_EQ(a1ToR1C1(QStringView(c.a1), c.row, c.column), QString::fromUtf16(c.r1c1))
            << QString::fromUtf16(c.a1).toStdString();
}

TEST(FormulaNotation, StringLiteralsAreNotTouched) {
    // Each formula's literals hold text that would be a reference outside quotes.
    const struct {
        const char16_t* a1;
        const char16_t* r1c1;
    } cases[] = {
        {u"=\"A1:B2 R1C1 'x'!C3\"&A1", u"=\"A1:B2 R1C1 'x'!C3\"&RC"},
        {u"=\"say \"\"A1\"\" or RC\"&B2&\"\"", u"=\"say \"\"A1\"\" or RC\"&R[1]C[1]&\"\""},
        {u"=\"unclosed A1 R1C1", u"=\"unclosed A1 R1C1"},
        {u"=IF(A1=\"\",\"R[-1]C\",\"$B$2\")", u"=IF(RC=\"\",\"R[-1]C\",\"$B$2\")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(a1ToR1C1(QStringView(c.a1), 0, 0), QString::fromUtf16(c.r1c1));
        EXPECT_EQ(r1c1ToA1(QStringView(c.r1c1), 0, 0), QString::fromUtf16(c.a1));
    }
}

// Random references of every shape, at random cells: A1 -> R1C1 -> A1 gives the formula back,
// and an R1C1 reference built independently lands on the cell it names.
TEST(FormulaNotation, RandomReferencesRoundTrip) {
    std::mt19937 random(20240601);
    auto pick = [&](int32_t n) { return int32_t(random() % uint32_t(n)); };
    // Small and large positions both, so offsets of every size occur.
    auto rowAt = [&] { return pick(2) ? pick(30) : pick(kMaxRows); };
    auto columnAt = [&] { return pick(2) ? pick(30) : pick(kMaxColumns); };
    auto dollar = [&] { return pick(2) ? QStringLiteral("$") : QString(); };
    auto a1Part = [&](int kind) {
        if (kind == 0)
            return dollar() + columnLetters(columnAt() + 1) + dollar() + QString::number(rowAt() + 1);
        if (kind == 1) return dollar() + QString::number(rowAt() + 1);
        return dollar() + columnLetters(columnAt() + 1);
    };
    for (int n = 0; n < 4000; ++n) {
        const int kind = pick(3); // a cell, a whole row, a whole column
        QString reference = a1Part(kind);
        if (kind != 0 || pick(2)) reference += u':' + a1Part(kind); // rows and columns come in pairs
        if (pick(3) == 0) reference = QStringLiteral("'S 1'!") + reference;
        const QString formula = QStringLiteral("=SUM(%1)*2").arg(reference);
        const int32_t row = rowAt(), column = columnAt();
        const QString r1c1 = a1ToR1C1(formula, row, column);
        ASSERT_FALSE(r1c1.contains(u'$')) << formula.toStdString();
        ASSERT_EQ(r1c1ToA1(r1c1, row, column), formula)
            << formula.toStdString() << " at " << row << "," << column << " via " << r1c1.toStdString();
    }
    for (int n = 0; n < 4000; ++n) {
        const int32_t row = rowAt(), column = columnAt();
        const int32_t targetRow = rowAt(), targetColumn = columnAt();
        const bool rowAbsolute = pick(2), columnAbsolute = pick(2);
        QString r1c1 = QStringLiteral("R");
        if (rowAbsolute)
            r1c1 += QString::number(targetRow + 1);
        else if (targetRow != row)
            r1c1 += QStringLiteral("[%1]").arg(targetRow - row);
        r1c1 += u'C';
        if (columnAbsolute)
            r1c1 += QString::number(targetColumn + 1);
        else if (targetColumn != column)
            r1c1 += QStringLiteral("[%1]").arg(targetColumn - column);
        const QString a1 =
            QStringLiteral("=%1%2%3%4")
                .arg(columnAbsolute ? QStringLiteral("$") : QString(), columnLetters(targetColumn + 1),
                     rowAbsolute ? QStringLiteral("$") : QString())
                .arg(targetRow + 1);
        ASSERT_EQ(r1c1ToA1(u'=' + r1c1, row, column), a1) << r1c1.toStdString();
        ASSERT_EQ(a1ToR1C1(a1, row, column), u'=' + r1c1) << a1.toStdString();
    }
}

// ---------------------------------------------------------------------------------------------
// Through the files

QString readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

Workbook readOk(const QString& path) {
    Workbook book;
    const Status s = readWorkbook(path, book);
    EXPECT_TRUE(s.isOk()) << s.message().toStdString();
    return book;
}

// Every formula of the first workbook, by sheet and cell, is the same in the second.
void expectSameFormulas(const Workbook& a, const Workbook& b) {
    ASSERT_EQ(a.sheets.size(), b.sheets.size());
    for (size_t i = 0; i < a.sheets.size(); ++i)
        for (const SheetRow& row : a.sheets[i].rows)
            for (const Cell& cell : row.cells) {
                if (cell.formula.isEmpty()) continue;
                const Cell* other = b.sheets[i].cell(row.index, int32_t(cell.column));
                const std::string where = columnAddress(int(cell.column) + 1, row.index + 1).toStdString();
                ASSERT_NE(other, nullptr) << where;
                EXPECT_EQ(other->formula.toQString(), cell.formula.toQString()) << where;
            }
}

TEST(FormulaNotation, XlsxFormulasSurviveXmlSpreadsheetAsR1C1) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Workbook original = readOk(test::testDataPath(QStringLiteral("xlsx/basic.xlsx")));
    ASSERT_EQ(original.sheets[0].cell(3, 0)->formula.toQString(), QStringLiteral("=A2*2"));

    const QString xml = dir.filePath(QStringLiteral("1.xml"));
    ASSERT_TRUE(writeWorkbook(original, xml, FileKind::XmlSpreadsheet).isOk());
    const QString text = readText(xml);
    for (const char* piece : {R"(ss:Formula="=R[-2]C*2")", R"(ss:Formula="=R[-2]C[-2]+1")",
                              R"(ss:Formula="=&quot;a&quot;&amp;&quot;b&quot;")", R"(ss:Formula="=1/0")"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(piece))) << piece;
    EXPECT_FALSE(text.contains(QStringLiteral("ss:Formula=\"=A2"))) << "an A1 formula in an R1C1 file";

    const Workbook middle = readOk(xml);
    expectSameFormulas(original, middle);
    expectSameFormulas(middle, original);

    const QString back = dir.filePath(QStringLiteral("back.xlsx"));
    ASSERT_TRUE(writeWorkbook(middle, back, FileKind::Xlsx).isOk());
    expectSameFormulas(original, readOk(back));
}

// Formulas of every shape, each on a sheet of its own at its cell: xlsx -> XML Spreadsheet ->
// xlsx keeps each text, and the XML file holds the R1C1 form.
TEST(FormulaNotation, EveryShapeSurvivesBothFormats) {
    Workbook book;
    for (const Notation& c : kBothWays) {
        Sheet& sheet = book.sheets.emplace_back();
        sheet.name = QStringLiteral("F%1").arg(book.sheets.size());
        Cell& cell = sheet.cellAt(c.row, c.column);
        cell.formula = SharedText(c.a1);
        cell.value = CellValue::fromNumber(1);
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString xlsx = dir.filePath(QStringLiteral("a.xlsx"));
    ASSERT_TRUE(writeWorkbook(book, xlsx, FileKind::Xlsx).isOk());
    const Workbook fromXlsx = readOk(xlsx);
    expectSameFormulas(book, fromXlsx);

    const QString xml = dir.filePath(QStringLiteral("a.xml"));
    ASSERT_TRUE(writeWorkbook(fromXlsx, xml, FileKind::XmlSpreadsheet).isOk());
    const QString text = readText(xml);
    for (const Notation& c : kBothWays) {
        const QString escaped = QString::fromUtf16(c.r1c1)
                                    .replace(u'&', QStringLiteral("&amp;"))
                                    .replace(u'"', QStringLiteral("&quot;"));
        const QString attribute = QStringLiteral("ss:Formula=\"%1\"").arg(escaped);
        EXPECT_TRUE(text.contains(attribute)) << attribute.toStdString();
    }
    const Workbook fromXml = readOk(xml);
    expectSameFormulas(book, fromXml);

    const QString again = dir.filePath(QStringLiteral("b.xlsx"));
    ASSERT_TRUE(writeWorkbook(fromXml, again, FileKind::Xlsx).isOk());
    expectSameFormulas(book, readOk(again));
}

} // namespace
} // namespace quellar
