#include "workbook/XlsxFormat.h"

#include "workbook/FormulaNotation.h"
#include "workbook/RangeReader.h"

#include "base/TextIO.h"
#include "workbook/XmlScanner.h"
#include "workbook/ZipArchive.h"

#include <fast_float/fast_float.h>

#include "base/CellOps.h"
#include "base/ExcelDate.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <thread>
#include <unordered_map>

namespace quellar {

// ---------------------------------------------------------------------------------------------
// Helpers shared by reader and writer

namespace xlsx {

bool parseCellReference(std::string_view text, int32_t& row, int32_t& column) {
    size_t i = 0;
    int64_t col = 0;
    while (i < text.size() && i < 4) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') break;
        col = col * 26 + (c - 'A' + 1);
        ++i;
    }
    if (i == 0 || i == text.size()) return false;
    int64_t r = 0;
    const size_t digitsStart = i;
    while (i < text.size() && i - digitsStart < 8) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        r = r * 10 + (c - '0');
        ++i;
    }
    if (i != text.size() || r < 1 || r > kMaxRows || col > kMaxColumns) return false;
    row = int32_t(r - 1);
    column = int32_t(col - 1);
    return true;
}

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

bool isDateFormatCode(QStringView code) {
    const qsizetype n = code.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = code[i].unicode();
        switch (c) {
        case u'"': // quoted text
            ++i;
            while (i < n && code[i] != u'"')
                ++i;
            break;
        case u'[': // colour, condition, locale; elapsed time [h] [mm] [ss] counts
        {
            const qsizetype close = code.indexOf(u']', i);
            if (close < 0) return false;
            const QStringView inner = code.mid(i + 1, close - i - 1);
            if (!inner.isEmpty()) {
                const char16_t f = QChar::toLower(inner[0].unicode());
                bool same = true;
                for (QChar ch : inner)
                    same = same && QChar::toLower(ch.unicode()) == f;
                if (same && (f == u'h' || f == u'm' || f == u's')) return true;
            }
            i = close;
            break;
        }
        case u'\\': // escaped character
        case u'_':  // space as wide as the next character
        case u'*':  // fill with the next character
            ++i;
            break;
        case u'y':
        case u'Y':
        case u'm':
        case u'M':
        case u'd':
        case u'D':
        case u'h':
        case u'H':
        case u's':
        case u'S':
            return true;
        case u'A':
        case u'a':
            // AM/PM and A/P are time markers without a date or time token of their own.
            if (code.mid(i, 5).compare(u"AM/PM", Qt::CaseInsensitive) == 0)
                i += 4;
            else if (code.mid(i, 3).compare(u"A/P", Qt::CaseInsensitive) == 0)
                i += 2;
            break;
        case u'G':
        case u'g':
            if (code.mid(i, 7).compare(u"General", Qt::CaseInsensitive) == 0) i += 6;
            break;
        case u'E':
        case u'e': // scientific exponent
        default:
            break;
        }
    }
    return false;
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

} // namespace xlsx

// ---------------------------------------------------------------------------------------------
// Reader

namespace {

using xlsx::parseCellReference;

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}
QString qstr(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

bool parseUnsigned(std::string_view s, uint64_t& out) {
    if (s.empty() || s.size() > 18) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    out = v;
    return true;
}

int toInt(std::string_view s, int fallback) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    int v = 0;
    bool negative = false;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i == s.size()) return fallback;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return fallback;
        if (v > 100000000) return fallback;
        v = v * 10 + (s[i] - '0');
    }
    return negative ? -v : v;
}

bool parseDouble(std::string_view s, double& out) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    if (s.empty()) return false;
    const char* begin = s.data();
    if (*begin == '+') ++begin;
    double v = 0;
    const auto r = fast_float::from_chars(begin, s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

double toDouble(std::string_view s, double fallback) {
    double v;
    return parseDouble(s, v) ? v : fallback;
}

bool isTrue(std::string_view s) {
    return s == "1" || s == "true" || s == "on";
}

bool isErrorLiteral(std::string_view s) {
    return s == "#N/A" || s == "#DIV/0!" || s == "#VALUE!" || s == "#REF!" || s == "#NAME?" || s == "#NUM!" ||
           s == "#NULL!";
}

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

// Colours ------------------------------------------------------------------------------------

// The legacy indexed colours 0..65: eight fixed, the 56-colour palette, system colours.
uint32_t indexedColor(int index, const std::vector<uint32_t>& custom) {
    if (index >= 0 && size_t(index) < custom.size()) return custom[size_t(index)];
    static const uint32_t fixed[8] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00,
                                      0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF};
    if (index >= 0 && index < 8) return fixed[index];
    if (index >= 8 && index < 64) return paletteColor(index - 7);
    if (index == 65) return 0xFFFFFF; // system background
    return 0x000000;                  // system foreground and anything else
}

uint32_t applyTint(uint32_t rgb, double tint) {
    if (tint == 0) return rgb;
    double r = ((rgb >> 16) & 0xFF) / 255.0, g = ((rgb >> 8) & 0xFF) / 255.0, b = (rgb & 0xFF) / 255.0;
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    double h = 0, s = 0, l = (mx + mn) / 2;
    if (mx != mn) {
        const double d = mx - mn;
        s = l > 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
        if (mx == r)
            h = (g - b) / d + (g < b ? 6 : 0);
        else if (mx == g)
            h = (b - r) / d + 2;
        else
            h = (r - g) / d + 4;
        h /= 6;
    }
    l = tint < 0 ? l * (1 + tint) : l * (1 - tint) + tint;
    auto hue = [](double p, double q, double t) {
        if (t < 0) t += 1;
        if (t > 1) t -= 1;
        if (t < 1.0 / 6) return p + (q - p) * 6 * t;
        if (t < 0.5) return q;
        if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
        return p;
    };
    if (s == 0) {
        r = g = b = l;
    } else {
        const double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
        const double p = 2 * l - q;
        r = hue(p, q, h + 1.0 / 3);
        g = hue(p, q, h);
        b = hue(p, q, h - 1.0 / 3);
    }
    auto byte = [](double v) { return uint32_t(std::clamp(std::lround(v * 255), 0l, 255l)); };
    return (byte(r) << 16) | (byte(g) << 8) | byte(b);
}

struct ColorSpec {
    bool set = false;
    bool automatic = false;
    uint32_t rgb = 0;
    int paletteIndex = 0; // when it came from the legacy palette, its 1-based palette index
    int indexed = -1;     // a legacy palette index still to be looked up (see ColorContext::finish)
    double tint = 0;
};

struct ColorContext {
    std::vector<uint32_t> indexed; // a custom palette from styles.xml, when given
    std::array<uint32_t, 12> theme{0xFFFFFF, 0x000000, 0xE7E6E6, 0x44546A, 0x4472C4, 0xED7D31,
                                   0xA5A5A5, 0xFFC000, 0x5B9BD5, 0x70AD47, 0x0563C1, 0x954F72};

