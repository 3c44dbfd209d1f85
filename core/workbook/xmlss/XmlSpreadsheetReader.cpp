// The XML Spreadsheet 2003 reader: streams the document through XmlScanner and builds the
// workbook (styles with their inheritance, sheets, rows, cells, merges, page setup, print
// titles, the active sheet).

#include "workbook/xmlss/XmlSpreadsheetFormat.h"

#include "base/ExcelDate.h"
#include "base/Progress.h"
#include "base/TextIO.h"
#include "workbook/FormulaNotation.h"
#include "workbook/xmlss/SpreadsheetML.h"

#include <QDir>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

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
    return spreadsheetml::readNumber(s, value);
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
        // A cancel is looked for once every 4096 rows, not once a cell.
        if (cancellation::requestedEvery(++rowsRead_)) {
            status_ = Status::cancelled();
            return false;
        }
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
        CellPlacement placement;
        const bool ok = children([&](std::string_view name) {
            return name == "Cell" ? readCell(sheet, row, rowIndex, placement) : skip();
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

    bool readCell(Sheet& sheet, SheetRow& row, int32_t rowIndex, CellPlacement& placement) {
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
        // 0-based here, 1-based in the placement.
        const int64_t column =
            placement.columnOf(index > 0 ? std::optional<int64_t>(index) : std::nullopt) - 1;
        if (!placement.inOrder(column + 1))
            return fail(
                QStringLiteral("第 %1 行的单元格 ss:Index %2 没有按从左到右的顺序，或落在合并区域之内")
                    .arg(rowIndex + 1)
                    .arg(column + 1));
        if (!CellPlacement::fits(column + 1, across) || rowIndex + down >= kMaxRows)
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
        placement.take(column + 1, across);
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
    int64_t rowsRead_ = 0; // Row elements begun, in all sheets
    std::vector<PendingTitles> pendingTitles_;
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

} // namespace quellar
