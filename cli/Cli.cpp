#include "Cli.h"

#include "CliContext.h"
#include "CommandHelp.h"
#include "Commands.h"
#include "QuellarVersion.h"

#include <functional>

namespace quellar::cli {
namespace {

struct CommandEntry {
    const char* name;
    const char16_t* summary;
    std::function<int(CliContext&, const QStringList&)> run; // empty: not built yet
};

const std::vector<CommandEntry>& commands() {
    static const std::vector<CommandEntry> table = {
        {"compare", u"两表对比：FILE1 FILE2", runCompare},
        {"compare-books", u"两簿比较（按同名工作表）：FILE1 FILE2", runCompareBooks},
        {"join", u"两表连接：FILE1 FILE2", runJoinCommand},
        {"filter", u"比较筛选：FILE1 FILE2", runFilterCommand},
        {"blank-rows", u"增加空行：FILE", runBlankRowsCommand},
        {"group-sum", u"分组汇总：FILE", runGroupSumCommand},
        {"query", u"条件查询：FILE", runQueryCommand},
        {"summary", u"条件汇总：FILE", runSummaryCommand},
        {"page-subtotals", u"分页汇总：FILE", runPageSubtotalsCommand},
        {"convert", u"转换工作簿格式：SRC DST（格式由 DST 的扩展名决定）", runConvert},
    };
    return table;
}

QString usage() {
    QString text = QStringLiteral("用法：quellar-cli 命令 [选项] 文件...\n\n命令：\n");
    for (const CommandEntry& c : commands())
        text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(c.name), -15).arg(QString::fromUtf16(c.summary));
    text += QStringLiteral(
        "\n共同选项：\n"
        "  --sheet1 名称, --sheet2 名称   文件一/文件二的工作表（默认：活动工作表）\n"
        "  --range1 A1:D20, --range2 ...  要读取的区域（默认：已用区域）\n"
        "  -o, --output 文件              结果工作簿：.xlsx、.xls、.xml、.csv 或 .json\n"
        "  --quiet                        不显示进度\n"
        "\ncompare 的选项：--key 字段（可重复，最多 6 个）、--by-position、--no-text、--formula、\n"
        "  --number-format、--ignore-case、--report 报告.htm、--exit-code\n"
        "compare-books 的选项：--no-text、--formula、--number-format、--ignore-case、--report、--exit-code\n"
        "compare、compare-books 的规则（默认都不用）：--tolerance [字段=]X、--rel-tolerance [字段=]R、\n"
        "  --ignore-spaces、--ignore-width、--ignore-column 字段、--columns-by-name；--summary 统计.json\n"
        "join 的选项：--on 字段（可重复，最多 6 个）、--prefer-file2、--sum-numbers\n"
        "filter 的选项：--where 字段=值（可重复，最多 6 个）\n"
        "blank-rows 的选项：--count N\n"
        "group-sum 的选项：--group 字段（可重复，1 到 6 个）、--sum 字段（可重复；不给时自动选数字列）\n"
        "query 的选项：--conditions 条件（字段|运算|值|and|…）、--page 页面.htm\n"
        "summary 的选项：--conditions 条件、--group 字段（可重复，1 到 6 个）、--sum 字段（可重复）、--page 页面.htm\n"
        "page-subtotals 的选项：--sum 字段（可重复，至少 1 个）、--rows-per-page N（1 到 99；默认按第一个分页符推算）、\n"
        "  --label-column K（0 到 9，默认 2）；-o 可省略，结果写成 FILE 旁边的“名称_分页汇总.xls”\n"
        "\n每个命令的全部选项：quellar-cli 命令 --help；版本：quellar-cli --version\n"
        "\n退出状态：0 完成；2 用法或输入错误；1 仅在 --exit-code 且发现差异时。\n");
    return text;
}

} // namespace

QString commandSummary(const QString& command) {
    for (const CommandEntry& c : commands())
        if (command == QLatin1String(c.name)) return QString::fromUtf16(c.summary);
    return QString();
}

int runCli(const QStringList& arguments, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    if (arguments.isEmpty() || arguments[0] == u"--help" || arguments[0] == u"-h" || arguments[0] == u"help") {
        printLine(arguments.isEmpty() ? err : out, usage());
        return arguments.isEmpty() ? 2 : 0;
    }
    if (arguments[0] == u"--version" || arguments[0] == u"-v") {
        printLine(out, QStringLiteral("quellar-cli " QUELLAR_VERSION));
        return 0;
    }
    const QString name = arguments[0];
    CliContext context(out, err, errIsTerminal);
    context.setCommand(name);
    for (const CommandEntry& c : commands()) {
        if (name != QLatin1String(c.name)) continue;
        if (!c.run) return context.fail(QStringLiteral("这个命令尚未实现"));
        // The one error boundary of every command: an allocation failure or any other exception
        // ends the command with one line and status 2. Output files are written through a
        // temporary file and renamed only when complete, so none is left half written.
        try {
            return c.run(context, arguments.mid(1));
        } catch (...) {
            return context.fail(currentExceptionStatus().message() + QStringLiteral("，命令没有完成"));
        }
    }
    printLine(err, QStringLiteral("quellar-cli：未知的命令 “%1”。\n").arg(name) + usage());
    return 2;
}

} // namespace quellar::cli
