#include "components/SheetPane.h"

#include "components/CellDelegate.h"
#include "components/SheetPaneModel.h"
#include "components/TextOverflow.h"
#include "workbook/RangeReader.h"
#include "workbook/TableWriter.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <thread>
#include <unordered_map>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace quellar {

namespace {

// More merged areas than this are shown as spans only near the visible part of the sheet,
// so that a sheet with a merge on every row still scrolls smoothly.
constexpr size_t kAllSpansLimit = 3000;
// Rows drawn with their own height; beyond this many the rest keep the common height.
constexpr size_t kRowHeightLimit = 50000;

// The rows of all of a workbook's sheets: what decides whether it is large.
size_t rowCount(const Workbook& book) {
    size_t rows = 0;
    for (const Sheet& sheet : book.sheets)
        rows += sheet.rows.size();
    return rows;
}

// Gives the heap's free pages back to the system. glibc keeps freed memory for reuse, and a
// million-row result freed in small blocks would otherwise stay resident next to the next.
void releaseFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace

// The table view of a pane: copying the selection as tab-separated text, clearing cells
// with Delete in an editable sheet, keeping the merged-area spans near the view, and drawing
// the texts that run on over their empty neighbours.
class SheetGridView : public QTableView {
public:
    explicit SheetGridView(SheetPane* pane)
        : QTableView(pane)
        , pane_(pane) {}
    std::function<void()> onScrolled;

protected:
    void scrollContentsBy(int dx, int dy) override {
        QTableView::scrollContentsBy(dx, dy);
        if (dy != 0 && onScrolled) onScrolled();
    }
    void paintEvent(QPaintEvent* event) override {
        QTableView::paintEvent(event);
        QPainter painter(viewport());
        paintOverflowingTexts(*this, *pane_->model(), painter, event->rect());
    }
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override {
        QTableView::dataChanged(topLeft, bottomRight, roles);
        // A changed cell can lengthen or cut a neighbour's text: its whole rows are drawn again.
        if (!topLeft.isValid() || !bottomRight.isValid()) return;
        const int top = rowViewportPosition(topLeft.row());
        const int bottom = rowViewportPosition(bottomRight.row()) + rowHeight(bottomRight.row());
        viewport()->update(QRect(0, top, viewport()->width(), bottom - top));
    }
    void resizeEvent(QResizeEvent* event) override {
        QTableView::resizeEvent(event);
        if (onScrolled) onScrolled();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (pane_->handleEverydayKey(event)) return;
        if (event->matches(QKeySequence::Copy)) {
            pane_->copySelection();
            return;
        }
        if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) &&
            state() != EditingState) {
            clearSelection();
            return;
        }
        QTableView::keyPressEvent(event);
    }

private:
    void clearSelection() {
        auto* m = pane_->model();
        if (!m->isEditable()) return;
        const RangeBounds b = pane_->selection();
        const RangeBounds used = SheetPane::usedRangeBounds(pane_->activeSheet());
        for (int r = b.firstRow; r <= std::min(b.lastRow, used.lastRow); ++r)
            for (int c = b.firstColumn; c <= std::min(b.lastColumn, used.lastColumn); ++c)
                if (m->cellAt(r - 1, c - 1)) m->setCellText(r - 1, c - 1, QString());
    }

    SheetPane* pane_;
};

