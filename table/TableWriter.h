#pragma once
// Writing an operation's result table into a sheet of a workbook: what the result pane
// shows and what is exported.
//
// The sheet with the given 1-based number is cleared (sheets are added when the workbook
// has fewer), renamed, and receives the table: Covered cells are skipped, TextOnly cells
// get only their text, fill and alignments, Anchor cells merge their block first, Single
// cells also carry font, colour, row height (cell 0) and column width (row 0).
//
// Texts are interpreted as if typed, but nothing is lost: a text becomes a number only
// when the number reads back as exactly that text (15.500000, -3); 007, 1,234 and long
// digit strings stay texts, unchanged.

#include "components/Workbook.h"
#include "table/Progress.h"
#include "table/RowTable.h"

namespace quellar {

Status writeTableToSheet(Workbook& book, int sheetNumber, const QString& sheetName, const RowTable& table,
                         Progress& progress, int64_t step);

// A ResultSink that writes into a workbook and also keeps each written table, for output
// formats that list the tables as the operation left them (JSON, CSV).
class WorkbookSink : public ResultSink {
public:
    // keepTables: also keep a copy of every written table (needed only for JSON and CSV).
    explicit WorkbookSink(Workbook& book, bool keepTables = true) : book_(book), keepTables_(keepTables) {}
    Status writeResult(int sheetNumber, const QString& sheetName, const RowTable& table, Progress& progress,
                       int64_t step) override;
    // The table last written to sheet `sheetNumber`, or nullptr.
    const RowTable* tableFor(int sheetNumber) const;

private:
    Workbook& book_;
    bool keepTables_;
    std::vector<std::pair<int, RowTable>> tables_;
};

} // namespace quellar
