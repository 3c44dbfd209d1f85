#pragma once
// The .xls writer: the workbook model as a BIFF8 workbook stream ([MS-XLS]) in a compound
// file ([MS-CFB]), as Excel 97–2003 saves it.
//
// Every sheet in order with its name and visibility; values with their types (numbers as RK
// or NUMBER, texts through the shared-string table split over CONTINUE records, booleans and
// errors as BOOLERR, date-times as numbers under their date format, or under the program's
// date format when their style has none); fonts, palette fills (the 56-colour palette: the
// model keeps the nearest index), alignment and wrapping; number formats (built-in ids where
// they are the same code, FORMAT records otherwise); merged areas; column widths; row heights
// and hidden rows; page setup, margins, fit to page, print titles and manual row breaks; the
// active sheet and protection flags. Formula cells are written with their cached values (the
// formula texts are not compiled into BIFF tokens).
//
// A sheet whose cells or merged areas reach beyond 65,536 rows or 256 columns, or a text longer
// than 32,767 characters, is refused before anything is written, with a message naming the
// limit and suggesting .xlsx; the file is built beside the target and renamed into place only
// when complete, so a refusal or failure keeps any earlier file.

#include "base/Status.h"
#include "workbook/Workbook.h"

#include <QString>

#include <string>

namespace quellar::biff {

// Why the workbook cannot be an .xls file, or ok.
Status checkXlsLimits(const Workbook& book);

// The workbook stream, as pieces to be written in order (the globals first).
Status buildWorkbookStream(const Workbook& book, std::string& globals, std::string& sheets);

// Writes `book` as an .xls file at `path`.
Status writeWorkbookFile(const Workbook& book, const QString& path);

} // namespace quellar::biff
