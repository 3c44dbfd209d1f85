// Texts as a spreadsheet shows them: a text too long for its cell runs on over the empty
// cells beside it (left-aligned to the right, right-aligned to the left, centred both ways)
// and is cut only at the next cell with content; numbers, wrapped texts and merged areas stay
// in their cells. Checked on the extent rules and on the pixels the grid draws.

#include "components/SheetPane.h"
#include "components/SheetPaneModel.h"
#include "components/TextOverflow.h"
#include "tests/gui/GuiTestSupport.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScrollBar>
#include <QTableView>

#include <gtest/gtest.h>

using namespace quellar;

TEST(TextOverflow, TheTextLiesWhereItsAlignmentPutsIt) {
    // Left (and General): from the margin on; right: up to the margin; centred: around the middle.
    const TextSpan left = textSpan(Qt::AlignLeft, 60, 3, 200);
    EXPECT_EQ(left.left, 3);
    EXPECT_EQ(left.right, 203);
    const TextSpan general = textSpan(0, 60, 3, 200);
    EXPECT_EQ(general.left, 3);
    const TextSpan right = textSpan(Qt::AlignRight, 60, 3, 200);
    EXPECT_EQ(right.left, -143);
    EXPECT_EQ(right.right, 57);
    const TextSpan centre = textSpan(Qt::AlignHCenter, 60, 3, 200);
    EXPECT_EQ(centre.left, -70);
    EXPECT_EQ(centre.right, 130);
}

TEST(TextOverflow, ATextTakesEmptyColumnsUntilItFitsOrMeetsContent) {
    // Columns 0..9 of 50 pixels; column 1 is hidden (no width); `full` columns hold content.
    std::vector<bool> full(10, false);
    const auto widthOf = [](int column) { return column == 1 ? 0 : 50; };
    const auto blocked = [&](int column) { return bool(full[size_t(column)]); };
    const auto run = [&](int column, TextSpan span, int lowest = 0, int highest = 9) {
        const ColumnRun r = overflowColumns(column, span, widthOf, blocked, lowest, highest);
        return std::pair{r.first, r.last};
    };
    // Fits: the cell alone. Exactly at the edge still fits.
    EXPECT_EQ(run(4, {3, 40}), std::pair(4, 4));
    EXPECT_EQ(run(4, {3, 50}), std::pair(4, 4));
    // One pixel more takes the next column; 120 pixels two more.
    EXPECT_EQ(run(4, {3, 51}), std::pair(4, 5));
    EXPECT_EQ(run(4, {3, 123}), std::pair(4, 6));
    // Cut at the next cell with content, never past it.
    full[6] = true;
    EXPECT_EQ(run(4, {3, 500}), std::pair(4, 5));
    full[5] = true;
    EXPECT_EQ(run(4, {3, 500}), std::pair(4, 4));
    full[5] = full[6] = false;
    // Right-aligned: to the left, across the hidden column 1, stopped by column 0's content.
    full[0] = true;
    EXPECT_EQ(run(3, {-140, 47}), std::pair(1, 3));       // the hidden column is taken, then 0 stops it
    EXPECT_EQ(run(3, {-140, 47}, 2, 3), std::pair(2, 3)); // the lowest column looked at
    full[0] = false;
    EXPECT_EQ(run(3, {-140, 47}), std::pair(0, 3));
    // Centred: both ways, each side on its own.
    EXPECT_EQ(run(5, {-60, 110}), std::pair(3, 7));
    full[4] = true;
    EXPECT_EQ(run(5, {-60, 110}), std::pair(5, 7));
    full[4] = false;
    // The bounds (the columns in view and one beyond) end the look.
    EXPECT_EQ(run(5, {3, 5000}, 0, 7), std::pair(5, 7));
    EXPECT_EQ(run(9, {3, 5000}), std::pair(9, 9)); // the last column of the grid
    EXPECT_EQ(run(0, {-5000, 47}), std::pair(0, 0));
}

namespace {

// A sheet with red texts, one case per row, shown in a pane of 8 columns of 64 pixels.
class OverflowDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        Workbook book = Workbook::makeDefault();
        Sheet& sheet = book.sheets[0];
        const auto styled = [&](HAlign horizontal, bool wrap = false) {
            Style style;
            style.hasFontColor = true;
            style.fontRgb = 0xFF0000;
            style.horizontal = horizontal;
            style.wrapText = wrap;
            return book.internStyle(style);
        };
        const auto put = [&](int row, int column, const QString& text, uint32_t style) {
            Cell& cell = sheet.cellAt(row, column);
            cell.value = CellValue::fromString(SharedText(text));
            cell.style = style;
        };
        const QString longText = QStringLiteral("这是一段很长很长的说明文字，超出单元格");
        put(0, 0, longText, styled(HAlign::General)); // row 1: runs right to C1
        put(0, 3, QStringLiteral("x"), 0);
        put(1, 0, QStringLiteral("y"), 0); // row 2: right-aligned in D2, runs left to A2
        put(1, 3, longText, styled(HAlign::Right));
        put(2, 3, longText, styled(HAlign::Center)); // row 3: centred in D3, both ways
        Cell& number = sheet.cellAt(3, 0);           // row 4: a number stays in its cell
        number.value = CellValue::fromNumber(1234567890123456.0);
        number.style = styled(HAlign::General);
        put(4, 0, longText, styled(HAlign::General, true)); // row 5: wrapped
        put(5, 0, longText, styled(HAlign::General));       // row 6: merged A6:B6
        sheet.merges.push_back(CellRange{5, 0, 5, 1});
        put(6, 0, longText, styled(HAlign::General)); // row 7: B7 holds a formula's empty text
        sheet.cellAt(6, 1).formula = SharedText(QStringLiteral("=\"\""));
        put(7, 0, longText + longText, styled(HAlign::General)); // row 8: for scrolling
        pane.setExtent(20, 8);
        pane.resize(700, 400);
        pane.setWorkbook(std::move(book));
        for (int c = 0; c < 8; ++c)
            pane.view()->setColumnWidth(c, 64);
        pane.view()->clearSelection();
        pane.view()->setCurrentIndex(QModelIndex());
        pane.show();
    }

    // How many red pixels the grid shows in cell (row, column), 0-based.
    int redIn(int row, int column) {
        const QImage image = pane.view()->viewport()->grab().toImage();
        const QRect cell = pane.view()->visualRect(pane.model()->index(row, column));
        int red = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x) {
                if (!image.rect().contains(x, y)) continue;
                const QColor c = image.pixelColor(x, y);
                red += c.red() > 150 && c.green() < 120 && c.blue() < 120;
            }
        return red;
    }

    SheetPane pane;
};

} // namespace