SheetPane::SheetPane(QWidget* parent)
    : QWidget(parent)
    , book_(Workbook::makeDefault()) {
    model_ = new SheetPaneModel(this);
    view_ = new SheetGridView(this);
    view_->setModel(model_);
    view_->setItemDelegate(new CellDelegate(view_));
    view_->setWordWrap(false);
    view_->setCornerButtonEnabled(true);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectItems);
    view_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    view_->setShowGrid(true);
    view_->setGridStyle(Qt::SolidLine);
    view_->setStyleSheet(
        QStringLiteral("QTableView { gridline-color: #dadcdf; background: white; border: 1px solid #c4c8cc; }"
                       "QHeaderView::section { background: #f3f4f6; color: #444; border: none;"
                       " border-right: 1px solid #d6d8db; border-bottom: 1px solid #d6d8db; padding: 0 4px; }"
                       "QTableCornerButton::section { background: #f3f4f6; border: none;"
                       " border-right: 1px solid #d6d8db; border-bottom: 1px solid #d6d8db; }"));
    view_->horizontalHeader()->setHighlightSections(true);
    view_->verticalHeader()->setHighlightSections(true);
    view_->verticalHeader()->setMinimumWidth(36);
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->onScrolled = [this] { updateSpans(); };

    tabs_ = new QTabBar(this);
    tabs_->setShape(QTabBar::RoundedSouth);
    tabs_->setDocumentMode(true);
    tabs_->setExpanding(false);
    tabs_->setDrawBase(false);
    tabs_->setUsesScrollButtons(true);
    tabs_->setElideMode(Qt::ElideRight);
    tabs_->setStyleSheet(QStringLiteral(
        "QTabBar::tab { padding: 2px 14px; min-width: 48px; background: #eceef0; border: 1px solid #c4c8cc;"
        " border-top: none; margin-right: -1px; color: #333; }"
        "QTabBar::tab:selected { background: white; color: #217346; font-weight: bold; }"));
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        if (!rebuildingTabs_ && index >= 0) setActiveSheet(index);
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view_, 1);
    // The sheet tabs, and on the right what enableDifferenceTools adds.
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(8);
    bottom->addWidget(tabs_, 0, Qt::AlignLeft);
    bottom->addStretch(1);
    layout->addLayout(bottom);

    sheetSelections_.assign(book_.sheets.size(), std::nullopt);
    showActiveSheet();
    buildEverydayActions();
}

SheetPane::~SheetPane() {
    if (letGo_.joinable()) letGo_.join();
}

QTableView* SheetPane::view() const {
    return view_;
}

void SheetPane::setExtent(int rows, int columns) {
    model_->setExtent(rows, columns);
    showActiveSheet();
}

void SheetPane::setWorkbook(Workbook book, std::optional<RangeBounds> selection) {
    showWorkbook(std::move(book), {}, selection);
}

void SheetPane::showWorkbook(Workbook book, std::vector<std::optional<SheetDifferences>> differences,
                             std::optional<RangeBounds> selection, PackedCells packed) {
    if (book.sheets.empty()) {
        Sheet sheet;
        sheet.name = QStringLiteral("Sheet1");
        book.sheets.push_back(std::move(sheet));
    }
    if (book.activeSheet < 0 || size_t(book.activeSheet) >= book.sheets.size()) book.activeSheet = 0;
    model_->setSheet(nullptr, -1); // the view lets go of the old workbook before it goes
    letGo(std::exchange(book_, std::move(book)), std::move(packed));
    differences_ = std::move(differences);
    sheetSelections_.assign(book_.sheets.size(), std::nullopt);
    sheetSelections_[size_t(book_.activeSheet)] = selection;
    showActiveSheet();
}

Status SheetPane::loadFile(const QString& path) {
    Workbook book;
    Status status = readWorkbook(path, book);
    if (!status.isOk()) return status;
    setWorkbook(std::move(book));
    return Status::ok();
}

Status SheetPane::exportWorkbook(const QString& path, FileKind kind) const {
    return writeWorkbook(book_, path, kind);
}

void SheetPane::setActiveSheet(int index) {
    if (index < 0 || size_t(index) >= book_.sheets.size()) return;
    if (index == book_.activeSheet && model_->sheetIndex() == index) return;
    if (size_t(book_.activeSheet) < sheetSelections_.size())
        sheetSelections_[size_t(book_.activeSheet)] = selection();
    book_.activeSheet = index;
    showActiveSheet();
    emit sheetChanged(index);
}

void SheetPane::clearSheet(int number) {
    if (number < 1 || number > sheetCount()) return;
    setScreenUpdating(false);
    book_.sheets[size_t(number - 1)].clear();
    keepDifferences(number, std::nullopt);
    setScreenUpdating(true);
}

void SheetPane::renameSheet(int number, const QString& name) {
    if (number < 1 || number > sheetCount()) return;
    book_.sheets[size_t(number - 1)].name = name;
    rebuildTabs();
}

