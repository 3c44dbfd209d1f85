// typedTextToNumber: when a text may be stored as a number cell and read back unchanged.
// Shared by the CSV reader and the writer of result tables.

#include "base/CellOps.h"

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

} // namespace quellar
