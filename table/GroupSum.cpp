#include "table/GroupSum.h"

#include "app/StringTools.h"
#include "table/CellOps.h"
#include "table/ExchangeSort.h"
#include "table/OperationCells.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quellar {

namespace {

constexpr int kMaxLevels = 6;

struct ViewHash {
    size_t operator()(std::u16string_view v) const noexcept { return hashUtf16(v); }
};

// A block of positions [begin, end) of the sorted order whose rows share a key.
struct KeyBlock {
    size_t begin;
    size_t end;
};

class GroupSummary {
public:
    GroupSummary(RowTable& table, size_t firstDataRow, std::vector<int> groupColumns,
                 std::vector<int> sumColumns, const QString& subtotalSuffix)
        : table_(table)
        , groupColumns_(std::move(groupColumns))
        , sumColumns_(std::move(sumColumns))
        , suffix_(reinterpret_cast<const char16_t*>(subtotalSuffix.constData()),
                  size_t(subtotalSuffix.size())) {
        order_.reserve(table.size() - firstDataRow);
        for (size_t r = firstDataRow; r < table.size(); ++r)
            order_.push_back(uint32_t(r));
    }

    // Sorts the data rows as the nested exchange sorts leave them.
    void sort() { sortLevel(0, 0, order_.size()); }

    // The sum-column values of the rows in sorted order, parsed once; texts that are not
    // numbers count 0.
    void gatherValues() {
        values_.assign(sumColumns_.size(), {});
        for (size_t s = 0; s < sumColumns_.size(); ++s) {
            std::vector<double>& column = values_[s];
            column.resize(order_.size());
            for (size_t pos = 0; pos < order_.size(); ++pos) {
                double v = 0;
                if (!parseNumber(cells::textAt(table_[order_[pos]], sumColumns_[s]), v)) v = 0;
                column[pos] = v;
            }
        }
    }

    // Lists the groups of every level with their subtotal rows into entries_.
    void group() { groupLevel(0, 0, order_.size()); }

    // The column totals over all data rows, in sorted order.
    std::vector<double> totals() const {
        std::vector<double> sums(sumColumns_.size(), 0.0);
        for (size_t s = 0; s < sumColumns_.size(); ++s)
            for (double v : values_[s])
                sums[s] += v;
        return sums;
    }

    const std::vector<uint32_t>& order() const { return order_; }
    int64_t subtotalRows() const { return int64_t(subtotals_.size()); }

    // Moves the listed data rows and the subtotal rows into `out`, in listed order.
    void appendRowsTo(RowTable& out) {
        for (int64_t entry : entries_) {
            if (entry >= 0)
                out.push_back(std::move(table_[size_t(entry)]));
            else
                out.push_back(std::move(subtotals_[size_t(-entry - 1)]));
        }
    }

private:
    std::u16string_view keyOf(uint32_t row, size_t level) const {
        return cells::textAt(table_[row], groupColumns_[level]);
    }

    // Exchange sort of order_[from, to) by the key text of `level` (code-unit order), then
    // the same one level down within every non-empty key spanning more than one row.
    void sortLevel(size_t level, size_t from, size_t to) {
        if (level >= groupColumns_.size() || to - from < 2) return;
        const size_t n = to - from;

        // Class ranks: distinct keys in code-unit order.
        std::unordered_map<std::u16string_view, uint32_t, ViewHash> ids;
        std::vector<std::u16string_view> distinct;
        std::vector<uint32_t> idOf(n);
        for (size_t i = 0; i < n; ++i) {
            const std::u16string_view key = keyOf(order_[from + i], level);
            auto [it, added] = ids.try_emplace(key, uint32_t(distinct.size()));
            if (added) distinct.push_back(key);
            idOf[i] = it->second;
        }
        if (distinct.size() > 1) {
            std::vector<uint32_t> byKey(distinct.size());
            for (uint32_t k = 0; k < byKey.size(); ++k)
                byKey[k] = k;
            std::sort(byKey.begin(), byKey.end(),
                      [&](uint32_t a, uint32_t b) { return distinct[a] < distinct[b]; });
            std::vector<uint32_t> rank(distinct.size());
            for (uint32_t r = 0; r < byKey.size(); ++r)
                rank[byKey[r]] = r;
            for (uint32_t& id : idOf)
                id = rank[id];
            const std::vector<size_t> permutation = exchangeSortOrderByClass(idOf, uint32_t(distinct.size()));
            std::vector<uint32_t> sorted(n);
            for (size_t i = 0; i < n; ++i)
                sorted[i] = order_[from + permutation[i]];
            std::copy(sorted.begin(), sorted.end(), order_.begin() + std::ptrdiff_t(from));
        }
        if (level + 1 >= groupColumns_.size()) return;
        for (const KeyBlock& block : blocks(level, from, to))
            if (block.end - block.begin > 1 && !keyOf(order_[block.begin], level).empty())
                sortLevel(level + 1, block.begin, block.end);
    }

