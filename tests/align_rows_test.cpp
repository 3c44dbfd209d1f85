// The by-position comparison with inserted and deleted rows recognised: against a literal
// reference (a dynamic-programming longest common subsequence and the documented pairing of
// the gaps) on many random small tables, exact marks on unambiguous edits, the field row,
// the rules, the fallback of a gap too large, and the outputs that read the aligned result.

#include "base/CellOps.h"
#include "base/ParallelRows.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/Comparison.h"
#include "table/compare/DetailsPage.h"
#include "table/compare/DifferenceRows.h"
#include "table/compare/HighlighterDiff.h"
#include "table/compare/RowAlignment.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace quellar;
using test::makeTable;
using test::tbl;

namespace {

using Rows = std::vector<QStringList>;

CompareOptions aligned() {
    CompareOptions options;
    options.keyMode = false;
    options.alignRows = true;
    return options;
}

struct Compared {
    RowTable result;
    CompareLayout layout;
    CompareCounts counts;
    CompareStatistics statistics;
};

Compared compareAligned(const RowTable& a, const RowTable& b, const CompareOptions& options = aligned()) {
    Compared c;
    Result<RowTable> r = compareTables(a, b, options, {}, &c.counts, &c.layout, &c.statistics);
    EXPECT_TRUE(r.isOk()) << r.status().message().toStdString();
    if (r.isOk()) c.result = std::move(r.value());
    return c;
}

// The result rows as "i1/i2" (1-based, "-" for none): "1/1 2/- -/2".
QString pairingText(const Compared& c) {
    QStringList rows;
    for (size_t r = 0; r < c.result.size(); ++r) {
        const int64_t i = c.layout.table1Row(r);
        const int64_t j = pairedRowOf(c.result[r], c.layout.width1);
        rows.append((i < 0 ? QStringLiteral("-") : QString::number(i + 1)) + u'/' +
                    (j < 0 ? QStringLiteral("-") : QString::number(j + 1)));
    }
    return rows.join(u' ');
}

// ---- The reference: the alignment written out plainly ---------------------------------------

struct RefPair {
    int i1, i2; // -1: none
};

int equalCells(const QStringList& a, const QStringList& b) {
    int same = 0;
    for (qsizetype c = 0; c < std::min(a.size(), b.size()); ++c)
        same += a[c] == b[c];
    return same;
}

// Rows of equal width; cells compared as texts. Field rows as findFieldRow finds them.
std::vector<RefPair> referenceAlignment(const Rows& a, const Rows& b, int field1, int field2) {
    const int n = int(a.size()), m = int(b.size());
    // lcs[i][j]: the longest common subsequence of a[i..] and b[j..].
    std::vector<std::vector<int>> lcs(size_t(n + 1), std::vector<int>(size_t(m + 1), 0));
    for (int i = n - 1; i >= 0; --i)
        for (int j = m - 1; j >= 0; --j)
            lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    std::vector<std::pair<int, int>> equal;
    for (int i = 0, j = 0; i < n && j < m;) {
        if (a[i] == b[j] && lcs[i][j] == lcs[i + 1][j + 1] + 1) {
            equal.emplace_back(i++, j++);
        } else if (lcs[i + 1][j] >= lcs[i][j + 1]) {
            ++i;
        } else {
            ++j;
        }
    }
    const int columns = n ? int(a[0].size()) : 0;
    std::vector<RefPair> out;
    // One gap: every pair with at least half of its cells equal, the most similar first, then by
    // row, never crossing; the field rows with each other first when both are in it.
    std::function<void(int, int, int, int, std::vector<std::pair<int, int>>&)> gapPairs =
        [&](int a1, int b1, int a2, int b2, std::vector<std::pair<int, int>>& pairs) {
            if (field1 >= a1 && field1 < b1 && field2 >= a2 && field2 < b2) {
                gapPairs(a1, field1, a2, field2, pairs);
                pairs.emplace_back(field1, field2);
                gapPairs(field1 + 1, b1, field2 + 1, b2, pairs);
                return;
            }
            std::vector<std::tuple<int, int, int>> candidates;
            for (int i = a1; i < b1; ++i)
                for (int j = a2; j < b2; ++j)
                    if (const int same = equalCells(a[i], b[j]); 2 * same >= columns)
                        candidates.emplace_back(-same, i, j);
            std::sort(candidates.begin(), candidates.end());
            std::vector<std::pair<int, int>> taken;
            for (const auto& [score, i, j] : candidates) {
                bool fits = true;
                for (const auto& [ti, tj] : taken)
                    fits = fits && ((ti < i && tj < j) || (ti > i && tj > j));
                if (fits) taken.emplace_back(i, j);
            }
            std::sort(taken.begin(), taken.end());
            pairs.insert(pairs.end(), taken.begin(), taken.end());
        };
    const auto gap = [&](int a1, int b1, int a2, int b2) {
        std::vector<std::pair<int, int>> pairs;
        gapPairs(a1, b1, a2, b2, pairs);
        pairs.emplace_back(b1, b2);
        for (const auto& [i, j] : pairs) {
            for (; a1 < i; ++a1)
                out.push_back({a1, -1});
            for (; a2 < j; ++a2)
                out.push_back({-1, a2});
            if (i < b1) out.push_back({i, j});
            a1 = i + 1;
            a2 = j + 1;
        }
    };
    int at1 = 0, at2 = 0;
    for (const auto& [i, j] : equal) {
        gap(at1, i, at2, j);
        out.push_back({i, j});
        at1 = i + 1;
        at2 = j + 1;
    }
    gap(at1, n, at2, m);
    return out;
}

QString referenceText(const std::vector<RefPair>& pairs) {
    QStringList rows;
    for (const RefPair& p : pairs)
        rows.append((p.i1 < 0 ? QStringLiteral("-") : QString::number(p.i1 + 1)) + u'/' +
                    (p.i2 < 0 ? QStringLiteral("-") : QString::number(p.i2 + 1)));
    return rows.join(u' ');
}

// The marks the reference pairing gives: red per differing cell of a pair, yellow and green
// per cell of a row in one table only.
CompareCounts referenceCounts(const Rows& a, const Rows& b, const std::vector<RefPair>& pairs) {
    CompareCounts counts;
    const int64_t w1 = a.empty() ? 0 : a[0].size(), w2 = b.empty() ? 0 : b[0].size();
    for (const RefPair& p : pairs) {
        int64_t marks = 0;
        if (p.i2 < 0) {
            counts.yellowCells += w1;
            marks = w1;
        } else if (p.i1 < 0) {
            counts.greenCells += w2;
            marks = w2;
        } else {
            marks = w1 - equalCells(a[size_t(p.i1)], b[size_t(p.i2)]);
            counts.redCells += 2 * marks;
        }
        counts.differentRows += marks > 0;
    }
    counts.differentCells = counts.redCells / 2;
    return counts;
}

QString countsText(const CompareCounts& c) {
    return QStringLiteral("rows %1 cells %2 red %3 yellow %4 green %5")
        .arg(c.differentRows)
        .arg(c.differentCells)
        .arg(c.redCells)
        .arg(c.yellowCells)
        .arg(c.greenCells);
}

int fieldRowOf(const RowTable& table) {
    int row = -1;
    findFieldRow(table, row);
    return row;
}

struct Edits {
    int64_t deleted = 0, edited = 0, inserted = 0;
};

// A random edit of `a`: rows deleted, rows edited in one cell to a new text, rows inserted.
// Every row of the result that equals a row of `a` is that row, kept in its place, so the
// longest common subsequence is those rows and no other.
Rows edited(const Rows& a, std::mt19937& rng, const std::function<QStringList()>& newRow, double change,
            Edits* edits = nullptr) {
    Edits made;
    std::uniform_real_distribution<double> unit(0, 1);
    std::set<QStringList> originals(a.begin(), a.end());
    Rows b;
    int fresh = 0;
    const auto insertSome = [&] {
        while (unit(rng) < change) {
            QStringList row = newRow();
            if (!originals.count(row)) {
                b.push_back(row);
                ++made.inserted;
            }
        }
    };
    insertSome();
    for (const QStringList& row : a) {
        const double roll = unit(rng);
        if (roll < change) {
            ++made.deleted;
        } else if (roll < 2 * change) {
            ++made.edited;
            QStringList changed = row;
            changed[qsizetype(rng() % changed.size())] = QStringLiteral("x%1").arg(++fresh);
            b.push_back(changed);
        } else {
            b.push_back(row);
        }
        insertSome();
    }
    if (edits) *edits = made;
    return b;
}

} // namespace

