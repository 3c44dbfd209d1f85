#include "workbook/Workbook.h"

#include "base/RowTable.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quellar {

// ---------------------------------------------------------------------------------------------
// Sheet: rows and cells

namespace {

// The first element of `items` (sorted by the member `key`) whose key is not less than `wanted`.
template <typename Items, typename Key, typename Wanted>
auto lowerByKey(Items& items, Key key, Wanted wanted) {
    return std::lower_bound(items.begin(), items.end(), wanted,
                            [key](const auto& item, Wanted w) { return item.*key < w; });
}

// The element of `items` (sorted by `key`, at most one per key) whose key is `wanted`, made
// when missing; appending in increasing order is O(1), which is how files are read.
template <typename T, typename K> T& sortedAt(std::vector<T>& items, K T::*key, K wanted) {
    if (items.empty() || items.back().*key < wanted) {
        items.emplace_back().*key = wanted;
        return items.back();
    }
    if (items.back().*key == wanted) return items.back();
    auto it = lowerByKey(items, key, wanted);
    if (it != items.end() && (*it).*key == wanted) return *it;
    it = items.emplace(it);
    (*it).*key = wanted;
    return *it;
}

} // namespace

const SheetRow* Sheet::row(int32_t index) const {
    if (rows.empty()) return nullptr;
    // Sequential access (readers and writers walk rows in order) hits the last row.
    if (rows.back().index == index) return &rows.back();
    if (rows.back().index < index) return nullptr;
    const auto it = lowerByKey(rows, &SheetRow::index, index);
    return (it != rows.end() && it->index == index) ? &*it : nullptr;
}

const Cell* Sheet::cell(int32_t rowIndex, int32_t column) const {
    const SheetRow* r = row(rowIndex);
    if (!r || r->cells.empty() || column < 0) return nullptr;
    const uint32_t col = uint32_t(column);
    if (r->cells.back().column == col) return &r->cells.back();
    if (r->cells.back().column < col) return nullptr;
    const auto it = lowerByKey(r->cells, &Cell::column, col);
    return (it != r->cells.end() && it->column == col) ? &*it : nullptr;
}

SheetRow& Sheet::rowAt(int32_t index) {
    return sortedAt(rows, &SheetRow::index, index);
}

Cell& Sheet::cellAt(int32_t rowIndex, int32_t column) {
    return sortedAt(rowAt(rowIndex).cells, &Cell::column, uint16_t(column));
}

std::optional<CellRange> Sheet::usedRange() const {
    bool any = false;
    CellRange range{kMaxRows, kMaxColumns, -1, -1};
    for (const SheetRow& r : rows) {
        if (r.cells.empty()) continue;
        any = true;
        range.firstRow = std::min(range.firstRow, r.index);
        range.lastRow = std::max(range.lastRow, r.index);
        range.firstColumn = std::min(range.firstColumn, int32_t(r.cells.front().column));
        range.lastColumn = std::max(range.lastColumn, int32_t(r.cells.back().column));
    }
    for (const CellRange& m : merges) {
        any = true;
        range.firstRow = std::min(range.firstRow, m.firstRow);
        range.lastRow = std::max(range.lastRow, m.lastRow);
        range.firstColumn = std::min(range.firstColumn, m.firstColumn);
        range.lastColumn = std::max(range.lastColumn, m.lastColumn);
    }
    if (!any) return std::nullopt;
    return range;
}

// ---------------------------------------------------------------------------------------------
// Sheet: merged areas
//
// The index is an implicit interval tree: mergeIndex_ holds the merge positions sorted by
// first row, followed by a segment tree (size 2*n) of the largest last row below each node
// and a fingerprint of the list. A lookup walks only the subtrees whose areas can reach the
// row, so it costs O(log n) plus the areas that span the row. The index is rebuilt when the
// list's length, storage or sampled areas change; code that edits one area in place in a
// long list must call clear() or rebuild the list. Not safe for concurrent first calls.

namespace {

struct MergeTreeView {
    const std::vector<CellRange>& merges;
    const size_t* order; // n positions sorted by first row
    const size_t* tree;  // 2*n nodes: tree[n + i] is order[i]'s last row
    size_t n;

    // Searches the leaves [0, limit) below `node` (covering [lo, hi)).
    const CellRange* find(size_t node, size_t lo, size_t hi, size_t limit, int32_t row,
                          int32_t column) const {
        if (lo >= limit || int64_t(tree[node]) < row) return nullptr;
        if (hi - lo == 1) {
            const CellRange& m = merges[order[lo]];
            return m.contains(row, column) ? &m : nullptr;
        }
        const size_t mid = lo + (hi - lo) / 2;
        if (const CellRange* hit = find(2 * node, lo, mid, limit, row, column)) return hit;
        return find(2 * node + 1, mid, hi, limit, row, column);
    }
};

} // namespace

