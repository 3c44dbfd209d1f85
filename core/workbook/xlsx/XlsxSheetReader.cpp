// The .xlsx reader's worksheet parts: rows and cells (the plainest cells parsed straight from
// the scanner's bytes, the rest through the scanner), shared formulas, merged areas, column
// widths, row heights, page setup and manual breaks; rows can be streamed as they complete.

#include "workbook/FormulaNotation.h"
#include "workbook/xlsx/XlsxSheetParser.h"

#include "base/ExcelDate.h"
#include "base/Progress.h"

#include <algorithm>
#include <cstring>

namespace quellar {

namespace xlsx {

bool parseCellReference(std::string_view text, int32_t& row, int32_t& column) {
    int64_t col = 0;
    size_t i = readColumnLetters(text, col);
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

} // namespace xlsx

namespace xlsx::detail {

static void putInOrder(Sheet& sheet);

static CellType cellTypeOf(std::string_view t) {
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
            const uint64_t pending = cell.value.placeholder();
            if (pending == 0) continue;
            const uint64_t index = pending - 1;
            if (index >= strings.size())
                return partError(entry,
                                 QStringLiteral("单元格 %1 引用的共享字符串编号 %2 不存在（共有 %3 个）")
                                     .arg(cellName(row.index, int32_t(cell.column)))
                                     .arg(qint64(index))
                                     .arg(strings.size()));
            cell.value = CellValue::fromString(strings[size_t(index)]);
        }
    }
    return Status::ok();
}

Status XlsxReader::readSheet(const ZipEntry& entry, Sheet& sheet, const std::vector<SharedText>* strings,
                             UsedRangeStream* stream, bool* refused) {
    const int64_t cellsBefore = cells_.load(std::memory_order_relaxed);
    bool readAgain = false;
    auto read = [&](bool pieces) {
        sheet.defaultColumnWidth = 48; // 8.43 characters of Calibri 11
        sheet.defaultRowHeight = 15;
        return scanPart(entry, [&](XmlScanner& sc) -> Status {
            SheetPart part(*this, entry, sheet, sc, strings, stream);
            part.allowPieces(pieces);
            Status s = part.run();
            if (refused) *refused = part.streamRefused();
            // Whatever went wrong in a part read in pieces is told as reading it in one go
            // tells it: the first fault in the part's order, whoever met what first.
            readAgain = part.mustReadAgain() || (part.readInPieces() && (!s || sc.hasError()));
            return s;
        });
    };
    Status s = read(true);
    if (!readAgain) return s;
    Sheet fresh;
    fresh.name = sheet.name;
    fresh.hidden = sheet.hidden;
    sheet = std::move(fresh);
    cells_.store(cellsBefore, std::memory_order_relaxed);
    // The stream has taken rows already: the sheet is read whole instead, as when it refuses.
    if (stream && refused) {
        *refused = true;
        return Status::ok();
    }
    return read(false);
}

Status XlsxReader::SheetPart::run() {
    const SheetReadCount counted;
    if (Status s = scanElements(); !s) return s;
    if (readAgain_) return Status::ok();
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

// The elements of the part (or of a piece of its rows) up to the end of the scan.
Status XlsxReader::SheetPart::scanElements() {
    for (;;) {
        if (section_ == Section::SheetData && plainCells_) {
            if (Status s = readPlainCells(); !s) return s;
            if (stopped_) break;
        }
        const XmlScanner::Token t = sc_->next();
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
        if (t == XmlScanner::Token::EndElement) {
            if (sc_->depth() == 1) section_ = Section::None;
            continue;
        }
        if (t != XmlScanner::Token::StartElement) continue;
        const std::string_view name = sc_->localName();
        const int depth = sc_->depth();

        Status s;
        if (section_ == Section::SheetData) {
            if (name == "c")
                s = readCell(depth);
            else if (name == "row")
                s = readRow();
            else if (!sc_->skipElement())
                stopped_ = true;
        } else if (depth == 2) {
            s = readTopLevel(name);
            if (s && section_ == Section::SheetData && piecesWanted()) readRowsInPieces();
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
    return Status::ok();
}

SheetRow& XlsxReader::SheetPart::appendRow(int32_t index) {
    cancellation::pointEvery(sheet_.rows.size());
    if (!sheet_.rows.empty()) {
        SheetRow& last = sheet_.rows.back();
        if (last.index == index) return last;
        if (last.index > index) unordered_ = true;
        if (stream_) {
            handOver(last);
        } else {
            // Give back what was reserved for the previous row and not used.
            if (last.cells.capacity() > last.cells.size() + last.cells.size() / 2 + 4)
                last.cells.shrink_to_fit();
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
    if (row.height < 0 && !row.hidden)
        sheet_.rows.pop_back();
    else if (row.cells.capacity() > 0)
        std::vector<Cell>().swap(row.cells); // a row read in a piece came with storage of its own
}

// A cell: <c r="B3" s="2" t="s"><f>…</f><v>…</v><is>…</is></c>
Status XlsxReader::SheetPart::readCell(int depth) {
    std::string_view ref, style, type;
    bool hasStyle = false, hasType = false;
    for (const XmlAttribute& a : sc_->attributes()) {
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
    sharedUse_ = false;
    inlineText_.clear();
    CellContent content;
    if (!sc_->isEmptyElement()) {
        if (Status s = readCellChildren(depth, cellRow, content.hasValue, content.hasInline); !s || stopped_)
            return s;
    } else {
        sc_->next(); // the end of <c/>
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
        if (cellType == CellType::Invalid)
            return cellError(QStringLiteral("单元格的类型“%1”无效").arg(qstr(type)));
    }
    // In a piece whose rows count from the row before it, a cell outside a row or with its own
    // reference cannot be placed among them.
    if (piece_ && relative_ && (rowIndex_ < 0 || !ref.empty())) needState();
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

    if (cellValue.isEmpty() && cellValue.placeholder() == 0 && formula_.empty() && xf.style == 0) {
        // Whether the cell is kept depends on the master its piece does not hold.
        if (sharedUse_) needState();
        return Status::ok();
    }
    // A piece's cells count towards the workbook when the piece is appended.
    if (++cells_ > kMaxWorkbookCells ||
        (!piece_ && reader_.cells_.fetch_add(1, std::memory_order_relaxed) >= kMaxWorkbookCells))
        return cellError(QStringLiteral("单元格超过 %1 个，超出了能读入的上限").arg(kMaxWorkbookCells));
    SheetRow& row = appendRow(cellRow);
    if (!row.cells.empty() && row.cells.back().column >= uint32_t(column_)) unordered_ = true;
    Cell* cell = &row.cells.emplace_back();
    cell->column = uint32_t(column_);
    cell->style = xf.style;
    cell->value = std::move(cellValue);
    setFormula(*cell, formula_);
    if (sharedUse_)
        sharedUses_.push_back(SharedUse{size_t(&row - sheet_.rows.data()), row.cells.size() - 1, sharedIndex_,
                                        cellRow, column_});
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
            case 'r':
                slot = &ref;
                seen = &hasRef;
                break;
            case 's':
                slot = &style;
                seen = &hasStyle;
                break;
            case 't':
                slot = &type;
                seen = &hasType;
                break;
            default:
                return Scan::NotPlain;
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
        const std::string_view bytes = sc_->pending(kWindow);
        size_t used = 0;
        PlainCell::Scan result = PlainCell::Scan::NotPlain;
        while (used < bytes.size()) {
            PlainCell cell;
            result = cell.scan(bytes.substr(used));
            if (result != PlainCell::Scan::Read) break;
            CellType cellType;
            const XfInfo* xf;
            int32_t cellRow;
            Status s = beginCell(cell.ref, cell.style, cell.hasStyle, cell.type, cell.hasType, cellType, xf,
                                 cellRow);
            if (s) {
                formula_.clear();
                sharedUse_ = false;
                s = storeCell(cellType, *xf, cellRow,
                              CellContent{cell.value, cell.inlineText, cell.hasValue, cell.hasInline});
            }
            if (!s) {
                sc_->consume(used);
                return s;
            }
            used += cell.length;
            if (stopped_) break;
        }
        sc_->consume(used);
        // Only a cell cut off by the end of the window is worth a refill; and only when
        // the refill can bring more than the window already held.
        if (stopped_ || result != PlainCell::Scan::Incomplete || used == 0) return Status::ok();
    }
}

// The <v>, <f> and <is> children of a cell; other children are skipped.
Status XlsxReader::SheetPart::readCellChildren(int depth, int32_t cellRow, bool& hasValue, bool& hasInline) {
    for (;;) {
        const XmlScanner::Token t = sc_->next();
        if (t == XmlScanner::Token::EndElement && sc_->depth() == depth - 1) break;
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) {
            stopped_ = true;
            return Status::ok();
        }
        if (t != XmlScanner::Token::StartElement) continue;
        const std::string_view child = sc_->localName();
        if (child == "v") {
            hasValue = true;
            if (!sc_->readElementText(value_)) stopped_ = true;
        } else if (child == "f") {
            readFormula(cellRow);
        } else if (child == "is") {
            hasInline = true;
            if (!readInlineText()) stopped_ = true;
        } else {
            if (!sc_->skipElement()) stopped_ = true;
        }
        if (stopped_) return Status::ok();
    }
    return Status::ok();
}

// <f>: the formula text, or for a cell of a shared-formula group the master's text shifted here.
void XlsxReader::SheetPart::readFormula(int32_t cellRow) {
    sharedFormula_ = false;
    for (const XmlAttribute& a : sc_->attributes()) {
        if (a.localName == "t")
            sharedFormula_ = a.value == "shared";
        else if (a.localName == "si") {
            hasSharedIndex_ = true;
            if (!parseUnsigned(a.value, sharedIndex_)) sharedIndex_ = UINT64_MAX;
        }
    }
    // In a piece, a group's cells need their place and index from the piece; a second <f> of
    // one cell (its texts run together) is left to reading in one go.
    if (piece_ && ((sharedFormula_ && (relative_ || !hasSharedIndex_)) || !formula_.empty() || sharedUse_))
        needState();
    if (!sc_->readElementText(formula_)) {
        stopped_ = true;
        return;
    }
    if (!sharedFormula_ || sharedIndex_ == UINT64_MAX) return;
    if (!formula_.empty()) {
        sharedFormulas_[sharedIndex_] =
            SharedMaster{QString::fromUtf8(formula_.data(), qsizetype(formula_.size())), cellRow, column_};
    } else if (auto master = sharedFormulas_.find(sharedIndex_); master != sharedFormulas_.end()) {
        formula_ = shiftedFormula(master->second, cellRow, column_);
    } else if (piece_) {
        // The master came before the piece: the formula is set when the piece is appended.
        sharedUse_ = true;
    }
}

void setFormula(Cell& cell, std::string& formula) {
    if (formula.empty()) return;
    // An error constant written as a formula of its own (as the writer does, having no other
    // way) is the error value itself.
    if (isErrorLiteral(formula)) {
        cell.value = CellValue::fromError(sharedTextFromUtf8(formula));
        return;
    }
    formula.insert(formula.begin(), '=');
    cell.formula = ooxmlText(formula);
}

std::string shiftedFormula(const SharedMaster& master, int32_t row, int32_t column) {
    const QByteArray bytes =
        r1c1ToA1(a1ToR1C1(master.formula, master.row, master.column), row, column).toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// <is>: the inline string's <t>, leaving out phonetic runs. False when the scan ended.
bool XlsxReader::SheetPart::readInlineText() {
    const int isDepth = sc_->depth();
    for (;;) {
        const XmlScanner::Token t = sc_->next();
        if (t == XmlScanner::Token::EndElement && sc_->depth() == isDepth - 1) return true;
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) return false;
        if (t != XmlScanner::Token::StartElement) continue;
        if (sc_->localName() == "t") {
            if (!sc_->readElementText(inlineText_)) return false;
        } else if (sc_->localName() == "rPh") {
            if (!sc_->skipElement()) return false;
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
            if (!parseDouble(value, number)) return invalidValue(QStringLiteral("数值"), cellRow, value);
            if (xf.isDate)
                cellValue =
                    CellValue::fromDateTime(reader_.date1904_ ? exceldate::serialFrom1904(number) : number);
            else
                cellValue = CellValue::fromNumber(number);
        }
        break;
    case CellType::Shared:
        // <v/> refers to no string: the cell is empty.
        if (hasValue && !value.empty()) {
            uint64_t index;
            if (!parseUnsigned(value, index))
                return invalidValue(QStringLiteral("共享字符串编号"), cellRow, value);
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
                cellValue = CellValue::fromPlaceholder(index + 1);
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
                return invalidValue(QStringLiteral("日期"), cellRow, value);
            cellValue = CellValue::fromDateTime(serial);
        }
        break;
    }
    return Status::ok();
}

// <row r="…" ht="…" hidden="…">: the row's place, height and visibility.
Status XlsxReader::SheetPart::readRow() {
    const int32_t previous = rowIndex_;
    float height = -1;
    bool hidden = false;
    bool hasIndex = false;
    for (const XmlAttribute& a : sc_->attributes()) {
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
    } else if (piece_ && relative_) {
        // A piece's rows count from the row before it until one gives its r; rows of both
        // kinds in one piece cannot be compared here.
        if (previous >= 0) needState();
        relative_ = false;
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
    // A piece of rows holds its own <sheetData> and nothing else.
    if ((piece_ || rereading_) && ++topLevels_ > 1) {
        stopped_ = true;
        return Status::ok();
    }
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
        sheet_.isProtected = isTrue(sc_->attributeValue("sheet"));
    } else if (name == "sheetPr") {
        section_ = Section::None;
        readSheetProperties();
    } else if (name != "dimension") {
        // Views, conditional formats, drawings, extensions: nothing the model keeps.
        if (!sc_->skipElement()) stopped_ = true;
        section_ = Section::None;
    }
    return Status::ok();
}

void XlsxReader::SheetPart::readFormatProperties() {
    const double base = toDouble(sc_->attributeValue("baseColWidth"), 8);
    if (const XmlAttribute* w = sc_->attribute("defaultColWidth"))
        sheet_.defaultColumnWidth = characterWidthToPoints(toDouble(w->value, 8.43));
    else
        // Excel pads the base width by 5 pixels and rounds up to a multiple of 8.
        sheet_.defaultColumnWidth = std::ceil((std::trunc(base * 7) + 5) / 8) * 8 * 0.75;
    const double h = toDouble(sc_->attributeValue("defaultRowHeight"), -1);
    if (h > 0 && h <= 409.5) sheet_.defaultRowHeight = h;
}

void XlsxReader::SheetPart::readPageMargins() {
    PageSetup& p = sheet_.pageSetup;
    p.marginLeft = toDouble(sc_->attributeValue("left"), p.marginLeft);
    p.marginRight = toDouble(sc_->attributeValue("right"), p.marginRight);
    p.marginTop = toDouble(sc_->attributeValue("top"), p.marginTop);
    p.marginBottom = toDouble(sc_->attributeValue("bottom"), p.marginBottom);
    p.marginHeader = toDouble(sc_->attributeValue("header"), p.marginHeader);
    p.marginFooter = toDouble(sc_->attributeValue("footer"), p.marginFooter);
}

void XlsxReader::SheetPart::readPageSetup() {
    PageSetup& p = sheet_.pageSetup;
    p.paperSize = std::clamp(toInt(sc_->attributeValue("paperSize"), p.paperSize), 1, 255);
    p.landscape = sc_->attributeValue("orientation") == "landscape";
    p.scale = std::clamp(toInt(sc_->attributeValue("scale"), 100), 10, 400);
    p.fitToWidth = std::clamp(toInt(sc_->attributeValue("fitToWidth"), 1), 0, 32767);
    p.fitToHeight = std::clamp(toInt(sc_->attributeValue("fitToHeight"), 1), 0, 32767);
}

// <sheetPr>: only its pageSetUpPr child matters.
void XlsxReader::SheetPart::readSheetProperties() {
    const int prDepth = sc_->depth();
    if (sc_->isEmptyElement()) return;
    for (;;) {
        const XmlScanner::Token t = sc_->next();
        if (t == XmlScanner::Token::EndElement && sc_->depth() == prDepth - 1) break;
        if (t == XmlScanner::Token::EndDocument || t == XmlScanner::Token::Error) break;
        if (t == XmlScanner::Token::StartElement && sc_->localName() == "pageSetUpPr")
            fitToPage_ = isTrue(sc_->attributeValue("fitToPage"));
    }
}

// <col min max width hidden>: the width of a run of columns.
Status XlsxReader::SheetPart::readColumns() {
    const int first = toInt(sc_->attributeValue("min"), 0), last = toInt(sc_->attributeValue("max"), 0);
    if (first < 1 || last < first || last > kMaxColumns)
        return cellError(QStringLiteral("列宽记录的列范围 %1-%2 无效").arg(first).arg(last));
    const bool hidden = isTrue(sc_->attributeValue("hidden"));
    const XmlAttribute* w = sc_->attribute("width");
    if (!w && !hidden) return Status::ok();
    const double width = hidden ? 0 : characterWidthToPoints(toDouble(w->value, 0));
    columnRecords_ += last - first + 1;
    if (columnRecords_ > 4 * int64_t(kMaxColumns))
        return cellError(QStringLiteral("列宽记录太多（重复覆盖了同样的列）"));
    for (int c = first; c <= last; ++c)
        sheet_.columnWidths[c - 1] = width;
    return Status::ok();
}

Status XlsxReader::SheetPart::readMerge() {
    const std::string_view ref = sc_->attributeValue("ref");
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
    const int id = toInt(sc_->attributeValue("id"), -1);
    // The break falls after row `id` (1-based), so the new page starts at id + 1.
    if (id >= 1 && id < kMaxRows && sheet_.rowBreaks.size() < 1026) sheet_.rowBreaks.push_back(id + 1);
}

// Sorts rows by index and cells by column, merging repeated rows and keeping the last of
// repeated cells.
static void putInOrder(Sheet& sheet) {
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

} // namespace xlsx::detail

} // namespace quellar
