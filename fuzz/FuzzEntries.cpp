#include "fuzz/FuzzEntries.h"

#include "base/CellOps.h"
#include "base/Progress.h"
#include "forms/FormReply.h"
#include "table/ConditionalQuery.h"
#include "workbook/RangeReader.h"
#include "workbook/RangeText.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/containers/CompoundFile.h"
#include "workbook/containers/XmlScanner.h"
#include "workbook/containers/ZipArchive.h"
#include "workbook/csv/CsvFormat.h"
#include "workbook/xls/BiffReader.h"
#include "workbook/xls/BiffWriter.h"
#include "workbook/xls/XlsFormat.h"
#include "workbook/xlsx/XlsxFormat.h"
#include "workbook/xmlss/XMLTools.h"
#include "workbook/xmlss/XmlSpreadsheetFormat.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace quellar::fuzz {
namespace {

// A broken promise: say which and stop, so the fuzzer keeps the input.
[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
void check(bool condition, const char* what) {
    if (!condition) broken(what);
}

// The readers take a path: the input is written to a file in memory-backed /dev/shm (or the
// temporary folder), one per process, rewritten for every input.
QString scratchFile(const char* suffix, const char* data, size_t size) {
    static const QString folder =
        QFile::exists(QStringLiteral("/dev/shm")) ? QStringLiteral("/dev/shm") : QStringLiteral("/tmp");
    const QString path =
        QStringLiteral("%1/quellar-fuzz-%2%3").arg(folder).arg(::getpid()).arg(QLatin1String(suffix));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(data, qint64(size)) != qint64(size))
        broken("cannot write the scratch file");
    return path;
}

// A range the table reader takes (readable and small enough to read on every input).
bool worthReading(const RangeBounds& bounds) {
    return checkReadableRange(bounds).isOk() &&
           int64_t(bounds.lastRow - bounds.firstRow + 1) * (bounds.lastColumn - bounds.firstColumn + 1) <=
               200'000;
}

// What must hold for every workbook a reader accepts; then the first sheet's used range is
// read as an operation would read it, when it is small enough.
void checkWorkbook(const Status& status, const Workbook& book) {
    if (!status.isOk()) {
        check(!status.message().isEmpty(), "a failed read has a message");
        return;
    }
    for (const Sheet& sheet : book.sheets) {
        int32_t previous = -1;
        for (const SheetRow& row : sheet.rows) {
            check(row.index > previous && row.index < 1048576, "rows sorted and inside the grid");
            previous = row.index;
            int64_t previousColumn = -1;
            for (const Cell& cell : row.cells) {
                check(int64_t(cell.column) > previousColumn && cell.column < 16384,
                      "cells sorted and inside the grid");
                previousColumn = cell.column;
            }
        }
    }
    if (book.sheets.empty()) return;
    const Sheet& sheet = book.sheets.front();
    const RangeBounds bounds = clipUsedRange(sheet);
    if (!worthReading(bounds)) return;
    NullProgress progress;
    const RowTable table = readRange(book, sheet, bounds, progress, 1000);
    check(int64_t(table.size()) <= int64_t(bounds.lastRow) - bounds.firstRow + 2,
          "one table row per range row");
}

bool sameCells(const Sheet& a, const Sheet& b) {
    if (a.rows.size() != b.rows.size() || a.merges != b.merges) return false;
    for (size_t r = 0; r < a.rows.size(); ++r) {
        const SheetRow& x = a.rows[r];
        const SheetRow& y = b.rows[r];
        if (x.index != y.index || x.height != y.height || x.hidden != y.hidden ||
            x.cells.size() != y.cells.size())
            return false;
        for (size_t c = 0; c < x.cells.size(); ++c) {
            const Cell& p = x.cells[c];
            const Cell& q = y.cells[c];
            const double pn = p.value.number(), qn = q.value.number();
            if (p.column != q.column || p.style != q.style || p.value.type() != q.value.type() ||
                std::memcmp(&pn, &qn, sizeof(double)) != 0 || p.value.text() != q.value.text() ||
                p.formula != q.formula) {
                std::fprintf(stderr,
                             "row %d cell %u/%u: style %u/%u type %d/%d number %a/%a text %s/%s (%zu/%zu) "
                             "formula %s/%s\n",
                             x.index + 1, unsigned(p.column), unsigned(q.column), p.style, q.style,
                             int(p.value.type()), int(q.value.type()), p.value.number(), q.value.number(),
                             qPrintable(p.value.text().toQString()), qPrintable(q.value.text().toQString()),
                             p.value.text().size(), q.value.text().size(), qPrintable(p.formula.toQString()),
                             qPrintable(q.formula.toQString()));
                return false;
            }
        }
    }
    return true;
}

bool sameTable(const RowTable& a, const RowTable& b) {
    if (a.size() != b.size()) return false;
    for (size_t r = 0; r < a.size(); ++r) {
        if (a[r].size() != b[r].size()) return false;
        for (size_t c = 0; c < a[r].size(); ++c) {
            const CellRecord& p = a[r][c];
            const CellRecord& q = b[r][c];
            if (p.text != q.text || p.formula != q.formula || p.columnWidth != q.columnWidth ||
                p.rowHeight != q.rowHeight || p.styleId != q.styleId ||
                p.fillColorIndex != q.fillColorIndex || p.alignment1 != q.alignment1 ||
                p.alignment2 != q.alignment2 || p.mergeState != q.mergeState || p.mergeRows != q.mergeRows ||
                p.mergeColumns != q.mergeColumns)
                return false;
        }
    }
    return true;
}

// The active sheet's table streamed while the workbook is read (rows read in `pieces`) is the
// table taken from the whole workbook `book`.
void checkStreamedTable(const QString& path, const Workbook& book, xlsx::RowPieces pieces) {
    xlsx::setRowPieces(pieces);
    auto choose = [](const Workbook& b) -> Result<int> {
        return (b.activeSheet >= 0 && size_t(b.activeSheet) < b.sheets.size()) ? b.activeSheet : 0;
    };
    UsedRangeStream stream;
    SheetTableRequest request;
    request.choose = choose;
    request.stream = &stream;
    Workbook part;
    check(readWorkbook(path, part, &request).isOk(), "a workbook that reads whole reads for a table");
    const int chosen = choose(book).value();
    check(request.sheet == chosen, "the table's sheet is the one chosen");
    const Sheet& whole = book.sheets[size_t(chosen)];
    const Sheet& streamedSheet = part.sheets[size_t(chosen)];
    const RangeBounds expected = clipUsedRange(whole);
    const RangeBounds got = request.streamed ? stream.bounds(streamedSheet) : clipUsedRange(streamedSheet);
    check(got == expected, "the streamed used range is the clipped used range");
    xlsx::setRowPieces({});
    if (!worthReading(expected)) return;
    NullProgress progress;
    const RowTable fromWhole = readRange(book, whole, expected, progress, 1000);
    const RowTable fromStream = request.streamed ? stream.take(streamedSheet, got, progress, 1000)
                                                 : readRange(part, streamedSheet, got, progress, 1000);
    check(sameTable(fromWhole, fromStream), "the streamed table is the table of the whole sheet");
}

// An xlsx package: what every workbook promises; the general scanner alone reads the same
// cells as with the plain-cell shortcut, and so do rows read in pieces; and the active sheet's
// table streamed while reading (its rows read in one go or in pieces) equals the table taken
// from the whole workbook.
void checkXlsxPackage(const QString& path) {
    Workbook book;
    const Status status = readWorkbook(path, book);
    checkWorkbook(status, book);

    xlsx::setPlainCellPath(false);
    Workbook scanned;
    const Status scannedStatus = readWorkbook(path, scanned);
    xlsx::setPlainCellPath(true);
    if (status.isOk() != scannedStatus.isOk() || status.message() != scannedStatus.message()) {
        std::fprintf(stderr, "with the shortcut: %s\nscanner alone:     %s\n", qPrintable(status.message()),
                     qPrintable(scannedStatus.message()));
        broken("the plain-cell shortcut fails exactly as the scanner does");
    }
    // Rows read in small pieces on two threads: the same sheets, or the same message.
    xlsx::setRowPieces({512, 0});
    Workbook pieces;
    const Status piecesStatus = readWorkbook(path, pieces);
    xlsx::setRowPieces({});
    if (piecesStatus.isOk() != status.isOk() || piecesStatus.message() != status.message()) {
        std::fprintf(stderr, "in one go: %s\nin pieces: %s\n", qPrintable(status.message()),
                     qPrintable(piecesStatus.message()));
        broken("rows read in pieces fail exactly as rows read in one go");
    }
    if (!status.isOk()) return;
    check(book.sheets.size() == scanned.sheets.size(), "the shortcut reads every sheet");
    for (size_t i = 0; i < book.sheets.size(); ++i)
        check(sameCells(book.sheets[i], scanned.sheets[i]),
              "the plain-cell shortcut reads what the scanner reads");

    check(book.sheets.size() == pieces.sheets.size(), "rows read in pieces read every sheet");
    for (size_t i = 0; i < book.sheets.size(); ++i)
        check(sameCells(book.sheets[i], pieces.sheets[i]) &&
                  book.sheets[i].columnWidths == pieces.sheets[i].columnWidths,
              "rows read in pieces are the rows read in one go");

    // Streamed while its rows are read in one go, then in pieces.
    checkStreamedTable(path, book, {});
    checkStreamedTable(path, book, {512, 0});
}

// A minimal zip container (stored entries) around the given parts.
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& parts) {
    std::string out, directory;
    auto put16 = [](std::string& s, uint16_t v) { s.push_back(char(v & 0xff)), s.push_back(char(v >> 8)); };
    auto put32 = [&](std::string& s, uint32_t v) {
        put16(s, uint16_t(v & 0xffff)), put16(s, uint16_t(v >> 16));
    };
    for (const auto& [name, content] : parts) {
        const uint32_t crc =
            uint32_t(crc32(0, reinterpret_cast<const Bytef*>(content.data()), uInt(content.size())));
        const uint32_t offset = uint32_t(out.size());
        put32(out, 0x04034b50), put16(out, 20), put16(out, 0), put16(out, 0), put32(out, 0);
        put32(out, crc), put32(out, uint32_t(content.size())), put32(out, uint32_t(content.size()));
        put16(out, uint16_t(name.size())), put16(out, 0);
        out += name;
        out += content;
        put32(directory, 0x02014b50), put16(directory, 20), put16(directory, 20), put16(directory, 0);
        put16(directory, 0), put32(directory, 0), put32(directory, crc);
        put32(directory, uint32_t(content.size())), put32(directory, uint32_t(content.size()));
        put16(directory, uint16_t(name.size())), put16(directory, 0), put16(directory, 0),
            put16(directory, 0);
        put16(directory, 0), put32(directory, 0), put32(directory, offset);
        directory += name;
    }
    const uint32_t directoryOffset = uint32_t(out.size());
    out += directory;
    put32(out, 0x06054b50), put16(out, 0), put16(out, 0), put16(out, uint16_t(parts.size()));
    put16(out, uint16_t(parts.size())), put32(out, uint32_t(directory.size())), put32(out, directoryOffset),
        put16(out, 0);
    return out;
}

} // namespace

