#pragma once
// The condition form pages of the conditional query and the conditional summary: HTML text
// generated from a table, written as a UTF-16 file and shown in the form window, whose
// script ("js.js") hands the user's choices back (see forms/FormReply.h).
//
// Each field that holds any text in its data rows gets a condition row offering the
// field's distinct values (empty first, then in the exchange-sort order of numbers and
// texts); a purely numeric field gets two rows, so a lower and an upper bound can be
// chosen. The summary page adds six group-field selects, the list of columns to sum
// ("C (金额)" labels) and the function a column takes when it is chosen (HZFS: 求和 first;
// a column chosen with another one joins the list as "C (金额)（平均值）"). The page text is fixed to the
// byte; the one change to it is that field names and values are escaped (& < > " ' only), so a workbook
// cannot break the form or put markup or script into a page that can call back into the program. Values of 80
// or more UTF-16 code units are not offered.
//
// The builders are pure and never fail for a table with a field row; without one they
// return the "check" message. writePageFile reports a page that cannot be written.

#include "base/RowTable.h"
#include "base/Status.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>

namespace quellar {

// The page files, in the working directory the program started in.
inline const QString kQueryPageFile = QStringLiteral("tj_select.htm");
inline const QString kSummaryPageFile = QStringLiteral("tj_sum.htm");

// Values this long (UTF-16 code units) or longer are left out of the value lists.
inline constexpr qsizetype kLongestOfferedValue = 79;

// How a value list was put in order.
enum class ValueOrder {
    ExchangeSort, // the order of the exchange sort (numbers by value when both parse, else by code units)
    Fallback,     // numbers ascending (equal values in list order), then texts by code units
};

// What a builder noticed, for the caller to tell the user.
struct FormPageInfo {
    int conditionRows = 0;           // the page's SIZE
    int64_t longValuesLeftOut = 0;   // values of 80 or more code units, not offered
    QStringList fallbackOrderFields; // fields whose values got the fallback order
    QStringList namesWithSeparator;  // field names containing "|": cannot be handed back
    int64_t valuesWithSeparator = 0; // offered values containing "|": cannot be handed back
    QStringList separatorExamples;   // the first few of them, as 字段“F”的值“v”
};

// The distinct texts of one column over rows firstRow … endRow-1: the empty text first, the
// others in order of first appearance (exact, case-sensitive), then sorted by sortValues.
// A row shorter than the column counts as the empty text. `order` may be null.
QStringList columnValues(const RowTable& table, int column, size_t firstRow, size_t endRow,
                         ValueOrder* order = nullptr);

// Sorts a list of distinct texts as the exchange sort leaves them: two numbers (parseNumber,
// the empty text being 0) by value, any other pair by UTF-16 code units. On a mixture of
// numbers and texts that relation need not be transitive and the procedure itself decides;
// when following it would take too long (tens of thousands of mixed values far from order)
// the list gets the fallback order instead, and Fallback is returned.
ValueOrder sortValues(QStringList& values);

// & < > " ' replaced by &amp; &lt; &gt; &quot; &#39;; every other character as it is.
QString escapePageText(QStringView text);

// The query page and the summary page of `table`, whose field row is `fieldRow` with names
// `fields` (as findFieldRow gives them). A fieldRow < 0 gives the "check" message. `info` may
// be null.
Result<QString> buildQueryPage(const RowTable& table, const FieldList& fields, int fieldRow,
                               FormPageInfo* info = nullptr);
Result<QString> buildSummaryPage(const RowTable& table, const FieldList& fields, int fieldRow,
                                 FormPageInfo* info = nullptr);
// The same, finding the field row first.
Result<QString> buildQueryPage(const RowTable& table, FormPageInfo* info = nullptr);
Result<QString> buildSummaryPage(const RowTable& table, FormPageInfo* info = nullptr);

// Writes the page as UTF-16LE with a byte-order mark and a final CR LF, through a temporary
// file renamed into place: a failure (read-only folder, full disk) is returned naming the
// file and the reason, and any earlier page is left as it was.
Status writePageFile(const QString& path, const QString& page);

// One sentence for the user about the values that cannot be handed back ("" when none).
QString formPageNote(const FormPageInfo& info);

} // namespace quellar
