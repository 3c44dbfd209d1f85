#include "workbook/xls/BiffReader.h"

#include "workbook/xls/BiffRecords.h"

#include "base/CellOps.h"
#include "base/ExcelDate.h"
#include "base/Progress.h"
#include "workbook/DisplayFormat.h"
#include "workbook/ExcelConventions.h"
#include "workbook/containers/CompoundFile.h"

#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellar {

QString xlsEncryptedMessage() {
    return QStringLiteral("工作簿设置了打开密码（已加密），无法读取；请在 Excel 中去掉密码后再打开");
}

namespace biff {

namespace {

// Record types.
enum : uint16_t {
    kFormula = 0x0006,
    // FORMULA under the record ids of BIFF3 and BIFF4. Some programs that write BIFF8 use them
    // for some formula cells; the record's layout is BIFF8's all the same.
    kFormula3 = 0x0206,
    kFormula4 = 0x0406,
    kEof = 0x000A,
    kProtect = 0x0012,
    kName = 0x0018,
    kHorizontalPageBreaks = 0x001B,
    kDateMode = 0x0022,
    kLeftMargin = 0x0026,
    kRightMargin = 0x0027,
    kTopMargin = 0x0028,
    kBottomMargin = 0x0029,
    kFilePass = 0x002F,
    kFont = 0x0031,
    kContinue = 0x003C,
    kWindow1 = 0x003D,
    kCodePage = 0x0042,
    kDefColWidth = 0x0055,
    kColInfo = 0x007D,
    kWsBool = 0x0081,
    kBoundSheet = 0x0085,
    kPalette = 0x0092,
    kStandardWidth = 0x0099,
    kSetup = 0x00A1,
    kMulRk = 0x00BD,
    kMulBlank = 0x00BE,
    kRString = 0x00D6,
    kXf = 0x00E0,
    kMergedCells = 0x00E5,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kBlank = 0x0201,
    kNumber = 0x0203,
    kLabel = 0x0204,
    kBoolErr = 0x0205,
    kString = 0x0207,
    kRow = 0x0208,
    kDefaultRowHeight = 0x0225,
    kWindow2 = 0x023E,
    kRk = 0x027E,
    kFormat = 0x041E,
    kXf4 = 0x0443,
    kBof = 0x0809,
    kBof2 = 0x0009,
    kBof3 = 0x0209,
    kBof4 = 0x0409,
};

constexpr int32_t kXlsRows = 65536;

struct FontRecord {
    QString name;
    double size = 0;
    bool bold = false;
    bool italic = false;
    uint16_t color = 0x7FFF;
};

struct XfRecord {
    uint16_t font = 0;
    uint16_t format = 0;
    uint8_t horizontal = 0;
    uint8_t vertical = 2;
    bool wrap = false;
    uint8_t pattern = 0;
    uint16_t fore = 64;
};

// The font, number format and alignment of an XF record, laid out alike in BIFF5 and BIFF8;
// only the fill is stored differently.
XfRecord xfWithoutFill(const char* p) {
    XfRecord x;
    x.font = u16(p);
    x.format = u16(p + 2);
    const uint8_t align = uint8_t(p[6]);
    x.horizontal = align & 7;
    x.wrap = (align & 0x08) != 0;
    x.vertical = (align >> 4) & 7;
    return x;
}

struct SheetEntry {
    QString name;
    uint32_t position = 0;
    uint8_t visibility = 0;
    uint8_t type = 0;
};

struct XfInfo {
    uint32_t style = 0;
    bool isDate = false;
};

// Builds one sheet from cells in any order: rows and cells are appended as they come and
// sorted once at the end, so a file that lists them backwards costs no more than one in order.
class SheetBuilder {
public:
    explicit SheetBuilder(Sheet& sheet)
        : sheet_(sheet)
        , slot_(size_t(kXlsRows), -1)
        , unsortedFlags_(size_t(kXlsRows), 0) {}

