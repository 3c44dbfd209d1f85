// The rows of a large worksheet part read on two cores: the <sheetData> bytes are cut into
// pieces where a row starts, each piece is read on its own into rows of its own (sharing only
// what does not change: cell formats, shared strings), and the pieces' rows are appended in
// order on the calling thread, which carries what one piece leaves to the next (the row
// number, shared formula masters, the cell count).
//
// What a piece cannot settle alone it reads again on the calling thread with the state the
// rows before it left; when that happens twice in a row the rest of the part is read in one go.
// A piece that does not read alone (it may be malformed, or cut inside a comment) has the whole
// part read again in one go, so messages never depend on where the pieces were cut.

#include "workbook/xlsx/XlsxSheetParser.h"

#include "base/OrderedPipeline.h"
#include "base/Progress.h"

namespace quellar::xlsx::detail {

namespace {

// A piece's rows between these, the elements that hold them in a part, so that they are at
// the depth and in the section the part has them.
constexpr std::string_view kOpening = "<worksheet><sheetData>";
constexpr std::string_view kClosing = "</sheetData></worksheet>";

bool endsName(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '>' || c == '/' || c == '<';
}

// Whether the '<' at `lt` starts a row's start tag (<row …>, with any prefix). A '<' in XML
// always starts markup; one inside a comment or CDATA section leaves the piece cut there
// malformed, which its reading finds.
bool rowStartsAt(std::string_view bytes, size_t lt) {
    size_t nameEnd = lt + 1;
    while (nameEnd < bytes.size() && !endsName(bytes[nameEnd]))
        ++nameEnd;
    if (nameEnd == bytes.size() || bytes[nameEnd] == '<') return false;
    std::string_view name = bytes.substr(lt + 1, nameEnd - lt - 1);
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return name == "row";
}

// Where the last (or the first) row start tag after the first byte of `bytes` begins; 0 when
// there is none.
size_t lastRowStart(std::string_view bytes) {
    for (size_t lt = bytes.size(); lt > 1;) {
        lt = bytes.rfind('<', lt - 1);
        if (lt == std::string_view::npos || lt == 0) return 0;
        if (rowStartsAt(bytes, lt)) return lt;
    }
    return 0;
}

size_t firstRowStart(std::string_view bytes) {
    for (size_t lt = bytes.find('<', 1); lt != std::string_view::npos; lt = bytes.find('<', lt + 1))
        if (rowStartsAt(bytes, lt)) return lt;
    return 0;
}

std::atomic<int> sheetsBeingRead{0};

} // namespace

SheetReadCount::SheetReadCount() {
    sheetsBeingRead.fetch_add(1, std::memory_order_relaxed);
}

SheetReadCount::~SheetReadCount() {
    sheetsBeingRead.fetch_sub(1, std::memory_order_relaxed);
}

int SheetReadCount::now() {
    return sheetsBeingRead.load(std::memory_order_relaxed);
}

bool XlsxReader::SheetPart::piecesWanted() const {
    const RowPieces settings = rowPieces();
    return piecesAllowed_ && !piece_ && !rereading_ && settings.pieceBytes > 0 &&
           entry_.size > settings.floor && SheetReadCount::now() == 1;
}

void XlsxReader::SheetPart::readRowsInPieces() {
    readInPieces_ = true;
    const size_t pieceBytes = rowPieces().pieceBytes;
    bool filling = true;
    int readHereInARow = 0;
    OrderedPipeline<RowPiece> pipeline(1);
    pipeline.run([&](RowPiece& piece) { return filling && (filling = fillPiece(piece, pieceBytes)); },
                 [this](RowPiece& piece) { readPiece(piece); },
                 [&](RowPiece& piece) {
                     cancellation::point();
                     const bool readHere = !appendPiece(piece);
                     readHereInARow = readHere ? readHereInARow + 1 : 0;
                     if (readHereInARow >= 2) filling = false;
                     return !readAgain_ && !streamRefused_;
                 });
    if (readAgain_ || streamRefused_) stopped_ = true;
}

// The next piece: whole rows of the scanner's pending bytes, about `pieceBytes` of them, cut
// where a row starts. False when no row starts in the bytes the scanner holds after the first
// (the last rows and the end of <sheetData>, or a row larger than the scanner's buffer): the
// scanner reads the rest.
bool XlsxReader::SheetPart::fillPiece(RowPiece& piece, size_t pieceBytes) {
    piece.bytes.assign(kOpening);
    size_t taken = 0;
    while (taken < pieceBytes) {
        const std::string_view bytes = sc_->pending(pieceBytes - taken);
        if (sc_->hasError()) {
            readAgain_ = true;
            return false;
        }
        // The rows that fit in what the piece still wants; a longer first row on its own.
        size_t cut = lastRowStart(bytes.substr(0, pieceBytes - taken));
        if (cut == 0 && taken == 0) cut = firstRowStart(bytes);
        if (cut == 0) break;
        piece.bytes.append(bytes.data(), cut);
        sc_->consume(cut);
        taken += cut;
    }
    if (taken == 0) return false;
    piece.bytes.append(kClosing);
    return true;
}

// On any thread: the piece's rows into its own sheet, with what they leave for the next rows.
void XlsxReader::SheetPart::readPiece(RowPiece& piece) const {
    piece.sheet.rows.clear();
    piece.sharedFormulas.clear();
    MemoryByteSource source{std::string_view(piece.bytes)};
    XmlScanner sc(source);
    SheetPart part(reader_, entry_, piece.sheet, sc, strings_, nullptr);
    part.piece_ = true;
    part.relative_ = true;
    const Status s = part.scanElements();
    piece.needsState = part.needsState_;
    piece.failed = !part.needsState_ && (!s || part.stopped_ || sc.token() != XmlScanner::Token::EndDocument);
    piece.relative = part.relative_;
    piece.rowIndex = part.rowIndex_;
    piece.column = part.column_;
    piece.cells = part.cells_;
    piece.unordered = part.unordered_;
    piece.hasSharedIndex = part.hasSharedIndex_;
    piece.sharedIndex = part.sharedIndex_;
    piece.sharedFormulas = std::move(part.sharedFormulas_);
    piece.sharedUses = std::move(part.sharedUses_);
}

// On the calling thread, in order: the piece's rows appended as reading them here would have
// appended them. False when the piece had to be read here (or the part read again).
bool XlsxReader::SheetPart::appendPiece(RowPiece& piece) {
    if (piece.failed) {
        readAgain_ = true;
        return false;
    }
    std::vector<SheetRow>& rows = piece.sheet.rows;
    const int32_t shift = piece.relative ? rowIndex_ + 1 : 0;
    // Rows numbered past the grid, or a first row that goes on with the last row read: only
    // reading the rows with the state before them says what they give.
    if (piece.relative && int64_t(piece.rowIndex) + shift >= kMaxRows) piece.needsState = true;
    if (!rows.empty() && !sheet_.rows.empty() && sheet_.rows.back().index == rows.front().index + shift)
        piece.needsState = true;
    if (piece.needsState) {
        if (!readPieceHere(piece)) readAgain_ = true;
        return false;
    }

    // The limit on cells is passed exactly when counting them one by one would pass it.
    cells_ += piece.cells;
    const int64_t before = reader_.cells_.fetch_add(piece.cells, std::memory_order_relaxed);
    if (cells_ > kMaxWorkbookCells || before + piece.cells > kMaxWorkbookCells) {
        readAgain_ = true;
        return false;
    }
    // Shared formulas whose master came before the piece, from the masters known before it.
    for (const SharedUse& use : piece.sharedUses) {
        const auto master = sharedFormulas_.find(use.index);
        if (master == sharedFormulas_.end()) continue;
        std::string formula = shiftedFormula(master->second, use.cellRow, use.column);
        setFormula(rows[use.row].cells[use.cell], formula);
    }
    piece.sharedUses.clear();
    if (!rows.empty() && !sheet_.rows.empty()) {
        SheetRow& last = sheet_.rows.back();
        if (last.index > rows.front().index + shift) unordered_ = true;
        if (!stream_ && last.cells.capacity() > last.cells.size() + last.cells.size() / 2 + 4)
            last.cells.shrink_to_fit();
    }
    for (SheetRow& row : rows) {
        row.index += shift;
        // Streaming: the row before is complete and goes to the stream, as appendRow hands it.
        if (stream_ && !sheet_.rows.empty()) {
            handOver(sheet_.rows.back());
            if (streamRefused_) return true;
        }
        sheet_.rows.push_back(std::move(row));
    }
    if (!rows.empty()) lastRowCells_ = sheet_.rows.back().cells.size();
    rows.clear();
    unordered_ = unordered_ || piece.unordered;
    // A piece with no row at all leaves the row and column where they were.
    if (!piece.relative || piece.rowIndex >= 0) {
        rowIndex_ = piece.rowIndex + shift;
        column_ = piece.column;
    }
    for (auto& [index, master] : piece.sharedFormulas)
        sharedFormulas_[index] = std::move(master);
    piece.sharedFormulas.clear();
    if (piece.hasSharedIndex) sharedIndex_ = piece.sharedIndex;
    return true;
}

// The piece's rows read on the calling thread straight into the sheet, with the state the rows
// before left, as reading the part in one go reads them. False when they do not read.
bool XlsxReader::SheetPart::readPieceHere(const RowPiece& piece) {
    MemoryByteSource source{std::string_view(piece.bytes)};
    XmlScanner sc(source);
    XmlScanner* const partScanner = sc_;
    const Section section = section_;
    sc_ = &sc;
    section_ = Section::None;
    rereading_ = true;
    topLevels_ = 0;
    const Status s = scanElements();
    const bool read = s && !stopped_ && sc.token() == XmlScanner::Token::EndDocument;
    sc_ = partScanner;
    section_ = section;
    rereading_ = false;
    return read;
}

} // namespace quellar::xlsx::detail
