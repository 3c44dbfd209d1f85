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
// digit strings stay texts, unchanged. Likewise a text that is exactly a date as the
// program writes dates (2015/1/1, 2015/1/1 9:05:07) becomes a date cell whose number format
// (yyyy/m/d, yyyy/m/d h:mm:ss) shows that same text; 2015-1-1 or 2015/2/30 stay texts.

#include "base/Progress.h"
#include "base/RowTable.h"
#include "workbook/Workbook.h"

namespace quellar {

Status writeTableToSheet(Workbook& book, int sheetNumber, const QString& sheetName, const RowTable& table,
                         Progress& progress, int64_t step);
// The same for a table nobody needs afterwards: each row is given back once written, so the
// table and the sheet made from it are never both whole in memory. The table is left empty.
Status writeTableToSheet(Workbook& book, int sheetNumber, const QString& sheetName, RowTable&& table,
                         Progress& progress, int64_t step);

// A ResultSink that writes into a workbook and also keeps each written table, for output
// formats that list the tables as the operation left them (JSON, CSV).
class WorkbookSink : public ResultSink {
public:
    // What the sink does with each table: write it into the workbook's sheet, keep a copy of
    // it (for outputs that list tables as the operation left them: JSON, CSV), or both.
    // KeepOnly still names (and adds) the sheet, so the workbook lists the result's sheets.
    enum class Mode { WriteOnly, KeepOnly, WriteAndKeep };
    explicit WorkbookSink(Workbook& book, Mode mode = Mode::WriteAndKeep)
        : book_(book)
        , mode_(mode) {}
    Status writeResult(int sheetNumber, const QString& sheetName, const RowTable& table, Progress& progress,
                       int64_t step) override;
    Status takeResult(int sheetNumber, const QString& sheetName, RowTable&& table, Progress& progress,
                      int64_t step) override;
    // The table last written to sheet `sheetNumber`, or nullptr.
    const RowTable* tableFor(int sheetNumber) const;

private:
    Workbook& book_;
    Mode mode_;
    std::vector<std::pair<int, RowTable>> tables_;
};

} // namespace quellar
