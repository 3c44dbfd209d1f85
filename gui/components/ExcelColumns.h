#pragma once
// Excel's arithmetic of column widths. A workbook gives a column's width in characters: the
// width of that many of the widest digit ("maximum digit width", MDW) of the workbook's
// default font, plus 5 pixels of margin and grid line, in 1/256 steps. Excel turns it into
// whole pixels, and the grid does the same so that a column holds what it holds in Excel:
// at Calibri 11 (MDW 7) the default 8.43 characters are 64 pixels.

#include <QFont>

namespace quellar {

// The widest advance of the digits 0-9 in `font` (its letter spacing aside), in whole
// pixels at 96 pixels per inch: Excel's maximum digit width. 7 for Calibri 11 (Carlito).
int maxDigitWidth(const QFont& font);

// `font` as the grid draws it: Excel lays text out with whole-pixel glyph advances, so a
// digit of Calibri 11 takes 7 pixels where the outline font drawn here takes 7.6. The grid
// font is spaced so that its widest digit takes exactly the maximum digit width; a column
// then holds as many digits as it does in Excel.
QFont excelGridFont(QFont font);

// The pixels of a column whose width a file stores as `width` (padding included, 9.140625
// for 8.43 characters at MDW 7): trunc(((256 * width + trunc(128 / mdw)) / 256) * mdw).
int fileWidthToPixels(double width, int mdw);

// The width a file stores for a column showing `characters` digits (8.43 -> 9.140625 at
// MDW 7): trunc((characters * mdw + 5) / mdw * 256) / 256.
double charactersToFileWidth(double characters, int mdw);

// The pixels of a column `characters` digits wide, as Excel shows it.
int charactersToPixels(double characters, int mdw);

class Workbook;
// Column widths of a workbook read from a file that gives them in characters (xlsx) were
// turned into pixels with Calibri's digit width (7); this turns them into the pixels of a
// default font whose maximum digit width is `mdw`, by the rule above. The standard default
// width (8 characters) becomes Excel's: 8 digits and 5 pixels, rounded up to a multiple of 8.
void rescaleCharacterWidths(Workbook& book, int mdw);

// The maximum digit width of the workbook's default font (its stand-in, as the grid draws it).
int defaultDigitWidth(const Workbook& book);

} // namespace quellar