// A small, valid workbook whose part `replaced` is given, so the input reaches that part's
// parser rather than stopping at the container.
std::string xlsxPackageWith(const std::string& replaced, const std::string& content) {
    return xlsxPackageWith({{replaced, content}});
}

std::string xlsxPackageWith(const std::vector<std::pair<std::string, std::string>>& given) {
    std::vector<std::pair<std::string, std::string>> parts = {
        {"[Content_Types].xml",
         R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/></Types>)"},
        {"_rels/.rels",
         R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
        {"xl/workbook.xml",
         R"(<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="表一" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
        {"xl/_rels/workbook.xml.rels",
         R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>)"},
        {"xl/worksheets/sheet1.xml",
         R"(<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" s="1"><v>45000.5</v></c></row><row r="2"><c r="A2" t="s"><v>1</v></c><c r="B2" s="2"><v>-12.25</v></c></row></sheetData><mergeCells count="1"><mergeCell ref="C1:D2"/></mergeCells></worksheet>)"},
        {"xl/styles.xml",
         R"(<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><numFmts count="1"><numFmt numFmtId="164" formatCode="0.00;[Red]-0.00"/></numFmts><fonts count="1"><font><sz val="11"/><name val="宋体"/></font></fonts><fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills><borders count="1"><border/></borders><cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/><xf numFmtId="14" fontId="0" fillId="0" borderId="0" applyNumberFormat="1"/><xf numFmtId="164" fontId="0" fillId="0" borderId="0" applyNumberFormat="1"/></cellXfs></styleSheet>)"},
        {"xl/sharedStrings.xml",
         R"(<?xml version="1.0" encoding="UTF-8"?><sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="2" uniqueCount="2"><si><t>姓名</t></si><si><r><t>张</t></r><r><t>三</t></r></si></sst>)"},
    };
    for (const auto& part : given) {
        const auto known =
            std::find_if(parts.begin(), parts.end(), [&](const auto& p) { return p.first == part.first; });
        if (known != parts.end())
            known->second = part.second;
        else
            parts.emplace_back(part.first, part.second);
    }
    return storedZip(parts);
}

namespace {

void readXlsxWithPart(const std::string& fuzzed, const uint8_t* data, size_t size) {
    const std::string zip = xlsxPackageWith(fuzzed, std::string(reinterpret_cast<const char*>(data), size));
    checkXlsxPackage(scratchFile(".xlsx", zip.data(), zip.size()));
}

void zipContainer(const uint8_t* data, size_t size) {
    const QString path = scratchFile(".zip", reinterpret_cast<const char*>(data), size);
    ZipArchive zip;
    ZipLimits limits;
    limits.maxEntrySize = 8u << 20; // keep every input quick; the limits themselves are tested elsewhere
    const Status status = zip.open(path, limits);
    if (!status.isOk()) {
        check(!status.message().isEmpty(), "a refused container has a message");
        return;
    }
    for (const ZipEntry& entry : zip.entries()) {
        check(zip.find(entry.name) != nullptr, "every entry is found by its name");
        std::unique_ptr<ZipEntryStream> stream;
        if (!zip.openEntry(entry, stream).isOk()) continue;
        char buffer[16384];
        qint64 n;
        while ((n = stream->read(buffer, sizeof buffer)) > 0) {
        }
        check(n == 0 || !stream->status().isOk(), "a failed read has a status");
        if (n == 0) check(stream->produced() == entry.size, "a complete entry has its declared size");
    }
    // And the whole container as a workbook.
    checkXlsxPackage(path);
}

void xlsxSheet(const uint8_t* data, size_t size) {
    readXlsxWithPart("xl/worksheets/sheet1.xml", data, size);
}
void xlsxSharedStrings(const uint8_t* data, size_t size) {
    readXlsxWithPart("xl/sharedStrings.xml", data, size);
}
void xlsxStyles(const uint8_t* data, size_t size) {
    readXlsxWithPart("xl/styles.xml", data, size);
}
void xlsxWorkbook(const uint8_t* data, size_t size) {
    readXlsxWithPart("xl/workbook.xml", data, size);
}

void xmlSpreadsheet(const uint8_t* data, size_t size) {
    MemoryByteSource source(std::string_view(reinterpret_cast<const char*>(data), size));
    Workbook book;
    checkWorkbook(XmlSpreadsheetFormat::readFrom(source, book), book);
}

void csv(const uint8_t* data, size_t size) {
    Workbook book;
    checkWorkbook(CsvFormat::parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)),
                                   QStringLiteral("表"), book),
                  book);
}

