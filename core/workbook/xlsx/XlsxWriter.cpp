// The .xlsx writer of XlsxFormat: the package written by our own zip layer. One pass over the
// cells (on two cores for a large sheet) finds the cell formats they use, the sheets' dimensions and whether
// a sheet part may reach 4 GB (ZIP64), and refuses a text longer than a cell holds before anything is
// written. Then the sheet parts are generated from the model and deflated in pieces on two cores
// (OrderedPipeline) and written out in order, between the package's small parts.

#include "workbook/xlsx/XlsxFormat.h"
#include "workbook/xlsx/XlsxWriting.h"

#include "base/CellOps.h"
#include "base/OrderedPipeline.h"
#include "base/ParallelRows.h"
#include "base/Progress.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace quellar {

namespace {

using namespace xlsx::writing;

// ISA-L's fastest level that still finds matches: the package ends up a little larger than
// zlib's default level makes it, at several times the speed.
constexpr int kDeflateLevel = 1;
// A piece of a sheet part: about this many cells (some 1 MB of XML) …
constexpr size_t kPieceCells = 16384;
// … and it is deflated whenever its XML reaches this size (long texts).
constexpr size_t kPieceBytes = size_t(8) << 20;

// The dimension of the cells met so far.
struct Extent {
    int32_t firstRow = -1, firstColumn = -1, lastRow = -1, lastColumn = -1;
    void extend(int32_t row, int32_t column) {
        if (firstRow < 0) {
            firstRow = lastRow = row;
            firstColumn = lastColumn = column;
            return;
        }
        firstRow = std::min(firstRow, row);
        lastRow = std::max(lastRow, row);
        firstColumn = std::min(firstColumn, column);
        lastColumn = std::max(lastColumn, column);
    }
    void extend(const Extent& other) {
        if (other.firstRow < 0) return;
        extend(other.firstRow, other.firstColumn);
        extend(other.lastRow, other.lastColumn);
    }
};

// What the pass over rows [from, to) of a sheet finds: the formats its cells use (marked in
// `formats`), their extent, an upper bound of their XML's size, and the first cell whose text
// is too long for a cell (row -1 when none).
struct RowsPlan {
    Extent extent;
    uint64_t bound = 0;
    int32_t longRow = -1;
    uint32_t longColumn = 0;
    qsizetype longLength = 0;
};

RowsPlan planRows(const Sheet& sheet, size_t from, size_t to, CellFormats& formats) {
    RowsPlan plan;
    for (size_t i = from; i < to; ++i) {
        const SheetRow& row = sheet.rows[i];
        if (row.index < 0 || row.index >= kMaxRows) continue;
        plan.bound += 96;
        for (const Cell& cell : row.cells) {
            if (cell.column >= uint32_t(kMaxColumns)) continue;
            const CellValue& v = cell.value;
            formats.use(cell.style, formats.kindOf(cell));
            const qsizetype length = v.text().qview().size();
            // A cell of an .xlsx file holds at most 32767 characters: refuse rather than cut a
            // text without a word (a formula's cached text is cut: it is computed again).
            if (length > kMaxCellText && cell.formula.isEmpty() &&
                (v.type() == CellValue::Type::String || !isErrorLiteral(v.text().qview()))) {
                plan.longRow = row.index;
                plan.longColumn = cell.column;
                plan.longLength = length;
                return plan;
            }
            plan.bound += 160 + uint64_t(length + cell.formula.qview().size()) * kTextBytesPerUnit;
            plan.extent.extend(row.index, int32_t(cell.column));
        }
    }
    return plan;
}

// The pass over a sheet's cells before anything is written: the formats its cells use, its
// dimension, an upper bound of its part's size; a failure for a text too long for a cell.
// A large sheet is passed over on two cores; what is found is the same.
Status planSheet(const Sheet& sheet, CellFormats& formats, SheetPlan& plan) {
    RowsPlan halves[2];
    buildInHalves(sheet.rows.size(), [&](size_t from, size_t to, int half) {
        halves[half] = planRows(sheet, from, to, formats);
    });
    for (const RowsPlan& half : halves) {
        if (half.longRow < 0) continue;
        return Status::invalidInput(
            QStringLiteral("工作表“%1”的单元格 %2 的文字有 %3 个字符，超过 .xlsx 单元格最多能存的 "
                           "%4 个字符；为了不截断文字，请另存为 .xls、.xml、.json 或 .csv")
                .arg(sheet.name, columnAddress(int(half.longColumn) + 1, half.longRow + 1))
                .arg(half.longLength)
                .arg(kMaxCellText));
    }
    Extent extent = halves[0].extent;
    extent.extend(halves[1].extent);
    for (const CellRange& m : sheet.merges)
        if (m.firstRow >= 0 && m.firstColumn >= 0 && m.lastRow < kMaxRows && m.lastColumn < kMaxColumns) {
            extent.extend(m.firstRow, m.firstColumn);
            extent.extend(m.lastRow, m.lastColumn);
        }
    plan.firstRow = extent.firstRow;
    plan.firstColumn = extent.firstColumn;
    plan.lastRow = extent.lastRow;
    plan.lastColumn = extent.lastColumn;
    const uint64_t bound = (1 << 20) + halves[0].bound + halves[1].bound; // with the part's start and end
    plan.zip64 = bound >= ZipWriter::kZip64Size;
    return Status::ok();
}

// A piece of a sheet part: rows [firstRow, endRow) of sheet `sheet`, with the part's start
// when it is the first and its end when it is the last.
struct SheetPiece {
    size_t sheet = 0;
    size_t firstRow = 0, endRow = 0;
    bool first = false, last = false;
    RawBuffer xml;
    DeflatedPiece deflated;
    std::unique_ptr<PieceDeflater> deflater;
};

class PackageWriter {
public:
    PackageWriter(const Workbook& book, const QString& path, const xlsx::XlsxWriteControl& control)
        : book_(book)
        , control_(control)
        , formats_(book)
        , zip_(path) {}

