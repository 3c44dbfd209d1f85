#include "CliContext.h"

#include "Cli.h"
#include "CommandHelp.h"
#include "TerminalProgress.h"
#include "base/CellOps.h"
#include "table/GroupSum.h"
#include "workbook/RangeReader.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/csv/CsvFormat.h"
#include "workbook/json/JsonTables.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace quellar::cli {
namespace {

bool endProcessWhenDone = false;

} // namespace

void setEndProcessWhenDone(bool end) {
    endProcessWhenDone = end;
}

void printLine(std::ostream& stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    stream.write(bytes.constData(), bytes.size());
    stream << '\n';
}

Status unknownField(const QString& field, const QStringList& fields, const QString& where) {
    return Status::invalidInput(
        QStringLiteral("%1中没有字段 “%2”。它的字段有：%3")
            .arg(where, field, fields.isEmpty() ? QStringLiteral("（无）") : fields.join(u'，')));
}

Status checkFieldsKnown(const QStringList& names, const QStringList& fields, const QString& where) {
    for (const QString& name : names)
        if (indexOfField(fields, name) < 0) return unknownField(name, fields, where);
    return Status();
}

namespace {

struct SummedColumnOption {
    const char* name;
    SumFunction function;
};
constexpr SummedColumnOption kSummedColumnOptions[] = {{"sum", SumFunction::Sum},
                                                       {"count", SumFunction::Count},
                                                       {"average", SumFunction::Average},
                                                       {"max", SumFunction::Maximum},
                                                       {"min", SumFunction::Minimum}};

} // namespace

QStringList summedColumnOptionNames() {
    QStringList names;
    for (const SummedColumnOption& option : kSummedColumnOptions)
        names.append(QLatin1String(option.name));
    return names;
}

QStringList summedFieldsGiven(const CliContext& context) {
    QStringList given;
    for (const SummedColumnOption& option : kSummedColumnOptions)
        given += context.values(QLatin1String(option.name));
    return given;
}

Status groupSumLabelsOf(const CliContext& context, const QStringList& fields, QStringList& labels) {
    QHash<QString, QString> optionOf; // field -> the option that gave it first
    for (const SummedColumnOption& option : kSummedColumnOptions) {
        const QString name = QLatin1String(option.name);
        for (const QString& field : context.values(name)) {
            if (const auto first = optionOf.constFind(field); first != optionOf.cend())
                return Status::invalidInput(
                    QStringLiteral("汇总字段 “%1” 给了两次（--%2 和 --%3）：每个字段只能选一种汇总方式")
                        .arg(field, *first, name));
            optionOf.insert(field, name);
            const int position = indexOfField(fields, field);
            if (position < 0) return unknownField(field, fields, QStringLiteral("表"));
            const QString label = groupSumLabel(position, field);
            labels.append(option.function == SumFunction::Sum ? label
                                                              : withSumFunction(label, option.function));
        }
    }
    return Status();
}

CliContext::CliContext(std::ostream& out, std::ostream& err, bool errIsTerminal)
    : out_(out)
    , err_(err)
    , progress_(std::make_unique<NullProgress>())
    , errIsTerminal_(errIsTerminal) {}

int CliContext::fail(const Status& status) {
    if (helpShown_) return 0; // --help ends the command before any work, successfully
    endProgressLine();
    printLine(err_, QStringLiteral("quellar-cli %1：%2").arg(command_, status.message()));
    return done(2);
}

void CliContext::endProgressLine() {
    if (auto* terminal = dynamic_cast<TerminalProgress*>(progress_.get())) terminal->finish();
}

int CliContext::done(int exitStatus) {
    if (!endProcessWhenDone) return exitStatus;
    out_.flush();
    err_.flush();
    std::fflush(nullptr);
    std::_Exit(exitStatus);
}

void CliContext::setCommand(const CommandDef& command) {
    definition_ = &command;
    command_ = QLatin1String(command.name);
}

