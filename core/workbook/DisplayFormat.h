#pragma once
// DisplayFormat: how the grid shows a cell's value under the cell's number format.
//
// A format text is parsed once (the grid keeps one parsed format per workbook style) and
// then applied to any number of values. Supported: General; fixed decimals ("0.00");
// thousands separators ("#,##0"); percent ("0.0%"); scientific ("0.00E+00"); literal text,
// quoted text, currency symbols and "[$¥-804]"; colour codes ("[Red]"); up to four
// sections (positive;negative;zero;text); date and time forms (yyyy, yy, m, mm, mmm, d,
// dd, aaaa, h, hh, mm as minutes, ss, AM/PM, 上午/下午, elapsed [h]); and the named formats
// of XML Spreadsheet 2003 ("Fixed", "Standard", "Percent", "Short Date", ...).
//
// Anything the parser does not understand falls back to General, so a strange format
// never hides a value. Display only: the text operations work with is variantToText's.

#include "base/CellValue.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace quellar {

// The one rule for whether a number format shows a date or time (the readers take such a
// cell's number as a date, the writers keep its format, the grid shows it as a date). A
// section does when it holds, outside quoted text, brackets and escapes, one of y, d, h, s,
// AM/PM, A/P, 上午/下午, aaa (the weekday) or elapsed time [h], [mm], [ss]; or an m (month)
// when it has no digit placeholder 0, # or ? (beside them an m is only a letter, as in
// "0.0m"). A format code does when any of its sections does.
bool isDateFormatSection(QStringView section);
bool isDateFormatCode(QStringView code);
// The format code of a number format as a workbook stores it: the named formats of XML
// Spreadsheet 2003 files ("Short Date", "Percent", ...) become codes, any other text is a code.
QString formatCodeFor(const QString& numberFormat);

struct DisplayText {
    QString text;
    int64_t color = -1; // 0xRRGGBB from a colour code of the format, or -1
};

class DisplayFormat {
public:
    // General.
    DisplayFormat() = default;
    // Parses an Excel number format or an XML Spreadsheet named format; "" is General.
    static DisplayFormat parse(const QString& format);

    DisplayText apply(const CellValue& value) const;

    // The texts a value may be shown with in a cell too narrow for its full text, the
    // full text first and each later one shorter or less precise, as spreadsheets do it:
    // a number under General loses decimals (20257.5, 20258), then shows in scientific
    // form with fewer digits (1.2E+09); any other number and every date has only its full
    // text, and a cell that cannot show the last text is filled with "#". Empty for texts,
    // booleans and errors, which are cut like any text.
    std::vector<QString> narrowTexts(const CellValue& value) const;

    bool isGeneral() const { return sections_.empty(); }
    bool isDate() const;

    // General as Excel shows it: at most 11 characters, switching to scientific
    // notation (1.23457E+11) for very large and very small magnitudes.
    static QString general(double value);
    // The number format under which a date serial shows exactly as dateSerialToText writes
    // it, here and in spreadsheet programs: "yyyy/m/d", or "yyyy/m/d h:mm:ss" with a time.
    static QString dateTextFormat(double serial);

    // General's text of `value` followed by its narrower forms (see narrowTexts).
    static std::vector<QString> generalNarrowing(double value);

    // A 1900-system day serial as a date and time. Serial 60 is the fictitious
    // 1900-02-29 that spreadsheet programs keep for compatibility.
    struct DateTimeParts {
        int year = 1900, month = 1, day = 0, hour = 0, minute = 0, second = 0,
            weekday = 0; // weekday 0 = Sunday
        bool valid = false;
    };
    static DateTimeParts dateParts(double serial);

private:
    enum class TokenKind : uint8_t {
        Literal,
        Digits, // the whole numeric part of a number section
        Year2,
        Year4,
        Month,     // m / mm: width 1 or 2
        MonthName, // mmm: abbreviation, mmmm: full name
        Day,
        DayName,    // ddd / dddd
        ChineseDay, // aaa / aaaa
        Hour,
        Minute,
        Second,
        ElapsedHours,
        AmPm,        // AM/PM or A/P
        ChineseAmPm, // 上午/下午
    };
    struct Token {
        TokenKind kind = TokenKind::Literal;
        QString text; // literal text; for AmPm the pattern as written
        int width = 1;
    };
    struct Section {
        std::vector<Token> tokens;
        bool isDate = false;
        bool isText = false; // holds "@"
        bool percent = false;
        bool thousands = false;
        bool scientific = false;
        int integerZeros = 0; // "0" placeholders before the decimal point
        int requiredDecimals = 0;
        int optionalDecimals = 0;
        int exponentDigits = 2;
        bool twelveHour = false;
        int64_t color = -1;
        bool valid = true;
    };

    class SectionParser;
    static Section parseSection(const QString& text);
    QString formatNumber(const Section& section, double value) const;
    QString formatDate(const Section& section, double serial) const;

    std::vector<Section> sections_;
};

} // namespace quellar
