#include "table/PageSubtotals.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"

#include "base/CellOps.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;

namespace {

const char* kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
                    " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\">\n"
                    " <Worksheet ss:Name=\"Other\"><Table><Row><Cell><Data "
                    "ss:Type=\"String\">x</Data></Cell></Row></Table></Worksheet>\n"
                    " <Worksheet ss:Name=\"明细\">\n"
                    "  <Table ss:ExpandedColumnCount=\"3\" ss:ExpandedRowCount=\"%1\">\n"
                    "   <Column ss:Width=\"60\"/>\n";
const char* kTail = "  </Table>\n  <WorksheetOptions xmlns=\"urn:schemas-microsoft-com:office:excel\"/>\n"
                    " </Worksheet>\n</Workbook>\n";

QString cellXml(const QString& text) {
    if (text.isEmpty()) return QStringLiteral("<Cell/>");
    double number = 0;
    const bool isNumber = typedTextToNumber(text, number);
    return QStringLiteral("<Cell ss:StyleID=\"s1\"><Data ss:Type=\"%1\">%2</Data></Cell>")
        .arg(isNumber ? QStringLiteral("Number") : QStringLiteral("String"), text);
}

// A working file whose sheet 明细 holds `rows` (cells separated by '|'), written as Excel
// writes it.
QByteArray workingFile(const QStringList& rows, const QString& extraRows = {}) {
    QString body;
    for (const QString& row : rows) {
        body += QStringLiteral("   <Row ss:Height=\"15\">");
        for (const QString& cell : row.split(u'|'))
            body += cellXml(cell);
        body += QStringLiteral("</Row>\n");
    }
    return QString::fromUtf8(kHead).arg(rows.size()).toUtf8() + body.toUtf8() + extraRows.toUtf8() + kTail;
}

QStringList numberedRows(int count) {
    QStringList rows{QStringLiteral("编号|名称|金额")};
    for (int i = 1; i <= count; ++i)
        rows.append(QStringLiteral("%1|品%1|%2").arg(i).arg(i * 10));
    return rows;
}

struct Fixture {
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    QString write(const QByteArray& bytes, const QString& name = QStringLiteral("1.xml")) const {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
};

// Runs page subtotals on sheet 明细 of `xml` and reads the result back through the engine.
Sheet subtotalled(Fixture& fx, const QByteArray& xml, PageSubtotalOptions options,
                  QByteArray* written = nullptr, PageSubtotalInfo* info = nullptr) {
    Result<PageSheet> sheet = readPageSheet(fx.write(xml), QStringLiteral("明细"));
    EXPECT_TRUE(sheet.isOk()) << sheet.status().message().toStdString();
    const QString target = fx.path(QStringLiteral("3.xml"));
    const Status status = writePageSubtotals(sheet.value(), options, target, info);
    EXPECT_TRUE(status.isOk()) << status.message().toStdString();
    if (written) {
        QFile f(target);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        *written = f.readAll();
    }
    Workbook book;
    const Status read = readWorkbook(target, book);
    EXPECT_TRUE(read.isOk()) << read.message().toStdString();
    EXPECT_EQ(book.sheets.size(), 2u);
    return book.sheets.size() == 2 ? book.sheets[1] : Sheet();
}

// A row as "text|text|…" with a leading '#' on number cells.
QString rowText(const Sheet& sheet, int row) {
    QStringList cells;
    const SheetRow* r = sheet.row(row);
    if (!r) return QStringLiteral("(none)");
    int next = 0;
    for (const Cell& cell : r->cells) {
        while (next < int(cell.column)) {
            cells.append(QString());
            ++next;
        }
        cells.append(cell.value.type() == CellValue::Type::Number
                         ? u'#' + QString::number(cell.value.number(), 'g', 15)
                         : variantToText(cell.value));
        ++next;
    }
    return cells.join(u'|');
}

PageSubtotalOptions options(int rowsPerPage, int labelColumn, std::vector<int> sums) {
    PageSubtotalOptions o;
    o.rowsPerPage = rowsPerPage;
    o.labelColumn = labelColumn;
    o.sumColumns = std::move(sums);
    return o;
}

} // namespace

TEST(PageSubtotals, BlocksSubtotalsAndGrandTotalReadBackAsNumbersAndText) {
    Fixture fx;
    QByteArray written;
    PageSubtotalInfo info;
    const Sheet s = subtotalled(fx, workingFile(numberedRows(10)), options(4, 2, {2}), &written, &info);
    // Subtotals after data rows 4, 8 and 10, then the grand total.
    EXPECT_EQ(rowText(s, 0), QStringLiteral("编号|名称|金额"));
    EXPECT_EQ(rowText(s, 4), QStringLiteral("#4|品4|#40"));
    EXPECT_EQ(rowText(s, 5), QStringLiteral("|小计|#100"));
    EXPECT_EQ(rowText(s, 9), QStringLiteral("#8|品8|#80"));
    EXPECT_EQ(rowText(s, 10), QStringLiteral("|小计|#260"));
    EXPECT_EQ(rowText(s, 12), QStringLiteral("#10|品10|#100"));
    EXPECT_EQ(rowText(s, 13), QStringLiteral("|小计|#190"));
    EXPECT_EQ(rowText(s, 14), QStringLiteral("|合计|#550"));
    EXPECT_EQ(s.rows.size(), 15u);
    EXPECT_EQ(info.subtotalRows, 3);
    EXPECT_EQ(info.writtenRows, 15);

    // UTF-16LE with a byte-order mark, CR LF at the end, the new row count, sums in %f,
    // no empty namespace declaration, and the rest of the workbook kept.
    ASSERT_TRUE(written.startsWith("\xFF\xFE"));
    EXPECT_TRUE(written.endsWith(QByteArray("\r\0\n\0", 4)));
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(written.constData() + 2),
                                            (written.size() - 2) / 2);
    EXPECT_TRUE(text.contains(QStringLiteral("ss:ExpandedRowCount=\"15\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("<Data ss:Type=\"Number\">190.000000</Data>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<Data ss:Type=\"String\">小计</Data>")));
    EXPECT_FALSE(text.contains(QStringLiteral("xmlns=\"\"")));
    EXPECT_FALSE(text.contains(QStringLiteral("UTF-8")));
    EXPECT_TRUE(text.contains(QStringLiteral("<Column ss:Width=\"60\"/>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<Worksheet ss:Name=\"Other\">")));
    // The copies keep the row's look.
    EXPECT_EQ(text.count(QStringLiteral("<Row ss:Height=\"15\">")), 15);
}

