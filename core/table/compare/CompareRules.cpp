#include "table/compare/CompareRules.h"

#include "base/CellOps.h"
#include "base/TextIO.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace quellar {

namespace {

char16_t asciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c;
}

// A number cell reads as six decimals ("1001.000000"); typed out, as in "１００１" or a text
// cell "1001", the same number has no trailing zeros. Where the text (full-width forms made
// ASCII) is a number in the six-decimal form, the end of its shortest form: the trailing
// zeros, and the point when nothing is left after it, are dropped. Otherwise `end`.
const char16_t* shortNumberEnd(const char16_t* begin, const char16_t* end) {
    const char16_t* p = begin;
    if (p != end && halfWidth(*p) == u'-') ++p;
    const char16_t* digits = p;
    while (p != end && halfWidth(*p) >= u'0' && halfWidth(*p) <= u'9')
        ++p;
    if (p == digits || p == end || halfWidth(*p) != u'.' || end - p != 7) return end;
    const char16_t* point = p;
    for (++p; p != end; ++p)
        if (halfWidth(*p) < u'0' || halfWidth(*p) > u'9') return end;
    while (end[-1] == u'0' || end[-1] == u'\uFF10')
        --end;
    return end - 1 == point ? point : end;
}

// Reads a text one normalised code unit at a time; -1 at the end.
class NormalisedReader {
public:
    NormalisedReader(std::u16string_view text, const TextRules& rules)
        : p_(text.data())
        , end_(text.data() + text.size())
        , rules_(rules) {
        if (rules_.ignoreSpaces) {
            while (p_ != end_ && isWhiteSpace(*p_))
                ++p_;
            while (end_ != p_ && isWhiteSpace(end_[-1]))
                --end_;
        }
        if (rules_.ignoreWidth) end_ = shortNumberEnd(p_, end_);
    }

    int next() {
        if (p_ == end_) return -1;
        char16_t c = *p_++;
        if (rules_.ignoreSpaces && isWhiteSpace(c)) {
            while (p_ != end_ && isWhiteSpace(*p_))
                ++p_;
            if (p_ == end_) return -1; // white space at the end is dropped
            return u' ';
        }
        if (rules_.ignoreWidth) c = halfWidth(c);
        if (rules_.ignoreCase) c = asciiUpper(c);
        return c;
    }

private:
    const char16_t* p_;
    const char16_t* end_;
    const TextRules& rules_;
};

// Tolerances as the status line and the details page show them: 1000000, not 1e+06; 7%, not
// 7.000000000000001%.
QString percentText(double fraction) {
    return shownNumberText(fraction * 100) + u'%';
}

void appendJsonString(std::string& out, const QString& text) {
    out += '"';
    appendUtf8(out, text, TextEscape::Json);
    out += '"';
}

void appendFieldValues(std::string& out, const std::vector<FieldValue>& values) {
    out += '{';
    bool first = true;
    // The last value given for a field is the one in force.
    for (size_t i = 0; i < values.size(); ++i) {
        bool later = false;
        for (size_t k = i + 1; k < values.size(); ++k)
            later = later || values[k].field == values[i].field;
        if (later) continue;
        if (!first) out += ", ";
        first = false;
        appendJsonString(out, values[i].field);
        out += ": ";
        appendJsonNumber(out, values[i].value);
    }
    out += '}';
}

} // namespace

std::vector<std::pair<QString, QString>> CompareRules::namedFields() const {
    std::vector<std::pair<QString, QString>> named;
    for (const FieldValue& v : fieldTolerances)
        named.emplace_back(v.field, toleranceOptionName(false));
    for (const FieldValue& v : fieldRelTolerances)
        named.emplace_back(v.field, toleranceOptionName(true));
    for (const QString& field : ignoredColumns)
        named.emplace_back(field, ignoreColumnOptionName());
    return named;
}

Result<double> parseToleranceValue(const QString& text, bool relative, const QString& option,
                                   const QString& field) {
    QString number = text.trimmed();
    const bool percent = relative && number.endsWith(u'%');
    if (percent) number.chop(1);
    bool ok = !number.isEmpty();
    for (QChar c : number)
        ok = ok && ((c >= u'0' && c <= u'9') || c == u'.');
    double value = ok ? number.toDouble(&ok) : 0;
    const QString where = field.isEmpty() ? QString() : QStringLiteral("（字段“%1”）").arg(field);
    if (!ok || !std::isfinite(value)) {
        const bool negative = number.startsWith(u'-');
        return Status::invalidInput(
            negative
                ? QStringLiteral("选项 %1 的值“%2”%3是负数：容差必须是 0 或正数").arg(option, text, where)
                : QStringLiteral("选项 %1 的值“%2”%3不是数字").arg(option, text, where));
    }
    return percent ? value / 100 : value;
}

QString toleranceOptionName(bool relative) {
    return relative ? QStringLiteral("--rel-tolerance（相对容差）")
                    : QStringLiteral("--tolerance（数值容差）");
}

QString ignoreColumnOptionName() {
    return QStringLiteral("--ignore-column（不比较的列）");
}