const CellRange* Sheet::mergeContaining(int32_t row, int32_t column) const {
    const size_t n = merges.size();
    if (n == 0) return nullptr;
    if (n <= 8) {
        for (const CellRange& m : merges)
            if (m.contains(row, column)) return &m;
        return nullptr;
    }
    size_t leaves = 1;
    while (leaves < n)
        leaves *= 2;
    // A cheap fingerprint of the list (its storage and a few areas) catches a list replaced
    // or edited in place with the same length.
    auto sample = [this, n]() {
        size_t h = 0;
        for (size_t i : {size_t(0), n / 2, n - 1}) {
            const CellRange& m = merges[i];
            h = h * 1000003u ^ (size_t(uint32_t(m.firstRow)) << 32 | uint32_t(m.firstColumn));
            h = h * 1000003u ^ (size_t(uint32_t(m.lastRow)) << 32 | uint32_t(m.lastColumn));
        }
        return h;
    };
    const size_t fingerprintAt = 3 * leaves;
    const size_t storage = reinterpret_cast<size_t>(merges.data());
    if (mergeIndexSize_ != n || mergeIndex_.size() != fingerprintAt + 2 ||
        mergeIndex_[fingerprintAt] != storage || mergeIndex_[fingerprintAt + 1] != sample()) {
        // Tree over a power-of-two number of leaves; node 1 is the root.
        mergeIndex_.assign(fingerprintAt + 2, 0);
        size_t* order = mergeIndex_.data();
        for (size_t i = 0; i < n; ++i)
            order[i] = i;
        std::sort(order, order + n,
                  [this](size_t a, size_t b) { return merges[a].firstRow < merges[b].firstRow; });
        size_t* tree = order + leaves;
        for (size_t i = 0; i < n; ++i)
            tree[leaves + i] = size_t(std::max(merges[order[i]].lastRow, 0));
        for (size_t i = leaves - 1; i >= 1; --i)
            tree[i] = std::max(tree[2 * i], tree[2 * i + 1]);
        mergeIndex_[fingerprintAt] = storage;
        mergeIndex_[fingerprintAt + 1] = sample();
        mergeIndexSize_ = n;
    }
    const size_t* order = mergeIndex_.data();
    // Only areas that start on or above the row can contain it.
    const size_t limit =
        size_t(std::upper_bound(order, order + n, row,
                                [this](int32_t r, size_t i) { return r < merges[i].firstRow; }) -
               order);
    if (limit == 0) return nullptr;
    const MergeTreeView view{merges, order, order + leaves, leaves};
    return view.find(1, 0, leaves, limit, row, column);
}

double Sheet::columnWidth(int32_t column) const {
    const auto it = columnWidths.find(column);
    return it != columnWidths.end() ? it->second : defaultColumnWidth;
}

double Sheet::rowHeight(int32_t index) const {
    const SheetRow* r = row(index);
    return (r && r->height >= 0) ? double(r->height) : defaultRowHeight;
}

void Sheet::clear() {
    rows.clear();
    merges.clear();
    columnWidths.clear();
    rowBreaks.clear();
    mergeIndex_.clear();
    mergeIndexSize_ = size_t(-1);
}

Sheet Sheet::emptyCopy() const {
    Sheet sheet;
    sheet.name = name;
    sheet.defaultColumnWidth = defaultColumnWidth;
    sheet.defaultRowHeight = defaultRowHeight;
    sheet.hidden = hidden;
    sheet.isProtected = isProtected;
    sheet.pageSetup = pageSetup;
    return sheet;
}

// ---------------------------------------------------------------------------------------------
// Workbook

Workbook::Workbook() {
    styles.emplace_back();
}

namespace {

QString styleDigest(const Style& s) {
    // Cheap and collision-tolerant: equal styles always give equal digests; the caller
    // compares the candidates in full.
    return s.numberFormat + QChar(u'\x1f') + s.fontName + QChar(u'\x1f') +
           QString::number(s.fillRgb * 2 + (s.hasFill ? 1 : 0), 16) + QChar(u'\x1f') +
           QString::number(s.fontSize) + QChar(u'\x1f') +
           QString::number(int(s.horizontal) * 8 + int(s.vertical)) + QChar(u'\x1f') +
           QString::number((s.bold ? 1 : 0) | (s.italic ? 2 : 0) | (s.wrapText ? 4 : 0));
}

} // namespace

