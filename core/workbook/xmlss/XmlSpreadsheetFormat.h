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
#include "workbook/containers/XmlScanner.h"

#include <span>
#include <vector>

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

// A workbook written on another thread while its owner goes on showing it. Everything but
// the rows is copied when it is made, so the owner may change widths, protection or the
// active sheet meanwhile; the rows are read where they are, so the owner must neither change
// nor drop them (nor the cells' texts) until the write has ended. Moving the workbook is fine:
// a moved row vector keeps its storage.
class WorkbookInPlace {
public:
    explicit WorkbookInPlace(const Workbook& book);
    // The same bytes XmlSpreadsheetFormat::write gives for the workbook as it was when this
    // was made.
    Status writeXmlSpreadsheet(const QString& path) const;

private:
    Workbook layout_;                             // the sheets without their rows
    std::vector<std::span<const SheetRow>> rows_; // each sheet's rows, in place
};

} // namespace quellar
