#include "components/SheetPaneModel.h"

#include "base/CellOps.h"
#include "base/TextIO.h"
#include "components/ExcelColumns.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace quellar {
namespace {

int horizontalFlag(HAlign a) {
    switch (a) {
    case HAlign::Left:
        return Qt::AlignLeft;
    case HAlign::Center:
    case HAlign::CenterAcross:
        return Qt::AlignHCenter;
    case HAlign::Right:
        return Qt::AlignRight;
    case HAlign::Justify:
    case HAlign::Distributed:
        return Qt::AlignJustify;
    case HAlign::Fill:
        return Qt::AlignLeft;
    case HAlign::General:
        return 0;
    }
    return 0;
}

int verticalFlag(VAlign a) {
    switch (a) {
    case VAlign::Top:
        return Qt::AlignTop;
    case VAlign::Center:
    case VAlign::Justify:
    case VAlign::Distributed:
        return Qt::AlignVCenter;
    case VAlign::Bottom:
        return Qt::AlignBottom;
    }
    return Qt::AlignBottom;
}

QColor rgbColor(uint32_t rgb) {
    return QColor(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
}

// The shortest text that reads back as the same number, as the working files write it:
// without an exponent for the magnitudes people type.
QString numberEditText(double value) {
    char buffer[32];
    return QString::fromLatin1(shortestNumberText(value, buffer));
}

} // namespace

SheetPaneModel::SheetPaneModel(QObject* parent)
    : QAbstractTableModel(parent) {}

void SheetPaneModel::setSheet(Workbook* book, int sheetIndex) {
    beginResetModel();
    book_ = book;
    sheetIndex_ = (book && sheetIndex >= 0 && size_t(sheetIndex) < book->sheets.size()) ? sheetIndex : -1;
    if (sheetIndex_ < 0) book_ = nullptr;
    filtered_ = false; // another sheet: its rows are all shown until told otherwise
    shownRows_.clear();
    looks_.clear();
    rebuildRowIndex();
    endResetModel();
}

void SheetPaneModel::refresh() {
    beginResetModel();
    if (book_ && size_t(sheetIndex_) >= book_->sheets.size()) {
        book_ = nullptr;
        sheetIndex_ = -1;
    }
    looks_.clear();
    rebuildRowIndex();
    endResetModel();
}

const Sheet* SheetPaneModel::sheet() const {
    return book_ ? &book_->sheets[size_t(sheetIndex_)] : nullptr;
}

bool SheetPaneModel::isEditable() const {
    const Sheet* s = sheet();
    return editable_ && s && !s->isProtected;
}

void SheetPaneModel::setExtent(int rows, int columns) {
    beginResetModel();
    rows_ = std::clamp(rows, 1, kMaxRows);
    columns_ = std::clamp(columns, 1, kMaxColumns);
    endResetModel();
}

void SheetPaneModel::rebuildRowIndex() {
    rowSlot_.clear();
    const Sheet* s = sheet();
    if (!s || s->rows.empty()) return;
    const int32_t last = std::clamp(s->rows.back().index, 0, kMaxRows - 1);
    rowSlot_.assign(size_t(last) + 1, -1);
    for (size_t i = 0; i < s->rows.size(); ++i) {
        const int32_t index = s->rows[i].index;
        if (index >= 0 && index <= last) rowSlot_[size_t(index)] = int32_t(i);
    }
}

const Cell* SheetPaneModel::cellAt(int row, int column) const {
    row = sheetRow(row);
    if (cellsHidden_ || row < 0 || size_t(row) >= rowSlot_.size() || column < 0) return nullptr;
    const int32_t slot = rowSlot_[size_t(row)];
    if (slot < 0) return nullptr;
    const std::vector<Cell>& cells = sheet()->rows[size_t(slot)].cells;
    if (cells.empty()) return nullptr;
    const uint32_t col = uint32_t(column);
    const uint32_t first = cells.front().column;
    // Dense rows (no gaps) are addressed directly.
    if (col >= first && size_t(col - first) < cells.size() && cells[col - first].column == col)
        return &cells[col - first];
    const auto it = std::lower_bound(cells.begin(), cells.end(), col,
                                     [](const Cell& c, uint32_t value) { return c.column < value; });
    return (it != cells.end() && it->column == col) ? &*it : nullptr;
}

QFont SheetPaneModel::defaultFont() const {
    QFont font;
    const QString family = book_ ? book_->defaultFontName : QStringLiteral("宋体");
    font.setFamilies({family});
    font.setPointSizeF(book_ && book_->defaultFontSize > 0 ? book_->defaultFontSize : 11);
    return excelGridFont(font);
}

const SheetPaneModel::Look& SheetPaneModel::look(uint32_t styleIndex) const {
    if (!book_ || styleIndex >= book_->styles.size()) styleIndex = 0;
    if (looks_.size() < (book_ ? book_->styles.size() : 1)) looks_.resize(book_ ? book_->styles.size() : 1);
    Look& look = looks_[styleIndex];
    if (look.ready) return look;
    look.ready = true;
    if (!book_) return look;
    const Style& style = book_->styles[styleIndex];
    const bool customFont = (!style.fontName.isEmpty() && style.fontName != book_->defaultFontName) ||
                            (style.fontSize > 0 && style.fontSize != book_->defaultFontSize) || style.bold ||
                            style.italic;
    if (customFont) {
        QFont font = defaultFont();
        if (!style.fontName.isEmpty()) font.setFamilies({style.fontName});
        if (style.fontSize > 0) font.setPointSizeF(style.fontSize);
        font.setBold(style.bold);
        font.setItalic(style.italic);
        look.font = excelGridFont(font);
    }
    if (style.hasFill) look.background = QBrush(rgbColor(style.fillRgb));
    if (style.hasFontColor) look.foreground = QBrush(rgbColor(style.fontRgb));
    look.horizontal = horizontalFlag(style.horizontal);
    look.vertical = verticalFlag(style.vertical);
    look.format = DisplayFormat::parse(style.numberFormat);
    look.formatHasColors = style.numberFormat.contains(u'[');
    // Wrapped, filled and justified texts stay inside their cells.
    look.overflows =
        !style.wrapText && (style.horizontal == HAlign::General || style.horizontal == HAlign::Left ||
                            style.horizontal == HAlign::Right || style.horizontal == HAlign::Center ||
                            style.horizontal == HAlign::CenterAcross);
    return look;
}

QString SheetPaneModel::displayText(int row, int column) const {
    const Cell* cell = cellAt(row, column);
    if (!cell) return QString();
    return look(cell->style).format.apply(cell->value).text;
}

std::vector<QString> SheetPaneModel::narrowTexts(int row, int column) const {
    const Cell* cell = cellAt(row, column);
    if (!cell) return {};
    return look(cell->style).format.narrowTexts(cell->value);
}

bool SheetPaneModel::hasContent(int row, int column) const {
    const Cell* cell = cellAt(row, column);
    if (!cell) return false;
    if (!cell->formula.isEmpty()) return true;
    switch (cell->value.type()) {
    case CellValue::Type::Empty:
        return false;
    case CellValue::Type::String:
        return !cell->value.text().isEmpty();
    default:
        return true;
    }
}

bool SheetPaneModel::mayOverflow(int row, int column) const {
    const Cell* cell = cellAt(row, column);
    return cell && cell->value.type() == CellValue::Type::String && look(cell->style).overflows;
}

int SheetPaneModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return filtered_ ? int(shownRows_.size()) : rows_;
}

int SheetPaneModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant SheetPaneModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !book_) return QVariant();
    const Cell* cell = cellAt(index.row(), index.column());
    if (!cell) return QVariant();
    switch (role) {
    case Qt::DisplayRole: {
        QString text = look(cell->style).format.apply(cell->value).text;
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case Qt::EditRole:
        switch (cell->value.type()) {
        case CellValue::Type::Empty:
            return QString();
        case CellValue::Type::Number:
            return numberEditText(cell->value.number());
        case CellValue::Type::DateTime:
            return dateSerialToText(cell->value.number());
        case CellValue::Type::Boolean:
            return cell->value.number() != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        case CellValue::Type::String:
        case CellValue::Type::Error:
            return cell->value.text().toQString();
        }
        return QVariant();
    case Qt::BackgroundRole:
        return look(cell->style).background;
    case Qt::ForegroundRole: {
        const Look& l = look(cell->style);
        if (l.formatHasColors) {
            const int64_t color = l.format.apply(cell->value).color;
            if (color >= 0) return QBrush(rgbColor(uint32_t(color)));
        }
        return l.foreground;
    }
    case Qt::FontRole:
        return look(cell->style).font;
    case Qt::TextAlignmentRole: {
        const Look& l = look(cell->style);
        int horizontal = l.horizontal;
        if (horizontal == 0) {
            switch (cell->value.type()) {
            case CellValue::Type::Number:
            case CellValue::Type::DateTime:
                horizontal = Qt::AlignRight;
                break;
            case CellValue::Type::Boolean:
            case CellValue::Type::Error:
                horizontal = Qt::AlignHCenter;
                break;
            default:
                horizontal = Qt::AlignLeft;
                break;
            }
        }
        return int(horizontal | l.vertical);
    }
    case Qt::ToolTipRole:
        if (!cell->formula.isEmpty()) return QStringLiteral("公式：%1").arg(cell->formula.toQString());
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant SheetPaneModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole) {
        if (orientation == Qt::Horizontal) return columnLetters(section + 1);
        return QString::number(sheetRow(section) + 1);
    }
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    return QVariant();
}

