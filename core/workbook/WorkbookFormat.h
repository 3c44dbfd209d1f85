#pragma once
// One reader/writer per workbook file format behind one interface, and the functions that
// pick the format: reading goes by the file's content (an .xls renamed .xlsx still opens),
// writing by the target's extension (case-insensitive).
//
// Readers open the source read-only and never write it. Writers write to a temporary file
// and rename it into place (QSaveFile), so a failure leaves any earlier file intact.
// Every failure comes back as a Status whose message names the file and what is wrong.

#include "base/Status.h"
#include "workbook/Workbook.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace quellar {

enum class FileKind { Unknown, XmlSpreadsheet, Xlsx, Xls, Csv, Json };

class UsedRangeStream;

// A workbook read for one sheet's table (readWorkbook with a request): the caller picks the
// sheet, and a reader that can streams that sheet's used range into `stream` instead of
// holding its cells, reading no other sheet's cells at all.
struct SheetTableRequest {
    // Picks the sheet from the workbook's sheets (names, order, hidden flags and the active
    // sheet; their cells may not be read yet), or fails with the message to give.
    std::function<Result<int>(const Workbook&)> choose;
    // Where the used range goes; nullptr to have the sheet read whole.
    UsedRangeStream* stream = nullptr;
    // Set by the reader: the sheet chosen, and whether its rows went to `stream`. When not, the
    // sheet is in the workbook with its cells.
    int sheet = -1;
    bool streamed = false;
};

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
    // Reads for one sheet's table. By default the whole workbook is read and the sheet chosen
    // after; a format that streams reads only what the table needs.
    virtual Status readTable(const QString& path, Workbook& workbook, SheetTableRequest& request) const;
};

// The format registered for `kind`, or nullptr.
const WorkbookFormat* formatFor(FileKind kind);

// The kind a target path asks for by its extension: .xml, .xlsx/.xlsm, .xls, .csv, .json.
FileKind fileKindForPath(const QString& path);

// Reads a workbook, choosing the reader by content; with a request, for one sheet's table
// (see SheetTableRequest). `workbook` receives the workbook only when it is read whole: after a
// failure, or a cancellation (Status::cancelled(), at the readers' cancellation points), it is
// as it was.
Status readWorkbook(const QString& path, Workbook& workbook, SheetTableRequest* request = nullptr);

// Writes a workbook in the format of `kind`.
Status writeWorkbook(const Workbook& workbook, const QString& path, FileKind kind);

} // namespace quellar
