#include "table/compare/Comparison.h"

#include "base/CellOps.h"
#include "base/ParallelRows.h"
#include "table/KeyIndex.h"
#include "table/compare/ColumnPlan.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/Report.h"
#include "table/compare/RowAlignment.h"
#include "table/compare/RowHashing.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

namespace quellar {

namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
static_assert(kNone == kNoPartner && kNone == KeyIndex::kNone);

bool equalIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    }
    return true;
}

// The light turquoise, centred cell between the two sides, holding a 1-based row number.
CellRecord separatorCell(uint64_t rowNumber) {
    char16_t digits[24];
    size_t n = 0;
    do {
        digits[n++] = char16_t(u'0' + rowNumber % 10);
        rowNumber /= 10;
    } while (rowNumber != 0);
    std::reverse(digits, digits + n);
    CellRecord cell;
    cell.text = SharedText(std::u16string_view(digits, n));
    cell.fillColorIndex = Fill::LightTurquoise;
    cell.alignment1 = Align::Center;
    cell.alignment2 = Align::Center;
    cell.mergeState = MergeState::TextOnly;
    return cell;
}

// Appends the first `width` cells of `source`, padding a short row with empty cells. The
// cells are moved, so their texts' reference counts (scattered through memory) are not touched, and the
// source row's storage is given back at once, so the result grows into the memory the sources leave.
void appendCells(Row& out, Row& source, size_t width) {
    const size_t moved = std::min(width, source.size());
    out.insert(out.end(), std::make_move_iterator(source.begin()),
               std::make_move_iterator(source.begin() + std::ptrdiff_t(moved)));
    for (size_t c = moved; c < width; ++c)
        out.push_back(emptyCell());
    Row().swap(source);
}

void appendFillers(Row& out, size_t count) {
    out.resize(out.size() + count);
}

void markRange(Row& out, size_t from, size_t to, int32_t fill) {
    for (size_t c = from; c < to; ++c)
        out[c].fillColorIndex = fill;
}

// Marks cells from..to-1 of a row only one table has, leaving the columns that are ignored
// (ignored[c - from] set; none when the list is empty) as they are.
void markOneSided(Row& out, size_t from, size_t to, const std::vector<uint8_t>& ignored, int32_t fill) {
    if (ignored.empty()) return markRange(out, from, to, fill);
    for (size_t c = from; c < to; ++c)
        if (!ignored[c - from]) out[c].fillColorIndex = fill;
}

QString fieldListText(const FieldList& names) {
    return names.isEmpty() ? QStringLiteral("无") : names.join(QStringLiteral("、"));
}

// The hashes of the key cells of every row of a table.
std::vector<uint64_t> hashKeys(const KeyHasher& hasher, const RowTable& table,
                               const std::vector<size_t>& columns) {
    std::vector<uint64_t> hashes(table.size());
    for (size_t r = 0; r < table.size(); ++r) {
        cancellation::pointEvery(r);
        hashes[r] = hasher.hashRow(table[r], columns);
    }
    return hashes;
}

bool keysEqual(const Row& a, const std::vector<size_t>& columnsA, const Row& b,
               const std::vector<size_t>& columnsB, const CompareOptions& options) {
    for (size_t k = 0; k < columnsA.size(); ++k) {
        if (!cellsEqual(cellOf(a, columnsA[k]), cellOf(b, columnsB[k]), options)) return false;
    }
    return true;
}

// For every row of table 1 in order, the first not yet paired row of table 2 whose key cells
// compare equal, or kNone. Cell equality is an equivalence (text, possibly upper-cased or
// normalised; formula reduced to "none" unless it starts with "="; number format), as the
// index needs.
std::vector<uint32_t> pairByKey(const RowTable& t1, const std::vector<size_t>& columns1, const RowTable& t2,
                                const std::vector<size_t>& columns2, const CompareOptions& options) {
    const KeyHasher hasher(options);
    KeyIndex index(hashKeys(hasher, t2, columns2), [&](uint32_t a, uint32_t b) {
        return keysEqual(t2[a], columns2, t2[b], columns2, options);
    });
    return index.pairAll(hashKeys(hasher, t1, columns1), [&](size_t i, uint32_t r) {
        return keysEqual(t1[i], columns1, t2[r], columns2, options);
    });
}

} // namespace

