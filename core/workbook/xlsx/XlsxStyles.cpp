// The .xlsx reader's theme and styles: the theme's colour scheme, and the number formats,
// fonts, fills, cell formats and custom palette of styles.xml turned into workbook styles.

#include "workbook/DisplayFormat.h"
#include "workbook/xlsx/XlsxReading.h"

#include <algorithm>
#include <cctype>

namespace quellar::xlsx::detail {

namespace {

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

} // namespace

ColorSpec ColorContext::read(const XmlScanner& sc) const {
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

void ColorContext::finish(ColorSpec& c) const {
    if (c.indexed < 0) return;
    c.rgb = applyTint(indexedColor(c.indexed, indexed), c.tint);
    if (c.indexed >= 8 && c.indexed < 64 && indexed.empty() && c.tint == 0) c.paletteIndex = c.indexed - 7;
    c.indexed = -1;
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

static HAlign horizontalFrom(std::string_view v) {
    if (v == "left") return HAlign::Left;
    if (v == "center") return HAlign::Center;
    if (v == "right") return HAlign::Right;
    if (v == "fill") return HAlign::Fill;
    if (v == "justify") return HAlign::Justify;
    if (v == "centerContinuous") return HAlign::CenterAcross;
    if (v == "distributed") return HAlign::Distributed;
    return HAlign::General;
}

static VAlign verticalFrom(std::string_view v) {
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
        resolveNumberFormat(spec.numFmtId, it != records.numberFormats.end() ? &it->second : nullptr,
                            style.numberFormat, info.isDate);
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

} // namespace quellar::xlsx::detail
