#pragma once
// PageSubtotals: a copy of one worksheet of an XML Spreadsheet working file in which,
// after every block of R data rows (one printed page), a row "小计" carries the sums of
// the chosen columns over that block, and a last row "合计" carries the sums over all
// data rows. The working file is only read; the result is written as a new XML
// Spreadsheet file (UTF-16LE with a byte-order mark) and then converted into the output
// workbook next to the source.
//
// The working file of a million-row sheet is some 600 MB, and a document tree of all of it
// would need several GB. So the file is scanned once to find the worksheet, its Table and
// the place of every Row; the field row is looked for in document trees of a few thousand
// rows at a time. Writing scans the data rows again, adds up the sum columns as the cells
// go by and copies the rows as they stand; the row that ends a block is parsed as a
// document tree of its own, and its emptied copy, given the label and the sums, becomes
// the subtotal row (the grand-total row is a copy of the last subtotal row). Everything
// outside the worksheet's rows is copied unchanged.
//
// Reading the rows as texts follows the cells' ss:Index (a row with gaps keeps its
// columns). In a sum column a Data of type Number counts with its value however it is
// spelt (10000000, 1E+7, 1.5e-3); other texts count by the strict number rule (12a and
// blanks count 0). A subtotal or grand-total row is a deep copy of the row it follows (its
// attributes and styles kept), with every cell emptied, the label "小计"/"合计" in the
// label column and the sums ("%f", typed Number) in the sum columns; a subtotal of 0 is
// left empty. A copied row that has no cell at the label column or at a sum column gets
// one there. Later rows that name their sheet row (ss:Index) are moved down by the rows
// inserted before them, a cell merged down past the end of its block is merged only to
// the block's end (the subtotal row is never covered), and the Table's
// ss:ExpandedRowCount counts the rows written.
//
// Nothing is written when the result would not fit one worksheet (1,048,576 rows); every
// failure is a Status naming the file and the reason.

#include "base/RowTable.h"
#include "base/Status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace quellar {

// One worksheet of a working file, as found by readPageSheet.
struct PageSheet {
    QString xmlPath;
    QString sheetName;
    FieldList fields;      // the texts of the field row
    int64_t fieldRow = -1; // h: 0-based index of the field row among the Row elements; -1 when none
    int64_t rowCount = 0;  // n: the Row elements of the Table

    int64_t dataRows() const { return fieldRow < 0 ? 0 : rowCount - fieldRow - 1; }

    // Where things are in `bytes` (the file as UTF-8), for writing.
    QByteArray bytes;
    qint64 tableTagStart = 0; // the Table start tag
    qint64 tableTagEnd = 0;
    qint64 tableContentEnd = 0;        // where the Table's end tag starts
    std::vector<qint64> rowStarts;     // the start tag of every Row
    std::vector<int32_t> rowPositions; // the 1-based sheet row of every Row
    int64_t expandedRowCount = -1;     // as read; -1 when the attribute is missing
};

// What the user chose.
struct PageSubtotalOptions {
    int rowsPerPage = 0;         // R, at least 1
    int labelColumn = 2;         // 1-based column of "小计"/"合计"; 0 writes them nowhere
    std::vector<int> sumColumns; // 0-based columns to sum
};

// What writing did, and how long its parts took (seconds).
struct PageSubtotalInfo {
    int64_t subtotalRows = 0;
    int64_t writtenRows = 0; // the new ss:ExpandedRowCount
    double treeSeconds = 0;  // building the new rows as document trees
    double writeSeconds = 0; // scanning the rows, summing, and writing 3.xml
};

// Reads worksheet `sheetName` (compared exactly) of the working file: finds the Workbook
// element, the Worksheet whose ss:Name is the name, its Table, every Row, and the field
// row (the first row whose texts are all non-empty and pairwise different). The whole
// file is checked to be well-formed XML. A missing file, a broken file, a missing
// worksheet or Table give an error; a sheet without field row is not an error
// (fieldRow stays -1).
Result<PageSheet> readPageSheet(const QString& xmlPath, const QString& sheetName);

// The proposed rows per page: the rows of the first printed page (the page break row b,
// -1 when none) less the rows up to the field row h and one row for the subtotal, at
// least 6 and at most 99.
int proposedRowsPerPage(int pageBreakRow, int64_t fieldRow);

// The labels offered for the sum columns ("C (金额)"), and the 0-based columns of chosen
// labels.
QStringList pageSumLabels(const FieldList& fields);
std::vector<int> pageSumColumns(const QStringList& labels);

// Writes the worksheet with its subtotal rows, inside an otherwise unchanged copy of the
// working file, to `target` (UTF-16LE, byte-order mark, CR LF at the end; through a
// temporary file, so a failure leaves an earlier target as it was).
Status writePageSubtotals(const PageSheet& sheet, const PageSubtotalOptions& options, const QString& target,
                          PageSubtotalInfo* info = nullptr);

// The output workbook of page subtotals for source workbook `file1`: next to it, its name
// without the extension followed by "_分页汇总.xls" (报表.xlsx gives 报表_分页汇总.xls).
QString pageSubtotalOutputPath(const QString& file1);

// Converts the written file into the output workbook; the format follows the output's
// extension (.xlsx a zip package, .xml XML Spreadsheet, anything else .xls BIFF8). An
// earlier output is replaced only once the new one is complete.
Status convertPageSubtotals(const QString& xmlPath, const QString& output);

} // namespace quellar
