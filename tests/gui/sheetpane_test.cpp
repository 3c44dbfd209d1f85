// The grid pane: its model (checked by QAbstractItemModelTester), what it draws for a
// loaded workbook (spans, fills, fonts, formats, sizes), protection and editing, the
// selection signal, writing results into it and exporting them.

#include "base/CellOps.h"
#include "components/CellDelegate.h"
#include "components/SheetPane.h"
#include "components/SheetPaneModel.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QFont>
#include <QHeaderView>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTabBar>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>

using namespace quellar;
using test::testDataPath;

namespace {

QString shown(const SheetPane& pane, int row, int column) {
    return pane.model()->data(pane.model()->index(row, column), Qt::DisplayRole).toString();
}

QVariant role(const SheetPane& pane, int row, int column, int r) {
    return pane.model()->data(pane.model()->index(row, column), r);
}

RangeBounds bounds(int c1, int r1, int c2, int r2) {
    return RangeBounds{c1, r1, c2, r2};
}

} // namespace

TEST(SheetPane, StartsWithThreeEmptySheetsInSongTi11) {
    SheetPane pane;
    ASSERT_EQ(pane.sheetCount(), 3);
    EXPECT_EQ(pane.tabBar()->count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pane.workbook().sheets[size_t(i)].name, QStringLiteral("Sheet%1").arg(i + 1));
        EXPECT_EQ(pane.tabBar()->tabText(i), QStringLiteral("Sheet%1").arg(i + 1));
    }
    EXPECT_EQ(pane.activeSheetIndex(), 0);
    EXPECT_EQ(pane.workbook().defaultFontName, QStringLiteral("宋体"));
    EXPECT_EQ(pane.workbook().defaultFontSize, 11);
    EXPECT_EQ(pane.model()->defaultFont().pointSizeF(), 11);
    // The grid spans XFD1048576.
    EXPECT_EQ(pane.model()->rowCount(), 1048576);
    EXPECT_EQ(pane.model()->columnCount(), 16384);
    EXPECT_EQ(pane.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("A"));
    EXPECT_EQ(pane.model()->headerData(16383, Qt::Horizontal).toString(), QStringLiteral("XFD"));
    EXPECT_EQ(pane.model()->headerData(1048575, Qt::Vertical).toString(), QStringLiteral("1048576"));
}