Qt::ItemFlags SheetPaneModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (isEditable()) f |= Qt::ItemIsEditable;
    return f;
}

bool SheetPaneModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    return setCellText(index.row(), index.column(), value.toString());
}

bool SheetPaneModel::setCellText(int viewRowIndex, int column, const QString& text) {
    const int row = sheetRow(viewRowIndex);
    if (!isEditable() || row < 0 || row >= rows_ || column < 0 || column >= columns_) return false;
    Sheet& s = book_->sheets[size_t(sheetIndex_)];
    const bool rowExisted = s.row(row) != nullptr;
    if (text.isEmpty()) {
        SheetRow* stored = rowExisted ? &s.rowAt(row) : nullptr;
        if (!stored) return true;
        auto it = std::find_if(stored->cells.begin(), stored->cells.end(),
                               [&](const Cell& c) { return c.column == uint32_t(column); });
        if (it == stored->cells.end()) return true;
        if (it->style == 0)
            stored->cells.erase(it);
        else {
            it->value = CellValue();
            it->formula = SharedText();
        }
    } else {
        Cell& cell = s.cellAt(row, column);
        double number = 0;
        if (typedTextToNumber(text, number)) {
            cell.value = CellValue::fromNumber(number);
        } else if (typedTextToDate(text, number)) {
            cell.value = CellValue::fromDateTime(number);
            // A date shows through a date format; a cell without one gets the format that
            // shows the typed text.
            if (!look(cell.style).format.isDate()) {
                Style style = cell.style < book_->styles.size() ? book_->styles[cell.style] : Style();
                style.numberFormat = DisplayFormat::dateTextFormat(number);
                cell.style = book_->internStyle(style);
            }
        } else {
            cell.value = CellValue::fromString(SharedText(text));
        }
        cell.formula = SharedText();
    }
    if (!rowExisted) rebuildRowIndex();
    const QModelIndex changed = index(viewRowIndex, column);
    emit dataChanged(changed, changed);
    return true;
}

void SheetPaneModel::showOnlyRows(std::vector<int32_t> rows) {
    beginResetModel();
    filtered_ = true;
    shownRows_ = std::move(rows);
    endResetModel();
}

void SheetPaneModel::showAllRows() {
    if (!filtered_) return;
    beginResetModel();
    filtered_ = false;
    shownRows_.clear();
    shownRows_.shrink_to_fit();
    endResetModel();
}

int SheetPaneModel::sheetRow(int viewRow) const {
    if (!filtered_) return viewRow;
    return viewRow >= 0 && size_t(viewRow) < shownRows_.size() ? shownRows_[size_t(viewRow)] : -1;
}

int SheetPaneModel::viewRow(int sheetRow) const {
    if (!filtered_) return sheetRow;
    const auto it = std::lower_bound(shownRows_.begin(), shownRows_.end(), sheetRow);
    return it != shownRows_.end() && *it == sheetRow ? int(it - shownRows_.begin()) : -1;
}

int SheetPaneModel::pointsToPixels(double points) {
    return std::max(1, int(std::lround(points * 96.0 / 72.0)));
}

} // namespace quellar
