#pragma once
// CellValue: a typed cell value as a workbook holds it (the "variant" the grid hands
// over). variantToText turns it into the text every operation works with.

#include "base/SharedText.h"

#include <cstdint>

namespace quellar {

struct CellValue {
    enum class Type : uint8_t { Empty, Number, String, Boolean, DateTime, Error };

    Type type = Type::Empty;
    double number = 0; // Number; Boolean (1 or 0); DateTime as a day serial of the 1900 system
    SharedText text;   // String; Error (its text, such as #N/A)

    static CellValue fromNumber(double v) { return {Type::Number, v, {}}; }
    static CellValue fromString(SharedText s) { return {Type::String, 0, std::move(s)}; }
    static CellValue fromBoolean(bool b) { return {Type::Boolean, b ? 1.0 : 0.0, {}}; }
    static CellValue fromDateTime(double serial) { return {Type::DateTime, serial, {}}; }
    static CellValue fromError(SharedText s) { return {Type::Error, 0, std::move(s)}; }

    bool isEmpty() const { return type == Type::Empty; }
};

} // namespace quellar
