// Workbook comparison: sheets paired by exact name, pair k into result sheet k, skipped
// pairs keeping their number, positional comparison, progress and the report blocks.

#include "table/compare/Report.h"
#include "table/compare/WorkbookComparison.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

namespace quellar {
namespace {

using test::tableText;

struct SheetSpec {
    QString name;
    QString cells; // "a,b;1,2": rows by ";", cells by ","; empty text leaves the cell out
};

Workbook makeBook(const std::vector<SheetSpec>& specs) {
    Workbook book;
    for (const SheetSpec& spec : specs) {
        Sheet sheet;
        sheet.name = spec.name;
        if (!spec.cells.isEmpty()) {
            const QStringList rows = spec.cells.split(u';');
            for (int r = 0; r < rows.size(); ++r) {
                const QStringList cells = rows[r].split(u',');
                for (int c = 0; c < cells.size(); ++c)
                    if (!cells[c].isEmpty())
                        sheet.cellAt(r, c).value = CellValue::fromString(SharedText(cells[c]));
            }
        }
        book.sheets.push_back(std::move(sheet));
    }
    return book;
}

QString pairsText(const std::vector<BookComparePair>& pairs) {
    QStringList out;
    for (const BookComparePair& p : pairs)
        out.append(QStringLiteral("%1:%2%3 rows %4 red %5 yellow %6 green %7")
                       .arg(p.sheetNumber)
                       .arg(p.name, p.skipped ? QStringLiteral(" skipped") : QString())
                       .arg(p.counts.differentRows)
                       .arg(p.counts.redCells)
                       .arg(p.counts.yellowCells)
                       .arg(p.counts.greenCells));
    return out.join(QStringLiteral("; "));
}

QString sinkText(const test::RecordingSink& sink) {
    QStringList out;
    for (const auto& [number, written] : sink.sheets)
        out.append(QStringLiteral("[%1 %2]\n%3").arg(number).arg(written.name, tableText(written.table)));
    return out.join(u'\n');
}

struct BookCase {
    const char* name;
    std::vector<SheetSpec> file1, file2;
    CompareOptions options;
    QString pairs;  // pairsText
    QString sheets; // sinkText
};

TEST(CompareWorkbooks, PairsSheetsByExactName) {
    const CompareOptions text; // compare text only
    const std::vector<BookCase> cases = {
        {"file 1 order, then file 2 order; unmatched sheets not compared",
         {{"a", "k,v;1,x"}, {"b", "k;1"}, {"c", "k,v;2,y"}},
         {{"c", "k,v;2,z"}, {"a", "k,v;1,x"}},
         text,
         "1:a rows 0 red 0 yellow 0 green 0; 2:c rows 1 red 2 yellow 0 green 0",
         "[1 a]\nk:2 v:2 1*20 k:2 v:2\n1:2 x:2 2*20 1:2 x:2\n"
         "[2 c]\nk:2 v:2 1*20 k:2 v:2\n2:2 y:3 2*20 2:2 z:3"},
        {"an empty or single-cell sheet skips its pair but keeps its number",
         {{"e", ""}, {"one", "x"}, {"f", "a;1"}},
         {{"f", "a;2"}, {"one", "a,b;c,d"}, {"e", "a;1"}},
         text,
         "1:e skipped rows 0 red 0 yellow 0 green 0; 2:one skipped rows 0 red 0 yellow 0 green 0; "
         "3:f rows 1 red 2 yellow 0 green 0",
         "[3 f]\na:2 1*20 a:2\n1:3 2*20 2:3"},
        {"a single cell in file 2 skips too",
         {{"s", "a,b;1,2"}},
         {{"s", "  x"}},
         text,
         "1:s skipped rows 0 red 0 yellow 0 green 0",
         ""},
        {"names differing in case are not paired", {{"Sheet1", "a;1"}}, {{"sheet1", "a;1"}}, text, "", ""},
        {"no sheets at all", {}, {}, text, "", ""},
        {"only ignore case: only cells without a partner are marked",
         {{"s", "a,b;1,2"}},
         {{"s", "x;y;z"}},
         CompareOptions{false, false, false, true, true},
         "1:s rows 3 red 0 yellow 2 green 1",
         "[1 s]\na:2 b:6 1*20 x:2\n1:2 2:6 2*20 y:2\n~ ~ 3*20 z:4"},
        {"always positional, even with key mode set",
         {{"s", "k;2;1"}},
         {{"s", "k;1;2"}},
         CompareOptions{true, false, false, false, true},
         "1:s rows 2 red 4 yellow 0 green 0",
         "[1 s]\nk:2 1*20 k:2\n2:3 2*20 1:3\n1:3 3*20 2:3"},
        {"sheets without a field row compare by position",
         {{"s", "x,x;1,"}},
         {{"s", "x,x;1,2"}},
         text,
         "1:s rows 1 red 2 yellow 0 green 0",
         "[1 s]\nx:2 x:2 1*20 x:2 x:2\n1:2 :3 2*20 1:2 2:3"},
    };
    for (const BookCase& c : cases) {
        const Workbook b1 = makeBook(c.file1), b2 = makeBook(c.file2);
        test::RecordingSink sink;
        NullProgress progress;
        QString report = QStringLiteral("from an earlier comparison");
        std::vector<BookComparePair> pairs;
        ASSERT_TRUE(compareWorkbooks(b1, b2, c.options, sink, report, progress, &pairs)) << c.name;
        EXPECT_EQ(pairsText(pairs).toStdString(), c.pairs.toStdString()) << c.name;
        EXPECT_EQ(sinkText(sink).toStdString(), c.sheets.toStdString()) << c.name;

        QString expectedReport;
        for (const BookComparePair& p : pairs)
            if (!p.skipped) expectedReport += reportRows(p.name, p.counts);
        EXPECT_EQ(report.toStdString(), expectedReport.toStdString()) << c.name;
    }
}

TEST(CompareWorkbooks, NothingChosenReadsAndWritesNothing) {
    const Workbook b1 = makeBook({{"s", "a;1"}}), b2 = makeBook({{"s", "a;2"}});
    test::RecordingSink sink;
    NullProgress progress;
    QString report = QStringLiteral("kept");
    const Status status = compareWorkbooks(b1, b2, CompareOptions{false, false, false, false, false}, sink,
                                           report, progress, nullptr);
    EXPECT_EQ(status.code(), Status::Code::Cancelled);
    EXPECT_TRUE(sink.sheets.empty());
    EXPECT_EQ(report, QStringLiteral("kept"));
}

TEST(CompareWorkbooks, ProgressReadsThenRunsPerPair) {
    // Ranges of 40 and 70 rows: N = 39 + 69 = 108, step 1 while reading; the result has 70
    // rows (table 2 longer), written with step 1.
    QStringList rows40, rows70;
    for (int i = 0; i < 40; ++i)
        rows40.append(QString::number(i));
    for (int i = 0; i < 70; ++i)
        rows70.append(QString::number(i));
    const Workbook b1 = makeBook({{"s", rows40.join(u';')}}), b2 = makeBook({{"s", rows70.join(u';')}});
    test::RecordingSink sink;
    test::RecordingProgress progress;
    QString report;
    ASSERT_TRUE(compareWorkbooks(b1, b2, CompareOptions{}, sink, report, progress, nullptr));
    EXPECT_EQ(progress.texts, (QStringList{"init", "run"}));
    EXPECT_EQ(progress.ranges, (std::vector<int64_t>{108, 70}));
    EXPECT_EQ(progress.steps, (std::vector<int64_t>{1, 1}));
    EXPECT_EQ(progress.position(), 70);
    ASSERT_EQ(sink.sheets.count(1), 1u);
    EXPECT_EQ(sink.sheets[1].table.size(), 70u);
}

class FailOnSecondSink : public ResultSink {
public:
    Status writeResult(int sheetNumber, const QString&, const RowTable&, Progress&, int64_t) override {
        written.push_back(sheetNumber);
        if (written.size() == 2) return Status::ioError(QStringLiteral("结果工作表写入失败"));
        return Status::ok();
    }
    std::vector<int> written;
};

TEST(CompareWorkbooks, SinkFailureEndsTheComparisonNamingTheSheet) {
    const Workbook b1 = makeBook({{"a", "k;1"}, {"b", "k;1"}, {"c", "k;1"}});
    const Workbook b2 = makeBook({{"a", "k;1"}, {"b", "k;1"}, {"c", "k;1"}});
    FailOnSecondSink sink;
    NullProgress progress;
    QString report;
    const Status status = compareWorkbooks(b1, b2, CompareOptions{}, sink, report, progress, nullptr);
    ASSERT_FALSE(status);
    EXPECT_TRUE(status.message().contains(QStringLiteral("“b”"))) << status.message().toStdString();
    EXPECT_EQ(sink.written, (std::vector<int>{1, 2}));
}

} // namespace
} // namespace quellar
