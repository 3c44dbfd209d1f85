#pragma once
// Workbook comparison: every sheet of file 1 is paired with each sheet of file 2 that has
// exactly the same name (case-sensitive), in file 1's sheet order and then file 2's; the
// k-th pair is compared by position and its result goes into sheet k of the result
// workbook, named after the sheet. A pair in which either sheet holds at most one cell
// (its clipped used range is a single cell) is skipped but still uses up its number.
//
// The report rows of every compared pair are collected in reportText (emptied first); the
// caller writes the page with buildReportPage / writeReport under the title of message
// "diff_book" (工作簿比较), also when no pair was found. The workbooks are only read. A
// failing sink ends the comparison with its Status; the pairs before it have been written.

#include "base/Progress.h"
#include "base/Status.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/Comparison.h"
#include "workbook/Workbook.h"

#include <QString>

#include <vector>

namespace quellar {

struct BookComparePair {
    int sheetNumber = 0; // the result sheet of this pair (1-based)
    QString name;        // the common sheet name, also the result sheet's name
    bool skipped = false;
    CompareCounts counts;         // zero for a skipped pair
    CompareStatistics statistics; // of a compared pair
};

// Compares the two workbooks with the content options and rules (the mode in
// `contentOptions` is ignored: sheets are always compared by position; with
// rules.columnsByName their columns pair by field name). A field named by a rule must be a
// field of at least one compared sheet; where a sheet pair lacks it, the rule is left out
// there. That check comes after the pairs are compared: a refusal then follows results
// already handed to the sink, which the caller discards. With no content option on at all
// (text, formula, number format and ignore case all off) nothing is chosen: the result is
// Status::cancelled() and nothing is read, written or reported. `pairs` may be null.
Status compareWorkbooks(const Workbook& b1, const Workbook& b2, const CompareOptions& contentOptions,
                        ResultSink& sink, QString& reportText, Progress& progress,
                        std::vector<BookComparePair>* pairs);

} // namespace quellar
