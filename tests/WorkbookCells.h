#pragma once
// Reading a test workbook and looking at its cells by A1 reference, for the format tests.

#include "base/CellOps.h"
#include "tests/TestSupport.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/xlsx/XlsxFormat.h"

#include <gtest/gtest.h>

namespace quellar::test {

// The workbook at `relative` under the test data, expecting it to read.
inline Workbook readOk(const QString& relative) {
    Workbook book;
    const Status s = readWorkbook(testDataPath(relative), book);
    EXPECT_TRUE(s.isOk()) << s.message().toStdString();
    return book;
}

inline const Cell* cellAt(const Sheet& sheet, const char* ref) {
    int32_t row, column;
    if (!xlsx::parseCellReference(ref, row, column)) return nullptr;
    return sheet.cell(row, column);
}

// The cell's value as text, "<none>" when no cell is stored there.
inline QString textAt(const Sheet& sheet, const char* ref) {
    const Cell* c = cellAt(sheet, ref);
    return c ? variantToText(c->value) : QStringLiteral("<none>");
}

// The message readWorkbook refuses `path` with (a test failure when the file reads).
inline QString refusalOf(const QString& path) {
    Workbook book;
    const Status status = readWorkbook(path, book);
    EXPECT_FALSE(status.isOk()) << path.toStdString();
    return status.message();
}

// A style in one line, for one-assertion comparisons: "{number format|fill hasFill palette
// rgb|font name size bold italic hasColor rgb|align horizontal vertical wrap}".
inline QString styleText(const Style& s) {
    return QStringLiteral("{%1|fill %2 %3 %4|font %5 %6 %7%8 %9 %10|align %11 %12 %13}")
        .arg(s.numberFormat)
        .arg(s.hasFill)
        .arg(s.fillPalette)
        .arg(s.fillRgb, 6, 16, QChar(u'0'))
        .arg(s.fontName)
        .arg(s.fontSize)
        .arg(s.bold)
        .arg(s.italic)
        .arg(s.hasFontColor)
        .arg(s.fontRgb, 6, 16, QChar(u'0'))
        .arg(int(s.horizontal))
        .arg(int(s.vertical))
        .arg(s.wrapText);
}

// A page setup in one line, for one-assertion comparisons: "paper 9 landscape scale 85
// fit 1x0 margins 0.5 0.6 0.7 0.8 0.25 0.35 titles 0-1" (fit only when fitting to pages;
// margins left, right, top, bottom, header, footer in inches).
inline QString pageSetupText(const PageSetup& p) {
    QString text = QStringLiteral("paper %1%2 scale %3")
                       .arg(p.paperSize)
                       .arg(p.landscape ? " landscape" : "")
                       .arg(p.scale);
    if (p.fitToPage) text += QStringLiteral(" fit %1x%2").arg(p.fitToWidth).arg(p.fitToHeight);
    text += QStringLiteral(" margins");
    for (double margin :
         {p.marginLeft, p.marginRight, p.marginTop, p.marginBottom, p.marginHeader, p.marginFooter})
        text += u' ' + QString::number(margin);
    return text + QStringLiteral(" titles %1-%2").arg(p.printTitleFirstRow).arg(p.printTitleLastRow);
}

} // namespace quellar::test
