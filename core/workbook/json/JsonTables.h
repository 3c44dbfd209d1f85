#pragma once
// The JSON form of result tables, for scripts and tests of the command line:
//
//   {"sheets": [{"name": "对比结果", "rows": [[{"text": "a", "fill": 2, "merge": "single"}, …], …]}, …]}
//
// One object per sheet in order; a row lists its cells in order (rows may differ in length).
// A cell has its text, its fill colour index and its merge state: "single", "anchor" (then
// also "rows" and "cols"), "text-only" or "covered" (text "" and fill 0). A missing or empty
// table gives "rows": [].
//
// The text is streamed through a buffered QSaveFile (UTF-8, no byte-order mark), so nothing
// of a half-written file is left behind on failure; the Status names the path.

#include "base/RowTable.h"
#include "base/TextIO.h"
#include "workbook/WorkbookFormat.h"

#include <utility>
#include <vector>

namespace quellar {

Status writeJsonTables(const std::vector<std::pair<QString, const RowTable*>>& sheets, const QString& path);

// Writes the sheets one at a time, so only one table needs to be in memory.
class JsonTablesWriter {
public:
    explicit JsonTablesWriter(const QString& path)
        : out_(path) {}
    Status open();
    void addSheet(const QString& name, const RowTable* table);
    Status finish();

private:
    OutputFile out_;
    bool first_ = true;
};

// Workbooks as JSON (write only): each sheet's used range as the operations read it
// (clipUsedRange, then readRange): texts as variantToText gives them, fill 2, merged areas
// as anchor and covered cells; a sheet without cells gives "rows": [].
class JsonFormat final : public WorkbookFormat {
public:
    FileKind kind() const override { return FileKind::Json; }
    bool recognizes(const QByteArray&) const override { return false; }
    bool canRead() const override { return false; }
    Status read(const QString& path, Workbook& workbook) const override;
    Status write(const Workbook& workbook, const QString& path) const override;
};

} // namespace quellar
