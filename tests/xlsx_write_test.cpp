// The xlsx writer: round trips through our reader, refusals, dates and sheet names, a large
// sheet, and a failure that leaves the earlier file.

#include "base/CellOps.h"
#include "base/ParallelRows.h"
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

// ---------------------------------------------------------------------------------------------
// Small pieces

void expectSameCells(const Workbook& a, const Workbook& b, bool compareStyles) {
    ASSERT_EQ(a.sheets.size(), b.sheets.size());
    for (size_t i = 0; i < a.sheets.size(); ++i) {
        const Sheet& x = a.sheets[i];
        const Sheet& y = b.sheets[i];
        EXPECT_EQ(x.name, y.name);
        EXPECT_EQ(x.hidden, y.hidden) << x.name.toStdString();
        EXPECT_EQ(x.merges, y.merges) << x.name.toStdString();
        for (const SheetRow& row : x.rows) {
            EXPECT_NEAR(x.rowHeight(row.index), y.rowHeight(row.index), 0.01) << row.index;
            const SheetRow* other = y.row(row.index);
            EXPECT_EQ(row.hidden, other && other->hidden) << row.index;
            for (const Cell& c : row.cells) {
                const QString where = x.name + u'!' + columnAddress(int(c.column) + 1, row.index + 1);
                const Cell* d = y.cell(row.index, int32_t(c.column));
                if (c.value.isEmpty() && c.formula.isEmpty() && (!compareStyles || c.style == 0)) continue;
                ASSERT_NE(d, nullptr) << where.toStdString();
                EXPECT_EQ(variantToText(c.value), variantToText(d->value)) << where.toStdString();
                if (c.value.type() == CellValue::Type::Number || c.value.type() == CellValue::Type::DateTime)
                    EXPECT_EQ(std::signbit(c.value.number()), std::signbit(d->value.number()))
                        << where.toStdString();
                EXPECT_EQ(c.formula.toQString(), d->formula.toQString()) << where.toStdString();
                if (!compareStyles) continue;
                const Style& s = a.styles[c.style];
                const Style& t = b.styles[d->style];
                EXPECT_EQ(s.hasFill, t.hasFill) << where.toStdString();
                EXPECT_EQ(s.fillRgb, t.fillRgb) << where.toStdString();
                EXPECT_EQ(s.fillPalette, t.fillPalette) << where.toStdString();
                EXPECT_EQ(s.bold, t.bold) << where.toStdString();
                EXPECT_EQ(s.italic, t.italic) << where.toStdString();
                EXPECT_EQ(s.fontRgb, t.fontRgb) << where.toStdString();
                EXPECT_EQ(s.horizontal, t.horizontal) << where.toStdString();
                EXPECT_EQ(s.vertical, t.vertical) << where.toStdString();
                EXPECT_EQ(s.wrapText, t.wrapText) << where.toStdString();
                const QString fa = s.fontName.isEmpty() ? a.defaultFontName : s.fontName;
                const QString fb = t.fontName.isEmpty() ? b.defaultFontName : t.fontName;
                EXPECT_EQ(fa, fb) << where.toStdString();
            }
        }
        for (int column = 0; column < 10; ++column)
            EXPECT_NEAR(x.columnWidth(column), y.columnWidth(column), 0.01) << x.name.toStdString() << column;
    }
}