TEST(PageSubtotals, AFullLastBlockGetsNoEmptySubtotalAndZeroSumsStayEmpty) {
    Fixture fx;
    // Exactly two full pages: no third, empty subtotal row before the total.
    PageSubtotalInfo info;
    const Sheet full = subtotalled(fx, workingFile(numberedRows(8)), options(4, 2, {2}), nullptr, &info);
    EXPECT_EQ(rowText(full, 10), QStringLiteral("|小计|#260"));
    EXPECT_EQ(rowText(full, 11), QStringLiteral("|合计|#360"));
    EXPECT_EQ(full.rows.size(), 12u);
    EXPECT_EQ(info.writtenRows, 12);

    // Position 0 writes no label; 12a and blanks count 0; a page whose sum is 0 shows an
    // empty cell, while the grand total is always a number.
    const QStringList rows{QStringLiteral("编号|名称|金额"), QStringLiteral("1|a|12a"),
                           QStringLiteral("2|b|"), QStringLiteral("3|c|5"), QStringLiteral("4|d|2.5")};
    const Sheet zero = subtotalled(fx, workingFile(rows), options(2, 0, {0, 2}));
    EXPECT_EQ(rowText(zero, 3), QStringLiteral("#3||"));
    EXPECT_EQ(rowText(zero, 6), QStringLiteral("#7||#7.5"));
    EXPECT_EQ(rowText(zero, 7), QStringLiteral("#10||#7.5"));

    // A label column past the table's width gets a cell of its own, and the table widens.
    QByteArray written;
    const Sheet far = subtotalled(fx, workingFile(numberedRows(2)), options(2, 5, {2}), &written);
    EXPECT_EQ(rowText(far, 3), QStringLiteral("||#30||小计"));
    EXPECT_EQ(rowText(far, 4), QStringLiteral("||#30||合计"));
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(written.constData() + 2),
                                            (written.size() - 2) / 2);
    EXPECT_TRUE(text.contains(QStringLiteral("ss:ExpandedColumnCount=\"5\" ss:ExpandedRowCount=\"5\"")));

    // A single data row: its subtotal and the total follow it.
    const Sheet one = subtotalled(fx, workingFile(numberedRows(1)), options(6, 1, {2}));
    EXPECT_EQ(rowText(one, 2), QStringLiteral("小计||#10"));
    EXPECT_EQ(rowText(one, 3), QStringLiteral("合计||#10"));
    EXPECT_EQ(one.rows.size(), 4u);
}

