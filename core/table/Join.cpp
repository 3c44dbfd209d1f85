#include "table/Join.h"

#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "base/ParallelRows.h"
#include "base/SharedText.h"
#include "table/KeyIndex.h"
#include "table/OperationCells.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace quellar {

namespace {

constexpr int kMaxConditions = 6;

using cells::rowNumberCell;
using cells::textAt;

// A cell of the right-hand part that the writer leaves empty.
CellRecord blankCell() {
    return CellRecord();
}

CellRecord cellOrBlank(const Row& row, size_t column) {
    return column < row.size() ? row[column] : blankCell();
}

// The same for a row of table 1, which is given back right after it is joined: the cell is
// moved out, so the texts' shared counts (scattered through memory) are not touched.
CellRecord takeOrBlank(Row& row, size_t column) {
    return column < row.size() ? std::move(row[column]) : blankCell();
}

// The condition texts of a row, hashed and compared field by field.
struct KeyColumns {
    std::vector<int> positions;

    uint64_t hash(const Row& row) const {
        uint64_t h = 0x84222325cbf29ce4ull;
        for (int p : positions) {
            h ^= uint64_t(hashUtf16(textAt(row, p)));
            h *= 0x9E3779B97F4A7C15ull;
            h ^= h >> 29;
        }
        return h;
    }
};

bool sameKey(const Row& a, const KeyColumns& ka, const Row& b, const KeyColumns& kb) {
    for (size_t f = 0; f < ka.positions.size(); ++f)
        if (textAt(a, ka.positions[f]) != textAt(b, kb.positions[f])) return false;
    return true;
}

std::vector<uint64_t> hashKeys(const RowTable& table, const KeyColumns& columns) {
    std::vector<uint64_t> hashes(table.size());
    for (size_t r = 0; r < table.size(); ++r) {
        cancellation::pointEvery(r);
        hashes[r] = columns.hash(table[r]);
    }
    return hashes;
}

// For every row of table 1 in order, the first free row of table 2 whose condition texts equal
// its own (exact, case-sensitive, whole texts), or KeyIndex::kNone.
std::vector<uint32_t> pairByKey(const RowTable& table1, const KeyColumns& key1, const RowTable& table2,
                                const KeyColumns& key2) {
    KeyIndex index(hashKeys(table2, key2),
                   [&](uint32_t a, uint32_t b) { return sameKey(table2[a], key2, table2[b], key2); });
    return index.pairAll(hashKeys(table1, key1),
                         [&](size_t i, uint32_t k) { return sameKey(table1[i], key1, table2[k], key2); });
}

// Looks up every condition in one table's field row; names the first missing one.
Status conditionPositions(const FieldList& header, const QStringList& conditions, const QString& tableName,
                          KeyColumns& columns) {
    for (const QString& name : conditions) {
        const int p = indexOfField(header, name);
        if (p < 0)
            return Status::notFound(
                QStringLiteral("连接条件“%1”不是%2表中的字段（字段行是第一个各单元格都不为空且互不相同的行）")
                    .arg(name, tableName));
        columns.positions.push_back(p);
    }
    return Status::ok();
}

FieldList fieldsOf(const RowTable& table) {
    int row = -1;
    FieldList names = findFieldRow(table, row);
    return row < 0 ? FieldList() : names; // a table without a field row has no fields
}

// The core: the rows of table 1 are given back as they are joined.
Result<RowTable> join(RowTable& table1, const RowTable& table2, const QStringList& conditions,
                      const JoinOptions& options, JoinInfo* info) {
    QStringList fields;
    for (const QString& name : conditions)
        if (!name.isEmpty()) fields.append(name);
    if (fields.isEmpty()) return Status::invalidInput(QStringLiteral("没有选择连接条件"));
    if (fields.size() > kMaxConditions)
        return Status::invalidInput(
            QStringLiteral("连接条件有 %1 个，最多只能选择 %2 个").arg(fields.size()).arg(kMaxConditions));
    if (table2.size() >= size_t(UINT32_MAX))
        return Status::invalidInput(QStringLiteral("文件二的表行数过多"));

    const FieldList header1 = fieldsOf(table1);
    const FieldList header2 = fieldsOf(table2);
    KeyColumns key1, key2;
    if (Status s = conditionPositions(header1, fields, QStringLiteral("文件一"), key1); !s) return s;
    if (Status s = conditionPositions(header2, fields, QStringLiteral("文件二"), key2); !s) return s;

    const size_t width1 = table1.empty() ? 0 : table1.front().size();
    const size_t width2 = table2.empty() ? 0 : table2.front().size();
    // Where each table-1 column's field sits in table 2 (-1: table 2 lacks it).
    std::vector<int> columnInTwo(width1, -1);
    for (size_t m = 0; m < width1 && m < size_t(header1.size()); ++m)
        columnInTwo[m] = indexOfField(header2, header1[qsizetype(m)]);
    std::vector<size_t> extraColumns;
    for (size_t p = 0; p < width2; ++p)
        if (p >= size_t(header2.size()) || indexOfField(header1, header2[qsizetype(p)]) < 0)
            extraColumns.push_back(p);

    // Pairing first, in the order of table 1: each row takes the first free row of table 2
    // with its key. Then every result row depends only on its own two rows.
    constexpr uint32_t kNone = KeyIndex::kNone;
    const std::vector<uint32_t> partner = pairByKey(table1, key1, table2, key2);
    std::vector<bool> taken(table2.size(), false);
    JoinInfo counts;
    counts.extraColumns = int64_t(extraColumns.size());
    for (uint32_t k : partner) {
        if (k != kNone) {
            taken[k] = true;
            ++counts.pairedRows;
        } else {
            ++counts.unpairedRowsOne;
        }
    }

    const size_t resultWidth = width1 + extraColumns.size() + 1;
    RowTable result(table1.size());
    result.reserve(table1.size() + table2.size() - size_t(counts.pairedRows));
    buildInHalves(table1.size(), [&](size_t from, size_t to, int) {
        for (size_t i = from; i < to; ++i) {
            cancellation::pointEvery(i);
            Row& row1 = table1[i];
            Row& out = result[i];
            out.reserve(resultWidth);
            if (partner[i] != kNone) {
                const size_t k = partner[i];
                const Row& row2 = table2[k];
                for (size_t m = 0; m < width1; ++m) {
                    CellRecord cell = takeOrBlank(row1, m);
                    const int q = columnInTwo[m];
                    if (q >= 0) {
                        // Both texts are looked at before the cell's own text may be replaced.
                        const std::u16string_view text1 = cell.text.view();
                        const std::u16string_view text2 = textAt(row2, q);
                        const bool differ = text1 != text2;
                        double v1 = 0, v2 = 0;
                        const bool summed = options.sumNumbers && parseNumber(text1, v1) &&
                                            (text1 == text2 ? (v2 = v1, true) : parseNumber(text2, v2));
                        if (differ) {
                            cell.fillColorIndex = Fill::Red;
                            if (!options.preferFileOne) cell.text = row2[size_t(q)].text;
                        }
                        if (summed) cell.text = cells::sumText(v1 + v2);
                    }
                    out.push_back(std::move(cell));
                }
                for (size_t p : extraColumns)
                    out.push_back(cellOrBlank(row2, p));
                out.push_back(rowNumberCell(k + 1));
            } else {
                for (size_t m = 0; m < width1; ++m) {
                    CellRecord cell = takeOrBlank(row1, m);
                    cell.fillColorIndex = Fill::Yellow;
                    out.push_back(std::move(cell));
                }
                out.resize(resultWidth);
            }
            Row().swap(row1);
        }
    });

    for (size_t k = 0; k < table2.size(); ++k) {
        cancellation::pointEvery(k);
        if (taken[k]) continue;
        ++counts.unpairedRowsTwo;
        const Row& row2 = table2[k];
        Row out;
        out.reserve(resultWidth);
        for (size_t m = 0; m < width1; ++m) {
            const int q = columnInTwo[m];
            if (q >= 0 && size_t(q) < row2.size()) {
                CellRecord cell = row2[size_t(q)];
                cell.fillColorIndex = Fill::BrightGreen;
                out.push_back(std::move(cell));
            } else {
                out.push_back(blankCell());
            }
        }
        for (size_t p : extraColumns) {
            CellRecord cell = cellOrBlank(row2, p);
            if (p < row2.size()) cell.fillColorIndex = Fill::BrightGreen;
            out.push_back(std::move(cell));
        }
        out.push_back(rowNumberCell(k + 1));
        result.push_back(std::move(out));
    }

    if (info) *info = counts;
    return result;
}

} // namespace

Result<RowTable> joinTables(RowTable table1, RowTable table2, const QStringList& conditions,
                            const JoinOptions& options, JoinInfo* info) {
    return join(table1, table2, conditions, options, info);
}

Status runJoin(ResultSink& sink, Progress& progress, RowTable table1, RowTable table2,
               const QStringList& conditions, const JoinOptions& options, JoinInfo* info) {
    progress.setText(Msg::Running);
    Result<RowTable> result = joinTables(std::move(table1), std::move(table2), conditions, options, info);
    if (!result.isOk()) return result.status();
    return writeResultPhase(sink, progress, 1, Msg::JoinSheet, std::move(result.value()));
}

} // namespace quellar