    SheetRow& row(int32_t index) {
        int32_t& s = slot_[size_t(index)];
        if (s < 0) {
            if (!sheet_.rows.empty() && sheet_.rows.back().index > index) rowsUnsorted_ = true;
            s = int32_t(sheet_.rows.size());
            sheet_.rows.emplace_back().index = index;
        }
        return sheet_.rows[size_t(s)];
    }
    // The cell (created when missing); `created` tells which.
    Cell& cell(int32_t rowIndex, uint32_t column, bool& created) {
        SheetRow& r = row(rowIndex);
        created = true;
        // Once a row is out of order, a column past its last cell may still be among the earlier
        // ones, so every later cell of that row is looked for as well.
        uint8_t& unsorted = unsortedFlags_[size_t(rowIndex)];
        if (!r.cells.empty() && (unsorted || r.cells.back().column >= column)) {
            if (r.cells.back().column == column) {
                created = false;
                return r.cells.back();
            }
            // Out of order: look for it, else append and sort later.
            for (Cell& c : r.cells)
                if (c.column == column) {
                    created = false;
                    return c;
                }
            if (!unsorted) {
                unsorted = 1;
                unsortedRows_.push_back(rowIndex);
            }
        }
        Cell& c = r.cells.emplace_back();
        c.column = column;
        return c;
    }
    void finish() {
        std::sort(unsortedRows_.begin(), unsortedRows_.end());
        unsortedRows_.erase(std::unique(unsortedRows_.begin(), unsortedRows_.end()), unsortedRows_.end());
        for (int32_t index : unsortedRows_) {
            std::vector<Cell>& cells = sheet_.rows[size_t(slot_[size_t(index)])].cells;
            std::stable_sort(cells.begin(), cells.end(),
                             [](const Cell& a, const Cell& b) { return a.column < b.column; });
        }
        if (rowsUnsorted_)
            std::stable_sort(sheet_.rows.begin(), sheet_.rows.end(),
                             [](const SheetRow& a, const SheetRow& b) { return a.index < b.index; });
    }

private:
    Sheet& sheet_;
    std::vector<int32_t> slot_;
    std::vector<int32_t> unsortedRows_;
    std::vector<uint8_t> unsortedFlags_;
    bool rowsUnsorted_ = false;
};

class Reader {
public:
    Reader(ByteStream& stream, Workbook& book)
        : records_(stream)
        , book_(book) {}

    Status read();

private:
    Status readGlobals();
    void buildStyles();
    Status readSheet(size_t entry, Sheet& sheet, bool& keep, bool& active);
    bool chars8(Cursor& c, bool longCount); // BIFF8 string with its count (1 or 2 bytes), into chars_
    QString text8(Cursor& c, bool longCount);
    QString shortText(const std::string& data, size_t at, bool longCount); // either version, one part
    void readPrintTitles(const std::string& data);
    uint32_t colorOf(uint16_t index, bool& known) const;
    const XfInfo& xf(uint16_t index) const {
        static const XfInfo none;
        return index < xfInfo_.size() ? xfInfo_[index] : none;
    }