Status CliContext::parse(const QStringList& arguments) {
    const std::vector<OptionDef> specs = definition_->allOptions();
    for (const QString& arg : arguments) {
        if (arg == u"--") break;
        if (arg == u"--help" || arg == u"-h") {
            printLine(out_, commandHelpText(*definition_));
            helpShown_ = true;
            return Status::cancelled();
        }
    }

    bool onlyFiles = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = arguments[i];
        if (onlyFiles || !arg.startsWith(u'-') || arg == u"-") {
            files_.append(arg);
            continue;
        }
        if (arg == u"--") {
            onlyFiles = true;
            continue;
        }
        QString name, value;
        bool hasInlineValue = false;
        const auto shortForm = std::find_if(specs.begin(), specs.end(), [&](const OptionDef& s) {
            return s.shortName && arg.size() == 2 && arg[1] == QLatin1Char(s.shortName);
        });
        if (shortForm != specs.end()) {
            name = QLatin1String(shortForm->name);
        } else if (arg.startsWith(u"--")) {
            name = arg.mid(2);
            const qsizetype eq = name.indexOf(u'=');
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
                hasInlineValue = true;
            }
        } else {
            return Status::invalidInput(QStringLiteral("不认识的选项 “%1”").arg(arg));
        }
        auto spec = std::find_if(specs.begin(), specs.end(),
                                 [&](const OptionDef& s) { return name == QLatin1String(s.name); });
        if (spec == specs.end() && name == u"only-differences")
            return Status::invalidInput(
                QStringLiteral("命令 %1 的结果没有差异标记，不能用 --only-differences（只用于 compare 和 "
                               "compare-books）")
                    .arg(command_));
        if (spec == specs.end())
            return Status::invalidInput(QStringLiteral("命令 %1 没有选项 “--%2”").arg(command_, name));
        if (spec->takesValue()) {
            if (!hasInlineValue) {
                if (i + 1 >= arguments.size())
                    return Status::invalidInput(QStringLiteral("选项 “--%1” 缺少取值").arg(name));
                value = arguments[++i];
            }
            if (values_.contains(name) && !spec->repeatable)
                return Status::invalidInput(QStringLiteral("选项 “--%1” 只能给一次").arg(name));
            values_[name].append(value);
        } else {
            if (hasInlineValue) return Status::invalidInput(QStringLiteral("选项 “--%1” 不带取值").arg(name));
            values_[name].append(QString());
        }
    }
    if (!has(QStringLiteral("quiet")) && errIsTerminal_) progress_ = std::make_unique<TerminalProgress>(err_);
    return Status::ok();
}

Status CliContext::expectFiles(int count) const {
    if (files_.size() == count) return Status::ok();
    return Status::invalidInput(
        count == 1 ? QStringLiteral("需要 1 个文件，给了 %1 个").arg(files_.size())
                   : QStringLiteral("需要 %1 个文件，给了 %2 个").arg(count).arg(files_.size()));
}

Status CliContext::loadWorkbook(int which, Workbook& book) const {
    return readWorkbook(files_.value(which - 1), book);
}

Result<int> CliContext::chooseSheet(int which, const Workbook& book) const {
    const QString option = QStringLiteral("sheet%1").arg(which);
    const QString file = QFileInfo(files_.value(which - 1)).fileName();
    if (book.sheets.empty()) return Status::invalidInput(QStringLiteral("文件 %1 中没有工作表").arg(file));
    if (!has(option)) {
        const int active = book.activeSheet;
        return (active >= 0 && size_t(active) < book.sheets.size()) ? active : 0;
    }
    const QString name = value(option);
    const int index = book.sheetIndex(name);
    if (index >= 0) return index;
    QStringList names;
    for (const Sheet& s : book.sheets)
        names.append(s.name);
    return Status::notFound(
        QStringLiteral("文件 %1 中没有工作表 “%2”。它的工作表有：%3").arg(file, name, names.join(u'，')));
}

Result<RangeBounds> CliContext::chooseRange(int which, const Sheet& sheet) const {
    const QString option = QStringLiteral("range%1").arg(which);
    if (!has(option)) return clipUsedRange(sheet);
    RangeBounds selection;
    if (!parseRangeText(value(option), selection))
        return Status::invalidInput(
            QStringLiteral("选项 --%1 的 “%2” 不是一个单元格区域（例如 A1:D20）").arg(option, value(option)));
    return clipSourceRange(sheet, selection);
}