    Status write() {
        if (Status planned = plan(); !planned) return planned;
        if (Status opened = zip_.open(); !opened) return opened;
        zip_.addEntry("[Content_Types].xml", contentTypesPart(plans_.size()));
        zip_.addEntry("_rels/.rels", packageRelationshipsPart());
        zip_.addEntry("xl/_rels/workbook.xml.rels", workbookRelationshipsPart(plans_.size()));
        if (!writeSheets()) return Status::cancelled(); // the output file is dropped
        zip_.addEntry("xl/workbook.xml", workbookPart(plans_, active_));
        zip_.addEntry("xl/theme/theme1.xml", themePart());
        zip_.addEntry("xl/styles.xml", formats_.stylesPart());
        zip_.addEntry("docProps/core.xml", corePropertiesPart());
        zip_.addEntry("docProps/app.xml", appPropertiesPart(plans_));
        return zip_.finish();
    }

private:
    Status plan() {
        QSet<QString> taken;
        const std::vector<Sheet>& sheets = book_.sheets;
        if (sheets.empty()) { // a workbook has at least one sheet
            blank_.name = QStringLiteral("Sheet1");
            blank_.pageSetup.paperSize = 0;
        }
        const size_t count = std::max<size_t>(1, sheets.size());
        active_ = std::clamp(book_.activeSheet, 0, int(count) - 1);
        plans_.resize(count);
        for (size_t i = 0; i < count; ++i) {
            SheetPlan& p = plans_[i];
            p.sheet = sheets.empty() ? &blank_ : &sheets[i];
            p.name = validSheetName(p.sheet->name, int(i), taken);
            p.selected = int(i) == active_;
            if (Status s = planSheet(*p.sheet, formats_, p); !s) return s;
            rows_ += int64_t(p.sheet->rows.size());
            cells_ += p.sheet->rows.size();
            for (const SheetRow& row : p.sheet->rows)
                cells_ += row.cells.size();
            // The merge lookup builds its index on first use: not while other threads read.
            if (!p.sheet->merges.empty()) p.sheet->mergeContaining(0, 0);
        }
        formats_.finish();
        return Status::ok();
    }

