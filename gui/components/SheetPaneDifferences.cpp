// The result pane's tools for the differences of a comparison: the index of marked cells
// made while a result is written, 只看差异 (only the field row and the marked rows), F8 /
// Shift+F8 to the next / previous marked cell (a row of only one file is one stop), and the
// grid's context menu.

#include "components/SheetPane.h"

#include "components/SheetPaneModel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QTableView>

#include <algorithm>

namespace quellar {

void SheetPane::takeLayout(int sheetNumber, const CompareLayout& layout) {
    layoutSheet_ = sheetNumber;
    layoutFieldRow_ = layout.fieldResultRow();
}

std::optional<SheetPane::SheetDifferences> SheetPane::indexDifferences(int sheetNumber,
                                                                       const RowTable& table) const {
    // Only comparison results (announced by their layout) have differences to go to.
    if (sheetNumber != layoutSheet_) return std::nullopt;
    SheetDifferences differences;
    differences.index = DifferenceIndex::build(table);
    differences.rows = table.size();
    std::vector<int32_t>& shown = differences.shownRows;
    shown.reserve(differences.index.rows.size() + 1);
    const int64_t fieldRow =
        layoutFieldRow_ >= 0 && size_t(layoutFieldRow_) < table.size() ? layoutFieldRow_ : -1;
    bool fieldRowPlaced = fieldRow < 0;
    for (uint32_t row : differences.index.rows) {
        if (!fieldRowPlaced && int64_t(row) >= fieldRow) {
            if (int64_t(row) != fieldRow) shown.push_back(int32_t(fieldRow));
            fieldRowPlaced = true;
        }
        shown.push_back(int32_t(row));
    }
    if (!fieldRowPlaced) shown.push_back(int32_t(fieldRow));
    return differences;
}

void SheetPane::keepDifferences(int sheetNumber, std::optional<SheetDifferences> differences) {
    if (sheetNumber == layoutSheet_) layoutSheet_ = 0; // the layout served this result
    if (sheetNumber < 1) return;
    if (building_) { // a result built aside: shown with it
        if (buildingDifferences_.size() < size_t(sheetNumber))
            buildingDifferences_.resize(size_t(sheetNumber));
        buildingDifferences_[size_t(sheetNumber - 1)] = std::move(differences);
        return;
    }
    if (differences_.size() < size_t(sheetNumber)) differences_.resize(size_t(sheetNumber));
    differences_[size_t(sheetNumber - 1)] = std::move(differences);
    if (sheetNumber - 1 == book_.activeSheet) updateDifferenceStatus();
}

const SheetPane::SheetDifferences* SheetPane::shownDifferences() const {
    const size_t index = size_t(book_.activeSheet);
    if (book_.activeSheet < 0 || index >= differences_.size() || !differences_[index]) return nullptr;
    return &*differences_[index];
}

void SheetPane::applyDifferenceFilter() {
    const SheetDifferences* differences = shownDifferences();
    if (onlyDifferences_ && differences && model_->sheet())
        model_->showOnlyRows(differences->shownRows);
    else
        model_->showAllRows();
}

void SheetPane::enableDifferenceTools() {
    if (onlyDifferencesBox_) return;
    onlyDifferencesBox_ = new QCheckBox(QStringLiteral("只看差异"), this);
    onlyDifferencesBox_->setToolTip(QStringLiteral("只显示字段行和有着色单元格的行"));
    differenceStatus_ = new QLabel(this);
    differenceStatus_->setStyleSheet(QStringLiteral("color: #555;"));
    if (auto* bottom = qobject_cast<QHBoxLayout*>(layout()->itemAt(layout()->count() - 1)->layout())) {
        bottom->addWidget(differenceStatus_);
        bottom->addWidget(onlyDifferencesBox_);
        bottom->addSpacing(6);
    }
    connect(onlyDifferencesBox_, &QCheckBox::toggled, this, &SheetPane::setOnlyDifferences);

    auto* next = new QAction(QStringLiteral("下一处差异"), this);
    next->setShortcut(QKeySequence(Qt::Key_F8));
    connect(next, &QAction::triggered, this, [this] { goToDifference(true); });
    auto* previous = new QAction(QStringLiteral("上一处差异"), this);
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F8));
    connect(previous, &QAction::triggered, this, [this] { goToDifference(false); });
    auto* only = new QAction(QStringLiteral("只看差异"), this);
    only->setCheckable(true);
    connect(only, &QAction::triggered, onlyDifferencesBox_, &QCheckBox::setChecked);
    connect(onlyDifferencesBox_, &QCheckBox::toggled, only, &QAction::setChecked);
    addContextSeparator();
    for (QAction* action : {next, previous, only})
        addContextAction(action);
    updateDifferenceStatus();
}

