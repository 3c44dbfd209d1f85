#include "table/GroupSum.h"

#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "table/ExchangeSort.h"
#include "table/OperationCells.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

// The keys of one group column: every distinct text in code-unit order (its index is the
// text's rank), and each data row's rank. Rows are then sorted and grouped by comparing
// small integers held in one array, instead of chasing each row's cells and texts.
struct LevelKeys {
    std::vector<std::u16string_view> texts; // by rank; views into the table's cells
    std::vector<uint32_t> rankOfRow;        // by data row (row - first data row)
    uint32_t emptyRank = UINT32_MAX;        // rank of the empty text, if any row has it
    std::vector<char> isNumber;             // by rank
    std::vector<double> number;             // by rank

    LevelKeys(const RowTable& table, size_t first, int column) {
        std::unordered_map<std::u16string_view, uint32_t, ViewHash> ids;
        std::vector<uint32_t> idOfRow;
        idOfRow.reserve(table.size() - first);
        for (size_t r = first; r < table.size(); ++r) {
            cancellation::pointEvery(r);
            const std::u16string_view key = cells::textAt(table[r], column);
            auto [it, added] = ids.try_emplace(key, uint32_t(texts.size()));
            if (added) texts.push_back(key);
            idOfRow.push_back(it->second);
        }
        std::vector<uint32_t> byText(texts.size());
        for (uint32_t k = 0; k < byText.size(); ++k)
            byText[k] = k;
        std::sort(byText.begin(), byText.end(), [&](uint32_t a, uint32_t b) { return texts[a] < texts[b]; });
        std::vector<uint32_t> rankOfId(texts.size());
        std::vector<std::u16string_view> sorted(texts.size());
        for (uint32_t r = 0; r < byText.size(); ++r) {
            rankOfId[byText[r]] = r;
            sorted[r] = texts[byText[r]];
        }
        texts = std::move(sorted);
        rankOfRow.resize(idOfRow.size());
        for (size_t i = 0; i < idOfRow.size(); ++i)
            rankOfRow[i] = rankOfId[idOfRow[i]];
        if (!texts.empty() && texts.front().empty()) emptyRank = 0;
        isNumber.resize(texts.size());
        number.resize(texts.size());
        for (size_t r = 0; r < texts.size(); ++r)
            isNumber[r] = parseNumber(texts[r], number[r]);
    }
};

// The values of a column over the data rows in table order: parseNumber of each text, 0
// for texts that are not numbers. With `onlyIfAllNumbers` it stops at the first text that
// is not a number and returns false.
bool columnValues(const RowTable& table, size_t first, int column, bool onlyIfAllNumbers,
                  std::vector<double>& values) {
    values.resize(table.size() - first);
    for (size_t r = first; r < table.size(); ++r) {
        cancellation::pointEvery(r);
        double v = 0;
        if (!parseNumber(cells::textAt(table[r], column), v)) {
            if (onlyIfAllNumbers) return false;
            v = 0;
        }
        values[r - first] = v;
    }
    return true;
}

// The values a function takes of a column, in table order: for the count 1 for a non-blank
// cell and 0 for a blank one (so that counts add up like sums); for the average, maximum
// and minimum the number in the cell, NaN for a cell that holds none.
void functionValues(const RowTable& table, size_t first, int column, SumFunction function,
                    std::vector<double>& values) {
    if (function == SumFunction::Sum) {
        columnValues(table, first, column, false, values);
        return;
    }
    values.resize(table.size() - first);
    for (size_t r = first; r < table.size(); ++r) {
        cancellation::pointEvery(r);
        const std::u16string_view text = cells::textAt(table[r], column);
        double v = 0;
        if (function == SumFunction::Count)
            v = isBlankText(text) ? 0.0 : 1.0;
        else if (!numberInCell(text, v))
            v = std::numeric_limits<double>::quiet_NaN();
        values[r - first] = v;
    }
}