// A workbook the .xls reader accepted, written by the .xls writer and read back, holds the
// same values (when it fits the .xls grid and is small enough to be quick).
void checkXlsRoundTrip(const Workbook& book) {
    int64_t cells = 0;
    for (const Sheet& sheet : book.sheets)
        for (const SheetRow& row : sheet.rows)
            cells += int64_t(row.cells.size());
    if (cells > 20000) return;
    std::string globals, sheets;
    if (!biff::buildWorkbookStream(book, globals, sheets).isOk()) return;
    std::string file;
    cfb::writeSingleStream(QStringLiteral("Workbook"), {globals, sheets}, [&](std::string_view bytes) {
        file.append(bytes);
        return true;
    });
    Workbook back;
    const Status read = XlsFormat::readFrom(MemoryBytes(file), back);
    if (!read.isOk()) {
        std::fprintf(stderr, "%s\n", qPrintable(read.message()));
        broken("the writer's output reads back");
    }
    check(back.sheets.size() == book.sheets.size(), "as many sheets read back as written");
    check(back.activeSheet == book.activeSheet, "the active sheet reads back");
    for (size_t i = 0; i < book.sheets.size(); ++i) {
        const Sheet& a = book.sheets[i];
        const Sheet& b = back.sheets[i];
        check(a.name.left(255) == b.name, "sheet names read back");
        for (const SheetRow& row : a.rows)
            for (const Cell& cell : row.cells) {
                const Cell* got = b.cell(row.index, int32_t(cell.column));
                check(got != nullptr, "every written cell reads back");
                const CellValue& v = cell.value;
                const CellValue& w = got->value;
                if (v.type() != w.type() || !(v.number() == w.number()) || v.text() != w.text()) {
                    std::fprintf(stderr, "%s: type %d/%d number %a/%a text %zu/%zu\n",
                                 qPrintable(columnAddress(int(cell.column) + 1, row.index + 1)),
                                 int(v.type()), int(w.type()), v.number(), w.number(), v.text().size(),
                                 w.text().size());
                    broken("values read back as written");
                }
            }
    }
}

