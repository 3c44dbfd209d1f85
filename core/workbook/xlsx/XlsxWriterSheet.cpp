// The .xlsx writer's worksheet parts, straight from the workbook model: the part's start
// (sheet properties, dimension, view, row defaults, column widths), the rows of <sheetData>
// written in pieces on any thread, and the rest (protection, merged areas, margins, page
// setup, manual breaks) in the order of the schema's CT_Worksheet sequence.

#include "workbook/ExcelConventions.h"
#include "workbook/xlsx/XlsxWriting.h"

#include "base/TextIO.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace quellar::xlsx::writing {

namespace {

// libxlsxwriter's row height and column width when nothing is set, which the package's
// readers assume too.
constexpr double kPackageRowHeight = 15;
constexpr double kPackageColumnWidth = 8.43; // characters
constexpr double kPackageColumnPoints = 48;
constexpr size_t kMaxBreaks = 1023; // manual breaks a sheet may have

template <size_t N> char* put(char* out, const char (&text)[N]) {
    std::memcpy(out, text, N - 1);
    return out + N - 1;
}
char* putInteger(char* out, int64_t value) {
    return std::to_chars(out, out + 24, value).ptr;
}
char* putFloat(char* out, float value) {
    return std::to_chars(out, out + 24, value).ptr;
}
// Column letters of a 0-based column: A … XFD.
char* putColumn(char* out, uint32_t column) {
    char letters[4];
    int n = 0;
    uint32_t c = column + 1;
    while (c > 0 && n < 4) {
        letters[n++] = char('A' + (c - 1) % 26);
        c = (c - 1) / 26;
    }
    while (n > 0)
        *out++ = letters[--n];
    return out;
}
char* putReference(char* out, int32_t row, int32_t column) {
    out = putColumn(out, uint32_t(column));
    return putInteger(out, row + 1);
}

void appendText(RawBuffer& out, std::string_view text) {
    out.append(text);
}
template <typename Write> void appendWith(RawBuffer& out, size_t room, Write&& write) {
    char* p = out.reserve(room);
    out.commit(write(p));
}

double packageRowHeight(const Sheet& sheet) {
    return sheet.defaultRowHeight > 0 && std::abs(sheet.defaultRowHeight - kPackageRowHeight) > 0.01
               ? sheet.defaultRowHeight
               : kPackageRowHeight;
}

// A column width in characters as the file stores it: whole pixels of Calibri 11 (7 pixels a
// digit, 5 of padding) in 1/256 of a character.
double fileColumnWidth(double characters) {
    constexpr double digit = 7, padding = 5;
    if (characters <= 0) return 0;
    if (characters < 1)
        return double(uint16_t(double(uint16_t(characters * (digit + padding) + 0.5)) / digit * 256.0)) /
               256.0;
    return double(uint16_t((double(uint16_t(characters * digit + 0.5)) + padding) / digit * 256.0)) / 256.0;
}

void appendColumns(RawBuffer& out, int first, int last, double points) {
    appendWith(out, 128, [&](char* p) {
        p = put(p, "<col min=\"");
        p = putInteger(p, first + 1);
        p = put(p, "\" max=\"");
        p = putInteger(p, last + 1);
        if (points <= 0) return put(p, "\" width=\"0\" hidden=\"1\" customWidth=\"1\"/>");
        const double characters = pointsToCharacterWidth(points);
        p = put(p, "\" width=\"");
        p = writeNumber(p, fileColumnWidth(characters));
        if (characters == kPackageColumnWidth) return put(p, "\"/>");
        return put(p, "\" customWidth=\"1\"/>");
    });
}

// Column widths: runs of equal width; the gaps take the sheet's default width when it is not
// the package's.
void writeColumns(const Sheet& sheet, RawBuffer& out) {
    const bool customDefault =
        std::abs(sheet.defaultColumnWidth - kPackageColumnPoints) > 0.75 && sheet.defaultColumnWidth > 0;
    bool any = false;
    auto open = [&] {
        if (!any) appendText(out, "<cols>");
        any = true;
    };
    int next = 0;
    auto it = sheet.columnWidths.begin();
    while (it != sheet.columnWidths.end()) {
        const int first = it->first;
        if (first < 0 || first >= kMaxColumns || first < next) {
            ++it;
            continue;
        }
        open();
        if (customDefault && first > next) appendColumns(out, next, first - 1, sheet.defaultColumnWidth);
        const double width = it->second;
        int last = first;
        auto run = std::next(it);
        while (run != sheet.columnWidths.end() && run->first == last + 1 && run->first < kMaxColumns &&
               run->second == width) {
            last = run->first;
            ++run;
        }
        appendColumns(out, first, last, width);
        next = last + 1;
        it = run;
    }
    if (customDefault && next < kMaxColumns) {
        open();
        appendColumns(out, next, kMaxColumns - 1, sheet.defaultColumnWidth);
    }
    if (any) appendText(out, "</cols>");
}

// Whether a text keeps its spaces only with xml:space="preserve".
bool needsPreserve(const char16_t* text, size_t size) {
    auto space = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; };
    return size > 0 && (space(text[0]) || space(text[size - 1]));
}

