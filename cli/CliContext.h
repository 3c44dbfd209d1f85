#pragma once
// What every command of quellar-cli shares: the parsed options, loading a table the way the
// window loads a pane's selection (sheet, range, clipping, reading under progress), and
// writing the result workbook in the format the output path asks for.

#include "CommandTable.h"
#include "base/Progress.h"
#include "base/RowTable.h"
#include "base/Status.h"
#include "workbook/TableWriter.h"
#include "workbook/Workbook.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <ostream>
#include <set>

namespace quellar::cli {

class CliContext {
public:
    CliContext(std::ostream& out, std::ostream& err, bool errIsTerminal);

    // The command being run; parse() takes its options from its definition.
    void setCommand(const CommandDef& command);

    // Parses `arguments` against the options the command's definition lists. On failure the
    // returned Status says which option is wrong. With --help (or -h) it prints the command's
    // options to stdout and returns a cancelled Status, which fail() turns into exit status 0.
    Status parse(const QStringList& arguments);

    bool has(const QString& name) const { return values_.contains(name); }
    QString value(const QString& name) const { return values_.value(name).value(0); }
    QStringList values(const QString& name) const { return values_.value(name); }
    const QStringList& files() const { return files_; }
    const QString& command() const { return command_; }

    // Requires exactly `count` file arguments.
    Status expectFiles(int count) const;

    // Reads workbook `which` (1 or 2) from files()[which-1].
    Status loadWorkbook(int which, Workbook& book) const;
    // The sheet chosen by --sheetN (the active sheet by default).
    Result<int> chooseSheet(int which, const Workbook& book) const;
    // The range chosen by --rangeN (the sheet's used range by default), clipped as the window
    // clips a selection.
    Result<RangeBounds> chooseRange(int which, const Sheet& sheet) const;

    // Loads the tables of the given files, side by side, under the "init" progress; the bar
    // ends full at N = sum of (last row - first row). The workbooks are read only for their
    // tables: they are left empty, their cells given back as the tables are made.
    Status loadTables(int count, std::vector<Workbook>& books, std::vector<RowTable>& tables);
    // The name of the sheet loadTables read for file `which` (1-based).
    QString loadedSheet(int which) const { return loadedSheets_.value(which - 1); }

    // Checks that the output path is given (when `required`) and that its folder exists and
    // can be written, before any work is done.
    Status checkOutput(bool required) const;
    QString outputPath() const { return value(QStringLiteral("output")); }

    // JSON and CSV list the tables as the operation left them; the other formats write sheets.
    WorkbookSink::Mode sinkMode() const;
    // Writes the result workbook to --output; JSON and CSV take the tables the sink kept.
    Status writeOutput(const Workbook& result, const WorkbookSink& sink) const;

    Progress& progress() { return *progress_; }
    std::ostream& out() { return out_; }
    std::ostream& err() { return err_; }

    // Ends the progress bar's line on the terminal, before the command prints its own lines.
    void endProgressLine();
    // One line on stderr and exit status 2.
    int fail(const Status& status);
    // Returns `exitStatus`, or, in the program (setEndProcessWhenDone), flushes the output
    // streams and ends the process with it without freeing the command's data. Called only
    // after every output file is committed.
    int done(int exitStatus);
    int fail(const QString& message) { return fail(Status::invalidInput(message)); }

private:
    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<Progress> progress_;
    bool errIsTerminal_;
    bool helpShown_ = false;
    const CommandDef* definition_ = nullptr;
    QString command_;
    QMap<QString, QStringList> values_;
    QStringList files_;
    QStringList loadedSheets_;
};

// A field the table does not have: an error naming the field and the fields there are.
Status unknownField(const QString& field, const QStringList& fields, const QString& where);
// Every one of `names` is one of `fields`; otherwise unknownField for the first that is not.
Status checkFieldsKnown(const QStringList& names, const QStringList& fields, const QString& where);
// The options that choose summed columns: sum, count, average, max, min (group-sum and summary).
QStringList summedColumnOptionNames();
// The fields given to those options, all together.
QStringList summedFieldsGiven(const CliContext& context);
// Those fields as group-summary labels with their functions ("C (金额)", "D (单价)（平均值）";
// --sum ones plain, so that sums alone give the labels they always did), in option order.
// A field given twice, in one option or two, or one the table (`fields`) lacks is refused,
// naming it.
Status groupSumLabelsOf(const CliContext& context, const QStringList& fields, QStringList& labels);

void printLine(std::ostream& stream, const QString& text);

} // namespace quellar::cli
