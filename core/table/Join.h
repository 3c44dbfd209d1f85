#pragma once
// The two-table join: every row of table 1, in its order, merged with its partner from
// table 2 where it has one, then the rows of table 2 that found none.
//
// A table-1 row's partner is the first not yet paired row of table 2 whose texts equal its
// own in every condition field (exact, case-sensitive, whole texts). The columns that only
// table 2 has are appended on the right, and a last column (light turquoise, centred) tells
// which row of table 2 (1-based) a result row carries. Paired cells that differ are red,
// table-1 rows without partner yellow (their table-2 part blank), table-2 rows without
// partner green.
//
// joinTables is the pure core: it consumes both tables and returns the result, or a Status
// naming the condition that is not a field of a table. runJoin adds the result phase
// (progress, result sheet "连接结果"). Nothing is kept between calls.

#include "base/Progress.h"
#include "base/RowTable.h"
#include "base/Status.h"

#include <QStringList>

#include <cstdint>

namespace quellar {

struct JoinOptions {
    // When paired texts differ: keep file 1's text (true) or show file 2's (false).
    bool preferFileOne = true;
    // When both paired texts are numbers, the cell shows their sum ("%lf": 15.500000).
    // The sum always adds the file-1 value and the file-2 value.
    bool sumNumbers = false;
};

struct JoinInfo {
    int64_t pairedRows = 0;      // table-1 rows that found a partner
    int64_t unpairedRowsOne = 0; // table-1 rows without partner (yellow)
    int64_t unpairedRowsTwo = 0; // table-2 rows left over (green)
    int64_t extraColumns = 0;    // columns only table 2 has
};

// Joins table 1 and table 2 on `conditions` (field names both tables have, 1 to 6 of them;
// a field may repeat; empty names are ignored). Fields are looked up in the field row of
// each table (the first row of non-empty, distinct texts). Every row of table 1 takes part,
// rows above its field row included. `info` may be null.
// The tables are taken by value: each row of table 1 is given back once joined, so the result
// grows into the memory table 1 leaves; a caller that no longer needs the tables moves them in.
Result<RowTable> joinTables(RowTable table1, RowTable table2, const QStringList& conditions,
                            const JoinOptions& options, JoinInfo* info = nullptr);

// The join in the result phase: progress text "run", the core, then the bar's range set to
// the result's row count with step progressStep(rows) from position 0, and the result
// written into sheet 1 of `sink` named "连接结果". A refused input or a failing sink is
// returned.
Status runJoin(ResultSink& sink, Progress& progress, RowTable table1, RowTable table2,
               const QStringList& conditions, const JoinOptions& options, JoinInfo* info = nullptr);

} // namespace quellar
