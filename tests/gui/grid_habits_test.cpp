// The grid panes as a spreadsheet user expects them: Excel's column-width arithmetic and a
// metric-compatible font (numbers and dates whole at the default width, checked by drawing),
// Excel's Ctrl+Home/End and Ctrl+arrow moves, find with F3 / Shift+F3, fitting a column and
// the context menu.

#include "app/CQuellarApp.h"
#include "components/CellDelegate.h"
#include "components/ExcelColumns.h"
#include "components/FindBar.h"
#include "components/GridNavigation.h"
#include "components/SheetPane.h"
#include "components/SheetPaneModel.h"
#include "workbook/Workbook.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QProxyStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace quellar;

namespace {

// Shows in `pane`, a grid of `rows` x `columns` at a usual window size, a new workbook whose
// first sheet `fill` writes.
void showSheet(SheetPane& pane, int rows, int columns, const std::function<void(Sheet&)>& fill) {
    pane.setExtent(rows, columns);
    pane.resize(600, 400);
    Workbook book = Workbook::makeDefault();
    fill(book.sheets[0]);
    pane.setWorkbook(std::move(book));
}

// What the view hands the style to draw for each cell, after the delegate chose the text.
class DrawnTexts : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element == CE_ItemViewItem)
            if (const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option))
                drawn[{item->index.row(), item->index.column()}] = item->text;
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable std::map<std::pair<int, int>, QString> drawn;
};

// A workbook as Excel saves a new one: default font `font` 11, one sheet whose column A
// holds a six-digit id, an eight-digit number and yyyy/m/d dates, at the default width.
Workbook excelBook(const QString& font, double defaultWidthPoints) {
    Workbook book = Workbook::makeDefault();
    book.defaultFontName = font;
    book.defaultFontSize = 11;
    Sheet& sheet = book.sheets[0];
    sheet.defaultColumnWidth = defaultWidthPoints;
    Style date;
    date.numberFormat = QStringLiteral("yyyy/m/d");
    const uint32_t dateStyle = book.internStyle(date);
    sheet.cellAt(0, 0).value = CellValue::fromNumber(123456);
    sheet.cellAt(1, 0).value = CellValue::fromNumber(12345678);
    for (int row : {2, 3, 4})
        sheet.cellAt(row, 0).style = dateStyle;
    sheet.cellAt(2, 0).value = CellValue::fromDateTime(42005); // 2015/1/1
    sheet.cellAt(3, 0).value = CellValue::fromDateTime(46090); // 2026/3/9
    sheet.cellAt(4, 0).value = CellValue::fromDateTime(45658); // 2025/1/1
    return book;
}

std::vector<QString> drawnColumnA(SheetPane& pane, DrawnTexts& style, int rows) {
    pane.view()->setStyle(&style);
    style.drawn.clear();
    pane.view()->grab();
    std::vector<QString> texts;
    for (int row = 0; row < rows; ++row)
        texts.push_back(style.drawn[{row, 0}]);
    return texts;
}

} // namespace

TEST(ExcelGrid, ColumnWidthsFollowExcelsRule) {
    // 8.43 characters at Calibri 11 (maximum digit width 7): 9.140625 in the file, 64 pixels.
    EXPECT_DOUBLE_EQ(charactersToFileWidth(8.43, 7), 9.140625);
    EXPECT_EQ(fileWidthToPixels(9.140625, 7), 64);
    EXPECT_EQ(charactersToPixels(8.43, 7), 64);
    // 宋体 11 (digit width 8): 8.38 characters are 72 pixels.
    EXPECT_EQ(charactersToPixels(8.38, 8), 72);
    EXPECT_EQ(fileWidthToPixels(0, 7), 0);

    // The stand-ins for Excel's fonts measure as Excel's: Calibri 11 -> Carlito, digit width 7.
    QFont calibri(QStringLiteral("Calibri"));
    calibri.setPointSizeF(11);
    EXPECT_EQ(QFontInfo(calibri).family(), QStringLiteral("Carlito"));
    EXPECT_EQ(maxDigitWidth(calibri), 7);
    QFont cambria(QStringLiteral("Cambria"));
    cambria.setPointSizeF(11);
    EXPECT_EQ(QFontInfo(cambria).family(), QStringLiteral("Caladea"));
    QFont songti(QStringLiteral("宋体"));
    songti.setPointSizeF(11);
    EXPECT_EQ(maxDigitWidth(songti), 8);

    // Widths read in characters at digit width 7 become those of a 宋体 workbook.
    Workbook book = excelBook(QStringLiteral("宋体"), 48);
    book.sheets[0].columnWidths[1] = 48;  // 8.43 characters: 64 pixels at 7
    book.sheets[0].columnWidths[2] = 150; // 200 pixels at 7
    rescaleCharacterWidths(book, 8);
    EXPECT_DOUBLE_EQ(book.sheets[0].defaultColumnWidth, 54); // 72 pixels, as Excel shows it
    EXPECT_DOUBLE_EQ(book.sheets[0].columnWidths[1], 73 * 0.75);
    EXPECT_DOUBLE_EQ(book.sheets[0].columnWidths[2], 229 * 0.75);
    Workbook calibriBook = excelBook(QStringLiteral("Calibri"), 48);
    rescaleCharacterWidths(calibriBook, 7);
    EXPECT_DOUBLE_EQ(calibriBook.sheets[0].defaultColumnWidth, 48);
}

