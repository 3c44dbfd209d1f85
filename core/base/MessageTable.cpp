#include "base/MessageTable.h"

#include <iterator>
#include <vector>

namespace quellar {
namespace {

struct MessageRow {
    Msg key;
    const char* name; // the key's short name, for callers that name keys as text
    const char16_t* text;
};

constexpr MessageRow kMessages[] = {
    // Toolbar captions and tips.
    {Msg::ToolCompareTables, "tb0", u"两表对比"},
    {Msg::ToolCompareBooks, "tb1", u"两薄比较"},
    {Msg::ToolGroupSum, "tb2", u"分组汇总"},
    {Msg::ToolPageSubtotals, "tb3", u"分页汇总"},
    {Msg::ToolJoin, "tb4", u"两表连接"},
    {Msg::ToolBlankRows, "tb5", u"增加空行"},
    {Msg::ToolFilter, "tb6", u"比较筛选"},
    {Msg::ToolQuery, "tb7", u"条件查询"},
    {Msg::ToolConditionalSum, "tb8", u"条件汇总"},
    {Msg::ToolHelp, "tb11", u"帮助"},
    {Msg::ToolWebSite, "tb12", u"网站"},
    {Msg::TipCompareTables, "tbTip0", u"按条件对比"},
    {Msg::TipCompareBooks, "tbTip1", u"按条件比较两个工作簿"},
    {Msg::TipGroupSum, "tbTip2", u"按条件汇总"},
    {Msg::TipPageSubtotals, "tbTip3", u"每个分页添加小计"},
    {Msg::TipJoin, "tbTip4", u"按条件合成"},
    {Msg::TipBlankRows, "tbTip5", u"平均增加空行"},
    {Msg::TipFilter, "tbTip6", u"根据对比条件筛选行"},
    {Msg::TipQuery, "tbTip7", u"按指定组合条件查询"},
    {Msg::TipConditionalSum, "tbTip8", u"按指定组合条件汇总"},
    {Msg::TipHelp, "tbTip11", u"帮助"},
    {Msg::TipWebSite, "tbTip12", u"网站支持"},
    // Progress, messages, report and page subtotals.
    {Msg::Reading, "init", u"正在初始化，请稍后 ..."},
    {Msg::CompareSheet, "diff1", u"对比结果"},
    {Msg::CompareReport, "diff2", u"对比"},
    {Msg::NoFilterCondition, "selTj", u"没有选择查询条件。"},
    {Msg::PageCharset, "charset", u"gb2312"},
    {Msg::ReportHeading, "report", u"报告"},
    {Msg::ReportTime, "time", u"时间："},
    {Msg::ReportTimeFormat, "time_format", u"%d月%d日%d年 %d点%d分%d秒"},
    {Msg::ReportFileOne, "file1_local", u"文件一位置"},
    {Msg::ReportFileTwo, "file2_local", u"文件二位置"},
    {Msg::BookReport, "diff_book", u"工作簿比较"},
    {Msg::PageFieldRowInvalid, "page_msg", u"标题列有空字段或重复字段，请修改后再次打开文件。"},
    {Msg::Subtotal, "xj", u"小计"},
    {Msg::GrandTotal, "hj", u"合计"},
    // The functions of the group summary's columns.
    {Msg::FunctionSum, "fnSum", u"求和"},
    {Msg::FunctionCount, "fnCount", u"计数"},
    {Msg::FunctionAverage, "fnAverage", u"平均值"},
    {Msg::FunctionMaximum, "fnMax", u"最大值"},
    {Msg::FunctionMinimum, "fnMin", u"最小值"},
    {Msg::PageSubtotalsSuffix, "page_file", u"_分页汇总.xls"},
    {Msg::RepairDone, "regsvr32", u"库注册成功，修复完成。"},
    {Msg::NoFieldRow, "check", u"Excel表第一行必须是不同名称的字段。"},
    // Condition form pages and their messages.
    {Msg::Equal, "bjf1", u"等于"},
    {Msg::Greater, "bjf2", u"大于"},
    {Msg::GreaterOrEqual, "bjf3", u"大等于"},
    {Msg::Less, "bjf4", u"小于"},
    {Msg::LessOrEqual, "bjf5", u"小等于"},
    {Msg::NotEqual, "bjf6", u"不等于"},
    {Msg::And, "and", u"并且"},
    {Msg::QueryPage, "query", u"条件查询"},
    {Msg::SummaryPage, "sum", u"条件汇总"},
    {Msg::FormFieldHeading, "bj1", u"比较名称"},
    {Msg::FormComparatorHeading, "bj2", u"比较符号"},
    {Msg::FormValueHeading, "bj3", u"比较值"},
    {Msg::FormLogicHeading, "bj4", u"逻辑条件"},
    {Msg::QueryButton, "btnTj", u"查 询"},
    {Msg::SummaryButton, "btnSum", u"汇 总"},
    {Msg::NoQueryCondition, "tj_msg", u"没有选择查询条件。"},
    {Msg::NoSummaryChoice, "sum_msg", u"没有选择查询条件或没有选择汇总数字列。"},
    {Msg::FormGroupHeading, "group", u"分组条件"},
    {Msg::FormSumHeading, "colSum", u"选择要汇总的数字列"},
    {Msg::FormFunctionHeading, "colFunction", u"选中列的汇总方式："},
    // Result phase, comparison report and result sheet names.
    {Msg::Running, "run", u"正在运行，请稍后 ..."},
    {Msg::ReportSheetName, "shtName", u"工作表名称："},
    {Msg::ReportDifferentRows, "diffRow", u"不同的行数："},
    {Msg::ReportDifferentCells, "diffCell", u"不同的单元格："},
    {Msg::ReportRed, "red", u"红色"},
    {Msg::ReportFileOneCells, "f1Cell", u"文件一独有的单元格："},
    {Msg::ReportYellow, "yellow", u"黄色"},
    {Msg::ReportFileTwoCells, "f2Cell", u"文件2独有的单元格："},
    {Msg::ReportGreen, "green", u"绿色"},
    {Msg::JoinSheet, "links", u"连接结果"},
    {Msg::FilterSheet, "sels", u"筛选结果"},
    {Msg::BlankRowsSheet, "adds", u"增加结果"},
    {Msg::SumSheet, "sums", u"汇总结果"},
    {Msg::AlignFallback, "alignFallback",
     u"识别插入和删除的行：有的地方两个表格相差太多，无法对齐，那里的 %1 行按每行每列配对。"},
    // The progress window's cancel button and what a cancelled command leaves ("%1": the command).
    {Msg::Cancel, "cancel", u"取消"},
    {Msg::Cancelling, "cancelling", u"正在取消 ..."},
    {Msg::CommandCancelled, "cancelled", u"“%1”已取消，各窗格保持原样。"},
};

// Every key has its row, in the order of the enumeration.
constexpr bool everyKeyInOrder() {
    for (size_t i = 0; i < std::size(kMessages); ++i)
        if (kMessages[i].key != Msg(i)) return false;
    return std::size(kMessages) == size_t(Msg::CommandCancelled) + 1;
}
static_assert(everyKeyInOrder(), "each Msg needs its row in kMessages, in order");

} // namespace

QString MessageTable::text(Msg key) {
    // Made once (thread-safe), then handed out as shared copies.
    static const std::vector<QString> texts = [] {
        std::vector<QString> made;
        for (const MessageRow& row : kMessages)
            made.push_back(QString::fromUtf16(row.text));
        return made;
    }();
    return texts[size_t(key)];
}

const char* MessageTable::name(Msg key) {
    return kMessages[size_t(key)].name;
}

std::optional<Msg> MessageTable::keyNamed(QStringView name) {
    for (const MessageRow& row : kMessages)
        if (name == QLatin1String(row.name)) return row.key;
    return std::nullopt;
}

} // namespace quellar
