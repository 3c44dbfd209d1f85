// The XML Spreadsheet 2003 writer: styles, then each sheet's table, options and page breaks,
// through a buffered OutputFile. A large table's rows are formatted on helper threads and
// written in order.

#include "workbook/xmlss/XmlSpreadsheetFormat.h"

#include "base/ExcelDate.h"
#include "base/OrderedPipeline.h"
#include "base/TextIO.h"
#include "workbook/FormulaNotation.h"
#include "workbook/xmlss/SpreadsheetML.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <system_error>

namespace quellar {

namespace {

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
    RowCursor(std::span<const SheetRow> rows, const std::vector<const CellRange*>& anchors)
        : rows_(rows.data())
        , rowTotal_(rows.size())
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
        CellPlacement placement; // 1-based; the loop's columns are 0-based
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
            if (!placement.inOrder(column + 1) || column >= kMaxColumns)
                continue; // inside the previous merge
            if (!merge && cell->value.isEmpty() && cell->formula.isEmpty() &&
                (cell->style == 0 || cell->style >= styleCount))
                continue; // carries nothing
            if (!merge && anyMerges) {
                // Covered by a merged area: the format has no place for such a cell.
                const CellRange* m = sheet_.mergeContaining(rowIndex, int32_t(column));
                if (m && (m->firstRow != rowIndex || m->firstColumn != column)) continue;
            }
            // Room for the tags, numbers and the value's text with every character escaped.
            const size_t textRoom = cell ? kUtf8BytesPerUnit * cell->value.text().size() : 0;
            char* p = out.reserve(192 + textRoom);
            p = put(p, "    <Cell");
            if (placement.needsIndex(column + 1)) {
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
                placement.take(column + 1, merge->lastColumn - merge->firstColumn);
            } else {
                placement.take(column + 1, 0);
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
        switch (v.type()) {
        case CellValue::Type::Number:
            if (std::isfinite(v.number())) {
                p = put(p, "<Data ss:Type=\"Number\">");
                p = writeShortestNumber(p, v.number());
            } else {
                p = put(p, "<Data ss:Type=\"Error\">#NUM!");
            }
            break;
        case CellValue::Type::Boolean:
            p = v.number() != 0 ? put(p, "<Data ss:Type=\"Boolean\">1")
                                : put(p, "<Data ss:Type=\"Boolean\">0");
            break;
        case CellValue::Type::DateTime: {
            char* date = put(p, "<Data ss:Type=\"DateTime\">");
            if (char* end = writeDateTime(date, v.number())) {
                p = end;
            } else {
                p = put(p, "<Data ss:Type=\"Number\">");
                p = writeShortestNumber(p, v.number());
            }
            break;
        }
        case CellValue::Type::Error:
            p = put(p, "<Data ss:Type=\"Error\">");
            p = writeUtf8(p, v.text().data(), v.text().size(), TextEscape::XmlText);
            break;
        case CellValue::Type::String:
        case CellValue::Type::Empty:
            p = put(p, "<Data ss:Type=\"String\">");
            p = writeUtf8(p, v.text().data(), v.text().size(), TextEscape::XmlText);
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
    size_t done = 0; // rows formatted into bytes
};

class Writer {
public:
    Writer(OutputFile& out, const Workbook& book, const std::vector<std::span<const SheetRow>>& rows)
        : out_(out)
        , b_(out.buffer())
        , book_(book)
        , rows_(rows) {}

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
        for (std::span<const SheetRow> rows : rows_) {
            for (const SheetRow& row : rows) {
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
        for (const SheetRow& row : rows_[size_t(index)]) {
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

        writeRows(sheet, rows_[size_t(index)], anchors);
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
    // while this thread writes the finished pieces out in order (OrderedPipeline); a small one is
    // formatted here. Either way the bytes are the same.
    void writeRows(const Sheet& sheet, std::span<const SheetRow> rows,
                   const std::vector<const CellRange*>& anchors) {
        // The merge lookup builds its index on first use; build it here, before any thread reads it.
        if (!sheet.merges.empty()) sheet.mergeContaining(0, 0);
        const RowFormatter formatter(book_, sheet, anchors);
        RowCursor cursor(rows, anchors);
        RowPiece first;
        bool more = cursor.fill(first.rows);
        // The rest of a piece whose formatting stopped early (long texts) is formatted as it is
        // written, so a piece's bytes stay bounded.
        auto deliver = [&](RowPiece& piece) {
            out_.append(piece.bytes.view());
            while (piece.done < piece.rows.size() && !out_.failed()) {
                piece.done = formatter.format(piece.rows, piece.done, piece.bytes);
                out_.append(piece.bytes.view());
            }
            return !out_.failed();
        };
        if (!more) { // everything fits in one piece
            deliver(first);
            return;
        }
        bool firstTaken = false;
        OrderedPipeline<RowPiece> pipeline(2);
        pipeline.run(
            [&](RowPiece& piece) {
                if (!firstTaken) {
                    firstTaken = true;
                    piece = std::move(first);
                    return true;
                }
                if (!more) return false;
                more = cursor.fill(piece.rows);
                return !piece.rows.empty();
            },
            [&](RowPiece& piece) { piece.done = formatter.format(piece.rows, 0, piece.bytes); }, deliver);
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
    const std::vector<std::span<const SheetRow>>& rows_; // each sheet's rows
    std::vector<bool> used_;
    Style defaultStyle_;
};

} // namespace

namespace {

Status writeSheets(const Workbook& book, const std::vector<std::span<const SheetRow>>& rows,
                   const QString& path) {
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    Writer(out, book, rows).run();
    return out.commit();
}

} // namespace

Status XmlSpreadsheetFormat::write(const Workbook& workbook, const QString& path) const {
    std::vector<std::span<const SheetRow>> rows;
    rows.reserve(workbook.sheets.size());
    for (const Sheet& sheet : workbook.sheets)
        rows.emplace_back(sheet.rows);
    return writeSheets(workbook, rows, path);
}

WorkbookInPlace::WorkbookInPlace(const Workbook& book) {
    // Everything the writer reads but the rows. The style lookup is not copied: the writer
    // only reads the styles.
    layout_.styles = book.styles;
    layout_.activeSheet = book.activeSheet;
    layout_.defaultFontName = book.defaultFontName;
    layout_.defaultFontSize = book.defaultFontSize;
    layout_.sheets.reserve(book.sheets.size());
    rows_.reserve(book.sheets.size());
    for (const Sheet& sheet : book.sheets) {
        Sheet& copy = layout_.sheets.emplace_back(sheet.emptyCopy());
        copy.merges = sheet.merges;
        copy.columnWidths = sheet.columnWidths;
        copy.rowBreaks = sheet.rowBreaks;
        rows_.emplace_back(sheet.rows);
    }
}

Status WorkbookInPlace::writeXmlSpreadsheet(const QString& path) const {
    return writeSheets(layout_, rows_, path);
}

} // namespace quellar
