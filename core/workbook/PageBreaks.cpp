#include "workbook/PageBreaks.h"

#include "workbook/WorkbookFormat.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quellar {

namespace {

constexpr double kPointsPerInch = 72.0;
constexpr double kPointsPerMm = 72.0 / 25.4;
// Heights are summed in points; a row that overshoots the page by less than this still fits.
constexpr double kSlack = 1e-6;

constexpr PaperSize inches(double w, double h) {
    return {w * kPointsPerInch, h * kPointsPerInch};
}
constexpr PaperSize mm(double w, double h) {
    return {w * kPointsPerMm, h * kPointsPerMm};
}

// Excel's paper size codes (the printer paper numbers of Windows), 1 to 118.
// clang-format off
constexpr PaperSize kPapers[] = {
    // 0: none
    {},
    // 1-4 Letter, Letter small, Tabloid, Ledger
    inches(8.5, 11), inches(8.5, 11), inches(11, 17), inches(17, 11),
    // 5-8 Legal, Statement, Executive, A3
    inches(8.5, 14), inches(5.5, 8.5), inches(7.25, 10.5), mm(297, 420),
    // 9-12 A4, A4 small, A5, B4 (JIS)
    mm(210, 297), mm(210, 297), mm(148, 210), mm(257, 364),
    // 13-16 B5 (JIS), Folio, Quarto, 10x14
    mm(182, 257), inches(8.5, 13), mm(215, 275), inches(10, 14),
    // 17-20 11x17, Note, #9, #10
    inches(11, 17), inches(8.5, 11), inches(3.875, 8.875), inches(4.125, 9.5),
    // 21-24 #11, #12, #14, C
    inches(4.5, 10.375), inches(4.75, 11), inches(5, 11.5), inches(17, 22),
    // 25-28 D, E, DL, C5
    inches(22, 34), inches(34, 44), mm(110, 220), mm(162, 229),
    // 29-32 C3, C4, C6, C65
    mm(324, 458), mm(229, 324), mm(114, 162), mm(114, 229),
    // 33-36 B4, B5, B6, Italy envelopes
    mm(250, 353), mm(176, 250), mm(176, 125), mm(110, 230),
    // 37-40 Monarch, 6 3/4, fanfolds
    inches(3.875, 7.5), inches(3.625, 6.5), inches(14.875, 11), inches(8.5, 12),
    // 41-44 fanfold, B4 (ISO), postcard, 9x11
    inches(8.5, 13), mm(250, 353), mm(100, 148), inches(9, 11),
    // 45-48 10x11, 15x11, invite, -
    inches(10, 11), inches(15, 11), mm(220, 220), {},
    // 49-52 -, Letter, Legal, Tabloid extra
    {}, inches(9.5, 12), inches(9.5, 15), inches(11.69, 18),
    // 53-56 A4 extra, transverse sizes
    mm(236, 322), inches(8.5, 11), mm(210, 297), inches(9.5, 12),
    // 57-60 Super A, Super B, Letter plus, A4 plus
    mm(227, 356), mm(305, 487), inches(8.5, 12.69), mm(210, 330),
    // 61-64 A5 and B5 transverse, A3, A5 extra
    mm(148, 210), mm(182, 257), mm(322, 445), mm(174, 235),
    // 65-68 B5 extra, A2, A3 transverse sizes
    mm(201, 276), mm(420, 594), mm(297, 420), mm(322, 445),
    // 69-72 double postcard, A6, Kaku #2, #3
    mm(200, 148), mm(105, 148), mm(240, 332), mm(216, 277),
    // 73-76 Chou #3, #4, rotated Letter, A3
    mm(120, 235), mm(90, 205), inches(11, 8.5), mm(420, 297),
    // 77-80 rotated A4, A5, B4, B5 (JIS)
    mm(297, 210), mm(210, 148), mm(364, 257), mm(257, 182),
    // 81-84 rotated postcards, A6, Kaku #2
    mm(148, 100), mm(148, 200), mm(148, 105), mm(332, 240),
    // 85-88 rotated Kaku #3, Chou; B6 (JIS)
    mm(277, 216), mm(235, 120), mm(205, 90), mm(128, 182),
    // 89-92 B6 rotated, 12x11, You #4
    mm(182, 128), inches(12, 11), mm(105, 235), mm(235, 105),
    // 93-96 PRC 16K, 32K, 32K big, #1
    mm(146, 215), mm(97, 151), mm(97, 151), mm(102, 165),
    // 97-100 PRC envelopes #2-#5
    mm(102, 176), mm(125, 176), mm(110, 208), mm(110, 220),
    // 101-104 PRC envelopes #6-#9
    mm(120, 230), mm(160, 230), mm(120, 309), mm(229, 324),
    // 105-108 #10, rotated 16K, 32K
    mm(324, 458), mm(215, 146), mm(151, 97), mm(151, 97),
    // 109-112 rotated PRC #1-#4
    mm(165, 102), mm(176, 102), mm(176, 125), mm(208, 110),
    // 113-116 rotated PRC #5-#8
    mm(220, 110), mm(230, 120), mm(230, 160), mm(309, 120),
    // 117-118 rotated PRC #9, #10
    mm(324, 229), mm(458, 324),
};
// clang-format on

double visibleHeight(const Sheet& sheet, const SheetRow& row) {
    if (row.hidden) return 0;
    const double h = row.height >= 0 ? double(row.height) : sheet.defaultRowHeight;
    return h > 0 ? h : 0;
}

// The first row (0-based) that no longer fits on a page that starts at row `start` and
// holds `capacity` points of rows (at 100%). A page always takes at least one row that has
// height, so a row taller than the page stands alone on its own page. kMaxRows when the
// grid ends first.
int32_t pageEnd(const Sheet& sheet, int32_t start, double capacity) {
    const double defaultHeight = sheet.defaultRowHeight > 0 ? sheet.defaultRowHeight : 0;
    auto it = std::lower_bound(sheet.rows.begin(), sheet.rows.end(), start,
                               [](const SheetRow& r, int32_t index) { return r.index < index; });
    double used = 0;
    bool placed = false;
    int32_t r = start;
    while (r < kMaxRows) {
        const int32_t nextStored = it != sheet.rows.end() ? it->index : kMaxRows;
        if (r < nextStored) {
            // Rows r .. nextStored-1 are not stored: each has the default height.
            if (defaultHeight > 0) {
                double fit = std::floor((capacity - used + kSlack) / defaultHeight);
                if (fit < 0) fit = 0;
                if (!placed && fit < 1) fit = 1;
                if (double(r) + fit < double(nextStored)) return r + int32_t(fit);
                used += double(nextStored - r) * defaultHeight;
                placed = true;
            }
            r = nextStored;
            continue;
        }
        const double h = visibleHeight(sheet, *it);
        if (h > 0) {
            if (placed && used + h > capacity + kSlack) return r;
            used += h;
            placed = true;
        }
        ++it;
        ++r;
    }
    return kMaxRows;
}

struct Layout {
    double pageHeight = 0; // printable height of a page, points
    double pageWidth = 0;  // printable width, points
    int32_t titleFirst = -1;
    int32_t titleLast = -1;
    double titleHeight = 0; // points at 100%
};

// How many pages tall rows 0..lastRow take at `scale` (fraction); stops counting past `limit`.
int pagesNeeded(const Sheet& sheet, const Layout& layout, double scale, int32_t lastRow, int limit) {
    const double capacity = layout.pageHeight / scale;
    int pages = 0;
    int32_t start = 0;
    while (start <= lastRow && pages <= limit) {
        ++pages;
        // Title rows above the page are printed again at its top.
        const bool titles = layout.titleFirst >= 0 && start > layout.titleLast;
        start = pageEnd(sheet, start, titles ? capacity - layout.titleHeight : capacity);
    }
    return pages;
}

// The printing scale as a fraction: the sheet's own scale, or for fit-to-page the largest
// whole percentage (10% to 100%) at which the used range fits the pages asked for.
double printScale(const Sheet& sheet, const Layout& layout, const CellRange& used) {
    const PageSetup& page = sheet.pageSetup;
    if (!page.fitToPage) return std::clamp(page.scale, 10, 400) / 100.0;
    double percent = 100;
    if (page.fitToWidth > 0) {
        double width = 0;
        for (int32_t c = 0; c <= used.lastColumn; ++c)
            width += std::max(0.0, sheet.columnWidth(c));
        if (width > 0) percent = std::min(percent, 100.0 * page.fitToWidth * layout.pageWidth / width);
    }
    if (page.fitToHeight > 0) {
        double height = 0;
        int32_t previous = -1;
        for (const SheetRow& r : sheet.rows) {
            if (r.index > used.lastRow) break;
            height += double(r.index - previous - 1) * std::max(0.0, sheet.defaultRowHeight) +
                      visibleHeight(sheet, r);
            previous = r.index;
        }
        height += double(used.lastRow - previous) * std::max(0.0, sheet.defaultRowHeight);
        // Rows cannot be split, so the proportional scale is an upper bound: step down from
        // it until the rows really fit.
        if (height > 0) percent = std::min(percent, 100.0 * page.fitToHeight * layout.pageHeight / height);
        percent = std::clamp(std::floor(percent + kSlack), 10.0, 100.0);
        while (percent > 10 &&
               pagesNeeded(sheet, layout, percent / 100, used.lastRow, page.fitToHeight) > page.fitToHeight)
            percent -= 1;
    }
    return std::clamp(std::floor(percent + kSlack), 10.0, 100.0) / 100;
}

} // namespace

