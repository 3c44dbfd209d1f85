// Cancelling while a big file is read, while page subtotals read and write their working file,
// and inside the table cores that have no progress of their own: each stops at its own
// cancellation points (not only at the end of its step), ends with Status::cancelled(), and the
// caller's workbook, the target file and the folder stay as they were.

#include "base/Progress.h"
#include "forms/FormPages.h"
#include "table/BlankRows.h"
#include "table/ConditionalQuery.h"
#include "table/ExchangeSort.h"
#include "table/Filter.h"
#include "table/GroupSum.h"
#include "table/PageSubtotals.h"
#include "table/compare/RowAlignment.h"
#include "tests/TestSupport.h"
#include "workbook/WorkbookFormat.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

using namespace quellar;

namespace {

// The amounts run over the edges of what a cell holds; names are long full-width texts.
const char* const kAmounts[] = {
    "10000000", "123456789012345", "1234567890123456", "0.30000000000000004", "-0", "1e-7"};
constexpr int kAmountCount = int(std::size(kAmounts));
const std::string kLongName = "全角文字的很长的姓名（ＡＢＣ１２３）";

std::string nameOf(int r) {
    return kLongName + std::to_string(r);
}

// A staff list of `rows` records (编号, 姓名, 金额) as CSV text.
QByteArray staffCsv(int rows) {
    std::string text = "编号,姓名,金额\r\n";
    text.reserve(size_t(rows) * 80);
    for (int r = 0; r < rows; ++r)
        text += std::to_string(100000 + r) + ',' + nameOf(r) + ',' + kAmounts[r % kAmountCount] + "\r\n";
    return QByteArray::fromStdString(text);
}

// The same list as an XML Spreadsheet document, sheet 名单.
QByteArray staffXml(int rows) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
                       "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\">\n"
                       "<Worksheet ss:Name=\"名单\"><Table>\n"
                       "<Row><Cell><Data ss:Type=\"String\">编号</Data></Cell>"
                       "<Cell><Data ss:Type=\"String\">姓名</Data></Cell>"
                       "<Cell><Data ss:Type=\"String\">金额</Data></Cell></Row>\n";
    text.reserve(size_t(rows) * 200);
    for (int r = 0; r < rows; ++r) {
        text += "<Row><Cell><Data ss:Type=\"Number\">" + std::to_string(100000 + r) + "</Data></Cell>";
        text += "<Cell><Data ss:Type=\"String\">" + nameOf(r) + "</Data></Cell>";
        text += std::string("<Cell><Data ss:Type=\"Number\">") + kAmounts[r % kAmountCount] +
                "</Data></Cell></Row>\n";
    }
    text += "</Table></Worksheet></Workbook>\n";
    return QByteArray::fromStdString(text);
}

// A .xls workbook of `sheets` full sheets (65,536 rows, the format's limit) of the list.
Workbook staffSheets(int sheets) {
    Workbook book = Workbook::makeDefault();
    book.sheets.clear();
    for (int s = 0; s < sheets; ++s) {
        Sheet& sheet = book.sheets.emplace_back();
        sheet.name = QStringLiteral("名单%1").arg(s + 1);
        sheet.rows.resize(65536);
        for (int r = 0; r < 65536; ++r) {
            SheetRow& row = sheet.rows[size_t(r)];
            row.index = r;
            row.cells.resize(3);
            for (uint32_t c = 0; c < 3; ++c)
                row.cells[c].column = c;
            row.cells[0].value = CellValue::fromNumber(100000 + r);
            row.cells[1].value = CellValue::fromString(SharedText(QString::fromStdString(nameOf(r))));
            row.cells[2].value = CellValue::fromNumber(QByteArray(kAmounts[r % kAmountCount]).toDouble());
        }
    }
    return book;
}

// The workbook the caller had before: a read that does not complete must leave it as it is,
// down to where its rows are kept.
struct EarlierBook {
    Workbook book = Workbook::makeDefault();
    const void* rows = nullptr;
    EarlierBook() {
        book.sheets[0].rowAt(0).cells.emplace_back().value = CellValue::fromString(SharedText(u"上次的"));
        rows = book.sheets[0].rows.data();
    }
    bool unchanged() const {
        return book.sheets.size() == 3 && book.sheets[0].rows.data() == rows &&
               book.sheets[0].rows[0].cells[0].value.text() == QStringLiteral("上次的");
    }
};