TEST(AlignRows, MatchesTheDynamicProgrammingReferenceOnRandomTables) {
    std::mt19937 rng(31);
    for (bool parallel : {false, true}) {
        setParallelRowFloor(parallel ? 1 : kParallelRowsOff);
        for (int round = 0; round < 300; ++round) {
            const int columns = 2 + int(rng() % 4);
            // Cells from a small alphabet, so that rows in a gap are often similar to several others.
            const auto randomRow = [&] {
                QStringList row;
                for (int c = 0; c < columns; ++c)
                    row.append(QString(QChar(u'a' + int(rng() % 3))));
                return row;
            };
            Rows a;
            std::set<QStringList> seen;
            const int n = int(rng() % 30);
            for (int tries = 0; int(a.size()) < n && tries < 1000; ++tries)
                if (QStringList row = randomRow(); seen.insert(row).second) a.push_back(row);
            Rows b = edited(a, rng, randomRow, 0.05 + 0.3 * double(rng() % 4) / 4);
            // Rows inserted must not repeat one another either.
            std::set<QStringList> seen2;
            b.erase(std::remove_if(b.begin(), b.end(),
                                   [&](const QStringList& r) { return !seen2.insert(r).second; }),
                    b.end());
            const RowTable t1 = makeTable(a), t2 = makeTable(b);
            const std::vector<RefPair> expected = referenceAlignment(a, b, fieldRowOf(t1), fieldRowOf(t2));
            const Compared c = compareAligned(t1, t2);
            ASSERT_EQ(pairingText(c), referenceText(expected)) << "round " << round;
            ASSERT_EQ(countsText(c.counts), countsText(referenceCounts(a, b, expected))) << "round " << round;
        }
    }
    setParallelRowFloor(kParallelRowsOff);
}