void SheetPane::setOnlyDifferences(bool on) {
    if (onlyDifferencesBox_ && onlyDifferencesBox_->isChecked() != on) {
        onlyDifferencesBox_->setChecked(on); // comes back here through toggled
        return;
    }
    if (onlyDifferences_ == on) return;
    onlyDifferences_ = on;
    // The current cell stays where it was in the sheet, or moves to the next row shown.
    const QModelIndex current = view()->currentIndex();
    const int sheetRow = current.isValid() ? model_->sheetRow(current.row()) : 0;
    const int column = current.isValid() ? current.column() : 0;
    {
        const QSignalBlocker blockSelection(view()->selectionModel());
        applyDifferenceFilter();
        applyGeometry();
    }
    int row = model_->viewRow(sheetRow);
    if (row < 0) {
        const SheetDifferences* differences = shownDifferences();
        const auto& shown = differences ? differences->shownRows : std::vector<int32_t>();
        row = int(std::lower_bound(shown.begin(), shown.end(), sheetRow) - shown.begin());
        row = std::min(row, std::max(0, model_->rowCount() - 1));
    }
    select(RangeBounds{column + 1, row + 1, column + 1, row + 1});
    updateDifferenceStatus();
}

bool SheetPane::goToDifference(bool forward) {
    const SheetDifferences* differences = shownDifferences();
    if (!differences || differences->index.cells.empty()) {
        QApplication::beep();
        return false;
    }
    const auto& cells = differences->index.cells;
    const QModelIndex current = view()->currentIndex();
    int64_t at = -1;
    if (!current.isValid() || model_->sheetRow(current.row()) < 0)
        at = forward ? 0 : differences->index.nextStop(UINT32_MAX, UINT32_MAX, false);
    else
        at = differences->index.nextStop(uint32_t(model_->sheetRow(current.row())),
                                         uint32_t(current.column()), forward);
    if (at < 0) {
        QApplication::beep();
        return false;
    }
    const DifferenceIndex::Cell cell = cells[size_t(at)];
    const int row = model_->viewRow(int(cell.row));
    if (row < 0) return false; // every marked row is shown, also while only the differences are
    select(RangeBounds{int(cell.column) + 1, row + 1, int(cell.column) + 1, row + 1});
    return true;
}

QString SheetPane::differenceStatusText() const {
    const SheetDifferences* differences = shownDifferences();
    if (!differences) return QString();
    const QLocale locale(QLocale::Chinese, QLocale::China);
    const size_t shown = model_->showsSomeRows() ? model_->shownRowCount() : differences->rows;
    return QStringLiteral("显示 %1 行，共 %2 行（%3 行有差异）")
        .arg(locale.toString(qulonglong(shown)), locale.toString(qulonglong(differences->rows)),
             locale.toString(qulonglong(differences->index.rows.size())));
}

void SheetPane::updateDifferenceStatus() {
    if (!onlyDifferencesBox_) return;
    const bool available = shownDifferences() != nullptr;
    onlyDifferencesBox_->setEnabled(available);
    differenceStatus_->setText(differenceStatusText());
}

} // namespace quellar
