#pragma once
// The staff list of numbers at their edges that the number tests send through every path:
// round amounts 10^5 to 10^15, 15 and 16 significant digits, 2^53 + 1, 0.1 + 0.2, 1e-7, -0,
// negative round amounts; percentages, currency, dates, times, durations, booleans and
// errors; texts that look like numbers. Columns: 编号 (n01, n02, …), 金额 (the numbers),
// 格式 (formatted values), 文字 (texts), 组 (A on every row, for filters).

#include "base/CellOps.h"
#include "workbook/Workbook.h"

#include <QString>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <vector>

namespace quellar::test {

inline const std::vector<double>& edgeAmounts() {
    static const std::vector<double> amounts{1e5,
                                             1e6,
                                             1e7,
                                             1e8,
                                             1e9,
                                             1e10,
                                             1e11,
                                             1e12,
                                             1e13,
                                             1e14,
                                             1e15,
                                             -1e7,
                                             -30000000,
                                             123456789012345.0,  // 15 significant digits
                                             999999999999999.0,  // the largest with 15
                                             1234567890123456.0, // 16
                                             9007199254740993.0, // 2^53 + 1, stored as 2^53
                                             0.1 + 0.2,          // 0.30000000000000004
                                             1e-7,
                                             -0.0,
                                             0.00001,
                                             16172835,
                                             100416,
                                             0.5};
    return amounts;
}

// A formatted value of column 格式: its value and its number format.
struct EdgeFormatted {
    CellValue value;
    const char16_t* format;
};

inline std::vector<EdgeFormatted> edgeFormatted() {
    return {{CellValue::fromNumber(0.15), u"0.00%"},
            {CellValue::fromNumber(-0.075), u"0%"},
            {CellValue::fromNumber(1234.5), u"\"¥\"#,##0.00"},
            {CellValue::fromNumber(-2500), u"#,##0.00;[Red]-#,##0.00"},
            {CellValue::fromDateTime(46363), u"yyyy/m/d"},
            {CellValue::fromDateTime(46363.378553240741), u"yyyy/m/d h:mm:ss"},
            {CellValue::fromDateTime(1.5), u"[h]:mm:ss"},
            {CellValue::fromBoolean(true), u""},
            {CellValue::fromBoolean(false), u""},
            {CellValue::fromError(SharedText(QStringLiteral("#N/A"))), u""},
            {CellValue::fromError(SharedText(QStringLiteral("#DIV/0!"))), u""}};
}

inline const QStringList& edgeTexts() {
    static const QStringList texts{QStringLiteral("１２３"),
                                   QStringLiteral("007"),
                                   QStringLiteral("1e5"),
                                   QStringLiteral("1,234"),
                                   QStringLiteral("12a"),
                                   QStringLiteral("0.1"),
                                   QStringLiteral("-0"),
                                   QStringLiteral("1E+07"),
                                   QStringLiteral("00123"),
                                   QStringLiteral("３．５"),
                                   QStringLiteral("12345678901234567890")};
    return texts;
}

inline QString edgeId(size_t i) {
    return QStringLiteral("n%1").arg(i + 1, 2, 10, QChar(u'0'));
}

// The list in sheet 数据 of a fresh workbook.
inline Workbook edgeWorkbook() {
    Workbook book;
    book.sheets.resize(1);
    Sheet& sheet = book.sheets[0];
    sheet.name = QStringLiteral("数据");
    const QStringList fields{QStringLiteral("编号"), QStringLiteral("金额"), QStringLiteral("格式"),
                             QStringLiteral("文字"), QStringLiteral("组")};
    for (int c = 0; c < fields.size(); ++c)
        sheet.cellAt(0, c).value = CellValue::fromString(SharedText(fields[c]));
    const std::vector<EdgeFormatted> formatted = edgeFormatted();
    for (size_t i = 0; i < edgeAmounts().size(); ++i) {
        const int32_t r = int32_t(i) + 1;
        sheet.cellAt(r, 0).value = CellValue::fromString(SharedText(edgeId(i)));
        sheet.cellAt(r, 1).value = CellValue::fromNumber(edgeAmounts()[i]);
        if (i < formatted.size()) {
            Cell& cell = sheet.cellAt(r, 2);
            cell.value = formatted[i].value;
            Style style;
            style.numberFormat = QString::fromUtf16(formatted[i].format);
            cell.style = book.internStyle(style);
        }
        if (i < size_t(edgeTexts().size()))
            sheet.cellAt(r, 3).value = CellValue::fromString(SharedText(edgeTexts()[qsizetype(i)]));
        sheet.cellAt(r, 4).value = CellValue::fromString(SharedText(QStringLiteral("A")));
    }
    return book;
}

// The number a cell stands for: its value when it is a number or a date, the value of its
// text when the whole text is a decimal number (1000000000000000.000000, -0.000000).
inline bool edgeNumberOf(const Cell* cell, double& value) {
    if (!cell) return false;
    const CellValue& v = cell->value;
    if (v.type() == CellValue::Type::Number || v.type() == CellValue::Type::DateTime) {
        value = v.number();
        return true;
    }
    if (v.type() != CellValue::Type::String) return false;
    const std::string text = v.text().toQString().toStdString();
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

} // namespace quellar::test
