#pragma once
// Office Open XML workbooks (.xlsx, .xlsm): the reader and the writer.
//
// The reader opens the package read-only through ZipArchive and streams every part through
// XmlScanner, so a sheet part is never held whole. It reads the workbook part and its
// relationships (targets written absolute or relative), sheet names, order, hidden sheets and
// the active sheet, the 1904 date system and print titles; shared strings (plain and rich
// text, phonetic runs left out); styles (number formats including the built-in ones, fonts,
// fills as the nearest palette colour plus the exact colour, alignments); and for each sheet
// its cells (numbers exact, text, booleans, errors, dates by their number format, formulas
// with their cached values), merged areas, column widths, row heights, hidden rows, page
// setup and manual row breaks. Shared strings and the first sheet are read on two threads, and
// the rows of a large sheet are parsed in pieces on two cores (see RowPieces).
//
// Anything malformed or hostile (see ZipArchive for the container; a DOCTYPE, deep nesting,
// a cell beyond XFD1048576, a shared-string or style index that does not exist, a cell count
// past the limit) ends the read with a Status naming the file and the part, and leaves the
// workbook empty.
//
// The writer writes the package with our own zip layer (ZipWriter): every sheet in order with
// its name, values with their types (texts inline), formulas, number formats, fills, fonts,
// alignments, merges, column widths, row heights, hidden rows and sheets, the active sheet,
// page setup, print titles and manual breaks, each part in its schema's element order. Sheet
// parts are generated straight from the model and deflated (ISA-L) in pieces on two cores;
// memory stays a few pieces whatever the size. The file is built as a temporary file and
// renamed into place only when complete, so a failure or a cancel leaves any earlier file
// untouched and no file behind.

#include "workbook/ExcelConventions.h"
#include "workbook/WorkbookFormat.h"

#include <QString>
#include <QStringView>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quellar {

class Progress;

class XlsxFormat final : public WorkbookFormat {
public:
    FileKind kind() const override { return FileKind::Xlsx; }
    bool recognizes(const QByteArray& head) const override; // a zip container
    Status read(const QString& path, Workbook& workbook) const override;
    Status write(const Workbook& workbook, const QString& path) const override;
    // Reads the sheet list, styles and shared strings, then only the chosen sheet, streaming
    // its used range when asked (falling back to reading it whole when its rows are out of order).
    Status readTable(const QString& path, Workbook& workbook, SheetTableRequest& request) const override;

private:
    Status readWith(const QString& path, Workbook& workbook, SheetTableRequest* request) const;
};

namespace xlsx {

// What a long write reports to and listens to: the bar runs over the rows written, and once
// `cancel` is set the write stops at the next piece of about 16,384 cells and returns
// Status::cancelled(), leaving neither the file nor a temporary file.
struct XlsxWriteControl {
    Progress* progress = nullptr;
    const std::atomic<bool>* cancel = nullptr;
};
Status writeXlsx(const Workbook& workbook, const QString& path, const XlsxWriteControl& control);

// "B12" -> row 11, column 1 (0-based). False for anything else, or beyond XFD1048576.
bool parseCellReference(std::string_view text, int32_t& row, int32_t& column);

// Sheet parts read their plainest cells straight from the bytes and leave the rest to the
// general XML scanner. Tests turn the shortcut off to check that both give the same workbook.
void setPlainCellPath(bool enabled);
bool plainCellPath();

// A sheet part larger than `floor` bytes has its rows read in pieces of about `pieceBytes` on
// two cores. Tests make both small so that small workbooks are read that way too; a pieceBytes
// of 0 reads every part in one go.
struct RowPieces {
    size_t pieceBytes = size_t(2) << 20;
    uint64_t floor = uint64_t(4) << 20;
};
void setRowPieces(RowPieces pieces);
RowPieces rowPieces();

// A date written as ISO 8601 (2024-03-01, 2024-03-01T10:20:30) as a 1900-system day serial.
bool isoDateToSerial(std::string_view text, double& serial);

} // namespace xlsx

} // namespace quellar