// A workbook a reader accepted, written by the .xlsx writer and read back by the .xlsx reader:
// the same sheets, merged areas and cells (values to the last bit, texts, formulas), as far as
// .xlsx keeps them (an empty text is no cell, a formula's cached text is a text, an error the
// format has no literal for is a text, a number that is not finite is 0).
void checkXlsxRoundTrip(const Workbook& book) {
    int64_t cells = 0;
    for (const Sheet& sheet : book.sheets)
        for (const SheetRow& row : sheet.rows)
            cells += int64_t(row.cells.size());
    if (cells > 20000) return;
    const QString path = scratchFile(".written.xlsx", "", 0);
    const Status written = writeWorkbook(book, path, FileKind::Xlsx);
    if (!written.isOk()) {
        // The only refusal: a text longer than a cell holds.
        check(written.message().contains(QStringLiteral("32767")),
              "the .xlsx writer refuses only long texts");
        return;
    }
    Workbook back;
    const Status read = readWorkbook(path, back);
    if (!read.isOk()) {
        std::fprintf(stderr, "%s\n", qPrintable(read.message()));
        broken("the .xlsx writer's output reads back");
    }
    check(back.sheets.size() == std::max<size_t>(1, book.sheets.size()), "every sheet reads back");
    for (size_t i = 0; i < book.sheets.size(); ++i) {
        const Sheet& a = book.sheets[i];
        const Sheet& b = back.sheets[i];
        check(a.merges == b.merges, "merged areas read back");
        for (const SheetRow& row : a.rows)
            for (const Cell& cell : row.cells) {
                const CellValue& v = cell.value;
                const Cell* got = b.cell(row.index, int32_t(cell.column));
                const bool hasFormula = cell.formula.size() > 1;
                if (!hasFormula && v.text().isEmpty() &&
                    (v.type() == CellValue::Type::Empty || v.type() == CellValue::Type::String)) {
                    check(!got || got->value.isEmpty() || got->value.text().isEmpty(), "a blank stays blank");
                    continue;
                }
                check(got != nullptr, "every written cell reads back");
                const CellValue& w = got->value;
                // The file stores a formula without its "=", which the reader puts back.
                auto bare = [](const SharedText& f) {
                    QStringView v = f.qview();
                    return v.startsWith(u'=') ? v.mid(1) : v;
                };
                if (hasFormula && bare(got->formula) != bare(cell.formula)) {
                    std::fprintf(stderr, "%s: formula %s read back as %s\n",
                                 qPrintable(columnAddress(int(cell.column) + 1, row.index + 1)),
                                 qPrintable(cell.formula.toQString()), qPrintable(got->formula.toQString()));
                    broken("formulas read back");
                }
                bool same;
                switch (v.type()) {
                case CellValue::Type::String:
                case CellValue::Type::Error:
                    same = w.text() == SharedText(v.text().qview().left(32767).toString()) &&
                           (w.type() == v.type() || w.type() == CellValue::Type::String);
                    break;
                case CellValue::Type::Empty:
                    same = w.isEmpty() || w.text().isEmpty();
                    break;
                default: {
                    const double expected = std::isfinite(v.number()) ? v.number() : 0;
                    const double number = w.number();
                    same = std::memcmp(&expected, &number, sizeof number) == 0 &&
                           (w.type() == v.type() || w.type() == CellValue::Type::Number ||
                            w.type() == CellValue::Type::DateTime);
                }
                }
                if (!same) {
                    std::fprintf(stderr, "%s: type %d/%d number %a/%a text %zu/%zu\n",
                                 qPrintable(columnAddress(int(cell.column) + 1, row.index + 1)),
                                 int(v.type()), int(w.type()), v.number(), w.number(), v.text().size(),
                                 w.text().size());
                    broken("values read back as written to .xlsx");
                }
            }
    }
}