    // The runs of equal keys of `level` in order_[from, to), in their sorted order.
    std::vector<KeyBlock> blocks(size_t level, size_t from, size_t to) const {
        std::vector<KeyBlock> result;
        size_t begin = from;
        while (begin < to) {
            const std::u16string_view key = keyOf(order_[begin], level);
            size_t end = begin + 1;
            while (end < to && keyOf(order_[end], level) == key)
                ++end;
            result.push_back({begin, end});
            begin = end;
        }
        return result;
    }

    // The non-empty key blocks of `level` in the order the groups are listed: the distinct
    // keys in order of first appearance, then exchange-sorted by "both numbers: by value,
    // otherwise by code units". That relation is a strict weak order when all keys are
    // numbers (or none is); on a mixture it need not be transitive, and the procedure runs
    // as it is on the (usually few) distinct keys, each parsed once.
    std::vector<KeyBlock> groupOrder(size_t level, size_t from, size_t to) const {
        std::vector<KeyBlock> keyed;
        for (const KeyBlock& block : blocks(level, from, to))
            if (!keyOf(order_[block.begin], level).empty()) keyed.push_back(block);
        const size_t d = keyed.size();
        if (d < 2) return keyed;

        std::vector<double> number(d);
        std::vector<char> isNumber(d);
        size_t numbers = 0;
        for (size_t k = 0; k < d; ++k) {
            isNumber[k] = parseNumber(keyOf(order_[keyed[k].begin], level), number[k]);
            numbers += isNumber[k] ? 1 : 0;
        }
        if (numbers == 0) return keyed; // distinct texts already in code-unit order: nothing swaps
        if (numbers == d) {
            const std::vector<size_t> permutation =
                exchangeSortOrder(d, [&](size_t a, size_t b) { return number[a] < number[b]; });
            std::vector<KeyBlock> sorted(d);
            for (size_t i = 0; i < d; ++i)
                sorted[i] = keyed[permutation[i]];
            return sorted;
        }
        std::vector<size_t> list(d);
        for (size_t k = 0; k < d; ++k)
            list[k] = k;
        exchangeSortLiteral(list, [&](size_t a, size_t b) {
            if (isNumber[a] && isNumber[b]) return number[a] < number[b];
            return keyOf(order_[keyed[a].begin], level) < keyOf(order_[keyed[b].begin], level);
        });
        std::vector<KeyBlock> sorted(d);
        for (size_t i = 0; i < d; ++i)
            sorted[i] = keyed[list[i]];
        return sorted;
    }

    void groupLevel(size_t level, size_t from, size_t to) {
        if (level >= groupColumns_.size() || from >= to) return;
        const bool last = level + 1 == groupColumns_.size();
        for (const KeyBlock& block : groupOrder(level, from, to)) {
            if (last) {
                for (size_t pos = block.begin; pos < block.end; ++pos)
                    entries_.push_back(int64_t(order_[pos]));
            } else {
                groupLevel(level + 1, block.begin, block.end);
            }
            appendSubtotal(level, from, block);
        }
    }

    // The subtotal row of a group: shaped on the first row of the range its level was
    // grouping, texts emptied, the key and "小计" in the group column, the sums in the sum
    // columns, both in the level's colour.
    void appendSubtotal(size_t level, size_t from, const KeyBlock& block) {
        const int32_t colour = kGroupLevelColours[level];
        Row row = table_[order_[from]];
        for (CellRecord& cell : row) {
            cell.text = SharedText();
            cell.formula = SharedText();
        }
        const int keyColumn = groupColumns_[level];
        if (size_t(keyColumn) < row.size()) {
            std::u16string text(keyOf(order_[block.begin], level));
            text += suffix_;
            row[size_t(keyColumn)].text = SharedText(std::u16string_view(text));
            row[size_t(keyColumn)].fillColorIndex = colour;
        }
        for (size_t s = 0; s < sumColumns_.size(); ++s) {
            double sum = 0;
            for (size_t pos = block.begin; pos < block.end; ++pos)
                sum += values_[s][pos];
            const size_t c = size_t(sumColumns_[s]);
            if (c < row.size()) {
                row[c].text = cells::sumText(sum);
                row[c].fillColorIndex = colour;
            }
        }
        subtotals_.push_back(std::move(row));
        entries_.push_back(-int64_t(subtotals_.size()));
    }

    RowTable& table_;
    std::vector<int> groupColumns_;
    std::vector<int> sumColumns_;
    std::u16string suffix_;
    std::vector<uint32_t> order_;             // data rows, as sorted
    std::vector<std::vector<double>> values_; // [sum column][sorted position]
    std::vector<int64_t> entries_;            // >= 0: a data row; < 0: subtotal -(i + 1)
    std::vector<Row> subtotals_;
};

// Every column of row `firstDataRow` whose texts in all data rows are numbers.
std::vector<int> automaticSumColumns(const RowTable& table, size_t firstDataRow) {
    std::vector<int> columns;
    if (firstDataRow >= table.size()) return columns;
    const size_t width = table[firstDataRow].size();
    for (size_t c = 0; c < width; ++c) {
        bool all = true;
        for (size_t r = firstDataRow; r < table.size() && all; ++r) {
            double v = 0;
            all = parseNumber(cells::textAt(table[r], int(c)), v);
        }
        if (all) columns.push_back(int(c));
    }
    return columns;
}

} // namespace

