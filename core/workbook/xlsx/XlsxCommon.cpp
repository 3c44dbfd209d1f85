// What the .xlsx reader and writer share (column widths, built-in number formats, ISO dates) and the text
// decoding of the reader's parts.

#include "workbook/XlsxReading.h"

#include "base/ExcelDate.h"
#include "workbook/DisplayFormat.h"

#include <atomic>
#include <cmath>
#include <string>

namespace quellar {

namespace xlsx {

double characterWidthToPoints(double characters) {
    if (!(characters > 0)) return 0;
    // Excel's rule for Calibri 11 (maximum digit width 7 pixels, 5 pixels of padding).
    const double pixels = std::trunc(((256.0 * characters + std::trunc(128.0 / 7.0)) / 256.0) * 7.0);
    return pixels * 0.75;
}

double pointsToCharacterWidth(double points) {
    if (!(points > 0)) return 0;
    // Whole pixels; Excel (and libxlsxwriter) add 5 pixels of padding to widths of a
    // character or more, and scale narrower columns by 12 pixels per character.
    const double pixels = std::round(points / 0.75);
    return pixels < 12 ? pixels / 12.0 : (pixels - 5.0) / 7.0;
}

QString builtinNumberFormat(int id) {
    switch (id) {
    case 1:
        return QStringLiteral("0");
    case 2:
        return QStringLiteral("0.00");
    case 3:
        return QStringLiteral("#,##0");
    case 4:
        return QStringLiteral("#,##0.00");
    case 5:
        return QStringLiteral("¥#,##0;¥-#,##0");
    case 6:
        return QStringLiteral("¥#,##0;[Red]¥-#,##0");
    case 7:
        return QStringLiteral("¥#,##0.00;¥-#,##0.00");
    case 8:
        return QStringLiteral("¥#,##0.00;[Red]¥-#,##0.00");
    case 9:
        return QStringLiteral("0%");
    case 10:
        return QStringLiteral("0.00%");
    case 11:
        return QStringLiteral("0.00E+00");
    case 12:
        return QStringLiteral("# ?/?");
    case 13:
        return QStringLiteral("# ?\?/?\?");
    case 14:
        return QStringLiteral("yyyy/m/d");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("yyyy/m/d h:mm");
    case 27:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 28:
        return QStringLiteral("m\"月\"d\"日\"");
    case 29:
        return QStringLiteral("m\"月\"d\"日\"");
    case 30:
        return QStringLiteral("m-d-yy");
    case 31:
        return QStringLiteral("yyyy\"年\"m\"月\"d\"日\"");
    case 32:
        return QStringLiteral("h\"时\"mm\"分\"");
    case 33:
        return QStringLiteral("h\"时\"mm\"分\"ss\"秒\"");
    case 34:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"");
    case 35:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"ss\"秒\"");
    case 36:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 37:
        return QStringLiteral("#,##0 ;(#,##0)");
    case 38:
        return QStringLiteral("#,##0 ;[Red](#,##0)");
    case 39:
        return QStringLiteral("#,##0.00;(#,##0.00)");
    case 40:
        return QStringLiteral("#,##0.00;[Red](#,##0.00)");
    case 41:
        return QStringLiteral("_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)");
    case 42:
        return QStringLiteral("_(\"¥\"* #,##0_);_(\"¥\"* \\(#,##0\\);_(\"¥\"* \"-\"_);_(@_)");
    case 43:
        return QStringLiteral("_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)");
    case 44:
        return QStringLiteral("_(\"¥\"* #,##0.00_);_(\"¥\"* \\(#,##0.00\\);_(\"¥\"* \"-\"??_);_(@_)");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mm:ss.0");
    case 48:
        return QStringLiteral("##0.0E+0");
    case 49:
        return QStringLiteral("@");
    case 50:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 51:
        return QStringLiteral("m\"月\"d\"日\"");
    case 52:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 53:
        return QStringLiteral("m\"月\"d\"日\"");
    case 54:
        return QStringLiteral("m\"月\"d\"日\"");
    case 55:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"");
    case 56:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"ss\"秒\"");
    case 57:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 58:
        return QStringLiteral("m\"月\"d\"日\"");
    default:
        return QString();
    }
}

