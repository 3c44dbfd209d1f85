#include "CommandTable.h"

#include "Commands.h"

namespace quellar::cli {
namespace {

// What the two comparisons share.
const std::vector<OptionDef> kContentOptions = {
    {"no-text", nullptr, u"不比较文本"},
    {"formula", nullptr, u"比较公式"},
    {"number-format", nullptr, u"比较数字格式"},
    {"ignore-case", nullptr, u"比较文本时不区分大小写"},
    {"report", u"报告.htm", u"同时写出 HTML 差异报告，与窗口写的 report.htm 相同"},
    {"exit-code", nullptr, u"发现差异时以退出状态 1 结束"},
    {"only-differences", nullptr, u"结果只保留字段行和有差异（着色单元格）的行"},
    {"details", u"明细.htm", u"同时写出差异明细页：每个不同的行和单元格、只在一个文件的行"},
    // The rules, all off by default.
    {"tolerance", u"[字段=]X", u"数值容差：两个数字相差不超过 X 算相同（可重复；带字段时只对该列）", true},
    {"rel-tolerance", u"[字段=]R", u"相对容差：不超过 R × |文件二的值|，R 可写成 0.5%（可重复）", true},
    {"ignore-spaces", nullptr, u"连续的空白（含全角空格）算一个，首尾空白不算"},
    {"ignore-width", nullptr, u"全角字符（Ａ１！和全角空格）与半角字符相同"},
    {"ignore-column", u"字段", u"不比较这一列：不着色、不计数（可重复）", true},
    {"columns-by-name", nullptr, u"按字段名对应列（按每行每列和两簿比较；按对比字段时本来如此）"},
    {"align-rows", nullptr, u"识别插入和删除的行：相同的行像逐行比较文字那样对齐（按每行每列和两簿比较）"},
    {"summary", u"统计.json", u"写出差异统计（行、单元格和每列的差异数）"},
};

const OptionDef kConditions = {"conditions", u"条件", u"条件文字：字段|运算|值|and|…（条件页面交回的格式）"};
const OptionDef kPage = {"page", u"页面.htm", u"写出窗口会显示的条件页面；不给 --conditions 时只写页面"};
const OptionDef kGroup = {"group", u"字段", u"分组字段（可重复，1 到 6 个）", true};
// Beside --sum: the other functions a summed column can hold (group-sum and summary).
const std::vector<OptionDef> kSummedColumnFunctions = {
    {"count", u"字段", u"这一列每组不为空的单元格数（可重复；每个字段只能选一种汇总方式）", true},
    {"average", u"字段", u"这一列每组数字的平均值，空格和不是数字的文字不算（可重复）", true},
    {"max", u"字段", u"这一列每组数字的最大值（可重复）", true},
    {"min", u"字段", u"这一列每组数字的最小值（可重复）", true},
};

std::vector<OptionDef> operator+(std::vector<OptionDef> first, const std::vector<OptionDef>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const OptionDef kSheet1 = {"sheet1", u"名称", u"文件一的工作表（默认：活动工作表）"};
const OptionDef kRange1 = {"range1", u"A1:D20", u"文件一要读取的区域（默认：已用区域）"};
const OptionDef kSheet2 = {"sheet2", u"名称", u"文件二的工作表（默认：活动工作表）"};
const OptionDef kRange2 = {"range2", u"A1:D20", u"文件二要读取的区域（默认：已用区域）"};
const OptionDef kOutput = {"output", u"文件", u"结果工作簿：.xlsx、.xls、.xml、.csv 或 .json", false, 'o'};
const OptionDef kQuiet = {"quiet", nullptr, u"不显示进度"};

} // namespace

const std::vector<CommandDef>& commandTable() {
    static const std::vector<CommandDef> table = {
        {"compare", u"两表对比：FILE1 FILE2", runCompare, Inputs::TwoTables,
         std::vector<OptionDef>{
             {"key", u"字段", u"对比字段（可重复，最多 6 个，按给出的顺序）", true},
             {"by-position", nullptr, u"按每行每列比较（默认按对比字段）"},
         } + kContentOptions +
             std::vector<OptionDef>{
                 {"format", u"highlighter",
                  u"写成表格差异格式（highlighter，.csv），可以交给其他工具显示和打补丁"},
                 {"context", u"N|all", u"表格差异里每处差异前后保留的相同行数（默认 1；all 列出每一行）"},
             }},
        {"compare-books", u"两簿比较（按同名工作表）：FILE1 FILE2", runCompareBooks, Inputs::TwoWorkbooks,
         kContentOptions},
        {"join",
         u"两表连接：FILE1 FILE2",
         runJoinCommand,
         Inputs::TwoTables,
         {
             {"on", u"字段", u"连接字段（可重复，最多 6 个）", true},
             {"prefer-file2", nullptr, u"两表都有的字段取文件二的值（默认取文件一的）"},
             {"sum-numbers", nullptr, u"数字字段相加"},
         }},
        {"filter",
         u"比较筛选：FILE1 FILE2",
         runFilterCommand,
         Inputs::TwoTables,
         {{"where", u"字段=值", u"筛选条件（可重复，最多 6 个；值是第一个 = 之后的全部文字，可以为空）",
           true}}},
        {"blank-rows",
         u"增加空行：FILE",
         runBlankRowsCommand,
         Inputs::OneTable,
         {{"count", u"N", u"每行之后增加的空行数"}}},
        {"group-sum", u"分组汇总：FILE", runGroupSumCommand, Inputs::OneTable,
         std::vector<OptionDef>{
             kGroup, {"sum", u"字段", u"汇总字段（可重复；五种汇总方式都不给时自动选数字列）", true}} +
             kSummedColumnFunctions},
        {"query", u"条件查询：FILE", runQueryCommand, Inputs::OneTable, {kConditions, kPage}},
        {"summary", u"条件汇总：FILE", runSummaryCommand, Inputs::OneTable,
         std::vector<OptionDef>{kGroup,
                                {"sum", u"字段", u"汇总字段（可重复；与下面四种合起来至少一个）", true}} +
             kSummedColumnFunctions + std::vector<OptionDef>{kConditions, kPage}},
        {"page-subtotals",
         u"分页汇总：FILE",
         runPageSubtotalsCommand,
         Inputs::OneSheet,
         {
             {"rows-per-page", u"N", u"每页行数，1 到 99（默认：按第一个分页符推算）"},
             {"label-column", u"K", u"写小计文字的列，0 到 9（默认 2）"},
             {"sum", u"字段", u"要汇总的列（可重复，至少一个）", true},
         },
         u"结果工作簿 .xls、.xml 或 .xlsx（默认：FILE 旁边的“名称_分页汇总.xls”）"},
        {"convert", u"转换工作簿格式：SRC DST（格式由 DST 的扩展名决定）", runConvert, Inputs::Files, {}},
    };
    return table;
}

const CommandDef* findCommand(const QString& name) {
    for (const CommandDef& command : commandTable())
        if (name == QLatin1String(command.name)) return &command;
    return nullptr;
}

std::vector<OptionDef> CommandDef::allOptions() const {
    std::vector<OptionDef> all = options;
    switch (inputs) {
    case Inputs::TwoTables:
        all = all + std::vector<OptionDef>{kSheet1, kRange1, kSheet2, kRange2};
        break;
    case Inputs::OneTable:
        all = all + std::vector<OptionDef>{kSheet1, kRange1};
        break;
    case Inputs::OneSheet:
        all.push_back(kSheet1);
        break;
    case Inputs::TwoWorkbooks:
    case Inputs::Files:
        break;
    }
    if (inputs != Inputs::Files) {
        OptionDef output = kOutput;
        if (outputText) output.text = outputText;
        all.push_back(output);
    }
    all.push_back(kQuiet);
    return all;
}

QString CommandDef::fileText() const {
    const QString text = QString::fromUtf16(summary);
    const qsizetype colon = text.indexOf(u'：');
    return colon >= 0 ? text.mid(colon + 1) : QString();
}

QString CommandDef::purposeText() const {
    const QString text = QString::fromUtf16(summary);
    const qsizetype colon = text.indexOf(u'：');
    return colon >= 0 ? text.left(colon) : text;
}

} // namespace quellar::cli
