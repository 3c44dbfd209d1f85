#pragma once
// The in-memory table every operation works on.
//
// A RowTable is an ordered list of rows, each an ordered list of CellRecord. A table read
// from a sheet range is rectangular (one record per sheet cell, merged cells included, the
// cells inside a merged area marked Covered); tables built by operations may have rows of
// different lengths. Tables and rows are plain values: copying a table copies its records,
// while the records share their texts.
//
// CellRecord is kept to 40 bytes: texts are SharedText (eight bytes, shared by copies, no
// heap for the empty text), the number format, font and colour value are interned into one
// 32-bit style id, widths and heights are floats. Setters of the interned attributes
// re-intern; the marks an operation sets (fill, merge state, alignment) are plain fields.

#include "base/CellStyle.h"
#include "base/SharedText.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace quellar {

enum class MergeState : uint8_t {
    Covered = 0,  // inside a merged area, not its top-left cell; never written back
    Single = 1,   // not merged
    Anchor = 2,   // top-left cell of a merged area of mergeRows x mergeColumns
    TextOnly = 3, // made up by an operation: only text, fill and alignments are written
};

// Palette indexes used as marks.
namespace Fill {
constexpr int32_t None = 0;
constexpr int32_t White = 2;
constexpr int32_t Red = 3;
constexpr int32_t BrightGreen = 4;
constexpr int32_t Yellow = 6;
constexpr int32_t LightTurquoise = 20;
} // namespace Fill

// Alignment codes of the grid.
namespace Align {
constexpr int16_t General = 1;
constexpr int16_t Left = -4131;
constexpr int16_t Center = -4108;
constexpr int16_t Right = -4152;
constexpr int16_t Top = -4160;
constexpr int16_t Bottom = -4107;
constexpr int16_t Justify = -4130;
constexpr int16_t Distributed = -4117;
} // namespace Align

struct CellRecord {
    SharedText text;           // the value as text: what names, comparisons, conditions and sums use
    SharedText formula;        // the formula text; a formula begins with "="
    float columnWidth = 0;     // set only in row 0 of a table read from a sheet (points)
    float rowHeight = 0;       // set only in cell 0 of each row (points)
    uint32_t styleId = 0;      // numberFormat, fontName, fontSize, colorValue (see StylePool)
    int32_t mergeRows = 0;     // meaningful only for Anchor
    int16_t alignment1 = 0;    // horizontal alignment code
    int16_t alignment2 = 0;    // vertical alignment code
    int16_t mergeColumns = 0;  // meaningful only for Anchor; at most kMaxColumns
    int8_t fillColorIndex = 0; // a palette index (Fill), 0 for none
    MergeState mergeState = MergeState::Covered;

    const CellStyle& style() const noexcept { return StylePool::get(styleId); }
    const SharedText& numberFormat() const noexcept { return style().numberFormat; }
    const SharedText& fontName() const noexcept { return style().fontName; }
    int32_t fontSize() const noexcept { return style().fontSize; }
    int32_t colorValue() const noexcept { return style().colorValue; }

    void setStyle(const CellStyle& s) { styleId = StylePool::intern(s); }
    void setNumberFormat(const SharedText& v) {
        modifyStyle([&](CellStyle& s) { s.numberFormat = v; });
    }
    void setFontName(const SharedText& v) {
        modifyStyle([&](CellStyle& s) { s.fontName = v; });
    }
    void setFontSize(int32_t v) {
        modifyStyle([&](CellStyle& s) { s.fontSize = v; });
    }
    void setColorValue(int32_t v) {
        modifyStyle([&](CellStyle& s) { s.colorValue = v; });
    }

private:
    template <typename F> void modifyStyle(F change) {
        CellStyle s = style();
        change(s);
        styleId = StylePool::intern(s);
    }
};

static_assert(sizeof(CellRecord) <= 40, "CellRecord must stay compact");

using Row = std::vector<CellRecord>;
using RowTable = std::vector<Row>;

// First column, first row, last column, last row; 1-based, last values inclusive.
struct RangeBounds {
    int32_t firstColumn = 1;
    int32_t firstRow = 1;
    int32_t lastColumn = 1;
    int32_t lastRow = 1;

    friend bool operator==(const RangeBounds&, const RangeBounds&) = default;
};

// Same order as RangeBounds, relative to the range being read (its top-left cell is 1,1).
struct MergeArea {
    int32_t firstColumn;
    int32_t firstRow;
    int32_t lastColumn;
    int32_t lastRow;
};

using FieldList = QStringList;

} // namespace quellar
