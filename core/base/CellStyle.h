#pragma once
// CellStyle and StylePool: the rarely varying attributes of a cell read from a sheet
// (number format, font name and size, colour value), interned once per distinct
// combination so that a cell carries only a 32-bit style id. A million-row table
// shares a handful of styles instead of holding ten million copies of "宋体".
//
// The pool is process-wide and only grows; ids stay valid for the life of the process.
// Interning takes a lock; looking a style up by id is lock-free.

#include "base/SharedText.h"

#include <cstdint>

namespace quellar {

struct CellStyle {
    SharedText numberFormat;
    SharedText fontName;
    int32_t fontSize = 0;
    int32_t colorValue = 0;

    friend bool operator==(const CellStyle&, const CellStyle&) = default;
};

class StylePool {
public:
    // Id 0 is always the default style: empty strings and zero numbers.
    static uint32_t intern(const CellStyle& style);
    static const CellStyle& get(uint32_t id) noexcept;
};

} // namespace quellar