    ColorSpec read(const XmlScanner& sc) const {
        ColorSpec c;
        if (isTrue(sc.attributeValue("auto"))) {
            c.set = c.automatic = true;
            return c;
        }
        if (const XmlAttribute* a = sc.attribute("rgb")) {
            std::string_view v = a->value;
            if (v.size() == 8) v.remove_prefix(2); // ARGB
            uint64_t value = 0;
            bool ok = v.size() == 6;
            for (char ch : v) {
                int d = (ch >= '0' && ch <= '9')   ? ch - '0'
                        : (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10
                        : (ch >= 'A' && ch <= 'F') ? ch - 'A' + 10
                                                   : -1;
                if (d < 0) ok = false;
                value = value * 16 + uint64_t(std::max(d, 0));
            }
            if (ok) {
                c.set = true;
                c.rgb = uint32_t(value);
            }
        } else if (const XmlAttribute* a = sc.attribute("indexed")) {
            const int index = toInt(a->value, -1);
            if (index >= 0) {
                c.set = true;
                c.automatic = index == 64;
                c.indexed = index;
            }
        } else if (const XmlAttribute* a = sc.attribute("theme")) {
            const int index = toInt(a->value, -1);
            if (index >= 0 && index < int(theme.size())) {
                c.set = true;
                c.rgb = theme[size_t(index)];
            }
        }
        if (c.set && !c.automatic) {
            c.tint = std::clamp(toDouble(sc.attributeValue("tint"), 0), -1.0, 1.0);
            if (c.indexed < 0) c.rgb = applyTint(c.rgb, c.tint);
        }
        return c;
    }

    // Looks up a legacy palette index once the part's own palette (which follows the fonts
    // and fills) is known.
    void finish(ColorSpec& c) const {
        if (c.indexed < 0) return;
        c.rgb = applyTint(indexedColor(c.indexed, indexed), c.tint);
        if (c.indexed >= 8 && c.indexed < 64 && indexed.empty() && c.tint == 0)
            c.paletteIndex = c.indexed - 7;
        c.indexed = -1;
    }
};

// A failure while reading one part --------------------------------------------------------------

struct PartError {
    Status status;
};

// Parts and relationships ----------------------------------------------------------------------

struct Relationship {
    std::string type;   // the last segment of the relationship type ("worksheet", "styles", ...)
    std::string target; // resolved part name, without a leading "/"
    bool external = false;
};

std::string folderOf(std::string_view part) {
    const size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string relationshipsPartOf(std::string_view part) {
    const size_t slash = part.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
    const std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
    return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

// A target relative to `baseFolder`, or absolute ("/xl/..."), as a package part name.
std::string resolveTarget(std::string_view baseFolder, std::string_view target) {
    std::string decoded;
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size() && std::isxdigit(uchar(target[i + 1])) &&
            std::isxdigit(uchar(target[i + 2]))) {
            decoded.push_back(char(std::stoi(std::string(target.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            decoded.push_back(target[i] == '\\' ? '/' : target[i]);
        }
    }
    std::string joined =
        !decoded.empty() && decoded[0] == '/' ? decoded.substr(1) : std::string(baseFolder) + decoded;
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        const std::string segment = joined.substr(start, slash - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string& s : segments) {
        if (!out.empty()) out.push_back('/');
        out += s;
    }
    return out;
}

struct XfInfo {
    uint32_t style = 0;
    bool isDate = false;
};

struct SheetInfo {
    QString name;
    std::string part;
    bool hidden = false;
};

constexpr uint64_t kReadAheadFloor = 4u << 20;
constexpr size_t kMaxSharedStrings = size_t(32) << 20;

void putInOrder(Sheet& sheet);
// A string table this large is read on its own thread while the first sheet is read.
constexpr uint64_t kParallelStringsFloor = 8u << 20;

// A text made for cells with a shared-string index still to be looked up: the index + 1 is
// kept in CellValue::number of a String value with no text.
constexpr double kNoPendingIndex = 0;

struct XfSpec;
struct StyleRecords;

class XlsxReader {
public:
    XlsxReader(const QString& path, Workbook& book, SheetTableRequest* request = nullptr)
        : path_(path)
        , book_(book)
        , request_(request) {}
    Status run();

private:
    // Runs `body` over the XML of a part; turns scanner and stream failures into a Status
    // naming the file and the part.
    template <typename Body> Status scanPart(const ZipEntry& entry, Body body) const;
    Status partError(const ZipEntry& entry, const QString& message) const {
        return Status::invalidInput(zip_.describe(entry) + QStringLiteral("：") + message);
    }

    Status readRelationships(std::string_view part, std::unordered_map<std::string, Relationship>& out) const;
    Status readWorkbookPart(const ZipEntry& entry, std::vector<std::pair<SheetInfo, std::string>>& sheets,
                            int& activeTab, std::map<int, QString>& printTitles);
    Status readTheme(const ZipEntry& entry);
    class StylePart;
    Status readStyles(const ZipEntry& entry);
    XfInfo cellFormatOf(const XfSpec& spec, const StyleRecords& records);
    Status readSharedStrings(const ZipEntry& entry, std::vector<SharedText>& out) const;
    class SheetPart;
    // With `stream`, rows go there as they are read; `refused` tells when the stream would not
    // take them (the sheet must then be read again without it).
    Status readSheet(const ZipEntry& entry, Sheet& sheet, const std::vector<SharedText>* strings,
                     UsedRangeStream* stream = nullptr, bool* refused = nullptr);
    Status readTableSheet(const std::vector<SheetInfo>& sheets, const ZipEntry* stringsEntry);
    void setActiveSheet(const std::vector<int>& tabOfSheet, int activeTab);
    void setPrintTitles(size_t sheet, int tab, const std::map<int, QString>& printTitles);
    Status resolvePendingStrings(const ZipEntry& entry, Sheet& sheet,
                                 const std::vector<SharedText>& strings) const;

    QString path_;
    Workbook& book_;
    SheetTableRequest* request_;
    ZipArchive zip_;
    bool date1904_ = false;
    ColorContext colors_;
    std::vector<XfInfo> xfs_{XfInfo{}};
    bool haveStyles_ = false;
    std::atomic<int64_t> cells_{0};
};

template <typename Body> Status XlsxReader::scanPart(const ZipEntry& entry, Body body) const {
    std::unique_ptr<ZipEntryStream> stream;
    if (Status s = zip_.openEntry(entry, stream); !s) return s;
    // A large part is inflated on a second thread while this one parses it.
    std::unique_ptr<ReadAheadSource> ahead;
    if (entry.size > kReadAheadFloor) ahead = std::make_unique<ReadAheadSource>(*stream);
    XmlScanner sc(ahead ? static_cast<ByteSource&>(*ahead) : *stream);
    Status result = body(sc);
    if (ahead) ahead->stop(); // the stream's status is settled from here on
    // The first fault in the part's bytes is the one told. A fault of the document met before
    // the stream failed wins, even when the inflating thread has already run into the
    // stream's fault further on, so the message does not depend on timing.
    if (sc.hasError() && sc.sourceFailed() && !stream->status()) return stream->status();
    if (!result) return result;
    if (sc.hasError()) return partError(entry, sc.status().message());
    return result;
}

Status XlsxReader::readRelationships(std::string_view part,
                                     std::unordered_map<std::string, Relationship>& out) const {
    out.clear();
    const std::string relsName = relationshipsPartOf(part);
    const ZipEntry* entry = zip_.find(relsName);
    if (!entry) return Status::ok();
    const std::string base = folderOf(part);
    return scanPart(*entry, [&](XmlScanner& sc) {
        for (;;) {
            const XmlScanner::Token t = sc.next();
            if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
            if (t != XmlScanner::Token::StartElement || sc.localName() != "Relationship") continue;
            Relationship r;
            std::string_view type = sc.attributeValue("Type");
            const size_t slash = type.rfind('/');
            r.type = std::string(slash == std::string_view::npos ? type : type.substr(slash + 1));
            r.external = sc.attributeValue("TargetMode") == "External";
            r.target = r.external ? std::string(sc.attributeValue("Target"))
                                  : resolveTarget(base, sc.attributeValue("Target"));
            out.emplace(std::string(sc.attributeValue("Id")), std::move(r));
        }
        return Status::ok();
    });
}

Status XlsxReader::readWorkbookPart(const ZipEntry& entry,
                                    std::vector<std::pair<SheetInfo, std::string>>& sheets, int& activeTab,
                                    std::map<int, QString>& printTitles) {
    return scanPart(entry, [&](XmlScanner& sc) {
        for (;;) {
            const XmlScanner::Token t = sc.next();
            if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
            if (t != XmlScanner::Token::StartElement) continue;
            const std::string_view name = sc.localName();
            if (name == "workbookPr") {
                date1904_ = isTrue(sc.attributeValue("date1904"));
            } else if (name == "workbookView") {
                if (activeTab < 0) activeTab = std::max(0, toInt(sc.attributeValue("activeTab"), 0));
            } else if (name == "sheet") {
                SheetInfo info;
                info.name = qstr(sc.attributeValue("name"));
                const std::string_view state = sc.attributeValue("state");
                info.hidden = state == "hidden" || state == "veryHidden";
                // r:id; the relationship namespace prefix varies, the local name does not.
                std::string id;
                for (const XmlAttribute& a : sc.attributes())
                    if (a.localName == "id" && a.qualifiedName != "id") id = std::string(a.value);
                if (sheets.size() >= 10000) return partError(entry, QStringLiteral("工作表太多"));
                sheets.emplace_back(std::move(info), std::move(id));
            } else if (name == "definedName") {
                const std::string definedName(sc.attributeValue("name"));
                const int sheet = toInt(sc.attributeValue("localSheetId"), -1);
                std::string text;
                if (!sc.readElementText(text)) break;
                if (definedName == "_xlnm.Print_Titles" && sheet >= 0) printTitles[sheet] = qstr(text);
            }
        }
        return Status::ok();
    });
}

Status XlsxReader::readTheme(const ZipEntry& entry) {
    static const std::array<std::string_view, 12> schemeSlots{"lt1",     "dk1",     "lt2",     "dk2",
                                                              "accent1", "accent2", "accent3", "accent4",
                                                              "accent5", "accent6", "hlink",   "folHlink"};
    return scanPart(entry, [&](XmlScanner& sc) {
        bool inScheme = false;
        int slot = -1;
        for (;;) {
            const XmlScanner::Token t = sc.next();
            if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
            const std::string_view name = sc.localName();
            if (t == XmlScanner::Token::EndElement) {
                if (name == "clrScheme") break; // only the first scheme counts
                continue;
            }
            if (t != XmlScanner::Token::StartElement) continue;
            if (name == "clrScheme") {
                inScheme = true;
            } else if (inScheme) {
                const auto it = std::find(schemeSlots.begin(), schemeSlots.end(), name);
                if (it != schemeSlots.end()) {
                    slot = int(it - schemeSlots.begin());
                } else if (slot >= 0 && (name == "srgbClr" || name == "sysClr")) {
                    std::string_view v =
                        name == "srgbClr" ? sc.attributeValue("val") : sc.attributeValue("lastClr");
                    bool ok = v.size() == 6;
                    uint32_t rgb = 0;
                    for (char ch : v) {
                        const int d = std::isxdigit(uchar(ch))
                                          ? (std::isdigit(uchar(ch)) ? ch - '0' : (ch | 0x20) - 'a' + 10)
                                          : -1;
                        ok = ok && d >= 0;
                        rgb = rgb * 16 + uint32_t(std::max(d, 0));
                    }
                    if (ok) colors_.theme[size_t(slot)] = rgb;
                    slot = -1;
                }
            }
        }
        return Status::ok();
    });
}

struct FontInfo {
    QString name;
    double size = 0;
    bool bold = false;
    bool italic = false;
    ColorSpec color;
};

struct FillInfo {
    ColorSpec color;
};

struct XfSpec {
    int numFmtId = 0;
    int fontId = 0;
    int fillId = 0;
    HAlign horizontal = HAlign::General;
    VAlign vertical = VAlign::Bottom;
    bool wrap = false;
};

HAlign horizontalFrom(std::string_view v) {
    if (v == "left") return HAlign::Left;
    if (v == "center") return HAlign::Center;
    if (v == "right") return HAlign::Right;
    if (v == "fill") return HAlign::Fill;
    if (v == "justify") return HAlign::Justify;
    if (v == "centerContinuous") return HAlign::CenterAcross;
    if (v == "distributed") return HAlign::Distributed;
    return HAlign::General;
}

VAlign verticalFrom(std::string_view v) {
    if (v == "top") return VAlign::Top;
    if (v == "center") return VAlign::Center;
    if (v == "justify") return VAlign::Justify;
    if (v == "distributed") return VAlign::Distributed;
    return VAlign::Bottom;
}

// What styles.xml says, before it is turned into the workbook's styles: number formats by id,
// fonts, fills and cell formats in file order, and a custom legacy palette.
struct StyleRecords {
    std::unordered_map<int, QString> numberFormats;
    std::vector<FontInfo> fonts;
    std::vector<FillInfo> fills;
    std::vector<XfSpec> xfs;
    std::vector<uint32_t> customPalette;
};

// Reads the records of styles.xml, one handler per section (numFmts, fonts, fills, cellXfs,
// colors); other sections are skipped.
class XlsxReader::StylePart {
public:
    StylePart(const XlsxReader& reader, const ZipEntry& entry, XmlScanner& sc, StyleRecords& out)
        : reader_(reader)
        , entry_(entry)
        , sc_(sc)
        , out_(out) {}
    Status run();

private:
    static constexpr size_t kMaxStyleRecords = 200000;
    Status tooMany(const QString& what) const { return reader_.partError(entry_, what); }
    void endElement(std::string_view name);
    void readNumberFormat(std::string_view name);
    Status readFont(std::string_view name);
    Status readFill(std::string_view name);
    Status readCellFormat(std::string_view name);
    void readPaletteColor(std::string_view name);

    const XlsxReader& reader_;
    const ZipEntry& entry_;
    XmlScanner& sc_;
    StyleRecords& out_;
    std::string section_; // the child of styleSheet being read
    FontInfo* font_ = nullptr;
    FillInfo* fill_ = nullptr;
    XfSpec* xf_ = nullptr;
    bool inPattern_ = false;
};

Status XlsxReader::StylePart::run() {
    for (;;) {
        const XmlScanner::Token t = sc_.next();
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
        const std::string_view name = sc_.localName();
        if (t == XmlScanner::Token::EndElement) {
            endElement(name);
            continue;
        }
        if (t != XmlScanner::Token::StartElement) continue;
        if (sc_.depth() == 2) {
            section_ = std::string(name);
            if (section_ != "numFmts" && section_ != "fonts" && section_ != "fills" &&
                section_ != "cellXfs" && section_ != "colors") {
                if (!sc_.skipElement()) break;
                section_.clear();
            }
            continue;
        }
        Status s;
        if (section_ == "numFmts")
            readNumberFormat(name);
        else if (section_ == "fonts")
            s = readFont(name);
        else if (section_ == "fills")
            s = readFill(name);
        else if (section_ == "cellXfs")
            s = readCellFormat(name);
        else if (section_ == "colors")
            readPaletteColor(name);
        if (!s) return s;
    }
    return Status::ok();
}

void XlsxReader::StylePart::endElement(std::string_view name) {
    if (sc_.depth() == 1)
        section_.clear();
    else if (name == "font")
        font_ = nullptr;
    else if (name == "fill")
        fill_ = nullptr;
    else if (name == "xf")
        xf_ = nullptr;
    else if (name == "patternFill")
        inPattern_ = false;
}

void XlsxReader::StylePart::readNumberFormat(std::string_view name) {
    if (name != "numFmt") return;
    const int id = toInt(sc_.attributeValue("numFmtId"), -1);
    if (id >= 0 && out_.numberFormats.size() < kMaxStyleRecords)
        out_.numberFormats[id] = qstr(sc_.attributeValue("formatCode"));
}

Status XlsxReader::StylePart::readFont(std::string_view name) {
    if (name == "font" && sc_.depth() == 3) {
        if (out_.fonts.size() >= kMaxStyleRecords) return tooMany(QStringLiteral("字体记录太多"));
        font_ = &out_.fonts.emplace_back();
    } else if (font_) {
        if (name == "name" || name == "rFont")
            font_->name = qstr(sc_.attributeValue("val"));
        else if (name == "sz")
            font_->size = toDouble(sc_.attributeValue("val"), 0);
        else if (name == "b")
            font_->bold = isTrue(sc_.attributeValue("val", "1"));
        else if (name == "i")
            font_->italic = isTrue(sc_.attributeValue("val", "1"));
        else if (name == "color")
            font_->color = reader_.colors_.read(sc_);
    }
    return Status::ok();
}

Status XlsxReader::StylePart::readFill(std::string_view name) {
    if (name == "fill" && sc_.depth() == 3) {
        if (out_.fills.size() >= kMaxStyleRecords) return tooMany(QStringLiteral("填充记录太多"));
        fill_ = &out_.fills.emplace_back();
    } else if (fill_) {
        if (name == "patternFill") {
            const std::string_view pattern = sc_.attributeValue("patternType", "none");
            inPattern_ = pattern != "none" && pattern != "gray125";
        } else if (inPattern_ && (name == "fgColor" || (name == "bgColor" && !fill_->color.set))) {
            ColorSpec c = reader_.colors_.read(sc_);
            if (c.set && !c.automatic) fill_->color = c;
        } else if (name == "color" && !fill_->color.set) { // first gradient stop
            ColorSpec c = reader_.colors_.read(sc_);
            if (c.set && !c.automatic) fill_->color = c;
        }
    }
    return Status::ok();
}

Status XlsxReader::StylePart::readCellFormat(std::string_view name) {
    if (name == "xf" && sc_.depth() == 3) {
        if (out_.xfs.size() >= kMaxStyleRecords) return tooMany(QStringLiteral("单元格格式记录太多"));
        xf_ = &out_.xfs.emplace_back();
        xf_->numFmtId = toInt(sc_.attributeValue("numFmtId"), 0);
        xf_->fontId = toInt(sc_.attributeValue("fontId"), 0);
        xf_->fillId = toInt(sc_.attributeValue("fillId"), 0);
    } else if (xf_ && name == "alignment") {
        xf_->horizontal = horizontalFrom(sc_.attributeValue("horizontal"));
        xf_->vertical = verticalFrom(sc_.attributeValue("vertical"));
        xf_->wrap = isTrue(sc_.attributeValue("wrapText"));
    }
    return Status::ok();
}

// A custom legacy palette (indexedColors); read in document order.
void XlsxReader::StylePart::readPaletteColor(std::string_view name) {
    if (name != "rgbColor") return;
    const ColorSpec c = reader_.colors_.read(sc_);
    if (out_.customPalette.size() < 64) out_.customPalette.push_back(c.rgb);
}

Status XlsxReader::readStyles(const ZipEntry& entry) {
    StyleRecords records;
    Status s = scanPart(entry, [&](XmlScanner& sc) { return StylePart(*this, entry, sc, records).run(); });
    if (!s) return s;
    // The custom palette changes what indexed colours mean; it comes after fonts and fills in
    // the part, so colours read before it are looked up again only when it exists.
    if (!records.customPalette.empty()) colors_.indexed = records.customPalette;
    for (FontInfo& f : records.fonts)
        colors_.finish(f.color);
    for (FillInfo& f : records.fills)
        colors_.finish(f.color);

    // The default font is that of the first cell format.
    const int defaultFontId = records.xfs.empty() ? 0 : records.xfs[0].fontId;
    if (defaultFontId >= 0 && size_t(defaultFontId) < records.fonts.size()) {
        const FontInfo& f = records.fonts[size_t(defaultFontId)];
        if (!f.name.isEmpty()) book_.defaultFontName = f.name;
        if (f.size > 0) book_.defaultFontSize = f.size;
    }
    xfs_.clear();
    xfs_.reserve(std::max<size_t>(1, records.xfs.size()));
    for (const XfSpec& spec : records.xfs)
        xfs_.push_back(cellFormatOf(spec, records));
    if (xfs_.empty()) xfs_.push_back(XfInfo{});
    haveStyles_ = true;
    return Status::ok();
}

// One cell format turned into a workbook style (interned) and whether it shows a date.
XfInfo XlsxReader::cellFormatOf(const XfSpec& spec, const StyleRecords& records) {
    Style style;
    XfInfo info;
    if (spec.numFmtId != 0) {
        const auto it = records.numberFormats.find(spec.numFmtId);
        if (it != records.numberFormats.end()) {
            style.numberFormat =
                it->second.compare(u"General", Qt::CaseInsensitive) == 0 ? QString() : it->second;
            info.isDate = xlsx::isDateFormatCode(it->second);
        } else {
            style.numberFormat = xlsx::builtinNumberFormat(spec.numFmtId);
            info.isDate = xlsx::isBuiltinDateFormat(spec.numFmtId);
        }
    }
    if (spec.fontId >= 0 && size_t(spec.fontId) < records.fonts.size()) {
        const FontInfo& f = records.fonts[size_t(spec.fontId)];
        if (f.name != book_.defaultFontName) style.fontName = f.name;
        if (f.size > 0 && f.size != book_.defaultFontSize) style.fontSize = f.size;
        style.bold = f.bold;
        style.italic = f.italic;
        if (f.color.set && !f.color.automatic && f.color.rgb != 0) {
            style.hasFontColor = true;
            style.fontRgb = f.color.rgb;
        }
    }
    if (spec.fillId >= 0 && size_t(spec.fillId) < records.fills.size() &&
        records.fills[size_t(spec.fillId)].color.set) {
        const ColorSpec& c = records.fills[size_t(spec.fillId)].color;
        style.hasFill = true;
        style.fillRgb = c.rgb;
        style.fillPalette = c.paletteIndex > 0 ? c.paletteIndex : nearestPaletteIndex(c.rgb);
    }
    style.horizontal = spec.horizontal;
    style.vertical = spec.vertical;
    style.wrapText = spec.wrap;
    info.style = book_.internStyle(style);
    return info;
}

Status XlsxReader::readSharedStrings(const ZipEntry& entry, std::vector<SharedText>& out) const {
    out.clear();
    return scanPart(entry, [&](XmlScanner& sc) {
        std::string text;
        bool inItem = false;
        for (;;) {
            const XmlScanner::Token t = sc.next();
            if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
            if (t == XmlScanner::Token::StartElement) {
                const std::string_view name = sc.localName();
                if (name == "sst") {
                    // Never trust the count for more than the part could hold (<si/> is 5 bytes).
                    const int64_t count = toInt(sc.attributeValue("uniqueCount"), 0);
                    out.reserve(size_t(std::clamp<int64_t>(count, 0, int64_t(entry.size / 5))));
                } else if (name == "si") {
                    inItem = true;
                    text.clear();
                } else if (name == "t" && inItem) {
                    if (!sc.readElementText(text)) break;
                } else if (name == "rPh" || name == "phoneticPr") {
                    if (!sc.skipElement()) break;
                }
            } else if (t == XmlScanner::Token::EndElement && inItem && sc.localName() == "si") {
                if (out.size() >= kMaxSharedStrings)
                    return partError(
                        entry,
                        QStringLiteral("共享字符串超过 %1 个，超出了能读入的上限").arg(kMaxSharedStrings));
                out.push_back(ooxmlText(text));
                inItem = false;
            }
        }
        return Status::ok();
    });
}

QString cellName(int32_t row, int32_t column) {
    return columnAddress(column + 1, row + 1);
}

enum class CellType { Number, Shared, FormulaString, Inline, Boolean, Error, Date, Invalid };

CellType cellTypeOf(std::string_view t) {
    if (t == "n") return CellType::Number;
    if (t == "s") return CellType::Shared;
    if (t == "str") return CellType::FormulaString;
    if (t == "inlineStr") return CellType::Inline;
    if (t == "b") return CellType::Boolean;
    if (t == "e") return CellType::Error;
    if (t == "d") return CellType::Date;
    return CellType::Invalid;
}

Status XlsxReader::resolvePendingStrings(const ZipEntry& entry, Sheet& sheet,
                                         const std::vector<SharedText>& strings) const {
    for (SheetRow& row : sheet.rows) {
        for (Cell& cell : row.cells) {
            if (cell.value.type != CellValue::Type::String || cell.value.number == kNoPendingIndex) continue;
            const double index = cell.value.number - 1;
            cell.value.number = 0;
            if (index >= double(strings.size()))
                return partError(entry,
                                 QStringLiteral("单元格 %1 引用的共享字符串编号 %2 不存在（共有 %3 个）")
                                     .arg(cellName(row.index, int32_t(cell.column)))
                                     .arg(qint64(index))
                                     .arg(strings.size()));
            cell.value.text = strings[size_t(index)];
        }
    }
    return Status::ok();
}

// Reads one worksheet part into a Sheet, one handler per element: <row> and <c> inside
// <sheetData>, the sheet-wide settings at the top level, and the records of <cols>,
// <mergeCells> and <rowBreaks>. A handler that meets the end of the scan (a scanner error:
// an element cannot end the document) sets `stopped_`; scanPart then reports the error.
class XlsxReader::SheetPart {
public:
    SheetPart(XlsxReader& reader, const ZipEntry& entry, Sheet& sheet, XmlScanner& sc,
              const std::vector<SharedText>* strings, UsedRangeStream* stream)
        : reader_(reader)
        , entry_(entry)
        , sheet_(sheet)
        , sc_(sc)
        , strings_(strings)
        , stream_(stream) {}
    Status run();
    bool streamRefused() const { return streamRefused_; }

private:
    enum class Section { None, SheetData, Cols, Merges, RowBreaks, Other };
    // Shared formulas: the master cell's A1 text and place by shared index; the other
    // cells of the group carry only the index and get the master's text shifted to them.
    struct SharedMaster {
        QString formula;
        int32_t row;
        int32_t column;
    };

    // What a cell's content gave: its <v> text and its inline string, when present.
    struct CellContent {
        std::string_view value;
        std::string_view inlineText;
        bool hasValue = false;
        bool hasInline = false;
    };

    Status cellError(const QString& message) const { return reader_.partError(entry_, message); }
    SheetRow& appendRow(int32_t index);
    Status readCell(int depth);
    Status beginCell(std::string_view ref, std::string_view style, bool hasStyle, std::string_view type,
                     bool hasType, CellType& cellType, const XfInfo*& xf, int32_t& cellRow);
    Status storeCell(CellType type, const XfInfo& xf, int32_t cellRow, const CellContent& content);
    Status readPlainCells();
    Status readCellChildren(int depth, int32_t cellRow, bool& hasValue, bool& hasInline);
    void readFormula(int32_t cellRow);
    bool readInlineText();
    Status cellValueOf(CellType type, const XfInfo& xf, int32_t cellRow, const CellContent& content,
                       CellValue& cellValue) const;
    Status readRow();
    Status readTopLevel(std::string_view name);
    void readFormatProperties();
    void readPageMargins();
    void readPageSetup();
    void readSheetProperties();
    Status readColumns();
    Status readMerge();
    void readBreak();

    XlsxReader& reader_;
    const ZipEntry& entry_;
    Sheet& sheet_;
    XmlScanner& sc_;
    const std::vector<SharedText>* strings_;
    // Streaming: each row goes to stream_ once complete; its emptied cell storage is kept in
    // spareCells_ for the next row, and rows that carry no height or visibility are dropped.
    UsedRangeStream* stream_;
    std::vector<Cell> spareCells_;
    bool streamRefused_ = false;
    void handOver(SheetRow& row);
    Section section_ = Section::None;
    bool stopped_ = false;
    std::string value_, formula_, inlineText_;
    std::unordered_map<uint64_t, SharedMaster> sharedFormulas_;
    uint64_t sharedIndex_ = 0;
    bool sharedFormula_ = false;
    int32_t rowIndex_ = -1, column_ = -1;
    int64_t cells_ = 0;
    int64_t columnRecords_ = 0;
    size_t lastRowCells_ = 0;
    bool fitToPage_ = false;
    // Rows and cells are appended in file order; a part that is out of order (which
    // Excel never writes) is put in order once at the end instead of by costly inserts.
    bool unordered_ = false;
};

Status XlsxReader::readSheet(const ZipEntry& entry, Sheet& sheet, const std::vector<SharedText>* strings,
                             UsedRangeStream* stream, bool* refused) {
    sheet.defaultColumnWidth = 48; // 8.43 characters of Calibri 11
    sheet.defaultRowHeight = 15;
    return scanPart(entry, [&](XmlScanner& sc) -> Status {
        SheetPart part(*this, entry, sheet, sc, strings, stream);
        Status s = part.run();
        if (refused) *refused = part.streamRefused();
        return s;
    });
}

Status XlsxReader::SheetPart::run() {
    for (;;) {
        if (section_ == Section::SheetData && xlsx::plainCellPath()) {
            if (Status s = readPlainCells(); !s) return s;
        }
        const XmlScanner::Token t = sc_.next();
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
        if (t == XmlScanner::Token::EndElement) {
            if (sc_.depth() == 1) section_ = Section::None;
            continue;
        }
        if (t != XmlScanner::Token::StartElement) continue;
        const std::string_view name = sc_.localName();
        const int depth = sc_.depth();

        Status s;
        if (section_ == Section::SheetData) {
            if (name == "c")
                s = readCell(depth);
            else if (name == "row")
                s = readRow();
            else if (!sc_.skipElement())
                stopped_ = true;
        } else if (depth == 2) {
            s = readTopLevel(name);
        } else if (section_ == Section::Cols && name == "col") {
            s = readColumns();
        } else if (section_ == Section::Merges && name == "mergeCell") {
            s = readMerge();
        } else if (section_ == Section::RowBreaks && name == "brk") {
            readBreak();
        }
        if (!s) return s;
        if (stopped_) break;
    }
    if (stream_) {
        if (!stopped_ && !sheet_.rows.empty()) handOver(sheet_.rows.back());
        if (streamRefused_) return Status::ok();
    }
    if (unordered_) putInOrder(sheet_);
    sheet_.pageSetup.fitToPage = fitToPage_;
    std::sort(sheet_.rowBreaks.begin(), sheet_.rowBreaks.end());
    sheet_.rowBreaks.erase(std::unique(sheet_.rowBreaks.begin(), sheet_.rowBreaks.end()),
                           sheet_.rowBreaks.end());
    return Status::ok();
}

SheetRow& XlsxReader::SheetPart::appendRow(int32_t index) {
    if (!sheet_.rows.empty()) {
        SheetRow& last = sheet_.rows.back();
        if (last.index == index) return last;
        if (last.index > index) unordered_ = true;
        if (stream_) {
            handOver(last);
        } else {
            // Give back what was reserved for the previous row and not used.
            if (last.cells.capacity() > last.cells.size() + last.cells.size() / 2 + 4) last.cells.shrink_to_fit();
            lastRowCells_ = last.cells.size();
        }
    }
    SheetRow& row = sheet_.rows.emplace_back();
    row.index = index;
    if (stream_)
        row.cells.swap(spareCells_);
    else if (lastRowCells_)
        row.cells.reserve(std::min<size_t>(lastRowCells_, 1024));
    return row;
}

// Streaming: the row is complete; the stream takes its cells, the storage is kept for the next
// row, and the row itself stays only when it carries a height or is hidden. A refusal stops
// the part (it is read again whole).
void XlsxReader::SheetPart::handOver(SheetRow& row) {
    if (streamRefused_) return;
    if (!stream_->takeRow(row)) {
        streamRefused_ = true;
        stopped_ = true;
        return;
    }
    spareCells_.swap(row.cells);
    spareCells_.clear();
    if (row.height < 0 && !row.hidden) sheet_.rows.pop_back();
}

// A cell: <c r="B3" s="2" t="s"><f>…</f><v>…</v><is>…</is></c>
Status XlsxReader::SheetPart::readCell(int depth) {
    std::string_view ref, style, type;
    bool hasStyle = false, hasType = false;
    for (const XmlAttribute& a : sc_.attributes()) {
        if (a.localName == "r") {
            ref = a.value;
        } else if (a.localName == "s") {
            style = a.value;
            hasStyle = true;
        } else if (a.localName == "t") {
            type = a.value;
            hasType = true;
        }
    }
    CellType cellType;
    const XfInfo* xf;
    int32_t cellRow;
    if (Status s = beginCell(ref, style, hasStyle, type, hasType, cellType, xf, cellRow); !s) return s;
    value_.clear();
    formula_.clear();
    inlineText_.clear();
    CellContent content;
    if (!sc_.isEmptyElement()) {
        if (Status s = readCellChildren(depth, cellRow, content.hasValue, content.hasInline); !s || stopped_)
            return s;
    } else {
        sc_.next(); // the end of <c/>
    }
    content.value = value_;
    content.inlineText = inlineText_;
    return storeCell(cellType, *xf, cellRow, content);
}

// The checks of a cell's attributes (r, s, t; the last one of each counts): its type, its
// style and its row, and column_ set to its column.
Status XlsxReader::SheetPart::beginCell(std::string_view ref, std::string_view style, bool hasStyle,
                                        std::string_view type, bool hasType, CellType& cellType,
                                        const XfInfo*& xf, int32_t& cellRow) {
    uint64_t styleIndex = 0;
    if (hasStyle && !parseUnsigned(style, styleIndex))
        return cellError(QStringLiteral("单元格的样式编号“%1”无效").arg(qstr(style)));
    cellType = CellType::Number;
    if (hasType) {
        cellType = cellTypeOf(type);
        if (cellType == CellType::Invalid) return cellError(QStringLiteral("单元格的类型“%1”无效").arg(qstr(type)));
    }
    if (rowIndex_ < 0) rowIndex_ = 0;
    cellRow = rowIndex_;
    if (!ref.empty()) {
        if (!parseCellReference(ref, cellRow, column_))
            return cellError(QStringLiteral("单元格引用“%1”无效或超出了 XFD1048576").arg(qstr(ref)));
    } else {
        if (column_ + 1 >= kMaxColumns)
            return cellError(QStringLiteral("第 %1 行的单元格超出了 XFD 列").arg(rowIndex_ + 1));
        ++column_;
    }
    if (styleIndex >= reader_.xfs_.size())
        return cellError(QStringLiteral("单元格 %1 的样式编号 %2 不存在（样式表只有 %3 个单元格格式）")
                             .arg(cellName(cellRow, column_))
                             .arg(styleIndex)
                             .arg(reader_.xfs_.size()));
    xf = &reader_.xfs_[size_t(styleIndex)];
    return Status::ok();
}

// The cell read at (cellRow, column_) with the formula in formula_, added to its row.
Status XlsxReader::SheetPart::storeCell(CellType type, const XfInfo& xf, int32_t cellRow,
                                        const CellContent& content) {
    CellValue cellValue;
    if (Status s = cellValueOf(type, xf, cellRow, content, cellValue); !s) return s;

    // An error constant written as a formula of its own (as the writer does, having
    // no other way) is the error value itself.
    if (!formula_.empty() && isErrorLiteral(formula_)) {
        cellValue = CellValue::fromError(sharedTextFromUtf8(formula_));
        formula_.clear();
    }
    if (cellValue.isEmpty() && formula_.empty() && xf.style == 0) return Status::ok();
    if (++cells_ > kMaxWorkbookCells ||
        reader_.cells_.fetch_add(1, std::memory_order_relaxed) >= kMaxWorkbookCells)
        return cellError(QStringLiteral("单元格超过 %1 个，超出了能读入的上限").arg(kMaxWorkbookCells));
    SheetRow& row = appendRow(cellRow);
    if (!row.cells.empty() && row.cells.back().column >= uint32_t(column_)) unordered_ = true;
    Cell* cell = &row.cells.emplace_back();
    cell->column = uint32_t(column_);
    cell->style = xf.style;
    cell->value = std::move(cellValue);
    if (!formula_.empty()) {
        formula_.insert(formula_.begin(), '=');
        cell->formula = ooxmlText(formula_);
    }
    return Status::ok();
}

namespace {

// One cell in the plainest form a sheet part holds it, parsed straight from the bytes:
// <c r="…" s="…" t="…"> (any of the three, each once, double quotes, single spaces) that is
// empty or holds <v>…</v> or <is><t>…</t></is> (xml:space="preserve" allowed), with texts
// that need no decoding. Anything else (formulas, rich or entity-bearing text, other
// attributes or children, whitespace between tags) is left to the scanner, which reads it
// the same way more slowly and is the one to report malformed input.
struct PlainCell {
    enum class Scan { Read, NotPlain, Incomplete };
    std::string_view ref, style, type;
    bool hasRef = false, hasStyle = false, hasType = false;
    std::string_view value, inlineText;
    bool hasValue = false, hasInline = false;
    size_t length = 0; // bytes from "<c" to the end of "</c>" or "/>"

    static constexpr std::string_view kInline = "<is><t>";
    static constexpr std::string_view kPreservedInline = "<is><t xml:space=\"preserve\">";

    static bool plainText(std::string_view text) {
        return !std::memchr(text.data(), '&', text.size()) && !std::memchr(text.data(), '\r', text.size());
    }

    // The text up to the next '<' and the closing tag `close` after it.
    static Scan textUntil(const char*& p, const char* e, std::string_view close, std::string_view& text) {
        const char* lt = static_cast<const char*>(std::memchr(p, '<', size_t(e - p)));
        if (!lt || size_t(e - lt) < close.size()) return Scan::Incomplete;
        text = std::string_view(p, size_t(lt - p));
        if (std::string_view(lt, close.size()) != close || !plainText(text)) return Scan::NotPlain;
        p = lt + close.size();
        return Scan::Read;
    }

    static bool startsWith(const char* p, const char* e, std::string_view what) {
        return size_t(e - p) >= what.size() && std::memcmp(p, what.data(), what.size()) == 0;
    }

    Scan scan(std::string_view bytes) {
        const char* const b = bytes.data();
        const char* const e = b + bytes.size();
        if (bytes.size() < 3) return Scan::Incomplete;
        if (b[0] != '<' || b[1] != 'c' || (b[2] != ' ' && b[2] != '>' && b[2] != '/')) return Scan::NotPlain;
        const char* p = b + 2;
        bool empty = false;
        for (;;) {
            if (p == e) return Scan::Incomplete;
            if (*p == '>') {
                ++p;
                break;
            }
            if (*p == '/') {
                if (p + 1 == e) return Scan::Incomplete;
                if (p[1] != '>') return Scan::NotPlain;
                p += 2;
                empty = true;
                break;
            }
            if (*p != ' ') return Scan::NotPlain;
            if (e - p < 4) return Scan::Incomplete;
            if (p[2] != '=' || p[3] != '"') return Scan::NotPlain;
            std::string_view* slot;
            bool* seen;
            switch (p[1]) {
            case 'r': slot = &ref; seen = &hasRef; break;
            case 's': slot = &style; seen = &hasStyle; break;
            case 't': slot = &type; seen = &hasType; break;
            default: return Scan::NotPlain;
            }
            if (*seen) return Scan::NotPlain; // a repeated attribute is the scanner's to refuse
            const char* v0 = p + 4;
            const char* v1 = static_cast<const char*>(std::memchr(v0, '"', size_t(e - v0)));
            if (!v1) return Scan::Incomplete;
            for (const char* q = v0; q < v1; ++q)
                if (*q == '<' || *q == '&' || *q == '\n' || *q == '\r' || *q == '\t') return Scan::NotPlain;
            *slot = std::string_view(v0, size_t(v1 - v0));
            *seen = true;
            p = v1 + 1;
        }
        if (!empty) {
            for (;;) {
                if (e - p < 4) return Scan::Incomplete;
                if (std::memcmp(p, "</c>", 4) == 0) {
                    p += 4;
                    break;
                }
                if (std::memcmp(p, "<v>", 3) == 0) {
                    if (hasValue) return Scan::NotPlain;
                    p += 3;
                    if (Scan r = textUntil(p, e, "</v>", value); r != Scan::Read) return r;
                    hasValue = true;
                } else if (startsWith(p, e, kInline) || startsWith(p, e, kPreservedInline)) {
                    if (hasInline) return Scan::NotPlain;
                    p += p[kInline.size() - 1] == '>' ? kInline.size() : kPreservedInline.size();
                    if (Scan r = textUntil(p, e, "</t></is>", inlineText); r != Scan::Read) return r;
                    hasInline = true;
                } else {
                    // A prefix of a form above may just be cut off by the end of the bytes.
                    if (size_t(e - p) < kPreservedInline.size()) return Scan::Incomplete;
                    return Scan::NotPlain;
                }
            }
        }
        length = size_t(p - b);
        return Scan::Read;
    }
};

} // namespace

// Cells in their plainest form straight from the scanner's bytes, as many as follow; the
// first that is not plain is left for the scanner.
Status XlsxReader::SheetPart::readPlainCells() {
    constexpr size_t kWindow = 64 * 1024;
    for (;;) {
        const std::string_view bytes = sc_.pending(kWindow);
        size_t used = 0;
        PlainCell::Scan result = PlainCell::Scan::NotPlain;
        while (used < bytes.size()) {
            PlainCell cell;
            result = cell.scan(bytes.substr(used));
            if (result != PlainCell::Scan::Read) break;
            CellType cellType;
            const XfInfo* xf;
            int32_t cellRow;
            Status s = beginCell(cell.ref, cell.style, cell.hasStyle, cell.type, cell.hasType, cellType, xf, cellRow);
            if (s) {
                formula_.clear();
                s = storeCell(cellType, *xf, cellRow,
                              CellContent{cell.value, cell.inlineText, cell.hasValue, cell.hasInline});
            }
            if (!s) {
                sc_.consume(used);
                return s;
            }
            used += cell.length;
            if (stopped_) break;
        }
        sc_.consume(used);
        // Only a cell cut off by the end of the window is worth a refill; and only when
        // the refill can bring more than the window already held.
        if (stopped_ || result != PlainCell::Scan::Incomplete || used == 0) return Status::ok();
    }
}

// The <v>, <f> and <is> children of a cell; other children are skipped.
Status XlsxReader::SheetPart::readCellChildren(int depth, int32_t cellRow, bool& hasValue, bool& hasInline) {
    for (;;) {
        const XmlScanner::Token t = sc_.next();
        if (t == XmlScanner::Token::EndElement && sc_.depth() == depth - 1) break;
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) {
            stopped_ = true;
            return Status::ok();
        }
        if (t != XmlScanner::Token::StartElement) continue;
        const std::string_view child = sc_.localName();
        if (child == "v") {
            hasValue = true;
            if (!sc_.readElementText(value_)) stopped_ = true;
        } else if (child == "f") {
            readFormula(cellRow);
        } else if (child == "is") {
            hasInline = true;
            if (!readInlineText()) stopped_ = true;
        } else {
            if (!sc_.skipElement()) stopped_ = true;
        }
        if (stopped_) return Status::ok();
    }
    return Status::ok();
}

// <f>: the formula text, or for a cell of a shared-formula group the master's text shifted here.
void XlsxReader::SheetPart::readFormula(int32_t cellRow) {
    sharedFormula_ = false;
    for (const XmlAttribute& a : sc_.attributes()) {
        if (a.localName == "t")
            sharedFormula_ = a.value == "shared";
        else if (a.localName == "si" && !parseUnsigned(a.value, sharedIndex_))
            sharedIndex_ = UINT64_MAX;
    }
    if (!sc_.readElementText(formula_)) {
        stopped_ = true;
        return;
    }
    if (!sharedFormula_ || sharedIndex_ == UINT64_MAX) return;
    if (!formula_.empty()) {
        sharedFormulas_[sharedIndex_] =
            SharedMaster{QString::fromUtf8(formula_.data(), qsizetype(formula_.size())), cellRow, column_};
    } else if (auto master = sharedFormulas_.find(sharedIndex_); master != sharedFormulas_.end()) {
        const QString shifted = r1c1ToA1(
            a1ToR1C1(master->second.formula, master->second.row, master->second.column), cellRow, column_);
        const QByteArray bytes = shifted.toUtf8();
        formula_.assign(bytes.constData(), size_t(bytes.size()));
    }
}

// <is>: the inline string's <t>, leaving out phonetic runs. False when the scan ended.
bool XlsxReader::SheetPart::readInlineText() {
    const int isDepth = sc_.depth();
    for (;;) {
        const XmlScanner::Token t = sc_.next();
        if (t == XmlScanner::Token::EndElement && sc_.depth() == isDepth - 1) return true;
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) return false;
        if (t != XmlScanner::Token::StartElement) continue;
        if (sc_.localName() == "t") {
            if (!sc_.readElementText(inlineText_)) return false;
        } else if (sc_.localName() == "rPh") {
            if (!sc_.skipElement()) return false;
        }
    }
}

// The value of a cell from its type, its <v> text and its number format.
Status XlsxReader::SheetPart::cellValueOf(CellType type, const XfInfo& xf, int32_t cellRow,
                                          const CellContent& content, CellValue& cellValue) const {
    const std::string_view value = content.value;
    const bool hasValue = content.hasValue;
    switch (type) {
    case CellType::Number:
        if (hasValue && !value.empty()) {
            double number;
            if (!parseDouble(value, number))
                return cellError(QStringLiteral("单元格 %1 的数值“%2”无效")
                                     .arg(cellName(cellRow, column_), qstr(value.substr(0, 40))));
            if (xf.isDate)
                cellValue =
                    CellValue::fromDateTime(reader_.date1904_ ? exceldate::serialFrom1904(number) : number);
            else
                cellValue = CellValue::fromNumber(number);
        }
        break;
    case CellType::Shared:
        if (hasValue) {
            uint64_t index;
            if (!parseUnsigned(value, index))
                return cellError(QStringLiteral("单元格 %1 的共享字符串编号“%2”无效")
                                     .arg(cellName(cellRow, column_), qstr(value.substr(0, 40))));
            if (strings_) {
                if (index >= strings_->size())
                    return cellError(QStringLiteral("单元格 %1 引用的共享字符串编号 %2 不存在（共有 %3 个）")
                                         .arg(cellName(cellRow, column_))
                                         .arg(index)
                                         .arg(strings_->size()));
                cellValue = CellValue::fromString((*strings_)[size_t(index)]);
            } else {
                if (index >= uint64_t(1) << 40)
                    return cellError(QStringLiteral("单元格 %1 引用的共享字符串编号 %2 不存在")
                                         .arg(cellName(cellRow, column_))
                                         .arg(index));
                cellValue.type = CellValue::Type::String;
                cellValue.number = double(index + 1);
            }
        }
        break;
    case CellType::FormulaString:
        cellValue = CellValue::fromString(ooxmlText(value));
        break;
    case CellType::Inline:
        cellValue = CellValue::fromString(ooxmlText(content.hasInline ? content.inlineText : value));
        break;
    case CellType::Boolean:
        if (hasValue) cellValue = CellValue::fromBoolean(isTrue(value));
        break;
    case CellType::Error:
        cellValue = CellValue::fromError(sharedTextFromUtf8(value));
        break;
    default:
        if (hasValue && !value.empty()) {
            double serial;
            if (!xlsx::isoDateToSerial(value, serial))
                return cellError(QStringLiteral("单元格 %1 的日期“%2”无效")
                                     .arg(cellName(cellRow, column_), qstr(value.substr(0, 40))));
            cellValue = CellValue::fromDateTime(serial);
        }
        break;
    }
    return Status::ok();
}

// <row r="…" ht="…" hidden="…">: the row's place, height and visibility.
Status XlsxReader::SheetPart::readRow() {
    float height = -1;
    bool hidden = false;
    bool hasIndex = false;
    for (const XmlAttribute& a : sc_.attributes()) {
        if (a.localName == "r") {
            uint64_t r;
            if (!parseUnsigned(a.value, r) || r < 1 || r > uint64_t(kMaxRows))
                return cellError(QStringLiteral("行号“%1”无效或超出了第 1048576 行").arg(qstr(a.value)));
            rowIndex_ = int32_t(r - 1);
            hasIndex = true;
        } else if (a.localName == "ht") {
            height = float(toDouble(a.value, -1));
        } else if (a.localName == "hidden") {
            hidden = isTrue(a.value);
        }
    }
    if (!hasIndex) {
        if (rowIndex_ + 1 >= kMaxRows) return cellError(QStringLiteral("行超出了第 1048576 行"));
        ++rowIndex_;
    }
    column_ = -1;
    if (height >= 0 || hidden) {
        SheetRow& row = appendRow(rowIndex_);
        if (height >= 0 && height <= 409.5f) row.height = height;
        row.hidden = hidden;
    }
    return Status::ok();
}

// A child of <worksheet>: opens a section or carries a sheet-wide setting.
Status XlsxReader::SheetPart::readTopLevel(std::string_view name) {
    section_ = Section::Other;
    if (name == "sheetData") {
        section_ = Section::SheetData;
    } else if (name == "cols") {
        section_ = Section::Cols;
    } else if (name == "mergeCells") {
        section_ = Section::Merges;
    } else if (name == "rowBreaks") {
        section_ = Section::RowBreaks;
    } else if (name == "sheetFormatPr") {
        readFormatProperties();
    } else if (name == "pageMargins") {
        readPageMargins();
    } else if (name == "pageSetup") {
        readPageSetup();
    } else if (name == "sheetProtection") {
        sheet_.isProtected = isTrue(sc_.attributeValue("sheet"));
    } else if (name == "sheetPr") {
        section_ = Section::None;
        readSheetProperties();
    } else if (name != "dimension") {
        // Views, conditional formats, drawings, extensions: nothing the model keeps.
        if (!sc_.skipElement()) stopped_ = true;
        section_ = Section::None;
    }
    return Status::ok();
}

void XlsxReader::SheetPart::readFormatProperties() {
    const double base = toDouble(sc_.attributeValue("baseColWidth"), 8);
    if (const XmlAttribute* w = sc_.attribute("defaultColWidth"))
        sheet_.defaultColumnWidth = xlsx::characterWidthToPoints(toDouble(w->value, 8.43));
    else
        // Excel pads the base width by 5 pixels and rounds up to a multiple of 8.
        sheet_.defaultColumnWidth = std::ceil((std::trunc(base * 7) + 5) / 8) * 8 * 0.75;
    const double h = toDouble(sc_.attributeValue("defaultRowHeight"), -1);
    if (h > 0 && h <= 409.5) sheet_.defaultRowHeight = h;
}

void XlsxReader::SheetPart::readPageMargins() {
    PageSetup& p = sheet_.pageSetup;
    p.marginLeft = toDouble(sc_.attributeValue("left"), p.marginLeft);
    p.marginRight = toDouble(sc_.attributeValue("right"), p.marginRight);
    p.marginTop = toDouble(sc_.attributeValue("top"), p.marginTop);
    p.marginBottom = toDouble(sc_.attributeValue("bottom"), p.marginBottom);
    p.marginHeader = toDouble(sc_.attributeValue("header"), p.marginHeader);
    p.marginFooter = toDouble(sc_.attributeValue("footer"), p.marginFooter);
}

void XlsxReader::SheetPart::readPageSetup() {
    PageSetup& p = sheet_.pageSetup;
    p.paperSize = std::clamp(toInt(sc_.attributeValue("paperSize"), p.paperSize), 1, 255);
    p.landscape = sc_.attributeValue("orientation") == "landscape";
    p.scale = std::clamp(toInt(sc_.attributeValue("scale"), 100), 10, 400);
    p.fitToWidth = std::clamp(toInt(sc_.attributeValue("fitToWidth"), 1), 0, 32767);
    p.fitToHeight = std::clamp(toInt(sc_.attributeValue("fitToHeight"), 1), 0, 32767);
}

// <sheetPr>: only its pageSetUpPr child matters.
void XlsxReader::SheetPart::readSheetProperties() {
    const int prDepth = sc_.depth();
    if (sc_.isEmptyElement()) return;
    for (;;) {
        const XmlScanner::Token t = sc_.next();
        if (t == XmlScanner::Token::EndElement && sc_.depth() == prDepth - 1) break;
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
        if (t == XmlScanner::Token::StartElement && sc_.localName() == "pageSetUpPr")
            fitToPage_ = isTrue(sc_.attributeValue("fitToPage"));
    }
}

// <col min max width hidden>: the width of a run of columns.
Status XlsxReader::SheetPart::readColumns() {
    const int first = toInt(sc_.attributeValue("min"), 0), last = toInt(sc_.attributeValue("max"), 0);
    if (first < 1 || last < first || last > kMaxColumns)
        return cellError(QStringLiteral("列宽记录的列范围 %1-%2 无效").arg(first).arg(last));
    const bool hidden = isTrue(sc_.attributeValue("hidden"));
    const XmlAttribute* w = sc_.attribute("width");
    if (!w && !hidden) return Status::ok();
    const double width = hidden ? 0 : xlsx::characterWidthToPoints(toDouble(w->value, 0));
    columnRecords_ += last - first + 1;
    if (columnRecords_ > 4 * int64_t(kMaxColumns))
        return cellError(QStringLiteral("列宽记录太多（重复覆盖了同样的列）"));
    for (int c = first; c <= last; ++c)
        sheet_.columnWidths[c - 1] = width;
    return Status::ok();
}

Status XlsxReader::SheetPart::readMerge() {
    const std::string_view ref = sc_.attributeValue("ref");
    const size_t colon = ref.find(':');
    CellRange range;
    bool ok = colon != std::string_view::npos &&
              parseCellReference(ref.substr(0, colon), range.firstRow, range.firstColumn) &&
              parseCellReference(ref.substr(colon + 1), range.lastRow, range.lastColumn);
    if (!ok) return cellError(QStringLiteral("合并区域“%1”无效").arg(qstr(ref)));
    if (range.lastRow < range.firstRow) std::swap(range.lastRow, range.firstRow);
    if (range.lastColumn < range.firstColumn) std::swap(range.lastColumn, range.firstColumn);
    if (sheet_.merges.size() >= 1000000) return cellError(QStringLiteral("合并区域太多"));
    if (range.rowCount() > 1 || range.columnCount() > 1) sheet_.merges.push_back(range);
    return Status::ok();
}

void XlsxReader::SheetPart::readBreak() {
    const int id = toInt(sc_.attributeValue("id"), -1);
    // The break falls after row `id` (1-based), so the new page starts at id + 1.
    if (id >= 1 && id < kMaxRows && sheet_.rowBreaks.size() < 1026) sheet_.rowBreaks.push_back(id + 1);
}

// Sorts rows by index and cells by column, merging repeated rows and keeping the last of
// repeated cells.
void putInOrder(Sheet& sheet) {
    std::stable_sort(sheet.rows.begin(), sheet.rows.end(),
                     [](const SheetRow& a, const SheetRow& b) { return a.index < b.index; });
    std::vector<SheetRow> rows;
    rows.reserve(sheet.rows.size());
    for (SheetRow& r : sheet.rows) {
        if (!rows.empty() && rows.back().index == r.index) {
            SheetRow& m = rows.back();
            if (r.height >= 0) m.height = r.height;
            m.hidden = m.hidden || r.hidden;
            m.cells.insert(m.cells.end(), std::make_move_iterator(r.cells.begin()),
                           std::make_move_iterator(r.cells.end()));
        } else {
            rows.push_back(std::move(r));
        }
    }
    auto byColumn = [](const Cell& a, const Cell& b) { return a.column < b.column; };
    for (SheetRow& r : rows) {
        std::vector<Cell>& cells = r.cells;
        if (std::adjacent_find(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
                return a.column >= b.column;
            }) == cells.end())
            continue;
        std::stable_sort(cells.begin(), cells.end(), byColumn);
        size_t out = 0;
        for (size_t i = 0; i < cells.size(); ++i) {
            if (out > 0 && cells[out - 1].column == cells[i].column)
                cells[out - 1] = std::move(cells[i]);
            else if (out != i)
                cells[out++] = std::move(cells[i]);
            else
                ++out;
        }
        cells.resize(out);
    }
    sheet.rows = std::move(rows);
}

// "Sheet1!$1:$2" or "'My sheet'!$A:$B,'My sheet'!$1:$3": the rows repeated on every page.
bool parsePrintTitleRows(const QString& text, int& first, int& last) {
    static const QRegularExpression rows(QStringLiteral("!\\$?(\\d+):\\$?(\\d+)\\s*(,|$)"));
    const QRegularExpressionMatch m = rows.match(text);
    if (!m.hasMatch()) return false;
    first = m.captured(1).toInt() - 1;
    last = m.captured(2).toInt() - 1;
    if (first < 0 || last < first || last >= kMaxRows) return false;
    return true;
}

Status XlsxReader::run() {
    if (Status s = zip_.open(path_); !s) return s;

    // The package relationships name the workbook part; xl/workbook.xml is the usual one.
    std::unordered_map<std::string, Relationship> rels;
    if (Status s = readRelationships("", rels); !s) return s;
    std::string workbookPart;
    for (const auto& [id, r] : rels)
        if (r.type == "officeDocument" && !r.external && zip_.find(r.target)) workbookPart = r.target;
    if (workbookPart.empty() && zip_.find("xl/workbook.xml")) workbookPart = "xl/workbook.xml";
    if (workbookPart.empty())
        return Status::invalidInput(
            zip_.describeFile() +
            QStringLiteral("：这是一个 zip 压缩包，但不是 Excel 工作簿（找不到工作簿部件 xl/workbook.xml）"));
    const ZipEntry* workbookEntry = zip_.find(workbookPart);
    if (QByteArray::fromStdString(workbookPart).toLower().endsWith(".bin"))
        return Status::unsupported(
            zip_.describeFile() +
            QStringLiteral("：这是 Excel 二进制工作簿（.xlsb），不能直接读取；请先另存为 .xlsx"));

    std::unordered_map<std::string, Relationship> workbookRels;
    if (Status s = readRelationships(workbookPart, workbookRels); !s) return s;
    std::vector<std::pair<SheetInfo, std::string>> declared;
    int activeTab = -1;
    std::map<int, QString> printTitles;
    if (Status s = readWorkbookPart(*workbookEntry, declared, activeTab, printTitles); !s) return s;

    const ZipEntry* stylesEntry = nullptr;
    const ZipEntry* stringsEntry = nullptr;
    const ZipEntry* themeEntry = nullptr;
    for (const auto& [id, r] : workbookRels) {
        if (r.external) continue;
        if (r.type == "styles")
            stylesEntry = zip_.find(r.target);
        else if (r.type == "sharedStrings")
            stringsEntry = zip_.find(r.target);
        else if (r.type == "theme")
            themeEntry = zip_.find(r.target);
    }
    if (!stylesEntry) stylesEntry = zip_.find("xl/styles.xml");
    if (!stringsEntry) stringsEntry = zip_.find("xl/sharedStrings.xml");

    // Sheets in workbook order; chart sheets and dialog sheets hold no cells and are left out.
    std::vector<SheetInfo> sheets;
    std::vector<int> tabOfSheet;
    for (size_t i = 0; i < declared.size(); ++i) {
        auto& [info, id] = declared[i];
        const auto it = workbookRels.find(id);
        if (it == workbookRels.end() || it->second.external)
            return partError(*workbookEntry,
                             QStringLiteral("工作表“%1”的关系“%2”不存在").arg(info.name, qstr(id)));
        if (it->second.type != "worksheet") continue;
        info.part = it->second.target;
        if (!zip_.find(info.part))
            return partError(*workbookEntry,
                             QStringLiteral("工作表“%1”的部件“%2”不存在").arg(info.name, qstr(info.part)));
        sheets.push_back(info);
        tabOfSheet.push_back(int(i));
    }
    if (sheets.empty()) return partError(*workbookEntry, QStringLiteral("工作簿中没有工作表"));

    if (themeEntry) {
        if (Status s = readTheme(*themeEntry); !s) return s;
    }
    if (stylesEntry) {
        if (Status s = readStyles(*stylesEntry); !s) return s;
    }

    if (request_) {
        setActiveSheet(tabOfSheet, activeTab);
        if (Status s = readTableSheet(sheets, stringsEntry); !s) return s;
        setPrintTitles(size_t(request_->sheet), tabOfSheet[size_t(request_->sheet)], printTitles);
        return Status::ok();
    }

    // Shared strings and the first sheet are independent parts: a large string table is
    // read on a second thread while the first sheet is read with its string indexes kept
    // for a quick lookup afterwards.
    std::vector<SharedText> strings;
    book_.sheets.resize(sheets.size());
    const bool parallel = stringsEntry && stringsEntry->size > kParallelStringsFloor;
    Status stringsStatus;
    std::thread stringsThread;
    struct Joiner {
        std::thread& t;
        ~Joiner() {
            if (t.joinable()) t.join();
        }
    } joiner{stringsThread};
    if (stringsEntry) {
        if (parallel)
            stringsThread = std::thread([&] {
                stringsStatus = runGuarded([&] { return readSharedStrings(*stringsEntry, strings); });
            });
        else if (Status s = readSharedStrings(*stringsEntry, strings); !s)
            return s;
    }
    Status firstStatus;
    {
        Sheet& sheet = book_.sheets[0];
        sheet.name = sheets[0].name;
        sheet.hidden = sheets[0].hidden;
        firstStatus = readSheet(*zip_.find(sheets[0].part), sheet, parallel ? nullptr : &strings);
    }
    if (stringsThread.joinable()) stringsThread.join();
    if (!stringsStatus) return stringsStatus;
    if (!firstStatus) return firstStatus;
    if (parallel) {
        if (Status s = resolvePendingStrings(*zip_.find(sheets[0].part), book_.sheets[0], strings); !s)
            return s;
    }
    for (size_t i = 1; i < sheets.size(); ++i) {
        Sheet& sheet = book_.sheets[i];
        sheet.name = sheets[i].name;
        sheet.hidden = sheets[i].hidden;
        if (Status s = readSheet(*zip_.find(sheets[i].part), sheet, &strings); !s) return s;
    }

    for (size_t i = 0; i < sheets.size(); ++i) setPrintTitles(i, tabOfSheet[i], printTitles);
    setActiveSheet(tabOfSheet, activeTab);
    return Status::ok();
}

// Print titles are keyed by the position among all sheets of the workbook part.
void XlsxReader::setPrintTitles(size_t sheet, int tab, const std::map<int, QString>& printTitles) {
    const auto it = printTitles.find(tab);
    int first, last;
    if (it != printTitles.end() && parsePrintTitleRows(it->second, first, last)) {
        book_.sheets[sheet].pageSetup.printTitleFirstRow = first;
        book_.sheets[sheet].pageSetup.printTitleLastRow = last;
    }
}

void XlsxReader::setActiveSheet(const std::vector<int>& tabOfSheet, int activeTab) {
    book_.activeSheet = 0;
    for (size_t i = 0; i < tabOfSheet.size(); ++i)
        if (tabOfSheet[i] == std::max(activeTab, 0)) book_.activeSheet = int(i);
}

// For one sheet's table: every sheet is named, the chosen one alone is read, with the shared
// strings first so its rows can be streamed as they come.
Status XlsxReader::readTableSheet(const std::vector<SheetInfo>& sheets, const ZipEntry* stringsEntry) {
    book_.sheets.resize(sheets.size());
    for (size_t i = 0; i < sheets.size(); ++i) {
        book_.sheets[i].name = sheets[i].name;
        book_.sheets[i].hidden = sheets[i].hidden;
    }
    Result<int> chosen = request_->choose(book_);
    if (!chosen.isOk()) return chosen.status();
    const size_t index = size_t(chosen.value());
    request_->sheet = int(index);
    request_->streamed = false;
    std::vector<SharedText> strings;
    if (stringsEntry) {
        if (Status s = readSharedStrings(*stringsEntry, strings); !s) return s;
    }
    const ZipEntry& entry = *zip_.find(sheets[index].part);
    Sheet& sheet = book_.sheets[index];
    if (request_->stream) {
        request_->stream->start(book_);
        bool refused = false;
        if (Status s = readSheet(entry, sheet, &strings, request_->stream, &refused); !s) return s;
        if (!refused) {
            request_->streamed = true;
            return Status::ok();
        }
        // Rows out of order, or a range too large to stream: read the sheet whole.
        Sheet fresh;
        fresh.name = sheet.name;
        fresh.hidden = sheet.hidden;
        sheet = std::move(fresh);
    }
    return readSheet(entry, sheet, &strings);
}

} // namespace

bool XlsxFormat::recognizes(const QByteArray& head) const {
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}

Status XlsxFormat::read(const QString& path, Workbook& workbook) const {
    return readWith(path, workbook, nullptr);
}

Status XlsxFormat::readTable(const QString& path, Workbook& workbook, SheetTableRequest& request) const {
    return readWith(path, workbook, &request);
}

Status XlsxFormat::readWith(const QString& path, Workbook& workbook, SheetTableRequest* request) const {
    Workbook book;
    book.defaultFontName = QStringLiteral("Calibri");
    book.defaultFontSize = 11;
    XlsxReader reader(path, book, request);
    Status s;
    try {
        s = reader.run();
    } catch (const std::bad_alloc&) {
        s = Status::ioError(QStringLiteral("文件“%1”：内存不足，无法读入").arg(native(path)));
    } catch (const std::exception& e) {
        s = Status::ioError(
            QStringLiteral("文件“%1”：读取失败（%2）").arg(native(path), QString::fromLocal8Bit(e.what())));
    }
    if (!s) {
        workbook = Workbook();
        return s;
    }
    workbook = std::move(book);
    return Status::ok();
}

} // namespace quellar