int SheetPane::addSheet(const QString& name) {
    Sheet sheet;
    sheet.name = name;
    setScreenUpdating(false);
    book_.sheets.push_back(std::move(sheet));
    setScreenUpdating(true);
    return sheetCount();
}

void SheetPane::protectActiveSheet() {
    book_.sheets[size_t(book_.activeSheet)].isProtected = true;
}

void SheetPane::protectAll() {
    for (Sheet& sheet : book_.sheets)
        sheet.isProtected = true;
}

void SheetPane::setEditable(bool editable) {
    model_->setEditable(editable);
}

RangeBounds SheetPane::wholeSheet() const {
    return RangeBounds{1, 1, model_->extentColumns(), model_->extentRows()};
}

RangeBounds SheetPane::usedRangeBounds(const Sheet& sheet) {
    const std::optional<CellRange> used = sheet.usedRange();
    if (!used) return RangeBounds{};
    return RangeBounds{used->firstColumn + 1, used->firstRow + 1, used->lastColumn + 1, used->lastRow + 1};
}

RangeBounds SheetPane::selection() const {
    const QItemSelection sel = view_->selectionModel()->selection();
    if (sel.isEmpty()) {
        const QModelIndex current = view_->currentIndex();
        if (!current.isValid()) return RangeBounds{};
        return RangeBounds{current.column() + 1, current.row() + 1, current.column() + 1, current.row() + 1};
    }
    RangeBounds b{kMaxColumns + 1, kMaxRows + 1, 0, 0};
    for (const QItemSelectionRange& r : sel) {
        b.firstColumn = std::min(b.firstColumn, r.left() + 1);
        b.firstRow = std::min(b.firstRow, r.top() + 1);
        b.lastColumn = std::max(b.lastColumn, r.right() + 1);
        b.lastRow = std::max(b.lastRow, r.bottom() + 1);
    }
    return b;
}

void SheetPane::select(const RangeBounds& range) {
    const int rows = model_->extentRows(), columns = model_->extentColumns();
    const int top = std::clamp(std::min(range.firstRow, range.lastRow), 1, rows) - 1;
    const int bottom = std::clamp(std::max(range.firstRow, range.lastRow), 1, rows) - 1;
    const int left = std::clamp(std::min(range.firstColumn, range.lastColumn), 1, columns) - 1;
    const int right = std::clamp(std::max(range.firstColumn, range.lastColumn), 1, columns) - 1;
    const QModelIndex topLeft = model_->index(top, left);
    QItemSelectionModel* sm = view_->selectionModel();
    // The current cell moves first, without touching the selection, so that only one
    // change of the selection is reported.
    sm->setCurrentIndex(topLeft, QItemSelectionModel::NoUpdate);
    sm->select(QItemSelection(topLeft, model_->index(bottom, right)), QItemSelectionModel::ClearAndSelect);
    view_->scrollTo(topLeft, QAbstractItemView::EnsureVisible);
    updateSpans();
}

void SheetPane::selectUsedRange() {
    select(usedRangeBounds(activeSheet()));
}

void SheetPane::setScreenUpdating(bool on) {
    if (on == screenUpdating_) return;
    screenUpdating_ = on;
    if (!on) {
        if (size_t(book_.activeSheet) < sheetSelections_.size())
            sheetSelections_[size_t(book_.activeSheet)] = selection();
        view_->setUpdatesEnabled(false);
        model_->setSheet(nullptr, -1);
        return;
    }
    if (book_.activeSheet < 0 || size_t(book_.activeSheet) >= book_.sheets.size()) book_.activeSheet = 0;
    sheetSelections_.resize(book_.sheets.size());
    showActiveSheet();
    view_->setUpdatesEnabled(true);
}

Status SheetPane::writeResult(int sheetNumber, const QString& sheetName, const RowTable& table,
                              Progress& progress, int64_t step) {
    std::optional<SheetDifferences> differences = indexDifferences(sheetNumber, table);
    if (building_) {
        const Status status = writeTableToSheet(*building_, sheetNumber, sheetName, table, progress, step);
        if (status.isOk()) keepDifferences(sheetNumber, std::move(differences));
        return status;
    }
    const Status status = writeResultRows(
        sheetNumber, [&] { return writeTableToSheet(book_, sheetNumber, sheetName, table, progress, step); });
    if (status.isOk()) keepDifferences(sheetNumber, std::move(differences));
    return status;
}