TEST(SheetPane, ModelPassesTheModelTester) {
    SheetPane pane;
    pane.setExtent(14, 7);
    ASSERT_TRUE(pane.loadFile(testDataPath(QStringLiteral("gui/staff1.xml"))).isOk());
    QAbstractItemModelTester tester(pane.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    // Switching sheets and writing results reset the model under the tester's eyes.
    pane.setWorkbook(Workbook::makeDefault());
    pane.setActiveSheet(2);
    NullProgress progress;
    ASSERT_TRUE(
        pane.writeResult(3, QStringLiteral("结果"), test::makeTable({{"a", "b"}, {"1", "2"}}), progress, 1)
            .isOk());
    EXPECT_EQ(shown(pane, 1, 1), QStringLiteral("2"));
    EXPECT_TRUE(pane.model()->setCellText(4, 4, QStringLiteral("x")));
}

TEST(SheetPane, ShowsMergesFillsFontsFormatsAndSizes) {
    SheetPane pane;
    ASSERT_TRUE(pane.loadFile(testDataPath(QStringLiteral("gui/staff1.xml"))).isOk());
    EXPECT_EQ(pane.tabBar()->count(), 1);
    EXPECT_EQ(pane.tabBar()->tabText(0), QStringLiteral("员工"));
    // The title is merged across A1:E1.
    EXPECT_EQ(pane.view()->rowSpan(0, 0), 1);
    EXPECT_EQ(pane.view()->columnSpan(0, 0), 5);
    EXPECT_EQ(shown(pane, 0, 0), QStringLiteral("员工名单"));
    // Header: bold, centred, light blue fill.
    EXPECT_EQ(shown(pane, 1, 3), QStringLiteral("工资"));
    EXPECT_TRUE(role(pane, 1, 3, Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(role(pane, 1, 3, Qt::BackgroundRole).value<QBrush>().color(), QColor(0xDD, 0xEB, 0xF7));
    EXPECT_EQ(role(pane, 1, 3, Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    // Numbers through their formats, right-aligned; texts left-aligned.
    EXPECT_EQ(shown(pane, 2, 3), QStringLiteral("8,500.00"));
    EXPECT_EQ(shown(pane, 2, 4), QStringLiteral("2019/3/1"));
    EXPECT_EQ(role(pane, 2, 3, Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(role(pane, 2, 1, Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_EQ(role(pane, 2, 3, Qt::EditRole).toString(), QStringLiteral("8500"));
    // Column widths and the title row's height (points at 96 pixels per inch).
    EXPECT_EQ(pane.view()->columnWidth(2), SheetPaneModel::pointsToPixels(80));
    EXPECT_EQ(pane.view()->rowHeight(0), pane.rowPixels(24));
    EXPECT_EQ(pane.view()->rowHeight(5), pane.rowPixels(pane.activeSheet().defaultRowHeight));
    EXPECT_GT(pane.view()->rowHeight(0), pane.view()->rowHeight(5));
    EXPECT_FALSE(role(pane, 20, 20, Qt::DisplayRole).isValid());
}

TEST(SheetPane, ProtectedSheetsCannotBeEditedAndTypedTextKeepsWhatItHeld) {
    SheetPane pane;
    ASSERT_TRUE(pane.loadFile(testDataPath(QStringLiteral("gui/staff1.xml"))).isOk());
    pane.protectAll();
    const QModelIndex cell = pane.model()->index(2, 0);
    EXPECT_FALSE(pane.model()->flags(cell) & Qt::ItemIsEditable);
    EXPECT_FALSE(pane.model()->setData(cell, QStringLiteral("changed")));
    EXPECT_EQ(shown(pane, 2, 0), QStringLiteral("A001"));

    SheetPane result;
    EXPECT_TRUE(result.model()->flags(cell) & Qt::ItemIsEditable);
    struct Typed {
        const char16_t* text;
        CellValue::Type type;
        const char16_t* shownText;
    };
    const Typed cases[] = {
        {u"007", CellValue::Type::String, u"007"},
        {u"15.500000", CellValue::Type::Number, u"15.5"},
        {u"-3", CellValue::Type::Number, u"-3"},
        {u"1,234", CellValue::Type::String, u"1,234"},
        {u"123456789012", CellValue::Type::String, u"123456789012"},
        {u"文本", CellValue::Type::String, u"文本"},
    };
    for (const Typed& t : cases) {
        ASSERT_TRUE(result.model()->setData(cell, QString::fromUtf16(t.text)));
        const Cell* stored = result.activeSheet().cell(2, 0);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->value.type(), t.type) << QString::fromUtf16(t.text).toStdString();
        EXPECT_EQ(shown(result, 2, 0), QString::fromUtf16(t.shownText));
    }
    ASSERT_TRUE(result.model()->setData(cell, QString()));
    EXPECT_EQ(result.activeSheet().cell(2, 0), nullptr);
}

TEST(SheetPane, ReportsEverySelectionChange) {
    SheetPane pane;
    QSignalSpy spy(&pane, &SheetPane::selectionChanged);
    pane.select(bounds(1, 1, 3, 5));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).value<RangeBounds>(), bounds(1, 1, 3, 5));
    EXPECT_EQ(pane.selection(), bounds(1, 1, 3, 5));
    // Corners in any order select the same block.
    pane.select(bounds(4, 9, 2, 3));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(pane.selection(), bounds(2, 3, 4, 9));
    // A user's click selects too.
    spy.clear();
    pane.view()->selectionModel()->select(pane.model()->index(6, 6), QItemSelectionModel::ClearAndSelect);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(pane.selection(), bounds(7, 7, 7, 7));
    // The whole grid.
    pane.view()->selectAll();
    EXPECT_EQ(pane.selection(), pane.wholeSheet());
}

TEST(SheetPane, RemembersTheSelectionOfEachSheet) {
    SheetPane pane;
    pane.select(bounds(2, 2, 3, 3));
    pane.setActiveSheet(1);
    EXPECT_EQ(pane.selection(), bounds(1, 1, 1, 1));
    pane.select(bounds(5, 5, 6, 6));
    pane.tabBar()->setCurrentIndex(0);
    EXPECT_EQ(pane.activeSheetIndex(), 0);
    EXPECT_EQ(pane.selection(), bounds(2, 2, 3, 3));
    pane.setActiveSheet(1);
    EXPECT_EQ(pane.selection(), bounds(5, 5, 6, 6));
}

TEST(SheetPane, WritingAResultClearsTheSheetNamesItAndShowsMergesAndFills) {
    SheetPane pane;
    ASSERT_TRUE(pane.model()->setCellText(30, 10, QStringLiteral("old")));
    RowTable table = test::makeTable({{"h1", "h2", "h3"}, {"x", "y", "z"}});
    test::makeAnchor(table[0][0], 1, 2);
    table[0][1].mergeState = MergeState::Covered;
    table[1][1].fillColorIndex = Fill::Red;
    table[1][2].fillColorIndex = Fill::Yellow;
    CellRecord separator;
    separator.mergeState = MergeState::TextOnly;
    separator.text = SharedText(u"7");
    separator.fillColorIndex = Fill::LightTurquoise;
    table[1].push_back(separator);

    NullProgress progress;
    ASSERT_TRUE(pane.writeResult(1, QStringLiteral("对比结果"), table, progress, 1).isOk());
    EXPECT_EQ(pane.tabBar()->tabText(0), QStringLiteral("对比结果"));
    EXPECT_EQ(test::sheetText(pane.workbook(), pane.activeSheet(), 2, 4),
              QStringLiteral("h1:0[1x2] . h3:0 .\nx:0 y:3 z:6 7:20"));
    EXPECT_EQ(pane.activeSheet().cell(30, 10), nullptr);
    EXPECT_EQ(pane.view()->columnSpan(0, 0), 2);
    EXPECT_EQ(role(pane, 1, 1, Qt::BackgroundRole).value<QBrush>().color(), QColor(paletteColor(Fill::Red)));
    // A written number text becomes a number only when nothing of it is lost.
    EXPECT_EQ(pane.activeSheet().cell(1, 3)->value.type(), CellValue::Type::Number);

    // Sheet 5 of a three-sheet workbook: sheets are added; the first keeps its content.
    ASSERT_TRUE(pane.writeResult(5, QStringLiteral("e"), test::makeTable({{"q"}}), progress, 1).isOk());
    EXPECT_EQ(pane.sheetCount(), 5);
    EXPECT_EQ(pane.tabBar()->count(), 5);
    EXPECT_EQ(pane.tabBar()->tabText(4), QStringLiteral("e"));
    EXPECT_EQ(pane.tabBar()->tabText(3), QStringLiteral("Sheet4"));
    EXPECT_EQ(shown(pane, 1, 2), QStringLiteral("z"));
}

TEST(SheetPane, ClearRenameAndAddSheets) {
    SheetPane pane;
    ASSERT_TRUE(pane.model()->setCellText(0, 0, QStringLiteral("a")));
    pane.renameSheet(1, QStringLiteral("名单"));
    EXPECT_EQ(pane.tabBar()->tabText(0), QStringLiteral("名单"));
    pane.clearSheet(1);
    EXPECT_EQ(shown(pane, 0, 0), QString());
    EXPECT_EQ(pane.addSheet(QStringLiteral("新表")), 4);
    EXPECT_EQ(pane.tabBar()->tabText(3), QStringLiteral("新表"));
}

TEST(SheetPane, ManyMergedAreasAreShownNearTheView) {
    Workbook book;
    Sheet sheet;
    sheet.name = QStringLiteral("many");
    for (int r = 0; r < 20000; r += 2) {
        sheet.cellAt(r, 0).value = CellValue::fromString(SharedText(QStringLiteral("m%1").arg(r)));
        sheet.merges.push_back(CellRange{r, 0, r + 1, 1});
    }
    book.sheets.push_back(std::move(sheet));
    SheetPane pane;
    pane.resize(600, 400);
    pane.setWorkbook(std::move(book));
    EXPECT_EQ(pane.view()->rowSpan(0, 0), 2);
    EXPECT_EQ(pane.view()->columnSpan(0, 0), 2);
    EXPECT_EQ(pane.view()->rowSpan(15000, 0), 1); // far away: not a span yet
    pane.select(bounds(1, 15001, 1, 15001));
    EXPECT_EQ(pane.view()->rowSpan(15000, 0), 2);
    EXPECT_EQ(shown(pane, 15000, 0), QStringLiteral("m15000"));
}

TEST(SheetPane, ExportsTheWholeWorkbookAndReadsItBack) {
    QTemporaryDir dir;
    SheetPane pane;
    RowTable table = test::makeTable({{"名称", "数量"}, {"苹果", "3"}});
    table[1][1].fillColorIndex = Fill::BrightGreen;
    NullProgress progress;
    ASSERT_TRUE(pane.writeResult(1, QStringLiteral("对比结果"), table, progress, 1).isOk());
    for (FileKind kind : {FileKind::Xlsx, FileKind::Xls}) {
        const QString path =
            dir.filePath(kind == FileKind::Xlsx ? QStringLiteral("out.xlsx") : QStringLiteral("out.xls"));
        ASSERT_TRUE(pane.exportWorkbook(path, kind).isOk());
        SheetPane back;
        ASSERT_TRUE(back.loadFile(path).isOk());
        EXPECT_EQ(back.sheetCount(), 3);
        EXPECT_EQ(back.workbook().sheets[0].name, QStringLiteral("对比结果"));
        EXPECT_EQ(test::sheetText(back.workbook(), back.workbook().sheets[0], 2, 2),
                  QStringLiteral("名称:0 数量:0\n苹果:0 3:4"));
    }
    const Status failed =
        pane.exportWorkbook(dir.filePath(QStringLiteral("missing/out.xlsx")), FileKind::Xlsx);
    EXPECT_FALSE(failed.isOk());
    EXPECT_TRUE(failed.message().contains(QStringLiteral("out.xlsx")));
}

TEST(SheetPane, AFailedLoadLeavesThePaneAsItWas) {
    SheetPane pane;
    ASSERT_TRUE(pane.loadFile(testDataPath(QStringLiteral("gui/staff1.xml"))).isOk());
    const Status status = pane.loadFile(testDataPath(QStringLiteral("broken/truncated.xml")));
    EXPECT_FALSE(status.isOk());
    EXPECT_TRUE(status.message().contains(QStringLiteral("truncated.xml")));
    EXPECT_EQ(pane.workbook().sheets[0].name, QStringLiteral("员工"));
    EXPECT_EQ(shown(pane, 2, 0), QStringLiteral("A001"));
}

namespace {

// Records what the view hands the style to draw for each cell: the text after the delegate
// chose it, the cell's rectangle and font.
class RecordingStyle : public QProxyStyle {
public:
    struct Drawn {
        QString text;
        QRect rect;
        QFont font;
    };
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element == CE_ItemViewItem)
            if (const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option))
                drawn[{item->index.row(), item->index.column()}] = Drawn{item->text, item->rect, item->font};
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable std::map<std::pair<int, int>, Drawn> drawn;
};

} // namespace

TEST(SheetPane, NarrowColumnsNeverShowNumbersOrDatesCut) {
    RecordingStyle style; // outlives the pane that draws with it
    SheetPane pane;
    pane.setExtent(20, 5);
    pane.resize(900, 500);
    NullProgress progress;
    const QString longText = QStringLiteral("一段很长很长的说明文字");
    ASSERT_TRUE(pane.writeResult(1, QStringLiteral("结果"),
                                 test::makeTable({{"20257.500000"},
                                                  {"1234567890"},
                                                  {"0.000123"},
                                                  {"2019/3/1"},
                                                  {"2026/12/7 9:05:07"},
                                                  {longText}}),
                                 progress, 1)
                    .isOk());
    // The model keeps the full texts; only the drawing shortens them.
    EXPECT_EQ(shown(pane, 0, 0), QStringLiteral("20257.5"));
    EXPECT_EQ(shown(pane, 3, 0), QStringLiteral("2019/3/1"));

    QTableView* view = pane.view();
    view->setStyle(&style);
    const int padding = CellDelegate::textPadding(view);
    std::optional<QFontMetricsF> cellMetrics;
    int cellWidth = 0; // the column less its grid line
    auto drawAt = [&](int pixels) {
        view->setColumnWidth(0, pixels);
        style.drawn.clear();
        view->grab();
        std::vector<QString> texts;
        for (int row = 0; row < 6; ++row) {
            const auto it = style.drawn.find({row, 0});
            EXPECT_NE(it, style.drawn.end()) << "row " << row << " at " << pixels;
            texts.push_back(it == style.drawn.end() ? QString() : it->second.text);
            if (it != style.drawn.end()) {
                cellWidth = it->second.rect.width();
                cellMetrics.emplace(it->second.font);
            }
        }
        return texts;
    };
    // Wide enough: everything as the model shows it.
    std::vector<QString> texts = drawAt(400);
    ASSERT_TRUE(cellMetrics);
    const QFontMetricsF metrics = *cellMetrics;
    const int gridLine = 400 - cellWidth;
    EXPECT_EQ(texts, (std::vector<QString>{"20257.5", "1234567890", "0.000123", "2019/3/1",
                                           "2026/12/7 9:05:07", longText}));

    auto widthFor = [&](const char* text) {
        return int(std::ceil(metrics.horizontalAdvance(QLatin1String(text)))) + padding + gridLine;
    };
    // Rounded, then shorter still, never a partial number.
    EXPECT_EQ(drawAt(widthFor("20258"))[0], QStringLiteral("20258"));
    EXPECT_EQ(drawAt(widthFor("1.2E+09"))[1], QStringLiteral("1.2E+09"));
    EXPECT_EQ(drawAt(widthFor("0.0001"))[2], QStringLiteral("0.0001"));

    // At every width: a number is one of its narrow forms and fits, a date fits or is all
    // "#", the text is handed over whole when it fits.
    for (int pixels = 8; pixels <= 160; pixels += 3) {
        texts = drawAt(pixels);
        const qreal room = cellWidth - padding;
        for (int row = 0; row < 5; ++row) {
            const QString& t = texts[size_t(row)];
            const bool hashes = !t.isEmpty() && t.count(u'#') == t.size();
            if (hashes) {
                EXPECT_TRUE(t.size() == 1 || metrics.horizontalAdvance(t) <= room)
                    << t.toStdString() << " at " << pixels;
                continue;
            }
            EXPECT_LE(metrics.horizontalAdvance(t), room) << t.toStdString() << " at " << pixels;
            const std::vector<QString> forms = pane.model()->narrowTexts(row, 0);
            EXPECT_NE(std::find(forms.begin(), forms.end(), t), forms.end())
                << t.toStdString() << " at " << pixels;
        }
        if (room < metrics.horizontalAdvance(QLatin1String("2019/3/1")))
            EXPECT_EQ(texts[3], QString(texts[3].size(), u'#')) << pixels;
        // A text too long for its cell is left to the view, which runs it on over the empty
        // cells beside it (TextOverflow); one that fits the cell draws itself.
        if (metrics.horizontalAdvance(longText) <= room)
            EXPECT_EQ(texts[5], longText) << pixels;
        else
            EXPECT_TRUE(texts[5].isEmpty()) << pixels;
    }
}

TEST(SheetPane, TypedDatesBecomeDateCellsShowingWhatWasTyped) {
    SheetPane pane;
    const QModelIndex cell = pane.model()->index(1, 1);
    ASSERT_TRUE(pane.model()->setData(cell, QStringLiteral("2019/3/1 8:30:00")));
    const Cell* stored = pane.activeSheet().cell(1, 1);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->value.type(), CellValue::Type::DateTime);
    EXPECT_EQ(pane.workbook().styles[stored->style].numberFormat, QStringLiteral("yyyy/m/d h:mm:ss"));
    EXPECT_EQ(shown(pane, 1, 1), QStringLiteral("2019/3/1 8:30:00"));
    EXPECT_EQ(role(pane, 1, 1, Qt::EditRole).toString(), QStringLiteral("2019/3/1 8:30:00"));
    // A cell that already shows dates keeps its own format.
    ASSERT_TRUE(pane.model()->setData(cell, QStringLiteral("2019/3/2")));
    EXPECT_EQ(pane.workbook().styles[pane.activeSheet().cell(1, 1)->style].numberFormat,
              QStringLiteral("yyyy/m/d h:mm:ss"));
    EXPECT_EQ(shown(pane, 1, 1), QStringLiteral("2019/3/2 0:00:00"));
    ASSERT_TRUE(pane.model()->setData(cell, QStringLiteral("2019-3-1")));
    EXPECT_EQ(pane.activeSheet().cell(1, 1)->value.type(), CellValue::Type::String);
}
