#pragma once
// The record streams of legacy Excel workbooks ([MS-XLS]): BIFF8 (Excel 97–2003) and BIFF5
// (Excel 5.0/95), read into the workbook model.
//
// The globals substream gives the sheet list (worksheets only: chart, macro, dialog and module
// sheets are left out), the code page (BIFF5 text; Windows-1252 when the file names none), the
// date system, number formats (FORMAT records and the built-in ids, the East Asian date
// formats 27–36 and 50–58 among them), fonts, cell formats with their palette fills and
// alignment, the custom palette, the shared-string table across its CONTINUE records, the
// active tab (WINDOW1) and print titles. Each worksheet substream, found by its BOUNDSHEET
// position, gives its cells (NUMBER, RK, MULRK, LABELSST, LABEL, RSTRING, BLANK, MULBLANK,
// BOOLERR, and FORMULA with its cached result: a number, the text of the STRING record that
// follows, a boolean, an error or an empty text), merged areas, column widths, row heights
// and hidden rows, page setup, manual row breaks and protection. Booleans and errors become
// the same values the xlsx reader gives; numbers under a date format become date-times in
// the 1900 system whatever system the file uses. Formula texts are not decompiled: a formula
// cell holds its cached value.
//
// Nothing the file declares sizes memory: DIMENSIONS is ignored, string lengths are checked
// against the bytes present, nested BOF…EOF substreams (embedded charts) are skipped, and the
// model grows with the cells actually present (a cell count past kMaxWorkbookCells is
// refused). A workbook encrypted with a password to open (FILEPASS) is refused with
// kXlsEncryptedMessage.

#include "base/Status.h"
#include "workbook/Workbook.h"

namespace quellar {

class ByteStream;

// The message for a workbook that needs a password to open (.xls FILEPASS, or an .xlsx
// stored encrypted inside a compound file).
QString xlsEncryptedMessage();

namespace biff {

// Reads a workbook stream (the "Workbook" or "Book" stream of the compound file). On failure
// the message says what is wrong, without the file name, and `book` is left unspecified.
Status readWorkbookStream(ByteStream& stream, Workbook& book);

} // namespace biff

} // namespace quellar