Status SheetPane::takeResult(int sheetNumber, const QString& sheetName, RowTable&& table, Progress& progress,
                             int64_t step) {
    std::optional<SheetDifferences> differences = indexDifferences(sheetNumber, table);
    if (building_) {
        const Status status =
            writeTableToSheet(*building_, sheetNumber, sheetName, std::move(table), progress, step);
        if (status.isOk()) keepDifferences(sheetNumber, std::move(differences));
        return status;
    }
    const Status status = writeResultRows(sheetNumber, [&] {
        return writeTableToSheet(book_, sheetNumber, sheetName, std::move(table), progress, step);
    });
    if (status.isOk()) keepDifferences(sheetNumber, std::move(differences));
    return status;
}

Status SheetPane::writeResultRows(int sheetNumber, const std::function<Status()>& write) {
    const bool wasUpdating = screenUpdating_;
    setScreenUpdating(false);
    // The sheet being replaced is set aside, not cleared, until the new one is complete: a
    // failure (a Status, or an exception such as an allocation failure) puts it back, so the
    // pane stays as it was.
    const size_t sheetCount = book_.sheets.size();
    const size_t index = size_t(std::max(sheetNumber, 1) - 1);
    std::optional<Sheet> previous;
    if (sheetNumber >= 1 && index < sheetCount) {
        Sheet fresh = book_.sheets[index].emptyCopy();
        previous = std::move(book_.sheets[index]);
        book_.sheets[index] = std::move(fresh);
    }
    auto restore = [&] {
        book_.sheets.resize(sheetCount);
        if (previous) book_.sheets[index] = std::move(*previous);
        if (wasUpdating) setScreenUpdating(true);
    };
    Status status;
    try {
        status = write();
    } catch (...) {
        restore();
        throw;
    }
    if (!status.isOk()) {
        restore();
        return status;
    }
    previous.reset();
    if (size_t(sheetNumber) <= sheetSelections_.size()) sheetSelections_[index] = std::nullopt;
    if (wasUpdating) setScreenUpdating(true);
    return status;
}

void SheetPane::startResult() {
    building_.emplace(Workbook::makeDefault());
    buildingDifferences_.clear();
    resultStarted_ = true;
    // The view lets go of a large workbook now, so that the thread building the result may
    // pack it; the pane keeps the picture it shows until finishResult.
    packWhenStarted_ = rowCount(book_) >= kLetGoAsideRows;
    if (packWhenStarted_) letViewGo();
}

void SheetPane::packLastResult() {
    // The result let go before has given its memory back before the new one takes any.
    if (letGo_.joinable()) letGo_.join();
    if (!packWhenStarted_ || !packed_.empty()) return;
    // A failure to pack (memory) leaves the rows not packed as they were; finishResult gives
    // back those that were.
    packed_.pack(book_);
    releaseFreedMemory();
}

void SheetPane::finishResult(bool succeeded) {
    if (!resultStarted_) return;
    resultStarted_ = false;
    std::optional<Workbook> built = std::exchange(building_, std::nullopt);
    std::vector<std::optional<SheetDifferences>> differences = std::move(buildingDifferences_);
    buildingDifferences_.clear();
    const bool viewLetGo = std::exchange(packWhenStarted_, false);
    if (built && succeeded) {
        model_->setCellsHidden(false); // the new workbook's cells are there to read
        showWorkbook(std::move(*built), std::move(differences), std::nullopt, std::move(packed_));
    } else if (built) {
        letGo(std::move(*built));
    }
    if (viewLetGo) showAgain();
}

RowTable SheetPane::takeShownRange(const RangeBounds& bounds, Progress& progress, int64_t step) {
    return takeRange(book_, book_.activeSheet, bounds, packed_, progress, step);
}

void SheetPane::unpackCells() {
    if (packed_.empty()) return;
    try {
        packed_.unpack(book_);
    } catch (const std::bad_alloc&) {
        // Without the memory to give them all back the pane starts empty rather than showing
        // part of its workbook.
        packed_.clear();
        cellsLost_ = true;
    }
}

