#pragma once
// The parts of the .xlsx writer (XlsxWriter.cpp drives them): the cell formats and styles.xml
// (XlsxWriterStyles.cpp), the worksheet XML (XlsxWriterSheet.cpp) and the package's other
// parts (XlsxWriterParts.cpp). Every part keeps the element order of its schema, which Excel
// insists on.

#include "workbook/Workbook.h"
#include "workbook/containers/ZipWriter.h"

#include <QSet>
#include <QString>
#include <QStringView>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace quellar::xlsx::writing {

// The longest text a cell of an .xlsx file holds.
constexpr qsizetype kMaxCellText = 32767;

// How a cell's value asks to be formatted: as its style says, or (a date-time value under a
// style that shows no date) as a date, a date with time or a time of day.
enum class FormatKind : uint8_t { AsStyled = 0, Date = 1, DateTime = 2, Time = 3 };
constexpr int kFormatKinds = 4;

// The cell formats (xf records) of a workbook: one per style and format kind that cells use,
// equal ones shared; index 0 is the plain default. Built before any sheet is written, then
// only read, from any thread.
class CellFormats {
public:
    explicit CellFormats(const Workbook& book);
    // Marks a style and kind as used (from any thread); afterwards finish() numbers the formats.
    void use(uint32_t style, FormatKind kind) {
        std::atomic_ref<uint8_t>(used_[slot(style, kind)]).store(1, std::memory_order_relaxed);
    }
    void finish();
    // The xf index of a used style and kind (0 for the plain default).
    uint32_t xf(uint32_t style, FormatKind kind) const { return xf_[slot(style, kind)]; }
    // The kind a date-time value `serial` needs under `style`.
    FormatKind dateKind(uint32_t style, double serial) const;
    // The kind a cell's value needs under its style.
    FormatKind kindOf(const Cell& cell) const;
    // xl/styles.xml.
    std::string stylesPart() const;

private:
    size_t slot(uint32_t style, FormatKind kind) const {
        return size_t(style < styleCount_ ? style : 0) * kFormatKinds + size_t(kind);
    }
    struct Record; // one xf as styles.xml writes it
    Record recordOf(uint32_t style, FormatKind kind);

    const Workbook& book_;
    uint32_t styleCount_;
    bool explicitFont_; // the workbook's default font is not the package's (Calibri 11)
    std::vector<uint8_t> isDateStyle_;
    std::vector<uint8_t> used_;
    std::vector<uint32_t> xf_;
    std::vector<std::string> numberFormats_; // codes of the ids from 164 on
    std::vector<std::string> fonts_;         // <font> elements; 0 is the default
    std::vector<std::string> fills_;         // <fill> elements; 0 and 1 the fixed ones
    std::vector<std::string> xfs_;           // <xf> elements; 0 is the default
    std::map<std::string, uint32_t> formatIndex_, fontIndex_, fillIndex_;
};

// A sheet as it is written: its place, the name it gets and what its part needs.
struct SheetPlan {
    const Sheet* sheet = nullptr;
    QString name;                                                           // valid and unique
    bool selected = false;                                                  // the active sheet
    bool zip64 = false;                                                     // its part may reach 4 GB
    int32_t firstRow = -1, firstColumn = -1, lastRow = -1, lastColumn = -1; // the dimension
};

// Writes worksheet parts: the part's start up to <sheetData>, rows, and the rest. The rows
// of one part may be written in pieces on several threads at once.
class SheetXml {
public:
    SheetXml(const CellFormats& formats, const Workbook& book)
        : formats_(formats)
        , book_(book) {}
    void head(const SheetPlan& plan, RawBuffer& out) const;
    // Rows [first, end) of sheet.rows, stopping before a row once `out` holds `limit` bytes;
    // returns the row to go on with.
    size_t rows(const Sheet& sheet, size_t first, size_t end, RawBuffer& out, size_t limit) const;
    void tail(const SheetPlan& plan, RawBuffer& out) const;

private:
    const CellFormats& formats_;
    const Workbook& book_;
};

// Excel's sheet-name rules applied to `wanted` (the sheet at `position`): 1 to 31 characters,
// none of []:*?/\, no apostrophe at either end, unique ignoring case among `taken`.
QString validSheetName(const QString& wanted, int position, QSet<QString>& taken);
// An error value that can be written as a formula of its own (#N/A, #DIV/0! …).
bool isErrorLiteral(QStringView text);

// A number as the parts write it: the shortest text that reads back as the same double, in the
// working files' form (shortestNumberText: 10000000, 1000000000000000, 0.00001), exponents
// without "+" or leading zeros ("1e-7", "1e21").
char* writeNumber(char* out, double value);
// Cell text as XML character data: & < > escaped, characters XML cannot carry (control
// characters, a carriage return) and a "_x" that would read as such an escape written as
// _xHHHH_. At most kTextBytesPerUnit bytes per UTF-16 unit.
constexpr size_t kTextBytesPerUnit = 7;
char* writeCellText(char* out, const char16_t* text, size_t size);
// The zip entry name of sheet `index` (0-based).
std::string sheetPartName(size_t index);

// The package's other parts.
std::string contentTypesPart(size_t sheets);
std::string packageRelationshipsPart();
std::string appPropertiesPart(const std::vector<SheetPlan>& plans);
std::string corePropertiesPart();
std::string workbookPart(const std::vector<SheetPlan>& plans, int activeSheet);
std::string workbookRelationshipsPart(size_t sheets);
std::string_view themePart();

} // namespace quellar::xlsx::writing