TEST(XlsxWrite, RoundTripKeepsValuesLayoutAndStyles) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"xlsx/basic.xlsx", "xlsx/absolute_1904.xlsx", "xlsx/openpyxl.xlsx"}) {
        const Workbook original = readOk(QString::fromLatin1(name));
        const QString out = dir.filePath(QStringLiteral("out.xlsx"));
        const Status written = writeWorkbook(original, out, FileKind::Xlsx);
        ASSERT_TRUE(written.isOk()) << written.message().toStdString();
        Workbook back;
        const Status read = readWorkbook(out, back);
        ASSERT_TRUE(read.isOk()) << read.message().toStdString();
        SCOPED_TRACE(name);
        expectSameCells(original, back, true);
        EXPECT_EQ(back.activeSheet, original.activeSheet);
        for (size_t i = 0; i < original.sheets.size(); ++i) {
            const PageSetup& p = original.sheets[i].pageSetup;
            const PageSetup& q = back.sheets[i].pageSetup;
            EXPECT_EQ(p.paperSize, q.paperSize);
            EXPECT_EQ(p.landscape, q.landscape);
            EXPECT_EQ(p.fitToPage, q.fitToPage);
            EXPECT_DOUBLE_EQ(p.marginTop, q.marginTop);
            EXPECT_DOUBLE_EQ(p.marginHeader, q.marginHeader);
            EXPECT_EQ(p.printTitleFirstRow, q.printTitleFirstRow);
            EXPECT_EQ(p.printTitleLastRow, q.printTitleLastRow);
            EXPECT_EQ(original.sheets[i].rowBreaks, back.sheets[i].rowBreaks);
        }
        // Number formats survive as codes.
        const Cell* a3 = original.sheets[0].cell(2, 0);
        if (a3)
            EXPECT_EQ(original.styles[a3->style].numberFormat,
                      back.styles[back.sheets[0].cell(2, 0)->style].numberFormat);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("out.xlsx")});
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A text longer than an .xlsx cell holds is refused, naming the cell, rather than cut; the
// earlier file stays and no temporary file is left.
TEST(XlsxWrite, ATextLongerThanACellHoldsIsRefusedNotCut) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("out.xlsx"));
    Workbook book = readOk(QStringLiteral("xlsx/basic.xlsx"));
    ASSERT_TRUE(writeWorkbook(book, out, FileKind::Xlsx).isOk());

    book.sheets[0].cellAt(4, 1).value = CellValue::fromString(SharedText(QString(32767, u'字')));
    ASSERT_TRUE(writeWorkbook(book, out, FileKind::Xlsx).isOk()); // exactly the limit is kept
    Workbook back;
    ASSERT_TRUE(readWorkbook(out, back).isOk());
    EXPECT_EQ(variantToText(back.sheets[0].cell(4, 1)->value).size(), 32767);
    ASSERT_TRUE(writeWorkbook(readOk(QStringLiteral("xlsx/basic.xlsx")), out, FileKind::Xlsx).isOk());
    // The file the refused write must leave as it is (compared as bytes: written in another
    // second, the package's time stamps would differ from an earlier write's).
    const QByteArray before = readAll(out);

    book.sheets[0].cellAt(4, 1).value = CellValue::fromString(SharedText(QString(32768, u'字')));
    const Status refused = writeWorkbook(book, out, FileKind::Xlsx);
    ASSERT_FALSE(refused.isOk());
    EXPECT_TRUE(refused.message().contains(QStringLiteral("B5"))) << refused.message().toStdString();
    EXPECT_TRUE(refused.message().contains(QStringLiteral("32767"))) << refused.message().toStdString();
    EXPECT_EQ(readAll(out), before);
    // With another such text further down, the first is named, on one core or two.
    book.sheets[0].cellAt(40, 2).value = CellValue::fromString(SharedText(QString(40000, u'x')));
    for (size_t floor : {kParallelRowsOff, size_t(1)}) {
        setParallelRowFloor(floor);
        const Status again = writeWorkbook(book, out, FileKind::Xlsx);
        setParallelRowFloor(kParallelRowsOff);
        EXPECT_TRUE(again.message().contains(QStringLiteral("B5"))) << again.message().toStdString();
    }
    EXPECT_EQ(readAll(out), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("out.xlsx")});
}

TEST(XlsxWrite, ThroughXmlSpreadsheetAndBack) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Workbook original = readOk(QStringLiteral("xlsx/basic.xlsx"));
    const QString xml = dir.filePath(QStringLiteral("1.xml"));
    ASSERT_TRUE(writeWorkbook(original, xml, FileKind::XmlSpreadsheet).isOk());
    Workbook middle;
    ASSERT_TRUE(readWorkbook(xml, middle).isOk());
    const QString out = dir.filePath(QStringLiteral("back.xlsx"));
    ASSERT_TRUE(writeWorkbook(middle, out, FileKind::Xlsx).isOk());
    Workbook back;
    ASSERT_TRUE(readWorkbook(out, back).isOk());
    expectSameCells(middle, back, true);
}

TEST(XlsxWrite, DatesGetADateFormatAndSheetNamesAreMadeValid) {
    Workbook book;
    Sheet& s = book.sheets.emplace_back();
    s.name = QStringLiteral("a/b:c");
    s.cellAt(0, 0).value = CellValue::fromDateTime(46363);
    s.cellAt(0, 1).value = CellValue::fromDateTime(46363.5);
    s.cellAt(0, 2).value = CellValue::fromDateTime(0.75);
    s.cellAt(1, 0).value = CellValue::fromError(SharedText(u"#N/A"));
    s.cellAt(1, 1).value = CellValue::fromNumber(2);
    s.cellAt(1, 1).formula = SharedText(u"=A2&\"x\"");
    book.sheets.emplace_back().name = QStringLiteral("A/B:C"); // the same once made valid
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("d.xlsx"));
    ASSERT_TRUE(writeWorkbook(book, out, FileKind::Xlsx).isOk());
    Workbook back;
    ASSERT_TRUE(readWorkbook(out, back).isOk());
    ASSERT_EQ(back.sheets.size(), 2u);
    EXPECT_EQ(back.sheets[0].name, QStringLiteral("a_b_c"));
    EXPECT_EQ(back.sheets[1].name, QStringLiteral("A_B_C(2)"));
    const Sheet& t = back.sheets[0];
    EXPECT_EQ(textAt(t, "A1"), QStringLiteral("2026/12/7"));
    EXPECT_EQ(textAt(t, "B1"), QStringLiteral("2026/12/7 12:00:00"));
    EXPECT_EQ(textAt(t, "C1"), QStringLiteral("18:00:00"));
    EXPECT_EQ(textAt(t, "A2"), QStringLiteral("#N/A"));
    EXPECT_EQ(cellAt(t, "B2")->formula.toQString(), QStringLiteral("=A2&\"x\""));
}