void SheetPane::letViewGo() {
    // The grid keeps the picture it shows (its row and column headers are drawn as before).
    view_->viewport()->setUpdatesEnabled(false);
    model_->setCellsHidden(true);
}

void SheetPane::showAgain() {
    unpackCells();
    model_->setCellsHidden(false);
    if (std::exchange(cellsLost_, false)) showWorkbook(Workbook::makeDefault(), {});
    view_->viewport()->setUpdatesEnabled(true);
}

void SheetPane::letGo(Workbook book, PackedCells packed) {
    if (rowCount(book) < kLetGoAsideRows && packed.rows() < kLetGoAsideRows) return; // freed here, at once
    // Millions of cells take most of a second to free: that happens beside the user-interface
    // thread, and the freed pages go back to the system afterwards, not after the next result
    // was built beside them.
    if (letGo_.joinable()) letGo_.join();
    letGo_ = std::thread([book = std::move(book), packed = std::move(packed)]() mutable {
        book = Workbook();
        packed.clear();
        releaseFreedMemory();
    });
}

void SheetPane::rebuildTabs() {
    rebuildingTabs_ = true;
    while (tabs_->count() > int(book_.sheets.size()))
        tabs_->removeTab(tabs_->count() - 1);
    for (size_t i = 0; i < book_.sheets.size(); ++i) {
        const QString name = book_.sheets[i].name;
        if (int(i) < tabs_->count())
            tabs_->setTabText(int(i), name);
        else
            tabs_->addTab(name);
        tabs_->setTabToolTip(int(i), name);
    }
    tabs_->setCurrentIndex(book_.activeSheet);
    rebuildingTabs_ = false;
}

void SheetPane::showActiveSheet() {
    if (!screenUpdating_) return;
    rebuildTabs();
    QItemSelectionModel* sm = view_->selectionModel();
    const QSignalBlocker blockSelection(sm);
    model_->setSheet(&book_, book_.activeSheet);
    applyDifferenceFilter();
    view_->setFont(model_->defaultFont());
    applyGeometry();
    std::optional<RangeBounds> remembered;
    if (size_t(book_.activeSheet) < sheetSelections_.size())
        remembered = sheetSelections_[size_t(book_.activeSheet)];
    // A sheet shown for the first time starts at A1, or with its filled part selected.
    if (!remembered) remembered = firstSelectionIsUsedRange_ ? usedRangeBounds(activeSheet()) : RangeBounds{};
    select(*remembered);
    onSelectionChanged();
    // Every later selection change is reported from here.
    connect(sm, &QItemSelectionModel::selectionChanged, this, &SheetPane::onSelectionChanged,
            Qt::UniqueConnection);
    updateDifferenceStatus();
}

void SheetPane::onSelectionChanged() {
    emit selectionChanged(selection());
}

int SheetPane::rowPixels(double points) const {
    return std::max(1, int(std::lround(points * 96.0 / 72.0 * rowScale_)));
}