TEST_F(OverflowDrawing, LongTextsRunOnOverEmptyCellsAndStopAtContent) {
    // Row 1: over B1 and C1, not into D1, which holds "x".
    EXPECT_GT(redIn(0, 1), 20);
    EXPECT_GT(redIn(0, 2), 20);
    EXPECT_EQ(redIn(0, 3), 0);
    // No grid line between A1 and B1 under the text; where no text runs on, it is drawn.
    const QImage image = pane.view()->viewport()->grab().toImage();
    const QRect a1 = pane.view()->visualRect(pane.model()->index(0, 0));
    const QColor gridColour(0xda, 0xdc, 0xdf);
    EXPECT_NE(image.pixelColor(a1.right() + 1, a1.top() + 1), gridColour);
    const QRect d4 = pane.view()->visualRect(pane.model()->index(3, 3));
    EXPECT_EQ(image.pixelColor(d4.right() + 1, d4.top() + 1), gridColour); // elsewhere it is drawn

    // Row 2: right-aligned, to the left over C2 and B2, not over A2's "y".
    EXPECT_GT(redIn(1, 2), 20);
    EXPECT_GT(redIn(1, 1), 20);
    EXPECT_EQ(redIn(1, 0), 0);
    EXPECT_EQ(redIn(1, 4), 0);
    // Row 3: centred, both ways.
    EXPECT_GT(redIn(2, 2), 20);
    EXPECT_GT(redIn(2, 4), 20);
    EXPECT_GT(redIn(2, 3), 20);
    // Row 4: a number shows shortened in its own cell only.
    EXPECT_GT(redIn(3, 0), 5);
    EXPECT_EQ(redIn(3, 1), 0);
    // Row 5: a wrapped text stays in its cell; row 6: so does a merged area's.
    EXPECT_GT(redIn(4, 0), 5);
    EXPECT_EQ(redIn(4, 1), 0);
    EXPECT_GT(redIn(5, 1), 5);
    EXPECT_EQ(redIn(5, 2), 0);
    // Row 7: a formula cell counts as content even when it shows nothing: the text is cut at
    // its own cell, drawn up to the cell's edge rather than shortened with "…".
    EXPECT_GT(redIn(6, 0), 20);
    EXPECT_EQ(redIn(6, 1), 0);
}

TEST_F(OverflowDrawing, ATextStartingOutOfViewStillRunsIntoIt) {
    QTableView* view = pane.view();
    pane.resize(260, 400);
    QApplication::processEvents();
    view->horizontalScrollBar()->setValue(2 * 64 + 10); // column A and B out of view
    ASSERT_EQ(view->columnAt(0), 2);
    EXPECT_GT(redIn(7, 2), 20);
    EXPECT_GT(redIn(0, 2), 20); // row 1's text, from A1 out of view, still stops before D1
    EXPECT_EQ(redIn(0, 3), 0);
    // A cell filled in beside the text cuts it right away, also further on in the row.
    view->horizontalScrollBar()->setValue(0);
    ASSERT_TRUE(pane.model()->setData(pane.model()->index(7, 1), QStringLiteral("z")));
    EXPECT_EQ(redIn(7, 2), 0);
    ASSERT_TRUE(pane.model()->setData(pane.model()->index(7, 1), QString()));
    EXPECT_GT(redIn(7, 2), 20);
}

TEST_F(OverflowDrawing, TheDelegateLeavesARunningTextToTheView) {
    const QTableView& view = *pane.view();
    const SheetPaneModel& model = *pane.model();
    const QFont font = view.font();
    const QString text = model.displayText(0, 0);
    EXPECT_TRUE(drawnByOverflow(view, model, 0, 0, text, font));
    EXPECT_FALSE(drawnByOverflow(view, model, 1, 0, model.displayText(1, 0), font)); // fits
    EXPECT_FALSE(drawnByOverflow(view, model, 3, 0, model.displayText(3, 0), font)); // a number
    EXPECT_FALSE(drawnByOverflow(view, model, 4, 0, text, font));                    // wrapped
    EXPECT_FALSE(drawnByOverflow(view, model, 5, 0, text, font));                    // merged
    EXPECT_TRUE(model.hasContent(6, 1));
    EXPECT_FALSE(model.hasContent(6, 2));
    // Wide enough, the cell draws it itself.
    pane.view()->setColumnWidth(0, 2000);
    EXPECT_FALSE(drawnByOverflow(view, model, 0, 0, text, font));
}