// What a reader reads, written as .xlsx and read back. The first byte picks the reader: 'c'
// CSV, 'm' XML Spreadsheet, anything else the whole input as the sheet part of an xlsx package.
void xlsxWrite(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    Workbook book;
    Status status;
    if (size > 0 && data[0] == 'c') {
        status =
            CsvFormat::parse(QByteArray(input.data() + 1, qsizetype(size - 1)), QStringLiteral("表"), book);
    } else if (size > 0 && data[0] == 'm') {
        MemoryByteSource source(std::string_view(input).substr(1));
        status = XmlSpreadsheetFormat::readFrom(source, book);
    } else {
        const std::string zip = xlsxPackageWith("xl/worksheets/sheet1.xml", input);
        status = readWorkbook(scratchFile(".xlsx", zip.data(), zip.size()), book);
    }
    if (status.isOk()) checkXlsxRoundTrip(book);
}

// A whole .xls file: the compound file, then the workbook stream's records.
void xls(const uint8_t* data, size_t size) {
    Workbook book;
    const Status status =
        XlsFormat::readFrom(MemoryBytes(std::string_view(reinterpret_cast<const char*>(data), size)), book);
    checkWorkbook(status, book);
    if (status.isOk()) checkXlsRoundTrip(book);
}

// The compound file alone: every stream of the root read whole, in pieces of varying size.
void xlsContainer(const uint8_t* data, size_t size) {
    const MemoryBytes source(std::string_view(reinterpret_cast<const char*>(data), size));
    cfb::CompoundFile file;
    const Status opened = file.open(source);
    if (!opened.isOk()) {
        check(!opened.message().isEmpty(), "a refused container has a message");
        return;
    }
    check(!file.entries().empty(), "an open container has its root");
    std::vector<char> buffer(70000);
    int streams = 0;
    for (uint32_t index : file.rootChildren()) {
        check(index < file.entries().size(), "root children are entries");
        if (file.entries()[index].type != cfb::EntryType::Stream || ++streams > 8) continue;
        std::unique_ptr<ByteStream> stream;
        const Status s = file.openStream(index, stream);
        if (!s.isOk()) {
            check(!s.message().isEmpty(), "a refused stream has a message");
            continue;
        }
        check(stream->size() <= file.entries()[index].size, "a stream is never longer than declared");
        uint64_t at = 0;
        size_t piece = 1;
        while (at < stream->size() && at < (uint64_t(8) << 20)) {
            const size_t got = stream->readAt(at, buffer.data(), piece);
            if (got == 0) break;
            check(got <= piece, "a read gives at most what was asked");
            at += got;
            piece = piece * 3 % 65521 + 1;
        }
        check(stream->readAt(stream->size(), buffer.data(), 10) == 0, "nothing past the end");
    }
    // The stream names a reader looks for, in any letter case.
    file.findRootStream(u"Workbook");
    file.findRootStream(u"BOOK");
}