    Records records_;
    Workbook& book_;
    int biff_ = 8;
    bool date1904_ = false;
    CodePage codePage_;
    std::vector<FontRecord> fonts_;
    std::map<int, QString> formats_;
    std::vector<XfRecord> xfs_;
    std::vector<XfInfo> xfInfo_;
    std::vector<uint32_t> palette_;
    std::vector<bool> paletteChanged_;
    std::vector<SharedText> strings_;
    std::vector<SheetEntry> sheets_;
    int activeTab_ = 0;
    std::map<int, std::pair<int, int>> printTitles_; // by BOUNDSHEET index
    int64_t cells_ = 0;
    std::string data_;
    std::vector<size_t> starts_;
    std::u16string chars_;
};

bool Reader::chars8(Cursor& c, bool longCount) {
    chars_.clear();
    const uint32_t count = longCount ? c.u16() : c.u8();
    const uint8_t flags = c.u8();
    const uint16_t runs = (flags & 0x08) ? c.u16() : 0;
    const uint32_t ext = (flags & 0x04) ? c.u32() : 0;
    if (!c.ok() || !c.characters(count, flags & 1, chars_)) return false;
    c.skip(uint64_t(runs) * 4 + ext);
    return true;
}

QString Reader::text8(Cursor& c, bool longCount) {
    if (!chars8(c, longCount)) return QString();
    return QString::fromUtf16(chars_.data(), qsizetype(chars_.size()));
}

QString Reader::shortText(const std::string& data, size_t at, bool longCount) {
    static const std::vector<size_t> none;
    Cursor c(data, none, at);
    if (biff_ == 8) return text8(c, longCount);
    const uint32_t count = longCount ? c.u16() : c.u8();
    std::string bytes;
    if (!c.ok() || !c.bytes(std::min<uint32_t>(count, uint32_t(c.remaining())), bytes)) return QString();
    const std::u16string s = codePage_.decode(bytes);
    return QString::fromUtf16(s.data(), qsizetype(s.size()));
}

uint32_t Reader::colorOf(uint16_t index, bool& known) const {
    static const uint32_t fixed[8] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00,
                                      0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF};
    known = true;
    if (index < 8) return fixed[index];
    if (index < 64) return palette_[index - 8];
    known = false; // system colours, automatic
    return 0;
}

Status Reader::read() {
    palette_.resize(56);
    paletteChanged_.assign(56, false);
    for (int i = 0; i < 56; ++i)
        palette_[size_t(i)] = paletteColor(i + 1);
    book_ = Workbook();
    book_.sheets.clear();

    if (Status s = readGlobals(); !s) return s;
    buildStyles();

    std::vector<int> modelIndexOfTab(sheets_.size(), -1);
    int selected = -1;
    for (size_t i = 0; i < sheets_.size(); ++i) {
        const SheetEntry& entry = sheets_[i];
        if (entry.type != 0) continue; // macro sheet, chart, VBA module
        Sheet sheet;
        sheet.name = entry.name;
        sheet.hidden = entry.visibility != 0;
        bool keep = true, active = false;
        if (Status s = readSheet(i, sheet, keep, active); !s) return s;
        if (!keep) continue;
        const auto title = printTitles_.find(int(i));
        if (title != printTitles_.end()) {
            sheet.pageSetup.printTitleFirstRow = title->second.first;
            sheet.pageSetup.printTitleLastRow = title->second.second;
        }
        modelIndexOfTab[i] = int(book_.sheets.size());
        if (active && selected < 0) selected = int(book_.sheets.size());
        book_.sheets.push_back(std::move(sheet));
    }
    if (book_.sheets.empty()) return Status::invalidInput(QStringLiteral("工作簿中没有工作表"));
    if (activeTab_ >= 0 && size_t(activeTab_) < modelIndexOfTab.size() &&
        modelIndexOfTab[size_t(activeTab_)] >= 0)
        book_.activeSheet = modelIndexOfTab[size_t(activeTab_)];
    else
        book_.activeSheet = selected >= 0 ? selected : 0;
    if (records_.failed()) return Status::ioError(QStringLiteral("读取文件失败"));
    return Status::ok();
}

Status Reader::readGlobals() {
    uint16_t type;
    std::string& data = data_;
    records_.seek(0);
    if (!records_.next(type, data))
        return Status::invalidInput(QStringLiteral("找不到工作簿数据（工作簿数据流是空的）"));
    if (type == kBof2 || type == kBof3 || type == kBof4)
        return Status::unsupported(QStringLiteral(
            "这是 Excel 4.0 或更早版本的工作簿（BIFF2–4），无法读取；请在 Excel 中另存为 .xlsx 后再打开"));
    if (type != kBof || data.size() < 4)
        return Status::invalidInput(QStringLiteral("找不到工作簿数据（这不是 Excel 工作簿，或者版本太旧）"));
    const uint16_t version = u16(data.data());
    const uint16_t kind = u16(data.data() + 2);
    biff_ = version == 0x0500 ? 5 : 8;
    if (version != 0x0500 && version != 0x0600 && data.size() < 16) biff_ = 5;
    if (kind != 0x0005)
        return Status::invalidInput(
            QStringLiteral("找不到工作簿的全局数据（这不是 Excel 工作簿，或者版本太旧）"));

    bool window1 = false;
    int depth = 0;
    while (records_.next(type, data)) {
        const char* p = data.data();
        const size_t n = data.size();
        if (type == kBof) {
            ++depth;
            continue;
        }
        if (type == kEof) {
            if (depth == 0) break;
            --depth;
            continue;
        }
        if (depth > 0) continue;
        switch (type) {
        case kFilePass:
            return Status::invalidInput(xlsEncryptedMessage());
        case kCodePage:
            if (n >= 2 && biff_ == 5) codePage_.set(u16(p));
            break;
        case kDateMode:
            if (n >= 2) date1904_ = u16(p) != 0;
            break;
        case kWindow1:
            if (n >= 12 && !window1) {
                activeTab_ = u16(p + 10);
                window1 = true;
            }
            break;
        case kBoundSheet:
            if (n >= 7) {
                SheetEntry e;
                e.position = u32(p);
                e.visibility = uint8_t(p[4]) & 3;
                e.type = uint8_t(p[5]);
                e.name = shortText(data, 6, false);
                if (e.name.isEmpty()) e.name = QStringLiteral("Sheet%1").arg(sheets_.size() + 1);
                if (sheets_.size() < 65536) sheets_.push_back(std::move(e));
            }
            break;
        case kFormat:
            if (n >= 3) {
                const int id = u16(p);
                const QString code = shortText(data, 2, biff_ == 8);
                if (formats_.size() < 65536) formats_[id] = code;
            }
            break;
        case kFont:
            if (n >= 15) {
                FontRecord f;
                f.size = u16(p) / 20.0;
                f.italic = (u16(p + 2) & 0x0002) != 0;
                f.color = u16(p + 4);
                f.bold = u16(p + 6) >= 700;
                f.name = shortText(data, 14, false);
                if (fonts_.size() < 65536) fonts_.push_back(std::move(f));
            }
            break;
        case kXf:
        case kXf4:
            if (xfs_.size() >= 65536) break;
            if (biff_ == 8 && n >= 20) {
                XfRecord x = xfWithoutFill(p);
                x.pattern = uint8_t((u32(p + 14) >> 26) & 0x3F);
                x.fore = u16(p + 18) & 0x7F;
                xfs_.push_back(x);
            } else if (biff_ == 5 && n >= 16) {
                XfRecord x = xfWithoutFill(p);
                const uint32_t fill = u32(p + 8);
                x.fore = fill & 0x7F;
                x.pattern = uint8_t((fill >> 16) & 0x3F);
                xfs_.push_back(x);
            }
            break;
        case kPalette:
            if (n >= 2) {
                const size_t count = std::min<size_t>({u16(p), 56, (n - 2) / 4});
                for (size_t i = 0; i < count; ++i) {
                    const char* c = p + 2 + 4 * i;
                    const uint32_t rgb =
                        (uint32_t(uint8_t(c[0])) << 16) | (uint32_t(uint8_t(c[1])) << 8) | uint8_t(c[2]);
                    if (rgb != palette_[i]) paletteChanged_[i] = true;
                    palette_[i] = rgb;
                }
            }
            break;
        case kSst: {
            records_.continued(data, starts_);
            Cursor c(data, starts_);
            c.u32(); // total references
            const uint32_t unique = c.u32();
            strings_.clear();
            strings_.reserve(std::min<size_t>(unique, data.size() / 3));
            while (c.ok() && c.remaining() > 0 && strings_.size() < unique) {
                if (cancellation::requestedEvery(strings_.size())) return Status::cancelled();
                if (!chars8(c, true)) break;
                strings_.emplace_back(std::u16string_view(chars_));
            }
            break;
        }
        case kName:
            if (biff_ == 8) readPrintTitles(data);
            break;
        default:
            break;
        }
    }
    return Status::ok();
}

// The built-in name Print_Titles (code 7) of a sheet: the rows of an area spanning all columns.
void Reader::readPrintTitles(const std::string& data) {
    if (data.size() < 15) return;
    const char* p = data.data();
    const uint16_t flags = u16(p);
    const uint8_t nameLength = uint8_t(p[3]);
    const uint16_t formulaLength = u16(p + 4);
    const uint16_t tab = u16(p + 8);
    if (!(flags & 0x0020) || nameLength != 1 || tab == 0) return;
    const bool wide = (uint8_t(p[14]) & 1) != 0;
    const size_t nameAt = 15;
    if (nameAt + (wide ? 2 : 1) > data.size()) return;
    const uint16_t code = wide ? u16(p + nameAt) : uint8_t(p[nameAt]);
    if (code != 0x07) return;
    size_t at = nameAt + (wide ? 2 : 1);
    const size_t end = std::min(data.size(), at + formulaLength);
    while (at < end) {
        const uint8_t token = uint8_t(p[at]);
        if (token == 0x29 && at + 3 <= end) { // PtgMemFunc: the areas follow
            at += 3;
        } else if (token == 0x10) { // union
            at += 1;
        } else if ((token == 0x3B || token == 0x5B || token == 0x7B) && at + 11 <= end) {
            const uint16_t firstRow = u16(p + at + 3), lastRow = u16(p + at + 5);
            const uint16_t firstCol = u16(p + at + 7) & 0x3FFF, lastCol = u16(p + at + 9) & 0x3FFF;
            if (firstCol == 0 && lastCol >= 255 && firstRow <= lastRow)
                printTitles_[tab - 1] = {int(firstRow), int(lastRow)};
            at += 11;
        } else {
            break;
        }
    }
}

void Reader::buildStyles() {
    auto fontOf = [&](uint16_t index) -> const FontRecord* {
        const size_t i = index >= 4 ? size_t(index) - 1 : index; // font 4 does not exist
        return i < fonts_.size() ? &fonts_[i] : nullptr;
    };
    if (!xfs_.empty())
        if (const FontRecord* f = fontOf(xfs_[0].font)) {
            if (!f->name.isEmpty()) book_.defaultFontName = f->name;
            if (f->size > 0) book_.defaultFontSize = f->size;
        }
    xfInfo_.clear();
    xfInfo_.reserve(xfs_.size());
    for (const XfRecord& x : xfs_) {
        Style style;
        XfInfo info;
        if (x.format != 0) {
            const auto it = formats_.find(x.format);
            resolveNumberFormat(x.format, it != formats_.end() ? &it->second : nullptr, style.numberFormat,
                                info.isDate);
        }
        if (const FontRecord* f = fontOf(x.font)) {
            if (f->name != book_.defaultFontName) style.fontName = f->name;
            if (f->size > 0 && f->size != book_.defaultFontSize) style.fontSize = f->size;
            style.bold = f->bold;
            style.italic = f->italic;
            bool known;
            const uint32_t rgb = colorOf(f->color, known);
            if (known && rgb != 0) {
                style.hasFontColor = true;
                style.fontRgb = rgb;
            }
        }
        if (x.pattern != 0) {
            bool known;
            const uint32_t rgb = colorOf(x.fore, known);
            if (known) {
                style.hasFill = true;
                style.fillRgb = rgb;
                const int index = x.fore >= 8 ? x.fore - 7 : 0;
                style.fillPalette =
                    index > 0 && !paletteChanged_[size_t(index - 1)] ? index : nearestPaletteIndex(rgb);
            }
        }
        style.horizontal = HAlign(std::min<uint8_t>(x.horizontal, 7));
        switch (x.vertical) {
        case 0:
            style.vertical = VAlign::Top;
            break;
        case 1:
            style.vertical = VAlign::Center;
            break;
        case 3:
            style.vertical = VAlign::Justify;
            break;
        case 4:
            style.vertical = VAlign::Distributed;
            break;
        default:
            style.vertical = VAlign::Bottom;
            break;
        }
        style.wrapText = x.wrap;
        info.style = book_.internStyle(style);
        xfInfo_.push_back(info);
    }
}

Status Reader::readSheet(size_t entryIndex, Sheet& sheet, bool& keep, bool& active) {
    const SheetEntry& entry = sheets_[entryIndex];
    keep = true;
    active = false;
    uint16_t type;
    std::string& data = data_;
    records_.seek(entry.position);
    if (!records_.next(type, data) || type != kBof || data.size() < 4)
        return Status::invalidInput(QStringLiteral("工作表“%1”的数据位置无效，文件已损坏").arg(entry.name));
    if (u16(data.data() + 2) != 0x0010) { // a chart, macro sheet or module listed as a worksheet
        keep = false;
        return Status::ok();
    }

    SheetBuilder builder(sheet);
    const QString sheetName = entry.name;
    auto cellFor = [&](uint32_t row, uint32_t column, uint16_t xfIndex) -> Cell* {
        if (row >= uint32_t(kXlsRows) || column >= uint32_t(kMaxColumns)) return nullptr;
        bool created;
        Cell& c = builder.cell(int32_t(row), column, created);
        if (created) ++cells_;
        c.style = xf(xfIndex).style;
        c.value = CellValue();
        return &c;
    };
    auto number = [&](uint16_t xfIndex, double v) {
        if (!std::isfinite(v)) return CellValue::fromError(SharedText(u"#NUM!"));
        if (xf(xfIndex).isDate) return CellValue::fromDateTime(date1904_ ? exceldate::serialFrom1904(v) : v);
        return CellValue::fromNumber(v);
    };
    auto biff5Text = [&](Cursor& c, bool longCount) {
        const uint32_t count = longCount ? c.u16() : c.u8();
        std::string bytes;
        c.bytes(std::min<uint32_t>(count, uint32_t(c.remaining())), bytes);
        return SharedText(std::u16string_view(codePage_.decode(bytes)));
    };
    auto cellText = [&](Cursor& c) {
        if (biff_ == 8) return chars8(c, true) ? SharedText(std::u16string_view(chars_)) : SharedText();
        return biff5Text(c, true);
    };

    int16_t defaultHeightTwips = -1;
    Cell* pendingString = nullptr; // a formula cell whose text result is the next STRING record
    uint32_t pendingRow = 0, pendingColumn = 0;
    int depth = 0;
    bool ended = false;
    uint32_t records = 0;
    while (records_.next(type, data)) {
        // A cancel is looked for once every 4096 records (cells, mostly), not once a byte.
        if (cancellation::requestedEvery(++records)) return Status::cancelled();
        const char* p = data.data();
        const size_t n = data.size();
        if (type == kBof) { // an embedded chart or other substream: skipped whole
            ++depth;
            continue;
        }
        if (type == kEof) {
            if (depth == 0) {
                ended = true;
                break;
            }
            --depth;
            continue;
        }
        if (depth > 0) continue;
        if (cells_ > kMaxWorkbookCells)
            return Status::invalidInput(
                QStringLiteral("单元格超过 %1 个，超出了能读入的上限").arg(kMaxWorkbookCells));
        if (type != kString && type != kContinue && pendingString && type != 0x04BC && type != 0x0221 &&
            type != 0x0236)
            pendingString = nullptr;
        switch (type) {
        case kNumber:
            if (n >= 14)
                if (Cell* c = cellFor(u16(p), u16(p + 2), u16(p + 4)))
                    c->value = number(u16(p + 4), f64(p + 6));
            break;
        case kRk:
            if (n >= 10)
                if (Cell* c = cellFor(u16(p), u16(p + 2), u16(p + 4)))
                    c->value = number(u16(p + 4), rkValue(u32(p + 6)));
            break;
        case kMulRk:
            if (n >= 6) {
                const uint32_t row = u16(p);
                const uint32_t first = u16(p + 2);
                const size_t count = (n - 6) / 6;
                for (size_t i = 0; i < count; ++i) {
                    const char* e = p + 4 + 6 * i;
                    if (Cell* c = cellFor(row, first + uint32_t(i), u16(e)))
                        c->value = number(u16(e), rkValue(u32(e + 2)));
                }
            }
            break;
        case kBlank:
            if (n >= 6) cellFor(u16(p), u16(p + 2), u16(p + 4));
            break;
        case kMulBlank:
            if (n >= 6) {
                const uint32_t row = u16(p);
                const uint32_t first = u16(p + 2);
                const size_t count = (n - 6) / 2;
                for (size_t i = 0; i < count; ++i)
                    cellFor(row, first + uint32_t(i), u16(p + 4 + 2 * i));
            }
            break;
        case kLabelSst:
            if (n >= 10) {
                const uint32_t index = u32(p + 6);
                if (Cell* c = cellFor(u16(p), u16(p + 2), u16(p + 4))) {
                    if (index >= strings_.size())
                        return Status::invalidInput(
                            QStringLiteral(
                                "工作表“%1”的单元格 %2 引用的共享字符串编号 %3 不存在（共有 %4 个）")
                                .arg(sheetName, columnAddress(int(u16(p + 2)) + 1, int(u16(p)) + 1))
                                .arg(index)
                                .arg(strings_.size()));
                    c->value = CellValue::fromString(strings_[index]);
                }
            }
            break;
        case kLabel:
        case kRString:
            if (n >= 8) {
                records_.continued(data, starts_);
                p = data.data();
                Cursor cur(data, starts_, 6);
                SharedText text = cellText(cur);
                if (Cell* c = cellFor(u16(p), u16(p + 2), u16(p + 4)))
                    c->value = CellValue::fromString(std::move(text));
            }
            break;
        case kBoolErr:
            if (n >= 8)
                if (Cell* c = cellFor(u16(p), u16(p + 2), u16(p + 4))) {
                    const uint8_t value = uint8_t(p[6]);
                    c->value = p[7] ? CellValue::fromError(SharedText(QStringView(errorText(value))))
                                    : CellValue::fromBoolean(value != 0);
                }
            break;
        case kFormula:
        case kFormula3:
        case kFormula4:
            if (n >= 20)
                if (Cell* c = cellFor(u16(p), u16(p + 2), u16(p + 4))) {
                    const char* r = p + 6;
                    if (uint8_t(r[6]) == 0xFF && uint8_t(r[7]) == 0xFF) {
                        switch (uint8_t(r[0])) {
                        case 0: // text: in the STRING record that follows
                            c->value = CellValue::fromString(SharedText());
                            pendingString = c;
                            pendingRow = u16(p);
                            pendingColumn = u16(p + 2);
                            break;
                        case 1:
                            c->value = CellValue::fromBoolean(r[2] != 0);
                            break;
                        case 2:
                            c->value =
                                CellValue::fromError(SharedText(QStringView(errorText(uint8_t(r[2])))));
                            break;
                        case 3:
                            c->value = CellValue::fromString(SharedText());
                            break;
                        default:
                            break;
                        }
                    } else {
                        c->value = number(u16(p + 4), f64(r));
                    }
                }
            break;
        case kString:
            if (pendingString) {
                records_.continued(data, starts_);
                Cursor cur(data, starts_, 0);
                SharedText text = cellText(cur);
                // The cell pointer stays valid: no cell was added since the FORMULA record.
                bool created;
                Cell& c = builder.cell(int32_t(pendingRow), pendingColumn, created);
                c.value = CellValue::fromString(std::move(text));
                pendingString = nullptr;
            }
            break;
        case kRow:
            if (n >= 16) {
                const uint32_t index = u16(p);
                const uint16_t height = u16(p + 6) & 0x7FFF;
                const uint16_t flags = u16(p + 12);
                const bool hidden = (flags & 0x20) != 0;
                const bool custom = (flags & 0x40) != 0;
                const bool differs =
                    custom || (defaultHeightTwips >= 0 && height != uint16_t(defaultHeightTwips));
                if (hidden || differs) {
                    SheetRow& row = builder.row(int32_t(index));
                    row.hidden = hidden;
                    if (differs) row.height = float(height / 20.0);
                }
            }
            break;
        case kDefaultRowHeight:
            if (n >= 4) {
                const uint16_t twips = u16(p + 2) & 0x7FFF;
                if (twips > 0) {
                    defaultHeightTwips = int16_t(twips);
                    sheet.defaultRowHeight = twips / 20.0;
                }
            } else if (n >= 2) {
                const uint16_t twips = u16(p) & 0x7FFF;
                if (twips > 0) {
                    defaultHeightTwips = int16_t(twips);
                    sheet.defaultRowHeight = twips / 20.0;
                }
            }
            break;
        case kDefColWidth:
            if (n >= 2) {
                const double base = u16(p);
                sheet.defaultColumnWidth = std::ceil((std::trunc(base * 7) + 5) / 8) * 8 * 0.75;
            }
            break;
        case kStandardWidth:
            if (n >= 2 && u16(p) > 0) sheet.defaultColumnWidth = characterWidthToPoints(u16(p) / 256.0);
            break;
        case kColInfo:
            if (n >= 10) {
                const uint32_t first = u16(p);
                const uint32_t last = std::min<uint32_t>(u16(p + 2), 255);
                const double points = characterWidthToPoints(u16(p + 4) / 256.0);
                for (uint32_t col = first; col <= last; ++col)
                    sheet.columnWidths[int32_t(col)] = points;
            }
            break;
        case kMergedCells:
            if (n >= 2) {
                const size_t count = std::min<size_t>(u16(p), (n - 2) / 8);
                for (size_t i = 0; i < count && sheet.merges.size() < 1000000; ++i) {
                    const char* m = p + 2 + 8 * i;
                    CellRange range{u16(m), u16(m + 4), u16(m + 2), u16(m + 6)};
                    if (range.lastRow < range.firstRow) std::swap(range.lastRow, range.firstRow);
                    if (range.lastColumn < range.firstColumn) std::swap(range.lastColumn, range.firstColumn);
                    if (range.lastColumn >= kMaxColumns) continue;
                    if (range.rowCount() > 1 || range.columnCount() > 1) sheet.merges.push_back(range);
                }
            }
            break;
        case kHorizontalPageBreaks:
            if (n >= 2) {
                const size_t each = biff_ == 8 ? 6 : 2;
                const size_t count = std::min<size_t>(u16(p), (n - 2) / each);
                for (size_t i = 0; i < count && sheet.rowBreaks.size() < 1026; ++i) {
                    const int32_t row = u16(p + 2 + each * i);
                    if (row >= 1) sheet.rowBreaks.push_back(row + 1);
                }
            }
            break;
        case kSetup:
            if (n >= 34) {
                PageSetup& s = sheet.pageSetup;
                const uint16_t flags = u16(p + 10);
                if (!(flags & 0x04)) { // the printer fields are set
                    if (u16(p) > 0) s.paperSize = u16(p);
                    if (u16(p + 2) >= 10 && u16(p + 2) <= 400) s.scale = u16(p + 2);
                    if (!(flags & 0x40)) s.landscape = !(flags & 0x02);
                }
                s.fitToWidth = u16(p + 6);
                s.fitToHeight = u16(p + 8);
                const double header = f64(p + 16), footer = f64(p + 24);
                if (std::isfinite(header) && header >= 0 && header < 100) s.marginHeader = header;
                if (std::isfinite(footer) && footer >= 0 && footer < 100) s.marginFooter = footer;
            }
            break;
        case kLeftMargin:
        case kRightMargin:
        case kTopMargin:
        case kBottomMargin:
            if (n >= 8) {
                const double v = f64(p);
                if (std::isfinite(v) && v >= 0 && v < 100) {
                    PageSetup& s = sheet.pageSetup;
                    (type == kLeftMargin    ? s.marginLeft
                     : type == kRightMargin ? s.marginRight
                     : type == kTopMargin   ? s.marginTop
                                            : s.marginBottom) = v;
                }
            }
            break;
        case kWsBool:
            if (n >= 2) {
                const uint16_t flags = u16(p);
                sheet.pageSetup.fitToPage = (flags & 0x0100) != 0;
                if (flags & 0x0010) keep = false; // a dialog sheet
            }
            break;
        case kProtect:
            if (n >= 2) sheet.isProtected = u16(p) != 0;
            break;
        case kWindow2:
            if (n >= 2) active = (u16(p) & 0x0400) != 0;
            break;
        default:
            break;
        }
    }
    (void)ended;
    builder.finish();
    std::sort(sheet.rowBreaks.begin(), sheet.rowBreaks.end());
    sheet.rowBreaks.erase(std::unique(sheet.rowBreaks.begin(), sheet.rowBreaks.end()), sheet.rowBreaks.end());
    return Status::ok();
}

} // namespace

Status readWorkbookStream(ByteStream& stream, Workbook& book) {
    Reader reader(stream, book);
    return reader.read();
}

} // namespace biff

} // namespace quellar
