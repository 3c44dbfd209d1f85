#pragma once
// The in-memory workbook model that every file format reads into and writes from, and that
// the grid panes show: sheets in order, each with typed cells, styles, merged areas, column
// widths, row heights, page setup and manual page breaks, and which sheet is active.
//
// Coordinates in the model are 0-based (row 0, column 0 is A1). Rows are kept sorted by
// index and each row's cells sorted by column, so a sparse sheet costs only what it holds
// and a dense million-row sheet is read and written sequentially. Cells refer to an entry
// of the workbook's style table; entry 0 is the default style.

#include "base/CellValue.h"
#include "base/SharedText.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace quellar {

// Limits of the grid: XFD1048576.
constexpr int32_t kMaxRows = 1048576;
constexpr int32_t kMaxColumns = 16384;

static_assert(kMaxColumns <= 65536, "a column index fits Cell::column");

enum class HAlign : uint8_t { General, Left, Center, Right, Fill, Justify, CenterAcross, Distributed };
enum class VAlign : uint8_t { Bottom, Top, Center, Justify, Distributed };

struct Style {
    QString numberFormat; // empty means General
    bool hasFill = false;
    int fillPalette = 0;  // nearest colour of the 56-colour palette (1-based index), when hasFill
    uint32_t fillRgb = 0; // exact fill colour 0xRRGGBB, when hasFill
    QString fontName;     // empty means the workbook's default font
    double fontSize = 0;  // 0 means the workbook's default size
    bool bold = false;
    bool italic = false;
    bool hasFontColor = false;
    uint32_t fontRgb = 0; // 0xRRGGBB, when hasFontColor
    HAlign horizontal = HAlign::General;
    VAlign vertical = VAlign::Bottom;
    bool wrapText = false;

    friend bool operator==(const Style&, const Style&) = default;
};

// 24 bytes: the column and style sit in the value's spare bytes, since a million-row
// sheet of ten columns holds ten million cells.
struct Cell {
    [[no_unique_address]] CellValue value;
    uint16_t column = 0; // 0-based, below kMaxColumns
    uint32_t style = 0;  // index into Workbook::styles
    SharedText formula;  // starting with "=", in A1 notation whatever the file stores
};
static_assert(sizeof(Cell) == 24, "a cell stays compact");

struct SheetRow {
    int32_t index = 0; // 0-based
    float height = -1; // points; negative means the sheet's default height
    bool hidden = false;
    std::vector<Cell> cells; // sorted by column, at most one per column
};

// 0-based, inclusive.
struct CellRange {
    int32_t firstRow = 0;
    int32_t firstColumn = 0;
    int32_t lastRow = 0;
    int32_t lastColumn = 0;

    int32_t rowCount() const { return lastRow - firstRow + 1; }
    int32_t columnCount() const { return lastColumn - firstColumn + 1; }
    bool contains(int32_t row, int32_t column) const {
        return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
    }
    friend bool operator==(const CellRange&, const CellRange&) = default;
};

struct PageSetup {
    int paperSize = 9; // Excel paper code: 9 is A4, 1 is Letter
    bool landscape = false;
    double marginTop = 0.75; // inches
    double marginBottom = 0.75;
    double marginLeft = 0.7;
    double marginRight = 0.7;
    double marginHeader = 0.3;
    double marginFooter = 0.3;
    int scale = 100; // percent
    bool fitToPage = false;
    int fitToWidth = 1;
    int fitToHeight = 1;
    int printTitleFirstRow = -1; // 0-based rows repeated on every page; -1 when none
    int printTitleLastRow = -1;
};

class Sheet {
public:
    QString name;
    std::vector<SheetRow> rows; // sorted by index
    std::vector<CellRange> merges;
    std::map<int32_t, double> columnWidths; // points, by 0-based column
    double defaultColumnWidth = 54;         // points
    double defaultRowHeight = 13.5;         // points
    bool hidden = false;
    bool isProtected = false;
    PageSetup pageSetup;
    std::vector<int32_t> rowBreaks; // 1-based row numbers that start a new page (manual breaks)

    // The cell at (row, column), or nullptr.
    const Cell* cell(int32_t row, int32_t column) const;
    const SheetRow* row(int32_t index) const;
    // The row with `index`, created when missing. Appending rows in increasing order is O(1).
    SheetRow& rowAt(int32_t index);
    // The cell at (row, column), created empty (default style) when missing.
    Cell& cellAt(int32_t row, int32_t column);

    // The smallest range holding every stored cell (empty or not) and every merged area;
    // nullopt for a sheet with no cells.
    std::optional<CellRange> usedRange() const;
    // The merged area whose top-left cell is (row, column), or nullptr; and the area that
    // contains (row, column), or nullptr. Both are O(log n) after the first call.
    const CellRange* mergeContaining(int32_t row, int32_t column) const;

    double columnWidth(int32_t column) const;
    double rowHeight(int32_t row) const;

    void clear(); // removes cells, merges, widths, heights and breaks; keeps name and setup
    // What clear() would leave, as a new sheet: the name and setup without the contents.
    Sheet emptyCopy() const;

private:
    mutable std::vector<size_t> mergeIndex_; // merges sorted by first row, built lazily
    mutable size_t mergeIndexSize_ = size_t(-1);
};

class Workbook {
public:
    Workbook();

    std::vector<Sheet> sheets;
    std::vector<Style> styles; // entry 0 is the default style
    int activeSheet = 0;       // 0-based index into sheets
    QString defaultFontName = QStringLiteral("宋体");
    double defaultFontSize = 11;

    // The index of an equal style, added when missing.
    uint32_t internStyle(const Style& style);

    // A workbook as the grid starts: three empty sheets "Sheet1", "Sheet2", "Sheet3".
    static Workbook makeDefault();

    // The sheet called `name` (exact), or -1.
    int sheetIndex(const QString& name) const;

private:
    QHash<QString, QList<uint32_t>> styleLookup_; // keyed by a cheap digest of the style
    size_t indexedStyles_ = 0;                    // how many entries of `styles` styleLookup_ covers
};

// The standard 56-colour palette: colour of index 1..56 as 0xRRGGBB.
uint32_t paletteColor(int index);
// The palette index (1..56) nearest to an RGB colour.
int nearestPaletteIndex(uint32_t rgb);

} // namespace quellar