namespace {

// The formula and number-format parts of the cell comparison. Inlined: it runs for every
// cell pair, and a call costs a noticeable share of a large comparison.
[[gnu::always_inline]] inline bool otherPartsMatch(const CellRecord& a, const CellRecord& b,
                                                   const CompareOptions& options) {
    if (options.compareFormula && (a.formula.startsWith(u'=') || b.formula.startsWith(u'='))) {
        if (!(a.formula == b.formula)) return false;
    }
    if (options.compareNumberFormat && a.styleId != b.styleId) {
        if (!(a.numberFormat() == b.numberFormat())) return false;
    }
    return true;
}

} // namespace

bool cellsEqual(const CellRecord& a, const CellRecord& b, const CompareOptions& options) {
    if (options.compareText) {
        bool same =
            options.ignoreCase ? equalIgnoringAsciiCase(a.text.view(), b.text.view()) : a.text == b.text;
        if (!same && options.rules.anyTextRule())
            same = textsEqual(a.text.view(), b.text.view(), textRulesOf(options));
        if (!same) return false;
    }
    return otherPartsMatch(a, b, options);
}

bool cellsEqual(const CellRecord& a, const CellRecord& b, const CompareOptions& options,
                const ColumnRule& rule) {
    if (!rule.numeric || !options.compareText || a.text == b.text) return cellsEqual(a, b, options);
    // Two numbers count as equal texts within the tolerance. Texts that normalise alike hold the
    // same number, so for numbers the tolerance alone decides and the texts need no normalising.
    double x = 0, y = 0;
    const bool fullWidth = options.rules.ignoreWidth;
    if (cellNumber(a.text.view(), fullWidth, x) && cellNumber(b.text.view(), fullWidth, y))
        return withinTolerance(x, y, rule) && otherPartsMatch(a, b, options);
    return cellsEqual(a, b, options);
}

FieldList commonFieldNames(const RowTable& t1, const RowTable& t2) {
    int row1 = -1, row2 = -1;
    const FieldList names1 = findFieldRow(t1, row1);
    const FieldList names2 = findFieldRow(t2, row2);
    FieldList common;
    for (const QString& name : names2) {
        if (indexOfField(names1, name) != -1) common.append(name);
    }
    return common;
}

namespace {

// Adds the marks among the first `width` cells of one result row to `counts`.
void countRowMarks(const Row& row, size_t width, CompareCounts& counts) {
    const size_t n = std::min(width, row.size());
    int64_t red = 0, yellow = 0, green = 0;
    for (size_t c = 0; c < n; ++c) {
        const int32_t fill = row[c].fillColorIndex;
        red += fill == Fill::Red;
        yellow += fill == Fill::Yellow;
        green += fill == Fill::BrightGreen;
    }
    counts.redCells += red;
    counts.yellowCells += yellow;
    counts.greenCells += green;
    if (red + yellow + green > 0) ++counts.differentRows;
}

} // namespace

CompareCounts countMarks(const RowTable& result) {
    CompareCounts counts;
    if (result.empty()) return counts;
    const size_t width = result[0].size();
    for (const Row& row : result)
        countRowMarks(row, width, counts);
    counts.differentCells = counts.redCells / 2;
    return counts;
}