Status addToleranceText(CompareRules& rules, const QString& text, bool relative) {
    const QString option = toleranceOptionName(relative);
    const qsizetype eq = text.lastIndexOf(u'=');
    const QString field = eq >= 0 ? text.left(eq).trimmed() : QString();
    if (eq >= 0 && field.isEmpty())
        return Status::invalidInput(QStringLiteral("选项 %1 的“%2”在 = 前面缺少字段名").arg(option, text));
    Result<double> value = parseToleranceValue(eq >= 0 ? text.mid(eq + 1) : text, relative, option, field);
    if (!value.isOk()) return value.status();
    if (eq < 0) {
        (relative ? rules.relTolerance : rules.tolerance) = value.value();
    } else {
        (relative ? rules.fieldRelTolerances : rules.fieldTolerances).push_back({field, value.value()});
    }
    return Status::ok();
}

bool isWhiteSpace(char16_t c) {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85) return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool textsEqual(std::u16string_view a, std::u16string_view b, const TextRules& rules) {
    if (!rules.normalises()) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i] && (!rules.ignoreCase || asciiUpper(a[i]) != asciiUpper(b[i]))) return false;
        return true;
    }
    NormalisedReader ra(a, rules), rb(b, rules);
    for (;;) {
        const int ca = ra.next();
        if (ca != rb.next()) return false;
        if (ca < 0) return true;
    }
}

uint64_t hashNormalised(uint64_t h, std::u16string_view text, const TextRules& rules) {
    NormalisedReader reader(text, rules);
    uint64_t count = 0;
    for (int c = reader.next(); c >= 0; c = reader.next(), ++count)
        h = (h ^ uint64_t(c)) * 0x100000001b3ull;
    return (h ^ (count + 0x10000)) * 0x100000001b3ull;
}

bool cellNumber(std::u16string_view text, bool fullWidth, double& value) {
    char buffer[64];
    if (text.empty() || text.size() >= sizeof buffer) return false;
    size_t n = 0;
    int digits = 0, points = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (fullWidth) c = halfWidth(c);
        if (c >= u'0' && c <= u'9') {
            ++digits;
        } else if (c == u'.') {
            if (++points > 1) return false;
        } else if (c != u'-' || i != 0) {
            return false;
        }
        buffer[n++] = char(c);
    }
    if (digits == 0) return false;
    const auto parsed = std::from_chars(buffer, buffer + n, value);
    return parsed.ec == std::errc() && parsed.ptr == buffer + n && std::isfinite(value);
}

bool withinTolerance(double a, double b, const ColumnRule& rule) {
    const double difference = std::fabs(a - b);
    const double limit = rule.absolute + rule.relative * std::fabs(b);
    const double rounding = 4 * std::numeric_limits<double>::epsilon() * std::max(std::fabs(a), std::fabs(b));
    return difference <= limit + rounding;
}

QString rulesSummaryText(const CompareRules& rules, bool ignoreCase) {
    QStringList parts;
    QStringList tolerance;
    if (rules.tolerance) tolerance.append(shownNumberText(*rules.tolerance));
    if (rules.relTolerance) tolerance.append(QStringLiteral("相对 ") + percentText(*rules.relTolerance));
    for (const FieldValue& v : rules.fieldTolerances)
        tolerance.append(v.field + u' ' + shownNumberText(v.value));
    for (const FieldValue& v : rules.fieldRelTolerances)
        tolerance.append(v.field + QStringLiteral(" 相对 ") + percentText(v.value));
    if (!tolerance.isEmpty())
        parts.append(QStringLiteral("数值容差 ") + tolerance.join(QStringLiteral("、")));
    if (rules.ignoreSpaces) parts.append(QStringLiteral("忽略空格"));
    if (rules.ignoreWidth) parts.append(QStringLiteral("忽略全角半角"));
    if (ignoreCase) parts.append(QStringLiteral("忽略大小写"));
    if (!rules.ignoredColumns.isEmpty())
        parts.append(QStringLiteral("不比较 ") + rules.ignoredColumns.join(QStringLiteral("、")));
    if (rules.columnsByName) parts.append(QStringLiteral("按字段名对应列"));
    return parts.join(QStringLiteral("；"));
}

namespace {

void appendOptionalNumber(std::string& out, const std::optional<double>& number) {
    if (number)
        appendJsonNumber(out, *number);
    else
        out += "null";
}

} // namespace

void appendRulesJson(std::string& out, const CompareRules& rules, bool ignoreCase) {
    out += "{\"tolerance\": ";
    appendOptionalNumber(out, rules.tolerance);
    out += ", \"tolerance_by_column\": ";
    appendFieldValues(out, rules.fieldTolerances);
    out += ", \"rel_tolerance\": ";
    appendOptionalNumber(out, rules.relTolerance);
    out += ", \"rel_tolerance_by_column\": ";
    appendFieldValues(out, rules.fieldRelTolerances);
    out += rules.ignoreSpaces ? ", \"ignore_spaces\": true" : ", \"ignore_spaces\": false";
    out += rules.ignoreWidth ? ", \"ignore_width\": true" : ", \"ignore_width\": false";
    out += ignoreCase ? ", \"ignore_case\": true" : ", \"ignore_case\": false";
    out += ", \"ignore_columns\": [";
    for (qsizetype i = 0; i < rules.ignoredColumns.size(); ++i) {
        if (i) out += ", ";
        appendJsonString(out, rules.ignoredColumns[i]);
    }
    out += rules.columnsByName ? "], \"columns_by_name\": true}" : "], \"columns_by_name\": false}";
}

void appendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, written.ptr);
}

} // namespace quellar
