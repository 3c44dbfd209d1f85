#pragma once
// Small pieces the join, filter and group-summary cores share: reading a cell's text
// without copying it, the row-number cell those operations append, and the "%lf" text of a
// sum. Header-only, pure, never failing.

#include "base/RowTable.h"
#include "base/SharedText.h"

#include <charconv>
#include <string_view>
#include <system_error>

namespace quellar::cells {

// The text of cell `position` of `row`; empty when the row is shorter (or position < 0).
inline std::u16string_view textAt(const Row& row, long long position) {
    if (position < 0 || size_t(position) >= row.size()) return {};
    return row[size_t(position)].text.view();
}

// Decimal digits ("%d") of a non-negative number, without a QString in between.
inline SharedText decimalText(size_t value) {
    char16_t digits[24];
    size_t at = 24;
    do {
        digits[--at] = char16_t(u'0' + value % 10);
        value /= 10;
    } while (value > 0);
    return SharedText(std::u16string_view(digits + at, 24 - at));
}

// A made-up cell showing a row number: light turquoise, centred both ways, written with its
// text, fill and alignments only.
inline CellRecord rowNumberCell(size_t number) {
    CellRecord cell;
    cell.text = decimalText(number);
    cell.mergeState = MergeState::TextOnly;
    cell.fillColorIndex = Fill::LightTurquoise;
    cell.alignment1 = Align::Center;
    cell.alignment2 = Align::Center;
    return cell;
}

// A sum as printf "%lf" writes it: fixed notation, six decimals (12.5 + 3 gives 15.500000).
// std::to_chars with a precision gives exactly printf's digits, many times faster.
inline SharedText sumText(double value) {
    char buffer[400];
    const std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    const size_t n = r.ec == std::errc() ? size_t(r.ptr - buffer) : 0;
    char16_t wide[400];
    for (size_t i = 0; i < n; ++i)
        wide[i] = char16_t(static_cast<unsigned char>(buffer[i]));
    return SharedText(std::u16string_view(wide, n));
}

} // namespace quellar::cells