QString groupSumLabel(int position, const QString& name) {
    return columnLetters(position + 1) + QStringLiteral(" (") + name + QLatin1Char(')');
}

QStringList groupSumLabels(const FieldList& fields) {
    QStringList labels;
    labels.reserve(fields.size());
    for (qsizetype i = 0; i < fields.size(); ++i)
        labels.append(groupSumLabel(int(i), fields[i]));
    return labels;
}

int columnOfGroupSumLabel(QStringView label) {
    int64_t number = 0;
    qsizetype i = 0;
    for (; i < label.size(); ++i) {
        const char16_t c = label[i].unicode();
        int letter = 0;
        if (c >= u'A' && c <= u'Z')
            letter = c - u'A' + 1;
        else if (c >= u'a' && c <= u'z')
            letter = c - u'a' + 1;
        else
            break;
        number = number * 26 + letter;
        if (number > (int64_t(1) << 30)) return -1;
    }
    if (i == 0) return -1;
    return int(number - 1);
}

Result<RowTable> groupSum(RowTable table, const QStringList& groupFields, const QStringList& sumLabels,
                          GroupSumInfo* info) {
    QStringList names;
    for (const QString& name : groupFields)
        if (!name.isEmpty()) names.append(name);
    if (names.isEmpty()) return Status::invalidInput(QStringLiteral("没有选择分组字段"));
    if (names.size() > kMaxLevels)
        return Status::invalidInput(
            QStringLiteral("分组字段有 %1 个，最多只能选择 %2 个").arg(names.size()).arg(kMaxLevels));
    if (table.size() >= size_t(UINT32_MAX)) return Status::invalidInput(QStringLiteral("表的行数过多"));

    int fieldRow = -1;
    const FieldList header = findFieldRow(table, fieldRow);
    if (fieldRow < 0)
        return Status::invalidInput(QStringLiteral("表中没有字段行：没有一行的单元格都不为空且互不相同"));
    std::vector<int> groupColumns;
    for (const QString& name : names) {
        const int column = indexOfField(header, name);
        if (column < 0) return Status::notFound(QStringLiteral("分组字段“%1”不是表中的字段").arg(name));
        groupColumns.push_back(column);
    }
    const size_t first = size_t(fieldRow) + 1;

    std::vector<int> sumColumns;
    if (sumLabels.isEmpty()) {
        sumColumns = automaticSumColumns(table, first);
    } else {
        for (const QString& label : sumLabels) {
            const int column = columnOfGroupSumLabel(label);
            if (column < 0 || column >= int(header.size()))
                return Status::notFound(QStringLiteral("汇总列“%1”不是表中的列").arg(label));
            sumColumns.push_back(column);
        }
    }

    StringTools texts;
    GroupSummary summary(table, first, groupColumns, sumColumns, texts.text(QStringLiteral("xj")));
    summary.sort();
    summary.gatherValues();
    summary.group();
    const std::vector<double> totals = summary.totals();

    // The grand-total row is shaped on the first data row as sorted (the field row when
    // there is no data row), texts emptied.
    Row grand = summary.order().empty() ? table[size_t(fieldRow)] : table[summary.order().front()];
    for (CellRecord& cell : grand) {
        cell.text = SharedText();
        cell.formula = SharedText();
    }
    for (size_t s = 0; s < sumColumns.size(); ++s) {
        const size_t c = size_t(sumColumns[s]);
        if (c < grand.size()) {
            grand[c].text = cells::sumText(totals[s]);
            grand[c].fillColorIndex = Fill::LightTurquoise;
        }
    }
    for (CellRecord& cell : grand) {
        if (cell.text.isEmpty()) {
            cell.text = SharedText(texts.text(QStringLiteral("hj")));
            break;
        }
    }

    if (info) {
        info->sumColumns = sumColumns;
        info->subtotalRows = summary.subtotalRows();
    }

    RowTable result;
    result.reserve(1 + summary.order().size() + size_t(summary.subtotalRows()) + 1);
    result.push_back(std::move(table[size_t(fieldRow)]));
    summary.appendRowsTo(result);
    result.push_back(std::move(grand));
    return result;
}

Status runGroupSum(ResultSink& sink, Progress& progress, RowTable table, const QStringList& groupFields,
                   const QStringList& sumLabels, GroupSumInfo* info) {
    progress.setText(QStringLiteral("run"));
    Result<RowTable> result = groupSum(std::move(table), groupFields, sumLabels, info);
    if (!result.isOk()) return result.status();
    const int64_t rows = int64_t(result.value().size());
    const int64_t step = progressStep(rows);
    progress.setRange(rows);
    progress.setStep(step);
    progress.setPosition(0);
    StringTools texts;
    return sink.writeResult(1, texts.text(QStringLiteral("sums")), result.value(), progress, step);
}

} // namespace quellar
