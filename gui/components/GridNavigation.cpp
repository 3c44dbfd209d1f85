#include "components/GridNavigation.h"

namespace quellar {

GridCell dataEdge(const FilledCell& filled, GridCell from, int rowStep, int columnStep, int rows,
                  int columns) {
    auto inside = [&](const GridCell& c) {
        return c.row >= 0 && c.row < rows && c.column >= 0 && c.column < columns;
    };
    auto step = [&](const GridCell& c) { return GridCell{c.row + rowStep, c.column + columnStep}; };
    GridCell next = step(from);
    if (!inside(next)) return from;
    if (filled(from.row, from.column) && filled(next.row, next.column)) {
        // Inside a run of filled cells: to its last cell.
        for (GridCell after = step(next); inside(after) && filled(after.row, after.column);
             after = step(after))
            next = after;
        return next;
    }
    // At the end of a run or on an empty cell: to the next filled cell, else the grid's edge.
    for (GridCell c = next; inside(c); c = step(c)) {
        if (filled(c.row, c.column)) return c;
        next = c;
    }
    return next;
}

} // namespace quellar
