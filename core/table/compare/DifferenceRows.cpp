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
        bool marked = false;
        for (size_t c = 0; c < row.size(); ++c) {
            if (!isDifferenceFill(row[c].fillColorIndex)) continue;
            index.cells.push_back({uint32_t(r), uint32_t(c)});
            marked = true;
        }
        if (marked) index.rows.push_back(uint32_t(r));
    }
    return index;
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