// The function of a column applied to values[begin, end): its text ("%lf"), or an empty text
// for an average, maximum or minimum over no number.
SharedText functionText(SumFunction function, const std::vector<double>& values, size_t begin, size_t end) {
    if (function == SumFunction::Sum || function == SumFunction::Count) {
        double sum = 0;
        for (size_t pos = begin; pos < end; ++pos)
            sum += values[pos];
        return cells::sumText(sum);
    }
    double result = 0;
    size_t numbers = 0;
    for (size_t pos = begin; pos < end; ++pos) {
        const double v = values[pos];
        if (std::isnan(v)) continue;
        if (function == SumFunction::Average)
            result += v;
        else if (numbers == 0 || (function == SumFunction::Maximum ? v > result : v < result))
            result = v;
        ++numbers;
    }
    if (numbers == 0) return SharedText();
    if (function == SumFunction::Average) result /= double(numbers);
    return cells::sumText(result + 0.0); // + 0.0: a -0 cell shows as 0, as its sum does
}

class GroupSummary {
public:
    // `values` holds, per sum column, the values of the data rows in table order
    // (functionValues of the column's function).
    GroupSummary(RowTable& table, size_t firstDataRow, const std::vector<int>& groupColumns,
                 std::vector<int> sumColumns, std::vector<SumFunction> functions,
                 std::vector<std::vector<double>> values, const QString& subtotalSuffix)
        : table_(table)
        , first_(firstDataRow)
        , groupColumns_(groupColumns)
        , sumColumns_(std::move(sumColumns))
        , functions_(std::move(functions))
        , values_(std::move(values))
        , suffix_(reinterpret_cast<const char16_t*>(subtotalSuffix.constData()),
                  size_t(subtotalSuffix.size())) {
        levels_.reserve(groupColumns.size());
        for (int column : groupColumns)
            levels_.emplace_back(table, firstDataRow, column);
        order_.reserve(table.size() - firstDataRow);
        for (size_t r = firstDataRow; r < table.size(); ++r)
            order_.push_back(uint32_t(r - firstDataRow));
    }

    // Sorts the data rows as the nested exchange sorts leave them, then puts the sum values
    // into sorted order.
    void sort() {
        sortLevel(0, 0, order_.size());
        std::vector<double> sorted(order_.size());
        for (std::vector<double>& column : values_) {
            for (size_t pos = 0; pos < order_.size(); ++pos)
                sorted[pos] = column[order_[pos]];
            column.swap(sorted);
        }
    }

    // Lists the groups of every level with their subtotal rows. Fails only when a mixture of
    // numeric and text keys is too long and disordered to be put in order in reasonable time.
    Status group(const QStringList& fieldNames) {
        fieldNames_ = fieldNames;
        groupLevel(0, 0, order_.size());
        return failure_;
    }

    // The column totals over all data rows (taken in sorted order).
    std::vector<SharedText> totals() const {
        std::vector<SharedText> texts;
        for (size_t s = 0; s < sumColumns_.size(); ++s)
            texts.push_back(functionText(functions_[s], values_[s], 0, order_.size()));
        return texts;
    }

    bool hasDataRows() const { return !order_.empty(); }
    size_t firstSortedRow() const { return first_ + order_.front(); }
    size_t dataRows() const { return order_.size(); }
    int64_t subtotalRows() const { return int64_t(subtotals_.size()); }

    // Moves the listed data rows and the subtotal rows into `out`, in listed order.
    void appendRowsTo(RowTable& out) {
        for (int64_t entry : entries_) {
            if (entry >= 0)
                out.push_back(std::move(table_[first_ + size_t(entry)]));
            else
                out.push_back(std::move(subtotals_[size_t(-entry - 1)]));
        }
    }

private:
    uint32_t rankAt(size_t level, size_t pos) const { return levels_[level].rankOfRow[order_[pos]]; }

