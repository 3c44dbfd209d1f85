#include "workbook/RangeReader.h"

#include "base/CellOps.h"

#include <algorithm>

namespace quellar {
namespace {

bool isBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Whether a value gives a non-empty text once converted and stripped.
bool holdsText(const CellValue& value) {
    switch (value.type) {
    case CellValue::Type::Empty: return false;
    case CellValue::Type::String:
    case CellValue::Type::Error:
        for (char16_t c : value.text.view())
            if (!isBlank(c)) return true;
        return false;
    default: return !variantToText(value).isEmpty();
    }
}

int16_t horizontalCode(HAlign a) {
    switch (a) {
    case HAlign::General: return Align::General;
    case HAlign::Left: return Align::Left;
    case HAlign::Center: return Align::Center;
    case HAlign::Right: return Align::Right;
    case HAlign::Fill: return 5;
    case HAlign::Justify: return Align::Justify;
    case HAlign::CenterAcross: return 7;
    case HAlign::Distributed: return Align::Distributed;
    }
    return Align::General;
}

int16_t verticalCode(VAlign a) {
    switch (a) {
    case VAlign::Bottom: return Align::Bottom;
    case VAlign::Top: return Align::Top;
    case VAlign::Center: return Align::Center;
    case VAlign::Justify: return Align::Justify;
    case VAlign::Distributed: return Align::Distributed;
    }
    return Align::Bottom;
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
        selection = RangeBounds{used->firstColumn + 1, used->firstRow + 1, used->lastColumn + 1, used->lastRow + 1};
    }
    return clipSourceRange(sheet, selection);
}

Status checkReadableRange(const RangeBounds& bounds) {
    const int64_t rows = std::max<int64_t>(0, int64_t(bounds.lastRow) - bounds.firstRow + 1);
    const int64_t columns = std::max<int64_t>(0, int64_t(bounds.lastColumn) - bounds.firstColumn + 1);
    if (rows * columns <= kMaxReadCells) return Status::ok();
    return Status::invalidInput(
        QStringLiteral("区域 %1:%2 有 %3 行 × %4 列，共 %5 个单元格，超过了一次能读入的上限 %6 个；请选择较小的区域")
            .arg(columnAddress(bounds.firstColumn, bounds.firstRow), columnAddress(bounds.lastColumn, bounds.lastRow))
            .arg(rows)
            .arg(columns)
            .arg(rows * columns)
            .arg(kMaxReadCells));
}

namespace {

// readRange, and takeRange when `consumed` is `sheet` itself.
RowTable readCells(const Workbook& book, const Sheet& sheet, const RangeBounds& bounds, Progress& progress,
                   int64_t step, Sheet* consumed) {
    if (step < 1) step = 1;
    RowTable table;
    if (!checkReadableRange(bounds).isOk()) return table;
    const int32_t width = std::max(0, bounds.lastColumn - bounds.firstColumn + 1);
    const int32_t height = std::max(0, bounds.lastRow - bounds.firstRow + 1);
    table.reserve(size_t(height));

    std::vector<ReadStyle> styles(book.styles.size());
    const SharedText general = SharedText(QStringLiteral("General"));
    auto readStyle = [&](uint32_t index) -> const ReadStyle& {
        if (index >= styles.size()) index = 0;
        ReadStyle& rs = styles[index];
        if (!rs.ready) {
            const Style& s = book.styles[index];
            CellStyle cs;
            cs.numberFormat = s.numberFormat.isEmpty() ? general : SharedText(s.numberFormat);
            cs.fontName = SharedText(s.fontName.isEmpty() ? book.defaultFontName : s.fontName);
            cs.fontSize = int32_t(s.fontSize > 0 ? s.fontSize : book.defaultFontSize);
            cs.colorValue = s.hasFontColor ? int32_t(s.fontRgb) : 0;
            rs.styleId = StylePool::intern(cs);
            rs.alignment1 = horizontalCode(s.horizontal);
            rs.alignment2 = verticalCode(s.vertical);
            rs.ready = true;
        }
        return rs;
    };

    std::vector<MergeArea> recorded;
    const bool anyMerges = !sheet.merges.empty();
    auto rowIt = std::lower_bound(sheet.rows.begin(), sheet.rows.end(), bounds.firstRow - 1,
                                  [](const SheetRow& r, int32_t index) { return r.index < index; });

    for (int32_t k = 0; k < height; ++k) {
        if (k % step == 0) progress.advance(step);
        const int32_t sheetRow = bounds.firstRow - 1 + k; // 0-based
        while (rowIt != sheet.rows.end() && rowIt->index < sheetRow) ++rowIt;
        const SheetRow* sourceRow = (rowIt != sheet.rows.end() && rowIt->index == sheetRow) ? &*rowIt : nullptr;
        auto cellIt = sourceRow ? std::lower_bound(sourceRow->cells.begin(), sourceRow->cells.end(),
                                                   uint32_t(bounds.firstColumn - 1),
                                                   [](const Cell& c, uint32_t col) { return c.column < col; })
                                : std::vector<Cell>::const_iterator();
        const float height = float(sheet.rowHeight(sheetRow));

        Row row;
        row.resize(size_t(width));
        for (int32_t c = 1; c <= width; ++c) {
            const int32_t sheetColumn = bounds.firstColumn - 1 + c - 1; // 0-based
            CellRecord& record = row[size_t(c - 1)];
            const Cell* cell = nullptr;
            if (sourceRow) {
                while (cellIt != sourceRow->cells.end() && int32_t(cellIt->column) < sheetColumn) ++cellIt;
                if (cellIt != sourceRow->cells.end() && int32_t(cellIt->column) == sheetColumn) cell = &*cellIt;
            }

            record.mergeState = MergeState::Single;
            if (anyMerges) {
                if (const CellRange* area = sheet.mergeContaining(sheetRow, sheetColumn)) {
                    const bool covered = std::any_of(recorded.begin(), recorded.end(), [&](const MergeArea& m) {
                        return m.firstRow <= k + 1 && k + 1 <= m.lastRow && m.firstColumn <= c && c <= m.lastColumn;
                    });
                    if (covered) {
                        record = CellRecord(); // Covered, nothing else read
                        continue;
                    }
                    const int32_t r = area->rowCount(), n = area->columnCount();
                    recorded.push_back(MergeArea{c, k + 1, c + n - 1, k + r});
                    record.mergeState = MergeState::Anchor;
                    record.mergeRows = r;
                    record.mergeColumns = n;
                }
            }

            const ReadStyle& rs = readStyle(cell ? cell->style : 0);
            if (cell) {
                record.text = variantToSharedText(cell->value);
                if (!cell->formula.isEmpty()) record.formula = variantToSharedText(CellValue::fromString(cell->formula));
            }
            record.styleId = rs.styleId;
            record.fillColorIndex = Fill::White;
            record.alignment1 = rs.alignment1;
            record.alignment2 = rs.alignment2;
            if (k == 0) record.columnWidth = float(sheet.columnWidth(sheetColumn));
            if (c == 1) record.rowHeight = height;
        }
        table.push_back(std::move(row));
        if (consumed && sourceRow) std::vector<Cell>().swap(consumed->rows[size_t(rowIt - sheet.rows.begin())].cells);
    }
    return table;
}

} // namespace

RowTable readRange(const Workbook& book, const Sheet& sheet, const RangeBounds& bounds, Progress& progress,
                   int64_t step) {
    return readCells(book, sheet, bounds, progress, step, nullptr);
}

RowTable takeRange(const Workbook& book, Sheet& sheet, const RangeBounds& bounds, Progress& progress, int64_t step) {
    return readCells(book, sheet, bounds, progress, step, &sheet);
}

bool parseRangeText(QStringView text, RangeBounds& bounds) {
    auto parseCell = [](QStringView ref, int32_t& column, int32_t& row) {
        qsizetype i = 0;
        if (i < ref.size() && ref[i] == u'$') ++i;
        int64_t col = 0;
        const qsizetype letterStart = i;
        while (i < ref.size() && ref[i].isLetter() && ref[i].unicode() < 128) {
            col = col * 26 + (ref[i].toUpper().unicode() - u'A' + 1);
            if (col > kMaxColumns) return false;
            ++i;
        }
        if (i == letterStart) return false;
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