TEST(ExcelGrid, DefaultWidthShowsIdsNumbersAndDatesWhole) {
    const std::vector<QString> whole = {"123456", "12345678", "2015/1/1", "2026/3/9", "2025/1/1"};
    // An Excel workbook in Calibri 11 (64 pixels), and the grid's own 宋体 11 (72 pixels).
    for (const auto& [font, width] :
         {std::pair{QStringLiteral("Calibri"), 48.0}, {QStringLiteral("宋体"), 54.0}}) {
        DrawnTexts style;
        SheetPane pane;
        pane.setExtent(10, 4);
        pane.resize(600, 300);
        pane.setWorkbook(excelBook(font, width));
        EXPECT_EQ(pane.view()->columnWidth(0), SheetPaneModel::pointsToPixels(width)) << font.toStdString();
        EXPECT_EQ(drawnColumnA(pane, style, 5), whole) << font.toStdString();
        // Much narrower, and a date gives way to "#", as in Excel.
        pane.view()->setColumnWidth(0, pane.view()->columnWidth(0) / 2);
        const std::vector<QString> narrow = drawnColumnA(pane, style, 5);
        EXPECT_EQ(narrow[2].count(u'#'), narrow[2].size()) << font.toStdString();
    }
}

TEST(ExcelGrid, DataEdgesAsExcelFindsThem) {
    // Row 0: filled at columns 0-2, 5, 7 of 10.
    const std::vector<int> filledColumns = {0, 1, 2, 5, 7};
    const FilledCell filled = [&](int row, int column) {
        return row == 0 &&
               std::find(filledColumns.begin(), filledColumns.end(), column) != filledColumns.end();
    };
    auto right = [&](int column) { return dataEdge(filled, GridCell{0, column}, 0, 1, 1, 10).column; };
    EXPECT_EQ(right(0), 2); // to the end of the run
    EXPECT_EQ(right(2), 5); // to the next filled cell
    EXPECT_EQ(right(3), 5);
    EXPECT_EQ(right(5), 7);
    EXPECT_EQ(right(7), 9); // nothing follows: the grid's edge
    EXPECT_EQ(right(9), 9);
    EXPECT_EQ(dataEdge(filled, GridCell{0, 7}, 0, -1, 1, 10).column, 5);
    EXPECT_EQ(dataEdge(filled, GridCell{0, 1}, 0, -1, 1, 10).column, 0);
}

TEST(ExcelGrid, CtrlKeysMoveAsInExcel) {
    SheetPane pane;
    showSheet(pane, 30, 10, [](Sheet& sheet) {
        for (int row = 0; row < 5; ++row)
            sheet.cellAt(row, 0).value = CellValue::fromNumber(row);
        for (int row = 9; row < 12; ++row)
            sheet.cellAt(row, 0).value = CellValue::fromNumber(row);
        sheet.cellAt(3, 4).value = CellValue::fromString(SharedText(QStringLiteral("末列")));
    });
    QTableView* view = pane.view();
    view->setFocus();
    auto at = [&] { return std::pair{view->currentIndex().row(), view->currentIndex().column()}; };
    auto press = [&](Qt::Key key, Qt::KeyboardModifiers mods = Qt::ControlModifier) {
        QTest::keyClick(view, key, mods);
        return at();
    };
    EXPECT_EQ(press(Qt::Key_Down), std::pair(4, 0));
    EXPECT_EQ(press(Qt::Key_Down), std::pair(9, 0));
    EXPECT_EQ(press(Qt::Key_Down), std::pair(11, 0));
    EXPECT_EQ(press(Qt::Key_Down), std::pair(29, 0)); // the last row of the grid
    EXPECT_EQ(press(Qt::Key_Up), std::pair(11, 0));
    // Ctrl+End: the last used cell (last used row, last used column), not the grid's corner.
    EXPECT_EQ(press(Qt::Key_End), std::pair(11, 4));
    EXPECT_EQ(press(Qt::Key_Home), std::pair(0, 0));
    // Shift keeps the current cell and stretches the selection to the edge.
    EXPECT_EQ(press(Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier), std::pair(0, 0));
    EXPECT_EQ(pane.selection(), (RangeBounds{1, 1, 1, 5}));
    press(Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pane.selection(), (RangeBounds{1, 1, 1, 10}));
    press(Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pane.selection(), (RangeBounds{1, 1, 5, 12}));
}

