#pragma once
// The differences of a comparison result as places to go to: which rows hold a red, yellow
// or green cell and which cells those are. Shared by "only the differences" (the command
// line keeps just those rows, the result pane hides the others) and by the next/previous
// difference keys of the result pane.

#include "base/RowTable.h"

#include <cstdint>
#include <vector>

namespace quellar {

// Every marked cell of a result table in reading order (row by row, left to right), with
// the rows that hold one. Built in one pass over the table.
struct DifferenceIndex {
    struct Cell {
        uint32_t row;
        uint32_t column;
    };
    std::vector<Cell> cells;
    std::vector<uint32_t> rows; // ascending, each once
    // Parallel to `rows`: 1 for a row of only one file, every mark of it yellow or every one
    // green; its marks are one stop when going from difference to difference.
    std::vector<uint8_t> oneSided;

    static DifferenceIndex build(const RowTable& table);

    // The first marked cell after (row, column) in reading order, or the last one before it
    // when `forward` is false; -1 when there is none. Binary search.
    int64_t next(uint32_t row, uint32_t column, bool forward) const;
    // The same, going from stop to stop (F8): a row of only one file is one stop, at its first
    // mark, so from anywhere on or after that mark forward goes on to the next row.
    int64_t nextStop(uint32_t row, uint32_t column, bool forward) const;
    bool isOneSided(uint32_t row) const;
};

// The 0-based row of table 2 that a comparison result row holds (its separator cell, at
// column `separator`, names it 1-based), or -1 for a row of table 1 left unpaired.
int64_t pairedRowOf(const Row& resultRow, size_t separator);

// The result rows worth keeping when only the differences are wanted: the field row
// `fieldRow` (when it is a row of the table) and every row holding a red, yellow or green
// cell, in their order.
RowTable keepDifferenceRows(RowTable&& result, int fieldRow);

} // namespace quellar
