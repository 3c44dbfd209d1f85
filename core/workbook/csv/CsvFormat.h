#pragma once
// CSV (".csv"): comma-separated values as RFC 4180 writes them.
//
// Reading: UTF-8 with or without a byte-order mark (a file that is not valid UTF-8 is read
// as GB18030, the encoding Chinese Windows saves CSV in; UTF-16 with a byte-order mark is
// accepted too); quoted fields may hold commas, doubled quotes and line breaks; lines end in
// CR LF, LF or CR. The workbook gets one sheet named after the file. A field becomes a
// number cell only by typedTextToNumber (so "007" and "1,234" stay texts); every other
// non-empty field is a text cell. An unclosed quote or more rows or columns than a sheet
// holds ends the read with a Status naming the file and line.
//
// Writing: the active sheet (the first when none is active) from A1 to the end of its used
// range, each cell as variantToText gives it except numbers, which are written in their
// shortest form (100001, 50.78) as spreadsheets export them; quoted where needed, lines
// ending in CR LF, UTF-8 with a byte-order mark so that spreadsheet programs read Chinese
// text correctly.

#include "base/RowTable.h"
#include "workbook/WorkbookFormat.h"

namespace quellar {

class CsvFormat final : public WorkbookFormat {
public:
    FileKind kind() const override { return FileKind::Csv; }
    // Any file that does not look binary.
    bool recognizes(const QByteArray& head) const override;
    Status read(const QString& path, Workbook& workbook) const override;
    Status write(const Workbook& workbook, const QString& path) const override;

    // Writes a table's texts (cells inside a merged area empty), every line as wide as the
    // widest row, in the same encoding and quoting as write(). Texts that are numbers by
    // typedTextToNumber (8500.000000) are written in their shortest form (8500); every
    // other text exactly as it stands.
    static Status writeTable(const RowTable& table, const QString& path);
    // Parses CSV bytes into a one-sheet workbook; messages carry no file name.
    static Status parse(QByteArray data, const QString& sheetName, Workbook& workbook);

    // One field as written: quoted when it holds a comma, a quote or a line break.
    static void appendField(std::string& out, QStringView text);
    // One cell text as writeTable writes it: the number form, then appendField.
    static void appendCell(std::string& out, QStringView text);
};

// A sheet name Excel accepts made from any text (a file's base name): the characters
// []:*?/\ become "_", at most 31 characters, "Sheet1" when nothing is left.
QString sheetNameFromText(const QString& text);

} // namespace quellar