TEST(AlignRows, StretchesWithoutUniqueRowsGetALongestCommonSubsequence) {
    // Every value repeats on both sides and the ends differ, so no row anchors the order and
    // the O(ND) alignment does the work; its pairs are as many as the longest common subsequence.
    std::mt19937 rng(7);
    int checked = 0;
    for (int round = 0; round < 400 && checked < 150; ++round) {
        Rows a, b;
        for (Rows* rows : {&a, &b})
            for (int k = int(4 + rng() % 20); k > 0; --k)
                rows->push_back({QString(QChar(u'a' + int(rng() % 3))), QStringLiteral("=")});
        std::map<QStringList, int> count1, count2;
        for (const QStringList& r : a)
            ++count1[r];
        for (const QStringList& r : b)
            ++count2[r];
        bool repeated = a.front() != b.front() && a.back() != b.back();
        for (const auto& [row, k] : count1)
            repeated = repeated && k >= 2 && count2[row] != 1;
        for (const auto& [row, k] : count2)
            repeated = repeated && k >= 2;
        if (!repeated) continue;
        ++checked;
        size_t longest = 0;
        for (const RefPair& p : referenceAlignment(a, b, -1, -1))
            longest += p.i1 >= 0 && p.i2 >= 0 && a[size_t(p.i1)] == b[size_t(p.i2)];
        CompareOptions options;
        const RowAlignment alignment =
            alignRows(makeTable(a), makeTable(b), {{0, 0, {}}, {1, 1, {}}}, options, -1, -1);
        size_t equal = 0;
        int64_t last1 = -1, last2 = -1;
        for (size_t r = 0; r < alignment.rows1.size(); ++r) {
            const uint32_t i = alignment.rows1[r], j = alignment.rows2[r];
            if (i != kNoPartner) {
                EXPECT_GT(int64_t(i), last1);
                last1 = i;
            }
            if (j != kNoPartner) {
                EXPECT_GT(int64_t(j), last2);
                last2 = j;
            }
            if (!alignment.equal[r]) continue;
            EXPECT_EQ(a[i], b[j]);
            ++equal;
        }
        EXPECT_EQ(last1 + 1, int64_t(a.size()));
        EXPECT_EQ(last2 + 1, int64_t(b.size()));
        EXPECT_EQ(equal, longest) << "round " << round;
    }
    EXPECT_GE(checked, 50);
}

