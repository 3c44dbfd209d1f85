#include "workbook/RangeReader.h"

#include "base/CellOps.h"
#include "workbook/PackedCells.h"

#include <algorithm>
#include <cmath>

namespace quellar {
namespace {

bool isBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Whether a value gives a non-empty text once converted and stripped.
bool holdsText(const CellValue& value) {
    switch (value.type()) {
    case CellValue::Type::Empty:
        return false;
    case CellValue::Type::String:
    case CellValue::Type::Error:
        for (char16_t c : value.text().view())
            if (!isBlank(c)) return true;
        return false;
    default:
        return !variantToText(value).isEmpty();
    }
}

// holdsText without formatting a number again: a finite number always shows digits.
bool holdsTextQuickly(const CellValue& value) {
    if (value.type() == CellValue::Type::Number && std::isfinite(value.number())) return true;
    return holdsText(value);
}

// What readRange takes from a workbook style, converted once per style.
struct ReadStyle {
    uint32_t styleId = 0;
    int16_t alignment1 = Align::General;
    int16_t alignment2 = Align::Bottom;
    bool ready = false;
};

} // namespace

RangeBounds clipSourceRange(const Sheet& sheet, RangeBounds selection) {
    RangeBounds b = selection;
    const std::optional<CellRange> used = sheet.usedRange();
    // A sheet without cells has A1 as its used range.
    const int32_t usedLastRow = used ? used->lastRow + 1 : 1;
    const int32_t usedLastColumn = used ? used->lastColumn + 1 : 1;

    int32_t trimRow = 0, trimColumn = 0;
    if (b.lastRow >= usedLastRow) {
        b.lastRow = usedLastRow;
        trimRow = usedLastRow;
    }
    if (b.lastColumn >= usedLastColumn) {
        b.lastColumn = usedLastColumn;
        trimColumn = usedLastColumn;
    }

    if (trimRow > 0) {
        // The last row at or above trimRow holding text within columns 1..lastColumn.
        int32_t found = 0;
        for (auto it = sheet.rows.rbegin(); it != sheet.rows.rend(); ++it) {
            const int32_t rowNumber = it->index + 1;
            if (rowNumber > trimRow) continue;
            const bool hasText = std::any_of(it->cells.begin(), it->cells.end(), [&](const Cell& c) {
                return int32_t(c.column) + 1 <= b.lastColumn && holdsText(c.value);
            });
            if (hasText) {
                found = rowNumber;
                break;
            }
        }
        b.lastRow = found;
    }
    if (trimColumn > 0) {
        int32_t found = 0;
        for (const SheetRow& row : sheet.rows) {
            if (row.index + 1 > b.lastRow) break;
            for (auto it = row.cells.rbegin(); it != row.cells.rend(); ++it) {
                const int32_t columnNumber = int32_t(it->column) + 1;
                if (columnNumber > trimColumn || columnNumber <= found) continue;
                if (holdsText(it->value)) {
                    found = columnNumber;
                    break;
                }
            }
        }
        b.lastColumn = found;
    }
    if (b.lastColumn < b.firstColumn) b.lastColumn = b.firstColumn;
    if (b.lastRow < b.firstRow) b.lastRow = b.firstRow;
    return b;
}

RangeBounds clipUsedRange(const Sheet& sheet) {
    RangeBounds selection;
    if (const std::optional<CellRange> used = sheet.usedRange()) {
        selection =
            RangeBounds{used->firstColumn + 1, used->firstRow + 1, used->lastColumn + 1, used->lastRow + 1};
    }
    return clipSourceRange(sheet, selection);
}

Status checkReadableRange(const RangeBounds& bounds) {
    const int64_t rows = std::max<int64_t>(0, int64_t(bounds.lastRow) - bounds.firstRow + 1);
    const int64_t columns = std::max<int64_t>(0, int64_t(bounds.lastColumn) - bounds.firstColumn + 1);
    if (rows * columns <= kMaxReadCells) return Status::ok();
    return Status::invalidInput(
        QStringLiteral(
            "区域 %1:%2 有 %3 行 × %4 列，共 %5 个单元格，超过了一次能读入的上限 %6 个；请选择较小的区域")
            .arg(columnAddress(bounds.firstColumn, bounds.firstRow),
                 columnAddress(bounds.lastColumn, bounds.lastRow))
            .arg(rows)
            .arg(columns)
            .arg(rows * columns)
            .arg(kMaxReadCells));
}

namespace {

// Turns workbook cells into records: the value and formula as text, the style converted once
// per workbook style, white fill, not merged. A missing cell gets the default style.
class RecordMaker {
public:
    // Keeps its own copy of the workbook's styles: a streaming reader's workbook moves on.
    explicit RecordMaker(const Workbook& book)
        : workbookStyles_(book.styles)
        , defaultFontName_(book.defaultFontName)
        , defaultFontSize_(book.defaultFontSize)
        , styles_(book.styles.size())
        , general_(QStringLiteral("General")) {}

