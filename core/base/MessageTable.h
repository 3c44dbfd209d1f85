#pragma once
// MessageTable: the texts the program shows or writes that do not come from the user's data
// (toolbar captions, progress lines, messages, report and form-page words, result sheet
// names), each under a named key. A key that does not exist does not compile.
//
// The table is constant data; any number of threads read it.

#include <QString>

#include <cstdint>
#include <optional>

namespace quellar {

enum class Msg : uint8_t {
    // Toolbar captions and tips.
    ToolCompareTables,
    ToolCompareBooks,
    ToolGroupSum,
    ToolPageSubtotals,
    ToolJoin,
    ToolBlankRows,
    ToolFilter,
    ToolQuery,
    ToolConditionalSum,
    ToolHelp,
    ToolWebSite,
    TipCompareTables,
    TipCompareBooks,
    TipGroupSum,
    TipPageSubtotals,
    TipJoin,
    TipBlankRows,
    TipFilter,
    TipQuery,
    TipConditionalSum,
    TipHelp,
    TipWebSite,
    // Progress, messages, report and page subtotals.
    Reading,
    CompareSheet,
    CompareReport,
    NoFilterCondition,
    PageCharset,
    ReportHeading,
    ReportTime,
    ReportTimeFormat,
    ReportFileOne,
    ReportFileTwo,
    BookReport,
    PageFieldRowInvalid,
    Subtotal,
    GrandTotal,
    // The functions of the group summary's columns.
    FunctionSum,
    FunctionCount,
    FunctionAverage,
    FunctionMaximum,
    FunctionMinimum,
    PageSubtotalsSuffix,
    RepairDone,
    NoFieldRow,
    // Condition form pages and their messages.
    Equal,
    Greater,
    GreaterOrEqual,
    Less,
    LessOrEqual,
    NotEqual,
    And,
    QueryPage,
    SummaryPage,
    FormFieldHeading,
    FormComparatorHeading,
    FormValueHeading,
    FormLogicHeading,
    QueryButton,
    SummaryButton,
    NoQueryCondition,
    NoSummaryChoice,
    FormGroupHeading,
    FormSumHeading,
    FormFunctionHeading,
    // Result phase, comparison report and result sheet names.
    Running,
    ReportSheetName,
    ReportDifferentRows,
    ReportDifferentCells,
    ReportRed,
    ReportFileOneCells,
    ReportYellow,
    ReportFileTwoCells,
    ReportGreen,
    JoinSheet,
    FilterSheet,
    BlankRowsSheet,
    SumSheet,
    // Aligned rows: stretches too different to align ("%1" the number of result rows).
    AlignFallback,
    // The progress window's cancel button and what a cancelled command leaves.
    Cancel,
    Cancelling,
    CommandCancelled,
};

class MessageTable {
public:
    // The text of `key`.
    static QString text(Msg key);
    // The key's short name ("init", "xj"): what the tests' progress recorder notes.
    static const char* name(Msg key);
    // The key whose short name is `name` ("init", "xj"), for tests that record progress by
    // name; nullopt when none is.
    static std::optional<Msg> keyNamed(QStringView name);
};

} // namespace quellar
