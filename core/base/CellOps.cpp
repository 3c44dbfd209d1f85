#include "base/CellOps.h"

#include "base/ExcelDate.h"
#include "base/TextIO.h"

#include <QSet>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quellar {

FieldList findFieldRow(const RowTable& table, int& rowIndex) {
    FieldList names;
    for (size_t r = 0; r < table.size(); ++r) {
        const Row& row = table[r];
        names.clear();
        QSet<QString> seen;
        seen.reserve(qsizetype(row.size()));
        for (const CellRecord& cell : row) {
            if (cell.text.isEmpty()) break;
            QString name = cell.text.toQString();
            if (seen.contains(name)) break;
            seen.insert(name);
            names.append(name);
        }
        if (size_t(names.size()) == row.size()) {
            rowIndex = int(r);
            return names;
        }
    }
    return names;
}

int indexOfField(const FieldList& names, const QString& name) {
    if (name.isEmpty()) return -1;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!names[i].isEmpty() && names[i] == name) return int(i);
    }
    return -1;
}

namespace {
bool isBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
} // namespace

bool isBlankText(std::u16string_view text) {
    for (char16_t c : text)
        if (!isBlank(c)) return false;
    return true;
}

bool parseNumber(std::u16string_view text, double& value) {
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    if (begin == end) {
        value = 0;
        return true;
    }
    // Drop commas and check the characters; only digits, "." and "-" may remain.
    std::string ascii;
    ascii.reserve(end - begin);
    for (size_t i = begin; i < end; ++i) {
        const char16_t c = text[i];
        if (c == u',') continue;
        if (c == u'-' || c == u'.' || (c >= u'0' && c <= u'9')) {
            ascii.push_back(char(c));
            continue;
        }
        return false;
    }
    const size_t minus = ascii.find('-');
    if (minus != std::string::npos && minus != 0) return false;

    // The longest numeric prefix: optional minus, digits, optional point and digits.
    size_t i = 0;
    const bool negative = !ascii.empty() && ascii[0] == '-';
    if (negative) ++i;
    const size_t start = i;
    while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9')
        ++i;
    size_t digits = i - start;
    if (i < ascii.size() && ascii[i] == '.') {
        ++i;
        const size_t fracStart = i;
        while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9')
            ++i;
        digits += i - fracStart;
    }
    if (digits == 0) {
        value = 0;
        return true;
    }
    double parsed = 0;
    const auto result = std::from_chars(ascii.data() + start, ascii.data() + i, parsed);
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow saturates like the C library's conversion; underflow gives 0.
        const size_t firstNonZero = ascii.find_first_not_of('0', start);
        const bool integerPart = firstNonZero < i && ascii[firstNonZero] != '.';
        parsed = integerPart ? HUGE_VAL : 0.0;
    }
    value = negative ? -parsed : parsed;
    return true;
}

namespace {

// The text realToText gives, in Latin-1 into `buffer` (room for 400 characters); its length.
// Only for finite values.
size_t writeRealText(double value, char* buffer) {
    // Whole numbers are the common case: their "%f" text is exact, so write it directly.
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0 &&
        !(value == 0 && std::signbit(value))) {
        auto end = std::to_chars(buffer, buffer + 32, static_cast<long long>(value)).ptr;
        std::memcpy(end, ".000000", 7);
        return size_t(end + 7 - buffer);
    }
    // Six decimals, correctly rounded as "%f" gives them, kept when they read back exactly.
    const auto six = std::to_chars(buffer, buffer + 400, value, std::chars_format::fixed, 6);
    if (six.ec == std::errc()) {
        double back = 0;
        const auto parsed = std::from_chars(buffer, six.ptr, back);
        if (parsed.ec == std::errc() && back == value) return size_t(six.ptr - buffer);
    }
    const auto result = std::to_chars(buffer, buffer + 400, value, std::chars_format::fixed);
    return size_t(result.ptr - buffer);
}

} // namespace

QString realToText(double value) {
    if (!std::isfinite(value)) return QString();
    char buffer[400];
    return QString::fromLatin1(buffer, qsizetype(writeRealText(value, buffer)));
}

size_t writeShortestReal(double value, char* buffer) {
    if (value == 0) {
        buffer[0] = '0';
        return 1;
    }
    return size_t(std::to_chars(buffer, buffer + 400, value, std::chars_format::fixed).ptr - buffer);
}

QString shortestRealText(double value) {
    if (!std::isfinite(value)) return QString();
    char buffer[400];
    return QString::fromLatin1(buffer, qsizetype(writeShortestReal(value, buffer)));
}

size_t cleanNumberText(QStringView text, char* buffer) {
    // Most texts are not numbers: turn them away at the first character.
    if (text.isEmpty()) return 0;
    const char16_t first = text.front().unicode();
    if (first != u'-' && (first < u'0' || first > u'9')) return 0;
    double value = 0;
    if (!typedTextToNumber(text, value)) return 0;
    // A text the rule accepts has at most 15 significant digits, and two such decimals never
    // read as the same double: the shortest form is the text without the zeros that end its
    // fraction (and without the point when nothing is left after it).
    qsizetype n = text.size();
    if (text.contains(u'.')) {
        while (text[n - 1] == u'0')
            --n;
        if (text[n - 1] == u'.') --n;
    }
    if (value == 0) n = 0; // "0.000000"
    if (n == 0) {
        buffer[0] = '0';
        return 1;
    }
    for (qsizetype i = 0; i < n; ++i)
        buffer[i] = char(text[i].unicode());
    return size_t(n);
}