// The records of a workbook stream alone (BIFF8 or BIFF5), as the "Workbook" stream holds them.
void xlsRecords(const uint8_t* data, size_t size) {
    MemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
    Workbook book;
    const Status status = biff::readWorkbookStream(stream, book);
    if (!status.isOk()) book = Workbook();
    checkWorkbook(status, book);
    if (status.isOk()) checkXlsRoundTrip(book);
}

void xmlTools(const uint8_t* data, size_t size) {
    XMLTools tools;
    const Status status = tools.loadFromBytes(
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), QStringLiteral("1.xml"));
    if (!status.isOk()) {
        check(!status.message().isEmpty(), "a refused document has a message");
        return;
    }
    // What page subtotals do with the working file: find the table, read rows, write a value.
    const XmlNode table = tools.findElement(tools.document(), QStringLiteral("Table"));
    tools.attribute(table, QStringLiteral("ss:ExpandedRowCount"));
    int rows = 0;
    for (XmlNode row = tools.findElement(table ? table : tools.document(), QStringLiteral("Row"));
         row && rows < 50; row = row.nextSibling(), ++rows) {
        if (!row.isElement()) continue;
        const Result<QStringList> texts = tools.rowTexts(row);
        if (!texts.isOk()) continue;
        const Status written = tools.setCellValue(row, int(texts.value().size()) + 1, QStringLiteral("1.5"),
                                                  QStringLiteral("Number"));
        check(written.isOk() || !written.message().isEmpty(), "a refused write has a message");
        tools.insertCopyAfter(row, row);
        row = row.nextSibling(); // skip the copy
    }
    tools.xmlText();
}

