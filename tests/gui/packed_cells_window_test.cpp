// Large lists in the window: the file panes' cells packed as an operation reads them and the
// last result packed while the next is built. The table taken out of a pane is the table
// readRange gives; a cancelled comparison leaves both file panes and the last result cell for
// cell as they were; and a comparison built so gives the core's result, again and again.

#include "app/CQuellarDlg.h"
#include "components/SheetPane.h"
#include "components/SheetPaneModel.h"
#include "table/compare/Comparison.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/RangeReader.h"
#include "workbook/TableWriter.h"
#include "workbook/WorkbookFormat.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QTableView>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace quellar;
using Command = CQuellarDlg::Command;

namespace {

// Just enough rows for the panes to pack what the operations read.
constexpr int kRows = int(SheetPane::kLetGoAsideRows) + 7;

// A list of kRows rows under the fields 编号 姓名 金额 日期 备注: keys in another order in
// the second list (`second`), amounts at their edges, long and full-width texts, gaps.
Workbook bigList(bool second) {
    static const double amounts[] = {10000000,           0.1 + 0.2, 1e-7, 123456789012345.0,
                                     1234567890123456.0, -30000000, 0.5,  16172835};
    Workbook book = Workbook::makeDefault();
    Sheet& sheet = book.sheets[0];
    const char16_t* fields[] = {u"编号", u"姓名", u"金额", u"日期", u"备注"};
    for (uint16_t c = 0; c < 5; ++c)
        sheet.rowAt(0).cells.push_back(Cell{CellValue::fromString(SharedText(fields[c])), c, 0, {}});
    for (int r = 1; r <= kRows; ++r) {
        const int key = second ? kRows + 1 - r : r;
        SheetRow& row = sheet.rowAt(r);
        row.cells.push_back(
            Cell{CellValue::fromString(SharedText(QStringLiteral("K%1").arg(key, 7, 10, QLatin1Char('0')))),
                 0,
                 0,
                 {}});
        if (key % 5)
            row.cells.push_back(
                Cell{CellValue::fromString(SharedText(key % 3 ? u"张三" : u"欧阳ＡＢＣ１２３")), 1, 0, {}});
        row.cells.push_back(Cell{
            CellValue::fromNumber(amounts[size_t(key) % 8] * (second && key % 7 == 0 ? 2 : 1)), 2, 0, {}});
        if (key % 4)
            row.cells.push_back(
                Cell{CellValue::fromDateTime(45000 + key % 400 + (key % 2 ? 0.25 : 0)), 3, 0, {}});
        row.cells.push_back(Cell{
            CellValue::fromString(SharedText(QString(40 + key % 9, QChar(u'备')) + QString::number(key))),
            4,
            0,
            {}});
    }
    return book;
}

// Every stored cell and row of every sheet: sheet name, row index and height, then each
// cell's column, style, type, number bits and text.
std::string everyCell(const Workbook& book) {
    std::ostringstream out;
    for (const Sheet& sheet : book.sheets) {
        out << sheet.name.toStdString() << '\n';
        for (const SheetRow& row : sheet.rows) {
            out << row.index << '/' << row.height << ':';
            for (const Cell& cell : row.cells) {
                uint64_t bits;
                const double n = cell.value.number();
                std::memcpy(&bits, &n, 8);
                out << cell.column << ',' << cell.style << ',' << int(cell.value.type()) << ',' << bits << ','
                    << cell.value.text().toUtf8() << ',' << cell.formula.toUtf8() << ';';
            }
            out << '\n';
        }
    }
    return out.str();
}

// The records of a table as text.
std::string everyRecord(const RowTable& table) {
    std::ostringstream out;
    for (const Row& row : table) {
        for (const CellRecord& r : row)
            out << r.text.toUtf8() << '|' << r.formula.toUtf8() << '|' << r.styleId << '|' << r.columnWidth
                << '|' << r.rowHeight << '|' << int(r.mergeState) << '|' << int(r.fillColorIndex) << ';';
        out << '\n';
    }
    return out.str();
}

} // namespace

TEST(PackedCellsWindow, ARangeTakenFromAPaneIsTheRangeReadAndThePaneComesBackWhole) {
    SheetPane pane;
    pane.resize(500, 300);
    pane.show();
    const Workbook copy = bigList(false);
    pane.setWorkbook(Workbook(copy));
    const SheetRow* rows = pane.activeSheet().rows.data();
    // Not the whole sheet: rows from the third on, columns B to D, so that some rows and
    // some cells of the rows read are not in the range.
    const RangeBounds bounds{.firstColumn = 2, .firstRow = 3, .lastColumn = 4, .lastRow = kRows + 1};
    NullProgress quiet;
    const RowTable expected = readRange(copy, copy.sheets[0], bounds, quiet, 1);

    pane.letViewGo();
    EXPECT_TRUE(pane.model()->displayText(1, 0).isEmpty()); // the grid reads no cell meanwhile
    const RowTable taken = pane.takeShownRange(bounds, quiet, 1);
    EXPECT_TRUE(pane.cellsPacked());
    EXPECT_FALSE(pane.activeSheet().rows[1].cells.empty()); // above the range
    EXPECT_TRUE(pane.activeSheet().rows[2].cells.empty());
    EXPECT_TRUE(pane.activeSheet().rows.back().cells.empty());
    EXPECT_EQ(everyRecord(taken), everyRecord(expected));

    pane.showAgain();
    EXPECT_FALSE(pane.cellsPacked());
    EXPECT_EQ(pane.activeSheet().rows.data(), rows);
    EXPECT_EQ(everyCell(pane.workbook()), everyCell(copy));
    EXPECT_EQ(pane.model()->displayText(1, 0), QStringLiteral("K0000001"));
}

