#pragma once
// The statistics of one compared table pair: how the data rows paired, how many cells
// differ, and per column whether it was compared, how many of its cells differ and by how
// much at most. The comparison fills it from its result; the window shows it in the
// 差异统计 dialog and quellar-cli writes it with --summary as JSON.
//
// Rows are data rows: a table's field row is not counted. Cell counts cover the data rows
// too: `differing` the differing cells of paired rows (red, one per pair of cells),
// `onlyInFile1`/`onlyInFile2` the cells marked as being in one table only (yellow/green).

#include "table/compare/CompareRules.h"

#include "base/Status.h"

#include <QString>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quellar {

struct ColumnStatistics {
    QString file1; // the column's name in table 1 (its field-row text, or "第N列" without a
    QString file2; // field row); empty when the column is not in that table
    bool inFile1 = false;
    bool inFile2 = false;
    bool compared = false; // in both tables and not ignored
    int64_t differing = 0;
    bool hasMaxDifference = false;
    double maxDifference = 0; // largest |a − b| among differing cells that are both numbers
};

struct CompareStatistics {
    int64_t rowsFile1 = 0;
    int64_t rowsFile2 = 0;
    int64_t paired = 0;
    int64_t onlyInFile1 = 0;
    int64_t onlyInFile2 = 0;
    int64_t pairedWithDifferences = 0;
    int64_t cellsDiffering = 0;
    int64_t cellsOnlyInFile1 = 0;
    int64_t cellsOnlyInFile2 = 0;
    std::vector<ColumnStatistics> columns; // table 1's columns in order, then table 2's others
    CompareRules rules;                    // the rules in force
    bool ignoreCase = false;

    // The compared column with the most differing cells (the first of equals), or null when
    // no cell differs.
    const ColumnStatistics* mostDifferent() const;
};

// What the status line adds after a comparison: the rules in force and the column with the
// most differing cells ("规则：忽略空格。差异最多的列：工资（12 格）。"); empty when there is
// neither. For a workbook comparison the column is looked for in every sheet pair and named
// with its sheet.
QString statisticsStatusText(const std::vector<std::pair<QString, const CompareStatistics*>>& sheets);

// The statistics as one JSON object (UTF-8, no line break at the end):
// {"rows": {...}, "cells": {...}, "columns": [...], "rules": {...}}.
std::string statisticsJson(const CompareStatistics& statistics);
// Writes one table pair's statistics to `path` (through a temporary file).
Status writeStatistics(const QString& path, const CompareStatistics& statistics);
// Writes {"sheets": [{"name": ..., "rows": ..., ...}, ...]}, one object per compared sheet pair.
Status writeBookStatistics(const QString& path,
                           const std::vector<std::pair<QString, const CompareStatistics*>>& sheets);

} // namespace quellar
