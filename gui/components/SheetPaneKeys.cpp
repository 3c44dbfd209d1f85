// The everyday habits of a spreadsheet in a grid pane: Excel's moves with Ctrl+Home/End and
// Ctrl+arrows, copying, find (Ctrl+F, F3, Shift+F3), fitting a column to its texts, and the
// context menu that offers them.

#include "components/CellDelegate.h"
#include "components/FindBar.h"
#include "components/GridNavigation.h"
#include "components/SheetPane.h"
#include "components/SheetPaneModel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>

namespace quellar {
namespace {

// Copying more cells than this to the clipboard is refused (the text would be huge).
constexpr int64_t kCopyLimit = 2'000'000;
// Fitting a column measures at most this many rows, so that it answers at once on a
// million-row sheet; the widest texts of a list are almost always among them.
constexpr size_t kAutoFitRows = 200'000;
// At most this many selected columns are fitted at once.
constexpr int kAutoFitColumns = 256;

bool holdsValue(const Cell* cell) {
    return cell && cell->value.type() != CellValue::Type::Empty;
}

} // namespace

void SheetPane::buildEverydayActions() {
    findBar_ = new FindBar(this);
    findBar_->find = [this](const QString& text, bool backward) { return findText(text, backward); };
    findBar_->closed = [this] { view()->setFocus(Qt::OtherFocusReason); };
    if (auto* box = qobject_cast<QVBoxLayout*>(layout())) box->insertWidget(0, findBar_);

    auto add = [this](const QString& text, const QKeySequence& keys, auto&& run) {
        auto* action = new QAction(text, this);
        // Shown in the menu only: the grid's key handling does the work.
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
        connect(action, &QAction::triggered, this, run);
        contextActions_.append(action);
    };
    add(QStringLiteral("复制"), QKeySequence::Copy, [this] { copySelection(); });
    add(QStringLiteral("全选"), QKeySequence::SelectAll, [this] { view()->selectAll(); });
    add(QStringLiteral("自动调整列宽"), QKeySequence(), [this] { autoFitColumns(); });
    add(QStringLiteral("查找…"), QKeySequence::Find, [this] { openFind(); });

    view()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view(), &QWidget::customContextMenuRequested, this, &SheetPane::showContextMenu);
}

void SheetPane::addContextAction(QAction* action) {
    contextActions_.append(action);
    // The window's own actions keep their window-wide shortcuts.
    if (action->parent() == this) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
    }
}

void SheetPane::addContextSeparator() {
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    contextActions_.append(separator);
}

void SheetPane::showContextMenu(const QPoint& position) {
    QMenu menu(this);
    menu.addActions(contextActions_);
    menu.exec(view()->viewport()->mapToGlobal(position));
}

bool SheetPane::handleEverydayKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    if (event->key() == Qt::Key_F3 && !ctrl) {
        findAgain(shift);
        return true;
    }
    if (event->matches(QKeySequence::Find)) {
        openFind();
        return true;
    }
    if (!ctrl || (mods & ~(Qt::ControlModifier | Qt::ShiftModifier))) return false;
    switch (event->key()) {
    case Qt::Key_Home:
        goToFirstCell(shift);
        return true;
    case Qt::Key_End:
        goToLastUsedCell(shift);
        return true;
    case Qt::Key_Up:
        goToDataEdge(-1, 0, shift);
        return true;
    case Qt::Key_Down:
        goToDataEdge(1, 0, shift);
        return true;
    case Qt::Key_Left:
        goToDataEdge(0, -1, shift);
        return true;
    case Qt::Key_Right:
        goToDataEdge(0, 1, shift);
        return true;
    default:
        return false;
    }
}

GridCell SheetPane::movingEnd() const {
    const QModelIndex current = view()->currentIndex();
    if (!current.isValid()) return GridCell{};
    const RangeBounds b = selection();
    const int row = current.row() == b.firstRow - 1 ? b.lastRow - 1 : b.firstRow - 1;
    const int column = current.column() == b.firstColumn - 1 ? b.lastColumn - 1 : b.firstColumn - 1;
    return GridCell{row, column};
}