TEST(PageSubtotals, CellAndRowIndexGapsKeepTheirColumnsAndRows) {
    Fixture fx;
    // Cells placed by ss:Index: the second data row has no cell in column B, and the
    // last one skips to column C. The field row sits under a title row whose merged
    // cell reads as one text and two empty ones.
    const QString gaps =
        QStringLiteral("   <Row><Cell ss:Index=\"1\"><Data ss:Type=\"Number\">3</Data></Cell>"
                       "<Cell ss:Index=\"3\"><Data ss:Type=\"Number\">7</Data></Cell></Row>\n"
                       "   <Row ss:Index=\"9\"><Cell ss:Index=\"3\" ss:Formula=\"=1+1\"><Data "
                       "ss:Type=\"Number\">2</Data></Cell></Row>\n");
    QByteArray xml = workingFile({QStringLiteral("1|x|5")}, gaps);
    xml.replace(
        "<Row ss:Height=\"15\">",
        "<Row><Cell ss:MergeAcross=\"2\"><Data ss:Type=\"String\">月报</Data></Cell></Row>"
        "<Row><Cell><Data ss:Type=\"String\">编号</Data></Cell><Cell><Data "
        "ss:Type=\"String\">名称</Data></Cell><Cell><Data ss:Type=\"String\">金额</Data></Cell></Row><Row>");
    Result<PageSheet> sheet = readPageSheet(fx.write(xml), QStringLiteral("明细"));
    ASSERT_TRUE(sheet.isOk()) << sheet.status().message().toStdString();
    EXPECT_EQ(sheet.value().fieldRow, 1);
    EXPECT_EQ(sheet.value().dataRows(), 3);
    EXPECT_EQ(sheet.value().fields,
              QStringList({QStringLiteral("编号"), QStringLiteral("名称"), QStringLiteral("金额")}));

    PageSubtotalInfo info;
    const Sheet s = subtotalled(fx, xml, options(2, 2, {0, 2}), nullptr, &info);
    EXPECT_EQ(rowText(s, 2), QStringLiteral("#1|x|#5"));
    EXPECT_EQ(rowText(s, 3), QStringLiteral("#3||#7"));
    // The copy of a row without a cell in column B gets one for the label.
    EXPECT_EQ(rowText(s, 4), QStringLiteral("#4|小计|#12"));
    // The row that named sheet row 9 moved down by the inserted row; its copy follows it
    // and gets the cells the sums need, without the formula.
    EXPECT_EQ(rowText(s, 9), QStringLiteral("||#2"));
    EXPECT_EQ(rowText(s, 10), QStringLiteral("|小计|#2"));
    EXPECT_EQ(rowText(s, 11), QStringLiteral("#4|合计|#14"));
    EXPECT_TRUE(s.cell(9, 2)->formula.isEmpty() == false);
    EXPECT_TRUE(s.cell(10, 2)->formula.isEmpty());
    EXPECT_EQ(info.writtenRows, 12);
}