    // False when cancelled; a failed output is reported by finish().
    bool writeSheets() {
        const SheetXml xml(formats_, book_);
        size_t sheetAt = 0, rowAt = 0;
        auto fill = [&](SheetPiece& piece) {
            if (sheetAt >= plans_.size()) return false;
            const std::vector<SheetRow>& rows = plans_[sheetAt].sheet->rows;
            piece.sheet = sheetAt;
            piece.first = rowAt == 0;
            piece.firstRow = rowAt;
            size_t cells = 0;
            while (rowAt < rows.size() && cells < kPieceCells)
                cells += rows[rowAt++].cells.size() + 1;
            piece.endRow = rowAt;
            piece.last = rowAt == rows.size();
            if (piece.last) {
                ++sheetAt;
                rowAt = 0;
            }
            return true;
        };
        auto work = [&](SheetPiece& piece) {
            if (!piece.deflater) piece.deflater = std::make_unique<PieceDeflater>(kDeflateLevel);
            const SheetPlan& plan = plans_[piece.sheet];
            piece.xml.clear();
            piece.deflated.clear();
            if (piece.first) xml.head(plan, piece.xml);
            for (size_t next = piece.firstRow; next < piece.endRow;) {
                next = xml.rows(*plan.sheet, next, piece.endRow, piece.xml, kPieceBytes);
                if (next < piece.endRow) { // a long piece is deflated as it grows
                    piece.deflater->deflate(piece.xml.view(), false, piece.deflated);
                    piece.xml.clear();
                }
            }
            if (piece.last) xml.tail(plan, piece.xml);
            piece.deflater->deflate(piece.xml.view(), piece.last, piece.deflated);
        };
        int64_t rowsDone = 0;
        bool cancelled = false;
        auto deliver = [&](SheetPiece& piece) {
            if (piece.first) zip_.beginEntry(sheetPartName(piece.sheet), plans_[piece.sheet].zip64);
            zip_.appendPiece(piece.deflated);
            if (piece.last) zip_.endEntry();
            rowsDone += int64_t(piece.endRow - piece.firstRow);
            if (control_.progress) control_.progress->setPosition(rowsDone);
            if (control_.cancel && control_.cancel->load(std::memory_order_relaxed)) {
                cancelled = true;
                return false;
            }
            return !zip_.failed();
        };
        if (control_.progress) {
            control_.progress->setRange(rows_);
            control_.progress->setPosition(0);
        }
        // A small workbook is written on this thread alone.
        OrderedPipeline<SheetPiece> pipeline(cells_ > kPieceCells ? 1 : 0);
        pipeline.run(fill, work, deliver);
        return !cancelled;
    }

    const Workbook& book_;
    const xlsx::XlsxWriteControl& control_;
    CellFormats formats_;
    ZipWriter zip_;
    std::vector<SheetPlan> plans_;
    Sheet blank_;
    int active_ = 0;
    int64_t rows_ = 0;
    size_t cells_ = 0;
};

} // namespace

Status XlsxFormat::write(const Workbook& workbook, const QString& path) const {
    // The window's export runs on a thread with a cancel flag; the write stops at its next piece.
    return xlsx::writeXlsx(workbook, path, {nullptr, cancellation::current()});
}

namespace xlsx {

Status writeXlsx(const Workbook& workbook, const QString& path, const XlsxWriteControl& control) {
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo target(path);
    if (!target.absoluteDir().exists())
        return Status::notFound(QStringLiteral("无法写入文件“%1”：文件夹不存在").arg(shown));
    if (target.isDir())
        return Status::invalidInput(QStringLiteral("无法写入“%1”：这是一个文件夹").arg(shown));
    Status status = runGuarded([&] { return PackageWriter(workbook, path, control).write(); });
    if (status.code() == Status::Code::IoError && !status.message().contains(shown))
        return Status::ioError(QStringLiteral("写入文件“%1”失败：%2").arg(shown, status.message()));
    return status;
}

} // namespace xlsx

} // namespace quellar