// Runs `work` on this thread under a cancel flag that is raised `delay` in (already raised for
// a zero delay) from another thread.
Status cancelledAfter(std::chrono::milliseconds delay, const std::function<Status()>& work) {
    std::atomic<bool> flag{delay.count() == 0};
    std::thread raiser([&] {
        std::this_thread::sleep_for(delay);
        flag = true;
    });
    Status status;
    {
        const cancellation::Scope scope(&flag);
        status = runGuarded(work);
    }
    raiser.join();
    return status;
}

QStringList filesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

class ReaderCancellation : public ::testing::Test {
protected:
    // Reads `path` cancelled at once and a moment in, then whole without a cancel.
    void expectCancelledThenWhole(const QString& path, size_t sheets, size_t rowsPerSheet) {
        for (const int delay : {0, 10}) {
            EarlierBook earlier;
            const Status status = cancelledAfter(std::chrono::milliseconds(delay),
                                                 [&] { return readWorkbook(path, earlier.book); });
            EXPECT_EQ(status.code(), Status::Code::Cancelled)
                << delay << " " << status.message().toStdString();
            // A cancellation is no failure of the file: nothing names it.
            EXPECT_TRUE(status.message().isEmpty()) << status.message().toStdString();
            EXPECT_TRUE(earlier.unchanged()) << delay;
        }
        // The flag installed but down: the file reads whole, as without one.
        std::atomic<bool> down{false};
        const cancellation::Scope scope(&down);
        Workbook book;
        ASSERT_TRUE(readWorkbook(path, book).isOk());
        ASSERT_EQ(book.sheets.size(), sheets);
        const Sheet& last = book.sheets.back();
        ASSERT_EQ(last.rows.size(), rowsPerSheet);
        const SheetRow& row = last.rows.back();
        ASSERT_EQ(row.cells.size(), 3u);
        const int r = int(row.cells[0].value.number()) - 100000;
        EXPECT_EQ(r, int(rowsPerSheet) - 1 - (sheets == 1 ? 1 : 0));
        EXPECT_EQ(row.cells[1].value.text(), QString::fromStdString(nameOf(r)));
        // CSV keeps 1e-7 as the text it is typed as; the other formats hold the number.
        const CellValue& amount = row.cells[2].value;
        if (amount.type() == CellValue::Type::Number)
            EXPECT_EQ(amount.number(), QByteArray(kAmounts[r % kAmountCount]).toDouble());
        else
            EXPECT_EQ(amount.text(), QString::fromLatin1(kAmounts[r % kAmountCount]));
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(ReaderCancellation, TheCsvReaderStopsAndTheCallersWorkbookStays) {
    const QString path = dir.filePath(QStringLiteral("名单.csv"));
    ASSERT_TRUE(test::writeBytes(path, staffCsv(300000)));
    expectCancelledThenWhole(path, 1, 300001);
}

TEST_F(ReaderCancellation, TheXmlSpreadsheetReaderStopsAndTheCallersWorkbookStays) {
    const QString path = dir.filePath(QStringLiteral("名单.xml"));
    ASSERT_TRUE(test::writeBytes(path, staffXml(300000)));
    expectCancelledThenWhole(path, 1, 300001);
}

TEST_F(ReaderCancellation, TheXlsReaderStopsAndTheCallersWorkbookStays) {
    const QString path = dir.filePath(QStringLiteral("名单.xls"));
    ASSERT_TRUE(writeWorkbook(staffSheets(4), path, FileKind::Xls).isOk());
    expectCancelledThenWhole(path, 4, 65536);
}

TEST_F(ReaderCancellation, AFailedReadLeavesTheCallersWorkbookToo) {
    const QString path = dir.filePath(QStringLiteral("坏的.csv"));
    ASSERT_TRUE(test::writeBytes(path, QByteArray("a,b\r\n1,\"never closed\r\n")));
    EarlierBook earlier;
    const Status status = readWorkbook(path, earlier.book);
    EXPECT_EQ(status.code(), Status::Code::InvalidInput);
    EXPECT_TRUE(status.message().contains(QStringLiteral("引号没有闭合"))) << status.message().toStdString();
    EXPECT_TRUE(earlier.unchanged());
}

TEST_F(ReaderCancellation, PageSubtotalsStopInReadingAndInWritingAndLeaveNoFile) {
    const QString xml = dir.filePath(QStringLiteral("1.xml"));
    ASSERT_TRUE(test::writeBytes(xml, staffXml(200000)));
    for (const int delay : {0, 10}) {
        const Status status = cancelledAfter(std::chrono::milliseconds(delay), [&] {
            return readPageSheet(xml, QStringLiteral("名单")).status();
        });
        EXPECT_EQ(status.code(), Status::Code::Cancelled) << delay;
    }
    Result<PageSheet> sheet = readPageSheet(xml, QStringLiteral("名单"));
    ASSERT_TRUE(sheet.isOk()) << sheet.status().message().toStdString();
    ASSERT_EQ(sheet.value().fieldRow, 0);
    ASSERT_EQ(sheet.value().dataRows(), 200000);

    PageSubtotalOptions options;
    options.rowsPerPage = 40;
    options.sumColumns = {2};
    const QString target = dir.filePath(QStringLiteral("3.xml"));
    ASSERT_TRUE(test::writeBytes(target, QByteArray("earlier")));
    for (const int delay : {0, 10}) {
        const Status status = cancelledAfter(std::chrono::milliseconds(delay), [&] {
            return writePageSubtotals(sheet.value(), options, target);
        });
        EXPECT_EQ(status.code(), Status::Code::Cancelled) << delay;
        EXPECT_EQ(test::bytesOf(target), QByteArray("earlier"));
        EXPECT_EQ(filesIn(dir), (QStringList{QStringLiteral("1.xml"), QStringLiteral("3.xml")}))
            << filesIn(dir).join(u' ').toStdString();
    }
    // Not cancelled, the subtotals are written: 5,000 subtotal rows and the grand total.
    PageSubtotalInfo info;
    ASSERT_TRUE(writePageSubtotals(sheet.value(), options, target, &info).isOk());
    EXPECT_EQ(info.subtotalRows, 5000);
    EXPECT_EQ(info.writtenRows, 200000 + 1 + 5000 + 1);
}

// The cores' own loops, before any result phase: each throws WorkCancelled out of its pure
// function, so nothing of a result is handed on.
TEST(CoreCancellation, TheTableCoresStopInTheirOwnLoops) {
    std::vector<QStringList> cells{{QStringLiteral("部门"), QStringLiteral("姓名"), QStringLiteral("金额")}};
    // 70,000 rows of three fields: a condition page works out its value lists on helper threads.
    for (int r = 0; r < 70000; ++r)
        cells.push_back({QStringLiteral("部门%1").arg(r % 300), QString::fromStdString(nameOf(r)),
                         QString::fromLatin1(kAmounts[r % kAmountCount])});
    const RowTable table = test::makeTable(cells);
    const QString summed = QStringLiteral("C (金额)");
    const std::vector<std::pair<const char*, std::function<void()>>> cores{
        {"blank rows", [&] { (void)insertBlankRows(table, 2); }},
        {"group sum", [&] { (void)groupSum(table, {QStringLiteral("部门")}, {summed}); }},
        {"filter",
         [&] { (void)filterTables(table, table, {QStringLiteral("部门")}, {QStringLiteral("部门7")}); }},
        {"query", [&] { (void)conditionalQuery(table, QStringLiteral("部门|=|部门7|and")); }},
        {"row alignment",
         [&] {
             // Every 50th row changed: many gaps between equal rows, each paired by similarity.
             RowTable changed = table;
             for (size_t r = 1; r < changed.size(); r += 50)
                 changed[r][2].text = SharedText(u"1");
             (void)alignRows(table, changed, {{0, 0, {}}, {1, 1, {}}, {2, 2, {}}}, CompareOptions(), 0, 0);
         }},
        {"query page", [&] { (void)buildQueryPage(table); }},
        {"summary",
         [&] {
             (void)conditionalSummary(table, QStringLiteral("金额|>|-1|and"), QStringLiteral("部门"), summed);
         }},
    };
    std::atomic<bool> flag{true};
    for (const auto& [name, run] : cores) {
        {
            const cancellation::Scope scope(&flag);
            EXPECT_THROW(run(), WorkCancelled) << name;
        }
        EXPECT_NO_THROW(run()) << name; // no flag, no cancel
    }
    // The exchange sort run literally on a mixture: up to n²/2 comparisons, cancelled in between.
    std::vector<int> values(5000);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = int((i * 7919) % 5000);
    const cancellation::Scope scope(&flag);
    EXPECT_THROW(exchangeSortLiteral(values, std::less<int>()), WorkCancelled);
}