    void fill(CellRecord& record, const Cell* cell) {
        const ReadStyle& rs = style(cell ? cell->style : 0);
        if (cell) {
            record.text = variantToSharedText(cell->value);
            if (!cell->formula.isEmpty())
                record.formula = variantToSharedText(CellValue::fromString(cell->formula));
        }
        record.mergeState = MergeState::Single;
        record.styleId = rs.styleId;
        record.fillColorIndex = Fill::White;
        record.alignment1 = rs.alignment1;
        record.alignment2 = rs.alignment2;
    }

private:
    const ReadStyle& style(uint32_t index) {
        if (index >= styles_.size()) index = 0;
        ReadStyle& rs = styles_[index];
        if (!rs.ready) {
            const Style& s = workbookStyles_[index];
            CellStyle cs;
            cs.numberFormat = s.numberFormat.isEmpty() ? general_ : SharedText(s.numberFormat);
            cs.fontName = SharedText(s.fontName.isEmpty() ? defaultFontName_ : s.fontName);
            cs.fontSize = int32_t(s.fontSize > 0 ? s.fontSize : defaultFontSize_);
            cs.colorValue = s.hasFontColor ? int32_t(s.fontRgb) : 0;
            rs.styleId = StylePool::intern(cs);
            rs.alignment1 = alignmentCode(s.horizontal);
            rs.alignment2 = alignmentCode(s.vertical);
            rs.ready = true;
        }
        return rs;
    }

