#pragma once
// The small operations every table operation shares: the field row of a table, looking
// a field up by name, the one strict rule that decides that a text is a number, the
// conversion of a cell value to text, and A1-style addresses.
//
// All are pure functions of their arguments.

#include "base/CellValue.h"
#include "base/RowTable.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
#include <cstdint>
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
    return parseNumber(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), size_t(text.size())), value);
}
inline bool parseNumber(const SharedText& text, double& value) {
    return parseNumber(text.view(), value);
}
inline bool parseNumber(const QString& text, double& value) {
    return parseNumber(QStringView(text), value);
}
// True when the text is empty or only the blanks parseNumber trims (space, tab, line breaks).
bool isBlankText(std::u16string_view text);
// A cell that holds a number by the rule above, for what is taken over numbers only (the
// group summary's average, maximum and minimum): parseNumber, but a blank text is no number.
inline bool numberInCell(std::u16string_view text, double& value) {
    return !isBlankText(text) && parseNumber(text, value);
}

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

// A result cell's text as the result pane shows it: a text that becomes a number cell there
// (typedTextToNumber: 100416.000000, -2.50) in its shortest form (100416, -2.5), as the
// grid shows it; every other text (007, 1e5, 2015/1/1) as it is.
QString shownCellText(QStringView text);

// A number an operation worked out (a difference, a tolerance, a percentage) as the window
// and the pages show it: rounded to the 15 significant digits spreadsheets keep, then in
// the form the working files write numbers (shortestNumberText): 1000000, 0.3, 7.
QString shownNumberText(double value);

// A cell value as text, stripped of blanks at both ends. Booleans give -1 and 0, dates
// read as 2026/12/7 (with the time when there is one), errors give their text.
QString variantToText(const CellValue& value);
SharedText variantToSharedText(const CellValue& value);

// A day serial of the 1900 date system as a person reads it: 2026/12/7 or 2026/12/7 9:05:07.
QString dateSerialToText(double serial);
// The same text written into `out`, for a serial from 0 to exceldate::kLastSerial (others are
// written as numbers, which dateSerialToText does); gives its length.
qsizetype writeDateSerialText(double serial, char16_t (&out)[32]);

// A1-style address from a 1-based column and row: (1,1) is A1, (27,10) is AA10.
QString columnAddress(int column, int row);
// Column letters alone: 1 is A, 30 is AD.
QString columnLetters(int column);

// The one parser of column letters: reads the ASCII letters at the start of `text` (A is 1,
// Z 26, AA 27, AD 30; either case) into the 1-based column number and returns how many it
// read, 0 when the text does not begin with a letter. However many letters follow, the
// number stops growing at kColumnNumberCap, far beyond the last column, so callers check
// it against the range they accept.
inline constexpr int64_t kColumnNumberCap = int64_t(1) << 40;
template <typename Char> size_t readColumnLetters(const Char* text, size_t size, int64_t& column) {
    size_t i = 0;
    int64_t number = 0;
    for (; i < size; ++i) {
        const auto c = text[i];
        int letter;
        if (c >= 'A' && c <= 'Z')
            letter = int(c - 'A') + 1;
        else if (c >= 'a' && c <= 'z')
            letter = int(c - 'a') + 1;
        else
            break;
        number = number * 26 + letter;
        if (number > kColumnNumberCap) number = kColumnNumberCap;
    }
    column = number;
    return i;
}
inline size_t readColumnLetters(std::string_view text, int64_t& column) {
    return readColumnLetters(text.data(), text.size(), column);
}
inline qsizetype readColumnLetters(QStringView text, int64_t& column) {
    return qsizetype(
        readColumnLetters(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()), column));
}

// Column labels, how lists of columns to sum are offered and chosen: "C (金额)" is the column
// letters of the 0-based position, " (", the name, ")".
QString columnLabel(int position, const QString& name);
// The labels of every field, in field order.
QStringList columnLabels(const FieldList& fields);
// The 0-based column a label denotes by its leading letters (A = 0, AD = 29, case ignored);
// -1 when it does not begin with a letter.
int columnOfLabel(QStringView label);

// True for A1, ZZ99, xy3; false for A, AA, 1A, A1A, A-1: a letter first, a digit last,
// letters and digits between, no letter after a digit.
bool isCellReference(QStringView text);

} // namespace quellar
