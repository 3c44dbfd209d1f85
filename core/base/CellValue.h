#pragma once
// CellValue: a typed cell value as a workbook holds it (the "variant" the grid hands
// over). variantToText turns it into the text every operation works with.
//
// A value is a number or a text, never both, so the two share eight bytes: a million-row
// sheet holds tens of millions of these. number() of a text value is 0 and text() of a
// number is the empty text, as a reader of either kind expects.

#include "base/SharedText.h"

#include <cstdint>
#include <new>
#include <utility>

namespace quellar {

class CellValue {
public:
    enum class Type : uint8_t { Empty, Number, String, Boolean, DateTime, Error };

    CellValue() noexcept
        : number_(0) {}
    CellValue(const CellValue& other) noexcept
        : type_(other.type_) {
        if (other.holdsText())
            new (&text_) SharedText(other.text_);
        else
            number_ = other.number_;
    }
    CellValue(CellValue&& other) noexcept
        : type_(other.type_) {
        if (other.holdsText())
            new (&text_) SharedText(std::move(other.text_));
        else
            number_ = other.number_;
    }
    CellValue& operator=(const CellValue& other) noexcept {
        if (this != &other) {
            CellValue copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    CellValue& operator=(CellValue&& other) noexcept {
        if (this != &other) {
            clear();
            type_ = other.type_;
            if (other.holdsText())
                new (&text_) SharedText(std::move(other.text_));
            else
                number_ = other.number_;
        }
        return *this;
    }
    ~CellValue() { clear(); }

    static CellValue fromNumber(double v) noexcept { return CellValue(Type::Number, v); }
    static CellValue fromString(SharedText s) noexcept { return CellValue(Type::String, std::move(s)); }
    static CellValue fromBoolean(bool b) noexcept { return CellValue(Type::Boolean, b ? 1.0 : 0.0); }
    static CellValue fromDateTime(double serial) noexcept { return CellValue(Type::DateTime, serial); }
    static CellValue fromError(SharedText s) noexcept { return CellValue(Type::Error, std::move(s)); }

    // An empty value that carries a number for the reader making it, such as a shared-string
    // index met before the string table is read; placeholder() is 0 for every other value.
    static CellValue fromPlaceholder(uint64_t mark) noexcept { return CellValue(Type::Empty, double(mark)); }
    uint64_t placeholder() const noexcept { return type_ == Type::Empty ? uint64_t(number_) : 0; }

    Type type() const noexcept { return type_; }
    bool isEmpty() const noexcept { return type_ == Type::Empty; }
    // Number; Boolean (1 or 0); DateTime as a day serial of the 1900 system; else 0.
    double number() const noexcept { return holdsText() || type_ == Type::Empty ? 0 : number_; }
    // String; Error (its text, such as #N/A); else the empty text.
    const SharedText& text() const noexcept { return holdsText() ? text_ : kEmptyText; }
    // The text of a String or Error value moved out, leaving the value empty; the empty text
    // for any other value, which is left as it is.
    SharedText takeText() noexcept {
        if (!holdsText()) return {};
        SharedText taken = std::move(text_);
        clear();
        return taken;
    }

private:
    CellValue(Type type, double number) noexcept
        : number_(number)
        , type_(type) {}
    CellValue(Type type, SharedText text) noexcept
        : text_(std::move(text))
        , type_(type) {}

    bool holdsText() const noexcept { return type_ == Type::String || type_ == Type::Error; }
    void clear() noexcept {
        if (holdsText()) text_.~SharedText();
        type_ = Type::Empty;
        number_ = 0;
    }
    static inline const SharedText kEmptyText{};

    union {
        double number_;
        SharedText text_;
    };
    Type type_ = Type::Empty;
};

static_assert(sizeof(CellValue) == 16, "a cell value is a number or a text and its type");

} // namespace quellar
