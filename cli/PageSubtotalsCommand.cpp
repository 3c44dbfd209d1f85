// page-subtotals: the window's 分页汇总 without a window. The workbook is converted into a
// working file in a temporary folder of its own (the command needs no working directory),
// the chosen sheet gets its subtotal rows there, and the result is converted into the
// output workbook, by default next to the workbook under the name the window gives it.

#include "Commands.h"
#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "table/PageSubtotals.h"
#include "workbook/ExcelDriver.h"
#include "workbook/PageBreaks.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

namespace quellar::cli {
namespace {

// A whole number from `low` to `high` given to option --name, or an error naming it.
Result<int> boundedNumber(const CliContext& context, const QString& name, int low, int high) {
    bool ok = false;
    const int value = context.value(name).trimmed().toInt(&ok);
    if (!ok || value < low || value > high)
        return Status::invalidInput(QStringLiteral("选项 --%1 应是 %2 到 %3 之间的整数，给的是 “%4”")
                                        .arg(name)
                                        .arg(low)
                                        .arg(high)
                                        .arg(context.value(name)));
    return value;
}

} // namespace

int runPageSubtotalsCommand(CliContext& context, const QStringList& arguments) {
    Status status = context.parse(arguments);
    if (status.isOk()) status = context.expectFiles(1);
    if (status.isOk()) status = context.checkOutput(false);
    if (!status.isOk()) return context.fail(status);
    const QString file = context.files()[0];
    QString output =
        context.has(QStringLiteral("output")) ? context.outputPath() : pageSubtotalOutputPath(file);
    const QString suffix = QFileInfo(output).suffix().toLower();
    if (context.has(QStringLiteral("output")) && suffix != u"xls" && suffix != u"xml" && suffix != u"xlsx")
        return context.fail(
            QStringLiteral("分页汇总的结果是工作簿：结果文件 %1 请用 .xls、.xml 或 .xlsx").arg(output));

    const QStringList sums = context.values(QStringLiteral("sum"));
    if (sums.isEmpty())
        return context.fail(QStringLiteral("没有选择要汇总的列：请用 --sum 字段名 指定（可重复）"));
    PageSubtotalOptions options;
    if (context.has(QStringLiteral("rows-per-page"))) {
        const Result<int> rows = boundedNumber(context, QStringLiteral("rows-per-page"), 1, 99);
        if (!rows.isOk()) return context.fail(rows.status());
        options.rowsPerPage = rows.value();
    }
    if (context.has(QStringLiteral("label-column"))) {
        const Result<int> column = boundedNumber(context, QStringLiteral("label-column"), 0, 9);
        if (!column.isOk()) return context.fail(column.status());
        options.labelColumn = column.value();
    }

    const QTemporaryDir work;
    if (!work.isValid())
        return context.fail(QStringLiteral("无法建立存放工作文件的临时文件夹：%1").arg(work.errorString()));
    const QString workingFile = work.filePath(QStringLiteral("1.xml"));
    // Four steps, shown as one bar on a terminal: the working file, reading it, 3.xml, the output.
    Progress& progress = context.progress();
    progress.setText(Msg::Running);
    progress.setRange(4);
    int pageBreak = -1;
    QString sheetName;
    {
        Workbook book;
        status = ConvertWorkbook(file, workingFile, QStringLiteral("46"), &book);
        if (!status.isOk()) return context.fail(status);
        const Result<int> sheet = context.chooseSheet(1, book);
        if (!sheet.isOk()) return context.fail(sheet.status());
        sheetName = book.sheets[size_t(sheet.value())].name;
        if (options.rowsPerPage == 0) pageBreak = firstPageBreakRow(book, sheet.value() + 1);
    }

    progress.setPosition(1);
    Result<PageSheet> read = readPageSheet(workingFile, sheetName);
    progress.setPosition(2);
    if (!read.isOk()) return context.fail(read.status());
    PageSheet sheet = read.take();
    if (sheet.fieldRow < 0) {
        return context.fail(MessageTable::text(Msg::PageFieldRowInvalid));
    }
    for (const QString& field : sums) {
        const int position = indexOfField(sheet.fields, field);
        if (position < 0) return context.fail(unknownField(field, sheet.fields, QStringLiteral("表")));
        if (std::find(options.sumColumns.begin(), options.sumColumns.end(), position) ==
            options.sumColumns.end())
            options.sumColumns.push_back(position);
    }
    if (options.rowsPerPage == 0) options.rowsPerPage = proposedRowsPerPage(pageBreak, sheet.fieldRow);

    const QString written = work.filePath(QStringLiteral("3.xml"));
    status = writePageSubtotals(sheet, options, written);
    sheet = PageSheet();
    progress.setPosition(3);
    if (status.isOk()) status = convertPageSubtotals(written, output);
    if (!status.isOk()) return context.fail(status);
    progress.setPosition(4);
    context.endProgressLine();
    printLine(context.out(), QDir::toNativeSeparators(QFileInfo(output).absoluteFilePath()));
    return 0;
}

} // namespace quellar::cli
