#include "components/TextOverflow.h"

#include "components/CellDelegate.h"
#include "components/SheetPaneModel.h"

#include <QBrush>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QTableView>

#include <algorithm>
#include <vector>

namespace quellar {
namespace {

// How many columns beyond the visible ones are looked at for a text that starts out of view
// and runs into it (besides the limit of one view's width).
constexpr int kLookBeyond = 256;

bool inMergedArea(const QTableView& view, int row, int column) {
    return view.rowSpan(row, column) > 1 || view.columnSpan(row, column) > 1;
}

// The width of the cell's text when it is one drawn over its neighbours; negative otherwise.
double overflowingWidth(const QTableView& view, const SheetPaneModel& model, int row, int column,
                        const QString& text, const QFont& font) {
    if (text.isEmpty() || !model.mayOverflow(row, column) || inMergedArea(view, row, column)) return -1;
    const int grid = view.showGrid() ? 1 : 0;
    const double room = view.columnWidth(column) - grid - CellDelegate::textPadding(&view);
    const double width = QFontMetricsF(font).horizontalAdvance(text);
    return width > room ? width : -1;
}

} // namespace

TextSpan textSpan(int horizontalAlignment, int cellWidth, int margin, double textWidth) {
    if (horizontalAlignment & Qt::AlignRight)
        return {cellWidth - margin - textWidth, double(cellWidth - margin)};
    if (horizontalAlignment & Qt::AlignHCenter)
        return {(cellWidth - textWidth) / 2, (cellWidth + textWidth) / 2};
    return {double(margin), margin + textWidth};
}

ColumnRun overflowColumns(int column, const TextSpan& span, const std::function<int(int)>& widthOf,
                          const std::function<bool(int)>& blocked, int lowest, int highest) {
    ColumnRun run{column, column};
    double right = widthOf(column);
    while (span.right > right && run.last < highest && !blocked(run.last + 1))
        right += widthOf(++run.last);
    double left = 0;
    while (span.left < left && run.first > lowest && !blocked(run.first - 1))
        left -= widthOf(--run.first);
    return run;
}

bool drawnByOverflow(const QTableView& view, const SheetPaneModel& model, int row, int column,
                     const QString& text, const QFont& font) {
    return overflowingWidth(view, model, row, column, text, font) >= 0;
}

void paintOverflowingTexts(const QTableView& view, const SheetPaneModel& model, QPainter& painter,
                           const QRect& exposed) {
    if (!model.sheet() || model.rowCount() == 0) return;
    const int columns = model.columnCount();
    const int firstRow = view.rowAt(exposed.top());
    const int firstColumn = view.columnAt(0);
    if (firstRow < 0 || firstColumn < 0) return;
    int lastRow = view.rowAt(exposed.bottom());
    if (lastRow < 0) lastRow = model.rowCount() - 1;
    const int viewWidth = view.viewport()->width();
    int lastColumn = view.columnAt(viewWidth - 1);
    if (lastColumn < 0) lastColumn = columns - 1;

    const int grid = view.showGrid() ? 1 : 0;
    const int margin = CellDelegate::textPadding(&view) / 2;
    const QItemSelectionModel* selection = view.selectionModel();
    const auto widthOf = [&](int column) { return view.columnWidth(column); };
    std::vector<int> sources;
    for (int row = firstRow; row <= lastRow; ++row) {
        if (view.isRowHidden(row)) continue;
        const auto blocked = [&](int column) {
            return model.hasContent(row, column) || inMergedArea(view, row, column);
        };
        // The texts that may run on: in the visible columns, and the nearest one on either
        // side out of view, which may run into it.
        sources.clear();
        for (int column = firstColumn; column <= lastColumn; ++column)
            if (model.mayOverflow(row, column)) sources.push_back(column);
        for (int step : {-1, 1}) {
            int pixels = 0;
            for (int column = step < 0 ? firstColumn - 1 : lastColumn + 1, looked = 0;
                 column >= 0 && column < columns && pixels < viewWidth && looked < kLookBeyond;
                 column += step, ++looked) {
                if (blocked(column)) {
                    if (model.mayOverflow(row, column)) sources.push_back(column);
                    break;
                }
                pixels += widthOf(column);
            }
        }

        const int top = view.rowViewportPosition(row);
        const int height = view.rowHeight(row) - grid;
        for (int column : sources) {
            const QModelIndex index = model.index(row, column);
            const QString text = model.displayText(row, column);
            QFont font = view.font();
            if (const QVariant own = model.data(index, Qt::FontRole); own.isValid())
                font = qvariant_cast<QFont>(own).resolve(font);
            const double textWidth = overflowingWidth(view, model, row, column, text, font);
            if (textWidth < 0) continue;
            const int alignment = model.data(index, Qt::TextAlignmentRole).toInt();
            const TextSpan span =
                textSpan(alignment & Qt::AlignHorizontal_Mask, widthOf(column) - grid, margin, textWidth);
            // Looking one column beyond the visible ones is enough: the drawing stops there.
            const ColumnRun run = overflowColumns(column, span, widthOf, blocked,
                                                  std::max(0, std::min(column, firstColumn - 1)),
                                                  std::min(columns - 1, std::max(column, lastColumn + 1)));
            const int x = view.columnViewportPosition(column);
            const int left = view.columnViewportPosition(run.first);
            const int right = view.columnViewportPosition(run.last) + widthOf(run.last) - grid;

            painter.save();
            painter.setClipRect(QRect(left, top, right - left, height) & exposed);
            // The grid lines inside the text's extent are not drawn, as in a spreadsheet.
            for (int c = run.first; grid && c < run.last; ++c) {
                if (widthOf(c) == 0) continue;
                const QRect line(view.columnViewportPosition(c) + widthOf(c) - 1, top, 1, height);
                const QVariant fill = model.data(model.index(row, c), Qt::BackgroundRole);
                painter.fillRect(line, fill.isValid() ? fill.value<QBrush>() : QBrush(Qt::white));
                if (selection && selection->isSelected(model.index(row, c)) &&
                    selection->isSelected(model.index(row, c + 1)))
                    painter.fillRect(line, CellDelegate::selectionTint());
            }
            const QVariant foreground = model.data(index, Qt::ForegroundRole);
            painter.setPen(foreground.isValid() ? foreground.value<QBrush>().color()
                                                : view.palette().color(QPalette::Text));
            painter.setFont(font);
            painter.drawText(QRectF(x + span.left, top, span.right - span.left + 1, height),
                             Qt::AlignLeft | (alignment & Qt::AlignVertical_Mask) | Qt::TextSingleLine |
                                 Qt::TextDontClip,
                             text);
            painter.restore();
        }
    }
}

} // namespace quellar
