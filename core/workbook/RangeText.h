#pragma once
// The text rules of the main window: what typed text in a range box selects, the address a
// range box shows, and where an export goes. Pure text logic, no widgets: the window uses
// it, and the fuzzing entries feed it arbitrary text.

#include "base/RowTable.h"
#include "workbook/WorkbookFormat.h"

#include <QString>

namespace quellar {

// A range box's text selects a range when the first ":" stands at position 2 or later and
// is followed by at least two characters, the part after it does not contain "AAAZ", both
// parts are cell references (A1, ab12), and both cells lie inside XFD1048576. The bounds
// are ordered (C10:A1 selects A1:C10). False, and `bounds` untouched, otherwise.
bool typedRange(const QString& text, RangeBounds& bounds);
// The same, and a single cell reference inside XFD1048576 ("B3"): what Enter in a range box
// selects (while typing, a single cell is only the start of a range).
bool typedCellOrRange(const QString& text, RangeBounds& bounds);

// "A1:D20": the address a range box shows for a selection; "B3" for a single cell.
QString rangeAddress(const RangeBounds& bounds);

// Where an export goes: a name ending in .xlsx or .xls (in any letter case) is written as
// that kind under the name as given; any other name gets the extension of the chosen
// filter appended (".xls" unless the .xlsx filter was chosen).
struct ExportTarget {
    QString path;
    FileKind kind = FileKind::Xls;
};
ExportTarget exportTarget(const QString& chosenPath, bool xlsxFilterChosen);

} // namespace quellar
