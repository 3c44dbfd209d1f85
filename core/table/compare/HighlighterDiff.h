#pragma once
// The differences of a two-table comparison in the "highlighter" tabular diff format, the
// published format of the open keyed-diff tools, so that other tools can show the changes
// and apply them to file 1 as a patch.
//
// The diff is itself a CSV table whose first column is the action column:
//   "!"    the schema row, present when the columns differ: "+++" over a column only in
//          file 2, "---" over a column only in file 1, "(old name)" over a renamed column
//          (by position only);
//   "@@"   the field row;
//   "+++"  a row only in file 2; "---" a row only in file 1 (the missing side's columns
//          hold NULL);
//   "->"   a changed row, each changed cell written old->new;
//   "+"    a row whose only news are the values of columns only in file 2;
//   ""     a context row, as it stands in file 1;
//   "..."  rows left out (every cell "..."); with no context rows at all the changed rows
//          stand alone, as the reference tool writes them.
// When some written text holds "->", the arrow gets more dashes ("-->", "--->") until no
// text holds it, in the action column and in the cells alike.
//
// Rows come in the order of file 2 where the comparison kept it: each row of table 1 in
// turn, the unpaired rows of table 2 placed before the first row of table 1 whose partner
// comes after them. Rows paired by keys have their key fields as identity. Columns follow
// file 1's order, each column only in file 2 after the file 2 column before it. Rows above
// the field row are not part of the diff. Texts are written as the CSV outputs write them
// (numbers in their shortest form), UTF-8 with a byte-order mark, lines ending in CR LF.

#include "base/Status.h"
#include "table/compare/Comparison.h"

#include <QString>

#include <string>
#include <vector>

namespace quellar {

struct HighlighterOptions {
    // Unchanged rows written around each change; -1 writes every row.
    int context = 1;
    // Columns of table 1 to leave out (with their partners in table 2), for instance the
    // columns the comparison was told to ignore; shorter than the table means "keep".
    std::vector<bool> leaveOut1;
};

// The diff text of one comparison result (as compareTables made it, with its layout).
std::string highlighterDiffText(const RowTable& result, const CompareLayout& layout,
                                const HighlighterOptions& options);

// The same written to `path` through a temporary file.
Status writeHighlighterDiff(const RowTable& result, const CompareLayout& layout,
                            const HighlighterOptions& options, const QString& path);

} // namespace quellar
