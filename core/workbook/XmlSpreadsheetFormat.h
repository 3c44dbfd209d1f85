#pragma once
// XML Spreadsheet 2003 (SpreadsheetML, ".xml"): the format of the working files "1.xml"
// and "2.xml" and of ".xls" output that Excel and LibreOffice open.
//
// The reader streams the document through XmlScanner (no tree) and matches elements and
// attributes by local name, so any prefix works. It honours ss:Index on rows, columns and
// cells, ss:MergeAcross/ss:MergeDown, ss:Span, styles (fill, font, alignment, number
// format, with inheritance from "Default" and ss:Parent), column widths, row heights,
// page setup, manual row breaks, print titles and the active sheet. A cell beyond
// XFD1048576, malformed XML or a DOCTYPE ends the read with a Status naming the file,
// line and offset; the workbook is then left empty.
//
// The writer streams through a buffered QSaveFile and writes everything the Workbook model
// carries, so reading back what it wrote gives the same model. Cells inside a merged area
// other than its top-left cell are not written (the format has no place for them).

#include "workbook/WorkbookFormat.h"
#include "workbook/XmlScanner.h"

namespace quellar {

class XmlSpreadsheetFormat final : public WorkbookFormat {
public:
    FileKind kind() const override { return FileKind::XmlSpreadsheet; }
    bool recognizes(const QByteArray& head) const override;
    Status read(const QString& path, Workbook& workbook) const override;
    Status write(const Workbook& workbook, const QString& path) const override;

    // Reads from any byte source; messages carry no file name (the caller adds it).
    static Status readFrom(ByteSource& source, Workbook& workbook);
};

} // namespace quellar
