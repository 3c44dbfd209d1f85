#pragma once
// Reading a test workbook and looking at its cells by A1 reference, for the format tests.

#include "base/CellOps.h"
#include "tests/TestSupport.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/XlsxFormat.h"

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

} // namespace quellar::test
