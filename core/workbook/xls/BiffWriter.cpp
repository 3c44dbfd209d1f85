#include "workbook/xls/BiffWriter.h"

#include "base/CellOps.h"
#include "base/ExcelDate.h"
#include "base/Progress.h"
#include "base/TextIO.h"
#include "workbook/DisplayFormat.h"
#include "workbook/ExcelConventions.h"
#include "workbook/containers/CompoundFile.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace quellar::biff {

namespace {

constexpr int32_t kXlsRows = 65536;
constexpr int32_t kXlsColumns = 256;
constexpr qsizetype kMaxText = 32767;
constexpr size_t kMaxRecord = 8224; // the longest record body Excel reads
constexpr uint16_t kDefaultCellXf = 15;
constexpr size_t kMaxXfs = 4000;

void put8(std::string& s, uint8_t v) {
    s.push_back(char(v));
}
void put16(std::string& s, uint16_t v) {
    const char b[2] = {char(v & 0xFF), char(v >> 8)};
    s.append(b, 2);
}
void put32(std::string& s, uint32_t v) {
    const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
    s.append(b, 4);
}
void putF64(std::string& s, double d) {
    char b[8];
    std::memcpy(b, &d, 8); // little-endian machines only, as the rest of the program
    s.append(b, 8);
}

// A record: type, length and body.
void record(std::string& out, uint16_t type, std::string_view body) {
    put16(out, type);
    put16(out, uint16_t(body.size()));
    out.append(body);
}

bool isLatin1(QStringView text) {
    for (QChar c : text)
        if (c.unicode() > 0xFF) return false;
    return true;
}

// Characters of a text as BIFF8 stores them: one byte each when all fit, else UTF-16LE.
void putCharacters(std::string& s, QStringView text, bool compressed) {
    if (compressed) {
        for (QChar c : text)
            s.push_back(char(c.unicode()));
    } else {
        for (QChar c : text)
            put16(s, c.unicode());
    }
}

// A text with a one-byte count (sheet and font names).
void putShortText(std::string& s, QStringView text) {
    text = text.left(255);
    const bool compressed = isLatin1(text);
    put8(s, uint8_t(text.size()));
    put8(s, compressed ? 0 : 1);
    putCharacters(s, text, compressed);
}
// A text with a two-byte count.
void putText(std::string& s, QStringView text) {
    text = text.left(kMaxText);
    const bool compressed = isLatin1(text);
    put16(s, uint16_t(text.size()));
    put8(s, compressed ? 0 : 1);
    putCharacters(s, text, compressed);
}

bool toRk(double v, uint32_t& rk) {
    auto back = [](uint32_t r) {
        double d;
        if (r & 2) {
            d = double(int32_t(r) >> 2);
        } else {
            const uint64_t bits = uint64_t(r & 0xFFFFFFFCu) << 32;
            std::memcpy(&d, &bits, 8);
        }
        if (r & 1) d /= 100;
        return d;
    };
    auto same = [&](uint32_t r) {
        const double d = back(r);
        return std::memcmp(&d, &v, 8) == 0;
    };
    if (v == std::trunc(v) && v >= -536870912.0 && v < 536870912.0) {
        const uint32_t r = (uint32_t(int32_t(v)) << 2) | 2;
        if (same(r)) return rk = r, true;
    }
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    if ((bits & 0x3FFFFFFFFull) == 0) {
        const uint32_t r = uint32_t(bits >> 32) & 0xFFFFFFFCu;
        if (same(r)) return rk = r, true;
    }
    const double w = v * 100;
    if (std::isfinite(w) && w == std::trunc(w) && w >= -536870912.0 && w < 536870912.0) {
        const uint32_t r = (uint32_t(int32_t(w)) << 2) | 3;
        if (same(r)) return rk = r, true;
    }
    return false;
}

uint8_t errorCode(QStringView text, bool& known) {
    static const std::pair<const char16_t*, uint8_t> codes[] = {
        {u"#NULL!", 0x00}, {u"#DIV/0!", 0x07}, {u"#VALUE!", 0x0F}, {u"#REF!", 0x17},
        {u"#NAME?", 0x1D}, {u"#NUM!", 0x24},   {u"#N/A", 0x2A},    {u"#GETTING_DATA", 0x2B},
    };
    for (const auto& [name, code] : codes)
        if (text == QStringView(name)) {
            known = true;
            return code;
        }
    known = false;
    return 0x2A;
}

uint8_t horizontalCode(HAlign a) {
    return uint8_t(a) & 7; // the enumeration follows the file's order
}
uint8_t verticalCode(VAlign a) {
    switch (a) {
    case VAlign::Top:
        return 0;
    case VAlign::Center:
        return 1;
    case VAlign::Justify:
        return 3;
    case VAlign::Distributed:
        return 4;
    case VAlign::Bottom:
    default:
        return 2;
    }
}

// Built-in number formats written by id: those every Excel shows the same way.
int builtinIdOf(const QString& code) {
    static const int ids[] = {1,  2,  3,  4,  9,  10, 11, 12, 13, 14, 15, 16,
                              17, 18, 19, 20, 21, 22, 45, 46, 47, 48, 49};
    for (int id : ids)
        if (builtinNumberFormat(id) == code) return id;
    return -1;
}

struct FontKey {
    QString name;
    int twips = 220;
    bool bold = false;
    bool italic = false;
    uint16_t color = 0x7FFF;
    bool operator<(const FontKey& o) const {
        return std::tie(name, twips, bold, italic, color) <
               std::tie(o.name, o.twips, o.bold, o.italic, o.color);
    }
};

struct XfSpec {
    uint16_t font = 0;
    uint16_t format = 0;
    uint8_t horizontal = 0;
    uint8_t vertical = 2;
    bool wrap = false;
    bool fill = false;
    uint8_t fillIndex = 64;
};

class Writer {
public:
    explicit Writer(const Workbook& book)
        : book_(book) {
        xfOfStyle_.assign(book.styles.size(), -1);
        // Excel's built-in styles use fonts 0–3: all the default font.
        const FontKey base = defaultFont();
        fonts_.assign(4, base);
        fontIndex_[base] = 0;
        // The default style's date formats first: they stand in for any date once the file
        // holds as many cell formats as Excel allows.
        for (int kind = 1; kind <= 3; ++kind)
            dateFallback_[kind] = xfFor(0, kind);
    }

