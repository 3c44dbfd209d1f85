#pragma once
// The conditional query and the conditional summary: the data rows of a table that satisfy
// every condition chosen on a condition form, listed with their row numbers (query) or
// grouped and summed by the group-summary core (summary).
//
// A condition text holds four "|"-separated tokens per condition: field name, comparator
// (= > >= < <= !=), value, logic token (only "and" is offered; a row must satisfy all
// conditions). Example: 数量|>=|10|and|地区|=|东部|and. One trailing "|" is allowed; tokens
// after the last complete group of four are ignored, so fewer than four tokens select every
// data row. A cell is tested against a value after both are trimmed of blanks: as numbers
// when both parse (the empty text is 0), otherwise by UTF-16 code units, case-sensitive.
//
// conditionalQuery and conditionalSummary are pure cores: they read the table (copying only
// the rows they keep) and return the result table or a Status (a blank text, a table without a field row, a
// condition or group field the table lacks, naming the fields there are). The run...
// functions add the result phase (progress text "run", result sheet "筛选结果" / "汇总结果").
// A refused input writes nothing.

#include "base/Progress.h"
#include "base/RowTable.h"
#include "base/Status.h"
#include "table/GroupSum.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace quellar {

// One condition of a condition text. fieldPosition is the 0-based position of the field in
// the table's FieldList (-1: not found). The logic token is kept but has no effect.
struct QueryCondition {
    int fieldPosition = -1;
    QString comparator;
    QString value;
    QString logic;
};

// Splits a condition, group or sum text. Blanks around the text are removed and one trailing
// separator dropped; "a|b|" gives a, b; "a||b" gives a, "", b; "|a" gives "", a; "a|b||" gives
// a, "b|" (a second trailing separator stays in the last token). A text that is empty after
// trimming is refused (invalid input).
Result<QStringList> splitTokens(const QString& text, QChar separator = QLatin1Char('|'));

// The conditions of a token list, four tokens each, field names looked up in `fields`
// (exact, case-sensitive). A name the table lacks is refused with a message naming it and
// the fields there are.
Result<std::vector<QueryCondition>> buildConditions(const QStringList& tokens, const FieldList& fields);

// Whether one cell text satisfies a condition (the field position is not used). An unknown
// comparator (the empty one included) is false.
bool matchCondition(QStringView cellText, const QueryCondition& condition);

// The data rows fieldRow+1 … end of `table` that satisfy every condition, in table order.
// Every row matches when there are no conditions; a condition with position -1 fails every
// row.
std::vector<size_t> filterRows(const RowTable& table, const FieldList& fields, int fieldRow,
                               const std::vector<QueryCondition>& conditions);

struct ConditionalQueryInfo {
    int64_t conditions = 0;   // complete conditions in the text
    int64_t matchingRows = 0; // data rows that satisfy them
};

// The query result: a copy of the field row, then each matching data row cut to the field
// count, followed by its row number in the table (light turquoise, centred; the first row of
// the table is 0). Cells tested by a condition carry their trimmed text. `info` may be null.
Result<RowTable> conditionalQuery(const RowTable& table, const QString& conditionText,
                                  ConditionalQueryInfo* info = nullptr);

// The query in the result phase (the table taken by value; callers move it in): progress
// text "run", the core, the bar's range set to the
// result's row count with step progressStep(rows), the result written into sheet 1 of `sink`
// named "筛选结果".
Status runConditionalQuery(ResultSink& sink, Progress& progress, RowTable table, const QString& conditionText,
                           ConditionalQueryInfo* info = nullptr);

struct ConditionalSummaryInfo {
    int64_t conditions = 0;
    int64_t matchingRows = 0;
    GroupSumInfo groups; // what the group summary reports
};

// The table the summary groups: a copy of the field row (its row 0), then the matching data
// rows cut to the field count, without row numbers. Rows above the field row are dropped.
Result<RowTable> conditionFilteredTable(const RowTable& table, const QString& conditionText,
                                        ConditionalQueryInfo* info = nullptr);

// The summary: the three texts are split first (each refused when blank), every group token
// must name a field (an empty token too: 地区||类别 is refused), then the filtered table goes
// to groupSum with the group tokens and the sum tokens (labels such as "C (金额)").
Result<RowTable> conditionalSummary(const RowTable& table, const QString& conditionText,
                                    const QString& groupText, const QString& sumText,
                                    ConditionalSummaryInfo* info = nullptr);

// The summary in the result phase, as runGroupSum: result sheet "汇总结果".
Status runConditionalSummary(ResultSink& sink, Progress& progress, RowTable table,
                             const QString& conditionText, const QString& groupText, const QString& sumText,
                             ConditionalSummaryInfo* info = nullptr);

} // namespace quellar