QString shownCellText(QStringView text) {
    char buffer[400];
    const size_t n = cleanNumberText(text, buffer);
    return n ? QString::fromLatin1(buffer, qsizetype(n)) : text.toString();
}

QString shownNumberText(double value) {
    double rounded = value;
    if (std::isfinite(value)) {
        char digits[32];
        const auto written =
            std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific, 14);
        std::from_chars(digits, written.ptr, rounded);
        if (rounded == 0) rounded = 0; // no "-0"
    }
    char buffer[32];
    return QString::fromLatin1(shortestNumberText(rounded, buffer));
}

qsizetype writeDateSerialText(double serial, char16_t (&out)[32]) {
    char16_t* p = out;
    // Digits of `value`, at least `width` of them (leading zeros).
    auto put = [&p](int64_t value, int width) {
        char16_t digits[20];
        int count = 0;
        do {
            digits[count++] = char16_t(u'0' + value % 10);
            value /= 10;
        } while (value > 0 && count < 20);
        while (count < width)
            digits[count++] = u'0';
        while (count > 0)
            *p++ = digits[--count];
    };
    const exceldate::SerialTime t = exceldate::splitSerial(serial, 86400);
    const int64_t seconds = t.ticks;
    if (t.day > 0) { // day 0 holds a time alone
        int year, month, day;
        exceldate::civilFromSerial(t.day, year, month, day);
        put(year, 1);
        *p++ = u'/';
        put(month, 1);
        *p++ = u'/';
        put(day, 1);
        if (seconds == 0) return p - out;
        *p++ = u' ';
    }
    put(seconds / 3600, 1);
    *p++ = u':';
    put((seconds / 60) % 60, 2);
    *p++ = u':';
    put(seconds % 60, 2);
    return p - out;
}

QString dateSerialToText(double serial) {
    if (!std::isfinite(serial) || serial < 0 || serial > exceldate::kLastSerial) return realToText(serial);
    char16_t text[32];
    const qsizetype length = writeDateSerialText(serial, text);
    return QString(reinterpret_cast<const QChar*>(text), length);
}

QString variantToText(const CellValue& value) {
    switch (value.type()) {
    case CellValue::Type::Empty:
        return QString();
    case CellValue::Type::Number:
        return realToText(value.number());
    case CellValue::Type::Boolean:
        return value.number() != 0 ? QStringLiteral("-1") : QStringLiteral("0");
    case CellValue::Type::DateTime:
        return dateSerialToText(value.number());
    case CellValue::Type::String:
    case CellValue::Type::Error:
        return value.text().qview().trimmed().toString();
    }
    return QString();
}

SharedText variantToSharedText(const CellValue& value) {
    // Numbers are most cells of a large sheet: their text goes straight into the arena.
    if (value.type() == CellValue::Type::Number) {
        if (!std::isfinite(value.number())) return SharedText();
        char buffer[400];
        return SharedText::fromLatin1(std::string_view(buffer, writeRealText(value.number(), buffer)));
    }
    if (value.type() == CellValue::Type::String || value.type() == CellValue::Type::Error) {
        // Avoid a copy when the text has no blanks to strip.
        const auto v = value.text().view();
        if (v.empty() || (!isBlank(v.front()) && !isBlank(v.back()))) return value.text();
    }
    return SharedText(variantToText(value));
}

QString columnLetters(int column) {
    QString letters;
    int n = column;
    while (n > 0) {
        const int remainder = n % 26;
        const QChar letter = remainder == 0 ? QChar(u'Z') : QChar(char16_t(remainder + 64));
        letters.prepend(letter);
        n = n / 26;
        if (remainder == 0) n -= 1;
    }
    return letters;
}

QString columnAddress(int column, int row) {
    return columnLetters(column) + QString::number(row);
}

QString columnLabel(int position, const QString& name) {
    return columnLetters(position + 1) + QStringLiteral(" (") + name + QLatin1Char(')');
}

QStringList columnLabels(const FieldList& fields) {
    QStringList labels;
    labels.reserve(fields.size());
    for (qsizetype i = 0; i < fields.size(); ++i)
        labels.append(columnLabel(int(i), fields[i]));
    return labels;
}

int columnOfLabel(QStringView label) {
    int64_t column = 0;
    if (readColumnLetters(label, column) == 0 || column > (int64_t(1) << 30)) return -1;
    return int(column - 1);
}

bool isCellReference(QStringView text) {
    if (text.size() < 2) return false;
    auto isLetter = [](QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
    auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (!isLetter(text.front()) || !isDigit(text.back())) return false;
    bool seenDigit = false;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        const QChar c = text[i];
        if (isDigit(c)) {
            seenDigit = true;
        } else if (isLetter(c)) {
            if (seenDigit) return false;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace quellar
