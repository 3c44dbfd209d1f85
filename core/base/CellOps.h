#pragma once
// The small operations every table operation shares: the field row of a table, looking
// a field up by name, the one strict rule that decides that a text is a number, the
// conversion of a cell value to text, and A1-style addresses.
//
// All are pure functions of their arguments.

#include "base/CellValue.h"
#include "base/RowTable.h"

#include <QString>
#include <QStringView>

#include <string_view>

namespace quellar {

// The field row is the first row whose texts are all non-empty and pairwise distinct
// (exact, case-sensitive). Sets rowIndex to it and returns its texts. When no row
// qualifies, returns the partial list of the last row tried and leaves rowIndex unchanged.
FieldList findFieldRow(const RowTable& table, int& rowIndex);

// Position of the first non-empty entry equal to name; -1 when absent or name is empty.
int indexOfField(const FieldList& names, const QString& name);

// The strict number rule: blanks around are ignored, commas anywhere are dropped, then
// only digits, "." and a leading "-" may remain; the longest numeric prefix is the value
// (1.2.3 gives 1.2, "-" gives 0). The empty text is 0.
bool parseNumber(std::u16string_view text, double& value);
inline bool parseNumber(QStringView text, double& value) {
    return parseNumber(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), size_t(text.size())),
                       value);
}
inline bool parseNumber(const SharedText& text, double& value) { return parseNumber(text.view(), value); }
inline bool parseNumber(const QString& text, double& value) { return parseNumber(QStringView(text), value); }

// The rule by which a typed or imported text becomes a number cell without losing
// anything: an optional "-", digits without a leading zero (unless the integer part is just
// "0"), optionally "." and at least one digit; at most 15 significant digits and an
// absolute value of at most 1e11. "3", "-2.5" and "3.000000" qualify; "007", "1,234",
// "+3", ".5", "1e5", "3." and "-0" stay texts.
bool typedTextToNumber(QStringView text, double& value);

// The date rule, the counterpart of typedTextToNumber: a text that is exactly a date as
// dateSerialToText writes one (2026/12/7, or 2026/12/7 9:05:07 with a time) gives its day
// serial of the 1900 system. Anything else stays a text: other separators (2015-1-1),
// impossible dates (2015/13/1, 2015/2/30, 1900/2/29), dates before 1900/1/1 or after
// 9999/12/31, leading zeros (2015/01/01), a midnight written out (2015/1/1 0:00:00).
bool typedTextToDate(QStringView text, double& serial);

// A real number as text: six decimals ("%f", 3 gives 3.000000) whenever that reads back
// as the same double; otherwise the shortest plain decimal that does (0.1234567).
QString realToText(double value);

// A real number in the shortest plain decimal that reads back as the same double, the way
// spreadsheets export numbers: 100001, 50.78, 0.1, -3 (zero is always "0"). Finite values
// only; writes Latin-1 into `buffer` (room for 400 characters) and returns the length.
size_t writeShortestReal(double value, char* buffer);
QString shortestRealText(double value);

// The number form of a cell text for the CSV and JSON outputs: when typedTextToNumber reads
// the text as a number (8500.000000, -2.5), its shortest form goes into `buffer` (room for
// 400 characters) and the length is returned; 0 for any other text, which stays as it is.
size_t cleanNumberText(QStringView text, char* buffer);

// A cell value as text, stripped of blanks at both ends. Booleans give -1 and 0, dates
// read as 2026/12/7 (with the time when there is one), errors give their text.
QString variantToText(const CellValue& value);
SharedText variantToSharedText(const CellValue& value);

// A day serial of the 1900 date system as a person reads it: 2026/12/7 or 2026/12/7 9:05:07.
QString dateSerialToText(double serial);

// A1-style address from a 1-based column and row: (1,1) is A1, (27,10) is AA10.
QString columnAddress(int column, int row);
// Column letters alone: 1 is A, 30 is AD.
QString columnLetters(int column);

// True for A1, ZZ99, xy3; false for A, AA, 1A, A1A, A-1: a letter first, a digit last,
// letters and digits between, no letter after a digit.
bool isCellReference(QStringView text);

} // namespace quellar