    // Exchange sort of order_[from, to) by the key text of `level` (code-unit order), then
    // the same one level down within every non-empty key spanning more than one row.
    void sortLevel(size_t level, size_t from, size_t to) {
        if (level >= levels_.size() || to - from < 2) return;
        const size_t n = to - from;
        const LevelKeys& keys = levels_[level];

        // Dense class ranks of the keys present in this range, in code-unit order.
        std::vector<uint32_t> classOf(n);
        for (size_t i = 0; i < n; ++i)
            classOf[i] = keys.rankOfRow[order_[from + i]];
        // Found by marking, so a range costs O(n + d log d) for its d distinct keys.
        std::vector<uint32_t> present;
        seen_.resize(keys.texts.size(), 0);
        for (uint32_t c : classOf)
            if (!seen_[c]) {
                seen_[c] = 1;
                present.push_back(c);
            }
        for (uint32_t c : present)
            seen_[c] = 0;
        std::sort(present.begin(), present.end());
        if (present.size() > 1) {
            if (present.size() != keys.texts.size()) {
                dense_.resize(keys.texts.size());
                for (uint32_t d = 0; d < present.size(); ++d)
                    dense_[present[d]] = d;
                for (uint32_t& c : classOf)
                    c = dense_[c];
            }
            const std::vector<size_t> permutation =
                exchangeSortOrderByClass(classOf, uint32_t(present.size()));
            std::vector<uint32_t> sorted(n);
            for (size_t i = 0; i < n; ++i)
                sorted[i] = order_[from + permutation[i]];
            std::copy(sorted.begin(), sorted.end(), order_.begin() + std::ptrdiff_t(from));
        }
        if (level + 1 >= levels_.size()) return;
        for (const KeyBlock& block : blocks(level, from, to))
            if (block.end - block.begin > 1 && rankAt(level, block.begin) != keys.emptyRank)
                sortLevel(level + 1, block.begin, block.end);
    }

    // The runs of equal keys of `level` in order_[from, to), in their sorted order.
    std::vector<KeyBlock> blocks(size_t level, size_t from, size_t to) const {
        std::vector<KeyBlock> result;
        size_t begin = from;
        while (begin < to) {
            const uint32_t rank = rankAt(level, begin);
            size_t end = begin + 1;
            while (end < to && rankAt(level, end) == rank)
                ++end;
            result.push_back({begin, end});
            begin = end;
        }
        return result;
    }

    // The non-empty key blocks of `level` in the order the groups are listed: the distinct
    // keys in order of first appearance, then exchange-sorted by "both numbers: by value,
    // otherwise by code units". That relation is a strict weak order when all keys are
    // numbers (or none is); on a mixture it need not be transitive, and the procedure is
    // followed swap by swap on the distinct keys, each parsed once.
    std::vector<KeyBlock> groupOrder(size_t level, size_t from, size_t to) {
        const LevelKeys& keys = levels_[level];
        std::vector<KeyBlock> keyed;
        for (const KeyBlock& block : blocks(level, from, to))
            if (rankAt(level, block.begin) != keys.emptyRank) keyed.push_back(block);
        const size_t d = keyed.size();
        if (d < 2) return keyed;

        std::vector<NumberOrText> list(d);
        size_t numbers = 0;
        for (size_t k = 0; k < d; ++k) {
            const uint32_t rank = rankAt(level, keyed[k].begin);
            list[k] = NumberOrText{bool(keys.isNumber[rank]), keys.number[rank], rank};
            numbers += keys.isNumber[rank] ? 1 : 0;
        }
        if (numbers == 0) return keyed; // distinct texts already in code-unit order: nothing swaps
        std::vector<size_t> permutation;
        if (!exchangeSortNumberOrTextOrder(list, permutation)) {
            failure_ = Status::unsupported(
                QStringLiteral(
                    "分组字段“%1”有 %2 个不同的值，数字和文字混在一起且顺序很乱，排序需要的时间过长")
                    .arg(fieldNames_.value(qsizetype(level)))
                    .arg(d));
            return {};
        }
        std::vector<KeyBlock> sorted(d);
        for (size_t i = 0; i < d; ++i)
            sorted[i] = keyed[permutation[i]];
        return sorted;
    }

