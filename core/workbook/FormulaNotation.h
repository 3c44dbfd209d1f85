#pragma once
// Formula texts between the two reference notations Excel knows: A1 (=SUM(A1:B2), what the
// workbook model holds and what Excel's formula bar shows by default) and R1C1
// (=SUM(R[-2]C:R[-1]C), what XML Spreadsheet 2003 files store in ss:Formula). R1C1
// references are relative to the cell that holds the formula, so both conversions take that
// cell's position (0-based row and column).
//
// Both are pure text functions. They rewrite cell references (relative, absolute and mixed),
// ranges, whole rows (A1 1:3, R1C1 R1:R3) and whole columns (A:C, C1:C3), including those
// after a sheet name ('Sheet 1'!R1C1) or inside an external-workbook prefix; everything
// else (string literals "...", quoted sheet names, function names, defined names, numbers,
// error values, structured references Table1[...]) is copied unchanged. A formula whose
// R1C1 references cannot be turned into A1 (R0C1, an offset past the grid) comes back as
// written; neither function fails.

#include <QString>
#include <QStringView>

#include <cstdint>

namespace quellar {

// "=R[-1]C*2" at (row 1, column 1) -> "=B1*2". Relative references that run off an edge of the
// grid wrap around it, as Excel reads them (R[-1]C in row 1 is row 1048576).
QString r1c1ToA1(QStringView formula, int32_t row, int32_t column);

// "=B1*2" at (row 1, column 1) -> "=R[-1]C*2". A whole column or row range whose two ends are
// the same is written as one part (A:A in column B is C[-1]), as Excel writes it.
QString a1ToR1C1(QStringView formula, int32_t row, int32_t column);

} // namespace quellar
