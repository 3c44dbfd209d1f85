#include "workbook/DisplayFormat.h"

#include "base/CellOps.h"
#include "base/ExcelDate.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace quellar {
namespace {

// The named formats of XML Spreadsheet 2003 as the format texts they stand for.
QString expandNamedFormat(const QString& format) {
    struct Named {
        const char16_t* name;
        const char16_t* format;
    };
    static const Named named[] = {
        {u"General", u""},
        {u"General Number", u""},
        {u"General Date", u"yyyy/m/d h:mm"},
        {u"Long Date", u"yyyy\"年\"m\"月\"d\"日\""},
        {u"Medium Date", u"dd-mmm-yy"},
        {u"Short Date", u"yyyy/m/d"},
        {u"Long Time", u"h:mm:ss"},
        {u"Medium Time", u"h:mm AM/PM"},
        {u"Short Time", u"h:mm"},
        {u"Currency", u"¥#,##0.00;¥-#,##0.00"},
        {u"Euro Currency", u"€#,##0.00"},
        {u"Fixed", u"0.00"},
        {u"Standard", u"#,##0.00"},
        {u"Percent", u"0.00%"},
        {u"Scientific", u"0.00E+00"},
        {u"Yes/No", u"\"Yes\";\"Yes\";\"No\""},
        {u"True/False", u"\"True\";\"True\";\"False\""},
        {u"On/Off", u"\"On\";\"On\";\"Off\""},
    };
    for (const Named& n : named)
        if (format.compare(QStringView(n.name), Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(n.format);
    return format;
}

// Splits at ";" outside quotes, brackets and escapes.
std::vector<QString> splitSections(const QString& format) {
    std::vector<QString> parts;
    QString current;
    bool quoted = false;
    int bracket = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (quoted) {
            current += c;
            if (c == u'"') quoted = false;
            continue;
        }
        if (c == u'\\' && i + 1 < format.size()) {
            current += c;
            current += format[++i];
            continue;
        }
        if (c == u'"')
            quoted = true;
        else if (c == u'[')
            ++bracket;
        else if (c == u']' && bracket > 0)
            --bracket;
        else if (c == u';' && bracket == 0) {
            parts.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    parts.push_back(current);
    return parts;
}

int64_t colorByName(const QString& name) {
    struct Named {
        const char* name;
        int64_t rgb;
    };
    static const Named colors[] = {{"black", 0x000000}, {"blue", 0x0000FF},    {"cyan", 0x00FFFF},
                                   {"green", 0x00FF00}, {"magenta", 0xFF00FF}, {"red", 0xFF0000},
                                   {"white", 0xFFFFFF}, {"yellow", 0xFFFF00}};
    const QString lower = name.toLower();
    for (const Named& c : colors)
        if (lower == QLatin1String(c.name)) return c.rgb;
    return -1;
}

bool isPlaceholder(QChar c) {
    return c == u'0' || c == u'#' || c == u'?';
}

QString padded(int64_t value, int width) {
    return QString::number(value).rightJustified(width, u'0');
}

QString groupThousands(const QString& digits) {
    QString out;
    const qsizetype n = digits.size();
    out.reserve(n + n / 3);
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += u',';
        out += digits[i];
    }
    return out;
}

QString trimFraction(QString s) {
    if (!s.contains(u'.')) return s;
    while (s.endsWith(u'0'))
        s.chop(1);
    if (s.endsWith(u'.')) s.chop(1);
    return s;
}

} // namespace

bool isDateFormatSection(QStringView section) {
    const QStringView s = section;
    bool digits = false, dateCode = false, month = false;
    for (qsizetype i = 0; i < s.size() && !dateCode; ++i) {
        const char16_t c = s[i].unicode();
        if (c == u'"') { // quoted text
            const qsizetype close = s.indexOf(u'"', i + 1);
            if (close < 0) break;
            i = close;
        } else if (c == u'\\' || c == u'_' || c == u'*') { // escaped, space as wide as, fill with
            ++i;
        } else if (c == u'[') { // colour, condition, locale; elapsed time [h] [mm] [ss] counts
            const qsizetype close = s.indexOf(u']', i);
            if (close < 0) break;
            const QStringView inner = s.mid(i + 1, close - i - 1);
            if (!inner.isEmpty()) {
                const char16_t f = QChar::toLower(inner[0].unicode());
                bool same = true;
                for (QChar ch : inner)
                    same = same && QChar::toLower(ch.unicode()) == f;
                if (same && (f == u'h' || f == u'm' || f == u's')) dateCode = true;
            }
            i = close;
        } else if (c == u'0' || c == u'#' || c == u'?') {
            digits = true;
        } else {
            const char16_t l = QChar::toLower(c);
            if (l == u'y' || l == u'd' || l == u'h' || l == u's')
                dateCode = true;
            else if (l == u'm')
                month = true;
            else if (l == u'a')
                dateCode = s.mid(i, 5).compare(u"AM/PM", Qt::CaseInsensitive) == 0 ||
                           s.mid(i, 3).compare(u"A/P", Qt::CaseInsensitive) == 0 ||
                           s.mid(i, 3).compare(u"aaa", Qt::CaseInsensitive) == 0;
            else if (s.mid(i, 5) == u"上午/下午")
                dateCode = true;
        }
    }
    return dateCode || (month && !digits);
}

bool isDateFormatCode(QStringView code) {
    // Sections end at ";" outside quotes, brackets and escapes.
    qsizetype start = 0;
    for (qsizetype i = 0; i <= code.size(); ++i) {
        if (i == code.size() || code[i] == u';') {
            if (isDateFormatSection(code.mid(start, i - start))) return true;
            start = i + 1;
        } else if (code[i] == u'"') {
            const qsizetype close = code.indexOf(u'"', i + 1);
            i = close < 0 ? code.size() - 1 : close;
        } else if (code[i] == u'[') {
            const qsizetype close = code.indexOf(u']', i);
            i = close < 0 ? code.size() - 1 : close;
        } else if (code[i] == u'\\') {
            ++i;
        }
    }
    return false;
}

DisplayFormat DisplayFormat::parse(const QString& format) {
    DisplayFormat result;
    const QString expanded = expandNamedFormat(format.trimmed());
    if (expanded.isEmpty() || expanded.compare(u"General", Qt::CaseInsensitive) == 0) return result;
    for (const QString& part : splitSections(expanded)) {
        if (result.sections_.size() == 4) break;
        result.sections_.push_back(parseSection(part));
    }
    // A lone "General" section (as in "General;[Red]-General") formats generally.
    bool allInvalid = true;
    for (const Section& s : result.sections_)
        allInvalid = allInvalid && !s.valid;
    if (allInvalid) result.sections_.clear();
    return result;
}

bool DisplayFormat::isDate() const {
    return !sections_.empty() && sections_[0].isDate;
}

// Parses one section of a format text, one handler per kind of code: quoted, escaped and
// padding text; bracketed codes (colours, currencies, elapsed time); date and time codes;
// number placeholders. Each handler starts at s_[i] and leaves i on the last character it used.
class DisplayFormat::SectionParser {
public:
    explicit SectionParser(const QString& s)
        : s_(s) {
        sec_.isDate = isDateFormatSection(s);
    }
    Section run();

private:
    void flush();
    void push(TokenKind kind, int width, const QString& text = {});
    bool readTextCode(qsizetype& i);
    bool readBracketCode(qsizetype& i);
    bool readGeneral(qsizetype& i);
    void readDateCode(qsizetype& i);
    void readNumberCode(qsizetype& i);
    void placeDigits();
    void markMinutes();
    int runLength(qsizetype i, QChar letter) const;

    const QString& s_;
    Section sec_;
    QString literal_;
    bool digitsPlaced_ = false, afterPoint_ = false, inExponent_ = false, sawPlaceholder_ = false;
    bool sawGeneral_ = false;
};

DisplayFormat::Section DisplayFormat::parseSection(const QString& s) {
    return SectionParser(s).run();
}

DisplayFormat::Section DisplayFormat::SectionParser::run() {
    for (qsizetype i = 0; i < s_.size(); ++i) {
        if (readTextCode(i)) continue;
        if (s_[i] == u'[') {
            if (!readBracketCode(i)) {
                sec_.valid = false;
                break;
            }
            continue;
        }
        if (readGeneral(i)) continue;
        if (sec_.isDate)
            readDateCode(i);
        else
            readNumberCode(i);
    }
    flush();
    if (sec_.isDate) {
        markMinutes();
    } else if (!digitsPlaced_ || sawGeneral_) {
        // Only literal text (e.g. "Yes") is valid; "General" sections format generally.
        if (sawGeneral_) sec_.valid = false;
    }
    if (sec_.scientific && sec_.exponentDigits == 0) sec_.exponentDigits = 1;
    // Only an empty section hides values on purpose (";;;"); one that yields nothing
    // because it is malformed ("*", "\\") formats generally.
    if (!sec_.isDate && sec_.tokens.empty() && !s_.isEmpty()) sec_.valid = false;
    return std::move(sec_);
}

void DisplayFormat::SectionParser::flush() {
    if (literal_.isEmpty()) return;
    Token t;
    t.kind = TokenKind::Literal;
    t.text = literal_;
    sec_.tokens.push_back(t);
    literal_.clear();
}

void DisplayFormat::SectionParser::push(TokenKind kind, int width, const QString& text) {
    flush();
    Token t;
    t.kind = kind;
    t.width = width;
    t.text = text;
    sec_.tokens.push_back(t);
}

void DisplayFormat::SectionParser::placeDigits() {
    if (!digitsPlaced_) push(TokenKind::Digits, 0);
    digitsPlaced_ = true;
}

int DisplayFormat::SectionParser::runLength(qsizetype i, QChar letter) const {
    qsizetype n = 0;
    while (i + n < s_.size() && s_[i + n].toLower() == letter)
        ++n;
    return int(n);
}

// "quoted text", \x, _x (a blank as wide as x) and *x (a fill the grid does not repeat).
bool DisplayFormat::SectionParser::readTextCode(qsizetype& i) {
    const QChar c = s_[i];
    const QChar next = i + 1 < s_.size() ? s_[i + 1] : QChar();
    if (c == u'"') {
        const qsizetype end = s_.indexOf(u'"', i + 1);
        literal_ += s_.mid(i + 1, (end < 0 ? s_.size() : end) - i - 1);
        i = end < 0 ? s_.size() : end;
        return true;
    }
    if (c == u'\\') {
        if (!next.isNull()) literal_ += next;
        ++i;
        return true;
    }
    if (c == u'_') {
        literal_ += u' ';
        ++i;
        return true;
    }
    if (c == u'*') {
        ++i;
        return true;
    }
    return false;
}

// [Red], [$¥-804], [h]/[mm]/[ss]. False when the bracket is never closed.
bool DisplayFormat::SectionParser::readBracketCode(qsizetype& i) {
    const qsizetype end = s_.indexOf(u']', i);
    if (end < 0) return false;
    const QString inner = s_.mid(i + 1, end - i - 1);
    i = end;
    const QString lower = inner.toLower();
    if (const int64_t color = colorByName(inner); color >= 0) {
        sec_.color = color;
    } else if (inner.startsWith(u'$')) {
        const qsizetype dash = inner.indexOf(u'-');
        literal_ += inner.mid(1, (dash < 0 ? inner.size() : dash) - 1);
    } else if (sec_.isDate && !lower.isEmpty() && lower.count(lower[0]) == lower.size()) {
        if (lower[0] == u'h')
            push(TokenKind::ElapsedHours, int(lower.size()));
        else if (lower[0] == u'm')
            push(TokenKind::Minute, int(lower.size()));
        else if (lower[0] == u's')
            push(TokenKind::Second, int(lower.size()));
    }
    // Conditions ([>100]), DBNum and other codes are not applied.
    return true;
}

bool DisplayFormat::SectionParser::readGeneral(qsizetype& i) {
    if (s_.mid(i, 7).compare(u"General", Qt::CaseInsensitive) != 0) return false;
    sawGeneral_ = true;
    placeDigits();
    i += 6;
    return true;
}

void DisplayFormat::SectionParser::readDateCode(qsizetype& i) {
    const QChar c = s_[i];
    const QChar l = c.toLower();
    if (s_.mid(i, 5).compare(u"AM/PM", Qt::CaseInsensitive) == 0) {
        push(TokenKind::AmPm, 5, s_.mid(i, 5));
        sec_.twelveHour = true;
        i += 4;
    } else if (s_.mid(i, 3).compare(u"A/P", Qt::CaseInsensitive) == 0) {
        push(TokenKind::AmPm, 3, s_.mid(i, 3));
        sec_.twelveHour = true;
        i += 2;
    } else if (s_.mid(i, 5) == QStringLiteral("上午/下午")) {
        push(TokenKind::ChineseAmPm, 5);
        sec_.twelveHour = true;
        i += 4;
    } else if (l == u'y' || l == u'e') {
        const int n = runLength(i, l);
        push(n <= 2 && l == u'y' ? TokenKind::Year2 : TokenKind::Year4, n);
        i += n - 1;
    } else if (l == u'm') {
        const int n = runLength(i, l);
        push(n <= 2 ? TokenKind::Month : TokenKind::MonthName, n);
        i += n - 1;
    } else if (l == u'd') {
        const int n = runLength(i, l);
        push(n <= 2 ? TokenKind::Day : TokenKind::DayName, n);
        i += n - 1;
    } else if (l == u'a' && runLength(i, l) >= 3) {
        const int n = runLength(i, l);
        push(TokenKind::ChineseDay, n);
        i += n - 1;
    } else if (l == u'h') {
        const int n = runLength(i, l);
        push(TokenKind::Hour, n);
        i += n - 1;
    } else if (l == u's') {
        const int n = runLength(i, l);
        push(TokenKind::Second, n);
        i += n - 1;
        // Fractions of a second (ss.00) are not shown.
        if (i + 1 < s_.size() && s_[i + 1] == u'.') {
            qsizetype j = i + 2;
            while (j < s_.size() && s_[j] == u'0')
                ++j;
            if (j > i + 2) i = j - 1;
        }
    } else {
        literal_ += c;
    }
}

void DisplayFormat::SectionParser::readNumberCode(qsizetype& i) {
    const QChar c = s_[i];
    const QChar next = i + 1 < s_.size() ? s_[i + 1] : QChar();
    if (c == u'@') {
        sec_.isText = true;
        placeDigits();
        return;
    }
    if (isPlaceholder(c)) {
        placeDigits();
        sawPlaceholder_ = true;
        if (inExponent_) {
            ++sec_.exponentDigits;
        } else if (afterPoint_) {
            if (c == u'#')
                ++sec_.optionalDecimals;
            else
                ++sec_.requiredDecimals;
        } else if (c != u'#') {
            ++sec_.integerZeros;
        }
        return;
    }
    if (c == u'.' && sawPlaceholder_ && !afterPoint_ && !inExponent_) {
        afterPoint_ = true;
        return;
    }
    if (c == u'.' && !sawPlaceholder_ && isPlaceholder(next) && !afterPoint_) {
        placeDigits();
        afterPoint_ = true;
        return;
    }
    if (c == u',' && sawPlaceholder_) {
        if (isPlaceholder(next) && !afterPoint_) sec_.thousands = true;
        // A comma after the last placeholder scales by a thousand; not applied.
        return;
    }
    if ((c == u'E' || c == u'e') && sawPlaceholder_ && (next == u'+' || next == u'-')) {
        sec_.scientific = true;
        inExponent_ = true;
        sec_.exponentDigits = 0;
        ++i;
        return;
    }
    if (c == u'%') sec_.percent = true;
    literal_ += c;
}

// m / mm next to hours or seconds means minutes.
void DisplayFormat::SectionParser::markMinutes() {
    std::vector<Token>& tokens = sec_.tokens;
    for (size_t k = 0; k < tokens.size(); ++k) {
        Token& t = tokens[k];
        if (t.kind != TokenKind::Month) continue;
        bool minute = false;
        for (size_t p = k; p-- > 0;) {
            if (tokens[p].kind == TokenKind::Literal) continue;
            minute = tokens[p].kind == TokenKind::Hour || tokens[p].kind == TokenKind::ElapsedHours;
            break;
        }
        for (size_t q = k + 1; !minute && q < tokens.size(); ++q) {
            if (tokens[q].kind == TokenKind::Literal) continue;
            minute = tokens[q].kind == TokenKind::Second;
            break;
        }
        if (minute) t.kind = TokenKind::Minute;
    }
}

QString DisplayFormat::general(double value) {
    if (value == 0 || !std::isfinite(value))
        return std::isfinite(value) ? QStringLiteral("0") : QStringLiteral("#NUM!");
    const double a = std::fabs(value);
    if (a >= 1e11 || a < 1e-5) {
        int exponent = int(std::floor(std::log10(a)));
        double mantissa = value / std::pow(10.0, exponent);
        mantissa = std::round(mantissa * 1e5) / 1e5;
        if (std::fabs(mantissa) >= 10) {
            mantissa /= 10;
            ++exponent;
        }
        return trimFraction(QString::number(mantissa, 'f', 5)) + u'E' + (exponent < 0 ? u'-' : u'+') +
               padded(std::abs(exponent), 2);
    }
    const int integerDigits = a < 1 ? 1 : int(std::floor(std::log10(a))) + 1;
    QString s = trimFraction(QString::number(value, 'f', std::max(0, 10 - integerDigits)));
    if (s == u"-0") s = QStringLiteral("0");
    return s;
}

namespace {

// The mantissa and exponent of General's scientific form, the mantissa rounded to `decimals`.
QString scientific(double value, int decimals) {
    const double a = std::fabs(value);
    int exponent = int(std::floor(std::log10(a)));
    double mantissa = value / std::pow(10.0, exponent);
    const double scale = std::pow(10.0, decimals);
    mantissa = std::round(mantissa * scale) / scale;
    if (std::fabs(mantissa) >= 10) {
        mantissa /= 10;
        ++exponent;
    }
    return trimFraction(QString::number(mantissa, 'f', decimals)) + u'E' + (exponent < 0 ? u'-' : u'+') +
           padded(std::abs(exponent), 2);
}

bool showsOnlyZeros(const QString& text) {
    for (QChar c : text)
        if (c.isDigit() && c != u'0') return false;
    return true;
}

} // namespace

std::vector<QString> DisplayFormat::generalNarrowing(double value) {
    std::vector<QString> texts{general(value)};
    if (value == 0 || !std::isfinite(value)) return texts;
    auto add = [&](const QString& text) {
        if (std::find(texts.begin(), texts.end(), text) == texts.end()) texts.push_back(text);
    };
    // Fewer decimals, rounded, as long as the text still shows a digit other than zero.
    const QString& full = texts.front();
    if (!full.contains(u'E')) {
        const qsizetype point = full.indexOf(u'.');
        const int decimals = point < 0 ? 0 : int(full.size() - point - 1);
        for (int d = decimals - 1; d >= 0; --d) {
            const QString shorter = trimFraction(QString::number(value, 'f', d));
            if (showsOnlyZeros(shorter)) break;
            add(shorter);
        }
    }
    // Then scientific form with ever fewer digits, down to one (1E+09).
    for (int d = 5; d >= 0; --d)
        add(scientific(value, d));
    return texts;
}

QString DisplayFormat::dateTextFormat(double serial) {
    return serial == std::floor(serial) ? QStringLiteral("yyyy/m/d") : QStringLiteral("yyyy/m/d h:mm:ss");
}

std::vector<QString> DisplayFormat::narrowTexts(const CellValue& value) const {
    switch (value.type()) {
    case CellValue::Type::Number:
        if (sections_.empty()) return generalNarrowing(value.number());
        [[fallthrough]];
    case CellValue::Type::DateTime: {
        QString text = apply(value).text;
        if (text.isEmpty()) return {};
        return {std::move(text)};
    }
    case CellValue::Type::Empty:
    case CellValue::Type::String:
    case CellValue::Type::Boolean:
    case CellValue::Type::Error:
        break;
    }
    return {};
}

DisplayFormat::DateTimeParts DisplayFormat::dateParts(double serial) {
    DateTimeParts p;
    if (!std::isfinite(serial) || serial < 0 || serial >= exceldate::kLastSerial) return p;
    const exceldate::SerialTime t = exceldate::splitSerial(serial, 86400);
    const int64_t days = t.day;
    const int64_t seconds = t.ticks;
    p.hour = int(seconds / 3600);
    p.minute = int(seconds / 60 % 60);
    p.second = int(seconds % 60);
    p.weekday = int((days + 6) % 7);
    if (days == 0)
        p.year = 1900, p.month = 1, p.day = 0;
    else
        exceldate::civilFromSerial(days, p.year, p.month, p.day);
    p.valid = true;
    return p;
}

QString DisplayFormat::formatNumber(const Section& section, double value) const {
    const bool negative = value < 0;
    double x = std::fabs(value);
    if (section.percent) x *= 100;
    QString digits;
    const int decimals = section.requiredDecimals + section.optionalDecimals;
    if (section.scientific) {
        int exponent = x == 0 ? 0 : int(std::floor(std::log10(x)));
        double mantissa = x == 0 ? 0 : x / std::pow(10.0, exponent);
        const double scale = std::pow(10.0, decimals);
        mantissa = std::round(mantissa * scale) / scale;
        if (mantissa >= 10) {
            mantissa /= 10;
            ++exponent;
        }
        QString m = QString::number(mantissa, 'f', decimals);
        if (section.optionalDecimals > 0) {
            const qsizetype point = m.indexOf(u'.');
            while (m.size() > point + 1 + section.requiredDecimals && m.endsWith(u'0'))
                m.chop(1);
        }
        digits = m + u'E' + (exponent < 0 ? u'-' : u'+') + padded(std::abs(exponent), section.exponentDigits);
    } else {
        const QString fixed = QString::number(x, 'f', decimals);
        const qsizetype point = fixed.indexOf(u'.');
        QString integer = point < 0 ? fixed : fixed.left(point);
        QString fraction = point < 0 ? QString() : fixed.mid(point + 1);
        while (fraction.size() > section.requiredDecimals && fraction.endsWith(u'0'))
            fraction.chop(1);
        if (integer == u"0" && section.integerZeros == 0) integer.clear();
        if (integer.size() < section.integerZeros)
            integer = integer.rightJustified(section.integerZeros, u'0');
        if (section.thousands) integer = groupThousands(integer);
        digits = integer;
        if (decimals > 0) digits += u'.' + fraction;
    }
    bool allZero = true;
    for (QChar c : digits)
        if (c.isDigit() && c != u'0') allZero = false;

    QString out;
    for (const Token& t : section.tokens)
        out += t.kind == TokenKind::Digits ? digits : t.text;
    if (negative && !allZero) out.prepend(u'-');
    return out;
}

QString DisplayFormat::formatDate(const Section& section, double serial) const {
    const DateTimeParts p = dateParts(serial);
    if (!p.valid) return general(serial);
    static const char* const monthNames[] = {"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
    static const char* const dayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                           "Thursday", "Friday", "Saturday"};
    static const char16_t* const chineseDays[] = {u"日", u"一", u"二", u"三", u"四", u"五", u"六"};
    QString out;
    for (const Token& t : section.tokens) {
        switch (t.kind) {
        case TokenKind::Literal:
        case TokenKind::Digits:
            out += t.text;
            break;
        case TokenKind::Year2:
            out += padded(p.year % 100, 2);
            break;
        case TokenKind::Year4:
            out += QString::number(p.year);
            break;
        case TokenKind::Month:
            out += padded(p.month, t.width);
            break;
        case TokenKind::MonthName: {
            const QString name = QLatin1String(monthNames[p.month - 1]);
            out += t.width == 3 ? name.left(3) : t.width >= 5 ? name.left(1) : name;
            break;
        }
        case TokenKind::Day:
            out += padded(p.day, t.width);
            break;
        case TokenKind::DayName: {
            const QString name = QLatin1String(dayNames[p.weekday]);
            out += t.width == 3 ? name.left(3) : name;
            break;
        }
        case TokenKind::ChineseDay:
            out += (t.width >= 4 ? QStringLiteral("星期") : QString()) +
                   QString::fromUtf16(chineseDays[p.weekday]);
            break;
        case TokenKind::Hour: {
            int hour = p.hour;
            if (section.twelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
            out += padded(hour, std::min(t.width, 2));
            break;
        }
        case TokenKind::ElapsedHours:
            out += padded(int64_t(std::floor(serial)) * 24 + p.hour, t.width);
            break;
        case TokenKind::Minute:
            out += padded(p.minute, std::min(t.width, 2));
            break;
        case TokenKind::Second:
            out += padded(p.second, std::min(t.width, 2));
            break;
        case TokenKind::AmPm: {
            const bool pm = p.hour >= 12;
            if (t.width == 5)
                out += pm ? t.text.mid(3, 2) : t.text.left(2);
            else
                out += pm ? t.text.mid(2, 1) : t.text.left(1);
            break;
        }
        case TokenKind::ChineseAmPm:
            out += p.hour >= 12 ? QStringLiteral("下午") : QStringLiteral("上午");
            break;
        }
    }
    return out;
}

DisplayText DisplayFormat::apply(const CellValue& value) const {
    DisplayText shown;
    switch (value.type()) {
    case CellValue::Type::Empty:
        return shown;
    case CellValue::Type::Boolean:
        shown.text = value.number() != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        return shown;
    case CellValue::Type::Error:
        shown.text = value.text().toQString();
        return shown;
    case CellValue::Type::String: {
        shown.text = value.text().toQString();
        const Section* textSection = nullptr;
        if (sections_.size() == 4)
            textSection = &sections_[3];
        else if (sections_.size() == 1 && sections_[0].isText)
            textSection = &sections_[0];
        if (textSection && textSection->isText) {
            QString out;
            for (const Token& t : textSection->tokens)
                out += t.kind == TokenKind::Digits ? shown.text : t.text;
            shown.text = out;
            shown.color = textSection->color;
        }
        return shown;
    }
    case CellValue::Type::Number:
    case CellValue::Type::DateTime:
        break;
    }

    const double v = value.number();
    if (sections_.empty()) {
        shown.text = value.type() == CellValue::Type::DateTime ? dateSerialToText(v) : general(v);
        return shown;
    }
    const Section* section = &sections_[0];
    double shownValue = v;
    if (v < 0 && sections_.size() >= 2 && !sections_[1].isText) {
        section = &sections_[1];
        shownValue = -v; // the negative section writes its own sign
    } else if (v == 0 && sections_.size() >= 3 && !sections_[2].isText) {
        section = &sections_[2];
    }
    shown.color = section->color;
    if (!section->valid || section->isText) {
        shown.text = (shownValue != v ? QStringLiteral("-") : QString()) + general(shownValue);
        if (section->isText) shown.text = general(v);
        return shown;
    }
    if (section->isDate) {
        shown.text = v < 0 ? general(v) : formatDate(*section, v);
        return shown;
    }
    shown.text = formatNumber(*section, shownValue);
    return shown;
}

QString formatCodeFor(const QString& numberFormat) {
    static const std::map<QString, QString> named{
        {QStringLiteral("General Number"), QStringLiteral("General")},
        {QStringLiteral("General Date"), QStringLiteral("yyyy/m/d h:mm")},
        {QStringLiteral("Long Date"), QStringLiteral("yyyy\"年\"m\"月\"d\"日\"")},
        {QStringLiteral("Medium Date"), QStringLiteral("dd-mmm-yy")},
        {QStringLiteral("Short Date"), QStringLiteral("yyyy/m/d")},
        {QStringLiteral("Long Time"), QStringLiteral("h:mm:ss")},
        {QStringLiteral("Medium Time"), QStringLiteral("h:mm AM/PM")},
        {QStringLiteral("Short Time"), QStringLiteral("h:mm")},
        {QStringLiteral("Currency"), QStringLiteral("¥#,##0.00;¥-#,##0.00")},
        {QStringLiteral("Euro Currency"), QStringLiteral("[$€-2] #,##0.00")},
        {QStringLiteral("Fixed"), QStringLiteral("0.00")},
        {QStringLiteral("Standard"), QStringLiteral("#,##0.00")},
        {QStringLiteral("Percent"), QStringLiteral("0.00%")},
        {QStringLiteral("Scientific"), QStringLiteral("0.00E+00")},
        {QStringLiteral("Yes/No"), QStringLiteral("\"Yes\";\"Yes\";\"No\"")},
        {QStringLiteral("True/False"), QStringLiteral("\"True\";\"True\";\"False\"")},
        {QStringLiteral("On/Off"), QStringLiteral("\"On\";\"On\";\"Off\"")},
    };
    const auto it = named.find(numberFormat);
    return it == named.end() ? numberFormat : it->second;
}

} // namespace quellar
