#include "table/compare/DifferenceRows.h"

#include "table/compare/Comparison.h"

#include <algorithm>

namespace quellar {

namespace {

bool holdsDifference(const Row& row) {
    return std::any_of(row.begin(), row.end(),
                       [](const CellRecord& c) { return isDifferenceFill(c.fillColorIndex); });
}

} // namespace

DifferenceIndex DifferenceIndex::build(const RowTable& table) {
    DifferenceIndex index;
    for (size_t r = 0; r < table.size(); ++r) {
        const Row& row = table[r];
        int32_t mark = 0; // the row's one colour, or -1 once it has two
        for (size_t c = 0; c < row.size(); ++c) {
            const int32_t fill = row[c].fillColorIndex;
            if (!isDifferenceFill(fill)) continue;
            index.cells.push_back({uint32_t(r), uint32_t(c)});
            mark = mark == 0 || mark == fill ? fill : -1;
        }
        if (mark == 0) continue;
        index.rows.push_back(uint32_t(r));
        index.oneSided.push_back(mark == Fill::Yellow || mark == Fill::BrightGreen);
    }
    return index;
}

bool DifferenceIndex::isOneSided(uint32_t row) const {
    const auto it = std::lower_bound(rows.begin(), rows.end(), row);
    return it != rows.end() && *it == row && oneSided[size_t(it - rows.begin())];
}

int64_t DifferenceIndex::nextStop(uint32_t row, uint32_t column, bool forward) const {
    int64_t at = next(row, column, forward);
    if (at < 0) return at;
    const uint32_t atRow = cells[size_t(at)].row;
    if (!isOneSided(atRow)) return at;
    const auto first = std::lower_bound(cells.begin(), cells.end(), atRow,
                                        [](const Cell& c, uint32_t r) { return c.row < r; });
    if (!forward) return int64_t(first - cells.begin());
    // Already on (or past) the row's stop: on to the next row.
    if (atRow == row && first->column <= column) return next(row, UINT32_MAX, true);
    return at;
}

int64_t DifferenceIndex::next(uint32_t row, uint32_t column, bool forward) const {
    const auto before = [](const Cell& a, const Cell& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    };
    const Cell at{row, column};
    if (forward) {
        const auto it = std::upper_bound(cells.begin(), cells.end(), at, before);
        return it == cells.end() ? -1 : int64_t(it - cells.begin());
    }
    const auto it = std::lower_bound(cells.begin(), cells.end(), at, before);
    return it == cells.begin() ? -1 : int64_t(it - cells.begin()) - 1;
}

int64_t pairedRowOf(const Row& resultRow, size_t separator) {
    if (separator >= resultRow.size()) return -1;
    const std::u16string_view digits = resultRow[separator].text.view();
    if (digits.empty() || digits.size() > 18) return -1;
    int64_t n = 0;
    for (char16_t d : digits) {
        if (d < u'0' || d > u'9') return -1;
        n = n * 10 + (d - u'0');
    }
    return n - 1;
}

RowTable keepDifferenceRows(RowTable&& result, int fieldRow) {
    size_t kept = 0;
    for (size_t r = 0; r < result.size(); ++r) {
        if (int64_t(r) != fieldRow && !holdsDifference(result[r])) {
            Row().swap(result[r]);
            continue;
        }
        if (kept != r) result[kept] = std::move(result[r]);
        ++kept;
    }
    result.resize(kept);
    result.shrink_to_fit();
    return std::move(result);
}

} // namespace quellar
