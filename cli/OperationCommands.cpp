// join, filter, blank-rows and group-sum: the table operations that read one or two tables
// and write one result sheet.

#include "Commands.h"
#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "table/BlankRows.h"
#include "table/Filter.h"
#include "table/GroupSum.h"
#include "table/Join.h"
#include "table/compare/Comparison.h"
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

// The values of --`option`, given one to six times; `missing` says how to give it.
Result<QStringList> repeatedOption(CliContext& context, const QString& option, const QString& missing) {
    const QStringList values = context.values(option);
    if (values.size() > 6)
        return Status::invalidInput(
            QStringLiteral("选项 --%1 最多给 6 次，给了 %2 次").arg(option).arg(values.size()));
    if (values.isEmpty()) return Status::invalidInput(missing);
    return values;
}

} // namespace

int runJoinCommand(CliContext& context, const QStringList& arguments) {
    if (auto exit = prepare(context, arguments, 2)) return *exit;
    Result<QStringList> on = repeatedOption(context, QStringLiteral("on"),
                                            QStringLiteral("没有选择连接条件：请用 --on 字段名 指定"));
    if (!on.isOk()) return context.fail(on.status());

    std::vector<RowTable> tables;
    if (auto exit = load(context, 2, tables)) return *exit;
    const Status known = checkFieldsKnown(on.value(), commonFieldNames(tables[0], tables[1]),
                                          QStringLiteral("两个表的共同字段"));
    if (!known.isOk()) return context.fail(known);

    JoinOptions options;
    options.preferFileOne = !context.has(QStringLiteral("prefer-file2"));
    options.sumNumbers = context.has(QStringLiteral("sum-numbers"));
    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    const Status status =
        runJoin(sink, context.progress(), std::move(tables[0]), std::move(tables[1]), on.value(), options);
    return finish(context, result, sink, status);
}

int runFilterCommand(CliContext& context, const QStringList& arguments) {
    if (auto exit = prepare(context, arguments, 2)) return *exit;
    const Result<QStringList> where =
        repeatedOption(context, QStringLiteral("where"), MessageTable::text(Msg::NoFilterCondition));
    if (!where.isOk()) return context.fail(where.status());
    QStringList fields, values;
    for (const QString& condition : where.value()) {
        const qsizetype eq = condition.indexOf(u'=');
        if (eq <= 0)
            return context.fail(QStringLiteral("选项 --where 的 “%1” 应写成 字段=值").arg(condition));
        fields.append(condition.left(eq));
        values.append(condition.mid(eq + 1));
    }

    std::vector<RowTable> tables;
    if (auto exit = load(context, 2, tables)) return *exit;
    const Status known =
        checkFieldsKnown(fields, filterOfferedFields(tables[0], tables[1]), QStringLiteral("两个表"));
    if (!known.isOk()) return context.fail(known);

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
    const Result<QStringList> groups = repeatedOption(
        context, QStringLiteral("group"), QStringLiteral("没有选择分组字段：请用 --group 字段名 指定"));
    if (!groups.isOk()) return context.fail(groups.status());

    std::vector<RowTable> tables;
    if (auto exit = load(context, 1, tables)) return *exit;
    int fieldRow = -1;
    const FieldList fields = findFieldRow(tables[0], fieldRow);
    QStringList sumLabels;
    Status known = checkFieldsKnown(groups.value(), fields, QStringLiteral("表"));
    if (known.isOk()) known = groupSumLabelsOf(context, fields, sumLabels);
    if (!known.isOk()) return context.fail(known);

    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    const Status status =
        runGroupSum(sink, context.progress(), std::move(tables[0]), groups.value(), sumLabels);
    return finish(context, result, sink, status);
}

} // namespace quellar::cli
