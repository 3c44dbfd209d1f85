#pragma once
// The worksheet reader, shared by XlsxSheetReader.cpp (the elements and cells of a sheet part)
// and XlsxSheetPieces.cpp (the rows of a large part cut into pieces and parsed on two cores).
// Private to the .xlsx reader.

#include "workbook/xlsx/XlsxReading.h"

namespace quellar::xlsx::detail {

enum class CellType { Number, Shared, FormulaString, Inline, Boolean, Error, Date, Invalid };

// Shared formulas: the master cell's A1 text and place by shared index; the other cells of
// the group carry only the index and get the master's text shifted to them.
struct SharedMaster {
    QString formula;
    int32_t row;
    int32_t column;
};

// Gives `cell` the formula read for it (without its '='; `formula` is used up), or the error
// value an error constant written as a formula stands for.
void setFormula(Cell& cell, std::string& formula);

// The A1 formula of a shared formula group's cell at (row, column), from its master.
std::string shiftedFormula(const SharedMaster& master, int32_t row, int32_t column);

// A cell of a piece whose shared formula's master came before the piece: its place in the
// piece's rows and what its formula is made from.
struct SharedUse {
    size_t row;
    size_t cell;
    uint64_t index;
    int32_t cellRow;
    int32_t column;
};

// A run of whole rows cut from a large <sheetData>, read on its own (on any thread), and
// what its rows leave for the rows after them.
struct RowPiece {
    std::string bytes; // the rows inside an opening and closing <worksheet><sheetData>
    Sheet sheet;       // the rows read from them
    // They did not read alone: the part is read again in one go, which settles the message.
    bool failed = false;
    // They depend on earlier rows in a way the piece cannot settle (a row numbered from the
    // previous row and followed by a numbered one, a shared formula in such rows, ...): the
    // calling thread reads them again with the state the rows before left.
    bool needsState = false;
    // Rows without r from the start: their indexes count from the row before the piece.
    bool relative = false;
    int32_t rowIndex = -1;
    int32_t column = -1;
    int64_t cells = 0;
    bool unordered = false;
    bool hasSharedIndex = false;
    uint64_t sharedIndex = 0;
    std::unordered_map<uint64_t, SharedMaster> sharedFormulas; // masters defined in the piece
    std::vector<SharedUse> sharedUses;
};

// While alive, counts a sheet part being read. Rows are read in pieces only while one part is
// read: when several are read at once (two inputs of a comparison), the cores are busy already.
class SheetReadCount {
public:
    SheetReadCount();
    ~SheetReadCount();
    SheetReadCount(const SheetReadCount&) = delete;
    SheetReadCount& operator=(const SheetReadCount&) = delete;
    static int now();
};

// Reads one worksheet part into a Sheet, one handler per element: <row> and <c> inside
// <sheetData>, the sheet-wide settings at the top level, and the records of <cols>,
// <mergeCells> and <rowBreaks>. A handler that meets the end of the scan (a scanner error:
// an element cannot end the document) sets `stopped_`; scanPart then reports the error.
//
// A large <sheetData> is cut into pieces of whole rows, read by a second SheetPart each (on
// any thread, into the piece's own rows) and appended in order. Whatever a piece cannot
// settle alone is read again on the calling thread; a piece that fails, or any failure of a
// part read in pieces, has the whole part read again in one go (mustReadAgain()), so every
// message is the one reading in one go gives.
class XlsxReader::SheetPart {
public:
    SheetPart(XlsxReader& reader, const ZipEntry& entry, Sheet& sheet, XmlScanner& sc,
              const std::vector<SharedText>* strings, UsedRangeStream* stream)
        : reader_(reader)
        , entry_(entry)
        , sheet_(sheet)
        , sc_(&sc)
        , strings_(strings)
        , stream_(stream) {}
    Status run();
    bool streamRefused() const { return streamRefused_; }
    // Pieces are only tried when allowed (not when the part is read again after a failure).
    void allowPieces(bool allowed) { piecesAllowed_ = allowed; }
    bool readInPieces() const { return readInPieces_; }
    bool mustReadAgain() const { return readAgain_; }

private:
    enum class Section { None, SheetData, Cols, Merges, RowBreaks, Other };