void SheetPane::moveTo(const GridCell& target, bool extend) {
    const QModelIndex current = view()->currentIndex();
    if (!extend || !current.isValid()) {
        select(RangeBounds{target.column + 1, target.row + 1, target.column + 1, target.row + 1});
        return;
    }
    // The current cell stays where it is; the selection reaches from it to the target.
    const QModelIndex topLeft =
        model_->index(std::min(current.row(), target.row), std::min(current.column(), target.column));
    const QModelIndex bottomRight =
        model_->index(std::max(current.row(), target.row), std::max(current.column(), target.column));
    view()->selectionModel()->select(QItemSelection(topLeft, bottomRight),
                                     QItemSelectionModel::ClearAndSelect);
    view()->scrollTo(model_->index(target.row, target.column), QAbstractItemView::EnsureVisible);
    updateSpans();
}

void SheetPane::goToFirstCell(bool extend) {
    moveTo(GridCell{0, 0}, extend);
}

void SheetPane::goToLastUsedCell(bool extend) {
    const std::optional<CellRange> used = activeSheet().usedRange();
    const GridCell last = used ? GridCell{std::min(used->lastRow, model_->extentRows() - 1),
                                          std::min(used->lastColumn, model_->extentColumns() - 1)}
                               : GridCell{};
    moveTo(last, extend);
}

void SheetPane::goToDataEdge(int rowStep, int columnStep, bool extend) {
    const QModelIndex current = view()->currentIndex();
    const GridCell from =
        extend ? movingEnd() : (current.isValid() ? GridCell{current.row(), current.column()} : GridCell{});
    const SheetPaneModel* m = model_;
    const GridCell target = dataEdge([m](int row, int column) { return holdsValue(m->cellAt(row, column)); },
                                     from, rowStep, columnStep, m->extentRows(), m->extentColumns());
    moveTo(target, extend);
}

void SheetPane::copySelection() const {
    const RangeBounds b = selection();
    const int64_t cells = int64_t(b.lastRow - b.firstRow + 1) * (b.lastColumn - b.firstColumn + 1);
    if (cells > kCopyLimit) return;
    // Do not run past the filled part of the sheet.
    const RangeBounds used = usedRangeBounds(activeSheet());
    const int lastRow = std::min(b.lastRow, used.lastRow),
              lastColumn = std::min(b.lastColumn, used.lastColumn);
    QString text;
    for (int r = b.firstRow; r <= std::max(lastRow, b.firstRow); ++r) {
        for (int c = b.firstColumn; c <= std::max(lastColumn, b.firstColumn); ++c) {
            if (c > b.firstColumn) text += u'\t';
            text += model_->displayText(r - 1, c - 1);
        }
        text += u'\n';
    }
    QApplication::clipboard()->setText(text);
}

