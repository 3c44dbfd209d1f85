#include "workbook/XmlSpreadsheetFormat.h"

#include "base/ExcelDate.h"
#include "base/TextIO.h"
#include "workbook/FormulaNotation.h"

#include <QDir>
#include <QStringDecoder>

#include <fast_float/fast_float.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace quellar {

namespace {

using Token = XmlScanner::Token;

// ---------------------------------------------------------------------------------------------
// Small value parsers (ASCII, surrounding blanks ignored)

std::string_view trimmed(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool parseInteger(std::string_view s, int64_t& value) {
    s = trimmed(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 15) return false;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    value = negative ? -v : v;
    return true;
}

bool parseReal(std::string_view s, double& value) {
    s = trimmed(s);
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    double v = 0;
    const auto result = fast_float::from_chars(s.data(), s.data() + s.size(), v);
    if (result.ec != std::errc() || result.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool parseFlag(std::string_view s) {
    s = trimmed(s);
    return s == "1" || s == "true" || s == "True" || s == "TRUE";
}

bool parseColor(std::string_view s, uint32_t& rgb) {
    s = trimmed(s);
    if (s.size() != 7 || s[0] != '#') return false;
    uint32_t v = 0;
    for (size_t i = 1; i < 7; ++i) {
        const char c = s[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + uint32_t(d);
    }
    rgb = v;
    return true;
}

// "2026-12-07T09:05:07.250" (time and fraction optional) as a day serial of the 1900 system.
bool parseDateTime(std::string_view s, double& serial) {
    s = trimmed(s);
    auto digits = [&](size_t at, size_t n, int& out) {
        if (at + n > s.size()) return false;
        int v = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            v = v * 10 + (s[i] - '0');
        }
        out = v;
        return true;
    };
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (!digits(0, 4, year) || s.size() < 10 || s[4] != '-' || !digits(5, 2, month) || s[7] != '-' ||
        !digits(8, 2, day))
        return false;
    int64_t millis = 0;
    size_t p = 10;
    if (p < s.size()) {
        if (s[p] != 'T' || !digits(p + 1, 2, hour) || p + 3 >= s.size() || s[p + 3] != ':' ||
            !digits(p + 4, 2, minute))
            return false;
        p += 6;
        if (p < s.size() && s[p] == ':') {
            if (!digits(p + 1, 2, second)) return false;
            p += 3;
            if (p < s.size() && s[p] == '.') {
                ++p;
                int64_t scale = 100;
                size_t start = p;
                for (; p < s.size() && s[p] >= '0' && s[p] <= '9'; ++p) {
                    if (scale > 0) millis += (s[p] - '0') * scale;
                    scale /= 10;
                }
                if (p == start) return false;
            }
        }
        if (p != s.size() || hour > 23 || minute > 59 || second > 59) return false;
    }
    // 1900-02-29 is the day the 1900 system counts though it never was; 1899-12-31 is its day 0.
    if (!exceldate::isValidDate(year, month, day) && !(year == 1900 && month == 2 && day == 29)) return false;
    if (year < 1900 && !(year == 1899 && month == 12 && day == 31)) return false;
    const int64_t days = exceldate::serialFromCivil(year, unsigned(month), unsigned(day));
    const int64_t timeMillis = ((hour * 60 + minute) * 60 + second) * 1000 + millis;
    serial = double(days) + double(timeMillis) / 86400000.0;
    return serial < exceldate::kLastSerial;
}

// The serial as "yyyy-mm-ddThh:mm:ss.fff" at `out` (23 bytes), returning the end; nullptr when it
// is no date of the 1900 system.
char* writeDateTime(char* out, double serial) {
    if (!std::isfinite(serial) || serial < 0 || serial >= exceldate::kLastSerial) return nullptr;
    const exceldate::SerialTime t = exceldate::splitSerial(serial, 86400000);
    const int64_t millis = t.ticks;
    int year, month, day;
    exceldate::civilFromSerial(t.day, year, month, day);
    if (year > 9999 || year < 0) return nullptr;
    auto digits = [&out](int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            out[i] = char('0' + value % 10);
        out += width;
    };
    digits(year, 4);
    *out++ = '-';
    digits(month, 2);
    *out++ = '-';
    digits(day, 2);
    *out++ = 'T';
    digits(int(millis / 3600000), 2);
    *out++ = ':';
    digits(int(millis / 60000 % 60), 2);
    *out++ = ':';
    digits(int(millis / 1000 % 60), 2);
    *out++ = '.';
    digits(int(millis % 1000), 3);
    return out;
}

QString qstr(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

HAlign horizontalFromName(std::string_view v, HAlign fallback) {
    if (v == "Left") return HAlign::Left;
    if (v == "Center") return HAlign::Center;
    if (v == "Right") return HAlign::Right;
    if (v == "Fill") return HAlign::Fill;
    if (v == "Justify") return HAlign::Justify;
    if (v == "CenterAcrossSelection") return HAlign::CenterAcross;
    if (v == "Distributed" || v == "JustifyDistributed") return HAlign::Distributed;
    if (v == "Automatic" || v == "General") return HAlign::General;
    return fallback;
}

VAlign verticalFromName(std::string_view v, VAlign fallback) {
    if (v == "Top") return VAlign::Top;
    if (v == "Center") return VAlign::Center;
    if (v == "Bottom" || v == "Automatic") return VAlign::Bottom;
    if (v == "Justify") return VAlign::Justify;
    if (v == "Distributed" || v == "JustifyDistributed") return VAlign::Distributed;
    return fallback;
}

const char* horizontalName(HAlign a) {
    switch (a) {
    case HAlign::General:
        return "Automatic";
    case HAlign::Left:
        return "Left";
    case HAlign::Center:
        return "Center";
    case HAlign::Right:
        return "Right";
    case HAlign::Fill:
        return "Fill";
    case HAlign::Justify:
        return "Justify";
    case HAlign::CenterAcross:
        return "CenterAcrossSelection";
    case HAlign::Distributed:
        return "Distributed";
    }
    return "Automatic";
}

const char* verticalName(VAlign a) {
    switch (a) {
    case VAlign::Bottom:
        return "Bottom";
    case VAlign::Top:
        return "Top";
    case VAlign::Center:
        return "Center";
    case VAlign::Justify:
        return "Justify";
    case VAlign::Distributed:
        return "Distributed";
    }
    return "Bottom";
}

// Rows of a print-title reference such as "=Sheet1!R1:R2" or "='My sheet'!C1,'My sheet'!R3";
// `sheetName` receives the sheet named before the row part.
bool parsePrintTitles(std::string_view refersTo, int& first, int& last, std::string& sheetName) {
    size_t bang = 0;
    while ((bang = refersTo.find('!', bang)) != std::string_view::npos) {
        size_t end = refersTo.find(',', bang);
        if (end == std::string_view::npos) end = refersTo.size();
        std::string_view part = refersTo.substr(bang + 1, end - bang - 1);
        auto rowNumber = [](std::string_view& p, int64_t& v) {
            if (p.empty() || (p[0] != 'R' && p[0] != 'r')) return false;
            p.remove_prefix(1);
            size_t n = 0;
            while (n < p.size() && p[n] >= '0' && p[n] <= '9')
                ++n;
            if (n == 0 || !parseInteger(p.substr(0, n), v)) return false;
            p.remove_prefix(n);
            return true;
        };
        int64_t a = 0, b = 0;
        std::string_view rest = part;
        if (rowNumber(rest, a)) {
            b = a;
            bool ok = rest.empty();
            if (!ok && rest[0] == ':') {
                rest.remove_prefix(1);
                ok = rowNumber(rest, b) && rest.empty();
            }
            if (ok && a >= 1 && b >= a && b <= kMaxRows) {
                size_t start = refersTo.rfind(',', bang);
                start = start == std::string_view::npos ? 0 : start + 1;
                std::string_view name = refersTo.substr(start, bang - start);
                if (!name.empty() && name[0] == '=') name.remove_prefix(1);
                sheetName.assign(name);
                if (sheetName.size() >= 2 && sheetName.front() == '\'' && sheetName.back() == '\'') {
                    sheetName = sheetName.substr(1, sheetName.size() - 2);
                    for (size_t i = 0; (i = sheetName.find("''", i)) != std::string::npos; ++i)
                        sheetName.erase(i, 1);
                }
                first = int(a - 1);
                last = int(b - 1);
                return true;
            }
        }
        bang = end;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Reader

class Reader {
public:
    Reader(XmlScanner& scanner, Workbook& book)
        : sc_(scanner)
        , book_(book) {}

    Status run() {
        Token t;
        do
            t = sc_.next();
        while (t == Token::Text);
        if (t != Token::StartElement) {
            scanFailed();
            return status_.isOk() ? Status::invalidInput(QStringLiteral("文件中没有内容")) : status_;
        }
        if (sc_.localName() != "Workbook")
            return Status::invalidInput(
                QStringLiteral("不是 XML 表格（XML Spreadsheet 2003）文件：根元素是 <%1>，应为 <Workbook>")
                    .arg(qstr(sc_.qualifiedName())));
        const bool ok = children([&](std::string_view name) {
            if (name == "Styles") return readStyles();
            if (name == "Worksheet") return readWorksheet();
            if (name == "ExcelWorkbook") return readExcelWorkbook();
            if (name == "Names") return readNames(nullptr);
            return skip();
        });
        if (!ok) return status_;
        // Trailing comments and the end of the document.
        while ((t = sc_.next()) != Token::EndDocument)
            if (t == Token::Error) return sc_.status();
        if (book_.sheets.empty())
            return Status::invalidInput(QStringLiteral("文件中没有工作表（Worksheet）"));

        for (const PendingTitles& p : pendingTitles_) {
            const int index = book_.sheetIndex(p.sheet);
            if (index >= 0 && book_.sheets[size_t(index)].pageSetup.printTitleFirstRow < 0) {
                book_.sheets[size_t(index)].pageSetup.printTitleFirstRow = p.first;
                book_.sheets[size_t(index)].pageSetup.printTitleLastRow = p.last;
            }
        }
        int active = activeSheet_ >= 0 ? activeSheet_ : (firstSelected_ >= 0 ? firstSelected_ : 0);
        book_.activeSheet = std::clamp(active, 0, int(book_.sheets.size()) - 1);
        return Status::ok();
    }

private:
    struct PendingTitles {
        QString sheet;
        int first;
        int last;
    };

    // Runs `onChild` for each child element of the element just started; `onChild` must
    // consume the child. Returns after the element's end tag.
    template <typename F> bool children(F&& onChild) {
        if (sc_.isEmptyElement()) return sc_.next() == Token::EndElement;
        const int level = sc_.depth();
        for (;;) {
            switch (sc_.next()) {
            case Token::StartElement:
                if (!onChild(sc_.localName())) return false;
                break;
            case Token::EndElement:
                if (sc_.depth() < level) return true;
                break;
            case Token::Text:
                break;
            default:
                return scanFailed();
            }
        }
    }

    bool skip() { return sc_.skipElement() || scanFailed(); }
    bool scanFailed() {
        if (status_.isOk())
            status_ = sc_.hasError() ? sc_.status() : Status::invalidInput(QStringLiteral("文件不完整"));
        return false;
    }
    bool fail(const QString& message) {
        if (status_.isOk())
            status_ = Status::invalidInput(
                QStringLiteral("第 %1 行（字节偏移 %2）：%3").arg(sc_.line()).arg(sc_.offset()).arg(message));
        return false;
    }
    bool elementText(std::string& out) {
        out.clear();
        return sc_.readElementText(out) || scanFailed();
    }
    bool elementInteger(int64_t& value) {
        if (!elementText(text_)) return false;
        int64_t v;
        if (parseInteger(text_, v)) value = v;
        return true;
    }
    // An attribute holding a whole number, range-checked; absent leaves `value` unchanged.
    bool integerAttribute(const XmlAttribute& a, int64_t minimum, int64_t maximum, int64_t& value) {
        int64_t v;
        if (!parseInteger(a.value, v))
            return fail(QStringLiteral("属性 %1 的值“%2”不是整数").arg(qstr(a.qualifiedName), qstr(a.value)));
        if (v < minimum || v > maximum)
            return fail(QStringLiteral("属性 %1 的值 %2 超出范围（%3 到 %4；工作表最大为 XFD1048576）")
                            .arg(qstr(a.qualifiedName))
                            .arg(v)
                            .arg(minimum)
                            .arg(maximum));
        value = v;
        return true;
    }

    // -- styles ----------------------------------------------------------------------------

    bool readStyles() {
        return children([&](std::string_view name) { return name == "Style" ? readStyle() : skip(); });
    }

    bool readStyle() {
        const std::string id(sc_.attributeValue("ID"));
        const std::string parent(sc_.attributeValue("Parent"));
        Style s;
        if (!parent.empty() && parsed_.count(parent))
            s = parsed_[parent];
        else if (id != "Default" && parsed_.count("Default"))
            s = parsed_["Default"];
        const bool ok = children([&](std::string_view name) {
            if (name == "Alignment") {
                for (const XmlAttribute& a : sc_.attributes()) {
                    if (a.localName == "Horizontal")
                        s.horizontal = horizontalFromName(trimmed(a.value), s.horizontal);
                    else if (a.localName == "Vertical")
                        s.vertical = verticalFromName(trimmed(a.value), s.vertical);
                    else if (a.localName == "WrapText")
                        s.wrapText = parseFlag(a.value);
                }
            } else if (name == "Font") {
                for (const XmlAttribute& a : sc_.attributes()) {
                    double size;
                    uint32_t rgb;
                    if (a.localName == "FontName")
                        s.fontName = qstr(a.value);
                    else if (a.localName == "Size" && parseReal(a.value, size) && size > 0 && size < 1000)
                        s.fontSize = size;
                    else if (a.localName == "Bold")
                        s.bold = parseFlag(a.value);
                    else if (a.localName == "Italic")
                        s.italic = parseFlag(a.value);
                    else if (a.localName == "Color") {
                        s.hasFontColor = parseColor(a.value, rgb);
                        s.fontRgb = s.hasFontColor ? rgb : 0;
                    }
                }
            } else if (name == "Interior") {
                const XmlAttribute* color = sc_.attribute("Color");
                const std::string_view pattern = trimmed(sc_.attributeValue("Pattern"));
                uint32_t rgb;
                if (pattern == "None") {
                    s.hasFill = false;
                    s.fillPalette = 0;
                    s.fillRgb = 0;
                } else if (color && parseColor(color->value, rgb)) {
                    s.hasFill = true;
                    s.fillRgb = rgb;
                    s.fillPalette = nearestPaletteIndex(rgb);
                }
            } else if (name == "NumberFormat") {
                if (const XmlAttribute* format = sc_.attribute("Format"))
                    s.numberFormat = format->value == "General" ? QString() : qstr(format->value);
            }
            return skip();
        });
        if (!ok) return false;
        if (id.empty()) return true;
        if (id == "Default") {
            if (!s.fontName.isEmpty()) book_.defaultFontName = s.fontName;
            if (s.fontSize > 0) book_.defaultFontSize = s.fontSize;
            s.fontName.clear();
            s.fontSize = 0;
            book_.styles[0] = s;
            parsed_[id] = s;
            styleIndex_[id] = 0;
            return true;
        }
        parsed_[id] = s;
        styleIndex_[id] = book_.internStyle(s);
        return true;
    }

    uint32_t styleFor(std::string_view id) {
        if (id.empty()) return 0;
        if (id == lastStyleId_) return lastStyleIndex_;
        const auto it = styleIndex_.find(id);
        lastStyleId_.assign(id);
        lastStyleIndex_ = it != styleIndex_.end() ? it->second : 0; // unknown ids show as default
        return lastStyleIndex_;
    }

    // -- workbook-level elements -----------------------------------------------------------

    bool readExcelWorkbook() {
        return children([&](std::string_view name) {
            if (name != "ActiveSheet") return skip();
            int64_t v = -1;
            if (!elementInteger(v)) return false;
            if (v >= 0 && v < 65536) activeSheet_ = int(v);
            return true;
        });
    }

    bool readNames(Sheet* sheet) {
        return children([&](std::string_view name) {
            if (name == "NamedRange" && trimmed(sc_.attributeValue("Name")) == "Print_Titles") {
                int first, last;
                std::string sheetName;
                if (parsePrintTitles(sc_.attributeValue("RefersTo"), first, last, sheetName)) {
                    if (sheet) {
                        sheet->pageSetup.printTitleFirstRow = first;
                        sheet->pageSetup.printTitleLastRow = last;
                    } else {
                        pendingTitles_.push_back({qstr(sheetName), first, last});
                    }
                }
            }
            return skip();
        });
    }

    // -- worksheets ------------------------------------------------------------------------

    bool readWorksheet() {
        book_.sheets.emplace_back();
        Sheet& sheet = book_.sheets.back();
        const size_t sheetIndex = book_.sheets.size() - 1;
        if (const XmlAttribute* name = sc_.attribute("Name")) sheet.name = qstr(name->value);
        if (sheet.name.isEmpty()) sheet.name = QStringLiteral("Sheet%1").arg(sheetIndex + 1);
        sheet.isProtected = parseFlag(sc_.attributeValue("Protected"));
        return children([&](std::string_view name) {
            if (name == "Table") return readTable(sheet);
            if (name == "WorksheetOptions") return readWorksheetOptions(sheet, sheetIndex);
            if (name == "PageBreaks") return readPageBreaks(sheet);
            if (name == "Names") return readNames(&sheet);
            return skip();
        });
    }

    bool readTable(Sheet& sheet) {
        for (const XmlAttribute& a : sc_.attributes()) {
            double v;
            if (a.localName == "DefaultColumnWidth" && parseReal(a.value, v) && v >= 0)
                sheet.defaultColumnWidth = v;
            else if (a.localName == "DefaultRowHeight" && parseReal(a.value, v) && v >= 0)
                sheet.defaultRowHeight = v;
        }
        int64_t nextRow = sheet.rows.empty() ? 0 : sheet.rows.back().index + 1;
        int64_t nextColumn = 0;
        return children([&](std::string_view name) {
            if (name == "Row") return readRow(sheet, nextRow);
            if (name == "Column") return readColumn(sheet, nextColumn);
            return skip();
        });
    }

    bool readColumn(Sheet& sheet, int64_t& nextColumn) {
        int64_t index = 0, span = 0;
        double width = -1;
        for (const XmlAttribute& a : sc_.attributes()) {
            if (a.localName == "Index") {
                if (!integerAttribute(a, 1, kMaxColumns, index)) return false;
            } else if (a.localName == "Span") {
                if (!integerAttribute(a, 0, kMaxColumns - 1, span)) return false;
            } else if (a.localName == "Width") {
                double v;
                if (parseReal(a.value, v) && v >= 0) width = v;
            }
        }
        const int64_t column = index > 0 ? index - 1 : nextColumn;
        if (column < nextColumn) return fail(QStringLiteral("列（Column）的 ss:Index 没有按从左到右的顺序"));
        if (column + span >= kMaxColumns)
            return fail(
                QStringLiteral("列号 %1 超出工作表范围（最多 16384 列，XFD）").arg(column + span + 1));
        if (width >= 0)
            for (int64_t c = column; c <= column + span; ++c)
                sheet.columnWidths[int32_t(c)] = width;
        nextColumn = column + span + 1;
        return skip();
    }

    bool readRow(Sheet& sheet, int64_t& nextRow) {
        int64_t index = 0, span = 0;
        double height = -1;
        bool hidden = false;
        for (const XmlAttribute& a : sc_.attributes()) {
            if (a.localName == "Index") {
                if (!integerAttribute(a, 1, kMaxRows, index)) return false;
            } else if (a.localName == "Span") {
                if (!integerAttribute(a, 0, kMaxRows - 1, span)) return false;
            } else if (a.localName == "Height") {
                double v;
                if (parseReal(a.value, v) && v >= 0 && v < 10000) height = v;
            } else if (a.localName == "Hidden") {
                hidden = parseFlag(a.value);
            }
        }
        const int64_t r = index > 0 ? index - 1 : nextRow;
        if (r < nextRow)
            return fail(QStringLiteral("行（Row）的 ss:Index %1 没有按从上到下的顺序").arg(r + 1));
        if (r + span >= kMaxRows)
            return fail(QStringLiteral("行号 %1 超出工作表范围（最多 1048576 行）").arg(r + span + 1));
        const int32_t rowIndex = int32_t(r);
        SheetRow& row = sheet.rowAt(rowIndex);
        if (height >= 0) row.height = float(height);
        row.hidden = hidden;
        if (lastRowCells_ > 0) row.cells.reserve(lastRowCells_);
        int64_t nextColumn = 0;
        const bool ok = children([&](std::string_view name) {
            return name == "Cell" ? readCell(sheet, row, rowIndex, nextColumn) : skip();
        });
        if (!ok) return false;
        lastRowCells_ = row.cells.size();
        if (row.cells.empty() && row.height < 0 && !row.hidden && sheet.rows.size() &&
            &sheet.rows.back() == &row)
            sheet.rows.pop_back(); // a row that carries nothing
        if (span > 0 && (height >= 0 || hidden)) {
            for (int64_t k = 1; k <= span; ++k) {
                SheetRow& copy = sheet.rowAt(int32_t(r + k));
                copy.height = float(height);
                copy.hidden = hidden;
            }
        }
        nextRow = r + span + 1;
        return true;
    }

    bool readCell(Sheet& sheet, SheetRow& row, int32_t rowIndex, int64_t& nextColumn) {
        int64_t index = 0, across = 0, down = 0;
        uint32_t style = 0;
        SharedText formula;
        for (const XmlAttribute& a : sc_.attributes()) {
            const std::string_view n = a.localName;
            if (n == "StyleID") {
                style = styleFor(a.value);
            } else if (n == "Index") {
                if (!integerAttribute(a, 1, kMaxColumns, index)) return false;
            } else if (n == "MergeAcross") {
                if (!integerAttribute(a, 0, kMaxColumns - 1, across)) return false;
            } else if (n == "MergeDown") {
                if (!integerAttribute(a, 0, kMaxRows - 1, down)) return false;
            } else if (n == "Formula") {
                formula = sharedTextFromUtf8(a.value);
            }
        }
        const int64_t column = index > 0 ? index - 1 : nextColumn;
        if (column < nextColumn)
            return fail(
                QStringLiteral("第 %1 行的单元格 ss:Index %2 没有按从左到右的顺序，或落在合并区域之内")
                    .arg(rowIndex + 1)
                    .arg(column + 1));
        if (column + across >= kMaxColumns || rowIndex + down >= kMaxRows)
            return fail(QStringLiteral("单元格超出工作表范围 XFD1048576（第 %1 行第 %2 列）")
                            .arg(rowIndex + down + 1)
                            .arg(column + across + 1));
        CellValue value;
        const bool ok = children([&](std::string_view name) {
            if (name != "Data") return skip();
            const std::string_view type = trimmed(sc_.attributeValue("Type"));
            char kind = 'S';
            if (type == "Number")
                kind = 'N';
            else if (type == "DateTime")
                kind = 'T';
            else if (type == "Boolean")
                kind = 'B';
            else if (type == "Error")
                kind = 'E';
            if (!elementText(text_)) return false;
            value = makeValue(kind, text_);
            return true;
        });
        if (!ok) return false;
        if (across > 0 || down > 0)
            sheet.merges.push_back(
                {rowIndex, int32_t(column), int32_t(rowIndex + down), int32_t(column + across)});
        nextColumn = column + across + 1;
        // A cell that carries nothing (often just the anchor of a merged area) is not stored.
        if (value.isEmpty() && style == 0 && formula.isEmpty()) return true;
        Cell* cell;
        if (row.cells.empty() || row.cells.back().column < uint32_t(column)) {
            row.cells.emplace_back();
            cell = &row.cells.back();
        } else {
            cell = &sheet.cellAt(rowIndex, int32_t(column));
        }
        cell->column = uint32_t(column);
        cell->style = style;
        cell->value = std::move(value);
        // The file stores R1C1 formulas; the model holds them as A1, relative to this cell.
        if (!formula.isEmpty()) formula = SharedText(r1c1ToA1(formula.qview(), rowIndex, int32_t(column)));
        cell->formula = std::move(formula);
        return true;
    }

    static CellValue makeValue(char kind, const std::string& text) {
        double v;
        switch (kind) {
        case 'N':
            if (parseReal(text, v)) return CellValue::fromNumber(v);
            break;
        case 'B': {
            const std::string_view t = trimmed(text);
            if (t == "1" || t == "0" || t == "true" || t == "false" || t == "TRUE" || t == "FALSE")
                return CellValue::fromBoolean(t == "1" || t == "true" || t == "TRUE");
            break;
        }
        case 'T':
            if (parseDateTime(text, v)) return CellValue::fromDateTime(v);
            break;
        case 'E':
            return CellValue::fromError(sharedTextFromUtf8(text));
        default:
            break;
        }
        // Strings, and values that do not read as their type, keep their text.
        return CellValue::fromString(sharedTextFromUtf8(text));
    }

    bool readWorksheetOptions(Sheet& sheet, size_t sheetIndex) {
        PageSetup& page = sheet.pageSetup;
        return children([&](std::string_view name) {
            if (name == "PageSetup") {
                return children([&](std::string_view part) {
                    double v;
                    if (part == "Layout") {
                        page.landscape = trimmed(sc_.attributeValue("Orientation")) == "Landscape";
                    } else if (part == "Header") {
                        if (parseReal(sc_.attributeValue("Margin"), v) && v >= 0) page.marginHeader = v;
                    } else if (part == "Footer") {
                        if (parseReal(sc_.attributeValue("Margin"), v) && v >= 0) page.marginFooter = v;
                    } else if (part == "PageMargins") {
                        if (parseReal(sc_.attributeValue("Top"), v) && v >= 0) page.marginTop = v;
                        if (parseReal(sc_.attributeValue("Bottom"), v) && v >= 0) page.marginBottom = v;
                        if (parseReal(sc_.attributeValue("Left"), v) && v >= 0) page.marginLeft = v;
                        if (parseReal(sc_.attributeValue("Right"), v) && v >= 0) page.marginRight = v;
                    }
                    return skip();
                });
            }
            if (name == "FitToPage") {
                page.fitToPage = true;
                return skip();
            }
            if (name == "Print") {
                return children([&](std::string_view part) {
                    int64_t v = -1;
                    if (part == "FitWidth" || part == "FitHeight" || part == "PaperSizeIndex" ||
                        part == "Scale") {
                        const std::string key(part);
                        if (!elementInteger(v)) return false;
                        if (v < 0 || v > 32767) return true;
                        if (key == "FitWidth")
                            page.fitToWidth = int(v);
                        else if (key == "FitHeight")
                            page.fitToHeight = int(v);
                        else if (key == "PaperSizeIndex")
                            page.paperSize = int(v);
                        else if (v >= 10 && v <= 400)
                            page.scale = int(v);
                        return true;
                    }
                    return skip();
                });
            }
            if (name == "Selected") {
                if (firstSelected_ < 0) firstSelected_ = int(sheetIndex);
                return skip();
            }
            if (name == "Visible") {
                if (!elementText(text_)) return false;
                const std::string_view v = trimmed(text_);
                sheet.hidden = v == "SheetHidden" || v == "SheetVeryHidden";
                return true;
            }
            return skip();
        });
    }

    bool readPageBreaks(Sheet& sheet) {
        const bool ok = children([&](std::string_view name) {
            if (name != "RowBreaks") return skip();
            return children([&](std::string_view item) {
                if (item != "RowBreak") return skip();
                return children([&](std::string_view part) {
                    if (part != "Row") return skip();
                    int64_t v = -1;
                    if (!elementInteger(v)) return false;
                    // The stored number is the 0-based row that starts the new page.
                    if (v >= 1 && v < kMaxRows) sheet.rowBreaks.push_back(int32_t(v + 1));
                    return true;
                });
            });
        });
        std::sort(sheet.rowBreaks.begin(), sheet.rowBreaks.end());
        sheet.rowBreaks.erase(std::unique(sheet.rowBreaks.begin(), sheet.rowBreaks.end()),
                              sheet.rowBreaks.end());
        return ok;
    }

    XmlScanner& sc_;
    Workbook& book_;
    Status status_;
    std::string text_;
    std::map<std::string, Style, std::less<>> parsed_;
    std::map<std::string, uint32_t, std::less<>> styleIndex_;
    std::string lastStyleId_;
    uint32_t lastStyleIndex_ = 0;
    int activeSheet_ = -1;
    int firstSelected_ = -1;
    size_t lastRowCells_ = 0;
    std::vector<PendingTitles> pendingTitles_;
};

// ---------------------------------------------------------------------------------------------
// Writer

// Appends bytes through a raw cursor: reserve() room for what follows, write, then commit()
// the end. Grows by doubling and never zero-fills, unlike std::string::resize.
class ByteBuffer {
public:
    ByteBuffer() = default;
    ByteBuffer(ByteBuffer&& other) noexcept { swap(other); }
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        swap(other);
        return *this;
    }
    ~ByteBuffer() { std::free(begin_); }

    char* reserve(size_t room) {
        if (size_t(cap_ - end_) < room) grow(room);
        return end_;
    }
    void commit(char* end) { end_ = end; }
    void clear() { end_ = begin_; }
    size_t size() const { return size_t(end_ - begin_); }
    std::string_view view() const { return {begin_, size()}; }

private:
    void swap(ByteBuffer& other) noexcept {
        std::swap(begin_, other.begin_);
        std::swap(end_, other.end_);
        std::swap(cap_, other.cap_);
    }
    void grow(size_t room) {
        const size_t used = size();
        const size_t capacity = std::max({size_t(64 * 1024), 2 * size_t(cap_ - begin_), used + room});
        char* grown = static_cast<char*>(std::realloc(begin_, capacity));
        if (!grown) throw std::bad_alloc();
        begin_ = grown;
        end_ = grown + used;
        cap_ = grown + capacity;
    }

    char* begin_ = nullptr;
    char* end_ = nullptr;
    char* cap_ = nullptr;
};

template <size_t N> inline char* put(char* out, const char (&text)[N]) {
    std::memcpy(out, text, N - 1);
    return out + N - 1;
}
inline char* putInteger(char* out, int64_t value) {
    return std::to_chars(out, out + 24, value).ptr;
}

// One <Row> to write: a stored row and/or the merged areas anchored in it.
struct RowItem {
    const SheetRow* row; // nullptr for a row that holds only merge anchors
    int32_t index;
    bool writeIndex; // not right after the previous row written
    bool hasCells;
    uint32_t anchorsBegin, anchorsEnd; // the row's merge anchors
};

// Walks a sheet's stored rows and merge anchors in row order and yields the rows to write,
// skipping rows out of order or past the grid and rows that carry nothing.
class RowCursor {
public:
    RowCursor(const Sheet& sheet, const std::vector<const CellRange*>& anchors)
        : rows_(sheet.rows.data())
        , rowTotal_(sheet.rows.size())
        , anchors_(anchors) {}

    bool next(RowItem& item) {
        while (r_ < rowTotal_ || a_ < anchors_.size()) {
            // The next row to write: a stored row or a row holding only merge anchors.
            int64_t rowIndex;
            const SheetRow* row = nullptr;
            if (r_ < rowTotal_ && (a_ >= anchors_.size() || rows_[r_].index <= anchors_[a_]->firstRow)) {
                row = &rows_[r_];
                rowIndex = row->index;
                ++r_;
            } else {
                rowIndex = anchors_[a_]->firstRow;
            }
            if (rowIndex < nextRow_ || rowIndex >= kMaxRows) { // unsorted or out of the grid: skip
                while (a_ < anchors_.size() && anchors_[a_]->firstRow == rowIndex && !row)
                    ++a_;
                continue;
            }
            size_t rowAnchorsEnd = a_;
            while (rowAnchorsEnd < anchors_.size() && anchors_[rowAnchorsEnd]->firstRow == rowIndex)
                ++rowAnchorsEnd;
            const bool hasCells = (row && !row->cells.empty()) || rowAnchorsEnd > a_;
            const bool hasFormat = row && (row->height >= 0 || row->hidden);
            if (!hasCells && !hasFormat) continue;
            item = {row,      int32_t(rowIndex), rowIndex != nextRow_,
                    hasCells, uint32_t(a_),      uint32_t(rowAnchorsEnd)};
            nextRow_ = rowIndex + 1;
            if (hasCells) a_ = rowAnchorsEnd;
            return true;
        }
        return false;
    }

    // Collects the next piece's rows, about kPieceCells cells; true when rows are left over.
    bool fill(std::vector<RowItem>& items) {
        items.clear();
        size_t cells = 0;
        RowItem item;
        while (cells < kPieceCells && next(item)) {
            items.push_back(item);
            cells += 1 + (item.anchorsEnd - item.anchorsBegin) + (item.row ? item.row->cells.size() : 0);
        }
        return cells >= kPieceCells && hasMore();
    }
    bool hasMore() const { return r_ < rowTotal_ || a_ < anchors_.size(); }

    static constexpr size_t kPieceCells = 16384; // about 1 MB of XML

private:
    const SheetRow* rows_;
    size_t rowTotal_;
    const std::vector<const CellRange*>& anchors_;
    size_t r_ = 0;        // next stored row
    size_t a_ = 0;        // next anchor
    int64_t nextRow_ = 0; // the row right after the last one written
};

// Formats rows as XML. Only reads the workbook, so several threads can share one.
class RowFormatter {
public:
    RowFormatter(const Workbook& book, const Sheet& sheet, const std::vector<const CellRange*>& anchors)
        : book_(book)
        , sheet_(sheet)
        , anchors_(anchors) {}

    // Formats items[from...] into `out` (replacing what it held) and returns where it stopped:
    // items.size(), or earlier once `out` holds kPieceLimit bytes (long texts), so a piece's
    // bytes stay bounded by that and one row.
    size_t format(const std::vector<RowItem>& items, size_t from, ByteBuffer& out) const {
        out.clear();
        while (from < items.size() && out.size() < kPieceLimit)
            formatRow(items[from++], out);
        return from;
    }

    static constexpr size_t kPieceLimit = 8 << 20;

private:
    void formatRow(const RowItem& item, ByteBuffer& out) const {
        const SheetRow* row = item.row;
        char* p = out.reserve(128);
        p = put(p, "   <Row");
        if (item.writeIndex) {
            p = put(p, " ss:Index=\"");
            p = putInteger(p, int64_t(item.index) + 1);
            *p++ = '"';
        }
        if (row && row->height >= 0) {
            p = put(p, " ss:AutoFitHeight=\"0\" ss:Height=\"");
            p = writeShortestNumber(p, double(row->height));
            *p++ = '"';
        }
        if (row && row->hidden) p = put(p, " ss:Hidden=\"1\"");
        if (!item.hasCells) {
            out.commit(put(p, "/>\n"));
            return;
        }
        out.commit(put(p, ">\n"));
        formatCells(item, out);
        out.commit(put(out.reserve(16), "   </Row>\n"));
    }

    void formatCells(const RowItem& item, ByteBuffer& out) const {
        const int32_t rowIndex = item.index;
        const Cell* cells = item.row ? item.row->cells.data() : nullptr;
        const size_t cellCount = item.row ? item.row->cells.size() : 0;
        const bool anyMerges = !sheet_.merges.empty();
        const size_t styleCount = book_.styles.size();
        size_t c = 0, a = item.anchorsBegin;
        const size_t aEnd = item.anchorsEnd;
        int64_t nextColumn = 0;
        while (c < cellCount || a < aEnd) {
            const Cell* cell = nullptr;
            const CellRange* merge = nullptr;
            int64_t column;
            if (c < cellCount && (a >= aEnd || cells[c].column <= uint32_t(anchors_[a]->firstColumn))) {
                cell = &cells[c++];
                column = cell->column;
                if (a < aEnd && anchors_[a]->firstColumn == column) merge = anchors_[a++];
            } else {
                merge = anchors_[a++];
                column = merge->firstColumn;
            }
            if (column < nextColumn || column >= kMaxColumns) continue; // inside the previous merge
            if (!merge && cell->value.isEmpty() && cell->formula.isEmpty() &&
                (cell->style == 0 || cell->style >= styleCount))
                continue; // carries nothing
            if (!merge && anyMerges) {
                // Covered by a merged area: the format has no place for such a cell.
                const CellRange* m = sheet_.mergeContaining(rowIndex, int32_t(column));
                if (m && (m->firstRow != rowIndex || m->firstColumn != column)) continue;
            }
            // Room for the tags, numbers and the value's text with every character escaped.
            const size_t textRoom = cell ? kUtf8BytesPerUnit * cell->value.text.size() : 0;
            char* p = out.reserve(192 + textRoom);
            p = put(p, "    <Cell");
            if (column != nextColumn) {
                p = put(p, " ss:Index=\"");
                p = putInteger(p, column + 1);
                *p++ = '"';
            }
            if (merge) {
                if (merge->lastColumn > merge->firstColumn) {
                    p = put(p, " ss:MergeAcross=\"");
                    p = putInteger(p, merge->lastColumn - merge->firstColumn);
                    *p++ = '"';
                }
                if (merge->lastRow > merge->firstRow) {
                    p = put(p, " ss:MergeDown=\"");
                    p = putInteger(p, merge->lastRow - merge->firstRow);
                    *p++ = '"';
                }
                nextColumn = merge->lastColumn + 1;
            } else {
                nextColumn = column + 1;
            }
            if (cell && cell->style > 0 && cell->style < styleCount) {
                p = put(p, " ss:StyleID=\"s");
                p = putInteger(p, cell->style);
                *p++ = '"';
            }
            if (cell && !cell->formula.isEmpty()) { // A1 in the model, R1C1 in the file
                out.commit(p);
                const QString formula = a1ToR1C1(cell->formula.qview(), rowIndex, int32_t(column));
                p = out.reserve(16 + kUtf8BytesPerUnit * size_t(formula.size()) + 192 + textRoom);
                p = put(p, " ss:Formula=\"");
                p = writeUtf8(p, reinterpret_cast<const char16_t*>(formula.utf16()), size_t(formula.size()),
                              TextEscape::XmlAttribute);
                *p++ = '"';
            }
            if (!cell || cell->value.isEmpty()) {
                out.commit(put(p, "/>\n"));
                continue;
            }
            *p++ = '>';
            p = formatData(p, cell->value);
            out.commit(put(p, "</Cell>\n"));
        }
    }

    static char* formatData(char* p, const CellValue& v) {
        switch (v.type) {
        case CellValue::Type::Number:
            if (std::isfinite(v.number)) {
                p = put(p, "<Data ss:Type=\"Number\">");
                p = writeShortestNumber(p, v.number);
            } else {
                p = put(p, "<Data ss:Type=\"Error\">#NUM!");
            }
            break;
        case CellValue::Type::Boolean:
            p = v.number != 0 ? put(p, "<Data ss:Type=\"Boolean\">1") : put(p, "<Data ss:Type=\"Boolean\">0");
            break;
        case CellValue::Type::DateTime: {
            char* date = put(p, "<Data ss:Type=\"DateTime\">");
            if (char* end = writeDateTime(date, v.number)) {
                p = end;
            } else {
                p = put(p, "<Data ss:Type=\"Number\">");
                p = writeShortestNumber(p, v.number);
            }
            break;
        }
        case CellValue::Type::Error:
            p = put(p, "<Data ss:Type=\"Error\">");
            p = writeUtf8(p, v.text.data(), v.text.size(), TextEscape::XmlText);
            break;
        case CellValue::Type::String:
        case CellValue::Type::Empty:
            p = put(p, "<Data ss:Type=\"String\">");
            p = writeUtf8(p, v.text.data(), v.text.size(), TextEscape::XmlText);
            break;
        }
        return put(p, "</Data>");
    }

    const Workbook& book_;
    const Sheet& sheet_;
    const std::vector<const CellRange*>& anchors_;
};

// A piece of the Table: its rows and, once formatted, their bytes.
struct RowPiece {
    std::vector<RowItem> rows;
    ByteBuffer bytes;
};

// Formats pieces on helper threads and writes them out in order on the calling thread. Pieces
// go round a ring of kPiecesInFlight slots: a slot is refilled only after its bytes are
// written, so memory stays bounded however large the table. When no helper threads can be
// started (or they lag behind), the calling thread formats the piece it waits for itself.
class PiecePipeline {
public:
    PiecePipeline(const RowFormatter& formatter, RowCursor& cursor, RowPiece first)
        : formatter_(formatter)
        , cursor_(cursor) {
        slots_[0].piece = std::move(first);
    }

    void run(OutputFile& out) {
        // Queue the first pieces before the helpers start.
        while (produced_ < kPiecesInFlight && more_) {
            RowPiece& piece = slots_[produced_ % kPiecesInFlight].piece;
            more_ = cursor_.fill(piece.rows);
            if (!piece.rows.empty()) ++produced_;
        }
        Helpers helpers(*this);
        for (size_t written = 0; written < produced_; ++written) {
            Slot& slot = slots_[written % kPiecesInFlight];
            std::unique_lock lock(mutex_);
            size_t done;
            if (taken_ == written) { // nobody has started it: format it here
                ++taken_;
                lock.unlock();
                done = formatter_.format(slot.piece.rows, 0, slot.piece.bytes);
            } else {
                done_.wait(lock, [&] { return slot.formatted; });
                done = slot.done;
                lock.unlock();
            }
            out.append(slot.piece.bytes.view());
            // The rest of a piece a helper stopped early (long texts, or out of memory).
            while (done < slot.piece.rows.size() && !out.failed()) {
                done = formatter_.format(slot.piece.rows, done, slot.piece.bytes);
                out.append(slot.piece.bytes.view());
            }
            if (out.failed()) break; // the rest would be dropped anyway
            // The slot takes the next piece: sequence number written + kPiecesInFlight.
            lock.lock();
            slot.formatted = false;
            if (!more_) continue;
            lock.unlock();
            more_ = cursor_.fill(slot.piece.rows);
            const bool empty = slot.piece.rows.empty();
            lock.lock();
            if (!empty) {
                ++produced_;
                ready_.notify_one();
            }
        }
    }

private:
    static constexpr size_t kPiecesInFlight = 4;
    static constexpr int kHelpers = 2;

    struct Slot {
        RowPiece piece;
        bool formatted = false;
        size_t done = 0; // rows formatted into piece.bytes
    };

    // Starts the helper threads and, however run() ends, stops and joins them.
    class Helpers {
    public:
        explicit Helpers(PiecePipeline& pipeline)
            : pipeline_(pipeline) {
            try {
                for (int i = 0; i < kHelpers; ++i)
                    threads_.emplace_back([&pipeline] { pipeline.help(); });
            } catch (const std::system_error&) {
                // No threads to be had: run() formats every piece itself.
            }
        }
        ~Helpers() {
            {
                std::lock_guard lock(pipeline_.mutex_);
                pipeline_.stop_ = true;
            }
            pipeline_.ready_.notify_all();
            for (std::thread& thread : threads_)
                thread.join();
        }

    private:
        PiecePipeline& pipeline_;
        std::vector<std::thread> threads_;
    };

    void help() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return stop_ || taken_ < produced_; });
            if (stop_) return;
            Slot& slot = slots_[taken_++ % kPiecesInFlight];
            lock.unlock();
            size_t done = 0;
            try {
                done = formatter_.format(slot.piece.rows, 0, slot.piece.bytes);
            } catch (const std::bad_alloc&) {
                slot.piece.bytes.clear(); // out of memory: run() formats the piece again itself
            }
            lock.lock();
            slot.formatted = true;
            slot.done = done;
            done_.notify_all();
        }
    }

    const RowFormatter& formatter_;
    RowCursor& cursor_;
    Slot slots_[kPiecesInFlight];
    std::mutex mutex_;
    std::condition_variable ready_; // a piece to format, or stop
    std::condition_variable done_;  // a piece formatted
    size_t produced_ = 1;           // pieces queued so far (sequence numbers)
    size_t taken_ = 0;              // pieces a thread has started formatting
    bool more_ = true;              // the cursor has rows left
    bool stop_ = false;
};

class Writer {
public:
    Writer(OutputFile& out, const Workbook& book)
        : out_(out)
        , b_(out.buffer())
        , book_(book) {}

    void run() {
        b_.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<?mso-application progid=\"Excel.Sheet\"?>\n"
                  "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
                  " xmlns:o=\"urn:schemas-microsoft-com:office:office\"\n"
                  " xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\n"
                  " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
                  " xmlns:html=\"http://www.w3.org/TR/REC-html40\">\n"
                  " <ExcelWorkbook xmlns=\"urn:schemas-microsoft-com:office:excel\">\n");
        if (book_.activeSheet > 0 && size_t(book_.activeSheet) < book_.sheets.size()) {
            b_.append("  <ActiveSheet>");
            integer(book_.activeSheet);
            b_.append("</ActiveSheet>\n");
        }
        b_.append("  <ProtectStructure>False</ProtectStructure>\n"
                  "  <ProtectWindows>False</ProtectWindows>\n"
                  " </ExcelWorkbook>\n");
        writeStyles();
        for (size_t i = 0; i < book_.sheets.size(); ++i)
            writeSheet(book_.sheets[i], int(i));
        b_.append("</Workbook>\n");
        out_.maybeFlush();
    }

private:
    void integer(int64_t v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        b_.append(buf, size_t(r.ptr - buf));
    }
    void real(double v) {
        char buf[32];
        b_.append(shortestNumberText(v, buf));
    }
    void attribute(const char* name, QStringView value) {
        b_.push_back(' ');
        b_.append(name);
        b_.append("=\"");
        appendUtf8(b_, value, TextEscape::XmlAttribute);
        b_.push_back('"');
    }
    void attribute(const char* name, double value) {
        b_.push_back(' ');
        b_.append(name);
        b_.append("=\"");
        real(value);
        b_.push_back('"');
    }
    void attribute(const char* name, const char* value) {
        b_.push_back(' ');
        b_.append(name);
        b_.append("=\"");
        b_.append(value);
        b_.push_back('"');
    }
    void color(const char* name, uint32_t rgb) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "#%06X", rgb & 0xFFFFFF);
        attribute(name, buf);
    }

    // Which styles (beyond the default) some cell uses; stops looking once all of them are.
    void markUsedStyles() {
        const size_t count = used_.size();
        size_t left = count > 1 ? count - 1 : 0;
        for (const Sheet& sheet : book_.sheets) {
            for (const SheetRow& row : sheet.rows) {
                if (left == 0) return;
                for (const Cell& cell : row.cells) {
                    if (cell.style == 0 || cell.style >= count || used_[cell.style]) continue;
                    used_[cell.style] = true;
                    --left;
                }
            }
        }
    }

    void writeStyles() {
        const size_t count = book_.styles.size();
        used_.assign(count, false);
        markUsedStyles();
        const Style& base = book_.styles.empty() ? defaultStyle_ : book_.styles[0];

        b_.append(" <Styles>\n  <Style ss:ID=\"Default\" ss:Name=\"Normal\">\n   <Alignment");
        if (base.horizontal != HAlign::General) attribute("ss:Horizontal", horizontalName(base.horizontal));
        attribute("ss:Vertical", verticalName(base.vertical));
        if (base.wrapText) attribute("ss:WrapText", "1");
        b_.append("/>\n   <Borders/>\n   <Font");
        const QString& fontName = base.fontName.isEmpty() ? book_.defaultFontName : base.fontName;
        attribute("ss:FontName", fontName);
        // Tells Excel to match the font with the Simplified Chinese character set.
        if (std::any_of(fontName.begin(), fontName.end(), [](QChar c) { return c.unicode() > 0x7F; }))
            b_.append(" x:CharSet=\"134\"");
        attribute("ss:Size", base.fontSize > 0 ? base.fontSize : book_.defaultFontSize);
        if (base.bold) attribute("ss:Bold", "1");
        if (base.italic) attribute("ss:Italic", "1");
        if (base.hasFontColor) color("ss:Color", base.fontRgb);
        b_.append("/>\n   <Interior");
        if (base.hasFill) {
            color("ss:Color", base.fillRgb);
            attribute("ss:Pattern", "Solid");
        }
        b_.append("/>\n   <NumberFormat");
        if (!base.numberFormat.isEmpty()) attribute("ss:Format", base.numberFormat);
        b_.append("/>\n   <Protection/>\n  </Style>\n");

        for (size_t i = 1; i < count; ++i) {
            if (!used_[i]) continue;
            const Style& s = book_.styles[i];
            b_.append("  <Style ss:ID=\"s");
            integer(int64_t(i));
            b_.append("\">\n");
            // Every style inherits from Default: write what differs from it.
            if (s.horizontal != base.horizontal || s.vertical != base.vertical ||
                s.wrapText != base.wrapText) {
                b_.append("   <Alignment");
                attribute("ss:Horizontal", horizontalName(s.horizontal));
                attribute("ss:Vertical", verticalName(s.vertical));
                attribute("ss:WrapText", s.wrapText ? "1" : "0");
                b_.append("/>\n");
            }
            if (!s.fontName.isEmpty() || s.fontSize > 0 || s.bold != base.bold || s.italic != base.italic ||
                s.hasFontColor || base.hasFontColor) {
                b_.append("   <Font");
                if (!s.fontName.isEmpty()) attribute("ss:FontName", s.fontName);
                if (s.fontSize > 0) attribute("ss:Size", s.fontSize);
                if (s.bold != base.bold) attribute("ss:Bold", s.bold ? "1" : "0");
                if (s.italic != base.italic) attribute("ss:Italic", s.italic ? "1" : "0");
                if (s.hasFontColor)
                    color("ss:Color", s.fontRgb);
                else if (base.hasFontColor)
                    attribute("ss:Color", "Automatic");
                b_.append("/>\n");
            }
            if (s.hasFill) {
                b_.append("   <Interior");
                color("ss:Color", s.fillRgb);
                attribute("ss:Pattern", "Solid");
                b_.append("/>\n");
            } else if (base.hasFill) {
                b_.append("   <Interior ss:Pattern=\"None\"/>\n");
            }
            if (s.numberFormat != base.numberFormat) {
                b_.append("   <NumberFormat");
                attribute("ss:Format", s.numberFormat.isEmpty() ? QStringLiteral("General") : s.numberFormat);
                b_.append("/>\n");
            }
            b_.append("  </Style>\n");
        }
        b_.append(" </Styles>\n");
    }

    static void appendQuotedSheetName(std::string& out, const QString& name) {
        out.push_back('\'');
        appendUtf8(out, QString(name).replace(u'\'', QStringLiteral("''")), TextEscape::None);
        out.push_back('\'');
    }

    void writeSheet(const Sheet& sheet, int index) {
        b_.append(" <Worksheet");
        attribute("ss:Name", sheet.name);
        if (sheet.isProtected) attribute("ss:Protected", "1");
        b_.append(">\n");
        const PageSetup& page = sheet.pageSetup;
        if (page.printTitleFirstRow >= 0 && page.printTitleLastRow >= page.printTitleFirstRow) {
            std::string refers = "=";
            appendQuotedSheetName(refers, sheet.name);
            refers += "!R" + std::to_string(page.printTitleFirstRow + 1);
            if (page.printTitleLastRow != page.printTitleFirstRow)
                refers += ":R" + std::to_string(page.printTitleLastRow + 1);
            b_.append("  <Names>\n   <NamedRange ss:Name=\"Print_Titles\"");
            attribute("ss:RefersTo", QString::fromUtf8(refers.data(), qsizetype(refers.size())));
            b_.append("/>\n  </Names>\n");
        }

        // Merged areas by their top-left cell, in row-major order.
        std::vector<const CellRange*> anchors;
        anchors.reserve(sheet.merges.size());
        for (const CellRange& m : sheet.merges)
            if (m.firstRow >= 0 && m.firstColumn >= 0 && m.lastRow < kMaxRows && m.lastColumn < kMaxColumns &&
                (m.lastRow > m.firstRow || m.lastColumn > m.firstColumn) && m.lastRow >= m.firstRow &&
                m.lastColumn >= m.firstColumn)
                anchors.push_back(&m);
        std::sort(anchors.begin(), anchors.end(), [](const CellRange* a, const CellRange* b) {
            return a->firstRow != b->firstRow ? a->firstRow < b->firstRow : a->firstColumn < b->firstColumn;
        });
        anchors.erase(std::unique(anchors.begin(), anchors.end(),
                                  [](const CellRange* a, const CellRange* b) {
                                      return a->firstRow == b->firstRow && a->firstColumn == b->firstColumn;
                                  }),
                      anchors.end());

        // The extent Excel checks every Row and Cell against.
        int64_t rowCount = 0, columnCount = 0;
        for (const SheetRow& row : sheet.rows) {
            if (row.index < 0 || row.index >= kMaxRows) continue;
            if (!row.cells.empty() || row.height >= 0 || row.hidden)
                rowCount = std::max<int64_t>(rowCount, row.index + 1);
            if (!row.cells.empty()) columnCount = std::max<int64_t>(columnCount, row.cells.back().column + 1);
        }
        for (const CellRange* m : anchors) {
            rowCount = std::max<int64_t>(rowCount, m->lastRow + 1);
            columnCount = std::max<int64_t>(columnCount, m->lastColumn + 1);
        }
        if (!sheet.columnWidths.empty())
            columnCount = std::max<int64_t>(columnCount, sheet.columnWidths.rbegin()->first + 1);

        b_.append("  <Table");
        if (rowCount > 0 && columnCount > 0) {
            b_.append(" ss:ExpandedColumnCount=\"");
            integer(std::min<int64_t>(columnCount, kMaxColumns));
            b_.append("\" ss:ExpandedRowCount=\"");
            integer(std::min<int64_t>(rowCount, kMaxRows));
            b_.push_back('"');
        }
        b_.append(" x:FullColumns=\"1\" x:FullRows=\"1\"");
        attribute("ss:DefaultColumnWidth", sheet.defaultColumnWidth);
        attribute("ss:DefaultRowHeight", sheet.defaultRowHeight);
        b_.append(">\n");

        int64_t nextColumn = 0;
        for (const auto& [column, width] : sheet.columnWidths) {
            if (column < 0 || column >= kMaxColumns || width < 0) continue;
            b_.append("   <Column");
            if (column != nextColumn) {
                b_.append(" ss:Index=\"");
                integer(column + 1);
                b_.push_back('"');
            }
            b_.append(" ss:AutoFitWidth=\"0\"");
            attribute("ss:Width", width);
            b_.append("/>\n");
            nextColumn = column + 1;
        }

        writeRows(sheet, anchors);
        b_.append("  </Table>\n");
        writeOptions(sheet, index);
        if (!sheet.rowBreaks.empty()) {
            b_.append("  <PageBreaks xmlns=\"urn:schemas-microsoft-com:office:excel\">\n   <RowBreaks>\n");
            for (int32_t rowNumber : sheet.rowBreaks) {
                if (rowNumber < 2 || rowNumber > kMaxRows) continue;
                b_.append("    <RowBreak>\n     <Row>");
                integer(rowNumber - 1);
                b_.append("</Row>\n    </RowBreak>\n");
            }
            b_.append("   </RowBreaks>\n  </PageBreaks>\n");
        }
        b_.append(" </Worksheet>\n");
        out_.maybeFlush();
    }

    // The Table's rows. A large table is formatted in pieces of about 1 MB by two helper threads
    // while this thread writes the finished pieces out in order (PiecePipeline); a small one is
    // formatted here. Either way the bytes are the same.
    void writeRows(const Sheet& sheet, const std::vector<const CellRange*>& anchors) {
        // The merge lookup builds its index on first use; build it here, before any thread reads it.
        if (!sheet.merges.empty()) sheet.mergeContaining(0, 0);
        const RowFormatter formatter(book_, sheet, anchors);
        RowCursor cursor(sheet, anchors);
        RowPiece first;
        if (!cursor.fill(first.rows)) { // everything fits in one piece
            for (size_t done = 0; done < first.rows.size() && !out_.failed();) {
                done = formatter.format(first.rows, done, first.bytes);
                out_.append(first.bytes.view());
            }
            return;
        }
        PiecePipeline pipeline(formatter, cursor, std::move(first));
        pipeline.run(out_);
    }

    void writeOptions(const Sheet& sheet, int index) {
        const PageSetup& page = sheet.pageSetup;
        b_.append("  <WorksheetOptions xmlns=\"urn:schemas-microsoft-com:office:excel\">\n   <PageSetup>\n");
        if (page.landscape) b_.append("    <Layout x:Orientation=\"Landscape\"/>\n");
        b_.append("    <Header");
        attribute("x:Margin", page.marginHeader);
        b_.append("/>\n    <Footer");
        attribute("x:Margin", page.marginFooter);
        b_.append("/>\n    <PageMargins");
        attribute("x:Bottom", page.marginBottom);
        attribute("x:Left", page.marginLeft);
        attribute("x:Right", page.marginRight);
        attribute("x:Top", page.marginTop);
        b_.append("/>\n   </PageSetup>\n");
        if (page.fitToPage) b_.append("   <FitToPage/>\n");
        b_.append("   <Print>\n");
        if (page.fitToWidth != 1) {
            b_.append("    <FitWidth>");
            integer(page.fitToWidth);
            b_.append("</FitWidth>\n");
        }
        if (page.fitToHeight != 1) {
            b_.append("    <FitHeight>");
            integer(page.fitToHeight);
            b_.append("</FitHeight>\n");
        }
        b_.append("    <ValidPrinterInfo/>\n    <PaperSizeIndex>");
        integer(page.paperSize);
        b_.append("</PaperSizeIndex>\n");
        if (page.scale != 100) {
            b_.append("    <Scale>");
            integer(page.scale);
            b_.append("</Scale>\n");
        }
        b_.append("   </Print>\n");
        if (index == book_.activeSheet) b_.append("   <Selected/>\n");
        if (sheet.hidden) b_.append("   <Visible>SheetHidden</Visible>\n");
        b_.append("   <ProtectObjects>False</ProtectObjects>\n"
                  "   <ProtectScenarios>False</ProtectScenarios>\n"
                  "  </WorksheetOptions>\n");
    }

    OutputFile& out_;
    std::string& b_;
    const Workbook& book_;
    std::vector<bool> used_;
    Style defaultStyle_;
};

} // namespace