// Text targets read the input as UTF-8, as typed text arrives.
QString utf8Text(const uint8_t* data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

void parseNumberText(const uint8_t* data, size_t size) {
    // Both as UTF-8 text and as raw UTF-16 code units (lone surrogates included).
    double value = 0;
    parseNumber(utf8Text(data, size), value);
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    parseNumber(std::u16string_view(units), value);
    if (std::isfinite(value)) {
        double back = 0;
        check(parseNumber(realToText(value), back) && back == value,
              "a number's text reads back as the number");
    }
    double typed = 0;
    if (typedTextToNumber(utf8Text(data, size), typed))
        check(std::fabs(typed) <= 1e11, "a typed number stays in range");
}

void rangeText(const uint8_t* data, size_t size) {
    const QString text = utf8Text(data, size);
    RangeBounds typed;
    if (typedRange(text, typed)) {
        check(typed.firstRow >= 1 && typed.firstRow <= typed.lastRow && typed.lastRow <= 1048576,
              "rows in the grid");
        check(typed.firstColumn >= 1 && typed.firstColumn <= typed.lastColumn && typed.lastColumn <= 16384,
              "columns in the grid");
        RangeBounds again;
        check(typedCellOrRange(rangeAddress(typed), again) && again == typed,
              "the shown address selects the same range");
    }
    RangeBounds parsed;
    if (parseRangeText(text, parsed)) {
        check(parsed.firstRow >= 1 && parsed.lastRow <= 1048576 && parsed.firstColumn >= 1 &&
                  parsed.lastColumn <= 16384,
              "a parsed range lies in the grid");
    }
}

// The table the condition texts are tried on: a field row and data rows with texts, numbers,
// blanks and a merged cell, read as an operation reads it.
const RowTable& conditionTable() {
    static const RowTable table = [] {
        Workbook book;
        const QByteArray csvText =
            QStringLiteral("编号,姓名,地区,金额,数量\n1,张三,东部,12.5,3\n2,李四,西部,-4,\n3,,东部,1e3,7\n"
                           "4,王五, 北部 ,\"1,200\",x\n")
                .toUtf8();
        if (!CsvFormat::parse(csvText, QStringLiteral("表"), book).isOk() || book.sheets.empty())
            broken("condition table");
        NullProgress progress;
        return readRange(book, book.sheets[0], clipUsedRange(book.sheets[0]), progress, 1000);
    }();
    return table;
}

void splitTokensText(const uint8_t* data, size_t size) {
    const QString text = utf8Text(data, size);
    for (QChar separator : {QChar(u'|'), QChar(u'，')}) {
        const Result<QStringList> tokens = splitTokens(text, separator);
        if (!tokens.isOk()) {
            check(text.trimmed().isEmpty(), "only a blank text is refused");
            continue;
        }
        // Joining the tokens gives back the trimmed text, less one trailing separator.
        QString trimmed = text.trimmed();
        if (trimmed.endsWith(separator)) trimmed.chop(1);
        check(tokens.value().join(separator) == trimmed, "tokens join back to the text");
    }
}

void conditionText(const uint8_t* data, size_t size) {
    const QString text = utf8Text(data, size);
    ConditionalQueryInfo info;
    const Result<RowTable> result = conditionalQuery(conditionTable(), text, &info);
    if (!result.isOk()) {
        check(!result.status().message().isEmpty(), "a refused condition text has a message");
        return;
    }
    check(info.matchingRows <= 4 && result.value().size() == size_t(info.matchingRows) + 1,
          "the field row plus one row per match");
}

// The three texts of a summary page's reply, separated by line breaks in the input.
void formReply(const uint8_t* data, size_t size) {
    const QStringList parts = utf8Text(data, size).split(u'\n');
    FormReply reply;
    reply.replyConditions = parts.value(0);
    reply.replyGroups = parts.value(1);
    reply.replySums = parts.value(2);
    if (reply.queryChosen()) conditionText(data, std::min(size, size_t(parts.value(0).toUtf8().size())));
    if (!reply.summaryChosen()) return;
    ConditionalSummaryInfo info;
    const Result<RowTable> result = conditionalSummary(conditionTable(), reply.replyConditions,
                                                       reply.replyGroups, reply.replySums, &info);
    if (!result.isOk()) check(!result.status().message().isEmpty(), "a refused reply has a message");
    reply.summaryDone();
    check(!reply.summaryChosen(), "a used reply is used up");
}

} // namespace

const std::vector<Target>& targets() {
    static const std::vector<Target> all = {
        {"zip", zipContainer},
        {"xlsx_sheet", xlsxSheet},
        {"xlsx_shared_strings", xlsxSharedStrings},
        {"xlsx_styles", xlsxStyles},
        {"xlsx_workbook", xlsxWorkbook},
        {"xlsx_write", xlsxWrite},
        {"xml_spreadsheet", xmlSpreadsheet},
        {"csv", csv},
        {"xls", xls},
        {"xls_container", xlsContainer},
        {"xls_records", xlsRecords},
        {"xmltools", xmlTools},
        {"parse_number", parseNumberText},
        {"range_text", rangeText},
        {"split_tokens", splitTokensText},
        {"condition_text", conditionText},
        {"form_reply", formReply},
    };
    return all;
}

} // namespace quellar::fuzz
