#pragma once
// PackedCells: the cells of a workbook kept compactly while nothing shows or reads them, and
// given back unchanged. The result pane keeps its last result so while the next one is built,
// since a cancel or a failure shows it again: as cells a million-row comparison result takes
// about half a gigabyte, packed about a fifth of that, and the new result is built in the
// memory given back.
//
// Only the cells move: the rows (index, height, hidden), merges, column widths and everything
// else of the workbook stay where they are, so each sheet keeps its rows' storage. A row is
// its sheet, its position among the sheet's rows and its cells. A cell is
// a tag byte, its column and style only when they do not follow from the cell before, and its
// value: a number with at most four decimals as a variable-length integer (and its scale),
// another number as its eight bytes; a stored text as the distance from the last one in its
// column (a table's texts lie side by side in the text arena), a short text (kept in its own
// eight bytes) as one of its column's last few or as those eight bytes. Texts are not copied:
// the packed form holds their references and hands them back.

#include "workbook/Workbook.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quellar {

class PackedCells {
public:
    PackedCells() = default;
    PackedCells(PackedCells&& other) noexcept;
    PackedCells& operator=(PackedCells&& other) noexcept;
    PackedCells(const PackedCells&) = delete;
    PackedCells& operator=(const PackedCells&) = delete;
    ~PackedCells() { clear(); }

    // Moves the cells of every row of every sheet of `book` into the packed form, leaving the
    // rows without cells (and without their storage). An allocation failure (thrown) leaves the
    // rows not yet packed as they were; unpack gives back those that were.
    void pack(Workbook& book);
    // The same for one row, row `position` of sheet `sheet` (its index) of the workbook that
    // unpack gets.
    void packRow(size_t sheet, size_t position, SheetRow& row);
    // Gives the cells back to the rows of `book` they came from (the workbook packed, its
    // rows not changed since) and leaves this empty. An allocation failure (thrown) leaves the
    // rows given back so far; clear() then drops the rest.
    void unpack(Workbook& book);
    // Drops the cells still held, and their texts' references with them.
    void clear() noexcept;

    bool empty() const noexcept { return rows_ == rowsRead_; }
    // Rows packed and not yet given back.
    size_t rows() const noexcept { return rows_ - rowsRead_; }
    // The memory held.
    size_t bytes() const noexcept;

private:
    struct Block {
        std::unique_ptr<uint8_t[]> data;
        size_t size = 0;
        size_t used = 0;
    };
    // What the cells before leave for the next, alike when packing and unpacking: by column
    // (modulo kSlots) the last stored text's address, and the last few short texts (stored
    // in their own eight bytes) most recent first.
    static constexpr size_t kSlots = 32;
    static constexpr size_t kShortTexts = 4;
    struct Recent {
        uint64_t stored[kSlots] = {};
        uint64_t shortTexts[kSlots][kShortTexts] = {};
    };
    // Where a packed row's cells start, and what the cells before them left.
    struct Cursor {
        size_t block = 0;
        size_t at = 0;
        Recent recent;
    };
    uint8_t* room(size_t bytes);
    // Decodes the row at `cursor`: begin(sheet, position, cell count), then each cell into
    // slot(), a cell whose earlier value and formula it may drop.
    template <typename Begin, typename Slot> void readRow(Cursor& cursor, Begin begin, Slot slot);

    std::vector<Block> blocks_;
    Recent written_; // packing
    size_t rows_ = 0;
    Cursor read_;
    size_t rowsRead_ = 0;
};

} // namespace quellar