TEST(AlignRows, UnambiguousEditsMarkExactlyTheDeletedInsertedAndEditedCells) {
    std::mt19937 rng(2026);
    for (int round = 0; round < 200; ++round) {
        const int columns = 3 + int(rng() % 4);
        int next = 0;
        // Rows share no text, so each edited row is similar to its original alone.
        const auto newRow = [&] {
            QStringList row;
            ++next;
            for (int c = 0; c < columns; ++c)
                row.append(QStringLiteral("r%1c%2").arg(next).arg(c));
            return row;
        };
        // A field row both keep, as lists have.
        Rows a{newRow()};
        for (int k = int(rng() % 60); k > 0; --k)
            a.push_back(newRow());
        Edits edits;
        Rows b = edited(Rows(a.begin() + 1, a.end()), rng, newRow, 0.1, &edits);
        b.insert(b.begin(), a[0]);
        const Compared c = compareAligned(makeTable(a), makeTable(b));
        EXPECT_EQ(c.counts.yellowCells, edits.deleted * columns) << "round " << round;
        EXPECT_EQ(c.counts.greenCells, edits.inserted * columns) << "round " << round;
        EXPECT_EQ(c.counts.differentCells, edits.edited) << "round " << round;
        EXPECT_EQ(c.statistics.onlyInFile1, edits.deleted);
        EXPECT_EQ(c.statistics.onlyInFile2, edits.inserted);
        EXPECT_EQ(c.statistics.pairedWithDifferences, edits.edited);
    }
}

TEST(AlignRows, RowsInsertedAtTheTopStandWhereTheyWereInsertedWithTheirRowNumber) {
    // A list without a field row, a row inserted at the top and one in the middle, one deleted.
    const Compared c = compareAligned(tbl("1,apple,3;2,pear,4;3,plum,5;4,fig,6"),
                                      tbl("0,new,1;1,apple,3;2,pear,4;9,kiwi,8;4,fig,6"));
    EXPECT_EQ(pairingText(c), QStringLiteral("-/1 1/2 2/3 3/- -/4 4/5"));
    // Fillers where a row has no partner, as without alignment.
    EXPECT_EQ(test::tableText(c.result).toStdString(), "~ ~ ~ 1*20 0:4 new:4 1:4\n"
                                                       "1:2 apple:2 3:2 2*20 1:2 apple:2 3:2\n"
                                                       "2:2 pear:2 4:2 3*20 2:2 pear:2 4:2\n"
                                                       "3:6 plum:6 5:6 ~ ~ ~ ~\n"
                                                       "~ ~ ~ 4*20 9:4 kiwi:4 8:4\n"
                                                       "4:2 fig:2 6:2 5*20 4:2 fig:2 6:2");
    // Off, the same tables pair row by row.
    CompareOptions plain = aligned();
    plain.alignRows = false;
    CompareCounts counts;
    ASSERT_TRUE(compareTables(tbl("1,a;2,b"), tbl("0,z;1,a;2,b"), plain, {}, &counts).isOk());
    EXPECT_EQ(counts.differentCells, 4);
}