    std::vector<Style> workbookStyles_;
    QString defaultFontName_;
    double defaultFontSize_;
    std::vector<ReadStyle> styles_;
    SharedText general_;
};

// Merged areas over a table read from `bounds`: walking the cells in reading order, a cell
// inside an area met before is Covered (an empty record), any other cell inside an area
// becomes the Anchor of that area's full size. Rows no area reaches are not looked at.
void applyMerges(RowTable& table, const Sheet& sheet, const RangeBounds& bounds) {
    if (sheet.merges.empty() || table.empty()) return;
    const int32_t height = int32_t(table.size());
    const int32_t width = bounds.lastColumn - bounds.firstColumn + 1;
    const int32_t top = bounds.firstRow - 1, left = bounds.firstColumn - 1;
    std::vector<char> reached(size_t(height), 0);
    for (const CellRange& m : sheet.merges) {
        if (m.lastColumn < left || m.firstColumn > left + width - 1) continue;
        const int32_t from = std::max(m.firstRow, top), to = std::min(m.lastRow, top + height - 1);
        for (int32_t r = from; r <= to; ++r)
            reached[size_t(r - top)] = 1;
    }
    std::vector<MergeArea> recorded;
    for (int32_t k = 0; k < height; ++k) {
        if (!reached[size_t(k)]) continue;
        Row& row = table[size_t(k)];
        for (int32_t c = 1; c <= width; ++c) {
            const CellRange* area = sheet.mergeContaining(top + k, left + c - 1);
            if (!area) continue;
            CellRecord& record = row[size_t(c - 1)];
            const bool covered = std::any_of(recorded.begin(), recorded.end(), [&](const MergeArea& m) {
                return m.firstRow <= k + 1 && k + 1 <= m.lastRow && m.firstColumn <= c && c <= m.lastColumn;
            });
            if (covered) {
                record = CellRecord(); // Covered, nothing else kept
                continue;
            }
            const int32_t r = area->rowCount(), n = area->columnCount();
            recorded.push_back(MergeArea{c, k + 1, c + n - 1, k + r});
            record.mergeState = MergeState::Anchor;
            record.mergeRows = r;
            record.mergeColumns = n;
        }
    }
}

// readRange, and takeRange when `consumed` is `sheet` itself (its rows' cells packed into
// `packed` when given, as sheet `sheetIndex`).
RowTable readCells(const Workbook& book, const Sheet& sheet, const RangeBounds& bounds, Progress& progress,
                   int64_t step, Sheet* consumed, PackedCells* packed = nullptr, size_t sheetIndex = 0) {
    if (step < 1) step = 1;
    RowTable table;
    if (!checkReadableRange(bounds).isOk()) return table;
    const int32_t width = std::max(0, bounds.lastColumn - bounds.firstColumn + 1);
    const int32_t height = std::max(0, bounds.lastRow - bounds.firstRow + 1);
    table.reserve(size_t(height));

    RecordMaker maker(book);
    auto rowIt = std::lower_bound(sheet.rows.begin(), sheet.rows.end(), bounds.firstRow - 1,
                                  [](const SheetRow& r, int32_t index) { return r.index < index; });

    for (int32_t k = 0; k < height; ++k) {
        if (k % step == 0) progress.advance(step);
        const int32_t sheetRow = bounds.firstRow - 1 + k; // 0-based
        while (rowIt != sheet.rows.end() && rowIt->index < sheetRow)
            ++rowIt;
        const SheetRow* sourceRow =
            (rowIt != sheet.rows.end() && rowIt->index == sheetRow) ? &*rowIt : nullptr;
        auto cellIt = sourceRow ? std::lower_bound(sourceRow->cells.begin(), sourceRow->cells.end(),
                                                   uint32_t(bounds.firstColumn - 1),
                                                   [](const Cell& c, uint32_t col) { return c.column < col; })
                                : std::vector<Cell>::const_iterator();
        const float height =
            float(sourceRow && sourceRow->height >= 0 ? sourceRow->height : sheet.defaultRowHeight);

        Row row;
        row.resize(size_t(width));
        for (int32_t c = 1; c <= width; ++c) {
            const int32_t sheetColumn = bounds.firstColumn - 1 + c - 1; // 0-based
            CellRecord& record = row[size_t(c - 1)];
            const Cell* cell = nullptr;
            if (sourceRow) {
                while (cellIt != sourceRow->cells.end() && int32_t(cellIt->column) < sheetColumn)
                    ++cellIt;
                if (cellIt != sourceRow->cells.end() && int32_t(cellIt->column) == sheetColumn)
                    cell = &*cellIt;
            }
            maker.fill(record, cell);
            if (k == 0) record.columnWidth = float(sheet.columnWidth(sheetColumn));
            if (c == 1) record.rowHeight = height;
        }
        table.push_back(std::move(row));
        if (consumed && sourceRow) {
            const size_t position = size_t(rowIt - sheet.rows.begin());
            if (packed)
                packed->packRow(sheetIndex, position, consumed->rows[position]);
            else
                std::vector<Cell>().swap(consumed->rows[position].cells);
        }
    }
    applyMerges(table, sheet, bounds);
    return table;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// UsedRangeStream

struct UsedRangeStream::State {
    std::unique_ptr<RecordMaker> maker;
    RowTable rows;            // sheet rows firstIndex.. in order; empty for rows without cells
    int32_t firstIndex = -1;  // first row with cells
    int32_t lastIndex = -1;   // last row handed over, with cells or not
    int32_t lastCellRow = -1; // last row with cells
    int32_t firstColumn = kMaxColumns, lastColumn = -1;
    int32_t lastTextRow = 0, lastTextColumn = 0; // 1-based; 0 while no cell holds text
    size_t widest = 0;
    int64_t records = 0;
    int64_t cells = 0;
    static constexpr int64_t kSparseFloor = 1 << 20;
};

UsedRangeStream::UsedRangeStream()
    : state_(std::make_unique<State>()) {}

UsedRangeStream::~UsedRangeStream() = default;

void UsedRangeStream::start(const Workbook& book) {
    state_ = std::make_unique<State>();
    state_->maker = std::make_unique<RecordMaker>(book);
}

bool UsedRangeStream::takeRow(SheetRow& row) {
    State& s = *state_;
    if (!s.maker || row.index <= s.lastIndex) return false;
    s.lastIndex = row.index;
    if (row.cells.empty()) return true;
    for (size_t i = 1; i < row.cells.size(); ++i)
        if (row.cells[i].column <= row.cells[i - 1].column) return false;
    const size_t span = size_t(row.cells.back().column) + 1;
    s.records += int64_t(span);
    s.cells += int64_t(row.cells.size());
    // A row is held as every record up to its last cell. A sparse sheet (a few cells far to
    // the right) would cost far more that way than as cells, and one past the limit would
    // grow until refused: both are read whole instead, where the range is checked first.
    if (s.records > kMaxReadCells || (s.records > State::kSparseFloor && s.records > 16 * s.cells))
        return false;
    if (s.firstIndex < 0) s.firstIndex = row.index;
    s.rows.resize(size_t(row.index - s.firstIndex)); // rows without cells in between
    s.widest = std::max(s.widest, span);

    Row& out = s.rows.emplace_back();
    out.reserve(s.widest);
    out.resize(span);
    auto cell = row.cells.begin();
    for (size_t c = 0; c < span; ++c) {
        const Cell* present = nullptr;
        if (cell->column == c) present = &*cell++;
        s.maker->fill(out[c], present);
        if (present && holdsTextQuickly(present->value)) {
            s.lastTextRow = row.index + 1;
            s.lastTextColumn = std::max(s.lastTextColumn, int32_t(c) + 1);
        }
    }
    s.lastCellRow = row.index;
    s.firstColumn = std::min(s.firstColumn, int32_t(row.cells.front().column));
    s.lastColumn = std::max(s.lastColumn, int32_t(row.cells.back().column));
    row.cells.clear();
    return true;
}

RangeBounds UsedRangeStream::bounds(const Sheet& sheet) const {
    const State& s = *state_;
    // The used range: the sheet's own (its merged areas, as it holds no cells) and the cells seen.
    std::optional<CellRange> used = sheet.usedRange();
    if (s.lastCellRow >= 0) {
        const CellRange cells{s.firstIndex, s.firstColumn, s.lastCellRow, s.lastColumn};
        used = used ? CellRange{std::min(used->firstRow, cells.firstRow),
                                std::min(used->firstColumn, cells.firstColumn),
                                std::max(used->lastRow, cells.lastRow),
                                std::max(used->lastColumn, cells.lastColumn)}
                    : cells;
    }
    // Clipped as clipSourceRange clips a selection of the whole used range: it ends at the
    // last row and the last column that hold text, and is at least one cell.
    RangeBounds b;
    if (used)
        b = RangeBounds{used->firstColumn + 1, used->firstRow + 1, used->lastColumn + 1, used->lastRow + 1};
    b.lastRow = s.lastTextRow;
    b.lastColumn = s.lastTextColumn;
    if (b.lastColumn < b.firstColumn) b.lastColumn = b.firstColumn;
    if (b.lastRow < b.firstRow) b.lastRow = b.firstRow;
    return b;
}

RowTable UsedRangeStream::take(const Sheet& sheet, const RangeBounds& bounds, Progress& progress,
                               int64_t step) {
    State& s = *state_;
    if (step < 1) step = 1;
    RowTable table;
    if (!s.maker || !checkReadableRange(bounds).isOk()) return table;
    const int32_t width = std::max(0, bounds.lastColumn - bounds.firstColumn + 1);
    const int32_t height = std::max(0, bounds.lastRow - bounds.firstRow + 1);
    const size_t left = size_t(bounds.firstColumn - 1);
    table.reserve(size_t(height));
    auto heightIt = sheet.rows.begin();
    for (int32_t k = 0; k < height; ++k) {
        if (k % step == 0) progress.advance(step);
        const int32_t sheetRow = bounds.firstRow - 1 + k;
        Row row;
        if (s.firstIndex >= 0 && sheetRow >= s.firstIndex && size_t(sheetRow - s.firstIndex) < s.rows.size())
            row = std::move(s.rows[size_t(sheetRow - s.firstIndex)]);
        if (left > 0) row.erase(row.begin(), row.begin() + std::ptrdiff_t(std::min(left, row.size())));
        if (row.size() > size_t(width)) row.resize(size_t(width));
        while (row.size() < size_t(width))
            s.maker->fill(row.emplace_back(), nullptr);
        if (k == 0)
            for (int32_t c = 0; c < width; ++c)
                row[size_t(c)].columnWidth = float(sheet.columnWidth(int32_t(left) + c));
        while (heightIt != sheet.rows.end() && heightIt->index < sheetRow)
            ++heightIt;
        const bool known =
            heightIt != sheet.rows.end() && heightIt->index == sheetRow && heightIt->height >= 0;
        if (width > 0) row[0].rowHeight = float(known ? heightIt->height : sheet.defaultRowHeight);
        table.push_back(std::move(row));
    }
    s.rows = RowTable();
    applyMerges(table, sheet, bounds);
    return table;
}

RowTable readRange(const Workbook& book, const Sheet& sheet, const RangeBounds& bounds, Progress& progress,
                   int64_t step) {
    return readCells(book, sheet, bounds, progress, step, nullptr);
}

RowTable takeRange(const Workbook& book, Sheet& sheet, const RangeBounds& bounds, Progress& progress,
                   int64_t step) {
    return readCells(book, sheet, bounds, progress, step, &sheet);
}

RowTable takeRange(Workbook& book, int sheetIndex, const RangeBounds& bounds, PackedCells& packed,
                   Progress& progress, int64_t step) {
    Sheet& sheet = book.sheets.at(size_t(sheetIndex));
    return readCells(book, sheet, bounds, progress, step, &sheet, &packed, size_t(sheetIndex));
}

bool parseRangeText(QStringView text, RangeBounds& bounds) {
    auto parseCell = [](QStringView ref, int32_t& column, int32_t& row) {
        qsizetype i = 0;
        if (i < ref.size() && ref[i] == u'$') ++i;
        int64_t col = 0;
        const qsizetype letters = readColumnLetters(ref.mid(i), col);
        if (letters == 0 || col > kMaxColumns) return false;
        i += letters;
        if (i < ref.size() && ref[i] == u'$') ++i;
        int64_t r = 0;
        const qsizetype digitStart = i;
        while (i < ref.size() && ref[i] >= u'0' && ref[i] <= u'9') {
            r = r * 10 + (ref[i].unicode() - u'0');
            if (r > kMaxRows) return false;
            ++i;
        }
        if (i == digitStart || i != ref.size() || r < 1) return false;
        column = int32_t(col);
        row = int32_t(r);
        return true;
    };
    const QStringView trimmed = text.trimmed();
    const qsizetype colon = trimmed.indexOf(u':');
    RangeBounds b;
    if (colon < 0) {
        if (!parseCell(trimmed, b.firstColumn, b.firstRow)) return false;
        b.lastColumn = b.firstColumn;
        b.lastRow = b.firstRow;
    } else {
        if (!parseCell(trimmed.left(colon), b.firstColumn, b.firstRow)) return false;
        if (!parseCell(trimmed.mid(colon + 1), b.lastColumn, b.lastRow)) return false;
        if (b.lastColumn < b.firstColumn) std::swap(b.firstColumn, b.lastColumn);
        if (b.lastRow < b.firstRow) std::swap(b.firstRow, b.lastRow);
    }
    bounds = b;
    return true;
}

} // namespace quellar
