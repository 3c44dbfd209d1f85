#pragma once
// The row pairing of the by-position comparison when inserted and deleted rows are to be
// recognised (CompareOptions::alignRows): the rows of the two tables are lined up as a line
// diff lines up lines, and the result rows follow that order. Used by the comparison core.
//
// 1. Equal rows (every compared cell equal under the content options and rules, so the cell
//    comparison marks nothing red) pair as a longest common subsequence: rows that occur once
//    in each table anchor the order (their longest increasing run, as the patience method
//    takes it), the stretches between anchors are aligned again the same way, and a stretch
//    without such rows by the O(ND) method with a bound on its edits. Rows are found by a hash
//    of their compared cells and every pair is checked cell by cell, so a collision never
//    pairs unequal rows. A column with a numeric tolerance is left out of the hash (numbers
//    within a tolerance are not one value); the check decides, and rows it turns down are
//    left to step 2, where they pair as similar rows.
// 2. In each gap between equal rows a row of table 1 and a row of table 2 pair when at least
//    half of their compared cells are equal, the most similar first (then the earlier rows),
//    never crossing a pair made before. Both field rows pair with each other when they fall
//    into the same gap. A long gap compares each row with the rows of the other side near its
//    place only (a window), so the work stays linear; a gap whose shorter side is longer than
//    maxGapSide is paired by position as the comparison does without alignment, and counted.
// 3. Within a gap the rows only in table 1 come before the rows only in table 2, and both
//    before the pair that ends the stretch, so a row only in table 2 stands where it was
//    inserted.

#include "table/compare/ColumnPlan.h"
#include "table/compare/Comparison.h"

#include "base/RowTable.h"

#include <cstdint>
#include <vector>

namespace quellar {

struct AlignmentLimits {
    // A gap whose shorter side has more rows than this is paired by position.
    size_t maxGapSide = 20000;
    // A gap whose two sides have at most this many row pairs compares every pair; a longer
    // one compares each row with the rows within `window` of its place on the other side.
    size_t fullPairs = 4096;
    size_t window = 32;
    // The O(ND) alignment of a stretch without rows unique on both sides gives up beyond this
    // many inserted and deleted rows; the stretch is then left to the similarity pairing.
    size_t maxEdits = 1000;
};

struct RowAlignment {
    // Per result row, in order: the row of table 1 and the row of table 2 it holds,
    // kNoPartner for none.
    std::vector<uint32_t> rows1;
    std::vector<uint32_t> rows2;
    // Per result row: 1 where the two rows were checked equal cell by cell.
    std::vector<uint8_t> equal;
    // Result rows in gaps too large to align, which were paired by position.
    int64_t unalignedRows = 0;
};

// Aligns the rows of t1 and t2, comparing the column pairs `compared` (their cells under
// `options` and each pair's rule). fieldRow1/fieldRow2 are the tables' field rows, -1 for none.
RowAlignment alignRows(const RowTable& t1, const RowTable& t2, const std::vector<ColumnPlan::Pair>& compared,
                       const CompareOptions& options, int fieldRow1, int fieldRow2,
                       const AlignmentLimits& limits = {});

} // namespace quellar
