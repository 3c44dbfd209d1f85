// The .xlsx writer's cell formats: the workbook's styles, with the date formats that date-time
// values need, as the xf records, fonts, fills and number formats of xl/styles.xml.

#include "workbook/DisplayFormat.h"
#include "workbook/xlsx/XlsxWriting.h"

#include "base/ExcelDate.h"
#include "base/TextIO.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace quellar::xlsx::writing {

namespace {

// The package's default font, which cell format 0 uses.
constexpr double kDefaultFontSize = 11;
// Number formats of the workbook's own are numbered from here; the ids below are built in.
constexpr uint32_t kFirstCustomFormat = 164;
const QString kDefaultFontName = QStringLiteral("Calibri");

void appendNumber(std::string& out, double value) {
    char buffer[40];
    out.append(buffer, size_t(writeNumber(buffer, value) - buffer));
}

void appendAttribute(std::string& out, const char* name, const QString& value) {
    out += ' ';
    out += name;
    out += "=\"";
    appendUtf8(out, value, TextEscape::XmlAttribute);
    out += '"';
}

void appendColor(std::string& out, const char* element, uint32_t rgb) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "FF%06X", unsigned(rgb & 0xFFFFFF));
    out += '<';
    out += element;
    out += " rgb=\"";
    out += hex;
    out += "\"/>";
}

const char* horizontalName(HAlign a) {
    switch (a) {
    case HAlign::Left:
        return "left";
    case HAlign::Center:
        return "center";
    case HAlign::Right:
        return "right";
    case HAlign::Fill:
        return "fill";
    case HAlign::Justify:
        return "justify";
    case HAlign::CenterAcross:
        return "centerContinuous";
    case HAlign::Distributed:
        return "distributed";
    case HAlign::General:
        break;
    }
    return nullptr;
}

const char* verticalName(VAlign a) {
    switch (a) {
    case VAlign::Top:
        return "top";
    case VAlign::Center:
        return "center";
    case VAlign::Justify:
        return "justify";
    case VAlign::Distributed:
        return "distributed";
    case VAlign::Bottom:
        break; // Excel's default
    }
    return nullptr;
}

// A <font>: name and size only where given (else the package's Calibri 11 of the theme's
// minor scheme), bold, italic, colour.
std::string fontElement(const QString* name, double size, bool bold, bool italic, const uint32_t* rgb) {
    std::string f = "<font>";
    if (bold) f += "<b/>";
    if (italic) f += "<i/>";
    f += "<sz val=\"";
    appendNumber(f, size);
    f += "\"/>";
    if (rgb)
        appendColor(f, "color", *rgb);
    else
        f += "<color theme=\"1\"/>";
    f += "<name";
    appendAttribute(f, "val", name ? *name : kDefaultFontName);
    f += "/><family val=\"2\"/>";
    if (!name) f += "<scheme val=\"minor\"/>";
    f += "</font>";
    return f;
}

template <typename Key> uint32_t indexIn(std::vector<Key>& list, std::map<Key, uint32_t>& index, Key key) {
    const auto [it, added] = index.emplace(key, uint32_t(list.size()));
    if (added) list.push_back(std::move(key));
    return it->second;
}

} // namespace

struct CellFormats::Record {
    std::string element;
    bool plain = true;
};

CellFormats::CellFormats(const Workbook& book)
    : book_(book)
    , styleCount_(uint32_t(std::max<size_t>(1, book.styles.size()))) {
    // The package's default font is Calibri 11; any other workbook default goes on every cell
    // format (format 0 stays the package's).
    explicitFont_ = book.defaultFontName.compare(kDefaultFontName, Qt::CaseInsensitive) != 0 ||
                    std::abs(book.defaultFontSize - kDefaultFontSize) > 1e-9;
    isDateStyle_.resize(styleCount_);
    for (size_t i = 0; i < book.styles.size(); ++i)
        isDateStyle_[i] = isDateFormatCode(formatCodeFor(book.styles[i].numberFormat)) ? 1 : 0;
    used_.assign(size_t(styleCount_) * kFormatKinds, 0);
}

FormatKind CellFormats::dateKind(uint32_t style, double serial) const {
    if (isDateStyle_[style < styleCount_ ? style : 0]) return FormatKind::AsStyled;
    if (serial < 1) return FormatKind::Time;
    return serial != std::floor(serial) ? FormatKind::DateTime : FormatKind::Date;
}

FormatKind CellFormats::kindOf(const Cell& cell) const {
    const CellValue& v = cell.value;
    if (v.type() == CellValue::Type::DateTime && v.number() >= 0 && v.number() < exceldate::kLastSerial)
        return dateKind(cell.style, v.number());
    return FormatKind::AsStyled;
}

