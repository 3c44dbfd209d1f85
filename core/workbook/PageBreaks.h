#pragma once
// Where the first printed page of a sheet ends: the row that a spreadsheet program reports
// as the location of the sheet's first horizontal page break (the first row of page 2).
// Page subtotals use it to propose how many rows one printed page holds.
//
// The break is worked out from the workbook model alone, the way Excel and LibreOffice lay
// out a printout: manual breaks (Sheet::rowBreaks), the paper (size code and orientation),
// the top and bottom margins, the scale or fit-to-page setting, rows repeated as print
// titles, and the heights of the rows (custom heights, the sheet's default height for the
// others, nothing for hidden rows). docs/page-breaks.md says how closely this matches what
// LibreOffice prints.
//
// Pure functions; nothing is cached. Reading a workbook from a file reports its failure as
// a Status naming the file.

#include "base/Status.h"
#include "workbook/Workbook.h"

#include <QString>

namespace quellar {

struct PaperSize {
    double width = 0;  // points, portrait
    double height = 0; // points, portrait
};

// The paper of an Excel paper size code (1 Letter, 9 A4, 93 PRC 16K, ...), portrait, in
// points; A4 for a code that names no paper.
PaperSize paperSizeForCode(int code);

// The 1-based row number that starts page 2 of sheet `sheetNumber` (1-based) when it is
// printed from row 1:
// - the first manual break, unless the page fills up before it (a printout breaks at
//   whichever comes first);
// - otherwise the first automatic break. When the sheet's rows end before the first page
//   is full, the rows after them are taken at the default height, so a short sheet still
//   gives the length of a page;
// - with fit-to-page, the scale that fits the used rows into the requested number of pages
//   tall (and the used columns into the pages wide) is worked out first, and manual
//   breaks are ignored, as both programs do.
// -1 when nothing can be had: no such sheet, a sheet without rows or cells, fit to one
// page tall, margins that leave no room, or a first page that reaches past the last row
// of the grid.
int firstPageBreakRow(const Workbook& book, int sheetNumber);

// The same for the workbook file at `path` (any format readWorkbook knows); a file that
// cannot be read gives its Status.
Result<int> firstPageBreakRow(const QString& path, int sheetNumber);

} // namespace quellar
