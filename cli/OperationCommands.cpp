// join, filter, blank-rows and group-sum: the table operations that read one or two tables
// and write one result sheet.

#include "Commands.h"
#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "table/BlankRows.h"
#include "table/Comparison.h"
#include "table/Filter.h"
#include "table/GroupSum.h"
#include "table/Join.h"
#include "workbook/WorkbookFormat.h"

namespace quellar::cli {
namespace {

// Parses the options and loads `count` tables; on failure returns the exit status.
std::optional<int> prepare(CliContext& context, const QStringList& arguments, int count) {
    Status status = context.parse(arguments);
    if (status.isOk()) status = context.expectFiles(count);
    if (status.isOk()) status = context.checkOutput(true);
    if (!status.isOk()) return context.fail(status);
    return std::nullopt;
}

// Loads the command's `count` tables; the workbooks they came from are let go at once. On
// failure returns the exit status.
std::optional<int> load(CliContext& context, int count, std::vector<RowTable>& tables) {
    std::vector<Workbook> books;
    const Status status = context.loadTables(count, books, tables);
    if (!status.isOk()) return context.fail(status);
    return std::nullopt;
}

int finish(CliContext& context, const Workbook& result, const WorkbookSink& sink, Status status) {
    if (status.isOk()) status = context.writeOutput(result, sink);
    if (!status.isOk()) return context.fail(status);
    context.endProgressLine();
    return context.done(0);
}

Status tooMany(const QString& option, qsizetype count) {
    return Status::invalidInput(QStringLiteral("选项 --%1 最多给 6 次，给了 %2 次").arg(option).arg(count));
}

} // namespace

int runJoinCommand(CliContext& context, const QStringList& arguments) {
    if (auto exit = prepare(context, arguments, 2)) return *exit;
    const QStringList on = context.values(QStringLiteral("on"));
    if (on.size() > 6) return context.fail(tooMany(QStringLiteral("on"), on.size()));
    if (on.isEmpty()) return context.fail(QStringLiteral("没有选择连接条件：请用 --on 字段名 指定"));

    std::vector<RowTable> tables;
    if (auto exit = load(context, 2, tables)) return *exit;
    const FieldList common = commonFieldNames(tables[0], tables[1]);
    for (const QString& field : on)
        if (indexOfField(common, field) < 0)
            return context.fail(unknownField(field, common, QStringLiteral("两个表的共同字段")));

    JoinOptions options;
    options.preferFileOne = !context.has(QStringLiteral("prefer-file2"));
    options.sumNumbers = context.has(QStringLiteral("sum-numbers"));
    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    const Status status =
        runJoin(sink, context.progress(), std::move(tables[0]), std::move(tables[1]), on, options);
    return finish(context, result, sink, status);
}

int runFilterCommand(CliContext& context, const QStringList& arguments) {
    if (auto exit = prepare(context, arguments, 2)) return *exit;
    const QStringList where = context.values(QStringLiteral("where"));
    if (where.size() > 6) return context.fail(tooMany(QStringLiteral("where"), where.size()));
    if (where.isEmpty()) return context.fail(MessageTable::text(Msg::NoFilterCondition));
    QStringList fields, values;
    for (const QString& condition : where) {
        const qsizetype eq = condition.indexOf(u'=');
        if (eq <= 0)
            return context.fail(QStringLiteral("选项 --where 的 “%1” 应写成 字段=值").arg(condition));
        fields.append(condition.left(eq));
        values.append(condition.mid(eq + 1));
    }

    std::vector<RowTable> tables;
    if (auto exit = load(context, 2, tables)) return *exit;
    const FieldList offered = filterOfferedFields(tables[0], tables[1]);
    for (const QString& field : fields)
        if (indexOfField(offered, field) < 0)
            return context.fail(unknownField(field, offered, QStringLiteral("两个表")));

    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    FilterInfo info;
    Status status = runFilter(sink, context.progress(), std::move(tables[0]), std::move(tables[1]), fields,
                              values, &info);
    if (status.isOk()) status = context.writeOutput(result, sink);
    if (!status.isOk()) return context.fail(status);
    context.endProgressLine();
    const QString note = filterMissingFieldsNote(info);
    if (!note.isEmpty()) printLine(context.err(), note);
    return context.done(0);
}

int runBlankRowsCommand(CliContext& context, const QStringList& arguments) {
    if (auto exit = prepare(context, arguments, 1)) return *exit;
    if (!context.has(QStringLiteral("count")))
        return context.fail(QStringLiteral("没有给出空行数：请用 --count N 指定"));
    const int count = blankCountFromText(context.value(QStringLiteral("count")));
    if (count <= 0)
        return context.fail(
            QStringLiteral("空行数必须大于 0，给的是 “%1”").arg(context.value(QStringLiteral("count"))));

    std::vector<RowTable> tables;
    if (auto exit = load(context, 1, tables)) return *exit;
    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    const Status status = runInsertBlankRows(sink, context.progress(), std::move(tables[0]), count);
    return finish(context, result, sink, status);
}

int runGroupSumCommand(CliContext& context, const QStringList& arguments) {
    if (auto exit = prepare(context, arguments, 1)) return *exit;
    const QStringList groups = context.values(QStringLiteral("group"));
    if (groups.size() > 6) return context.fail(tooMany(QStringLiteral("group"), groups.size()));
    if (groups.isEmpty()) return context.fail(QStringLiteral("没有选择分组字段：请用 --group 字段名 指定"));

    std::vector<RowTable> tables;
    if (auto exit = load(context, 1, tables)) return *exit;
    int fieldRow = -1;
    const FieldList fields = findFieldRow(tables[0], fieldRow);
    for (const QString& group : groups)
        if (indexOfField(fields, group) < 0)
            return context.fail(unknownField(group, fields, QStringLiteral("表")));
    QStringList sumLabels;
    for (const QString& sum : context.values(QStringLiteral("sum"))) {
        const int position = indexOfField(fields, sum);
        if (position < 0) return context.fail(unknownField(sum, fields, QStringLiteral("表")));
        sumLabels.append(groupSumLabel(position, sum));
    }

    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    const Status status = runGroupSum(sink, context.progress(), std::move(tables[0]), groups, sumLabels);
    return finish(context, result, sink, status);
}

} // namespace quellar::cli
