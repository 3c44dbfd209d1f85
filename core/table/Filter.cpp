#include "table/Filter.h"

#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "table/OperationCells.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace quellar {

namespace {

constexpr int kMaxConditions = 6;

struct TableFields {
    FieldList names;
    int fieldRow = -1; // -1: the table has no field row and therefore no fields
};

TableFields fieldsOf(const RowTable& table) {
    TableFields f;
    FieldList names = findFieldRow(table, f.fieldRow);
    if (f.fieldRow >= 0) f.names = names;
    return f;
}

struct Condition {
    int column;                // -1 when the table lacks the field
    std::u16string_view value; // views into the caller's value strings
};

// The matching rows of one table as blocks: the first `width` cells of each, in table order.
// `missing` collects the condition fields the table lacks.
std::vector<size_t> matchingRows(const RowTable& table, const TableFields& fields, const QStringList& names,
                                 const QStringList& values, QStringList& missing) {
    std::vector<Condition> conditions;
    bool impossible = false;
    for (qsizetype c = 0; c < names.size(); ++c) {
        const int column = indexOfField(fields.names, names[c]);
        if (column < 0) {
            impossible = true;
            if (!missing.contains(names[c])) missing.append(names[c]);
        }
        conditions.push_back(
            {column, std::u16string_view(reinterpret_cast<const char16_t*>(values[c].constData()),
                                         size_t(values[c].size()))});
    }
    std::vector<size_t> rows;
    if (impossible || fields.fieldRow < 0) return rows;
    for (size_t r = size_t(fields.fieldRow); r < table.size(); ++r) {
        cancellation::pointEvery(r);
        bool match = true;
        for (const Condition& c : conditions) {
            if (cells::textAt(table[r], c.column) != c.value) {
                match = false;
                break;
            }
        }
        if (match) rows.push_back(r);
    }
    return rows;
}

void appendCells(Row& out, const Row& row, size_t width) {
    for (size_t m = 0; m < width; ++m)
        out.push_back(m < row.size() ? row[m] : CellRecord());
}

} // namespace

FieldList filterOfferedFields(const RowTable& table1, const RowTable& table2) {
    FieldList offered = fieldsOf(table1).names;
    for (const QString& name : fieldsOf(table2).names)
        if (!offered.contains(name)) offered.append(name);
    return offered;
}

Result<RowTable> filterTables(const RowTable& table1, const RowTable& table2, const QStringList& fields,
                              const QStringList& values, FilterInfo* info) {
    if (fields.size() != values.size())
        return Status::invalidInput(
            QStringLiteral("筛选条件的字段有 %1 个，条件值却有 %2 个").arg(fields.size()).arg(values.size()));
    QStringList names, typed;
    for (qsizetype c = 0; c < fields.size(); ++c) {
        if (fields[c].isEmpty()) continue;
        names.append(fields[c]);
        typed.append(values[c]);
    }
    if (names.isEmpty()) return Status::invalidInput(QStringLiteral("没有选择查询条件。"));
    if (names.size() > kMaxConditions)
        return Status::invalidInput(
            QStringLiteral("筛选条件有 %1 个，最多只能有 %2 个").arg(names.size()).arg(kMaxConditions));

    const TableFields fields1 = fieldsOf(table1);
    const TableFields fields2 = fieldsOf(table2);
    const size_t width1 = size_t(fields1.names.size());
    const size_t width2 = size_t(fields2.names.size());

    FilterInfo found;
    const std::vector<size_t> rows1 = matchingRows(table1, fields1, names, typed, found.missingInOne);
    const std::vector<size_t> rows2 = matchingRows(table2, fields2, names, typed, found.missingInTwo);
    found.matchesOne = int64_t(rows1.size());
    found.matchesTwo = int64_t(rows2.size());

    RowTable result;
    const size_t count = std::max(rows1.size(), rows2.size());
    result.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        cancellation::pointEvery(i);
        Row out;
        out.reserve(width1 + width2 + 2);
        if (i < rows1.size()) {
            appendCells(out, table1[rows1[i]], width1);
            out.push_back(cells::rowNumberCell(rows1[i]));
        } else {
            out.resize(width1 + 1);
        }
        if (i < rows2.size()) {
            out.push_back(cells::rowNumberCell(rows2[i]));
            appendCells(out, table2[rows2[i]], width2);
        } else {
            out.resize(out.size() + width2 + 1);
        }
        result.push_back(std::move(out));
    }
    if (info) *info = found;
    return result;
}

QString filterMissingFieldsNote(const FilterInfo& info) {
    QStringList parts;
    if (!info.missingInOne.isEmpty())
        parts.append(QStringLiteral("文件一的表中没有字段“%1”，该表没有符合条件的行。")
                         .arg(info.missingInOne.join(QStringLiteral("”、“"))));
    if (!info.missingInTwo.isEmpty())
        parts.append(QStringLiteral("文件二的表中没有字段“%1”，该表没有符合条件的行。")
                         .arg(info.missingInTwo.join(QStringLiteral("”、“"))));
    return parts.join(QString());
}

Status runFilter(ResultSink& sink, Progress& progress, RowTable table1, RowTable table2,
                 const QStringList& fields, const QStringList& values, FilterInfo* info) {
    progress.setText(Msg::Running);
    Result<RowTable> result = filterTables(table1, table2, fields, values, info);
    if (!result.isOk()) return result.status();
    return writeResultPhase(sink, progress, 1, Msg::FilterSheet, std::move(result.value()));
}

} // namespace quellar
