#pragma once
// How the columns of two compared tables correspond under the rules, worked out once per
// comparison from the field rows: which column pairs are compared and with which
// ColumnRule, which columns are marked as being in one table only, and the list of columns
// the statistics report. Also the pass that gathers the statistics from a finished result.
// Used by the comparison core only.

#include "table/compare/CompareStatistics.h"
#include "table/compare/Comparison.h"

#include "base/RowTable.h"
#include "base/Status.h"

#include <cstdint>
#include <vector>

namespace quellar {

struct ColumnPlan {
    struct Pair {
        uint32_t column1;
        uint32_t column2;
        ColumnRule rule;
    };
    struct Column {
        int column1 = -1; // -1: not in table 1
        int column2 = -1;
        bool compared = false;
    };
    std::vector<Pair> compared;  // column pairs whose cells are compared
    std::vector<uint32_t> only1; // columns of table 1 marked yellow in every paired row
    std::vector<uint32_t> only2; // columns of table 2 marked green in every paired row
    std::vector<Column> columns; // every column once, for the statistics
    // Per column of table 1 / table 2: 1 where the column is ignored. Empty when no column is.
    std::vector<uint8_t> ignored1;
    std::vector<uint8_t> ignored2;
};

// What the plan is made from. names1/names2 are the field rows' texts, empty for a table
// without a field row; keyColumns1 the key fields' columns of table 1 in key mode.
struct ColumnPlanInput {
    const FieldList* names1 = nullptr;
    const FieldList* names2 = nullptr;
    size_t width1 = 0;
    size_t width2 = 0;
    bool byName = false; // key mode, or the positional mode with columnsByName
    std::vector<size_t> keyColumns1;
    QStringList keys;
};

// The plan, or the refusal of a rule that names a field neither table has or a key field
// (ignored, or given a tolerance).
Result<ColumnPlan> planColumns(const ColumnPlanInput& input, const CompareRules& rules);

// With columnsByName in the positional mode: the table must have a field row, and the first
// row whose cells are all filled must not repeat a name (a header with a repeated name would
// otherwise be passed over for a later row). `which` names the table in the message.
Status checkNamedColumns(const RowTable& table, int fieldRow, const QString& which);

// The pairing the statistics are gathered from.
struct PairingFacts {
    const std::vector<uint32_t>* partner = nullptr; // per row of table 1: row of table 2 or kNoPartner
    const std::vector<uint8_t>* paired2 = nullptr;
    size_t rows1 = 0, rows2 = 0;
    size_t width1 = 0, width2 = 0;
    int fieldRow1 = -1, fieldRow2 = -1;
    // With aligned rows: per result row, the rows of table 1 and 2 it holds (kNoPartner for
    // none); null when result row i < rows1 is row i of table 1.
    const std::vector<uint32_t>* rowsOf1 = nullptr;
    const std::vector<uint32_t>* rowsOf2 = nullptr;
};
constexpr uint32_t kNoPartner = 0xffffffffu;

// Counts rows, marks and per-column differences over the data rows of a finished result
// (every row of table 1 in order, then table 2's unpaired rows; or as the rows were aligned).
void gatherStatistics(const RowTable& result, const PairingFacts& facts, const ColumnPlan& plan,
                      const CompareOptions& options, const ColumnPlanInput& names,
                      CompareStatistics& statistics);

} // namespace quellar