    void groupLevel(size_t level, size_t from, size_t to) {
        if (level >= levels_.size() || from >= to || !failure_.isOk()) return;
        const bool last = level + 1 == levels_.size();
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
        cancellation::pointEvery(subtotals_.size()); // a group may be a single row
        const int32_t colour = kGroupLevelColours[level];
        Row row = table_[first_ + order_[from]];
        for (CellRecord& cell : row) {
            cell.text = SharedText();
            cell.formula = SharedText();
        }
        const size_t keyColumn = size_t(groupColumns_[level]);
        if (keyColumn < row.size()) {
            std::u16string text(levels_[level].texts[rankAt(level, block.begin)]);
            text += suffix_;
            row[keyColumn].text = SharedText(std::u16string_view(text));
            row[keyColumn].fillColorIndex = colour;
        }
        for (size_t s = 0; s < sumColumns_.size(); ++s) {
            const size_t c = size_t(sumColumns_[s]);
            if (c < row.size()) {
                row[c].text = functionText(functions_[s], values_[s], block.begin, block.end);
                row[c].fillColorIndex = colour;
            }
        }
        subtotals_.push_back(std::move(row));
        entries_.push_back(-int64_t(subtotals_.size()));
    }

    RowTable& table_;
    size_t first_;
    std::vector<int> groupColumns_;
    std::vector<int> sumColumns_;
    std::vector<SumFunction> functions_;
    std::vector<std::vector<double>> values_; // [sum column][data row], sorted order after sort()
    std::u16string suffix_;
    std::vector<LevelKeys> levels_;
    std::vector<uint32_t> order_;  // data rows (offsets from the first), as sorted
    std::vector<uint32_t> dense_;  // scratch: global rank -> class rank within a range
    std::vector<char> seen_;       // scratch: ranks met in a range (all 0 between uses)
    std::vector<int64_t> entries_; // >= 0: a data row offset; < 0: subtotal -(i + 1)
    std::vector<Row> subtotals_;
    QStringList fieldNames_; // of the group columns, for messages
    Status failure_;
};

} // namespace

QString sumFunctionName(SumFunction function) {
    static constexpr Msg kNames[kSumFunctionCount] = {Msg::FunctionSum, Msg::FunctionCount,
                                                      Msg::FunctionAverage, Msg::FunctionMaximum,
                                                      Msg::FunctionMinimum};
    return MessageTable::text(kNames[size_t(function)]);
}

std::optional<SumFunction> sumFunctionNamed(QStringView name) {
    for (int f = 0; f < kSumFunctionCount; ++f)
        if (name == sumFunctionName(SumFunction(f))) return SumFunction(f);
    return std::nullopt;
}

QString withSumFunction(const QString& label, SumFunction function) {
    return fieldWithSumFunction(label, function);
}

SumFunction splitSumFunction(QStringView labelWithFunction, QString* label) {
    SumFunction function = SumFunction::Sum;
    QStringView plain = labelWithFunction;
    const qsizetype open = labelWithFunction.lastIndexOf(u'（');
    if (open > 0 && labelWithFunction.endsWith(u'）') && labelWithFunction[open - 1] == u')') {
        if (const auto named = sumFunctionNamed(labelWithFunction.sliced(open + 1).chopped(1))) {
            function = *named;
            plain = labelWithFunction.first(open);
        }
    }
    if (label) *label = plain.toString();
    return function;
}

