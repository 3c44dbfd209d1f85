// query and summary: the operations the window runs from its condition form pages. Here the
// texts the page would hand back are given as options, and --page writes the page the window
// would show for the table, byte for byte.

#include "Commands.h"
#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "forms/FormPages.h"
#include "table/ConditionalQuery.h"
#include "table/GroupSum.h"
#include "workbook/WorkbookFormat.h"

#include <QFileInfo>

namespace quellar::cli {
namespace {

const QString kConditions = QStringLiteral("conditions");
const QString kPage = QStringLiteral("page");

// The page path must lie in a folder that exists and can be written, and must be neither an
// input nor the result file.
Status checkPagePath(const CliContext& context) {
    const QFileInfo info(context.value(kPage));
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists() || !folder.isDir())
        return Status::ioError(QStringLiteral("条件页面的文件夹不存在：%1").arg(folder.absoluteFilePath()));
    if (info.exists() && info.isDir())
        return Status::ioError(QStringLiteral("条件页面 %1 是一个文件夹").arg(info.absoluteFilePath()));
    QStringList taken = context.files();
    if (context.has(QStringLiteral("output"))) taken.append(context.outputPath());
    for (const QString& file : taken) {
        const QFileInfo other(file);
        if (other.absoluteFilePath() == info.absoluteFilePath() ||
            (other.exists() && info.exists() && other.canonicalFilePath() == info.canonicalFilePath()))
            return Status::invalidInput(
                QStringLiteral("条件页面不能写到输入文件或结果文件上：%1").arg(info.absoluteFilePath()));
    }
    return Status::ok();
}

// Field names that a form cannot hand back because the texts are joined with "|".
Status checkReturnable(const QStringList& names, const QString& option) {
    for (const QString& name : names)
        if (name.contains(u'|'))
            return Status::invalidInput(
                QStringLiteral("选项 --%1 的字段名“%2”含有“|”，条件页面无法交回这样的字段")
                    .arg(option, name));
    return Status::ok();
}

// Parses the options and checks the output and the page path. On failure returns the exit
// status.
std::optional<int> parseOptions(CliContext& context, const QStringList& arguments,
                                const QString& nothingChosen) {
    Status status = context.parse(arguments);
    if (status.isOk()) status = context.expectFiles(1);
    if (!status.isOk()) return context.fail(status);
    const bool run = context.has(kConditions);
    // An empty condition text is what a page hands back when nothing was chosen; without
    // --conditions only the page is written.
    if ((run && context.value(kConditions).isEmpty()) || (!run && !context.has(kPage)))
        return context.fail(nothingChosen);
    if (!run && context.has(QStringLiteral("output")))
        return context.fail(QStringLiteral("没有给出 --conditions 时只写条件页面，不需要 -o"));
    status = context.checkOutput(run);
    if (status.isOk() && context.has(kPage)) status = checkPagePath(context);
    if (!status.isOk()) return context.fail(status);
    return std::nullopt;
}

// Loads the table and finds its field row ("check" when there is none).
std::optional<int> loadTable(CliContext& context, RowTable& table, FieldList& fields, int& fieldRow) {
    std::vector<Workbook> books;
    std::vector<RowTable> tables;
    const Status status = context.loadTables(1, books, tables);
    if (!status.isOk()) return context.fail(status);
    table = std::move(tables[0]);
    fields = findFieldRow(table, fieldRow);
    if (fieldRow < 0) return context.fail(MessageTable::text(Msg::NoFieldRow));
    return std::nullopt;
}

// Writes the page when --page asks for it and says on stderr what a user of the page should
// know: values that cannot be handed back, values put in the simpler order.
std::optional<int> writePage(CliContext& context, const Result<QString>& page, const FormPageInfo& info) {
    if (!context.has(kPage)) return std::nullopt;
    if (!page.isOk()) return context.fail(page.status());
    if (Status s = writePageFile(context.value(kPage), page.value()); !s) return context.fail(s);
    const QString note = formPageNote(info);
    if (!note.isEmpty()) printLine(context.err(), note);
    if (!info.fallbackOrderFields.isEmpty())
        printLine(context.err(),
                  QStringLiteral("字段“%1”的值很多，数字和文字混在一起，页面中先按数字从小到大、"
                                 "再按文字排列。")
                      .arg(info.fallbackOrderFields.join(QStringLiteral("”、“"))));
    return std::nullopt;
}

int finish(CliContext& context, const Workbook& result, const WorkbookSink& sink, Status status) {
    if (status.isOk()) status = context.writeOutput(result, sink);
    if (!status.isOk()) return context.fail(status);
    context.endProgressLine();
    return 0;
}

} // namespace

int runQueryCommand(CliContext& context, const QStringList& arguments) {
    RowTable table;
    FieldList fields;
    int fieldRow = -1;
    if (auto exit = parseOptions(context, arguments, MessageTable::text(Msg::NoQueryCondition))) return *exit;
    if (auto exit = loadTable(context, table, fields, fieldRow)) return *exit;
    if (context.has(kPage)) {
        FormPageInfo info;
        const Result<QString> page = buildQueryPage(table, fields, fieldRow, &info);
        if (auto exit = writePage(context, page, info)) return *exit;
    }
    if (!context.has(kConditions)) return 0;

    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    const Status status =
        runConditionalQuery(sink, context.progress(), std::move(table), context.value(kConditions));
    return finish(context, result, sink, status);
}

int runSummaryCommand(CliContext& context, const QStringList& arguments) {
    RowTable table;
    FieldList fields;
    int fieldRow = -1;
    const QString nothingChosen = MessageTable::text(Msg::NoSummaryChoice);
    if (auto exit = parseOptions(context, arguments, nothingChosen)) return *exit;
    const bool run = context.has(kConditions);
    const QStringList groups = context.values(QStringLiteral("group"));
    const QStringList sums = summedFieldsGiven(context);
    if (run) {
        if (sums.isEmpty()) return context.fail(nothingChosen);
        if (groups.isEmpty())
            return context.fail(QStringLiteral("没有选择分组字段：请用 --group 字段名 指定"));
        if (groups.size() > 6)
            return context.fail(QStringLiteral("选项 --group 最多给 6 次，给了 %1 次").arg(groups.size()));
        Status status = checkReturnable(groups, QStringLiteral("group"));
        for (const QString& option : summedColumnOptionNames())
            if (status.isOk()) status = checkReturnable(context.values(option), option);
        if (!status.isOk()) return context.fail(status);
    }
    if (auto exit = loadTable(context, table, fields, fieldRow)) return *exit;
    if (context.has(kPage)) {
        FormPageInfo info;
        const Result<QString> page = buildSummaryPage(table, fields, fieldRow, &info);
        if (auto exit = writePage(context, page, info)) return *exit;
    }
    if (!run) return 0;

    QStringList labels;
    Status known = checkFieldsKnown(groups, fields, QStringLiteral("表"));
    if (known.isOk()) known = groupSumLabelsOf(context, fields, labels);
    if (!known.isOk()) return context.fail(known);

    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    const Status status =
        runConditionalSummary(sink, context.progress(), std::move(table), context.value(kConditions),
                              groups.join(u'|'), labels.join(u'|'));
    return finish(context, result, sink, status);
}

} // namespace quellar::cli