TEST(AlignRows, FieldRowsPairWithEachOtherAndColumnsFollowTheirNames) {
    // Every field renamed: the field rows still pair (their cells red), the data aligns.
    const Compared renamed = compareAligned(tbl("id,name;1,a;2,b;3,c"), tbl("编号,名称;1,a;3,c"));
    EXPECT_EQ(pairingText(renamed), QStringLiteral("1/1 2/2 3/- 4/3"));
    EXPECT_EQ(renamed.counts.differentCells, 2);
    EXPECT_EQ(renamed.statistics.onlyInFile1, 1);
    EXPECT_EQ(renamed.statistics.cellsDiffering, 0); // the field row is no data

    // Columns by name: file 2's columns in another order, one more column, a row inserted.
    CompareOptions byName = aligned();
    byName.rules.columnsByName = true;
    const Compared named = compareAligned(tbl("id,name,qty;1,a,3;2,b,4;3,c,5"),
                                          tbl("qty,id,note,name;3,1,x,a;9,7,y,q;4,2,z,b;6,3,w,c"), byName);
    EXPECT_EQ(pairingText(named), QStringLiteral("1/1 2/2 -/3 3/4 4/5"));
    EXPECT_EQ(named.counts.differentCells, 1); // qty of id 3: 5 → 6
    EXPECT_EQ(named.statistics.onlyInFile2, 1);
    // Without names the columns pair by position: nothing is equal, the rows pair by similarity
    // or not at all.
    const Compared positional = compareAligned(tbl("a,b,c;1,2,3"), tbl("a,b,c,d;1,2,3,4"));
    EXPECT_EQ(pairingText(positional), QStringLiteral("1/1 2/2"));
    EXPECT_EQ(positional.counts.greenCells, 2);
    EXPECT_EQ(positional.counts.differentCells, 0);
}

TEST(AlignRows, RulesDecideWhichRowsAreEqual) {
    // Ignoring white space and full width: rows equal under the rules align.
    CompareOptions spaces = aligned();
    spaces.rules.ignoreSpaces = true;
    spaces.rules.ignoreWidth = true;
    spaces.ignoreCase = true;
    const Compared s = compareAligned(tbl("k,v;a b,1;c,2;d,3"), tbl("k,v;new,0;A  B,１;c,2;d,3"), spaces);
    EXPECT_EQ(pairingText(s), QStringLiteral("1/1 -/2 2/3 3/4 4/5"));
    EXPECT_EQ(s.counts.differentCells, 0);

    // A tolerance: values within it are equal; beyond it the row still pairs (its other cells
    // are equal) and the value is red.
    CompareOptions tolerance = aligned();
    tolerance.rules.fieldTolerances = {{QStringLiteral("v"), 0.01}};
    const Compared t = compareAligned(tbl("k,v;a,1.00;b,2.00;c,3.00;d,0.1"),
                                      tbl("k,v;a,1.004;x,9;b,2.5;c,3.001;d,0.30000000000000004"), tolerance);
    EXPECT_EQ(pairingText(t), QStringLiteral("1/1 2/2 -/3 3/4 4/5 5/6"));
    EXPECT_EQ(t.counts.differentCells, 2); // 2.00 → 2.5 and 0.1 → 0.3
    EXPECT_EQ(t.counts.greenCells, 2);

    // An ignored column neither decides equality nor is marked.
    CompareOptions ignored = aligned();
    ignored.rules.ignoredColumns = {QStringLiteral("note")};
    const Compared i = compareAligned(tbl("k,note;a,x;b,y"), tbl("k,note;z,q;a,changed;b,y"), ignored);
    EXPECT_EQ(pairingText(i), QStringLiteral("1/1 -/2 2/3 3/4"));
    EXPECT_EQ(i.counts.differentCells, 0);
    EXPECT_EQ(i.counts.greenCells, 1);
}

