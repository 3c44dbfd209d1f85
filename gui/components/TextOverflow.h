#pragma once
// TextOverflow: a text too long for its cell runs on over the empty cells beside it, as
// spreadsheet programs draw it: a left-aligned (or General) text to the right, a right-aligned
// one to the left, a centred one both ways, each cut only at the next cell with content (or a
// merged area). Numbers and dates never run on (CellDelegate shortens them or shows "#"),
// neither do wrapped, filled or justified texts nor texts of merged areas.
//
// The delegate leaves such a text out of its cell (drawnByOverflow), and the grid view draws
// it afterwards over its whole extent (paintOverflowingTexts), hiding the grid lines inside
// that extent. Only the rows being drawn are looked at, and the neighbours only as far as the
// visible columns (plus a bounded look beyond them for a text that starts out of view), so
// a million-row sheet costs no more than a small one.

#include <QRect>

#include <functional>

class QFont;
class QPainter;
class QString;
class QTableView;

namespace quellar {

class SheetPaneModel;

// Where a text lies across its cell, in pixels from the cell's left edge: it starts `margin`
// inside the cell on the side it is aligned to (centred: around the cell's middle).
struct TextSpan {
    double left = 0;
    double right = 0;
};
TextSpan textSpan(int horizontalAlignment, int cellWidth, int margin, double textWidth);

// The columns a text of `column` covers: starting from the column, it takes the next column
// on the side where it still sticks out of the columns taken so far, as long as that column
// is empty (`blocked` false) and within [lowest, highest]. `widthOf` gives a column's width
// (the cell of `column` starts at 0); `span` is where the text lies.
struct ColumnRun {
    int first = 0;
    int last = 0;
};
ColumnRun overflowColumns(int column, const TextSpan& span, const std::function<int(int)>& widthOf,
                          const std::function<bool(int)>& blocked, int lowest, int highest);

// Whether the cell (row, column) shows a text that the grid draws over its neighbours rather
// than inside the cell: a text that may run on (SheetPaneModel::mayOverflow), outside merged
// areas, wider than the room of its cell. `text` and `font` are what the cell shows.
bool drawnByOverflow(const QTableView& view, const SheetPaneModel& model, int row, int column,
                     const QString& text, const QFont& font);

// Draws every such text of the view's rows within `exposed` (viewport coordinates) over its
// extent, after the view has drawn its cells.
void paintOverflowingTexts(const QTableView& view, const SheetPaneModel& model, QPainter& painter,
                           const QRect& exposed);

} // namespace quellar
