#include "components/CellDelegate.h"

#include "components/SheetPaneModel.h"
#include "components/TextOverflow.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTableView>

#include <cmath>

namespace quellar {
namespace {

const QColor kSelectionTint(33, 115, 70, 48);
const QColor kCurrentFrame(33, 115, 70);

} // namespace

QString fitCellText(const std::vector<QString>& texts, qreal available, const QFontMetricsF& metrics) {
    for (const QString& text : texts)
        if (metrics.horizontalAdvance(text) <= available) return text;
    const qreal hash = metrics.horizontalAdvance(QChar(u'#'));
    const int count = hash > 0 ? int(std::floor(available / hash)) : 1;
    return QString(std::max(1, count), u'#');
}

QColor CellDelegate::selectionTint() {
    return kSelectionTint;
}

int CellDelegate::textPadding(const QWidget* widget) {
    const QStyle* style = widget ? widget->style() : QApplication::style();
    // The item views' style keeps this margin on either side of a cell's text.
    return 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1);
}

QString CellDelegate::shownText(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (option.text.isEmpty()) return option.text;
    const qreal available = option.rect.width() - textPadding(option.widget);
    const QFontMetricsF metrics(option.font);
    if (metrics.horizontalAdvance(option.text) <= available) return option.text;
    const auto* model = qobject_cast<const SheetPaneModel*>(index.model());
    if (!model) return option.text;
    const std::vector<QString> texts = model->narrowTexts(index.row(), index.column());
    return texts.empty() ? option.text : fitCellText(texts, available, metrics);
}

void CellDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    // Only a drawn cell has a width; a size hint measures the full text.
    if (option->rect.width() <= 0) return;
    const auto* view = qobject_cast<const QTableView*>(option->widget);
    const auto* model = qobject_cast<const SheetPaneModel*>(index.model());
    // A text running on over its neighbours is drawn by the view once every cell is drawn.
    if (view && model &&
        drawnByOverflow(*view, *model, index.row(), index.column(), option->text, option->font))
        option->text.clear();
    else
        option->text = shownText(*option, index);
}

void CellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    // The cell's own fill is painted under the selection, as spreadsheet programs do,
    // instead of being replaced by the highlight colour.
    QStyleOptionViewItem plain(option);
    const bool selected = option.state & QStyle::State_Selected;
    const bool current = option.state & QStyle::State_HasFocus;
    plain.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    // The view has already drawn the highlight under the cell; the cell's own fill (or the
    // paper) goes over it.
    const QVariant fill = index.data(Qt::BackgroundRole);
    painter->fillRect(option.rect, fill.isValid() ? fill.value<QBrush>() : QBrush(Qt::white));
    QStyledItemDelegate::paint(painter, plain, index);
    if (selected) painter->fillRect(option.rect, kSelectionTint);
    if (current) {
        painter->save();
        painter->setPen(QPen(kCurrentFrame, 2));
        painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
        painter->restore();
    }
}

} // namespace quellar