TEST(ExcelGrid, FindLooksOnwardAndBackAndSaysWhenNothingHoldsTheText) {
    SheetPane pane;
    showSheet(pane, 40, 6, [](Sheet& sheet) {
        auto put = [&](int row, int column, const char16_t* text) {
            sheet.cellAt(row, column).value = CellValue::fromString(SharedText(QString::fromUtf16(text)));
        };
        put(0, 0, u"姓名");
        put(2, 1, u"张三");
        put(5, 3, u"李四");
        put(7, 0, u"张三丰");
        sheet.cellAt(9, 2).value = CellValue::fromNumber(8500);
    });
    QTableView* view = pane.view();
    view->setFocus();
    auto at = [&] { return std::pair{view->currentIndex().row(), view->currentIndex().column()}; };

    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(pane.findBar()->isVisibleTo(&pane));
    pane.findBar()->edit()->setText(QStringLiteral("张三")); // typed (QTest types ASCII only)
    QTest::keyClick(pane.findBar()->edit(), Qt::Key_Return);
    EXPECT_EQ(at(), std::pair(2, 1));
    QTest::keyClick(pane.findBar()->edit(), Qt::Key_F3);
    EXPECT_EQ(at(), std::pair(7, 0));
    QTest::keyClick(view, Qt::Key_F3); // from the grid too, and round to the top again
    EXPECT_EQ(at(), std::pair(2, 1));
    QTest::keyClick(view, Qt::Key_F3, Qt::ShiftModifier); // back, round from the bottom
    EXPECT_EQ(at(), std::pair(7, 0));
    EXPECT_TRUE(pane.findBar()->outcomeText().isEmpty());
    // Numbers are found by the text they show.
    EXPECT_TRUE(pane.findText(QStringLiteral("8500"), false));
    EXPECT_EQ(at(), std::pair(9, 2));

    pane.findBar()->edit()->setText(QStringLiteral("王五"));
    QTest::keyClick(view, Qt::Key_F3);
    EXPECT_EQ(at(), std::pair(9, 2)); // stays
    EXPECT_EQ(pane.findBar()->outcomeText(), QStringLiteral("找不到“王五”"));
    QTest::keyClick(pane.findBar()->edit(), Qt::Key_Escape);
    EXPECT_FALSE(pane.findBar()->isVisibleTo(&pane));
}

TEST(ExcelGrid, ContextMenuCopiesSelectsFitsAndTakesMoreItems) {
    SheetPane pane;
    showSheet(pane, 20, 6, [](Sheet& sheet) {
        sheet.cellAt(0, 0).value =
            CellValue::fromString(SharedText(QStringLiteral("一段相当长的说明文字，比列宽长得多")));
        sheet.cellAt(1, 0).value = CellValue::fromNumber(7);
        sheet.cellAt(0, 1).value = CellValue::fromNumber(1);
    });

    QStringList texts;
    for (QAction* a : pane.contextActions())
        texts << a->text();
    EXPECT_EQ(texts, (QStringList{"复制", "全选", "自动调整列宽", "查找…"}));
    auto* extra = new QAction(QStringLiteral("只看差异"), &pane);
    pane.addContextAction(extra);
    EXPECT_EQ(pane.contextActions().back(), extra);

    auto trigger = [&](const QString& text) {
        for (QAction* a : pane.contextActions())
            if (a->text() == text) a->trigger();
    };
    pane.select(RangeBounds{1, 1, 2, 2});
    trigger(QStringLiteral("复制"));
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("一段相当长的说明文字，比列宽长得多\t1\n7\t\n"));

    // Column A grows to its long text, column B shrinks to its one digit; the sheet keeps both.
    const int before = pane.view()->columnWidth(0);
    trigger(QStringLiteral("自动调整列宽"));
    const QFontMetricsF metrics(pane.view()->font());
    EXPECT_GT(pane.view()->columnWidth(0), before);
    EXPECT_GE(pane.view()->columnWidth(0) - CellDelegate::textPadding(pane.view()),
              metrics.horizontalAdvance(QStringLiteral("一段相当长的说明文字，比列宽长得多")));
    EXPECT_LT(pane.view()->columnWidth(1), before);
    EXPECT_EQ(pane.workbook().sheets[0].columnWidths.count(0), 1u);

    trigger(QStringLiteral("全选"));
    EXPECT_EQ(pane.selection(), pane.wholeSheet());
}