bool isBuiltinDateFormat(int id) {
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
           (id >= 50 && id <= 58);
}

void resolveNumberFormat(int id, const QString* custom, QString& code, bool& isDate) {
    if (custom) {
        code = custom->compare(u"General", Qt::CaseInsensitive) == 0 ? QString() : *custom;
        isDate = isDateFormatCode(*custom);
    } else {
        code = builtinNumberFormat(id);
        isDate = isBuiltinDateFormat(id);
    }
}

namespace {

bool takeNumber(std::string_view& s, int digits, int& out) {
    if (s.size() < size_t(digits)) return false;
    out = 0;
    for (int i = 0; i < digits; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    s.remove_prefix(size_t(digits));
    return true;
}

} // namespace

bool isoDateToSerial(std::string_view text, double& serial) {
    std::string_view s = text;
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
    double fraction = 0;
    const bool hasDate = s.size() >= 10 && s[4] == '-';
    if (hasDate) {
        if (!takeNumber(s, 4, year) || s.empty() || s[0] != '-') return false;
        s.remove_prefix(1);
        if (!takeNumber(s, 2, month) || s.empty() || s[0] != '-') return false;
        s.remove_prefix(1);
        if (!takeNumber(s, 2, day)) return false;
        if (month < 1 || month > 12 || day < 1 || day > 31) return false;
        if (!s.empty() && (s[0] == 'T' || s[0] == ' '))
            s.remove_prefix(1);
        else if (!s.empty() && s[0] != 'Z')
            return false;
    }
    if (!s.empty() && s[0] != 'Z') {
        if (!takeNumber(s, 2, hour) || s.empty() || s[0] != ':') return false;
        s.remove_prefix(1);
        if (!takeNumber(s, 2, minute)) return false;
        if (!s.empty() && s[0] == ':') {
            s.remove_prefix(1);
            if (!takeNumber(s, 2, second)) return false;
            if (!s.empty() && s[0] == '.') {
                size_t n = 1;
                while (n < s.size() && s[n] >= '0' && s[n] <= '9')
                    ++n;
                fraction = std::strtod(std::string(s.substr(0, n)).c_str(), nullptr);
                s.remove_prefix(n);
            }
        }
        if (hour > 23 || minute > 59 || second > 60) return false;
    }
    if (!s.empty() && s != "Z") return false;
    const int64_t days = hasDate ? exceldate::serialFromCivil(year, unsigned(month), unsigned(day)) : 0;
    serial = double(days) + (hour * 3600.0 + minute * 60.0 + second + fraction) / 86400.0;
    return true;
}

namespace {
std::atomic<bool> plainCells{true};
} // namespace

void setPlainCellPath(bool enabled) {
    plainCells.store(enabled, std::memory_order_relaxed);
}

bool plainCellPath() {
    return plainCells.load(std::memory_order_relaxed);
}

namespace {
std::atomic<size_t> pieceBytes{RowPieces().pieceBytes};
std::atomic<uint64_t> pieceFloor{RowPieces().floor};
} // namespace

void setRowPieces(RowPieces pieces) {
    pieceBytes.store(pieces.pieceBytes, std::memory_order_relaxed);
    pieceFloor.store(pieces.floor, std::memory_order_relaxed);
}

RowPieces rowPieces() {
    return RowPieces{pieceBytes.load(std::memory_order_relaxed), pieceFloor.load(std::memory_order_relaxed)};
}

namespace detail {

// Text from an OOXML string: UTF-8 with _xHHHH_ escapes for characters XML cannot carry.
SharedText ooxmlText(std::string_view utf8) {
    if (utf8.find("_x") == std::string_view::npos) return sharedTextFromUtf8(utf8);
    const QString in = qstr(utf8);
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == u'_' && i + 6 < in.size() && in[i + 1] == u'x' && in[i + 6] == u'_') {
            bool ok = false;
            const uint code = in.mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(char16_t(code));
                i += 6;
                continue;
            }
        }
        out += in[i];
    }
    return SharedText(out);
}

} // namespace detail

} // namespace xlsx

} // namespace quellar