    Status build(std::string& globals, std::string& sheets);

private:
    FontKey defaultFont() const {
        FontKey f;
        f.name = book_.defaultFontName.isEmpty() ? QStringLiteral("宋体") : book_.defaultFontName;
        f.twips = int(std::lround((book_.defaultFontSize > 0 ? book_.defaultFontSize : 11) * 20));
        return f;
    }
    uint16_t fontFor(const Style& s);
    uint16_t formatFor(const QString& code);
    uint16_t xfFor(uint32_t styleIndex, int kind);
    int dateKind(uint32_t styleIndex, double serial);
    uint32_t stringIndex(const SharedText& text);
    void writeSheet(size_t index, std::string& out);
    void writeGlobals(std::string& out, const std::vector<uint32_t>& positions, size_t& boundSheetAt);
    void writeSst(std::string& out);

    const Workbook& book_;
    std::vector<FontKey> fonts_;
    std::map<FontKey, uint16_t> fontIndex_;
    std::vector<QString> formats_; // custom formats, ids 164 on
    std::map<QString, uint16_t> formatIndex_;
    std::vector<XfSpec> xfs_; // cell formats from id 16 on
    std::vector<int32_t> xfOfStyle_;
    std::map<uint64_t, uint16_t> xfOfKey_;
    std::vector<int8_t> styleIsDate_;
    // A deque keeps each text where it is as more are added: the index holds views of them,
    // and a short text lives inside its SharedText, so a vector's reallocation would leave
    // those views dangling.
    std::deque<SharedText> strings_;
    std::unordered_map<std::u16string_view, uint32_t> stringIndex_;
    uint32_t stringRefs_ = 0;
    uint16_t dateFallback_[4] = {kDefaultCellXf, kDefaultCellXf, kDefaultCellXf, kDefaultCellXf};
};

uint16_t Writer::fontFor(const Style& s) {
    FontKey f = defaultFont();
    if (!s.fontName.isEmpty()) f.name = s.fontName;
    if (s.fontSize > 0) f.twips = int(std::lround(s.fontSize * 20));
    f.twips = std::clamp(f.twips, 20, 8191);
    f.bold = s.bold;
    f.italic = s.italic;
    if (s.hasFontColor && s.fontRgb != 0) f.color = uint16_t(nearestPaletteIndex(s.fontRgb) + 7);
    const auto it = fontIndex_.find(f);
    if (it != fontIndex_.end()) return it->second;
    if (fonts_.size() >= 500) return 0;
    // Font 4 does not exist in the file: the fifth font record has index 5.
    const uint16_t index = uint16_t(fonts_.size() + 1);
    fonts_.push_back(f);
    fontIndex_[f] = index;
    return index;
}

uint16_t Writer::formatFor(const QString& code) {
    if (code.isEmpty() || code.compare(u"General", Qt::CaseInsensitive) == 0) return 0;
    const int builtin = builtinIdOf(code);
    if (builtin > 0) return uint16_t(builtin);
    const auto it = formatIndex_.find(code);
    if (it != formatIndex_.end()) return it->second;
    const uint16_t id = uint16_t(164 + formats_.size());
    formats_.push_back(code);
    formatIndex_[code] = id;
    return id;
}

// kind: 0 as the style says; 1 a date; 2 a date with time; 3 a time of day (as the xlsx writer).
uint16_t Writer::xfFor(uint32_t styleIndex, int kind) {
    if (book_.styles.empty()) return kDefaultCellXf;
    if (styleIndex >= book_.styles.size()) styleIndex = 0;
    if (kind == 0 && xfOfStyle_[styleIndex] >= 0) return uint16_t(xfOfStyle_[styleIndex]);
    const uint64_t key = (uint64_t(styleIndex) << 2) | uint64_t(kind);
    if (kind != 0) {
        const auto it = xfOfKey_.find(key);
        if (it != xfOfKey_.end()) return it->second;
    }
    uint16_t id = kind == 0 ? kDefaultCellXf : dateFallback_[kind];
    if (kind == 0 && xfs_.size() >= kMaxXfs && styleIndex < book_.styles.size() &&
        isDateFormatCode(formatCodeFor(book_.styles[styleIndex].numberFormat)))
        id = dateFallback_[2]; // a date style beyond the limit keeps showing a date
    if (xfs_.size() < kMaxXfs) {
        const Style& s = book_.styles[styleIndex];
        XfSpec x;
        x.font = fontFor(s);
        QString code = formatCodeFor(s.numberFormat);
        if (kind == 1 || kind == 2)
            code = DisplayFormat::dateTextFormat(kind == 1 ? 0.0 : 0.5);
        else if (kind == 3)
            code = QStringLiteral("h:mm:ss");
        x.format = formatFor(code);
        x.horizontal = horizontalCode(s.horizontal);
        x.vertical = verticalCode(s.vertical);
        x.wrap = s.wrapText;
        if (s.hasFill) {
            const int palette = s.fillPalette > 0 && s.fillPalette <= 56 &&
                                        (s.fillRgb == 0 || paletteColor(s.fillPalette) == s.fillRgb)
                                    ? s.fillPalette
                                    : nearestPaletteIndex(s.fillRgb);
            x.fill = true;
            x.fillIndex = uint8_t(palette + 7);
        }
        xfs_.push_back(x);
        id = uint16_t(kDefaultCellXf + 1 + xfs_.size() - 1);
    }
    if (kind == 0)
        xfOfStyle_[styleIndex] = id;
    else
        xfOfKey_[key] = id;
    return id;
}

int Writer::dateKind(uint32_t styleIndex, double serial) {
    if (book_.styles.empty()) return serial < 1 ? 3 : serial != std::floor(serial) ? 2 : 1;
    if (styleIndex >= book_.styles.size()) styleIndex = 0;
    if (styleIsDate_.empty()) styleIsDate_.assign(book_.styles.size(), -1);
    int8_t& known = styleIsDate_[styleIndex];
    if (known < 0) known = isDateFormatCode(formatCodeFor(book_.styles[styleIndex].numberFormat)) ? 1 : 0;
    if (known) return 0;
    if (serial < 1) return 3;
    return serial != std::floor(serial) ? 2 : 1;
}

uint32_t Writer::stringIndex(const SharedText& text) {
    ++stringRefs_;
    const auto it = stringIndex_.find(text.view());
    if (it != stringIndex_.end()) return it->second;
    const uint32_t index = uint32_t(strings_.size());
    strings_.push_back(text);
    stringIndex_.emplace(strings_.back().view(), index);
    return index;
}

void Writer::writeSheet(size_t index, std::string& out) {
    const Sheet& sheet = book_.sheets[index];
    const PageSetup& p = sheet.pageSetup;
    std::string b;
    auto rec = [&](uint16_t type) {
        record(out, type, b);
        b.clear();
    };
    // BOF: BIFF8 worksheet.
    put16(b, 0x0600);
    put16(b, 0x0010);
    put16(b, 0x0DBB);
    put16(b, 0x07CC);
    put32(b, 0);
    put32(b, 6);
    rec(0x0809);
    put16(b, 0x0001); // CALCMODE automatic
    rec(0x000D);
    put16(b, 0x0064); // CALCCOUNT
    rec(0x000C);
    put16(b, 0x0001); // REFMODE A1
    rec(0x000F);
    put16(b, 0); // PRINTHEADERS
    rec(0x002A);
    put16(b, 0); // PRINTGRIDLINES
    rec(0x002B);
    put16(b, 1); // GRIDSET
    rec(0x0082);
    put16(b, 0); // DEFAULTROWHEIGHT: flags, height
    put16(b, uint16_t(std::clamp<long>(std::lround(sheet.defaultRowHeight * 20), 1, 8192)));
    rec(0x0225);
    put16(b, uint16_t(0x04C1 | (p.fitToPage ? 0x0100 : 0))); // WSBOOL
    rec(0x0081);
    {
        std::vector<int32_t> breaks;
        for (int32_t r : sheet.rowBreaks)
            if (r > 1 && r <= kXlsRows && breaks.size() < 1026) breaks.push_back(r - 1);
        std::sort(breaks.begin(), breaks.end());
        breaks.erase(std::unique(breaks.begin(), breaks.end()), breaks.end());
        if (!breaks.empty()) {
            put16(b, uint16_t(breaks.size()));
            for (int32_t r : breaks) {
                put16(b, uint16_t(r));
                put16(b, 0);
                put16(b, 255);
            }
            rec(0x001B); // HORIZONTALPAGEBREAKS
        }
    }
    record(out, 0x0014, {}); // HEADER, FOOTER: empty
    record(out, 0x0015, {});
    put16(b, 0); // HCENTER, VCENTER
    rec(0x0083);
    put16(b, 0);
    rec(0x0084);
    auto margin = [&](uint16_t type, double inches) {
        putF64(b, std::isfinite(inches) && inches >= 0 ? inches : 0.75);
        rec(type);
    };
    margin(0x0026, p.marginLeft);
    margin(0x0027, p.marginRight);
    margin(0x0028, p.marginTop);
    margin(0x0029, p.marginBottom);
    // SETUP
    put16(b, uint16_t(std::clamp(p.paperSize, 0, 0xFFFF)));
    put16(b, uint16_t(std::clamp(p.scale, 10, 400)));
    put16(b, 1); // first page number
    put16(b, uint16_t(std::clamp(p.fitToWidth, 0, 32767)));
    put16(b, uint16_t(std::clamp(p.fitToHeight, 0, 32767)));
    put16(b, uint16_t(p.landscape ? 0x0000 : 0x0002));
    put16(b, 600);
    put16(b, 600);
    putF64(b, p.marginHeader >= 0 && std::isfinite(p.marginHeader) ? p.marginHeader : 0.3);
    putF64(b, p.marginFooter >= 0 && std::isfinite(p.marginFooter) ? p.marginFooter : 0.3);
    put16(b, 1);
    rec(0x00A1);
    if (sheet.isProtected) {
        put16(b, 1);
        rec(0x0012); // PROTECT
    }
    // Column widths: a whole number of pixels, stored as 1/256 of a character width.
    auto widthUnits = [](double points) {
        const double pixels = std::max(0.0, std::round(points / 0.75));
        return uint16_t(std::min(65535.0, std::trunc(pixels * 256.0 / 7.0)));
    };
    put16(b, 8); // DEFCOLWIDTH
    rec(0x0055);
    for (auto it = sheet.columnWidths.begin(); it != sheet.columnWidths.end();) {
        const int32_t first = it->first;
        if (first < 0 || first >= kXlsColumns) {
            ++it;
            continue;
        }
        const uint16_t width = widthUnits(it->second);
        int32_t last = first;
        auto next = std::next(it);
        while (next != sheet.columnWidths.end() && next->first == last + 1 && next->first < kXlsColumns &&
               widthUnits(next->second) == width) {
            last = next->first;
            ++next;
        }
        put16(b, uint16_t(first));
        put16(b, uint16_t(last));
        put16(b, width);
        put16(b, kDefaultCellXf);
        put16(b, 0x0002 /* custom width */);
        put16(b, 0);
        rec(0x007D); // COLINFO
        it = next;
    }
    put16(b, widthUnits(sheet.defaultColumnWidth)); // STANDARDWIDTH
    rec(0x0099);

    // DIMENSIONS
    const std::optional<CellRange> used = sheet.usedRange();
    put32(b, used ? uint32_t(used->firstRow) : 0);
    put32(b, used ? uint32_t(used->lastRow + 1) : 0);
    put16(b, used ? uint16_t(used->firstColumn) : 0);
    put16(b, used ? uint16_t(used->lastColumn + 1) : 0);
    put16(b, 0);
    rec(0x0200);

    // Rows in blocks of 32: the ROW records, then the cells of those rows.
    const std::vector<SheetRow>& rows = sheet.rows;
    size_t blocks = 0;
    for (size_t blockStart = 0; blockStart < rows.size();) {
        // The stream is built whole before the file is written: a cancel is looked for here,
        // once every 128 blocks (4096 rows).
        if ((++blocks & 127) == 0) cancellation::point();
        size_t blockEnd = blockStart;
        while (blockEnd < rows.size() && rows[blockEnd].index < rows[blockStart].index + 32 &&
               blockEnd - blockStart < 32)
            ++blockEnd;
        for (size_t r = blockStart; r < blockEnd; ++r) {
            const SheetRow& row = rows[r];
            if (row.index < 0 || row.index >= kXlsRows) continue;
            const bool custom = row.height >= 0;
            put16(b, uint16_t(row.index));
            put16(b, row.cells.empty() ? 0 : uint16_t(std::min<uint32_t>(row.cells.front().column, 255)));
            put16(b, row.cells.empty() ? 0 : uint16_t(std::min<uint32_t>(row.cells.back().column + 1, 256)));
            const double height = custom ? row.height : sheet.defaultRowHeight;
            put16(b, uint16_t(std::clamp<long>(std::lround(height * 20), 0, 8192)));
            put16(b, 0);
            put16(b, 0);
            put16(b, uint16_t(0x0100 | (row.hidden ? 0x20 : 0) | (custom || row.hidden ? 0x40 : 0)));
            put16(b, kDefaultCellXf);
            rec(0x0208);
        }
        for (size_t r = blockStart; r < blockEnd; ++r) {
            const SheetRow& row = rows[r];
            if (row.index < 0 || row.index >= kXlsRows) continue;
            const uint16_t rowIndex = uint16_t(row.index);
            for (const Cell& cell : row.cells) {
                if (cell.column >= uint32_t(kXlsColumns)) continue;
                const CellValue& v = cell.value;
                int kind = 0;
                if (v.type() == CellValue::Type::DateTime && v.number() >= 0 &&
                    v.number() < exceldate::kLastSerial)
                    kind = dateKind(cell.style, v.number());
                const uint16_t xf = xfFor(cell.style, kind);
                put16(b, rowIndex);
                put16(b, uint16_t(cell.column));
                put16(b, xf);
                switch (v.type()) {
                case CellValue::Type::Empty:
                    rec(0x0201); // BLANK
                    break;
                case CellValue::Type::Number:
                case CellValue::Type::DateTime: {
                    const double d = std::isfinite(v.number()) ? v.number() : 0;
                    uint32_t rk;
                    if (toRk(d, rk)) {
                        put32(b, rk);
                        rec(0x027E); // RK
                    } else {
                        putF64(b, d);
                        rec(0x0203); // NUMBER
                    }
                    break;
                }
                case CellValue::Type::Boolean:
                    put8(b, v.number() != 0 ? 1 : 0);
                    put8(b, 0);
                    rec(0x0205); // BOOLERR
                    break;
                case CellValue::Type::Error: {
                    bool known;
                    const uint8_t code = errorCode(v.text().qview(), known);
                    if (known) {
                        put8(b, code);
                        put8(b, 1);
                        rec(0x0205);
                    } else {
                        put32(b, stringIndex(v.text()));
                        rec(0x00FD);
                    }
                    break;
                }
                case CellValue::Type::String:
                    put32(b, stringIndex(v.text()));
                    rec(0x00FD); // LABELSST
                    break;
                }
            }
        }
        blockStart = blockEnd;
    }

    // WINDOW2: gridlines, headers, zeros, outline symbols; selected and shown when active.
    const bool active = int(index) == book_.activeSheet;
    put16(b, uint16_t(0x00B6 | (active ? 0x0600 : 0)));
    put16(b, 0);
    put16(b, 0);
    put16(b, 0x0040);
    put16(b, 0);
    put16(b, 0);
    put16(b, 0);
    put32(b, 0);
    rec(0x023E);
    // MERGEDCELLS: at most 1026 areas a record.
    std::vector<CellRange> merges;
    for (const CellRange& m : sheet.merges)
        if (m.firstRow >= 0 && m.firstColumn >= 0 && m.lastRow < kXlsRows && m.lastColumn < kXlsColumns &&
            m.lastRow >= m.firstRow && m.lastColumn >= m.firstColumn)
            merges.push_back(m);
    for (size_t at = 0; at < merges.size(); at += 1026) {
        const size_t count = std::min<size_t>(1026, merges.size() - at);
        put16(b, uint16_t(count));
        for (size_t i = at; i < at + count; ++i) {
            put16(b, uint16_t(merges[i].firstRow));
            put16(b, uint16_t(merges[i].lastRow));
            put16(b, uint16_t(merges[i].firstColumn));
            put16(b, uint16_t(merges[i].lastColumn));
        }
        rec(0x00E5);
    }
    record(out, 0x000A, {}); // EOF
}

void Writer::writeSst(std::string& out) {
    // SST with CONTINUE records: a text is never split inside its header; characters that run
    // on into a CONTINUE record start it with the option byte again.
    size_t recordStart = out.size();
    auto begin = [&](uint16_t type) {
        recordStart = out.size();
        put16(out, type);
        put16(out, 0);
    };
    auto end = [&] {
        const size_t length = out.size() - recordStart - 4;
        out[recordStart + 2] = char(length & 0xFF);
        out[recordStart + 3] = char(length >> 8);
    };
    auto room = [&] { return kMaxRecord - (out.size() - recordStart - 4); };
    begin(0x00FC);
    put32(out, stringRefs_);
    put32(out, uint32_t(strings_.size()));
    for (const SharedText& text : strings_) {
        const QStringView s = text.qview();
        const bool compressed = isLatin1(s);
        const size_t unit = compressed ? 1 : 2;
        if (room() < 3 + (s.isEmpty() ? 0 : unit)) {
            end();
            begin(0x003C);
        }
        put16(out, uint16_t(s.size()));
        put8(out, compressed ? 0 : 1);
        qsizetype done = 0;
        while (done < s.size()) {
            qsizetype n = qsizetype(room() / unit);
            if (n == 0) {
                end();
                begin(0x003C);
                put8(out, compressed ? 0 : 1);
                continue;
            }
            n = std::min(n, s.size() - done);
            putCharacters(out, s.mid(done, n), compressed);
            done += n;
        }
    }
    end();
}

void Writer::writeGlobals(std::string& out, const std::vector<uint32_t>& positions, size_t& boundSheetAt) {
    std::string b;
    auto rec = [&](uint16_t type) {
        record(out, type, b);
        b.clear();
    };
    put16(b, 0x0600); // BOF: BIFF8 workbook globals
    put16(b, 0x0005);
    put16(b, 0x0DBB);
    put16(b, 0x07CC);
    put32(b, 0);
    put32(b, 6);
    rec(0x0809);
    put16(b, 0x04B0); // INTERFACEHDR
    rec(0x00E1);
    put16(b, 0); // MMS
    rec(0x00C1);
    rec(0x00E2); // INTERFACEEND
    {
        putText(b, u"Quellar"); // WRITEACCESS: the user name, padded with spaces to 112 bytes
        b.append(112 - b.size(), ' ');
        rec(0x005C);
    }
    put16(b, 0x04B0); // CODEPAGE: UTF-16
    rec(0x0042);
    put16(b, 0); // DSF
    rec(0x0161);
    put16(b, 0); // WINDOWPROTECT, PROTECT, PASSWORD
    rec(0x0019);
    put16(b, 0);
    rec(0x0012);
    put16(b, 0);
    rec(0x0013);
    // WINDOW1: the active tab.
    const uint16_t active = uint16_t(std::clamp<int>(book_.activeSheet, 0, int(book_.sheets.size()) - 1));
    put16(b, 0x01E0);
    put16(b, 0x005A);
    put16(b, 0x3FCF);
    put16(b, 0x2A4E);
    put16(b, 0x0038);
    put16(b, active);
    put16(b, 0);
    put16(b, 1);
    put16(b, 0x0258);
    rec(0x003D);
    put16(b, 0); // BACKUP, HIDEOBJ, DATEMODE (1900), PRECISION, REFRESHALL, BOOKBOOL
    rec(0x0040);
    put16(b, 0);
    rec(0x008D);
    put16(b, 0);
    rec(0x0022);
    put16(b, 1);
    rec(0x000E);
    put16(b, 0);
    rec(0x01B7);
    put16(b, 0);
    rec(0x00DA);
    // FONT records; record 4 is referred to as font 5.
    for (const FontKey& f : fonts_) {
        put16(b, uint16_t(f.twips));
        put16(b, f.italic ? 0x0002 : 0);
        put16(b, f.color);
        put16(b, f.bold ? 700 : 400);
        put16(b, 0);
        put8(b, 0);
        put8(b, 0);
        put8(b, isLatin1(f.name) ? 0 : 0x86); // character set: GB2312 for Chinese names
        put8(b, 0);
        putShortText(b, f.name);
        rec(0x0031);
    }
    for (size_t i = 0; i < formats_.size(); ++i) { // FORMAT
        put16(b, uint16_t(164 + i));
        putText(b, formats_[i]);
        rec(0x041E);
    }
    // XF: 15 style formats, the default cell format, then one per style used.
    auto xf = [&](const XfSpec& x, bool style) {
        put16(b, x.font);
        put16(b, x.format);
        put16(b, style ? 0xFFF5 : 0x0001);
        put8(b, uint8_t(x.horizontal | (x.wrap ? 0x08 : 0) | (x.vertical << 4)));
        put8(b, 0);
        put8(b, 0);
        put8(b, style ? 0x00 : 0xF8);
        put32(b, 0);
        put32(b, x.fill ? (1u << 26) : 0);
        put16(b, uint16_t((x.fill ? x.fillIndex : 64) | (65 << 7)));
        rec(0x00E0);
    };
    for (int i = 0; i < 15; ++i)
        xf(XfSpec{}, true);
    xf(XfSpec{}, false);
    for (const XfSpec& x : xfs_)
        xf(x, false);
    put16(b, 0x8000); // STYLE: Normal
    put8(b, 0);
    put8(b, 0xFF);
    rec(0x0293);
    boundSheetAt = out.size();
    for (size_t i = 0; i < book_.sheets.size(); ++i) { // BOUNDSHEET
        put32(b, positions[i]);
        put8(b, book_.sheets[i].hidden ? 1 : 0);
        put8(b, 0);
        putShortText(b, book_.sheets[i].name);
        rec(0x0085);
    }
    put16(b, 1); // COUNTRY
    put16(b, 86);
    rec(0x008C);
    // Print titles: a built-in name per sheet, over the sheet's own reference.
    bool titles = false;
    for (const Sheet& s : book_.sheets)
        titles = titles || (s.pageSetup.printTitleFirstRow >= 0 &&
                            s.pageSetup.printTitleLastRow >= s.pageSetup.printTitleFirstRow &&
                            s.pageSetup.printTitleLastRow < kXlsRows);
    if (titles) {
        put16(b, uint16_t(book_.sheets.size())); // SUPBOOK: this workbook
        put16(b, 0x0401);
        rec(0x01AE);
        put16(b, uint16_t(book_.sheets.size())); // EXTERNSHEET: one reference per sheet
        for (size_t i = 0; i < book_.sheets.size(); ++i) {
            put16(b, 0);
            put16(b, uint16_t(i));
            put16(b, uint16_t(i));
        }
        rec(0x0017);
        for (size_t i = 0; i < book_.sheets.size(); ++i) {
            const PageSetup& p = book_.sheets[i].pageSetup;
            if (!(p.printTitleFirstRow >= 0 && p.printTitleLastRow >= p.printTitleFirstRow &&
                  p.printTitleLastRow < kXlsRows))
                continue;
            put16(b, 0x0020); // built-in
            put8(b, 0);
            put8(b, 1);
            put16(b, 11);
            put16(b, 0);
            put16(b, uint16_t(i + 1));
            put32(b, 0);
            put8(b, 0);
            put8(b, 0x07); // Print_Titles
            put8(b, 0x3B); // PtgArea3d
            put16(b, uint16_t(i));
            put16(b, uint16_t(p.printTitleFirstRow));
            put16(b, uint16_t(p.printTitleLastRow));
            put16(b, 0);
            put16(b, 0x00FF);
            rec(0x0018);
        }
    }
    writeSst(out);
    record(out, 0x000A, {});
}

Status Writer::build(std::string& globals, std::string& sheets) {
    globals.clear();
    sheets.clear();
    std::vector<uint32_t> offsets;
    for (size_t i = 0; i < book_.sheets.size(); ++i) {
        offsets.push_back(uint32_t(sheets.size()));
        writeSheet(i, sheets);
    }
    // The globals with placeholder positions give their own length; then the real positions.
    size_t boundSheetAt = 0;
    writeGlobals(globals, std::vector<uint32_t>(offsets.size(), 0), boundSheetAt);
    size_t at = boundSheetAt;
    for (size_t i = 0; i < offsets.size(); ++i) {
        const uint32_t position = uint32_t(globals.size() + offsets[i]);
        const uint16_t length = uint16_t(uint8_t(globals[at + 2]) | (uint8_t(globals[at + 3]) << 8));
        globals[at + 4] = char(position & 0xFF);
        globals[at + 5] = char((position >> 8) & 0xFF);
        globals[at + 6] = char((position >> 16) & 0xFF);
        globals[at + 7] = char(position >> 24);
        at += 4 + length;
    }
    return Status::ok();
}

} // namespace

