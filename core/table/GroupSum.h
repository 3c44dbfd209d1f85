#pragma once
// The group summary: the data rows of a table grouped by up to six fields, one inside the
// other, with a subtotal row after every group at every level and a grand-total row at the
// end; the chosen numeric columns are summed.
//
// Row order follows the exchange sort of the rows by key text (code-unit order, not
// stable: rows B1, B2, A come out A, B2, B1), computed in O(n log n). Groups of a level are
// listed in the order of their keys: numbers by value when both keys being compared are
// numbers, code-unit order otherwise (so 9, 10, 100). Rows whose key at a level is empty
// belong to no group of that level and are not listed, but count in the enclosing sums.
// A subtotal row shows the key followed by "小计" in its level's group column and the sums
// ("%lf") in the sum columns, both in the level's colour; the grand-total row shows the
// totals (light turquoise) and "合计" in its first empty cell.
//
// Each summed column has a function (SumFunction): the sum (as described above), the count
// of non-blank cells, or the average, maximum or minimum of the cells that are numbers
// (numberInCell: blanks and other texts are passed over; a group without any number gets an
// empty cell). Every subtotal level and the grand total apply the column's function to the
// cells of their rows, so a higher level's average is over the cells, not over the averages
// below it. Results are written as sums are ("%lf"). When any column has a function other
// than the sum, the field row's summed cells name it (金额（平均值）); with sums only the
// result is what it always was.
//
// groupSum is the pure core; it takes the table by value (its rows are moved into the
// result) and returns the result, or a Status naming a group field that the table lacks, a
// label that names no column, or a table without a field row. runGroupSum adds the result
// phase (progress, result sheet "汇总结果").

#include "base/CellOps.h"
#include "base/Progress.h"
#include "base/RowTable.h"
#include "base/Status.h"

#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace quellar {

// Fill colours of the subtotal rows, level 0 first.
inline constexpr int32_t kGroupLevelColours[6] = {36, 39, 35, 40, 24, 38};

// What a summed column holds. The order is the order the dialog offers them in.
enum class SumFunction : uint8_t { Sum, Count, Average, Maximum, Minimum };
inline constexpr int kSumFunctionCount = 5;

struct GroupSumInfo {
    std::vector<int> sumColumns;           // 0-based positions summed, in order
    std::vector<SumFunction> sumFunctions; // the function of each of them
    int64_t subtotalRows = 0;
};

// The sum columns are offered and chosen by their column labels ("C (金额)", see
// base/CellOps.h); the dialog's left list holds groupSumLabels.
inline QString groupSumLabel(int position, const QString& name) {
    return columnLabel(position, name);
}
inline QStringList groupSumLabels(const FieldList& fields) {
    return columnLabels(fields);
}
inline int columnOfGroupSumLabel(QStringView label) {
    return columnOfLabel(label);
}

// 求和, 计数, 平均值, 最大值, 最小值 (from the message table).
QString sumFunctionName(SumFunction function);
// The function of that name; nullopt for any other text.
std::optional<SumFunction> sumFunctionNamed(QStringView name);

// A sum column chosen with its function is a label followed by the function's name in
// full-width parentheses: "C (金额)（平均值）". A plain label is a sum, so every label above
// still means what it did. A label made from a field name always ends in ")", so the suffix
// cannot be mistaken for part of one.
QString withSumFunction(const QString& label, SumFunction function);
// Splits a label with an optional function suffix: the plain label and the function.
SumFunction splitSumFunction(QStringView labelWithFunction, QString* label = nullptr);
// The field cell of a column holding `function`: 金额（平均值）.
QString fieldWithSumFunction(const QString& field, SumFunction function);

// Groups `table` by `groupFields` (1 to 6 names of its field row; a name may repeat; empty
// names are ignored) and sums the columns of `sumLabels` (labels as above, each optionally
// with its function; a column given twice with different functions is refused; when empty,
// every column whose data texts all are numbers, the empty text counting as 0). The result
// is the field row, the grouped data and subtotal rows, and the grand-total row; rows above
// the field row are dropped. A table with no data rows gives its field row and a
// grand-total row of zero sums. `info` may be null.
Result<RowTable> groupSum(RowTable table, const QStringList& groupFields, const QStringList& sumLabels,
                          GroupSumInfo* info = nullptr);

// The summary in the result phase: progress text "run", the core, the bar's range set to
// the result's row count with step progressStep(rows) from position 0, and the result
// written into sheet 1 of `sink` named "汇总结果".
Status runGroupSum(ResultSink& sink, Progress& progress, RowTable table, const QStringList& groupFields,
                   const QStringList& sumLabels, GroupSumInfo* info = nullptr);

} // namespace quellar
