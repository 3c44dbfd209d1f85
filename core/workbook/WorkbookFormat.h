#pragma once
// One reader/writer per workbook file format behind one interface, and the functions that
// pick the format: reading goes by the file's content (an .xls renamed .xlsx still opens),
// writing by the target's extension (case-insensitive).
//
// Readers open the source read-only and never write it. Writers write to a temporary file
// and rename it into place (QSaveFile), so a failure leaves any earlier file intact.
// Every failure comes back as a Status whose message names the file and what is wrong.

#include "workbook/Workbook.h"
#include "base/Status.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace quellar {

enum class FileKind { Unknown, XmlSpreadsheet, Xlsx, Xls, Csv, Json };

class WorkbookFormat {
public:
    virtual ~WorkbookFormat() = default;
    virtual FileKind kind() const = 0;
    // True when the first bytes of a file look like this format.
    virtual bool recognizes(const QByteArray& head) const = 0;
    virtual bool canRead() const { return true; }
    virtual bool canWrite() const { return true; }
    virtual Status read(const QString& path, Workbook& workbook) const = 0;
    virtual Status write(const Workbook& workbook, const QString& path) const = 0;
};

// The format registered for `kind`, or nullptr.
const WorkbookFormat* formatFor(FileKind kind);

// The kind a target path asks for by its extension: .xml, .xlsx/.xlsm, .xls, .csv, .json.
FileKind fileKindForPath(const QString& path);

// Reads a workbook, choosing the reader by content.
Status readWorkbook(const QString& path, Workbook& workbook);

// Writes a workbook in the format of `kind`.
Status writeWorkbook(const Workbook& workbook, const QString& path, FileKind kind);

} // namespace quellar
