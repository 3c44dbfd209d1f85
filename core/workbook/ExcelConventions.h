#pragma once
// Units and number formats that every Excel file format shares.

#include <QString>

#include <cstdint>

namespace quellar {

// The most cells a workbook read from a file may hold (about 2 GB in the model); more is
// refused rather than exhausting memory.
constexpr int64_t kMaxWorkbookCells = int64_t(50) << 20;

// Column widths go through whole pixels, as Excel draws them. characterWidthToPoints takes
// the width as a file stores it (padding included, 9.140625 for the default column);
// pointsToCharacterWidth gives the width as Excel shows it and libxlsxwriter takes it (8.43).
double characterWidthToPoints(double characters);
double pointsToCharacterWidth(double points);

// The format code of a built-in number format id (as a Chinese Excel shows it), empty for
// General and for unknown ids.
QString builtinNumberFormat(int id);
// True when a built-in id is a date or time format.
bool isBuiltinDateFormat(int id);
// The number format of a cell style's format id: `custom`, the file's own code for the id,
// when there is one ("General" in any case is empty), else the built-in code; `isDate` says
// whether it shows a date or time. The xlsx and xls readers both resolve formats this way.
void resolveNumberFormat(int id, const QString* custom, QString& code, bool& isDate);

} // namespace quellar
