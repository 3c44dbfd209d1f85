#pragma once
// The comparison filter: the rows of table 1 and of table 2 whose fields equal typed values
// (up to six field = value conditions joined by "and"), listed side by side: the n-th match
// of file 1 beside the n-th match of file 2, each with its row number (0 for the table's
// first row), light turquoise and centred.
//
// filterTables is the pure core; it reads both tables and returns the result (no field row
// of its own), or a Status for unusable options. A condition on a field that one table does
// not have matches no row of that table; FilterInfo names those fields so the caller can say
// so. runFilter adds the result phase (progress, result sheet "筛选结果").

#include "base/Progress.h"
#include "base/RowTable.h"
#include "base/Status.h"

#include <QStringList>

#include <cstdint>

namespace quellar {

struct FilterInfo {
    int64_t matchesOne = 0;   // matching rows of table 1
    int64_t matchesTwo = 0;   // matching rows of table 2
    QStringList missingInOne; // condition fields table 1 does not have (each once)
    QStringList missingInTwo; // condition fields table 2 does not have (each once)
};

// The fields the filter dialog offers: all field names of table 1 in order, then those of
// table 2 that table 1 lacks, in table 2's order. A table without a field row adds none.
FieldList filterOfferedFields(const RowTable& table1, const RowTable& table2);

// Filters both tables. `fields` and `values` are parallel lists (the value exactly as typed,
// possibly empty); conditions with an empty field name are ignored; 1 to 6 must remain.
// Matching is exact: case-sensitive whole texts, no trimming, no numeric reading. The rows
// tested are those from each table's field row on (the field row included). `info` may be
// null.
Result<RowTable> filterTables(const RowTable& table1, const RowTable& table2, const QStringList& fields,
                              const QStringList& values, FilterInfo* info = nullptr);

// A sentence for the user naming the condition fields one table lacks ("" when none).
QString filterMissingFieldsNote(const FilterInfo& info);

// The filter in the result phase: progress text "run", the core, the bar's range set to the
// result's row count with step progressStep(rows) from position 0, and the result written
// into sheet 1 of `sink` named "筛选结果". A refused input or a failing sink is returned.
// The tables are taken by value, as by every result phase; callers move them in.
Status runFilter(ResultSink& sink, Progress& progress, RowTable table1, RowTable table2,
                 const QStringList& fields, const QStringList& values, FilterInfo* info = nullptr);

} // namespace quellar