char* putText(char* out, QStringView text) {
    return writeCellText(out, reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
}

} // namespace

char* writeNumber(char* out, double value) {
    // The working files' form (whole numbers in plain digits, positional from 10^-6 up to below
    // 10^21), with the exponent of the numbers outside that range written without padding.
    char* end = writeShortestNumber(out, value);
    char* e = std::find(out, end, 'e');
    if (e == end) return end;
    // "1e-07" -> "1e-7", "1e+20" -> "1e20".
    char* digits = e + 1;
    char* write = digits;
    if (*digits == '+') ++digits;
    if (*digits == '-') *write++ = *digits++;
    while (digits + 1 < end && *digits == '0')
        ++digits;
    while (digits < end)
        *write++ = *digits++;
    return write;
}

char* writeCellText(char* out, const char16_t* text, size_t size) {
    static const char hex[] = "0123456789ABCDEF";
    auto escaped = [&out](uint32_t code) {
        out = put(out, "_x");
        for (int shift = 12; shift >= 0; shift -= 4)
            *out++ = hex[(code >> shift) & 0xF];
        *out++ = '_';
    };
    const char16_t* end = text + size;
    for (const char16_t* p = text; p < end;) {
        const char16_t c = *p++;
        if (c < 0x80) {
            if (c >= 0x20 && c != u'&' && c != u'<' && c != u'>' && c != u'_') {
                *out++ = char(c);
                continue;
            }
            switch (c) {
            case u'&':
                out = put(out, "&amp;");
                break;
            case u'<':
                out = put(out, "&lt;");
                break;
            case u'>':
                out = put(out, "&gt;");
                break;
            case u'\t':
            case u'\n':
                *out++ = char(c);
                break;
            case u'_': // "_xHHHH_" in the text itself would read as an escape
                if (end - p >= 6 && p[0] == u'x' && p[5] == u'_')
                    escaped(c);
                else
                    *out++ = '_';
                break;
            default: // control characters, and CR, which XML would read as a line feed
                escaped(c);
                break;
            }
        } else if (c < 0x800) {
            *out++ = char(0xC0 | (c >> 6));
            *out++ = char(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (c < 0xDC00 && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
                const uint32_t code = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(*p++) - 0xDC00);
                *out++ = char(0xF0 | (code >> 18));
                *out++ = char(0x80 | ((code >> 12) & 0x3F));
                *out++ = char(0x80 | ((code >> 6) & 0x3F));
                *out++ = char(0x80 | (code & 0x3F));
            } else {
                out = put(out, "\xEF\xBF\xBD"); // a lone surrogate: U+FFFD
            }
        } else if (c >= 0xFFFE) {
            escaped(c); // not a character XML may carry
        } else {
            *out++ = char(0xE0 | (c >> 12));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
            *out++ = char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool isErrorLiteral(QStringView text) {
    static const QStringView errors[] = {u"#NULL!", u"#DIV/0!", u"#VALUE!", u"#REF!",
                                         u"#NAME?", u"#NUM!",   u"#N/A"};
    return std::find(std::begin(errors), std::end(errors), text) != std::end(errors);
}

QString validSheetName(const QString& wanted, int position, QSet<QString>& taken) {
    QString name = wanted;
    for (QChar& c : name)
        if (QStringView(u"[]:*?/\\").contains(c) || c.unicode() < 0x20) c = u'_';
    while (name.startsWith(u'\''))
        name.remove(0, 1);
    while (name.endsWith(u'\''))
        name.chop(1);
    if (name.isEmpty()) name = QStringLiteral("Sheet%1").arg(position + 1);
    name = name.left(31);
    QString candidate = name;
    for (int n = 2; taken.contains(candidate.toLower()); ++n) {
        const QString suffix = QStringLiteral("(%1)").arg(n);
        candidate = name.left(31 - suffix.size()) + suffix;
    }
    taken.insert(candidate.toLower());
    return candidate;
}

std::string sheetPartName(size_t index) {
    return "xl/worksheets/sheet" + std::to_string(index + 1) + ".xml";
}

void SheetXml::head(const SheetPlan& plan, RawBuffer& out) const {
    const Sheet& sheet = *plan.sheet;
    appendText(out, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">");
    if (sheet.pageSetup.fitToPage) appendText(out, "<sheetPr><pageSetUpPr fitToPage=\"1\"/></sheetPr>");
    appendWith(out, 256, [&](char* p) {
        p = put(p, "<dimension ref=\"");
        if (plan.firstRow < 0) {
            p = put(p, "A1");
        } else {
            p = putReference(p, plan.firstRow, plan.firstColumn);
            if (plan.lastRow != plan.firstRow || plan.lastColumn != plan.firstColumn) {
                *p++ = ':';
                p = putReference(p, plan.lastRow, plan.lastColumn);
            }
        }
        p = put(p, "\"/><sheetViews><sheetView ");
        if (plan.selected) p = put(p, "tabSelected=\"1\" ");
        p = put(p, "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"");
        const double height = packageRowHeight(sheet);
        p = writeNumber(p, height);
        if (height != kPackageRowHeight) return put(p, "\" customHeight=\"1\"/>");
        return put(p, "\"/>");
    });
    writeColumns(sheet, out);
    appendText(out, "<sheetData>");
}

size_t SheetXml::rows(const Sheet& sheet, size_t first, size_t end, RawBuffer& out, size_t limit) const {
    const double defaultHeight = packageRowHeight(sheet);
    for (size_t i = first; i < end; ++i) {
        if (out.size() >= limit) return i;
        const SheetRow& row = sheet.rows[i];
        if (row.index < 0 || row.index >= kMaxRows) continue;
        // A row is written with its first cell, or alone when it has a height or is hidden. Its
        // height is written when it is not the sheet's default.
        bool hidden = row.hidden;
        double height = defaultHeight;
        if (row.height >= 0 || row.hidden) {
            height = row.height >= 0 ? row.height : sheet.defaultRowHeight;
            if (height == 0) { // a row of no height is a hidden row
                hidden = true;
                height = defaultHeight;
            }
        }
        bool started = false;
        char rowNumber[24];
        const size_t rowNumberSize = size_t(putInteger(rowNumber, row.index + 1) - rowNumber);
        auto startRow = [&](char* p) {
            p = put(p, "<row r=\"");
            std::memcpy(p, rowNumber, rowNumberSize);
            p += rowNumberSize;
            *p++ = '"';
            const bool custom = height != defaultHeight;
            if (custom) {
                p = put(p, " ht=\"");
                p = putFloat(p, float(height));
                *p++ = '"';
            }
            if (hidden) p = put(p, " hidden=\"1\"");
            if (custom) p = put(p, " customHeight=\"1\"");
            started = true;
            return p;
        };
        for (const Cell& cell : row.cells) {
            if (cell.column >= uint32_t(kMaxColumns)) continue;
            const CellValue& v = cell.value;
            const uint32_t xf = formats_.xf(cell.style, formats_.kindOf(cell));
            const bool hasFormula = !cell.formula.isEmpty();
            const CellValue::Type type = v.type();
            if (!hasFormula && xf == 0 &&
                (type == CellValue::Type::Empty || (type == CellValue::Type::String && v.text().isEmpty())))
                continue; // a blank cell without a format is no cell
            QStringView formula = hasFormula ? cell.formula.qview() : QStringView();
            if (formula.startsWith(u'=')) formula = formula.mid(1);
            QStringView text = v.text().qview();
            if (type == CellValue::Type::String || type == CellValue::Type::Error)
                text = text.left(kMaxCellText);
            char* p = out.reserve(160 + size_t(text.size() + formula.size()) * kTextBytesPerUnit);
            if (!started) {
                p = startRow(p);
                *p++ = '>';
            }
            p = put(p, "<c r=\"");
            p = putColumn(p, cell.column);
            std::memcpy(p, rowNumber, rowNumberSize);
            p += rowNumberSize;
            *p++ = '"';
            if (xf != 0) {
                p = put(p, " s=\"");
                p = putInteger(p, xf);
                *p++ = '"';
            }
            const double number = std::isfinite(v.number()) ? v.number() : 0;
            if (hasFormula) {
                const bool textValue = type == CellValue::Type::String || type == CellValue::Type::Error ||
                                       type == CellValue::Type::Empty;
                p = textValue ? put(p, " t=\"str\"><f>") : put(p, "><f>");
                p = putText(p, formula);
                p = put(p, "</f><v>");
                p = textValue ? putText(p, text) : writeNumber(p, number);
                p = put(p, "</v></c>");
            } else {
                switch (type) {
                case CellValue::Type::Empty:
                    p = put(p, "/>");
                    break;
                case CellValue::Type::Number:
                case CellValue::Type::DateTime:
                    p = put(p, "><v>");
                    p = writeNumber(p, number);
                    p = put(p, "</v></c>");
                    break;
                case CellValue::Type::Boolean:
                    p = number != 0 ? put(p, " t=\"b\"><v>1</v></c>") : put(p, " t=\"b\"><v>0</v></c>");
                    break;
                case CellValue::Type::Error:
                case CellValue::Type::String:
                    if (text.isEmpty()) {
                        p = put(p, "/>");
                    } else if (type == CellValue::Type::Error && isErrorLiteral(text)) {
                        // An error value is written as the formula that gives it.
                        p = put(p, " t=\"str\"><f>");
                        p = putText(p, text);
                        p = put(p, "</f><v>");
                        p = putText(p, text);
                        p = put(p, "</v></c>");
                    } else {
                        const char16_t* units = reinterpret_cast<const char16_t*>(text.utf16());
                        p = needsPreserve(units, size_t(text.size()))
                                ? put(p, " t=\"inlineStr\"><is><t xml:space=\"preserve\">")
                                : put(p, " t=\"inlineStr\"><is><t>");
                        p = writeCellText(p, units, size_t(text.size()));
                        p = put(p, "</t></is></c>");
                    }
                    break;
                }
            }
            out.commit(p);
        }
        if (started) {
            appendText(out, "</row>");
        } else if (row.height >= 0 || row.hidden) {
            appendWith(out, 96, [&](char* p) { return put(startRow(p), "/>"); });
        }
    }
    return end;
}

void SheetXml::tail(const SheetPlan& plan, RawBuffer& out) const {
    const Sheet& sheet = *plan.sheet;
    appendText(out, "</sheetData>");
    if (sheet.isProtected) appendText(out, "<sheetProtection sheet=\"1\" objects=\"1\" scenarios=\"1\"/>");
    auto inGrid = [](const CellRange& m) {
        return m.firstRow >= 0 && m.firstColumn >= 0 && m.lastRow < kMaxRows && m.lastColumn < kMaxColumns &&
               m.firstRow <= m.lastRow && m.firstColumn <= m.lastColumn &&
               (m.rowCount() > 1 || m.columnCount() > 1);
    };
    const size_t merges = size_t(std::count_if(sheet.merges.begin(), sheet.merges.end(), inGrid));
    if (merges > 0) {
        appendWith(out, 64, [&](char* p) {
            p = put(p, "<mergeCells count=\"");
            p = putInteger(p, int64_t(merges));
            return put(p, "\">");
        });
        for (const CellRange& m : sheet.merges) {
            if (!inGrid(m)) continue;
            appendWith(out, 64, [&](char* p) {
                p = put(p, "<mergeCell ref=\"");
                p = putReference(p, m.firstRow, m.firstColumn);
                *p++ = ':';
                p = putReference(p, m.lastRow, m.lastColumn);
                return put(p, "\"/>");
            });
        }
        appendText(out, "</mergeCells>");
    }

    const PageSetup& page = sheet.pageSetup;
    const PageSetup defaults;
    auto margin = [](double value, double fallback) { return value >= 0 ? value : fallback; };
    // Header and footer margins other than the default go with an (empty) header or footer.
    const bool header = std::abs(page.marginHeader - 0.3) > 1e-9 && page.marginHeader > 0;
    const bool footer = std::abs(page.marginFooter - 0.3) > 1e-9 && page.marginFooter > 0;
    const bool paper = page.paperSize > 0 && page.paperSize < 256;
    const bool scaled = !page.fitToPage && page.scale != 100 && page.scale >= 10 && page.scale <= 400;
    appendWith(out, 512, [&](char* p) {
        p = put(p, "<pageMargins left=\"");
        p = writeNumber(p, margin(page.marginLeft, defaults.marginLeft));
        p = put(p, "\" right=\"");
        p = writeNumber(p, margin(page.marginRight, defaults.marginRight));
        p = put(p, "\" top=\"");
        p = writeNumber(p, margin(page.marginTop, defaults.marginTop));
        p = put(p, "\" bottom=\"");
        p = writeNumber(p, margin(page.marginBottom, defaults.marginBottom));
        p = put(p, "\" header=\"");
        p = writeNumber(p, header ? page.marginHeader : 0.3);
        p = put(p, "\" footer=\"");
        p = writeNumber(p, footer ? page.marginFooter : 0.3);
        p = put(p, "\"/>");
        if (paper || page.landscape || page.fitToPage || scaled) {
            p = put(p, "<pageSetup");
            if (paper) {
                p = put(p, " paperSize=\"");
                p = putInteger(p, page.paperSize);
                *p++ = '"';
            }
            if (scaled) {
                p = put(p, " scale=\"");
                p = putInteger(p, page.scale);
                *p++ = '"';
            }
            if (page.fitToPage && page.fitToWidth != 1) {
                p = put(p, " fitToWidth=\"");
                p = putInteger(p, std::clamp(page.fitToWidth, 0, 32767));
                *p++ = '"';
            }
            if (page.fitToPage && page.fitToHeight != 1) {
                p = put(p, " fitToHeight=\"");
                p = putInteger(p, std::clamp(page.fitToHeight, 0, 32767));
                *p++ = '"';
            }
            p = page.landscape ? put(p, " orientation=\"landscape\"/>")
                               : put(p, " orientation=\"portrait\"/>");
        }
        if (header || footer) {
            p = put(p, "<headerFooter>");
            if (header) p = put(p, "<oddHeader></oddHeader>");
            if (footer) p = put(p, "<oddFooter></oddFooter>");
            p = put(p, "</headerFooter>");
        }
        return p;
    });

    // A break at row b (1-based, the first row of a new page) falls after row b - 1; in the
    // model's order.
    std::vector<int32_t> breaks;
    for (int32_t b : sheet.rowBreaks)
        if (b > 1 && b <= kMaxRows && breaks.size() < kMaxBreaks) breaks.push_back(b - 1);
    if (!breaks.empty()) {
        appendWith(out, 96, [&](char* p) {
            p = put(p, "<rowBreaks count=\"");
            p = putInteger(p, int64_t(breaks.size()));
            p = put(p, "\" manualBreakCount=\"");
            p = putInteger(p, int64_t(breaks.size()));
            return put(p, "\">");
        });
        for (int32_t b : breaks)
            appendWith(out, 64, [&](char* p) {
                p = put(p, "<brk id=\"");
                p = putInteger(p, b);
                return put(p, "\" max=\"16383\" man=\"1\"/>");
            });
        appendText(out, "</rowBreaks>");
    }
    appendText(out, "</worksheet>");
}

} // namespace quellar::xlsx::writing