TEST(PageSubtotals, AMergeDownAcrossABlockEndEndsWithTheBlock) {
    Fixture fx;
    // 销售 is merged over four data rows; with two rows per page the merge would cover the
    // first subtotal row and hide its label.
    QByteArray xml = workingFile(
        {QStringLiteral("部门|金额")},
        QStringLiteral("<Row><Cell ss:MergeDown=\"3\"><Data ss:Type=\"String\">销售</Data></Cell>"
                       "<Cell><Data ss:Type=\"Number\">1</Data></Cell></Row>"
                       "<Row><Cell ss:Index=\"2\"><Data ss:Type=\"Number\">2</Data></Cell></Row>"
                       "<Row><Cell ss:Index=\"2\"><Data ss:Type=\"Number\">3</Data></Cell></Row>"
                       "<Row><Cell ss:Index=\"2\"><Data ss:Type=\"Number\">4</Data></Cell></Row>"
                       "<Row><Cell ss:MergeDown=\"1\"><Data ss:Type=\"String\">财务</Data></Cell>"
                       "<Cell><Data ss:Type=\"Number\">9</Data></Cell></Row>"
                       "<Row><Cell ss:Index=\"2\"><Data ss:Type=\"Number\">5</Data></Cell></Row>"));
    const Sheet s = subtotalled(fx, xml, options(2, 1, {1}));
    EXPECT_EQ(rowText(s, 3), QStringLiteral("小计|#3"));
    EXPECT_EQ(rowText(s, 6), QStringLiteral("小计|#7"));
    EXPECT_EQ(rowText(s, 8), QStringLiteral("|#5"));
    EXPECT_EQ(rowText(s, 9), QStringLiteral("小计|#14"));
    // 销售 keeps the rows of its first page; 财务 fits its page and stays as it was.
    ASSERT_EQ(s.merges.size(), 2u);
    EXPECT_EQ(s.merges[0], (CellRange{1, 0, 2, 0}));
    EXPECT_EQ(s.merges[1], (CellRange{7, 0, 8, 0}));
}

TEST(PageSubtotals, ProposalAndOutputNames) {
    EXPECT_EQ(proposedRowsPerPage(51, 0), 48);
    EXPECT_EQ(proposedRowsPerPage(8, 0), 6); // 5 is below 6
    EXPECT_EQ(proposedRowsPerPage(-1, 0), 6);
    EXPECT_EQ(proposedRowsPerPage(51, 2), 46);
    EXPECT_EQ(proposedRowsPerPage(400, 0), 99); // the largest entry of the list

    EXPECT_EQ(pageSubtotalOutputPath(QStringLiteral("/d/报表.xls")), QStringLiteral("/d/报表_分页汇总.xls"));
    EXPECT_EQ(pageSubtotalOutputPath(QStringLiteral("/d/报表.xlsx")), QStringLiteral("/d/报表_分页汇总.xls"));
    EXPECT_EQ(pageSubtotalOutputPath(QStringLiteral("/d/报表")), QStringLiteral("/d/报表_分页汇总.xls"));
    EXPECT_EQ(pageSubtotalOutputPath(QStringLiteral("/d.v1/2026.报表.csv")),
              QStringLiteral("/d.v1/2026.报表_分页汇总.xls"));

    const QStringList labels = pageSumLabels({QStringLiteral("编号"), QStringLiteral("金额")});
    EXPECT_EQ(labels, QStringList({QStringLiteral("A (编号)"), QStringLiteral("B (金额)")}));
    EXPECT_EQ(pageSumColumns({QStringLiteral("B (金额)"), QStringLiteral("A (编号)")}),
              std::vector<int>({1, 0}));
}

