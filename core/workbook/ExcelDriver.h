#pragma once
// ExcelDriver: the workbook conversions the window asks for, done by our own workbook
// engine instead of a spreadsheet program.
//
// ConvertWorkbook reads any workbook the engine knows (chosen by content) and writes it in
// the format named by a format code: "46" gives XML Spreadsheet 2003 (the working files
// "1.xml" and "2.xml"), "51" gives ".xlsx", "56" (Excel's own code) and "1" (the code page
// subtotals use for their ".xls" output) give a real BIFF8 ".xls". The source is only
// read; the target is written to a temporary file and renamed into place, so a failure
// leaves an earlier target as it was. Every failure is returned as a Status whose message
// names the file and the reason.
//
// Showing a workbook to the user (ShowWorkbook) needs the desktop and lives with the
// window (app/DesktopShell.h).

#include "base/Status.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"

#include <QString>

namespace quellar {

// The file kind a format code asks for; FileKind::Unknown for a code we do not write.
FileKind fileKindForFormatCode(const QString& format);

// Refuses a `target` that is the file `source` itself: writing it would lose the source.
Status refuseWritingOverSource(const QString& source, const QString& target);

// Converts `source` into `target` in the format `format` ("46", "51", "56" or "1"). When
// `converted` is given it receives the workbook that was written, so a caller that shows
// the working file need not read it back; it is left untouched on failure.
Status ConvertWorkbook(const QString& source, const QString& target, const QString& format,
                       Workbook* converted = nullptr);

// The first row of page 2 of sheet `sheetNumber` (1-based) when printed: the first manual
// horizontal page break, else the first automatic one computed from the sheet's page setup
// and row heights; -1 when the file cannot be read or has no such sheet.
int FirstPageBreakRow(const QString& path, int sheetNumber);

} // namespace quellar
