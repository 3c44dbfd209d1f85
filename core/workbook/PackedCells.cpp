#include "workbook/PackedCells.h"

#include "base/TextIO.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace quellar {

namespace {

// Blocks are taken whole from the heap; a row never spans two.
constexpr size_t kBlockBytes = size_t(1) << 20;
// The most a cell takes: tag, column (3), style (5), value (11), formula (8); a row adds its
// sheet, position and cell count (10 each at most).
constexpr size_t kMostCellBytes = 1 + 3 + 5 + 11 + 8;

// The tag byte: the value's type in the low three bits, then what follows.
constexpr uint8_t kTypeMask = 0x07;
constexpr uint8_t kNextColumn = 0x08;  // the column after the cell before (the first: column 0)
constexpr uint8_t kSameStyle = 0x10;   // the style of the cell before (the first: style 0)
constexpr uint8_t kFormula = 0x20;     // a formula's eight bytes follow the value
constexpr uint8_t kWholeNumber = 0x40; // the number is a variable-length integer, else 8 bytes
constexpr uint8_t kDecimal = 0x80;     // the number is an integer over 10^k: k, then the integer

static_assert(int(CellValue::Type::Error) <= kTypeMask);

void putVarint(uint8_t*& out, uint64_t v) {
    while (v >= 0x80) {
        *out++ = uint8_t(v) | 0x80;
        v >>= 7;
    }
    *out++ = uint8_t(v);
}

uint64_t getVarint(const uint8_t*& in) {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
        const uint8_t b = *in++;
        v |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return v;
    }
}

uint64_t zigzag(int64_t v) {
    return (uint64_t(v) << 1) ^ uint64_t(v >> 63);
}

int64_t unzigzag(uint64_t v) {
    return int64_t(v >> 1) ^ -int64_t(v & 1);
}

void putRaw(uint8_t*& out, uint64_t bits) {
    std::memcpy(out, &bits, 8);
    out += 8;
}

uint64_t getRaw(const uint8_t*& in) {
    uint64_t bits;
    std::memcpy(&bits, in, 8);
    in += 8;
    return bits;
}

// A number kept as m / 10^k when that gives it back bit for bit; NaN, infinities, -0 (which
// must stay -0) and other numbers keep their eight bytes.
bool isDecimal(double n, int64_t& m, int& k) {
    return !(n == 0 && std::signbit(n)) && decimalParts(n, m, k);
}

// A text's first varint: the empty text, one of its column's recent short texts, a short
// text's eight bytes following, or (from kStoredText on) a stored text's distance.
constexpr uint64_t kEmptyText = 0;
constexpr uint64_t kRecentShort = 1; // + its place among the recent ones
constexpr uint64_t kNewShort = kRecentShort + 4;
constexpr uint64_t kStoredText = kNewShort + 1;

// Moves `bits` to the front of a column's recent short texts (from `from`, its place, or the end).
void bringToFront(uint64_t* recent, size_t count, size_t from, uint64_t bits) {
    for (size_t i = std::min(from, count - 1); i > 0; --i)
        recent[i] = recent[i - 1];
    recent[0] = bits;
}

bool holdsText(CellValue::Type type) {
    return type == CellValue::Type::String || type == CellValue::Type::Error;
}

CellValue numberValue(CellValue::Type type, double n) {
    switch (type) {
    case CellValue::Type::Number:
        return CellValue::fromNumber(n);
    case CellValue::Type::Boolean:
        return CellValue::fromBoolean(n != 0);
    case CellValue::Type::DateTime:
        return CellValue::fromDateTime(n);
    default:
        return {};
    }
}

} // namespace

PackedCells::PackedCells(PackedCells&& other) noexcept
    : blocks_(std::move(other.blocks_))
    , written_(std::exchange(other.written_, Recent{}))
    , rows_(std::exchange(other.rows_, 0))
    , read_(std::exchange(other.read_, Cursor{}))
    , rowsRead_(std::exchange(other.rowsRead_, 0)) {
    other.blocks_.clear();
}

