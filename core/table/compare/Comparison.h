#pragma once
// The two-table comparison: pairs the rows of two tables, by key fields or by position,
// marks differing cells red, cells only in file 1 yellow and cells only in file 2 green,
// and builds one wide result table (file 1 columns, a separator column holding the paired
// file 2 row number, file 2 columns; unpaired file 2 rows at the end, or with aligned rows
// where they were inserted).
//
// compareTables is the pure core: it consumes the two tables and returns
// the result table and its counts, or a Status when the input cannot be compared (key mode
// on a table without a field row, a key that is not a field of both tables).
// runTableComparison wraps it in the result phase: progress, handing the result to a
// ResultSink and appending the counts to the report text. Nothing is kept between calls.

#include "table/compare/CompareRules.h"

#include "base/Progress.h"
#include "base/RowTable.h"
#include "base/Status.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace quellar {

// What counts as a difference, and how rows are paired.
struct CompareOptions {
    bool compareText = true;          // 文本
    bool compareFormula = false;      // 公式
    bool compareNumberFormat = false; // 数值格式
    bool ignoreCase = false;          // 忽略大小写: a-z and A-Z only; applies to the text
    bool keyMode = true;              // 按对比字段 (true) or 按每行每列 (false)
    CompareRules rules;               // tolerance, text normalising, ignored columns, columns by name
    // 识别插入和删除的行: by position, line the rows up as a line diff does (RowAlignment.h)
    // instead of pairing row i with row i. Ignored in key mode.
    bool alignRows = false;
};

struct CompareStatistics;

// True when the two cells count as equal under the content options:
// - text: exact UTF-16 equality, after mapping ASCII a-z to A-Z when ignoring case
//   (full-width letters and every other character stay as they are);
// - formula: compared (exactly, case-sensitively) only when at least one starts with "=";
// - number format: exact equality.
// With all three content options off every pair of cells is equal.
// The text rules of options.rules (white space, full-width forms) apply to the text as
// ignoring case does; no tolerance does: this is how key cells are matched.
bool cellsEqual(const CellRecord& a, const CellRecord& b, const CompareOptions& options);
// The same for the cells of one compared column: where `rule` is numeric, two texts that
// are both numbers (cellNumber) are also equal when within its tolerance.
bool cellsEqual(const CellRecord& a, const CellRecord& b, const CompareOptions& options,
                const ColumnRule& rule);

// The field names of table 2, in its order, that are also field names of table 1 (exact,
// case-sensitive). What the comparison and join dialogs offer as keys.
FieldList commonFieldNames(const RowTable& t1, const RowTable& t2);

struct CompareCounts {
    int64_t differentRows = 0;  // result rows holding at least one red, yellow or green cell
    int64_t differentCells = 0; // red cells / 2
    int64_t redCells = 0;
    int64_t yellowCells = 0;
    int64_t greenCells = 0;
    // With aligned rows: result rows in stretches too different to align, paired by position.
    int64_t unalignedRows = 0;
};

// Where things stand in a comparison result, for the outputs that read it after the core
// (only the differences, the tabular diff, the details page). Row i < rows1 of the result is
// row i of table 1; the rows after it are table 2's unpaired rows. With aligned rows the
// result rows follow the alignment instead, and rowsOf1 says which row of table 1 each holds.
// Column width1 is the separator (the paired table 2 row number, 1-based, or empty for an
// unpaired row of table 1); table 2's cells start at column width1 + 1.
struct CompareLayout {
    bool keyMode = true;
    size_t rows1 = 0;
    size_t width1 = 0;
    size_t width2 = 0;
    // The field rows (key mode: as findFieldRow finds them; by position: row 0) and their
    // names; -1 when a table has none.
    int fieldRow1 = -1;
    int fieldRow2 = -1;
    FieldList names1;
    FieldList names2;
    // The column of the other table a column is compared with, -1 when it has none.
    std::vector<int> column1To2;
    std::vector<int> column2To1;
    // Per column: 1 where a rule leaves the column out of the comparison; empty when none is.
    std::vector<uint8_t> ignored1;
    std::vector<uint8_t> ignored2;
    // The statistics the comparison gathers, when it was asked for them; filled by the time
    // the result is handed on.
    const CompareStatistics* statistics = nullptr;
    // The key columns in key order; empty when rows are paired by position.
    std::vector<size_t> keyColumns1;
    std::vector<size_t> keyColumns2;
    // With aligned rows: per result row, the row of table 1 it holds, or kNoRow for a row only
    // in table 2. Empty otherwise.
    static constexpr uint32_t kNoRow = 0xffffffffu;
    std::vector<uint32_t> rowsOf1;

