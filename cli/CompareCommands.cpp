// compare and compare-books: the two comparisons, their report and their counts on stdout.

#include "Commands.h"
#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "base/TextIO.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/Comparison.h"
#include "table/compare/ComparisonOutputs.h"
#include "table/compare/Report.h"
#include "table/compare/WorkbookComparison.h"
#include "workbook/WorkbookFormat.h"

#include <QDateTime>
#include <QFileInfo>

#include <optional>

namespace quellar::cli {
namespace {

// The rule options into `rules`; a bad tolerance is refused naming the option and the field.
Status readRules(const CliContext& context, CompareRules& rules) {
    for (const QString& text : context.values(QStringLiteral("tolerance")))
        if (Status s = addToleranceText(rules, text, false); !s.isOk()) return s;
    for (const QString& text : context.values(QStringLiteral("rel-tolerance")))
        if (Status s = addToleranceText(rules, text, true); !s.isOk()) return s;
    rules.ignoreSpaces = context.has(QStringLiteral("ignore-spaces"));
    rules.ignoreWidth = context.has(QStringLiteral("ignore-width"));
    for (const QString& field : context.values(QStringLiteral("ignore-column"))) {
        if (field.trimmed().isEmpty())
            return Status::invalidInput(QStringLiteral("选项 --ignore-column 缺少字段名"));
        if (!rules.ignoredColumns.contains(field)) rules.ignoredColumns.append(field);
    }
    rules.columnsByName = context.has(QStringLiteral("columns-by-name"));
    return Status::ok();
}

// Like the report: the folder must exist and be writable before any work is done.
Status checkPagePath(const CliContext& context, const QString& option, const QString& what) {
    if (!context.has(option)) return Status::ok();
    const QFileInfo folder(QFileInfo(context.value(option)).absolutePath());
    if (!folder.isDir())
        return Status::ioError(QStringLiteral("%1的文件夹不存在：%2").arg(what, folder.absoluteFilePath()));
    if (!folder.isWritable())
        return Status::ioError(QStringLiteral("%1的文件夹不能写入：%2").arg(what, folder.absoluteFilePath()));
    return Status::ok();
}

Status checkReportPath(const CliContext& context) {
    if (Status s = checkPagePath(context, QStringLiteral("report"), QStringLiteral("报告")); !s) return s;
    if (Status s = checkPagePath(context, QStringLiteral("details"), QStringLiteral("差异明细页")); !s)
        return s;
    return checkPagePath(context, QStringLiteral("summary"), QStringLiteral("统计文件"));
}

// --format highlighter and --context: the tabular diff instead of the result workbook.
Status checkDiffFormat(const CliContext& context, bool& highlighter, HighlighterOptions& options) {
    highlighter = context.has(QStringLiteral("format"));
    if (!highlighter) {
        if (context.has(QStringLiteral("context")))
            return Status::invalidInput(QStringLiteral("--context 只和 --format highlighter 一起使用"));
        return Status::ok();
    }
    const QString format = context.value(QStringLiteral("format"));
    if (format != u"highlighter")
        return Status::invalidInput(
            QStringLiteral("不认识的格式 “%1”：--format 只能是 highlighter（表格差异格式）").arg(format));
    if (fileKindForPath(context.outputPath()) != FileKind::Csv)
        return Status::invalidInput(
            QStringLiteral("表格差异格式（--format highlighter）只能写成 .csv 文件，结果文件是 %1")
                .arg(context.outputPath()));
    if (context.has(QStringLiteral("only-differences")))
        return Status::invalidInput(QStringLiteral(
            "--only-differences 不能和 --format highlighter 一起使用：表格差异本来只列出不同的行"));
    if (context.has(QStringLiteral("context"))) {
        const QString value = context.value(QStringLiteral("context"));
        bool ok = false;
        const int rows = value.toInt(&ok);
        if (value == u"all")
            options.context = -1;
        else if (ok && rows >= 0 && !value.startsWith(u'+'))
            options.context = rows;
        else
            return Status::invalidInput(
                QStringLiteral(
                    "--context 的取值 “%1” 不是行数：请给一个不小于 0 的整数，或 all（列出每一行）")
                    .arg(value));
    }
    return Status::ok();
}

QStringList fileTexts(const CliContext& context) {
    return {QFileInfo(context.files()[0]).absoluteFilePath(),
            QFileInfo(context.files()[1]).absoluteFilePath()};
}

Status writeReportIfAsked(CliContext& context, const QString& title, const QString& reportText) {
    if (!context.has(QStringLiteral("report"))) return Status::ok();
    const QString page =
        buildReportPage(title, reportText, QFileInfo(context.files()[0]).absoluteFilePath(),
                        QFileInfo(context.files()[1]).absoluteFilePath(), QDateTime::currentDateTime());
    return writeUtf16TextFile(context.value(QStringLiteral("report")), page);
}

void printCounts(CliContext& context, const QString& title, const CompareCounts& counts) {
    std::ostream& out = context.out();
    printLine(out, MessageTable::text(Msg::ReportSheetName) + title);
    printLine(out, MessageTable::text(Msg::ReportDifferentRows) + QString::number(counts.differentRows));
    printLine(out, MessageTable::text(Msg::ReportDifferentCells) + QString::number(counts.differentCells));
    printLine(out, MessageTable::text(Msg::ReportFileOneCells) + QString::number(counts.yellowCells));
    printLine(out, MessageTable::text(Msg::ReportFileTwoCells) + QString::number(counts.greenCells));
}

// Aligned rows: says on stderr where stretches were too different to align.
void warnUnaligned(CliContext& context, int64_t rows) {
    if (rows == 0) return;
    context.endProgressLine();
    printLine(context.err(), MessageTable::text(Msg::AlignFallback).arg(rows));
}

bool foundDifferences(const CompareCounts& counts) {
    return counts.differentRows > 0 || counts.differentCells > 0 || counts.yellowCells > 0 ||
           counts.greenCells > 0;
}

} // namespace

int runCompare(CliContext& context, const QStringList& arguments) {
    Status status = context.parse(arguments);
    if (status.isOk()) status = context.expectFiles(2);
    if (status.isOk()) status = context.checkOutput(true);
    if (status.isOk()) status = checkReportPath(context);
    bool highlighter = false;
    HighlighterOptions diffOptions;
    if (status.isOk()) status = checkDiffFormat(context, highlighter, diffOptions);
    if (!status.isOk()) return context.fail(status);

    CompareOptions compare;
    compare.compareText = !context.has(QStringLiteral("no-text"));
    compare.compareFormula = context.has(QStringLiteral("formula"));
    compare.compareNumberFormat = context.has(QStringLiteral("number-format"));
    // Ignoring case only means something while texts are compared.
    compare.ignoreCase = compare.compareText && context.has(QStringLiteral("ignore-case"));
    compare.keyMode = !context.has(QStringLiteral("by-position"));
    compare.alignRows = context.has(QStringLiteral("align-rows"));
    if (compare.alignRows && compare.keyMode)
        return context.fail(QStringLiteral(
            "--align-rows（识别插入和删除的行）只用于按每行每列比较：请同时给出 --by-position"));
    if (status = readRules(context, compare.rules); !status.isOk()) return context.fail(status);
    const QStringList keys = context.values(QStringLiteral("key"));
    if (keys.size() > 6)
        return context.fail(
            QStringLiteral("最多只能选择 6 个对比字段（--key），给了 %1 个").arg(keys.size()));
    if (compare.keyMode && keys.isEmpty())
        return context.fail(QStringLiteral(
            "按对比字段比较时没有选择对比字段：请用 --key 字段名 指定，或用 --by-position 按每行每列比较"));

    std::vector<Workbook> books;
    std::vector<RowTable> tables;
    status = context.loadTables(2, books, tables);
    if (!status.isOk()) return context.fail(status);
    books.clear(); // the tables hold what is needed

    if (!keys.isEmpty()) {
        status = checkFieldsKnown(keys, commonFieldNames(tables[0], tables[1]),
                                  QStringLiteral("两个表的共同字段"));
        if (!status.isOk()) return context.fail(status);
    }

    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    QString reportText;
    CompareCounts counts;
    CompareStatistics statistics;
    const bool summary = context.has(QStringLiteral("summary"));
    const QString title = MessageTable::text(Msg::CompareSheet);
    ComparisonOutputs outputs(highlighter ? nullptr : &sink);
    std::optional<DetailsPage> details;
    if (context.has(QStringLiteral("only-differences"))) outputs.keepOnlyDifferences();
    if (highlighter) outputs.writeDiff(context.outputPath(), diffOptions);
    if (context.has(QStringLiteral("details"))) {
        const QStringList files = fileTexts(context);
        details.emplace(MessageTable::text(Msg::CompareReport), files[0], files[1],
                        describeCompareRules(compare, keys));
        outputs.addDetails(&*details, [&](int, const QString&) {
            return std::pair{context.loadedSheet(1), context.loadedSheet(2)};
        });
    }
    const bool throughOutputs = highlighter || details || context.has(QStringLiteral("only-differences"));
    status = runTableComparison(throughOutputs ? static_cast<ResultSink&>(outputs) : sink, context.progress(),
                                std::move(tables[0]), std::move(tables[1]), compare, keys, 1, title,
                                reportText, &counts, summary || details ? &statistics : nullptr);
    tables.clear();
    if (status.isOk() && summary)
        status = writeStatistics(context.value(QStringLiteral("summary")), statistics);
    if (status.isOk())
        status = writeReportIfAsked(context, MessageTable::text(Msg::CompareReport), reportText);
    if (status.isOk() && details) status = details->write(context.value(QStringLiteral("details")));
    if (status.isOk() && !highlighter) status = context.writeOutput(result, sink);
    if (!status.isOk()) return context.fail(status);
    context.endProgressLine(); // ends the bar's line before the counts
    warnUnaligned(context, counts.unalignedRows);
    printCounts(context, title, counts);
    return context.done(context.has(QStringLiteral("exit-code")) && foundDifferences(counts) ? 1 : 0);
}

int runCompareBooks(CliContext& context, const QStringList& arguments) {
    Status status = context.parse(arguments);
    if (status.isOk()) status = context.expectFiles(2);
    if (status.isOk()) status = context.checkOutput(true);
    if (status.isOk()) status = checkReportPath(context);
    if (!status.isOk()) return context.fail(status);

    CompareOptions compare;
    compare.compareText = !context.has(QStringLiteral("no-text"));
    compare.compareFormula = context.has(QStringLiteral("formula"));
    compare.compareNumberFormat = context.has(QStringLiteral("number-format"));
    compare.ignoreCase = context.has(QStringLiteral("ignore-case"));
    compare.keyMode = false;
    compare.alignRows = context.has(QStringLiteral("align-rows"));
    if (status = readRules(context, compare.rules); !status.isOk()) return context.fail(status);
    if (!compare.compareText && !compare.compareFormula && !compare.compareNumberFormat &&
        !compare.ignoreCase)
        return context.fail(QStringLiteral(
            "没有选择比较内容：去掉 --no-text，或给出 --formula、--number-format、--ignore-case 之一"));

    std::vector<Workbook> books(2);
    for (int which = 1; which <= 2; ++which) {
        status = context.loadWorkbook(which, books[size_t(which - 1)]);
        if (!status.isOk()) return context.fail(status);
    }

    Workbook result = Workbook::makeDefault();
    WorkbookSink sink(result, context.sinkMode());
    QString reportText;
    std::vector<BookComparePair> pairs;
    ComparisonOutputs outputs(&sink);
    std::optional<DetailsPage> details;
    if (context.has(QStringLiteral("only-differences"))) outputs.keepOnlyDifferences();
    if (context.has(QStringLiteral("details"))) {
        const QStringList files = fileTexts(context);
        details.emplace(MessageTable::text(Msg::BookReport), files[0], files[1],
                        describeCompareRules(compare, {}));
        outputs.addDetails(&*details, nullptr);
    }
    const bool throughOutputs = details || context.has(QStringLiteral("only-differences"));
    status = compareWorkbooks(books[0], books[1], compare,
                              throughOutputs ? static_cast<ResultSink&>(outputs) : sink, reportText,
                              context.progress(), &pairs);
    books.clear();
    if (status.isOk() && context.has(QStringLiteral("summary"))) {
        std::vector<std::pair<QString, const CompareStatistics*>> sheets;
        for (const BookComparePair& pair : pairs)
            if (!pair.skipped) sheets.emplace_back(pair.name, &pair.statistics);
        status = writeBookStatistics(context.value(QStringLiteral("summary")), sheets);
    }
    if (status.isOk()) status = writeReportIfAsked(context, MessageTable::text(Msg::BookReport), reportText);
    if (status.isOk() && details) status = details->write(context.value(QStringLiteral("details")));
    if (status.isOk()) status = context.writeOutput(result, sink);
    if (!status.isOk()) return context.fail(status);
    context.endProgressLine();

    int64_t unaligned = 0;
    for (const BookComparePair& pair : pairs)
        unaligned += pair.counts.unalignedRows;
    warnUnaligned(context, unaligned);
    bool differences = false;
    for (const BookComparePair& pair : pairs) {
        if (pair.skipped) continue;
        printCounts(context, pair.name, pair.counts);
        differences = differences || foundDifferences(pair.counts);
    }
    return context.done(context.has(QStringLiteral("exit-code")) && differences ? 1 : 0);
}

int runConvert(CliContext& context, const QStringList& arguments) {
    Status status = context.parse(arguments);
    if (status.isOk()) status = context.expectFiles(2);
    if (!status.isOk()) return context.fail(status);
    const QString target = context.files()[1];
    const FileKind kind = fileKindForPath(target);
    if (kind == FileKind::Unknown)
        return context.fail(
            QStringLiteral("目标文件 %1 的扩展名无法识别：请用 .xlsx、.xls、.xml、.csv 或 .json")
                .arg(target));
    const QFileInfo source(context.files()[0]);
    if (source.exists() && source.canonicalFilePath() == QFileInfo(target).canonicalFilePath())
        return context.fail(QStringLiteral("目标文件不能是源文件本身：%1").arg(target));
    const QFileInfo folder(QFileInfo(target).absolutePath());
    if (!folder.isDir())
        return context.fail(QStringLiteral("目标文件的文件夹不存在：%1").arg(folder.absoluteFilePath()));

    Workbook book;
    status = context.loadWorkbook(1, book);
    if (status.isOk()) status = writeWorkbook(book, target, kind);
    if (!status.isOk()) return context.fail(status);
    return context.done(0);
}

} // namespace quellar::cli