Status CliContext::loadTables(int count, std::vector<Workbook>& books, std::vector<RowTable>& tables) {
    books.clear();
    books.resize(size_t(count));
    tables.clear();
    tables.resize(size_t(count));
    // Show the "init" line at once: reading large workbooks takes a while before the rows
    // to process are known.
    progress().setText(Msg::Reading);
    progress().setRange(0);
    // The workbooks are independent: each is read and made into its table on a core of its
    // own, and its cells are given back as the table takes them.
    std::vector<Status> loaded(static_cast<size_t>(count));
    std::vector<int64_t> rows(static_cast<size_t>(count), 0);
    std::vector<QString> sheetNames(static_cast<size_t>(count));
    auto load = [&](int which) {
        const size_t at = size_t(which - 1);
        loaded[at] = runGuarded([&]() -> Status {
            Workbook& book = books[at];
            // Without a range option the table is the used range, which an xlsx reader makes
            // while it reads the sheet, reading no other sheet.
            UsedRangeStream stream;
            SheetTableRequest request;
            request.choose = [&](const Workbook& b) { return chooseSheet(which, b); };
            if (!has(QStringLiteral("range%1").arg(which))) request.stream = &stream;
            if (Status s = readWorkbook(files_.value(which - 1), book, &request); !s.isOk()) return s;
            Sheet& chosen = book.sheets[size_t(request.sheet)];
            sheetNames[at] = chosen.name;
            Result<RangeBounds> range =
                request.streamed ? Result<RangeBounds>(stream.bounds(chosen)) : chooseRange(which, chosen);
            if (!range.isOk()) return range.status();
            if (Status readable = checkReadableRange(range.value()); !readable.isOk())
                return readable.withContext(
                    QStringLiteral("文件 %1 的工作表“%2”")
                        .arg(QFileInfo(files_.value(which - 1)).fileName(), chosen.name));
            rows[at] = range.value().lastRow - range.value().firstRow;
            NullProgress quiet;
            const int64_t step = progressStep(rows[at]);
            tables[at] = request.streamed ? stream.take(chosen, range.value(), quiet, step)
                                          : takeRange(book, chosen, range.value(), quiet, step);
            book = Workbook();
            return Status::ok();
        });
    };
    {
        std::vector<std::thread> readers;
        for (int which = 2; which <= count; ++which)
            readers.emplace_back(load, which);
        // No exception may pass here while a reader runs: its thread would end the program.
        load(1);
        for (std::thread& reader : readers)
            reader.join();
    }
    // The first file's problem is told first, as when the files were read one by one.
    for (const Status& status : loaded)
        if (!status.isOk()) {
            tables.clear();
            return status;
        }
    loadedSheets_.clear();
    for (const QString& name : sheetNames)
        loadedSheets_.append(name);
    int64_t total = 0;
    for (int64_t n : rows)
        total += n;
    progress().setRange(total);
    progress().setStep(progressStep(total));
    progress().setPosition(total);
    return Status::ok();
}

Status CliContext::checkOutput(bool required) const {
    if (!has(QStringLiteral("output"))) {
        return required ? Status::invalidInput(QStringLiteral(
                              "缺少结果文件：请用 -o 文件名 指定（.xlsx、.xls、.xml、.csv 或 .json）"))
                        : Status::ok();
    }
    const QString path = outputPath();
    if (fileKindForPath(path) == FileKind::Unknown)
        return Status::invalidInput(
            QStringLiteral("结果文件 %1 的扩展名无法识别：请用 .xlsx、.xls、.xml、.csv 或 .json").arg(path));
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists() || !folder.isDir())
        return Status::ioError(QStringLiteral("结果文件的文件夹不存在：%1").arg(folder.absoluteFilePath()));
    if (!folder.isWritable())
        return Status::ioError(QStringLiteral("结果文件的文件夹不能写入：%1").arg(folder.absoluteFilePath()));
    if (info.exists() && info.isDir())
        return Status::ioError(QStringLiteral("结果文件 %1 是一个文件夹").arg(info.absoluteFilePath()));
    // Never overwrite an input.
    for (const QString& file : files_) {
        if (QFileInfo(file).exists() && QFileInfo(file).canonicalFilePath() == info.canonicalFilePath())
            return Status::invalidInput(
                QStringLiteral("结果文件不能是输入文件本身：%1").arg(info.absoluteFilePath()));
    }
    return Status::ok();
}

WorkbookSink::Mode CliContext::sinkMode() const {
    const FileKind kind = fileKindForPath(outputPath());
    return kind == FileKind::Json || kind == FileKind::Csv ? WorkbookSink::Mode::KeepOnly
                                                           : WorkbookSink::Mode::WriteOnly;
}

Status CliContext::writeOutput(const Workbook& result, const WorkbookSink& sink) const {
    const QString path = outputPath();
    const FileKind kind = fileKindForPath(path);
    progress_->setText(Msg::Running);
    if (kind == FileKind::Json) {
        std::vector<std::pair<QString, const RowTable*>> sheets;
        for (size_t i = 0; i < result.sheets.size(); ++i)
            sheets.emplace_back(result.sheets[i].name, sink.tableFor(int(i) + 1));
        return writeJsonTables(sheets, path);
    }
    if (kind == FileKind::Csv) {
        const RowTable* first = sink.tableFor(1);
        RowTable empty;
        return CsvFormat::writeTable(first ? *first : empty, path);
    }
    return writeWorkbook(result, path, kind);
}

} // namespace quellar::cli