void SheetPane::autoFitColumns() {
    const Sheet* sheet = model_->sheet();
    if (!sheet) return;
    const RangeBounds b = selection();
    const int first = b.firstColumn - 1;
    const int last = std::min({b.lastColumn - 1, first + kAutoFitColumns - 1, model_->extentColumns() - 1});
    if (first < 0 || last < first) return;
    std::vector<qreal> widest(size_t(last - first + 1), 0);
    const QFontMetricsF plain(view()->font());
    std::map<uint32_t, QFontMetricsF> styled; // by style, for cells with a font of their own
    size_t scanned = 0;
    for (const SheetRow& row : sheet->rows) {
        if (++scanned > kAutoFitRows) break;
        auto cell = std::lower_bound(row.cells.begin(), row.cells.end(), uint32_t(first),
                                     [](const Cell& c, uint32_t column) { return c.column < column; });
        for (; cell != row.cells.end() && cell->column <= uint32_t(last); ++cell) {
            if (!holdsValue(&*cell)) continue;
            // A merged area takes the room of all its columns; Excel leaves it out too.
            if (!sheet->merges.empty()) {
                const CellRange* merge = sheet->mergeContaining(row.index, int32_t(cell->column));
                if (merge && merge->columnCount() > 1) continue;
            }
            const QString text = model_->displayText(row.index, int(cell->column));
            if (text.isEmpty()) continue;
            const QVariant font = model_->data(model_->index(row.index, int(cell->column)), Qt::FontRole);
            const QFontMetricsF* metrics = &plain;
            if (font.isValid()) metrics = &styled.try_emplace(cell->style, font.value<QFont>()).first->second;
            qreal& w = widest[cell->column - uint32_t(first)];
            w = std::max(w, metrics->horizontalAdvance(text));
        }
    }
    // Room for the style's margins and the grid line.
    const int padding = CellDelegate::textPadding(view()) + 2;
    Sheet& shown = book_.sheets[size_t(book_.activeSheet)];
    for (int c = first; c <= last; ++c) {
        const qreal w = widest[size_t(c - first)];
        if (w <= 0) {
            shown.columnWidths.erase(c);
            view()->setColumnWidth(c, SheetPaneModel::pointsToPixels(shown.defaultColumnWidth));
            continue;
        }
        const int pixels = std::min(int(std::ceil(w)) + padding, 2000);
        shown.columnWidths[c] = pixels * 0.75;
        view()->setColumnWidth(c, pixels);
    }
}

void SheetPane::openFind() {
    findBar_->open();
}

bool SheetPane::findAgain(bool backward) {
    if (findBar_->text().isEmpty()) {
        openFind();
        return false;
    }
    const bool found = findText(findBar_->text(), backward);
    findBar_->showOutcome(found);
    return found;
}

bool SheetPane::findText(const QString& text, bool backward) {
    const Sheet* sheet = model_->sheet();
    if (!sheet || text.isEmpty() || sheet->rows.empty()) return false;
    const std::vector<SheetRow>& rows = sheet->rows;
    const size_t n = rows.size();
    const QModelIndex current = view()->currentIndex();
    const int currentRow = current.isValid() ? current.row() : 0;
    const int currentColumn = current.isValid() ? current.column() : -1;
    auto matches = [&](const SheetRow& row, const Cell& cell) {
        return holdsValue(&cell) &&
               model_->displayText(row.index, int(cell.column)).contains(text, Qt::CaseInsensitive);
    };
    auto found = [&](const SheetRow& row, const Cell& cell) {
        moveTo(GridCell{row.index, int(cell.column)}, false);
        return true;
    };
    auto byIndex = [](const SheetRow& r, int32_t index) { return r.index < index; };
    // The current row is looked at twice: past the current cell first, before it last.
    if (!backward) {
        const size_t start =
            size_t(std::lower_bound(rows.begin(), rows.end(), currentRow, byIndex) - rows.begin());
        for (size_t step = 0; step <= n; ++step) {
            const SheetRow& row = rows[(start + step) % n];
            const bool currentOne = row.index == currentRow;
            for (const Cell& cell : row.cells) {
                const bool passed = currentOne && int(cell.column) <= currentColumn;
                if ((step == 0 && passed) || (step == n && !passed)) continue;
                if (matches(row, cell)) return found(row, cell);
            }
        }
        return false;
    }
    const auto after = std::upper_bound(rows.begin(), rows.end(), currentRow,
                                        [](int32_t index, const SheetRow& r) { return index < r.index; });
    const size_t start = after == rows.begin() ? n - 1 : size_t(after - rows.begin()) - 1;
    for (size_t step = 0; step <= n; ++step) {
        const SheetRow& row = rows[(start + n - step % n) % n];
        const bool currentOne = row.index == currentRow;
        for (auto cell = row.cells.rbegin(); cell != row.cells.rend(); ++cell) {
            const bool passed = currentOne && int(cell->column) >= currentColumn;
            if ((step == 0 && passed) || (step == n && !passed)) continue;
            if (matches(row, *cell)) return found(row, *cell);
        }
    }
    return false;
}

} // namespace quellar