CellFormats::Record CellFormats::recordOf(uint32_t styleIndex, FormatKind kind) {
    static const Style kDefault;
    const Style& s = styleIndex < book_.styles.size() ? book_.styles[styleIndex] : kDefault;
    QString code = formatCodeFor(s.numberFormat);
    if (kind == FormatKind::Date || kind == FormatKind::DateTime) // dates as the program writes them
        code = DisplayFormat::dateTextFormat(kind == FormatKind::Date ? 0.0 : 0.5);
    else if (kind == FormatKind::Time)
        code = QStringLiteral("h:mm:ss");
    Record r;
    if (s == Style() && !explicitFont_ && code.isEmpty()) return r;
    r.plain = false;

    uint32_t numFmtId = 0;
    if (!code.isEmpty() && code != u"General") {
        std::string utf8;
        appendUtf8(utf8, code);
        numFmtId = kFirstCustomFormat + indexIn(numberFormats_, formatIndex_, std::move(utf8));
    }

    const bool nameSet = explicitFont_ || !s.fontName.isEmpty();
    const QString fontName = s.fontName.isEmpty() ? book_.defaultFontName : s.fontName;
    const double fontSize = explicitFont_ || s.fontSize > 0
                                ? (s.fontSize > 0 ? s.fontSize : book_.defaultFontSize)
                                : kDefaultFontSize;
    const std::string font = fontElement(nameSet ? &fontName : nullptr, fontSize, s.bold, s.italic,
                                         s.hasFontColor ? &s.fontRgb : nullptr);
    const uint32_t fontId = indexIn(fonts_, fontIndex_, font);

    uint32_t fillId = 0;
    if (s.hasFill) {
        const uint32_t rgb = s.fillRgb != 0 || s.fillPalette <= 0 ? s.fillRgb : paletteColor(s.fillPalette);
        std::string fill = "<fill><patternFill patternType=\"solid\">";
        appendColor(fill, "fgColor", rgb);
        fill += "<bgColor indexed=\"64\"/></patternFill></fill>";
        fillId = indexIn(fills_, fillIndex_, std::move(fill));
    }

    const char* horizontal = horizontalName(s.horizontal);
    const char* vertical = verticalName(s.vertical);
    const bool aligned = horizontal || vertical || s.wrapText;
    std::string& x = r.element;
    x = "<xf numFmtId=\"" + std::to_string(numFmtId) + "\" fontId=\"" + std::to_string(fontId) +
        "\" fillId=\"" + std::to_string(fillId) + "\" borderId=\"0\" xfId=\"0\"";
    if (numFmtId) x += " applyNumberFormat=\"1\"";
    if (fontId) x += " applyFont=\"1\"";
    if (fillId) x += " applyFill=\"1\"";
    if (aligned) {
        x += " applyAlignment=\"1\"><alignment";
        if (horizontal) x += std::string(" horizontal=\"") + horizontal + '"';
        if (vertical) x += std::string(" vertical=\"") + vertical + '"';
        if (s.wrapText) x += " wrapText=\"1\"";
        x += "/></xf>";
    } else {
        x += "/>";
    }
    return r;
}

void CellFormats::finish() {
    indexIn(fonts_, fontIndex_, fontElement(nullptr, kDefaultFontSize, false, false, nullptr));
    indexIn(fills_, fillIndex_, std::string("<fill><patternFill patternType=\"none\"/></fill>"));
    indexIn(fills_, fillIndex_, std::string("<fill><patternFill patternType=\"gray125\"/></fill>"));
    std::map<std::string, uint32_t> byElement;
    indexIn(xfs_, byElement,
            std::string("<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"));
    xf_.assign(used_.size(), 0);
    for (size_t i = 0; i < used_.size(); ++i) {
        if (!used_[i]) continue;
        Record r = recordOf(uint32_t(i / kFormatKinds), FormatKind(i % kFormatKinds));
        if (!r.plain) xf_[i] = indexIn(xfs_, byElement, std::move(r.element));
    }
}

std::string CellFormats::stylesPart() const {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                      "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    if (!numberFormats_.empty()) {
        out += "<numFmts count=\"" + std::to_string(numberFormats_.size()) + "\">";
        for (size_t i = 0; i < numberFormats_.size(); ++i) {
            out += "<numFmt numFmtId=\"" + std::to_string(kFirstCustomFormat + i) + "\"";
            appendAttribute(out, "formatCode", QString::fromUtf8(numberFormats_[i]));
            out += "/>";
        }
        out += "</numFmts>";
    }
    auto section = [&out](const char* name, const std::vector<std::string>& elements) {
        out += std::string("<") + name + " count=\"" + std::to_string(elements.size()) + "\">";
        for (const std::string& e : elements)
            out += e;
        out += std::string("</") + name + ">";
    };
    section("fonts", fonts_);
    section("fills", fills_);
    out += "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
           "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
           "borderId=\"0\"/></cellStyleXfs>";
    section("cellXfs", xfs_);
    out += "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
           "<dxfs count=\"0\"/><tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium9\" "
           "defaultPivotStyle=\"PivotStyleLight16\"/></styleSheet>";
    return out;
}

} // namespace quellar::xlsx::writing
