#include "CommandHelp.h"

#include <algorithm>

namespace quellar::cli {
namespace {

struct OptionText {
    const char* key;        // "command/option" for a command's own meaning, or "option"
    const char16_t* value;  // placeholder of the value, or nullptr
    const char16_t* text;
};

// A command's own entry wins over the general one, so an option name can mean different
// things in different commands (--sum, --group).
const OptionText kOptionTexts[] = {
    {"sheet1", u"名称", u"文件一的工作表（默认：活动工作表）"},
    {"sheet2", u"名称", u"文件二的工作表（默认：活动工作表）"},
    {"range1", u"A1:D20", u"文件一要读取的区域（默认：已用区域）"},
    {"range2", u"A1:D20", u"文件二要读取的区域（默认：已用区域）"},
    {"output", u"文件", u"结果工作簿：.xlsx、.xls、.xml、.csv 或 .json"},
    {"page-subtotals/output", u"文件", u"结果工作簿 .xls、.xml 或 .xlsx（默认：FILE 旁边的“名称_分页汇总.xls”）"},
    {"quiet", nullptr, u"不显示进度"},
    {"key", u"字段", u"对比字段（可重复，最多 6 个，按给出的顺序）"},
    {"by-position", nullptr, u"按每行每列比较（默认按对比字段）"},
    {"no-text", nullptr, u"不比较文本"},
    {"formula", nullptr, u"比较公式"},
    {"number-format", nullptr, u"比较数字格式"},
    {"ignore-case", nullptr, u"比较文本时不区分大小写"},
    {"report", u"报告.htm", u"同时写出 HTML 差异报告，与窗口写的 report.htm 相同"},
    {"exit-code", nullptr, u"发现差异时以退出状态 1 结束"},
    {"only-differences", nullptr, u"结果只保留字段行和有差异（着色单元格）的行"},
    {"details", u"明细.htm", u"同时写出差异明细页：每个不同的行和单元格、只在一个文件的行"},
    {"format", u"highlighter", u"写成表格差异格式（highlighter，.csv），可以交给其他工具显示和打补丁"},
    {"context", u"N|all", u"表格差异里每处差异前后保留的相同行数（默认 1；all 列出每一行）"},
    {"tolerance", u"[字段=]X", u"数值容差：两个数字相差不超过 X 算相同（可重复；带字段时只对该列）"},
    {"rel-tolerance", u"[字段=]R", u"相对容差：不超过 R × |文件二的值|，R 可写成 0.5%（可重复）"},
    {"ignore-spaces", nullptr, u"连续的空白（含全角空格）算一个，首尾空白不算"},
    {"ignore-width", nullptr, u"全角字符（Ａ１！和全角空格）与半角字符相同"},
    {"ignore-column", u"字段", u"不比较这一列：不着色、不计数（可重复）"},
    {"columns-by-name", nullptr, u"按字段名对应列（按每行每列和两簿比较；按对比字段时本来如此）"},
    {"summary", u"统计.json", u"写出差异统计（行、单元格和每列的差异数）"},
    {"on", u"字段", u"连接字段（可重复，最多 6 个）"},
    {"prefer-file2", nullptr, u"两表都有的字段取文件二的值（默认取文件一的）"},
    {"sum-numbers", nullptr, u"数字字段相加"},
    {"where", u"字段=值", u"筛选条件（可重复，最多 6 个；值是第一个 = 之后的全部文字，可以为空）"},
    {"count", u"N", u"每行之后增加的空行数"},
    {"group", u"字段", u"分组字段（可重复，1 到 6 个）"},
    {"sum", u"字段", u"汇总字段（可重复；不给时自动选数字列）"},
    {"conditions", u"条件", u"条件文字：字段|运算|值|and|…（条件页面交回的格式）"},
    {"page", u"页面.htm", u"写出窗口会显示的条件页面；不给 --conditions 时只写页面"},
    {"summary/group", u"字段", u"分组字段（可重复，1 到 6 个）"},
    {"summary/sum", u"字段", u"汇总字段（可重复，至少一个）"},
    {"rows-per-page", u"N", u"每页行数，1 到 99（默认：按第一个分页符推算）"},
    {"label-column", u"K", u"写小计文字的列，0 到 9（默认 2）"},
    {"page-subtotals/sum", u"字段", u"要汇总的列（可重复，至少一个）"},
};

const OptionText* findText(const QString& command, const QString& option) {
    const QString own = command + u'/' + option;
    for (const OptionText& t : kOptionTexts)
        if (own == QLatin1String(t.key)) return &t;
    for (const OptionText& t : kOptionTexts)
        if (option == QLatin1String(t.key)) return &t;
    return nullptr;
}

// Terminal columns of a text: CJK characters take two.
int displayWidth(const QString& text) {
    int width = 0;
    for (QChar c : text) width += c.unicode() >= 0x1100 ? 2 : 1;
    return width;
}

} // namespace

QString commandHelpText(const QString& command, const std::vector<OptionSpec>& options) {
    const QString summary = commandSummary(command);
    const qsizetype colon = summary.indexOf(u'：');
    const QString files = colon >= 0 ? summary.mid(colon + 1) : QString();
    QString text = QStringLiteral("用法：quellar-cli %1 [选项] %2\n%3\n\n选项：\n")
                       .arg(command, files, colon >= 0 ? summary.left(colon) : summary);
    auto line = [&](const QString& name, const QString& description) {
        text += QStringLiteral("  ") + name + QString(std::max(1, 26 - displayWidth(name)), u' ') + description + u'\n';
    };
    for (const OptionSpec& spec : options) {
        const OptionText* t = findText(command, spec.name);
        QString name = (spec.name == u"output" ? QStringLiteral("-o, --") : QStringLiteral("--")) + spec.name;
        if (spec.takesValue) name += u' ' + (t && t->value ? QString::fromUtf16(t->value) : QStringLiteral("值"));
        line(name, t ? QString::fromUtf16(t->text) : QString());
    }
    line(QStringLiteral("-h, --help"), QStringLiteral("显示本说明"));
    text.chop(1); // printLine ends the last line
    return text;
}

} // namespace quellar::cli