QString fieldWithSumFunction(const QString& field, SumFunction function) {
    return field + u'（' + sumFunctionName(function) + u'）';
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
    std::vector<SumFunction> functions;
    std::vector<std::vector<double>> values;
    if (sumLabels.isEmpty()) {
        // Every column of the first data row whose texts in all data rows are numbers.
        const size_t width = first < table.size() ? table[first].size() : 0;
        std::vector<double> column;
        for (size_t c = 0; c < width; ++c) {
            if (!columnValues(table, first, int(c), true, column)) continue;
            sumColumns.push_back(int(c));
            functions.push_back(SumFunction::Sum);
            values.push_back(std::move(column));
            column = {};
        }
    } else {
        for (const QString& given : sumLabels) {
            QString label;
            const SumFunction function = splitSumFunction(given, &label);
            const int column = columnOfGroupSumLabel(label);
            if (column < 0 || column >= int(header.size()))
                return Status::notFound(QStringLiteral("汇总列“%1”不是表中的列").arg(label));
            for (size_t s = 0; s < sumColumns.size(); ++s)
                if (sumColumns[s] == column && functions[s] != function)
                    return Status::invalidInput(QStringLiteral("汇总列“%1”选了两种汇总方式：%2和%3")
                                                    .arg(groupSumLabel(column, header[column]),
                                                         sumFunctionName(functions[s]),
                                                         sumFunctionName(function)));
            sumColumns.push_back(column);
            functions.push_back(function);
            values.emplace_back();
            functionValues(table, first, column, function, values.back());
        }
    }
    const bool onlySums =
        std::all_of(functions.begin(), functions.end(), [](SumFunction f) { return f == SumFunction::Sum; });

    GroupSummary summary(table, first, groupColumns, sumColumns, functions, std::move(values),
                         MessageTable::text(Msg::Subtotal));
    summary.sort();
    if (Status s = summary.group(names); !s) return s;
    std::vector<SharedText> totals = summary.totals();

    // The grand-total row is shaped on the first data row as sorted (the field row when
    // there is no data row), texts emptied.
    Row grand = summary.hasDataRows() ? table[summary.firstSortedRow()] : table[size_t(fieldRow)];
    for (CellRecord& cell : grand) {
        cell.text = SharedText();
        cell.formula = SharedText();
    }
    std::vector<char> summed(grand.size(), 0);
    for (size_t s = 0; s < sumColumns.size(); ++s) {
        const size_t c = size_t(sumColumns[s]);
        if (c < grand.size()) {
            grand[c].text = std::move(totals[s]);
            grand[c].fillColorIndex = Fill::LightTurquoise;
            summed[c] = 1;
        }
    }
    // "合计" goes into the first cell from the left that holds no total (an average over no
    // number leaves its cell empty, but it is still the column's total).
    for (size_t c = 0; c < grand.size(); ++c) {
        if (grand[c].text.isEmpty() && !summed[c]) {
            grand[c].text = SharedText(MessageTable::text(Msg::GrandTotal));
            break;
        }
    }

    // The field row names each column's function, unless every column is a sum.
    Row& fieldCells = table[size_t(fieldRow)];
    if (!onlySums)
        for (size_t s = 0; s < sumColumns.size(); ++s) {
            const size_t c = size_t(sumColumns[s]);
            if (c < fieldCells.size())
                fieldCells[c].text = SharedText(fieldWithSumFunction(header[int(c)], functions[s]));
        }

    if (info) {
        info->sumColumns = sumColumns;
        info->sumFunctions = functions;
        info->subtotalRows = summary.subtotalRows();
    }

    RowTable result;
    result.reserve(1 + summary.dataRows() + size_t(summary.subtotalRows()) + 1);
    result.push_back(std::move(table[size_t(fieldRow)]));
    summary.appendRowsTo(result);
    result.push_back(std::move(grand));
    return result;
}

Status runGroupSum(ResultSink& sink, Progress& progress, RowTable table, const QStringList& groupFields,
                   const QStringList& sumLabels, GroupSumInfo* info) {
    progress.setText(Msg::Running);
    Result<RowTable> result = groupSum(std::move(table), groupFields, sumLabels, info);
    if (!result.isOk()) return result.status();
    return writeResultPhase(sink, progress, 1, Msg::SumSheet, std::move(result.value()));
}

} // namespace quellar