TEST(AlignRows, EdgeValuesCompareAsTexts) {
    // Round amounts, 15 and 16 digits, -0, dates, times, long and full-width texts.
    const QString rows = QStringLiteral("10000000,123456789012345,2026/1/"
                                        "31;1234567890123456,-0,0.1;12:30:00,1e-7,%1;全角ＡＢＣ，文字,x,y")
                             .arg(QString(300, u'长'));
    const RowTable a = tbl(rows);
    RowTable b = tbl(QStringLiteral("0,0,0;") + rows);
    b[2][1].text = SharedText(QStringLiteral("0")); // -0 and 0 are different texts
    const Compared c = compareAligned(a, b);
    EXPECT_EQ(pairingText(c), QStringLiteral("-/1 1/2 2/3 3/4 4/5"));
    EXPECT_EQ(c.counts.differentCells, 1);
}

TEST(AlignRows, AGapTooLargeIsPairedByPositionAndCounted) {
    // Two tables with nothing in common: the gap is larger than the limit, so the rows pair
    // by position as without alignment, and the rows are counted for the message.
    Rows a, b;
    for (int r = 0; r < 20010; ++r) {
        a.push_back({QStringLiteral("a%1").arg(r), QStringLiteral("p")});
        b.push_back({QStringLiteral("b%1").arg(r), QStringLiteral("q")});
    }
    b.push_back({QStringLiteral("extra"), QStringLiteral("q")});
    const Compared c = compareAligned(makeTable(a), makeTable(b));
    // The field rows pair first; the 20,009 and 20,010 rows after them are the gap.
    EXPECT_EQ(c.counts.unalignedRows, 20010);
    CompareOptions plain = aligned();
    plain.alignRows = false;
    CompareCounts counts;
    Result<RowTable> r = compareTables(makeTable(a), makeTable(b), plain, {}, &counts);
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(test::tableText(c.result), test::tableText(r.value()));
    EXPECT_EQ(counts.unalignedRows, 0);

    // Smaller limits: a long gap compares rows near their place only, and still finds the
    // edited rows; past maxGapSide it pairs by position.
    Rows x, y;
    for (int r = 0; r < 400; ++r) {
        x.push_back({QStringLiteral("k%1").arg(r), QStringLiteral("v%1").arg(r), QStringLiteral("w")});
        y.push_back({QStringLiteral("k%1").arg(r), QStringLiteral("v%1").arg(r), QStringLiteral("changed")});
    }
    AlignmentLimits limits;
    limits.fullPairs = 100;
    limits.window = 2;
    const RowAlignment banded = alignRows(makeTable(x), makeTable(y), {{0, 0, {}}, {1, 1, {}}, {2, 2, {}}},
                                          CompareOptions(), -1, -1, limits);
    ASSERT_EQ(banded.rows1.size(), 400u);
    for (uint32_t r = 0; r < 400; ++r)
        EXPECT_TRUE(banded.rows1[r] == r && banded.rows2[r] == r && !banded.equal[r]);
    EXPECT_EQ(banded.unalignedRows, 0);
    limits.maxGapSide = 399;
    EXPECT_EQ(
        alignRows(makeTable(x), makeTable(y), {{0, 0, {}}}, CompareOptions(), -1, -1, limits).unalignedRows,
        0); // equal by the first column alone: no gap at all
    EXPECT_EQ(
        alignRows(makeTable(x), makeTable(y), {{2, 2, {}}}, CompareOptions(), -1, -1, limits).unalignedRows,
        400);
}