uint32_t Workbook::internStyle(const Style& style) {
    // Styles may have been appended to `styles` directly; index those first.
    if (indexedStyles_ != styles.size()) {
        styleLookup_.clear();
        for (size_t i = 0; i < styles.size(); ++i)
            styleLookup_[styleDigest(styles[i])].append(uint32_t(i));
        indexedStyles_ = styles.size();
    }
    const QString key = styleDigest(style);
    QList<uint32_t>& candidates = styleLookup_[key];
    for (uint32_t i : candidates)
        if (i < styles.size() && styles[i] == style) return i;
    styles.push_back(style);
    const uint32_t index = uint32_t(styles.size() - 1);
    candidates.append(index);
    indexedStyles_ = styles.size();
    return index;
}

Workbook Workbook::makeDefault() {
    Workbook book;
    book.defaultFontName = QStringLiteral("宋体");
    book.defaultFontSize = 11;
    for (const char* name : {"Sheet1", "Sheet2", "Sheet3"}) {
        book.sheets.emplace_back();
        book.sheets.back().name = QString::fromLatin1(name);
    }
    book.activeSheet = 0;
    return book;
}

int Workbook::sheetIndex(const QString& name) const {
    for (size_t i = 0; i < sheets.size(); ++i)
        if (sheets[i].name == name) return int(i);
    return -1;
}

// ---------------------------------------------------------------------------------------------
// The standard 56-colour palette of Excel 97-2003 workbooks.

namespace {

constexpr std::array<uint32_t, 56> kPalette = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, // 1-8
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080, // 9-16
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF, // 17-24
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF, // 25-32
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99, // 33-40
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696, // 41-48
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333, // 49-56
};

} // namespace

uint32_t paletteColor(int index) {
    if (index < 1 || index > 56) return 0xFFFFFF;
    return kPalette[size_t(index - 1)];
}

int nearestPaletteIndex(uint32_t rgb) {
    const int r = int((rgb >> 16) & 0xFF), g = int((rgb >> 8) & 0xFF), b = int(rgb & 0xFF);
    int best = 1;
    int64_t bestDistance = INT64_MAX;
    for (size_t i = 0; i < kPalette.size(); ++i) {
        const int pr = int((kPalette[i] >> 16) & 0xFF), pg = int((kPalette[i] >> 8) & 0xFF),
                  pb = int(kPalette[i] & 0xFF);
        // Weighted by the eye's sensitivity (the "redmean" approximation), ties to the lower index.
        const int rmean = (r + pr) / 2;
        const int64_t dr = r - pr, dg = g - pg, db = b - pb;
        const int64_t d = (((512 + rmean) * dr * dr) >> 8) + 4 * dg * dg + (((767 - rmean) * db * db) >> 8);
        if (d < bestDistance) {
            bestDistance = d;
            best = int(i) + 1;
            if (d == 0) break;
        }
    }
    return best;
}

namespace {

// Each alignment with its code; 5 (fill) and 7 (centre across selection) have no named code.
constexpr std::pair<HAlign, int16_t> kHorizontalCodes[] = {{HAlign::General, Align::General},
                                                           {HAlign::Left, Align::Left},
                                                           {HAlign::Center, Align::Center},
                                                           {HAlign::Right, Align::Right},
                                                           {HAlign::Fill, 5},
                                                           {HAlign::Justify, Align::Justify},
                                                           {HAlign::CenterAcross, 7},
                                                           {HAlign::Distributed, Align::Distributed}};
constexpr std::pair<VAlign, int16_t> kVerticalCodes[] = {{VAlign::Bottom, Align::Bottom},
                                                         {VAlign::Top, Align::Top},
                                                         {VAlign::Center, Align::Center},
                                                         {VAlign::Justify, Align::Justify},
                                                         {VAlign::Distributed, Align::Distributed}};

template <typename A, size_t N>
int16_t codeOf(const std::pair<A, int16_t> (&codes)[N], A alignment, int16_t otherwise) {
    for (const auto& [a, code] : codes)
        if (a == alignment) return code;
    return otherwise;
}

template <typename A, size_t N>
A alignmentOf(const std::pair<A, int16_t> (&codes)[N], int16_t code, A otherwise) {
    for (const auto& [a, c] : codes)
        if (c == code) return a;
    return otherwise;
}

} // namespace

int16_t alignmentCode(HAlign alignment) {
    return codeOf(kHorizontalCodes, alignment, Align::General);
}

int16_t alignmentCode(VAlign alignment) {
    return codeOf(kVerticalCodes, alignment, Align::Bottom);
}

HAlign horizontalFromCode(int16_t code) {
    return alignmentOf(kHorizontalCodes, code, HAlign::General);
}

VAlign verticalFromCode(int16_t code) {
    return alignmentOf(kVerticalCodes, code, VAlign::Bottom);
}

} // namespace quellar