    // What a cell's content gave: its <v> text and its inline string, when present.
    struct CellContent {
        std::string_view value;
        std::string_view inlineText;
        bool hasValue = false;
        bool hasInline = false;
    };

    Status cellError(const QString& message) const { return reader_.partError(entry_, message); }
    // A cell's <v> that does not read as `what` (数值, 日期, ...), quoted up to 40 bytes.
    Status invalidValue(const QString& what, int32_t cellRow, std::string_view value) const {
        return cellError(QStringLiteral("单元格 %1 的%2“%3”无效")
                             .arg(cellName(cellRow, column_), what, qstr(value.substr(0, 40))));
    }
    Status scanElements();
    SheetRow& appendRow(int32_t index);
    Status readCell(int depth);
    Status beginCell(std::string_view ref, std::string_view style, bool hasStyle, std::string_view type,
                     bool hasType, CellType& cellType, const XfInfo*& xf, int32_t& cellRow);
    Status storeCell(CellType type, const XfInfo& xf, int32_t cellRow, const CellContent& content);
    Status readPlainCells();
    Status readCellChildren(int depth, int32_t cellRow, bool& hasValue, bool& hasInline);
    void readFormula(int32_t cellRow);
    bool readInlineText();
    Status cellValueOf(CellType type, const XfInfo& xf, int32_t cellRow, const CellContent& content,
                       CellValue& cellValue) const;
    Status readRow();
    Status readTopLevel(std::string_view name);
    void readFormatProperties();
    void readPageMargins();
    void readPageSetup();
    void readSheetProperties();
    Status readColumns();
    Status readMerge();
    void readBreak();

    // XlsxSheetPieces.cpp: the rows of a large part in pieces.
    bool piecesWanted() const;
    void readRowsInPieces();
    bool fillPiece(RowPiece& piece, size_t pieceBytes);
    void readPiece(RowPiece& piece) const;
    bool appendPiece(RowPiece& piece);
    bool readPieceHere(const RowPiece& piece);
    // A piece's rows met something that depends on the rows before the piece.
    void needState() {
        needsState_ = true;
        stopped_ = true;
    }

    XlsxReader& reader_;
    const ZipEntry& entry_;
    Sheet& sheet_;
    XmlScanner* sc_; // a piece read again on the calling thread has a scanner of its own
    const std::vector<SharedText>* strings_;
    // Streaming: each row goes to stream_ once complete; its emptied cell storage is kept in
    // spareCells_ for the next row, and rows that carry no height or visibility are dropped.
    UsedRangeStream* stream_;
    std::vector<Cell> spareCells_;
    bool streamRefused_ = false;
    void handOver(SheetRow& row);
    Section section_ = Section::None;
    const bool plainCells_ = xlsx::plainCellPath();
    bool stopped_ = false;
    std::string value_, formula_, inlineText_;
    std::unordered_map<uint64_t, SharedMaster> sharedFormulas_;
    uint64_t sharedIndex_ = 0;
    bool sharedFormula_ = false;
    int32_t rowIndex_ = -1, column_ = -1;
    int64_t cells_ = 0;
    int64_t columnRecords_ = 0;
    size_t lastRowCells_ = 0;
    bool fitToPage_ = false;
    // Rows and cells are appended in file order; a part that is out of order (which
    // Excel never writes) is put in order once at the end instead of by costly inserts.
    bool unordered_ = false;

    // Pieces. On the part's own SheetPart: whether they may be tried, whether they were, and
    // whether the part must be read again in one go; whether a piece is being read again here.
    bool piecesAllowed_ = false;
    bool readInPieces_ = false;
    bool readAgain_ = false;
    bool rereading_ = false;
    int topLevels_ = 0; // children of <worksheet> met; a piece holds only its <sheetData>
    // On a piece's SheetPart: rows count from an unknown start until a row gives its r, and
    // whether a shared index was given in the piece (a later <f> without si reuses it).
    bool piece_ = false;
    bool relative_ = false;
    bool hasSharedIndex_ = false;
    bool needsState_ = false;
    bool sharedUse_ = false; // the current cell's shared formula waits for its master
    std::vector<SharedUse> sharedUses_;
};

} // namespace quellar::xlsx::detail