TEST(PageSubtotals, BadInputIsRefusedWithMessagesAndNothingWritten) {
    Fixture fx;
    const QString target = fx.path(QStringLiteral("3.xml"));
    // Missing and broken working files, a sheet name the file lacks (letter case counts).
    Result<PageSheet> missing = readPageSheet(fx.path(QStringLiteral("none.xml")), QStringLiteral("明细"));
    EXPECT_TRUE(missing.status().message().contains(QStringLiteral("none.xml")));
    QByteArray broken = workingFile(numberedRows(3));
    broken.chop(12);
    Result<PageSheet> bad = readPageSheet(fx.write(broken), QStringLiteral("明细"));
    EXPECT_FALSE(bad.isOk());
    EXPECT_TRUE(bad.status().message().contains(QStringLiteral("1.xml")));
    Result<PageSheet> wrongName =
        readPageSheet(fx.write(workingFile(numberedRows(3))), QStringLiteral("other"));
    EXPECT_FALSE(wrongName.isOk());
    EXPECT_TRUE(wrongName.status().message().contains(QStringLiteral("“other”")));

    // No field row (duplicate and empty texts in every row): found, but refused for writing.
    Result<PageSheet> noFields = readPageSheet(
        fx.write(workingFile({QStringLiteral("a|a|b"), QStringLiteral("1||2")})), QStringLiteral("明细"));
    ASSERT_TRUE(noFields.isOk());
    EXPECT_EQ(noFields.value().fieldRow, -1);
    EXPECT_FALSE(writePageSubtotals(noFields.value(), options(4, 2, {0}), target).isOk());
    EXPECT_FALSE(QFile::exists(target));

    // A result beyond the last row of a sheet: nothing is written, an older file stays.
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    Result<PageSheet> tall = readPageSheet(
        fx.write(workingFile(
            numberedRows(3),
            QStringLiteral(
                "   <Row ss:Index=\"1048575\"><Cell><Data ss:Type=\"Number\">1</Data></Cell></Row>\n"))),
        QStringLiteral("明细"));
    ASSERT_TRUE(tall.isOk());
    const Status over = writePageSubtotals(tall.value(), options(2, 2, {2}), target);
    EXPECT_FALSE(over.isOk());
    EXPECT_TRUE(over.message().contains(QStringLiteral("1048576"))) << over.message().toStdString();
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "old");
    old.close();

    // 3.xml that cannot be written: the message names it.
    Result<PageSheet> good = readPageSheet(fx.write(workingFile(numberedRows(3))), QStringLiteral("明细"));
    ASSERT_TRUE(good.isOk());
    const Status unwritable =
        writePageSubtotals(good.value(), options(2, 2, {2}), fx.path(QStringLiteral("no/3.xml")));
    EXPECT_FALSE(unwritable.isOk());
    EXPECT_TRUE(unwritable.message().contains(QStringLiteral("3.xml"))) << unwritable.message().toStdString();
}

TEST(PageSubtotals, ReadsUtf16WorkingFilesAndConvertsToTheOutput) {
    Fixture fx;
    const QString utf8 = QString::fromUtf8(workingFile(numberedRows(5)));
    QByteArray utf16("\xFF\xFE", 2);
    utf16.append(reinterpret_cast<const char*>(utf8.utf16()), utf8.size() * 2);
    Result<PageSheet> sheet = readPageSheet(fx.write(utf16), QStringLiteral("明细"));
    ASSERT_TRUE(sheet.isOk()) << sheet.status().message().toStdString();
    EXPECT_EQ(sheet.value().dataRows(), 5);
    const QString xml = fx.path(QStringLiteral("3.xml"));
    ASSERT_TRUE(writePageSubtotals(sheet.value(), options(3, 2, {2}), xml).isOk());
    const QString out = fx.path(QStringLiteral("报表_分页汇总.xls"));
    ASSERT_TRUE(convertPageSubtotals(xml, out).isOk());
    Workbook book;
    ASSERT_TRUE(readWorkbook(out, book).isOk());
    EXPECT_EQ(rowText(book.sheets[1], 8), QStringLiteral("|合计|#150"));
    // A conversion that cannot replace the output keeps the old file and says so.
    const Status failed = convertPageSubtotals(xml, fx.path(QStringLiteral("missing/报表_分页汇总.xls")));
    EXPECT_FALSE(failed.isOk());
    EXPECT_TRUE(failed.message().contains(QStringLiteral("报表_分页汇总.xls")));
}