    // The 0-based row of table 1 that result row `resultRow` holds, -1 for a row of table 2.
    int64_t table1Row(size_t resultRow) const {
        if (rowsOf1.empty()) return resultRow < rows1 ? int64_t(resultRow) : -1;
        return resultRow < rowsOf1.size() && rowsOf1[resultRow] != kNoRow ? int64_t(rowsOf1[resultRow]) : -1;
    }
    // The result row holding table 1's field row (fieldRow1), -1 when there is none.
    int64_t fieldResultRow() const;
};

// A sink that also reads the layout of each comparison result: runTableComparison hands it
// over just before the result itself.
class ComparisonSink : public ResultSink {
public:
    virtual void takeLayout(int sheetNumber, const CompareLayout& layout) = 0;
};

// True for the marks of a difference: red, yellow and green.
inline bool isDifferenceFill(int32_t fill) {
    return fill == Fill::Red || fill == Fill::Yellow || fill == Fill::BrightGreen;
}

// Counts the marks of a result table over the first C cells of every row, C being the cell
// count of row 0.
CompareCounts countMarks(const RowTable& result);

// The comparison core. Row i of table 1 is paired with the first not yet paired row of
// table 2 whose key cells are equal under the content options (all keys in `keys` order;
// an empty list pairs by position until table 2 runs out). In positional mode with
// table 1 no longer than table 2 row i pairs with row i. Refused: key mode when either
// table has no field row (no row whose texts are all non-empty and distinct), and any key
// that is not a field of both tables. `counts` and `layout` may be null.
//
// The rules (options.rules) change what is compared: text rules apply to key matching too
// (keys made equal pair in order, like duplicate keys), tolerances never apply to key
// fields, ignored columns are neither compared nor marked, and with columnsByName the
// positional mode pairs columns by field name as key mode always does. Refused as well: a
// field named by a rule that neither table has, a key field ignored or given a tolerance,
// columnsByName on a table without a field row or whose first full row repeats a name.
// With options.alignRows (by position only) the rows are lined up as RowAlignment.h
// describes instead, and the result rows follow that order (layout->rowsOf1).
// `statistics`, when not null, receives the statistics of the result.
// The tables are taken by value: their cells are moved into the result instead of copied,
// which spares a reference-count update on every shared text, so a caller that no longer
// needs them moves them in.
Result<RowTable> compareTables(RowTable t1, RowTable t2, const CompareOptions& options,
                               const QStringList& keys, CompareCounts* counts,
                               CompareLayout* layout = nullptr, CompareStatistics* statistics = nullptr);

// The whole comparison of one table pair: progress text "run", the core, progress range
// N (result rows) with step progressStep(N) from position 0, the result into sheet
// `sheetNumber` of the sink under `title` (a ComparisonSink gets the layout first), and the
// pair's block of report rows appended to `reportText`. A refused input or a failing sink is
// returned; reportText is then left as it was. The tables are consumed as by compareTables
// and freed before the result is handed on.
Status runTableComparison(ResultSink& sink, Progress& progress, RowTable t1, RowTable t2,
                          const CompareOptions& options, const QStringList& keys, int sheetNumber,
                          const QString& title, QString& reportText, CompareCounts* counts = nullptr,
                          CompareStatistics* statistics = nullptr);

} // namespace quellar
