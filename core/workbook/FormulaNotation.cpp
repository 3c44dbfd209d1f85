#include "workbook/FormulaNotation.h"

#include "base/CellOps.h"
#include "workbook/Workbook.h"

#include <algorithm>

namespace quellar {

namespace {

enum class RefKind { Cell, Row, Column };

// One end of a reference, resolved to a 0-based position on the grid. A whole row has no
// column, a whole column no row.
struct RefPart {
    RefKind kind = RefKind::Cell;
    bool rowAbsolute = false;
    bool columnAbsolute = false;
    int32_t row = 0;
    int32_t column = 0;
};

bool samePlace(const RefPart& a, const RefPart& b) {
    return a.kind == b.kind && a.rowAbsolute == b.rowAbsolute && a.columnAbsolute == b.columnAbsolute &&
           a.row == b.row && a.column == b.column;
}

bool isAsciiLetter(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}

bool isAsciiDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

char16_t asciiUpper(QChar c) {
    const char16_t u = c.unicode();
    return u >= u'a' && u <= u'z' ? char16_t(u - 32) : u;
}

// Characters that continue a name, number or reference: Sheet1, _xlfn.SUM, $A$1, 1.5, Rate?.
bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'.' || c == u'$' || c == u'\\' || c == u'?';
}

qsizetype tokenEnd(QStringView f, qsizetype i) {
    while (i < f.size() && isNameChar(f[i]))
        ++i;
    return i;
}

// A name followed by one of these is a function, a sheet or a table, not a reference.
bool followedByCallOrSheet(QStringView f, qsizetype i) {
    return i < f.size() && (f[i] == u'(' || f[i] == u'!' || f[i] == u'[');
}

// The end of a piece that is copied as it stands wherever it starts at i: a string literal
// "..." or quoted sheet name '...' (a doubled quote stands for one), a bracketed part (a
// structured reference or an external workbook, nested brackets and '-escapes included) or
// an error value (#N/A, #REF!). -1 when none starts at i; the formula's end when one never
// closes.
qsizetype verbatimEnd(QStringView f, qsizetype i) {
    const qsizetype n = f.size();
    const QChar c = f[i];
    if (c == u'"' || c == u'\'') {
        qsizetype j = i + 1;
        while (j < n) {
            if (f[j] == c) {
                if (j + 1 < n && f[j + 1] == c) {
                    j += 2;
                    continue;
                }
                return j + 1;
            }
            ++j;
        }
        return n;
    }
    if (c == u'[') {
        int depth = 0;
        for (qsizetype j = i; j < n; ++j) {
            if (f[j] == u'\'') {
                ++j; // escapes the next character
            } else if (f[j] == u'[') {
                ++depth;
            } else if (f[j] == u']' && --depth == 0) {
                return j + 1;
            }
        }
        return n;
    }
    if (c == u'#' && i + 1 < n && isAsciiLetter(f[i + 1])) {
        qsizetype j = i + 1;
        while (j < n && (isAsciiLetter(f[j]) || isAsciiDigit(f[j]) || f[j] == u'/' || f[j] == u'_'))
            ++j;
        if (j < n && (f[j] == u'!' || f[j] == u'?')) ++j;
        return j;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// A1

// An A1 part that spans all of `t`: $A$1, b7, $C, XFD, 12, $3.
bool parseA1Part(QStringView t, RefPart& p) {
    const qsizetype n = t.size();
    qsizetype i = 0;
    bool firstDollar = false, secondDollar = false;
    if (i < n && t[i] == u'$') {
        firstDollar = true;
        ++i;
    }
    int64_t column = 0;
    const qsizetype letters = readColumnLetters(t.mid(i), column);
    i += letters;
    if (letters > 0 && i < n && t[i] == u'$') {
        secondDollar = true;
        ++i;
    }
    const qsizetype digitsStart = i;
    int64_t row = 0;
    while (i < n && isAsciiDigit(t[i]) && i - digitsStart < 8)
        row = row * 10 + (t[i++].unicode() - u'0');
    const qsizetype digits = i - digitsStart;
    if (i != n || (letters == 0 && digits == 0)) return false;
    if (digits > 0 && (t[digitsStart] == u'0' || row > kMaxRows)) return false;
    if (letters > 0 && column > kMaxColumns) return false;
    if (letters > 0 && digits > 0) {
        p.kind = RefKind::Cell;
        p.columnAbsolute = firstDollar;
        p.rowAbsolute = secondDollar;
    } else if (letters > 0) {
        if (secondDollar) return false; // "A$"
        p.kind = RefKind::Column;
        p.columnAbsolute = firstDollar;
        p.rowAbsolute = false;
    } else {
        p.kind = RefKind::Row;
        p.rowAbsolute = firstDollar;
        p.columnAbsolute = false;
    }
    p.row = int32_t(row - 1);
    p.column = int32_t(column - 1);
    return true;
}

void appendA1(QString& out, const RefPart& p) {
    if (p.kind != RefKind::Row) {
        if (p.columnAbsolute) out += u'$';
        out += columnLetters(p.column + 1);
    }
    if (p.kind != RefKind::Column) {
        if (p.rowAbsolute) out += u'$';
        out += QString::number(p.row + 1);
    }
}

// ---------------------------------------------------------------------------------------------
// R1C1

enum class Parsed { None, Ok, Bad };

// One letter's half of an R1C1 part at i: R, R5 or R[-1] (C likewise). `present` is false
// when the letter is not there; Bad for R0, R[x] and the like.
Parsed parseR1C1Half(QStringView f, qsizetype& i, char16_t letter, bool& present, bool& absolute,
                     int64_t& value) {
    const qsizetype n = f.size();
    present = false;
    absolute = false;
    value = 0;
    if (i >= n || asciiUpper(f[i]) != letter) return Parsed::Ok;
    present = true;
    qsizetype j = i + 1;
    const int64_t cap = int64_t(kMaxRows) * 10; // past every limit, without overflowing
    if (j < n && f[j] == u'[') {
        ++j;
        bool negative = false;
        if (j < n && (f[j] == u'-' || f[j] == u'+')) negative = f[j++] == u'-';
        const qsizetype digits = j;
        while (j < n && isAsciiDigit(f[j]))
            value = std::min(cap, value * 10 + (f[j++].unicode() - u'0'));
        if (j == digits || j >= n || f[j] != u']') return Parsed::Bad;
        ++j;
        if (negative) value = -value;
    } else if (j < n && isAsciiDigit(f[j])) {
        absolute = true;
        while (j < n && isAsciiDigit(f[j]))
            value = std::min(cap, value * 10 + (f[j++].unicode() - u'0'));
    }
    i = j;
    return Parsed::Ok;
}

// A position on one axis of `size`: absolute values are 1-based, relative ones are offsets
// from `base` that wrap around the grid. False when off the grid either way.
bool resolve(bool absolute, int64_t value, int32_t base, int32_t size, int32_t& out) {
    if (absolute) {
        if (value < 1 || value > size) return false;
        out = int32_t(value - 1);
        return true;
    }
    if (value <= -size || value >= size) return false;
    out = int32_t(((int64_t(base) + value) % size + size) % size);
    return true;
}

// An R1C1 part starting at i (R1C1, R[-1]C, RC[2], R, C3, R2, ...), relative to (row, column).
// None when the text there is not a reference (ROUND, Rate, RC2D), Bad when it is one that
// cannot be placed on the grid.
Parsed parseR1C1Part(QStringView f, qsizetype i, int32_t row, int32_t column, RefPart& p, qsizetype& end) {
    bool hasRow = false, hasColumn = false, rowAbsolute = false, columnAbsolute = false;
    int64_t rowValue = 0, columnValue = 0;
    qsizetype j = i;
    // R[ or C[ without a number and "]" is a broken reference: no name or table may be
    // called R or C.
    if (parseR1C1Half(f, j, u'R', hasRow, rowAbsolute, rowValue) == Parsed::Bad ||
        parseR1C1Half(f, j, u'C', hasColumn, columnAbsolute, columnValue) == Parsed::Bad)
        return Parsed::Bad;
    if (!hasRow && !hasColumn) return Parsed::None;
    // A reference ends where a name could not go on (ROUND, R2D2, a function RC(...)).
    if (j < f.size() && (isNameChar(f[j]) || followedByCallOrSheet(f, j))) return Parsed::None;
    p.kind = hasRow && hasColumn ? RefKind::Cell : hasRow ? RefKind::Row : RefKind::Column;
    p.rowAbsolute = rowAbsolute;
    p.columnAbsolute = columnAbsolute;
    p.row = 0;
    p.column = 0;
    if (hasRow && !resolve(rowAbsolute, rowValue, row, kMaxRows, p.row)) return Parsed::Bad;
    if (hasColumn && !resolve(columnAbsolute, columnValue, column, kMaxColumns, p.column)) return Parsed::Bad;
    end = j;
    return Parsed::Ok;
}

void appendR1C1(QString& out, const RefPart& p, int32_t row, int32_t column) {
    auto half = [&](char16_t letter, bool absolute, int32_t value, int32_t base) {
        out += QChar(letter);
        if (absolute) {
            out += QString::number(value + 1);
        } else if (value != base) {
            out += u'[';
            out += QString::number(int64_t(value) - base);
            out += u']';
        }
    };
    if (p.kind != RefKind::Column) half(u'R', p.rowAbsolute, p.row, row);
    if (p.kind != RefKind::Row) half(u'C', p.columnAbsolute, p.column, column);
}

// Copies what stands at `i` when it can hold no reference (a run verbatimEnd keeps as it is,
// or a character that starts no name) and moves past it; false, copying nothing, when a name
// starts at `i`. Both notations' translations leave these parts alone.
bool copyNonName(QStringView f, qsizetype& i, QString& out) {
    const qsizetype verbatim = verbatimEnd(f, i);
    if (verbatim >= 0) {
        out += f.mid(i, verbatim - i);
        i = verbatim;
        return true;
    }
    if (isNameChar(f[i])) return false;
    out += f[i++];
    return true;
}

} // namespace

QString r1c1ToA1(QStringView f, int32_t row, int32_t column) {
    QString out;
    out.reserve(f.size() + 8);
    const qsizetype n = f.size();
    qsizetype i = 0;
    while (i < n) {
        if (copyNonName(f, i, out)) continue;
        const QChar c = f[i];
        if (asciiUpper(c) == u'R' || asciiUpper(c) == u'C') {
            RefPart a;
            qsizetype end = i;
            const Parsed first = parseR1C1Part(f, i, row, column, a, end);
            if (first == Parsed::Bad) return f.toString();
            if (first == Parsed::Ok) {
                RefPart b;
                qsizetype secondEnd = end;
                Parsed second = Parsed::None;
                if (end + 1 < n && f[end] == u':')
                    second = parseR1C1Part(f, end + 1, row, column, b, secondEnd);
                if (second == Parsed::Bad || (second == Parsed::Ok && b.kind != a.kind))
                    return f.toString(); // R1:C1, R1C1:R2 and the like are not references
                appendA1(out, a);
                if (second == Parsed::Ok) {
                    out += u':';
                    appendA1(out, b);
                    end = secondEnd;
                } else if (a.kind != RefKind::Cell) {
                    out += u':'; // a whole row or column alone is a range in A1: 5:5, B:B
                    appendA1(out, a);
                }
                i = end;
                continue;
            }
        }
        const qsizetype j = tokenEnd(f, i);
        out += f.mid(i, j - i);
        i = j;
    }
    return out;
}

QString a1ToR1C1(QStringView f, int32_t row, int32_t column) {
    QString out;
    out.reserve(f.size() + 16);
    const qsizetype n = f.size();
    qsizetype i = 0;
    while (i < n) {
        if (copyNonName(f, i, out)) continue;
        const qsizetype j = tokenEnd(f, i);
        RefPart a;
        if (!followedByCallOrSheet(f, j) && parseA1Part(f.mid(i, j - i), a)) {
            if (a.kind == RefKind::Cell) {
                appendR1C1(out, a, row, column);
                i = j;
                continue;
            }
            // A column or row number alone is a name or a number; only a pair is a range.
            const qsizetype k = j < n && f[j] == u':' ? tokenEnd(f, j + 1) : j;
            RefPart b;
            if (k > j + 1 && !followedByCallOrSheet(f, k) && parseA1Part(f.mid(j + 1, k - j - 1), b) &&
                b.kind == a.kind) {
                appendR1C1(out, a, row, column);
                if (!samePlace(a, b)) {
                    out += u':';
                    appendR1C1(out, b, row, column);
                }
                i = k;
                continue;
            }
        }
        out += f.mid(i, j - i);
        i = j;
    }
    return out;
}

} // namespace quellar