namespace {

// The core: the cells of both tables are moved into the result, leaving the tables empty.
// All pairing is done
// before the first cell is taken, since pairing still reads table 2's key cells.
Result<RowTable> compare(RowTable& t1, RowTable& t2, const CompareOptions& options, const QStringList& keys,
                         CompareCounts* counts, CompareLayout* layout, CompareStatistics* statistics) {
    const size_t L1 = t1.size(), L2 = t2.size();
    if (L1 >= kNone || L2 >= kNone) return Status::invalidInput(QStringLiteral("表格行数过多，无法对比。"));
    const size_t W1 = L1 ? t1[0].size() : 0;
    const size_t W2 = L2 ? t2[0].size() : 0;

    const bool align = options.alignRows && !options.keyMode;
    const bool pairByPosition = !align && !options.keyMode && L1 <= L2;
    const bool pairByKeys = !align && !pairByPosition && !keys.isEmpty();

    // Keys must name fields of both tables in either mode, even where the positional
    // pairing does not end up using them, so the same choice is never accepted or refused
    // depending on the tables' lengths.
    const bool withRules = !options.rules.isDefault();
    FieldList names1, names2;
    int fieldRow1 = -1, fieldRow2 = -1;
    if (options.keyMode || !keys.isEmpty() || withRules || statistics || align) {
        names1 = findFieldRow(t1, fieldRow1);
        names2 = findFieldRow(t2, fieldRow2);
        if (options.keyMode) {
            const auto noFieldRow = [](const QString& which) {
                return Status::invalidInput(
                    QStringLiteral(
                        "%1的表格没有字段行（没有一行的单元格全部非空且互不相同），无法按对比字段对比。")
                        .arg(which));
            };
            if (fieldRow1 < 0) return noFieldRow(QStringLiteral("文件一"));
            if (fieldRow2 < 0) return noFieldRow(QStringLiteral("文件二"));
        }
    }
    const bool namesByPosition = !options.keyMode && options.rules.columnsByName;
    if (namesByPosition) {
        if (Status s = checkNamedColumns(t1, fieldRow1, QStringLiteral("文件一")); !s.isOk()) return s;
        if (Status s = checkNamedColumns(t2, fieldRow2, QStringLiteral("文件二")); !s.isOk()) return s;
    }

    // Columns of the key cells on each side.
    std::vector<size_t> keyColumns1, keyColumns2;
    if (!keys.isEmpty()) {
        for (const QString& key : keys) {
            const int c1 = indexOfField(names1, key);
            const int c2 = indexOfField(names2, key);
            if (c1 < 0 || c2 < 0) {
                const bool inFirst = c1 < 0;
                return Status::notFound(
                    QStringLiteral("对比字段“%1”不是%2表格的字段（它的字段：%3）。")
                        .arg(key, inFirst ? QStringLiteral("文件一") : QStringLiteral("文件二"),
                             fieldListText(inFirst ? names1 : names2)));
            }
            keyColumns1.push_back(size_t(c1));
            keyColumns2.push_back(size_t(c2));
        }
    }

    // Which columns are compared, and how, under the rules. Field names that are no field row
    // (a table without one in the positional mode) name nothing.
    const FieldList fields1 = fieldRow1 >= 0 ? names1 : FieldList();
    const FieldList fields2 = fieldRow2 >= 0 ? names2 : FieldList();
    ColumnPlanInput planInput;
    planInput.names1 = &fields1;
    planInput.names2 = &fields2;
    planInput.width1 = W1;
    planInput.width2 = W2;
    planInput.byName = options.keyMode || namesByPosition;
    if (options.keyMode) {
        planInput.keyColumns1 = keyColumns1;
        planInput.keys = keys;
    }
    ColumnPlan plan;
    if (withRules || statistics) {
        Result<ColumnPlan> planned = planColumns(planInput, options.rules);
        if (!planned.isOk()) return planned.status();
        plan = planned.take();
    }

    // Pairing: partner[i] is the row of table 2 paired with row i of table 1, or kNone.
    std::vector<uint32_t> partner(L1, kNone);
    std::vector<uint8_t> paired2(L2, 0);
    RowAlignment alignment;
    if (align) {
        // The compared column pairs, as the marking below compares them.
        std::vector<ColumnPlan::Pair> compared = plan.compared;
        if (!withRules) {
            compared.clear();
            for (size_t c = 0; c < std::min(W1, W2); ++c)
                compared.push_back({uint32_t(c), uint32_t(c), ColumnRule{}});
        }
        alignment = alignRows(t1, t2, compared, options, fieldRow1, fieldRow2);
        for (size_t r = 0; r < alignment.rows1.size(); ++r)
            if (alignment.rows1[r] != kNone && alignment.rows2[r] != kNone)
                partner[alignment.rows1[r]] = alignment.rows2[r];
    } else if (pairByPosition) {
        for (size_t i = 0; i < L1; ++i)
            partner[i] = uint32_t(i);
    } else if (!pairByKeys) {
        // Every row qualifies: pair by position until table 2 runs out.
        for (size_t i = 0; i < std::min(L1, L2); ++i)
            partner[i] = uint32_t(i);
    } else {
        partner = pairByKey(t1, keyColumns1, t2, keyColumns2, options);
    }
    for (uint32_t j : partner)
        if (j != kNone) paired2[j] = 1;

    // In key mode a column is matched to the other table's column of the same field name;
    // -1 means the field is missing there (or lies beyond that table's width).
    std::vector<int> column1To2, column2To1;
    if (options.keyMode || (layout && namesByPosition)) {
        column1To2.resize(W1);
        column2To1.resize(W2);
        for (size_t c = 0; c < W1; ++c) {
            const int c2 = c < size_t(names1.size()) ? indexOfField(names2, names1[qsizetype(c)]) : -1;
            column1To2[c] = (c2 >= 0 && size_t(c2) < W2) ? c2 : -1;
        }
        for (size_t c2 = 0; c2 < W2; ++c2) {
            const int c = c2 < size_t(names2.size()) ? indexOfField(names1, names2[qsizetype(c2)]) : -1;
            column2To1[c2] = (c >= 0 && size_t(c) < W1) ? c : -1;
        }
    }

    size_t unpaired2 = 0;
    for (uint8_t p : paired2)
        unpaired2 += p ? 0 : 1;

    if (layout) {
        layout->keyMode = options.keyMode;
        layout->rows1 = L1;
        layout->width1 = W1;
        layout->width2 = W2;
        layout->keyColumns1 = keyColumns1;
        layout->keyColumns2 = keyColumns2;
        layout->statistics = statistics;
        layout->ignored1 = plan.ignored1;
        layout->ignored2 = plan.ignored2;
        if (align) layout->rowsOf1 = alignment.rows1;
        if (options.keyMode || namesByPosition) {
            layout->names1 = names1;
            layout->names2 = names2;
            layout->fieldRow1 = fieldRow1;
            layout->fieldRow2 = fieldRow2;
            layout->column1To2 = column1To2;
            layout->column2To1 = column2To1;
        } else {
            // By position the first row stands for the field row.
            const auto firstRowNames = [](const auto& table, size_t width) {
                FieldList names;
                if (!table.empty())
                    for (size_t c = 0; c < width; ++c)
                        names.append(cellOf(table[0], c).text.toQString());
                return names;
            };
            layout->names1 = firstRowNames(t1, W1);
            layout->names2 = firstRowNames(t2, W2);
            layout->fieldRow1 = L1 ? 0 : -1;
            layout->fieldRow2 = L2 ? 0 : -1;
            layout->column1To2.resize(W1);
            layout->column2To1.resize(W2);
            for (size_t c = 0; c < W1; ++c)
                layout->column1To2[c] = c < W2 ? int(c) : -1;
            for (size_t c = 0; c < W2; ++c)
                layout->column2To1[c] = c < W1 ? int(c) : -1;
        }
    }

    const size_t width = W1 + 1 + W2;
    const size_t side2 = W1 + 1; // first file 2 column of a result row
    // Every row of table 1, then the rows of table 2 left unpaired; with aligned rows, the
    // alignment's rows.
    RowTable result(align ? alignment.rows1.size() : L1 + unpaired2);

    // Result row i from row i of table 1 and its partner, counted while still in cache (every
    // result row has `width` cells, so this is the count over the finished table, countMarks).
    // Each row of table 2 has one partner at most, so ranges of rows can be built apart.
    auto buildPaired = [&](size_t from, size_t to, CompareCounts& found, auto&& markPaired) {
        for (size_t i = from; i < to; ++i) {
            cancellation::pointEvery(i);
            auto& row1 = t1[i];
            Row& out = result[i];
            out.reserve(width);
            appendCells(out, row1, W1);
            const uint32_t j = partner[i];
            if (j == kNone) {
                markOneSided(out, 0, W1, plan.ignored1, Fill::Yellow);
                appendFillers(out, 1 + W2);
                countRowMarks(out, width, found);
                continue;
            }
            auto& row2 = t2[j];
            out.push_back(separatorCell(uint64_t(j) + 1));
            appendCells(out, row2, W2);
            markPaired(out);
            countRowMarks(out, width, found);
        }
    };
    // The design's marking, with no rule in force.
    auto markPlain = [&](Row& out) {
        if (options.keyMode) {
            for (size_t c = 0; c < W1; ++c) {
                const int c2 = column1To2[c];
                if (c2 < 0) {
                    out[c].fillColorIndex = Fill::Yellow;
                } else if (!cellsEqual(out[c], out[side2 + size_t(c2)], options)) {
                    out[c].fillColorIndex = Fill::Red;
                    out[side2 + size_t(c2)].fillColorIndex = Fill::Red;
                }
            }
            for (size_t c2 = 0; c2 < W2; ++c2)
                if (column2To1[c2] < 0) out[side2 + c2].fillColorIndex = Fill::BrightGreen;
        } else {
            const size_t common = std::min(W1, W2);
            for (size_t c = 0; c < common; ++c) {
                if (!cellsEqual(out[c], out[side2 + c], options)) {
                    out[c].fillColorIndex = Fill::Red;
                    out[side2 + c].fillColorIndex = Fill::Red;
                }
            }
            if (W1 > W2)
                markRange(out, common, W1, Fill::Yellow);
            else
                markRange(out, side2 + common, side2 + W2, Fill::BrightGreen);
        }
    };
    // Under the rules: the planned column pairs with their own rules, and the planned
    // one-sided columns.
    auto markByPlan = [&](Row& out) {
        for (const ColumnPlan::Pair& pair : plan.compared) {
            CellRecord& a = out[pair.column1];
            CellRecord& b = out[side2 + pair.column2];
            if (!cellsEqual(a, b, options, pair.rule)) {
                a.fillColorIndex = Fill::Red;
                b.fillColorIndex = Fill::Red;
            }
        }
        for (uint32_t c : plan.only1)
            out[c].fillColorIndex = Fill::Yellow;
        for (uint32_t c2 : plan.only2)
            out[side2 + c2].fillColorIndex = Fill::BrightGreen;
    };
    // Aligned rows checked equal need only the columns in one table marked.
    auto markSides = [&](Row& out) {
        if (withRules) {
            for (uint32_t c : plan.only1)
                out[c].fillColorIndex = Fill::Yellow;
            for (uint32_t c2 : plan.only2)
                out[side2 + c2].fillColorIndex = Fill::BrightGreen;
        } else if (W1 > W2) {
            markRange(out, W2, W1, Fill::Yellow);
        } else {
            markRange(out, side2 + W1, side2 + W2, Fill::BrightGreen);
        }
    };
    // Result row r from the rows the alignment put there.
    auto buildAligned = [&](size_t from, size_t to, CompareCounts& found, auto&& markPaired) {
        for (size_t r = from; r < to; ++r) {
            const uint32_t i = alignment.rows1[r], j = alignment.rows2[r];
            Row& out = result[r];
            out.reserve(width);
            if (i == kNone) {
                appendFillers(out, W1);
                out.push_back(separatorCell(uint64_t(j) + 1));
                appendCells(out, t2[j], W2);
                markOneSided(out, side2, width, plan.ignored2, Fill::BrightGreen);
            } else if (j == kNone) {
                appendCells(out, t1[i], W1);
                markOneSided(out, 0, W1, plan.ignored1, Fill::Yellow);
                appendFillers(out, 1 + W2);
            } else {
                appendCells(out, t1[i], W1);
                out.push_back(separatorCell(uint64_t(j) + 1));
                appendCells(out, t2[j], W2);
                if (alignment.equal[r])
                    markSides(out);
                else
                    markPaired(out);
            }
            countRowMarks(out, width, found);
        }
    };
    CompareCounts found, second;
    // The marking is chosen once, outside the loops over rows and cells.
    if (align) {
        buildInHalves(result.size(), [&](size_t from, size_t to, int half) {
            if (withRules)
                buildAligned(from, to, half ? second : found, markByPlan);
            else
                buildAligned(from, to, half ? second : found, markPlain);
        });
    } else if (withRules) {
        buildInHalves(L1, [&](size_t from, size_t to, int half) {
            buildPaired(from, to, half ? second : found, markByPlan);
        });
    } else {
        buildInHalves(L1, [&](size_t from, size_t to, int half) {
            buildPaired(from, to, half ? second : found, markPlain);
        });
    }
    found.redCells += second.redCells;
    found.yellowCells += second.yellowCells;
    found.greenCells += second.greenCells;
    found.differentRows += second.differentRows;

    size_t at = L1;
    for (size_t r = 0; r < L2 && !align; ++r) {
        cancellation::pointEvery(r);
        if (paired2[r]) continue;
        Row& out = result[at++];
        out.reserve(width);
        appendFillers(out, W1);
        out.push_back(separatorCell(uint64_t(r) + 1));
        appendCells(out, t2[r], W2);
        markOneSided(out, side2, width, plan.ignored2, Fill::BrightGreen);
        countRowMarks(out, width, found);
    }

    found.differentCells = found.redCells / 2;
    found.unalignedRows = alignment.unalignedRows;
    if (counts) *counts = found;
    if (statistics) {
        PairingFacts facts;
        facts.partner = &partner;
        facts.paired2 = &paired2;
        facts.rows1 = L1;
        facts.rows2 = L2;
        facts.width1 = W1;
        facts.width2 = W2;
        facts.fieldRow1 = fieldRow1;
        facts.fieldRow2 = fieldRow2;
        if (align) {
            facts.rowsOf1 = &alignment.rows1;
            facts.rowsOf2 = &alignment.rows2;
        }
        gatherStatistics(result, facts, plan, options, planInput, *statistics);
    }
    return result;
}

} // namespace