class PackedCellsWindowTest : public test::WindowTest {
protected:
    void SetUp() override {
        test::WindowTest::SetUp();
        for (bool second : {false, true}) {
            const QString path =
                dir.filePath(second ? QStringLiteral("新名单.xlsx") : QStringLiteral("旧名单.xlsx"));
            ASSERT_TRUE(writeWorkbook(bigList(second), path, FileKind::Xlsx).isOk());
            open(second ? 2 : 1, path);
        }
    }
    void compareByKey() {
        CompareOptions options;
        options.keyMode = true;
        prompts->diffAnswers.push_back(DiffChoice{options, {QStringLiteral("编号")}});
        window->action(Command::CompareTables)->trigger();
    }
    // The first sheet of the result pane.
    std::string result() const {
        Workbook shown;
        shown.sheets.push_back(window->resultPane()->workbook().sheets[0]);
        return everyCell(shown);
    }
};

TEST_F(PackedCellsWindowTest, CancelledComparisonsLeaveEveryPaneWholeAndResultsStayTheCoresOwn) {
    const std::string pane1 = everyCell(window->pane(1)->workbook());
    const std::string pane2 = everyCell(window->pane(2)->workbook());

    // What the core gives for the panes' ranges, written as the window writes results.
    std::string expected;
    {
        const Workbook& b1 = window->pane(1)->workbook();
        const Workbook& b2 = window->pane(2)->workbook();
        NullProgress quiet;
        CompareOptions options;
        options.keyMode = true;
        Workbook book = Workbook::makeDefault();
        WorkbookSink sink(book, WorkbookSink::Mode::WriteOnly);
        QString report;
        ASSERT_TRUE(runTableComparison(
                        sink, quiet, readRange(b1, b1.sheets[0], clipUsedRange(b1.sheets[0]), quiet, 1),
                        readRange(b2, b2.sheets[0], clipUsedRange(b2.sheets[0]), quiet, 1), options,
                        {QStringLiteral("编号")}, 1, QStringLiteral("对比结果"), report)
                        .isOk());
        Workbook first;
        first.sheets.push_back(book.sheets[0]);
        expected = everyCell(first);
    }

    // Every pane draws its cells again afterwards: its grid takes updates and its model gives
    // the texts (while an operation runs, the file panes' cells are packed away).
    auto expectDrawn = [&](const char* when) {
        for (int which = 1; which <= 3; ++which) {
            SheetPane* pane = which == 3 ? window->resultPane() : window->pane(which);
            EXPECT_TRUE(pane->view()->viewport()->updatesEnabled()) << when << ", pane " << which;
            const QAbstractItemModel* model = pane->view()->model();
            EXPECT_EQ(model->data(model->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("编号"))
                << when << ", pane " << which;
        }
    };

    compareByKey();
    ASSERT_TRUE(window->statusText().startsWith(QStringLiteral("对比完成")))
        << window->statusText().toStdString();
    expectDrawn("after the first comparison");
    EXPECT_EQ(result(), expected);
    EXPECT_EQ(everyCell(window->pane(1)->workbook()), pane1);
    EXPECT_EQ(everyCell(window->pane(2)->workbook()), pane2);
    const std::string last = everyCell(window->resultPane()->workbook());
    const SheetRow* lastRows = window->resultPane()->workbook().sheets[0].rows.data();

    // Cancelled as soon as it starts: the file panes' rows read so far and the last result
    // were packed; all of it is back.
    {
        test::CancelNextRun cancel;
        compareByKey();
        EXPECT_EQ(cancel.pressed, 1);
    }
    EXPECT_FALSE(window->pane(1)->cellsPacked());
    EXPECT_FALSE(window->pane(2)->cellsPacked());
    EXPECT_FALSE(window->resultPane()->cellsPacked());
    EXPECT_EQ(everyCell(window->pane(1)->workbook()), pane1);
    EXPECT_EQ(everyCell(window->pane(2)->workbook()), pane2);
    EXPECT_EQ(everyCell(window->resultPane()->workbook()), last);
    EXPECT_EQ(window->resultPane()->workbook().sheets[0].rows.data(), lastRows);
    expectDrawn("after the cancel");

    // Built again over the packed last result: the same result, the panes whole.
    compareByKey();
    EXPECT_EQ(result(), expected);
    EXPECT_NE(window->resultPane()->workbook().sheets[0].rows.data(), lastRows);
    EXPECT_EQ(everyCell(window->pane(1)->workbook()), pane1);
    EXPECT_EQ(everyCell(window->pane(2)->workbook()), pane2);
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
}