Status checkXlsLimits(const Workbook& book) {
    if (book.sheets.empty())
        return Status::invalidInput(QStringLiteral("工作簿中没有工作表，无法写出 .xls 文件"));
    for (const Sheet& sheet : book.sheets) {
        const std::optional<CellRange> used = sheet.usedRange();
        if (!used) continue;
        if (used->lastRow >= kXlsRows)
            return Status::invalidInput(QStringLiteral("工作表“%1”有 %2 行，超出了 .xls 格式最多 65536 "
                                                       "行的上限；请另存为 .xlsx（最多 1048576 行）")
                                            .arg(sheet.name)
                                            .arg(used->lastRow + 1));
        if (used->lastColumn >= kXlsColumns)
            return Status::invalidInput(QStringLiteral("工作表“%1”有 %2 列，超出了 .xls 格式最多 256 列（到 "
                                                       "IV 列）的上限；请另存为 .xlsx（最多 16384 列）")
                                            .arg(sheet.name)
                                            .arg(used->lastColumn + 1));
        for (const SheetRow& row : sheet.rows)
            for (const Cell& cell : row.cells)
                if ((cell.value.type() == CellValue::Type::String ||
                     cell.value.type() == CellValue::Type::Error) &&
                    cell.value.text().size() > size_t(kMaxText))
                    return Status::invalidInput(
                        QStringLiteral(
                            "工作表“%1”的单元格 %2 的文字有 %3 个字符，超过 .xls 单元格最多能存的 %4 个字符；"
                            "为了不截断文字，请另存为 .xml、.json 或 .csv")
                            .arg(sheet.name, columnAddress(int(cell.column) + 1, row.index + 1))
                            .arg(cell.value.text().size())
                            .arg(kMaxText));
    }
    return Status::ok();
}

Status buildWorkbookStream(const Workbook& book, std::string& globals, std::string& sheets) {
    if (Status s = checkXlsLimits(book); !s) return s;
    return Writer(book).build(globals, sheets);
}

Status writeWorkbookFile(const Workbook& book, const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    std::string globals, sheets;
    if (Status s = buildWorkbookStream(book, globals, sheets); !s)
        return s.withContext(QStringLiteral("不能写出文件“%1”").arg(shown));
    OutputFile out(path);
    if (Status opened = out.open(); !opened) return opened;
    cfb::writeSingleStream(QStringLiteral("Workbook"), {globals, sheets}, [&](std::string_view bytes) {
        out.append(bytes);
        return !out.failed();
    });
    return out.commit();
}

} // namespace quellar::biff