PaperSize paperSizeForCode(int code) {
    constexpr int count = int(sizeof kPapers / sizeof kPapers[0]);
    if (code > 0 && code < count && kPapers[code].height > 0) return kPapers[code];
    return kPapers[9];
}

int firstPageBreakRow(const Workbook& book, int sheetNumber) {
    if (sheetNumber < 1 || size_t(sheetNumber) > book.sheets.size()) return -1;
    const Sheet& sheet = book.sheets[size_t(sheetNumber - 1)];
    std::optional<CellRange> used = sheet.usedRange();
    if (!used) {
        if (sheet.rows.empty()) return -1;
        used = CellRange{0, 0, sheet.rows.back().index, 0};
    }
    const PageSetup& page = sheet.pageSetup;

    Layout layout;
    PaperSize paper = paperSizeForCode(page.paperSize);
    if (page.landscape) std::swap(paper.width, paper.height);
    // Header and footer are printed inside the top and bottom margins; neither program moves
    // the rows for them, so only the margins bound the rows.
    layout.pageHeight =
        paper.height - (std::max(0.0, page.marginTop) + std::max(0.0, page.marginBottom)) * kPointsPerInch;
    layout.pageWidth =
        paper.width - (std::max(0.0, page.marginLeft) + std::max(0.0, page.marginRight)) * kPointsPerInch;
    if (!(layout.pageHeight > 0)) return -1;
    if (page.printTitleFirstRow >= 0 && page.printTitleLastRow >= page.printTitleFirstRow) {
        layout.titleFirst = page.printTitleFirstRow;
        layout.titleLast = std::min(page.printTitleLastRow, kMaxRows - 1);
        for (int32_t r = layout.titleFirst; r <= layout.titleLast; ++r) {
            const SheetRow* row = sheet.row(r);
            layout.titleHeight += row ? visibleHeight(sheet, *row) : std::max(0.0, sheet.defaultRowHeight);
        }
    }

    if (page.fitToPage && page.fitToHeight == 1) return -1; // everything on one page tall
    const double scale = printScale(sheet, layout, *used);
    // Page 1 starts at row 1, so print titles (rows at or below row 1) are never repeated on it.
    const int32_t automatic = pageEnd(sheet, 0, layout.pageHeight / scale);
    int32_t first = automatic < kMaxRows ? automatic + 1 : -1;
    if (!page.fitToPage) {
        // A printout breaks at whichever comes first.
        for (int32_t b : sheet.rowBreaks)
            if (b >= 2 && b <= kMaxRows && (first < 0 || b < first)) first = b;
    }
    return first;
}

Result<int> firstPageBreakRow(const QString& path, int sheetNumber) {
    Workbook book;
    const Status status = readWorkbook(path, book);
    if (!status.isOk()) return status;
    return firstPageBreakRow(book, sheetNumber);
}

} // namespace quellar
