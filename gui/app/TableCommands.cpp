// The table operations of the main window and their command frame (runTableCommand: the
// sources read, the dialog, the result built aside). Each supplies to the frame only what is
// its own: which panes it reads, the dialog it asks, the core it runs and the status line it
// leaves; the workbook comparison and the page subtotals, which read no selection, report
// their failures the same way.

#include "app/CQuellarDlg.h"

#include "app/CRunDlg.h"
#include "app/WorkFolder.h"
#include "base/CellOps.h"
#include "components/SheetPane.h"
#include "forms/FormPages.h"
#include "table/BlankRows.h"
#include "table/ConditionalQuery.h"
#include "table/Filter.h"
#include "table/GroupSum.h"
#include "table/Join.h"
#include "table/PageSubtotals.h"
#include "table/compare/Comparison.h"
#include "table/compare/ComparisonOutputs.h"
#include "table/compare/WorkbookComparison.h"
#include "workbook/PageBreaks.h"
#include "workbook/RangeReader.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>

#include <algorithm>
#include <chrono>
#include <thread>

namespace quellar {
namespace {

// What the status line adds when aligned rows fell back to pairing by position somewhere.
QString unalignedText(int64_t rows) {
    return rows > 0 ? MessageTable::text(Msg::AlignFallback).arg(rows) : QString();
}

// A choice list counts only when at least one of its names is not empty.
bool anyNamed(const QStringList& names) {
    return std::any_of(names.begin(), names.end(), [](const QString& name) { return !name.isEmpty(); });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The frame: reading the sources, the result built aside

CQuellarDlg::Tables CQuellarDlg::readSources(const std::vector<RangeBounds>& bounds, Progress& progress,
                                             const std::vector<SheetPane*>& packing) {
    int64_t rows = 0;
    for (const RangeBounds& b : bounds)
        rows += b.lastRow - b.firstRow;
    const int64_t step = progressStep(rows);
    progress.setText(Msg::Reading);
    progress.setRange(rows);
    progress.setStep(step);
    progress.setPosition(0);
    Tables tables;
    for (size_t i = 0; i < bounds.size(); ++i) {
        SheetPane* p = pane(int(i) + 1);
        if (std::find(packing.begin(), packing.end(), p) != packing.end())
            tables.push_back(p->takeShownRange(bounds[i], progress, step));
        else
            tables.push_back(readRange(p->workbook(), p->activeSheet(), bounds[i], progress, step));
    }
    return tables;
}

CQuellarDlg::Tables CQuellarDlg::readFieldRows(const std::vector<RangeBounds>& bounds) {
    // A field row is nearly always the first row; a few title rows above it are common.
    constexpr int32_t kFirstRows = 64;
    NullProgress quiet;
    Tables tables;
    for (size_t i = 0; i < bounds.size(); ++i) {
        SheetPane* p = pane(int(i) + 1);
        RangeBounds first = bounds[i];
        first.lastRow = std::min(first.lastRow, first.firstRow + kFirstRows - 1);
        RowTable head = readRange(p->workbook(), p->activeSheet(), first, quiet, 1);
        int fieldRow = -1;
        findFieldRow(head, fieldRow);
        // The first field row of these rows is the first of the whole range too.
        if (fieldRow < 0 && first.lastRow < bounds[i].lastRow)
            head = readRange(p->workbook(), p->activeSheet(), bounds[i], quiet, 1);
        tables.push_back(std::move(head));
    }
    return tables;
}

void CQuellarDlg::runTableCommand(Command command, const TableCommand& table) {
    CRunDlg progress(this);
    const std::vector<RangeBounds> ranges = sourceRanges(command, table.panes, progress);
    if (ranges.empty()) return; // refused with a message
    Tables tables;
    // The long steps run beside the user-interface thread; what they leave behind when they
    // stop early (a cancel, a failure) is freed there too.
    auto freeTables = [&](Status status) {
        if (!status.isOk()) Tables().swap(tables);
        return status;
    };
    if (table.askReadsAllRows) {
        const Status read = progress.run([&](Progress& p) {
            return freeTables(runGuarded([&] {
                tables = readSources(ranges, p);
                return Status::ok();
            }));
        });
        progress.finish();
        if (!read.isOk()) return reportFailure(command, read);
        if (!table.ask(tables)) return;
    } else {
        // The whole ranges are read only once the dialog is answered: a cancelled dialog reads
        // nothing more.
        Tables fieldRows = readFieldRows(ranges);
        if (!table.ask(fieldRows)) return;
    }
    // The new result is built aside and replaces the last one only when complete; the last
    // one is kept packed meanwhile. Large ranges are read out of their panes' cells, which
    // are packed as they are read and given back once the result is built (or the command
    // stopped): at a million rows the panes, the last result and the operation's tables would
    // not fit in memory all at once.
    std::vector<SheetPane*> packing;
    QStringList workingFiles;
    if (!table.askReadsAllRows)
        for (size_t i = 0; i < ranges.size(); ++i)
            if (size_t(ranges[i].lastRow - ranges[i].firstRow + 1) >= SheetPane::kLetGoAsideRows) {
                packing.push_back(pane(int(i) + 1));
                packing.back()->letViewGo();
                workingFiles.append(i == 0 ? QStringLiteral("1.xml") : QStringLiteral("2.xml"));
            }
    // Shown again whatever happens, before any message about the outcome.
    struct ShowAgain {
        std::vector<SheetPane*>& panes;
        void operator()() {
            for (SheetPane* source : std::exchange(panes, {}))
                source->showAgain();
        }
        ~ShowAgain() { (*this)(); }
    } showAgain{packing};
    SheetPane::ResultScope scope(*result_);
    const Status status = progress.run([&](Progress& p) {
        const Status built = freeTables(runGuarded([&] {
            result_->packLastResult();
            // A pane's working file, written from its rows just after it was opened, is
            // waited for (the wait can be cancelled) before those rows are packed.
            for (const QString& name : workingFiles)
                while (workFolder_->writing(name)) {
                    cancellation::point();
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            if (!table.askReadsAllRows) tables = readSources(ranges, p, packing);
            const Status ran = table.run(*result_, p, tables);
            Tables().swap(tables);
            return ran;
        }));
        // The cells packed come back here, beside the user-interface thread, on this thread,
        // whose heap has the memory the operation's tables gave back (on another, its memory
        // would be taken apart from that). After a failure or a cancel the last result's come
        // back too, here, and meanwhile the panes' on a second thread, for a quick answer.
        std::thread panes;
        if (!built.isOk() && !packing.empty())
            panes = std::thread([&] {
                for (SheetPane* source : packing)
                    source->unpackCells();
            });
        else
            for (SheetPane* source : packing)
                source->unpackCells();
        // A cancel that comes once the result is built still ends the command (the window
        // keeps what it showed): the last result comes back here too, not on the
        // user-interface thread.
        if (!built.isOk() || cancellation::requested()) result_->unpackCells();
        if (panes.joinable()) panes.join();
        return built;
    });
    showAgain();
    progress.finish();
    if (!status.isOk()) return reportFailure(command, status);
    scope.succeed();
    showResultSheet();
    showStatus(table.done());
    if (table.then) table.then();
}

// ---------------------------------------------------------------------------------------------
// The comparisons

void CQuellarDlg::compareTables() {
    std::optional<DiffChoice> choice;
    CompareCounts counts;
    std::optional<DetailsPage> details;
    CompareStatistics statistics;
    runTableCommand(
        Command::CompareTables,
        {.panes = 2,
         .ask =
             [&](Tables& t) {
                 choice = prompts_->diffOptions(this, commonFieldNames(t[0], t[1]));
                 // Key mode with no key chosen: nothing happens.
                 return choice && !(choice->options.keyMode && choice->keys.isEmpty());
             },
         .run =
             [&](ResultSink& sink, Progress& progress, Tables& t) {
                 reportText_.clear();
                 // The details page reads the result on its way into the result pane.
                 details.emplace(MessageTable::text(Msg::CompareReport), QDir::toNativeSeparators(file1Path_),
                                 QDir::toNativeSeparators(file2Path_),
                                 describeCompareRules(choice->options, choice->keys));
                 ComparisonOutputs outputs(&sink);
                 const QString sheet1 = pane1_->activeSheet().name, sheet2 = pane2_->activeSheet().name;
                 outputs.addDetails(&*details, [&](int, const QString&) {
                     return std::pair{sheet1, sheet2};
                 });
                 return runTableComparison(
                     outputs, progress, std::move(t[0]), std::move(t[1]), choice->options, choice->keys, 1,
                     MessageTable::text(Msg::CompareSheet), reportText_, &counts, &statistics);
             },
         .done =
             [&] {
                 return QStringLiteral(
                            "对比完成：不同的行 %1，不同的单元格 %2（红色），文件一独有 %3（黄色），"
                            "文件2独有 %4（绿色）。")
                            .arg(counts.differentRows)
                            .arg(counts.differentCells)
                            .arg(counts.yellowCells)
                            .arg(counts.greenCells) +
                        unalignedText(counts.unalignedRows) +
                        keepStatistics({{MessageTable::text(Msg::CompareSheet), std::move(statistics)}});
             },
         .then = [&] { finishComparison(MessageTable::text(Msg::CompareReport), *details); }});
}

void CQuellarDlg::compareBooks() {
    const std::optional<CompareOptions> options = prompts_->bookOptions(this);
    if (!options) return;
    CRunDlg progress(this);
    std::vector<BookComparePair> pairs;
    SheetPane::ResultScope scope(*result_);
    DetailsPage details(MessageTable::text(Msg::BookReport), QDir::toNativeSeparators(file1Path_),
                        QDir::toNativeSeparators(file2Path_), describeCompareRules(*options, {}));
    ComparisonOutputs outputs(result_);
    outputs.addDetails(&details, nullptr);
    // Beside the user-interface thread: the panes' workbooks are only read meanwhile, and the
    // result is built aside (the last one packed meanwhile).
    const Status status = progress.run([&](Progress& p) {
        const Status compared = runGuarded([&] {
            result_->packLastResult();
            return compareWorkbooks(pane1_->workbook(), pane2_->workbook(), *options, outputs, reportText_, p,
                                    &pairs);
        });
        // After a failure or a cancel the last result comes back here, not on the
        // user-interface thread.
        if (!compared.isOk() || cancellation::requested()) result_->unpackCells();
        return compared;
    });
    progress.finish();
    if (status.code() == Status::Code::Cancelled && !progress.cancelled()) return; // no box ticked
    if (!status.isOk()) {
        reportFailure(Command::CompareBooks, status);
        return;
    }
    scope.succeed();
    int compared = 0;
    int64_t differentRows = 0, differentCells = 0, unaligned = 0;
    int firstSheet = -1;
    NamedStatistics statistics;
    for (const BookComparePair& pair : pairs) {
        if (pair.skipped) continue;
        statistics.emplace_back(pair.name, pair.statistics);
        if (firstSheet < 0) firstSheet = pair.sheetNumber - 1;
        ++compared;
        differentRows += pair.counts.differentRows;
        differentCells += pair.counts.differentCells;
        unaligned += pair.counts.unalignedRows;
    }
    if (firstSheet >= 0) result_->setActiveSheet(firstSheet);
    const QString rulesAndColumn = keepStatistics(std::move(statistics));
    showStatus(pairs.empty()
                   ? QStringLiteral("两个工作簿没有同名的工作表，没有可比较的内容。")
                   : QStringLiteral("比较完成：比较了 %1 对同名工作表，不同的行共 %2，不同的单元格共 %3。")
                             .arg(compared)
                             .arg(differentRows)
                             .arg(differentCells) +
                         unalignedText(unaligned) + rulesAndColumn);
    finishComparison(MessageTable::text(Msg::BookReport), details);
}

void CQuellarDlg::finishComparison(const QString& reportTitle, const DetailsPage& details) {
    // The report keeps its time, so that writing it again gives the same bytes.
    const QDateTime time = clock_();
    Status status, written;
    // A million-row comparison has a large details page: both are written beside the
    // user-interface thread. A cancel leaves the result shown and the earlier pages as they were.
    const Status run = runInBackground(QStringLiteral("正在写出对比报告 ..."), [&] {
        status = workFolder_->write(
            QStringLiteral("report.htm"),
            [reportTitle, text = reportText_, file1 = QDir::toNativeSeparators(file1Path_),
             file2 = QDir::toNativeSeparators(file2Path_), time](const QString& path) {
                return writeReport(path, reportTitle, text, file1, file2, [time] { return time; });
            });
        // Written once; the page is not kept to be written again.
        if (status.isOk())
            written = workFolder_->write(QStringLiteral("report-details.htm"),
                                         [&details](const QString& path) { return details.write(path); }, {});
        return Status::ok();
    });
    if (run.code() == Status::Code::Cancelled) {
        showStatus(status_->property("fullText").toString() + u' ' +
                   MessageTable::text(Msg::CommandCancelled).arg(QStringLiteral("对比报告")));
        return;
    }
    if (!status.isOk()) {
        showMessage(QStringLiteral("无法写出对比报告。\n\n%1").arg(status.message()));
        return;
    }
    if (!written.isOk()) {
        showMessage(QStringLiteral("无法写出差异明细。\n\n%1").arg(written.message()));
        return;
    }
    openOnDesktop(workFolder_->filePath(QStringLiteral("report.htm")), false);
}

// ---------------------------------------------------------------------------------------------
// Join, comparison filter, blank rows and group summary

void CQuellarDlg::join() {
    std::optional<JoinChoice> choice;
    JoinInfo info;
    runTableCommand(Command::Join,
                    {.panes = 2,
                     .ask =
                         [&](Tables& t) {
                             choice = prompts_->joinOptions(this, commonFieldNames(t[0], t[1]));
                             return choice && anyNamed(choice->conditions); // else nothing happens
                         },
                     .run =
                         [&](ResultSink& sink, Progress& progress, Tables& t) {
                             return runJoin(sink, progress, std::move(t[0]), std::move(t[1]),
                                            choice->conditions, choice->options, &info);
                         },
                     .done =
                         [&] {
                             return QStringLiteral(
                                        "连接完成：配对 %1 行，文件一独有 %2 行（黄色），文件二独有 %3 "
                                        "行（绿色），文件二独有的列 %4 个。")
                                 .arg(info.pairedRows)
                                 .arg(info.unpairedRowsOne)
                                 .arg(info.unpairedRowsTwo)
                                 .arg(info.extraColumns);
                         }});
}

void CQuellarDlg::compareFilter() {
    std::optional<FilterChoice> choice;
    FilterInfo info;
    runTableCommand(Command::Filter,
                    {.panes = 2,
                     .ask =
                         [&](Tables& t) {
                             choice = prompts_->filterOptions(this, filterOfferedFields(t[0], t[1]));
                             if (choice && anyNamed(choice->fields)) return true;
                             showMessage(MessageTable::text(Msg::NoFilterCondition), false);
                             return false;
                         },
                     .run =
                         [&](ResultSink& sink, Progress& progress, Tables& t) {
                             return runFilter(sink, progress, std::move(t[0]), std::move(t[1]),
                                              choice->fields, choice->values, &info);
                         },
                     .done =
                         [&] {
                             return QStringLiteral("筛选完成：文件一 %1 行、文件二 %2 行符合条件。")
                                 .arg(info.matchesOne)
                                 .arg(info.matchesTwo);
                         },
                     // A condition on a field one table lacks matched none of its rows: say so.
                     .then =
                         [&] {
                             if (const QString note = filterMissingFieldsNote(info); !note.isEmpty())
                                 showMessage(note, false);
                         }});
}

void CQuellarDlg::addBlankRows() {
    std::optional<int> count;
    runTableCommand(
        Command::BlankRows,
        {.ask =
             [&](Tables&) {
                 count = prompts_->blankRowCount(this);
                 return count && *count > 0; // no rows to add: nothing happens
             },
         .run = [&](ResultSink& sink, Progress& progress,
                    Tables& t) { return runInsertBlankRows(sink, progress, std::move(t[0]), *count); },
         .done = [&] { return QStringLiteral("已在每一行之后增加 %1 个空行。").arg(*count); }});
}

void CQuellarDlg::groupSummary() {
    FieldList fields;
    std::optional<GroupSumChoice> choice;
    GroupSumInfo info;
    runTableCommand(
        Command::GroupSum,
        {.ask =
             [&](Tables& t) {
                 int fieldRow = -1;
                 fields = findFieldRow(t[0], fieldRow);
                 choice = prompts_->groupSumOptions(this, fields);
                 return choice && anyNamed(choice->groupFields); // no group field: nothing happens
             },
         .run =
             [&](ResultSink& sink, Progress& progress, Tables& t) {
                 return runGroupSum(sink, progress, std::move(t[0]), choice->groupFields, choice->sumLabels,
                                    &info);
             },
         .done =
             [&] {
                 QStringList summed;
                 for (size_t s = 0; s < info.sumColumns.size(); ++s) {
                     const int column = info.sumColumns[s];
                     const QString label = column < fields.size() ? groupSumLabel(column, fields[column])
                                                                  : columnLetters(column + 1);
                     const SumFunction function = info.sumFunctions[s];
                     summed.append(function == SumFunction::Sum ? label : withSumFunction(label, function));
                 }
                 return QStringLiteral("汇总完成：按 %1 分组，小计行 %2 个；汇总的列：%3。")
                     .arg(choice->groupFields.join(QStringLiteral("、")))
                     .arg(info.subtotalRows)
                     .arg(summed.isEmpty() ? QStringLiteral("无") : summed.join(QStringLiteral("、")));
             }});
}

// ---------------------------------------------------------------------------------------------
// Page subtotals: worked on the working file of file 1, not on the panes; the result is a
// workbook next to file 1, opened on the desktop.

void CQuellarDlg::pageSubtotals() {
    if (file1Path_.isEmpty()) {
        showMessage(QStringLiteral("请先打开文件1，再做分页汇总。"), false);
        return;
    }
    const int sheetNumber = pane1_->activeSheetIndex() + 1;
    const QString sheetName = pane1_->activeSheet().name;
    // The first page break of the sheet as file 1 prints it; the pane holds file 1 as it
    // was read, so the file need not be read again.
    const int pageBreak = firstPageBreakRow(pane1_->workbook(), sheetNumber);
    PageSheet sheet;
    QString rewritten;
    Status status = runInBackground(QStringLiteral("正在读取工作表“%1” ...").arg(sheetName), [&] {
        // Only the 1.xml this window wrote for file 1: restored first when it was changed.
        const Result<QString> workingFile = workFolder_->verified(QStringLiteral("1.xml"), &rewritten);
        if (!workingFile.isOk()) return workingFile.status();
        Result<PageSheet> read = readPageSheet(workingFile.value(), sheetName);
        if (read.isOk()) sheet = read.take();
        return read.status();
    });
    if (!status.isOk()) {
        reportFailure(Command::PageSubtotals, status);
        return;
    }
    if (!rewritten.isEmpty()) showMessage(rewritten, false);
    if (sheet.fieldRow < 0) {
        showMessage(MessageTable::text(Msg::PageFieldRowInvalid));
        return;
    }

    const std::optional<PageSumChoice> choice = prompts_->pageSumOptions(
        this, pageSumDialogList(sheet.fields), proposedRowsPerPage(pageBreak, sheet.fieldRow));
    if (!choice || choice->pageSumLabels.isEmpty()) return; // no column to sum: nothing happens

    PageSubtotalOptions options;
    options.rowsPerPage = std::clamp(choice->rowsPerPage.toInt(), 1, 99);
    options.labelColumn = std::clamp(choice->subtotalColumn.toInt(), 0, 9);
    options.sumColumns = pageSumColumns(choice->pageSumLabels);
    const QString output = pageSubtotalOutputPath(file1Path_);
    PageSubtotalInfo info;
    status = runInBackground(QStringLiteral("正在写出 %1 ...").arg(QFileInfo(output).fileName()), [&] {
        // 3.xml cannot be written again once the sheet is let go: a changed one stops here.
        Status s = workFolder_->write(
            QStringLiteral("3.xml"),
            [&](const QString& path) { return writePageSubtotals(sheet, options, path, &info); }, {});
        sheet = PageSheet(); // the working file's bytes are not needed any more
        if (!s.isOk()) return s;
        const Result<QString> written = workFolder_->verified(QStringLiteral("3.xml"));
        return written.isOk() ? convertPageSubtotals(written.value(), output) : written.status();
    });
    if (!status.isOk()) {
        reportFailure(Command::PageSubtotals, status);
        return;
    }
    showStatus(QStringLiteral("分页汇总完成：每页 %1 行，小计行 %2 个，已写出 %3")
                   .arg(options.rowsPerPage)
                   .arg(info.subtotalRows)
                   .arg(QDir::toNativeSeparators(output)));
    openOnDesktop(output, true);
}

// ---------------------------------------------------------------------------------------------
// Conditional query and conditional summary

std::optional<FormReply> CQuellarDlg::askConditions(bool summary, const RowTable& table) {
    int fieldRow = -1;
    const FieldList fields = findFieldRow(table, fieldRow);
    if (fieldRow < 0) {
        showMessage(MessageTable::text(Msg::NoFieldRow), false);
        return std::nullopt;
    }
    // The page is written beside the other working files and shown from there; a page that
    // cannot be written is reported instead of showing an older one.
    FormPageInfo pageInfo;
    const QString name = summary ? kSummaryPageFile : kQueryPageFile;
    Result<QString> page = QString();
    Result<QString> path = QString();
    // The page lists the values of every row: made and written beside the user-interface thread.
    const Status made = runInBackground(MessageTable::text(Msg::Running), [&] {
        page = summary ? buildSummaryPage(table, fields, fieldRow, &pageInfo)
                       : buildQueryPage(table, fields, fieldRow, &pageInfo);
        if (!page.isOk()) return Status::ok();
        const Status written = workFolder_->write(
            name, [text = page.value()](const QString& target) { return writePageFile(target, text); });
        path = written.isOk() ? workFolder_->verified(name) : Result<QString>(written);
        return Status::ok();
    });
    if (!made.isOk()) {
        reportFailure(summary ? Command::ConditionalSum : Command::Query, made);
        return std::nullopt;
    }
    if (!page.isOk()) {
        showMessage(page.status().message());
        return std::nullopt;
    }
    if (!path.isOk()) {
        showMessage(QStringLiteral("无法写出条件页面“%1”。\n\n%2")
                        .arg(QDir::toNativeSeparators(workFolder_->filePath(name)), path.status().message()));
        return std::nullopt;
    }
    // Values that hold "|" cannot be chosen on the page (its script refuses them); say so.
    if (const QString note = formPageNote(pageInfo); !note.isEmpty()) showStatus(note);
    prompts_->conditionForm(this, path.value(), formReply_);

    // What the page handed back is used once: the texts are emptied after every run, and
    // also when the command stops for want of a choice, so a later form closed without its
    // button never runs on an earlier page's conditions.
    const bool chosen = summary ? formReply_.summaryChosen() : formReply_.queryChosen();
    const FormReply reply = formReply_;
    if (summary)
        formReply_.summaryDone();
    else
        formReply_.queryDone();
    if (!chosen) {
        showMessage(MessageTable::text(summary ? Msg::NoSummaryChoice : Msg::NoQueryCondition), false);
        return std::nullopt;
    }
    return reply;
}

void CQuellarDlg::conditionalQueryCommand() {
    std::optional<FormReply> reply;
    ConditionalQueryInfo info;
    runTableCommand(Command::Query,
                    {.askReadsAllRows = true,
                     .ask = [&](Tables& t) { return (reply = askConditions(false, t[0])).has_value(); },
                     .run =
                         [&](ResultSink& sink, Progress& progress, Tables& t) {
                             return runConditionalQuery(sink, progress, std::move(t[0]),
                                                        reply->replyConditions, &info);
                         },
                     .done =
                         [&] {
                             return QStringLiteral("查询完成：%1 个条件，%2 行符合条件。")
                                 .arg(info.conditions)
                                 .arg(info.matchingRows);
                         }});
}

void CQuellarDlg::conditionalSummaryCommand() {
    std::optional<FormReply> reply;
    ConditionalSummaryInfo info;
    runTableCommand(Command::ConditionalSum,
                    {.askReadsAllRows = true,
                     .ask = [&](Tables& t) { return (reply = askConditions(true, t[0])).has_value(); },
                     .run =
                         [&](ResultSink& sink, Progress& progress, Tables& t) {
                             return runConditionalSummary(sink, progress, std::move(t[0]),
                                                          reply->replyConditions, reply->replyGroups,
                                                          reply->replySums, &info);
                         },
                     .done =
                         [&] {
                             return QStringLiteral("汇总完成：%1 行符合条件，按 %2 分组，小计行 %3 个。")
                                 .arg(info.matchingRows)
                                 .arg(reply->replyGroups.split(u'|').join(QStringLiteral("、")))
                                 .arg(info.groups.subtotalRows);
                         }});
}

} // namespace quellar
