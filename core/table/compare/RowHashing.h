#pragma once
// The pieces the comparison and its row alignment share to look at cells: the empty cell a
// short row lacks, and the hash of a row's cells under the content options, which rows whose
// cells compare equal share. Used by the comparison core only.

#include "table/compare/Comparison.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace quellar {

inline TextRules textRulesOf(const CompareOptions& options) {
    return TextRules{options.ignoreCase, options.rules.ignoreSpaces, options.rules.ignoreWidth};
}

inline char16_t asciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c;
}

// A cell that a short row lacks compares and shows like an empty cell read from a sheet.
inline const CellRecord& emptyCell() {
    static const CellRecord cell = [] {
        CellRecord c;
        c.fillColorIndex = Fill::White;
        c.mergeState = MergeState::Single;
        return c;
    }();
    return cell;
}

inline const CellRecord& cellOf(const Row& row, size_t column) {
    return column < row.size() ? row[column] : emptyCell();
}

// Hashing of the normalised cells: the same function for the rows of both tables, so rows
// whose cells compare equal (cellsEqual without a tolerance) hash alike. Equality itself is
// always decided by cellsEqual; the hash only narrows the candidates.
class KeyHasher {
public:
    explicit KeyHasher(const CompareOptions& options)
        : options_(options)
        , textRules_(textRulesOf(options)) {}

    uint64_t hashRow(const Row& row, const std::vector<size_t>& columns) const {
        uint64_t h = 0x9e3779b97f4a7c15ull;
        for (size_t column : columns) {
            const CellRecord& cell = cellOf(row, column);
            if (options_.compareText) {
                const std::u16string_view text = cell.text.view();
                if (textRules_.normalises()) {
                    h = hashNormalised(h, text, textRules_);
                } else if (h = mix(h, text.size()); options_.ignoreCase) {
                    for (char16_t c : text)
                        h = mix(h, asciiUpper(c));
                } else {
                    h = mixText(h, text);
                }
            }
            if (options_.compareFormula) {
                // A text that is not a formula equals every other such text.
                if (cell.formula.startsWith(u'=')) {
                    const std::u16string_view formula = cell.formula.view();
                    h = mix(h, formula.size() + 1);
                    for (char16_t c : formula)
                        h = mix(h, c);
                } else {
                    h = mix(h, 0);
                }
            }
            if (options_.compareNumberFormat) {
                const std::u16string_view format = cell.numberFormat().view();
                h = mix(h, format.size());
                for (char16_t c : format)
                    h = mix(h, c);
            }
        }
        return finish(h);
    }

private:
    static uint64_t mix(uint64_t h, uint64_t v) { return (h ^ v) * 0x100000001b3ull; }
    // Four characters at a time: a quarter of the multiplications (a different text still mixes
    // to a different value before `finish`, which spreads every bit).
    static uint64_t mixText(uint64_t h, std::u16string_view text) {
        const char16_t* p = text.data();
        size_t n = text.size();
        for (; n >= 4; n -= 4, p += 4) {
            uint64_t chunk;
            std::memcpy(&chunk, p, sizeof chunk);
            h = mix(h, chunk);
        }
        for (; n > 0; --n)
            h = mix(h, *p++);
        return h;
    }
    static uint64_t finish(uint64_t h) {
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdull;
        h ^= h >> 33;
        h *= 0xc4ceb9fe1a85ec53ull;
        h ^= h >> 33;
        return h;
    }

    const CompareOptions& options_;
    TextRules textRules_;
};

} // namespace quellar
