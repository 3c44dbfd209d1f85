#include "workbook/RangeText.h"

#include "base/CellOps.h"
#include "workbook/RangeReader.h"

#include <algorithm>

namespace quellar {

bool typedRange(const QString& text, RangeBounds& bounds) {
    const qsizetype colon = text.indexOf(u':');
    if (colon < 2 || text.size() - colon - 1 < 2) return false;
    const QString first = text.left(colon);
    const QString second = text.mid(colon + 1);
    if (second.contains(QStringLiteral("AAAZ"))) return false;
    if (!isCellReference(first) || !isCellReference(second)) return false;
    RangeBounds a, b;
    if (!parseRangeText(first, a) || !parseRangeText(second, b)) return false;
    bounds = RangeBounds{std::min(a.firstColumn, b.firstColumn), std::min(a.firstRow, b.firstRow),
                         std::max(a.firstColumn, b.firstColumn), std::max(a.firstRow, b.firstRow)};
    return true;
}

bool typedCellOrRange(const QString& text, RangeBounds& bounds) {
    if (typedRange(text, bounds)) return true;
    RangeBounds cell;
    if (text.contains(u':') || !isCellReference(text) || !parseRangeText(text, cell)) return false;
    bounds = RangeBounds{cell.firstColumn, cell.firstRow, cell.firstColumn, cell.firstRow};
    return true;
}

QString rangeAddress(const RangeBounds& b) {
    const QString first = columnAddress(b.firstColumn, b.firstRow);
    if (b.firstColumn == b.lastColumn && b.firstRow == b.lastRow) return first;
    return first + u':' + columnAddress(b.lastColumn, b.lastRow);
}

ExportTarget exportTarget(const QString& chosenPath, bool xlsxFilterChosen) {
    const qsizetype slash = std::max(chosenPath.lastIndexOf(u'/'), chosenPath.lastIndexOf(u'\\'));
    const QString fileName = chosenPath.mid(slash + 1);
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString extension = dot >= 0 ? fileName.mid(dot).toLower() : QString();
    if (extension == u".xlsx") return {chosenPath, FileKind::Xlsx};
    if (extension == u".xls") return {chosenPath, FileKind::Xls};
    if (xlsxFilterChosen) return {chosenPath + QStringLiteral(".xlsx"), FileKind::Xlsx};
    return {chosenPath + QStringLiteral(".xls"), FileKind::Xls};
}

} // namespace quellar
