#pragma once
// Choosing, clipping and reading the range of a sheet that an operation works on.
//
// clipSourceRange trims a selection to the part of the sheet that holds text: a selection
// of whole columns, or one reaching past the filled part, ends at the last row and column
// that hold a non-empty text. readRange copies the range cell by cell into a RowTable:
// merged areas become an Anchor and Covered cells, every cell gets fill 2 (white), column
// widths are kept in row 0 and row heights in cell 0, values become text by variantToText.

#include "base/Progress.h"
#include "base/RowTable.h"
#include "workbook/Workbook.h"

#include <memory>

namespace quellar {

class PackedCells;

// The selection's bounds clipped to the sheet's used range and trimmed of empty trailing
// rows and columns; a selection past the filled part that holds no text at all becomes its
// first cell. Bounds are 1-based (RangeBounds).
RangeBounds clipSourceRange(const Sheet& sheet, RangeBounds selection);

// The used range of the sheet as a selection (A1 for a sheet without cells), clipped.
RangeBounds clipUsedRange(const Sheet& sheet);

// The most cells one read may hold (about 2.4 GB of records): a used range stretched to the
// far corner of the grid by a stray cell must end in a message, not in exhausted memory.
constexpr int64_t kMaxReadCells = 50'000'000;

// Ok when the range can be read; otherwise a message naming the range and its size.
Status checkReadableRange(const RangeBounds& bounds);

// Reads the cells inside `bounds` (an empty table when checkReadableRange refuses them). Advances `progress`
// by `step` before rows 0, step, 2*step, ... of the range.
RowTable readRange(const Workbook& book, const Sheet& sheet, const RangeBounds& bounds, Progress& progress,
                   int64_t step);
// The same for a workbook that is read only to get this table: each sheet row's cells are
// given back as soon as the row is read, so a large sheet is never held twice (once as the
// workbook's cells, once as the table). The sheet keeps its rows' heights, its merged areas
// and widths, but the cells of the rows in `bounds` are gone afterwards.
RowTable takeRange(const Workbook& book, Sheet& sheet, const RangeBounds& bounds, Progress& progress,
                   int64_t step);
// The same for a workbook that is kept: each row's cells are packed into `packed` as soon as
// the row is read (PackedCells), and packed.unpack(book) gives them back, so the workbook and
// the table are not both whole in memory.
RowTable takeRange(Workbook& book, int sheetIndex, const RangeBounds& bounds, PackedCells& packed,
                   Progress& progress, int64_t step);

// The table of a sheet's used range, made while the sheet is read: a reader that streams hands
// over each row as soon as it is complete, in order, and its cells become records at once and
// are given back, so a large sheet is never held twice and is walked only once. The result is
// the table clipUsedRange and takeRange would give for the sheet.
class UsedRangeStream {
public:
    UsedRangeStream();
    ~UsedRangeStream();
    UsedRangeStream(const UsedRangeStream&) = delete;
    UsedRangeStream& operator=(const UsedRangeStream&) = delete;

    // Called by the reader once the workbook's styles are read, before the first row.
    void start(const Workbook& book);
    // Takes a complete row: its cells become records and `row` is left without cells. False
    // when rows or cells come out of order, or when the table would pass kMaxReadCells: the
    // stream is then unusable and the sheet must be read whole.
    bool takeRow(SheetRow& row);

    // After the last row: the range clipUsedRange gives for the sheet (which holds the merged
    // areas, widths and row heights but no cells).
    RangeBounds bounds(const Sheet& sheet) const;
    // The table of `bounds` (those from bounds()); the stream is used up.
    RowTable take(const Sheet& sheet, const RangeBounds& bounds, Progress& progress, int64_t step);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Parses "A1:D20" or "B3" (case-insensitive) into 1-based bounds; false when it is not a
// range within XFD1048576.
bool parseRangeText(QStringView text, RangeBounds& bounds);

} // namespace quellar