PackedCells& PackedCells::operator=(PackedCells&& other) noexcept {
    if (this != &other) {
        clear();
        blocks_ = std::move(other.blocks_);
        other.blocks_.clear();
        written_ = std::exchange(other.written_, Recent{});
        rows_ = std::exchange(other.rows_, 0);
        read_ = std::exchange(other.read_, Cursor{});
        rowsRead_ = std::exchange(other.rowsRead_, 0);
    }
    return *this;
}

size_t PackedCells::bytes() const noexcept {
    size_t total = blocks_.capacity() * sizeof(Block);
    for (const Block& block : blocks_)
        total += block.size;
    return total;
}

uint8_t* PackedCells::room(size_t bytes) {
    if (blocks_.empty() || blocks_.back().size - blocks_.back().used < bytes) {
        Block block;
        block.size = std::max(bytes, kBlockBytes);
        block.data = std::make_unique_for_overwrite<uint8_t[]>(block.size);
        blocks_.push_back(std::move(block));
    }
    return blocks_.back().data.get() + blocks_.back().used;
}

void PackedCells::pack(Workbook& book) {
    for (size_t s = 0; s < book.sheets.size(); ++s) {
        std::vector<SheetRow>& rows = book.sheets[s].rows;
        for (size_t r = 0; r < rows.size(); ++r)
            packRow(s, r, rows[r]);
    }
}

void PackedCells::packRow(size_t sheet, size_t position, SheetRow& row) {
    // The room is taken before the row is touched: nothing below allocates.
    uint8_t* const start = room(30 + row.cells.size() * kMostCellBytes);
    uint8_t* out = start;
    putVarint(out, sheet);
    putVarint(out, position);
    putVarint(out, row.cells.size());
    int64_t column = -1;
    uint32_t style = 0;
    for (Cell& cell : row.cells) {
        uint8_t& tag = *out++;
        const CellValue::Type type = cell.value.type();
        tag = uint8_t(type);
        if (int64_t(cell.column) == column + 1)
            tag |= kNextColumn;
        else
            putVarint(out, cell.column);
        column = cell.column;
        if (cell.style == style)
            tag |= kSameStyle;
        else
            putVarint(out, cell.style);
        style = cell.style;
        if (holdsText(type)) {
            const uint64_t bits = cell.value.takeText().disown();
            const size_t slot = cell.column % kSlots;
            if (bits == 0) {
                putVarint(out, kEmptyText);
            } else if (bits & 1) { // a short text in its own eight bytes
                uint64_t* recent = written_.shortTexts[slot];
                const size_t at = size_t(std::find(recent, recent + kShortTexts, bits) - recent);
                if (at < kShortTexts) {
                    putVarint(out, kRecentShort + at);
                } else {
                    putVarint(out, kNewShort);
                    putRaw(out, bits);
                }
                bringToFront(recent, kShortTexts, at, bits);
            } else {
                putVarint(out, kStoredText + zigzag(int64_t(bits - written_.stored[slot])));
                written_.stored[slot] = bits;
            }
        } else if (type == CellValue::Type::Empty) {
            putVarint(out, cell.value.placeholder());
        } else {
            int64_t m = 0;
            int k = 0;
            if (isDecimal(cell.value.number(), m, k)) {
                if (k == 0) {
                    tag |= kWholeNumber;
                } else {
                    tag |= kDecimal;
                    *out++ = uint8_t(k);
                }
                putVarint(out, zigzag(m));
            } else {
                uint64_t bits;
                const double n = cell.value.number();
                std::memcpy(&bits, &n, 8);
                putRaw(out, bits);
            }
        }
        if (!cell.formula.isEmpty()) {
            tag |= kFormula;
            putRaw(out, cell.formula.disown());
        }
    }
    blocks_.back().used += size_t(out - start);
    ++rows_;
    std::vector<Cell>().swap(row.cells);
}

