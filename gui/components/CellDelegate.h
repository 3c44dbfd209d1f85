#pragma once
// CellDelegate: draws one cell of a grid pane as spreadsheet programs do. The cell's own
// fill stays under the selection tint, and a number or date never shows cut: when its text
// is wider than the cell, a number under General is shown with fewer decimals or in
// scientific form, and a date or formatted number that still does not fit fills the cell
// with "#". A text too long for its cell is left to the grid view, which draws it running on
// over the empty cells beside it (TextOverflow); wrapped texts and merged areas are elided.
//
// The choice among the shorter forms is fitCellText, a pure function of the candidate
// texts (DisplayFormat::narrowTexts, through the model), the room and the font metrics.

#include <QColor>
#include <QFontMetricsF>
#include <QStyledItemDelegate>

#include <vector>

namespace quellar {

// The first of `texts` whose width is at most `available` pixels; when none fits, as many
// "#" as fit (at least one). `texts` must not be empty.
QString fitCellText(const std::vector<QString>& texts, qreal available, const QFontMetricsF& metrics);

class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // The text the cell `index` shows in `option.rect` with `option.font`: its display text
    // when it fits, otherwise what fitCellText chooses among the model's narrower forms.
    QString shownText(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    // The pixels left and right of a cell's text that the style keeps free.
    static int textPadding(const QWidget* widget);
    // The tint laid over selected cells.
    static QColor selectionTint();

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace quellar