bool XmlSpreadsheetFormat::recognizes(const QByteArray& head) const {
    QByteArray text = head;
    if (text.startsWith("\xFF\xFE") || text.startsWith("\xFE\xFF") || (text.size() > 1 && text[1] == 0) ||
        (text.size() > 0 && text[0] == 0)) {
        // UTF-16: look at the characters.
        const bool bigEndian = text.startsWith("\xFE\xFF") || (text.size() > 0 && text[0] == 0);
        QStringDecoder decoder(bigEndian ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE);
        text = QString(decoder(text)).toUtf8();
    }
    return text.contains("urn:schemas-microsoft-com:office:spreadsheet") &&
           (text.contains("<Workbook") || text.contains(":Workbook"));
}

Status XmlSpreadsheetFormat::readFrom(ByteSource& source, Workbook& workbook) {
    workbook = Workbook();
    XmlScanner scanner(source);
    Reader reader(scanner, workbook);
    Status status = reader.run();
    if (!status.isOk()) workbook = Workbook();
    return status;
}

Status XmlSpreadsheetFormat::read(const QString& path, Workbook& workbook) const {
    const QString shownPath = QDir::toNativeSeparators(path);
    FileByteSource source;
    if (Status opened = source.open(shownPath); !opened.isOk()) return opened;
    if (source.size() == 0)
        return Status::invalidInput(QStringLiteral("文件“%1”是空文件（0 字节）").arg(shownPath));
    return readFrom(source, workbook).withContext(QStringLiteral("读取文件“%1”失败").arg(shownPath));
}

Status XmlSpreadsheetFormat::write(const Workbook& workbook, const QString& path) const {
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    Writer(out, workbook).run();
    return out.commit();
}

} // namespace quellar
