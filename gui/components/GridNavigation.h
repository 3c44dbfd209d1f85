#pragma once
// Where the keyboard moves in a grid as it does in Excel: Ctrl+arrow goes to the edge of the
// data (the last filled cell of a run of filled cells, or the next filled cell after empty
// ones, or the grid's edge when nothing follows), Ctrl+End to the last used cell.
// Pure functions of a "filled" predicate, so the rules are tested without a window.

#include <functional>

namespace quellar {

struct GridCell {
    int row = 0; // 0-based
    int column = 0;
    bool operator==(const GridCell&) const = default;
};

// Whether the cell at (row, column), 0-based, holds a value.
using FilledCell = std::function<bool(int row, int column)>;

// The cell Ctrl+arrow reaches from `from` moving by (rowStep, columnStep) (one of them
// +1 or -1, the other 0) in a grid of `rows` x `columns`.
GridCell dataEdge(const FilledCell& filled, GridCell from, int rowStep, int columnStep, int rows,
                  int columns);

} // namespace quellar
