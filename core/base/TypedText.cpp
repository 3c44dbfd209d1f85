// typedTextToNumber and typedTextToDate: when a text may be stored as a number or date cell
// and read back unchanged. Shared by the CSV reader and the writer of result tables.

#include "base/CellOps.h"
#include "base/ExcelDate.h"

#include <fast_float/fast_float.h>

#include <cmath>

namespace quellar {

bool typedTextToNumber(QStringView text, double& value) {
    const qsizetype n = text.size();
    // The longest text that passes: "-", 15 significant digits, leading zeros after the
    // point ("0.000…"), the point. Longer texts can only pass with many leading zeros,
    // which stay texts anyway: refuse them early.
    if (n == 0 || n > 64) return false;
    char ascii[64];
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x7F) return false;
        ascii[i] = char(c);
    }
    qsizetype i = 0;
    const bool negative = ascii[0] == '-';
    if (negative) ++i;
    const qsizetype integerStart = i;
    while (i < n && ascii[i] >= '0' && ascii[i] <= '9')
        ++i;
    const qsizetype integerDigits = i - integerStart;
    if (integerDigits == 0) return false;                              // ".5", "-", "+3"
    if (integerDigits > 1 && ascii[integerStart] == '0') return false; // "007"
    if (i < n) {
        if (ascii[i] != '.') return false; // "1,234", "1e5"
        ++i;
        const qsizetype fractionStart = i;
        while (i < n && ascii[i] >= '0' && ascii[i] <= '9')
            ++i;
        if (i == fractionStart || i != n) return false; // "3.", "1.2.3"
    }
    // Significant digits: from the first non-zero digit to the end.
    int significant = 0;
    bool started = false;
    for (qsizetype k = integerStart; k < n; ++k) {
        if (ascii[k] == '.') continue;
        if (ascii[k] != '0') started = true;
        if (started) ++significant;
    }
    if (significant > 15) return false;
    if (negative && !started) return false; // "-0" would read back as "0"
    double v = 0;
    const auto result = fast_float::from_chars(ascii + integerStart, ascii + n, v);
    if (result.ec != std::errc() || !std::isfinite(v) || v > 1e11) return false;
    value = negative ? -v : v;
    return true;
}

namespace {

// Reads 1 to maxDigits ASCII digits at `pos`; false when there are none.
bool readDigits(QStringView text, qsizetype& pos, int maxDigits, int& value) {
    value = 0;
    const qsizetype start = pos;
    while (pos < text.size() && pos - start < maxDigits && text[pos] >= u'0' && text[pos] <= u'9')
        value = value * 10 + (text[pos++].unicode() - u'0');
    return pos > start;
}

bool expect(QStringView text, qsizetype& pos, char16_t c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

} // namespace

bool typedTextToDate(QStringView text, double& serial) {
    // "1900/1/1" is the shortest form, "9999/12/31 23:59:59" the longest.
    const qsizetype n = text.size();
    if (n < 8 || n > 19 || text[4] != u'/') return false;
    qsizetype pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, pos, 4, year) || pos != 4 || !expect(text, pos, u'/') ||
        !readDigits(text, pos, 2, month) || !expect(text, pos, u'/') || !readDigits(text, pos, 2, day))
        return false;
    if (pos < n) {
        if (!expect(text, pos, u' ') || !readDigits(text, pos, 2, hour) || !expect(text, pos, u':') ||
            !readDigits(text, pos, 2, minute) || !expect(text, pos, u':') ||
            !readDigits(text, pos, 2, second) || pos != n)
            return false;
        if (hour > 23 || minute > 59 || second > 59) return false;
    }
    // 1900/2/29, which the 1900 system counts but which never was, stays a text.
    if (year < 1900 || year > 9999 || !exceldate::isValidDate(year, month, day)) return false;
    const double value = double(exceldate::serialFromCivil(year, unsigned(month), unsigned(day))) +
                         double((hour * 60 + minute) * 60 + second) / 86400.0;
    // Only the exact text the program writes for this moment qualifies (no leading zeros,
    // no time written for midnight).
    char16_t written[32];
    if (QStringView(written, writeDateSerialText(value, written)) != text) return false;
    serial = value;
    return true;
}

} // namespace quellar