// Large enough for the constant-memory writer and for inflating on a second thread.
TEST(XlsxWrite, LargeSheetRoundTrip) {
    Workbook book;
    Sheet& sheet = book.sheets.emplace_back();
    sheet.name = QStringLiteral("大表");
    const SharedText words[] = {SharedText(u"甲"), SharedText(u"乙乙乙乙"), SharedText(u"long text value")};
    constexpr int rows = 50000;
    for (int r = 0; r < rows; ++r) {
        sheet.cellAt(r, 0).value = CellValue::fromNumber(r * 0.25);
        sheet.cellAt(r, 1).value = CellValue::fromString(words[r % 3]);
        sheet.cellAt(r, 2).value = CellValue::fromNumber(-r);
        sheet.cellAt(r, 3).value = CellValue::fromString(SharedText(QString::number(r)));
    }
    // Layout written in constant-memory mode too.
    sheet.columnWidths[0] = 90;
    sheet.columnWidths[2] = 0;
    sheet.rowAt(10).height = 33;
    sheet.rowAt(11).hidden = true;
    sheet.defaultRowHeight = 18;
    sheet.rowBreaks = {100, 2000};
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("big.xlsx"));
    ASSERT_TRUE(writeWorkbook(book, out, FileKind::Xlsx).isOk());
    ZipArchive zip;
    ASSERT_TRUE(zip.open(out).isOk());
    ASSERT_NE(zip.find("xl/worksheets/sheet1.xml"), nullptr);
    EXPECT_GT(zip.find("xl/worksheets/sheet1.xml")->size, 4u << 20);
    Workbook back;
    ASSERT_TRUE(readWorkbook(out, back).isOk());
    expectSameCells(book, back, false);
    EXPECT_EQ(back.sheets[0].rows.size(), size_t(rows));

    // Planned on two cores, with a date and a style met only in the later half, the parts are
    // the same bytes.
    sheet.cellAt(rows - 5, 5).value = CellValue::fromDateTime(45000.5);
    Style red;
    red.hasFill = true;
    red.fillPalette = Fill::Red;
    red.fillRgb = paletteColor(Fill::Red);
    sheet.cellAt(rows - 3, 6).style = book.internStyle(red);
    std::string parts[2][2];
    for (int twoCores = 0; twoCores < 2; ++twoCores) {
        setParallelRowFloor(twoCores ? 1 : kParallelRowsOff);
        const Status written = writeWorkbook(book, out, FileKind::Xlsx);
        setParallelRowFloor(kParallelRowsOff);
        ASSERT_TRUE(written.isOk());
        ZipArchive package;
        ASSERT_TRUE(package.open(out).isOk());
        const char* names[] = {"xl/worksheets/sheet1.xml", "xl/styles.xml"};
        for (int k = 0; k < 2; ++k) {
            ASSERT_NE(package.find(names[k]), nullptr);
            ASSERT_TRUE(package.readEntry(*package.find(names[k]), parts[twoCores][k]).isOk());
        }
    }
    EXPECT_EQ(parts[0][0], parts[1][0]);
    EXPECT_EQ(parts[0][1], parts[1][1]);
    EXPECT_NE(parts[0][0].find("<dimension ref=\"A1:G50000\"/>"), std::string::npos);
    EXPECT_DOUBLE_EQ(back.sheets[0].defaultRowHeight, 18);
    EXPECT_EQ(back.sheets[0].rowBreaks, sheet.rowBreaks);
}

TEST(XlsxWrite, FailureLeavesTheEarlierFile) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("keep.xlsx"));
    ASSERT_TRUE(test::writeBytes(out, "earlier"));
    const Workbook book = Workbook::makeDefault();
    // The target's folder is missing: nothing is written anywhere.
    const Status missing =
        writeWorkbook(book, dir.filePath(QStringLiteral("no/such/x.xlsx")), FileKind::Xlsx);
    EXPECT_FALSE(missing.isOk());
    EXPECT_TRUE(missing.message().contains(QStringLiteral("no/such/x.xlsx")));
    // A folder in the way of the target.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.xlsx")));
    EXPECT_FALSE(writeWorkbook(book, dir.filePath(QStringLiteral("taken.xlsx")), FileKind::Xlsx).isOk());
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("earlier"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("keep.xlsx")});
}

} // namespace
} // namespace quellar
