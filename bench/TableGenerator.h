#pragma once
// Realistic test tables for the benchmarks: a field row, then records with an ID key
// (with some duplicates), short Chinese and ASCII texts, integers and decimals, and blanks,
// as office lists hold them. Generation is deterministic for a given seed.

#include "base/RowTable.h"
#include "workbook/Workbook.h"

#include <QElapsedTimer>

#include <cstdint>

namespace quellar::bench {

struct GeneratorOptions {
    int64_t rows = 10000; // data rows, not counting the field row
    int columns = 10;
    uint64_t seed = 1;
    double duplicateKeys = 0.01; // share of rows whose key repeats an earlier one
    double blanks = 0.03;        // share of empty cells outside the key column
};

// Column 0 is the key "编号"; the other fields cycle through name, region, amount, etc.
RowTable generateTable(const GeneratorOptions& options);

// A second table derived from `base`: `changed` share of rows get one cell changed,
// `removed` share of rows are dropped and as many new rows are appended.
RowTable deriveTable(const RowTable& base, double changed, double removed, uint64_t seed);

// The edits a line diff should recognise, made to `base` (a field row and data rows): every
// 97th data row deleted, the 数量 (column 4) of every 100th data row changed, and as many new
// rows as 1% of the data rows appended (copies of data rows under new keys). On a million
// data rows: 10,309 rows only in file 1, 10,000 only in file 2 and 9,897 changed cells.
RowTable deriveEditedTable(const RowTable& base);

// The same texts as a workbook sheet (numbers typed as numbers), for file benchmarks.
Workbook tableToWorkbook(const RowTable& table, const QString& sheetName);

// One sheet "数据" of `rows` records x 10 columns typed as a workbook holds them: numbers,
// names, regions, codes, amounts, an item, a mostly filled flag and signed integers.
Workbook mixedWorkbook(int64_t rows);

// Peak resident memory of this process so far, and resident memory now, in MB.
double peakMemoryMB();
double currentMemoryMB();
// Lets the peak start again from the current resident size, so each step reports its own.
void resetPeakMemory();
// CPU time (user + system, all threads) of this process so far, and a timer's wall time, in s.
double cpuSeconds();
double seconds(const QElapsedTimer& timer);

} // namespace quellar::bench