int64_t CompareLayout::fieldResultRow() const {
    if (rowsOf1.empty() || fieldRow1 < 0) return fieldRow1;
    const auto at = std::find(rowsOf1.begin(), rowsOf1.end(), uint32_t(fieldRow1));
    return at == rowsOf1.end() ? -1 : int64_t(at - rowsOf1.begin());
}

Result<RowTable> compareTables(RowTable t1, RowTable t2, const CompareOptions& options,
                               const QStringList& keys, CompareCounts* counts, CompareLayout* layout,
                               CompareStatistics* statistics) {
    return compare(t1, t2, options, keys, counts, layout, statistics);
}

Status runTableComparison(ResultSink& sink, Progress& progress, RowTable t1, RowTable t2,
                          const CompareOptions& options, const QStringList& keys, int sheetNumber,
                          const QString& title, QString& reportText, CompareCounts* counts,
                          CompareStatistics* statistics) {
    progress.setText(Msg::Running);
    CompareCounts found;
    auto* wantsLayout = dynamic_cast<ComparisonSink*>(&sink);
    CompareLayout layout;
    Result<RowTable> compared = compareTables(std::move(t1), std::move(t2), options, keys, &found,
                                              wantsLayout ? &layout : nullptr, statistics);
    if (!compared.isOk()) return compared.status();
    RowTable& result = compared.value();

    const int64_t rows = int64_t(result.size());
    const int64_t step = progressStep(rows);
    progress.setRange(rows);
    progress.setStep(step);
    progress.setPosition(0);
    if (wantsLayout) wantsLayout->takeLayout(sheetNumber, layout);
    if (Status written = sink.takeResult(sheetNumber, title, std::move(result), progress, step); !written)
        return written;

    reportText += reportRows(title, found);
    if (counts) *counts = found;
    return Status::ok();
}

} // namespace quellar