void SheetPane::applyGeometry() {
    const Sheet* sheet = model_->sheet();
    QHeaderView* columns = view_->horizontalHeader();
    QHeaderView* rows = view_->verticalHeader();
    const double defaultWidth = sheet ? sheet->defaultColumnWidth : 54;
    const double defaultHeight = sheet ? sheet->defaultRowHeight : 13.5;

    // Row heights are meant for the workbook's own fonts (宋体 is about one em high); the
    // fonts that stand in for them here are taller, so every row grows in proportion until
    // a row of the standard height fits a line of the default font.
    const double fontSize = model_->defaultFont().pointSizeF() > 0 ? model_->defaultFont().pointSizeF() : 11;
    const double standardPixels = fontSize * 13.5 / 11.0 * 96.0 / 72.0;
    rowScale_ = std::max(1.0, double(QFontMetrics(view_->font()).height()) / standardPixels);

    columns->setUpdatesEnabled(false);
    rows->setUpdatesEnabled(false);
    columns->setMinimumSectionSize(4);
    rows->setMinimumSectionSize(4);
    columns->setDefaultSectionSize(SheetPaneModel::pointsToPixels(defaultWidth));

    // Rows of the sheet's own height are drawn uniformly; when most stored rows share one
    // other height, that becomes the uniform height and only the rest are sized one by one.
    std::unordered_map<int, size_t> heightCounts;
    size_t customRows = 0;
    if (sheet) {
        for (const SheetRow& row : sheet->rows)
            if (row.height >= 0) {
                ++heightCounts[rowPixels(row.height)];
                ++customRows;
            }
    }
    int uniform = rowPixels(defaultHeight);
    if (sheet && customRows > sheet->rows.size() / 2 && !heightCounts.empty()) {
        const auto most = std::max_element(heightCounts.begin(), heightCounts.end(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
        uniform = most->first;
    }
    rows->setDefaultSectionSize(uniform);
    // Sizes of a previous sheet go back to the defaults.
    rows->reset();
    columns->reset();
    // While only some rows are shown, view rows are not sheet rows: they keep the common
    // height and no merged areas are drawn.
    const bool someRows = model_->showsSomeRows();
    if (sheet) {
        for (const auto& [column, width] : sheet->columnWidths)
            if (column >= 0 && column < model_->extentColumns())
                columns->resizeSection(column, SheetPaneModel::pointsToPixels(width));
        size_t sized = someRows ? kRowHeightLimit : 0;
        for (const SheetRow& row : sheet->rows) {
            if (row.height < 0 || row.index >= model_->extentRows()) continue;
            const int px = row.hidden ? 0 : rowPixels(row.height);
            if (px == uniform) continue;
            if (++sized > kRowHeightLimit) break;
            rows->resizeSection(row.index, px);
        }
    }
    columns->setUpdatesEnabled(true);
    rows->setUpdatesEnabled(true);

    // Merged areas.
    view_->clearSpans();
    mergesByRow_.clear();
    spanTop_ = spanBottom_ = -1;
    tallestMerge_ = 1;
    windowedSpans_ = false;
    if (!sheet || someRows) return;
    if (sheet->merges.size() <= kAllSpansLimit) {
        for (const CellRange& m : sheet->merges) {
            if (m.rowCount() * int64_t(m.columnCount()) <= 1) continue;
            if (m.lastRow >= model_->extentRows() || m.lastColumn >= model_->extentColumns()) continue;
            view_->setSpan(m.firstRow, m.firstColumn, m.rowCount(), m.columnCount());
        }
        return;
    }
    windowedSpans_ = true;
    mergesByRow_.resize(sheet->merges.size());
    for (size_t i = 0; i < mergesByRow_.size(); ++i) {
        mergesByRow_[i] = i;
        tallestMerge_ = std::max(tallestMerge_, sheet->merges[i].rowCount());
    }
    std::sort(mergesByRow_.begin(), mergesByRow_.end(),
              [&](size_t a, size_t b) { return sheet->merges[a].firstRow < sheet->merges[b].firstRow; });
    updateSpans();
}

void SheetPane::updateSpans() {
    const Sheet* sheet = model_->sheet();
    if (!windowedSpans_ || !sheet) return;
    int top = view_->rowAt(0);
    int bottom = view_->rowAt(view_->viewport()->height() - 1);
    if (top < 0) top = 0;
    if (bottom < 0) bottom = top + 200;
    if (spanTop_ >= 0 && top >= spanTop_ && bottom <= spanBottom_) return;
    spanTop_ = std::max(0, top - 300);
    spanBottom_ = bottom + 300;
    view_->clearSpans();
    const auto& merges = sheet->merges;
    const int64_t from = int64_t(spanTop_) - tallestMerge_ + 1;
    auto it = std::lower_bound(mergesByRow_.begin(), mergesByRow_.end(), from,
                               [&](size_t i, int64_t row) { return merges[i].firstRow < row; });
    for (; it != mergesByRow_.end() && merges[*it].firstRow <= spanBottom_; ++it) {
        const CellRange& m = merges[*it];
        if (m.lastRow < spanTop_ || m.rowCount() * int64_t(m.columnCount()) <= 1) continue;
        if (m.lastRow >= model_->extentRows() || m.lastColumn >= model_->extentColumns()) continue;
        view_->setSpan(m.firstRow, m.firstColumn, m.rowCount(), m.columnCount());
    }
}

} // namespace quellar