template <typename Begin, typename Slot> void PackedCells::readRow(Cursor& cursor, Begin begin, Slot slot) {
    // A row starts in the next block when the one before had no room left for it.
    while (cursor.at >= blocks_[cursor.block].used) {
        ++cursor.block;
        cursor.at = 0;
    }
    const uint8_t* in = blocks_[cursor.block].data.get() + cursor.at;
    const size_t sheet = size_t(getVarint(in));
    const size_t position = size_t(getVarint(in));
    const uint64_t count = getVarint(in);
    begin(sheet, position, size_t(count)); // may throw: nothing is taken over yet
    int64_t column = -1;
    uint32_t style = 0;
    for (uint64_t k = 0; k < count; ++k) {
        const uint8_t tag = *in++;
        const auto type = CellValue::Type(tag & kTypeMask);
        column = (tag & kNextColumn) ? column + 1 : int64_t(getVarint(in));
        if (!(tag & kSameStyle)) style = uint32_t(getVarint(in));
        Cell& cell = slot();
        cell.column = uint16_t(column);
        cell.style = style;
        if (holdsText(type)) {
            const size_t slot = size_t(column) % kSlots;
            const uint64_t head = getVarint(in);
            uint64_t bits = 0;
            if (head >= kStoredText) {
                bits = cursor.recent.stored[slot] += uint64_t(unzigzag(head - kStoredText));
            } else if (head != kEmptyText) {
                uint64_t* recent = cursor.recent.shortTexts[slot];
                const size_t at = head == kNewShort ? kShortTexts : size_t(head - kRecentShort);
                bits = at < kShortTexts ? recent[at] : getRaw(in);
                bringToFront(recent, kShortTexts, at, bits);
            }
            SharedText text = SharedText::adopt(bits);
            cell.value = type == CellValue::Type::String ? CellValue::fromString(std::move(text))
                                                         : CellValue::fromError(std::move(text));
        } else if (type == CellValue::Type::Empty) {
            cell.value = CellValue::fromPlaceholder(getVarint(in));
        } else if (tag & kWholeNumber) {
            cell.value = numberValue(type, double(unzigzag(getVarint(in))));
        } else if (tag & kDecimal) {
            const int k = *in++;
            cell.value = numberValue(type, double(unzigzag(getVarint(in))) / kDecimalScales[k]);
        } else {
            const uint64_t bits = getRaw(in);
            double n;
            std::memcpy(&n, &bits, 8);
            cell.value = numberValue(type, n);
        }
        cell.formula = (tag & kFormula) ? SharedText::adopt(getRaw(in)) : SharedText();
    }
    cursor.at = size_t(in - blocks_[cursor.block].data.get());
}

void PackedCells::unpack(Workbook& book) {
    while (!empty()) {
        std::vector<Cell> cells;
        SheetRow* target = nullptr;
        readRow(
            read_,
            [&](size_t sheet, size_t position, size_t count) {
                if (sheet < book.sheets.size() && position < book.sheets[sheet].rows.size())
                    target = &book.sheets[sheet].rows[position];
                cells.reserve(count);
            },
            [&]() -> Cell& { return cells.emplace_back(); });
        ++rowsRead_;
        // A row no longer there (not the workbook packed) drops its cells.
        if (target) target->cells = std::move(cells);
    }
    clear();
}

void PackedCells::clear() noexcept {
    // The texts still held are adopted and dropped, each when the next takes its place.
    Cell scratch;
    while (!empty()) {
        readRow(
            read_, [](size_t, size_t, size_t) {}, [&]() -> Cell& { return scratch; });
        ++rowsRead_;
    }
    blocks_.clear();
    blocks_.shrink_to_fit();
    written_ = Recent{};
    rows_ = 0;
    read_ = Cursor{};
    rowsRead_ = 0;
}

} // namespace quellar
