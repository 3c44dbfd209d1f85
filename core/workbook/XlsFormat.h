#pragma once
// Legacy Excel workbooks (.xls, BIFF5/BIFF8 in a compound document), read through FreeXL.
//
// FreeXL gives sheet names and cell values with their types: numbers, texts, and dates,
// date-times and times (by the cell's number format), which become DateTime values. It
// gives no formatting, merged areas, column widths, row heights, formulas or hidden-sheet
// flags, so a workbook read from .xls has none of these (the README lists this limit).
// The file is opened read-only. A damaged file (a broken sector chain, a missing workbook
// stream, a bad string table), a password-protected one or a file that is not a workbook
// ends in a Status naming the file and what is wrong; the workbook is then left empty.
//
// FreeXL runs in a child process that hands the values back through a pipe: on some malformed
// files the library reads past its own buffers, and such a fault then ends the child with a
// message for the user instead of ending the program.
//
// Writing ".xls" produces XML Spreadsheet 2003 content under that name, as the grid's own
// export did; Excel and LibreOffice open it, and this program reads it back by content.

#include "workbook/WorkbookFormat.h"

namespace quellar {

// Test seam: called in the child process before it reads (a test makes it crash).
extern void (*xlsReaderChildHook)();

class XlsFormat final : public WorkbookFormat {
public:
    FileKind kind() const override { return FileKind::Xls; }
    bool recognizes(const QByteArray& head) const override; // a compound document
    Status read(const QString& path, Workbook& workbook) const override;
    Status write(const Workbook& workbook, const QString& path) const override;
};

} // namespace quellar
