#include "table/BlankRows.h"

#include "base/MessageTable.h"

#include <climits>
#include <cstdint>

namespace quellar {

namespace {

// Far more than a sheet holds, yet small enough that a mistyped count cannot exhaust memory.
constexpr uint64_t kMaxResultCells = 100'000'000;

bool isBlank(QChar c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

} // namespace

int blankCountFromText(QStringView typed) {
    qsizetype i = 0;
    while (i < typed.size() && isBlank(typed[i]))
        ++i;
    bool negative = false;
    if (i < typed.size() && (typed[i] == u'-' || typed[i] == u'+')) {
        negative = typed[i] == u'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < typed.size() && typed[i] >= u'0' && typed[i] <= u'9'; ++i) {
        if (value <= int64_t(INT_MAX) + 1) value = value * 10 + (typed[i].unicode() - u'0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return int(value);
}

Result<RowTable> insertBlankRows(RowTable table, int blankCount) {
    if (blankCount < 1)
        return Status::invalidInput(QStringLiteral("空行数 %1 无效，至少要增加 1 行").arg(blankCount));
    const uint64_t rows = uint64_t(table.size()) * (uint64_t(blankCount) + 1);
    uint64_t cells = 0;
    for (const Row& row : table)
        cells += uint64_t(row.size());
    cells *= uint64_t(blankCount) + 1;
    if (rows > kMaxResultCells || cells > kMaxResultCells)
        return Status::invalidInput(QStringLiteral("每行后增加 %1 个空行会得到 %2 行、%3 个单元格，结果过大")
                                        .arg(blankCount)
                                        .arg(rows)
                                        .arg(cells));

    RowTable result;
    result.reserve(size_t(rows));
    size_t done = 0;
    for (Row& row : table) {
        cancellation::pointEvery(++done);
        // The texts are lifted out while a cell is copied, so the copy starts empty and no
        // shared text is retained and released again.
        Row blank;
        blank.reserve(row.size());
        for (CellRecord& cell : row) {
            SharedText text = std::move(cell.text), formula = std::move(cell.formula);
            blank.push_back(cell);
            cell.text = std::move(text);
            cell.formula = std::move(formula);
        }
        result.push_back(std::move(row));
        for (int b = 1; b < blankCount; ++b)
            result.push_back(blank);
        result.push_back(std::move(blank));
    }
    return result;
}

Status runInsertBlankRows(ResultSink& sink, Progress& progress, RowTable table, int blankCount) {
    progress.setText(Msg::Running);
    Result<RowTable> result = insertBlankRows(std::move(table), blankCount);
    if (!result.isOk()) return result.status();
    return writeResultPhase(sink, progress, 1, Msg::BlankRowsSheet, std::move(result.value()));
}

} // namespace quellar