TEST(AlignRows, OutputsFollowTheAlignedRows) {
    const Compared c = compareAligned(tbl("id,name,qty;1,apple,3;2,pear,4;3,plum,5;4,fig,6"),
                                      tbl("id,name,qty;0,new,1;1,apple,3;2,pear,40;4,fig,6"));
    // The tabular diff lists the rows in the aligned order.
    HighlighterOptions all;
    all.context = -1;
    EXPECT_EQ(
        QString::fromUtf8(highlighterDiffText(c.result, c.layout, all).substr(3))
            .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
        QStringLiteral("@@,id,name,qty\n+++,0,new,1\n,1,apple,3\n->,2,pear,4->40\n---,3,plum,5\n,4,fig,6\n"));
    // Statistics.
    EXPECT_EQ(c.statistics.paired, 3);
    EXPECT_EQ(c.statistics.onlyInFile1, 1);
    EXPECT_EQ(c.statistics.onlyInFile2, 1);
    EXPECT_EQ(c.statistics.cellsDiffering, 1);
    EXPECT_EQ(c.statistics.cellsOnlyInFile1, 3);
    EXPECT_EQ(c.statistics.cellsOnlyInFile2, 3);
    // The details page names each row by its own table's row number.
    DetailsPage page(QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("b"), {});
    page.addComparison(QStringLiteral("s"), QStringLiteral("s"), c.result, c.layout, c.counts, nullptr);
    const QString html = page.html();
    EXPECT_TRUE(html.contains(QStringLiteral("<tr><td>3</td><td>4</td><td><ul class=\"cells\">")))
        << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("<tr><td>4</td><td>3</td><td>plum</td>"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("<tr><td>2</td><td>0</td><td>new</td>"))) << html.toStdString();
    // Only the differences: the field row and the marked rows, in the aligned order.
    EXPECT_EQ(c.layout.fieldResultRow(), 0);
    Compared copy = c;
    const RowTable kept = keepDifferenceRows(std::move(copy.result), c.layout.fieldResultRow());
    EXPECT_EQ(test::tableTexts(kept).split(u'\n').size(), 4);
    EXPECT_TRUE(test::tableTexts(kept).startsWith(QStringLiteral("id name qty 1 id name qty\n   2 0 new 1")))
        << test::tableTexts(kept).toStdString();
    // The rules line of the page says rows were aligned.
    EXPECT_TRUE(describeCompareRules(aligned(), {}).contains(QStringLiteral("识别插入和删除的行")));
    CompareOptions key;
    key.alignRows = true;
    EXPECT_FALSE(
        describeCompareRules(key, {QStringLiteral("id")}).contains(QStringLiteral("识别插入和删除的行")));
}

TEST(AlignRows, AnEditedListGivesExactlyItsEditsAtEveryScale) {
    // The benchmark's edits on a smaller list: every 97th row deleted, every 100th row's
    // quantity changed, 1% new rows appended; a few thousand rows, so the anchors and the
    // stretches between them are many.
    for (int rows : {970, 19400}) {
        Rows a{
            {QStringLiteral("编号"), QStringLiteral("名称"), QStringLiteral("数量"), QStringLiteral("单价")}};
        for (int r = 1; r <= rows; ++r)
            a.push_back({QStringLiteral("K%1").arg(r), QStringLiteral("品%1").arg(r % 37),
                         QString::number(r % 500), QString::number(r % 13) + QStringLiteral(".5")});
        Rows b{a[0]};
        for (int r = 1; r <= rows; ++r) {
            if (r % 97 == 0) continue;
            QStringList row = a[size_t(r)];
            if (r % 100 == 0) row[2] = QString::number(r % 500 + 1000);
            b.push_back(row);
        }
        for (int k = 0; k < rows / 100; ++k)
            b.push_back({QStringLiteral("N%1").arg(k), QStringLiteral("新"), QStringLiteral("1"),
                         QStringLiteral("2")});
        const Compared c = compareAligned(makeTable(a), makeTable(b));
        EXPECT_EQ(c.statistics.onlyInFile1, rows / 97);
        EXPECT_EQ(c.statistics.onlyInFile2, rows / 100);
        EXPECT_EQ(c.statistics.cellsDiffering, rows / 100 - rows / 9700);
        EXPECT_EQ(c.counts.unalignedRows, 0);
    }
}
