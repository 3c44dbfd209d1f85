#pragma once
// Even blank-row insertion: the table with the same number of blank rows after every row.
// A blank row is a copy of the row above it with every text and formula emptied; number
// formats, colours, fonts, alignments, sizes and merged areas stay, so the blank rows look
// like the rows they follow. No field row is looked for: every row is treated alike.
//
// insertBlankRows is the pure core; it refuses a count below 1 and a result too large to
// hold in memory, with a Status saying so. runInsertBlankRows adds the result phase
// (progress, result sheet "增加结果").

#include "base/Progress.h"
#include "base/RowTable.h"
#include "base/Status.h"

#include <QStringView>

namespace quellar {

// The count as typed into the dialog, read like the C library's wide-string-to-integer
// conversion: blanks, an optional sign, then the leading digits ("3abc" gives 3, "abc" and
// "" give 0, "-2" gives -2); beyond the int range the nearest int. Values outside 1 .. 100
// are kept as typed.
int blankCountFromText(QStringView typed);

// Each row of `table` followed by `blankCount` blank rows made from it (n rows give
// n * (1 + blankCount)). The table is taken by value so a caller that no longer needs it
// can move it in.
Result<RowTable> insertBlankRows(RowTable table, int blankCount);

// The insertion in the result phase: progress text "run", the core, the bar's range set to
// the result's row count with step progressStep(rows) from position 0, and the result
// written into sheet 1 of `sink` named "增加结果".
Status runInsertBlankRows(ResultSink& sink, Progress& progress, RowTable table, int blankCount);

} // namespace quellar
