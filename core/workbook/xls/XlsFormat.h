#pragma once
// Legacy Excel workbooks (.xls): BIFF8 (Excel 97–2003) and BIFF5 (Excel 5.0/95) record
// streams in a compound file, read and written by this program's own code.
//
// Reading: CompoundFile finds the "Workbook" (or "Book") stream, in any letter case, and
// BiffReader reads it into the model with values, cached formula results, number formats,
// fonts, fills, alignment, merged areas, column widths, row heights, page setup, manual row
// breaks and the active sheet (see BiffReader.h). The file is opened read-only and read in
// process: every size and position the file declares is checked before use, so a damaged or
// hostile file ends in a Status naming the file and what is wrong, and the workbook is left
// empty. An encrypted workbook (FILEPASS, or an .xlsx with a password to open, which Office
// stores in a compound file) is named as such.
//
// Writing: a BIFF8 workbook in a compound file (BiffWriter), built beside the target and
// renamed into place only when complete; a sheet beyond 65,536 rows or 256 columns is refused
// with a message that names the limit and suggests .xlsx, and the earlier file is kept.

#include "workbook/WorkbookFormat.h"

namespace quellar {

class RandomAccessBytes;

class XlsFormat final : public WorkbookFormat {
public:
    FileKind kind() const override { return FileKind::Xls; }
    bool recognizes(const QByteArray& head) const override; // a compound document
    Status read(const QString& path, Workbook& workbook) const override;
    Status write(const Workbook& workbook, const QString& path) const override;

    // Reads a workbook from the bytes of a compound file; the message names no file.
    static Status readFrom(const RandomAccessBytes& source, Workbook& workbook);
};

} // namespace quellar
