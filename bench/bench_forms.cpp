// Benchmark of the condition form pages and the conditional query and summary cores on a
// generated table (by default 1,048,575 data rows + the field row) whose columns hold 100,000
// distinct values each: whole numbers, Chinese texts, decimals with blanks, numbers and codes
// (numbers first, then texts), an interleaved mixture of numbers and texts (which takes the
// fallback order), and a region column with few values.
//
// Usage: bench_forms [ROWS] [REPEATS]
//
// Targets on 1,048,576 rows: building a page under 2 s; the query with three conditions
// under 1 s (the core).

#include "base/CellOps.h"
#include "bench/TableGenerator.h"
#include "forms/FormPages.h"
#include "table/ConditionalQuery.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

using namespace quellar;

namespace {

constexpr int kDistinct = 100000;

RowTable makeTable(int64_t rows) {
    std::mt19937_64 rng(2026);
    const QStringList regions = {QStringLiteral("华东"), QStringLiteral("华南"), QStringLiteral("华北"),
                                 QStringLiteral("西南"), QStringLiteral("东北"), QStringLiteral("西北")};
    auto cell = [](const QString& text) {
        CellRecord c;
        c.text = SharedText(text);
        c.mergeState = MergeState::Single;
        c.fillColorIndex = Fill::White;
        return c;
    };
    RowTable table;
    table.reserve(size_t(rows) + 1);
    Row header;
    for (const char16_t* name : {u"编号", u"名称", u"金额", u"代码", u"备注", u"地区"})
        header.push_back(cell(QString::fromUtf16(name)));
    table.push_back(header);
    for (int64_t r = 0; r < rows; ++r) {
        // The first 100,000 rows take every value once, so each column has all of them.
        const int v = r < kDistinct ? int(r) : int(rng() % kDistinct);
        Row row;
        row.reserve(6);
        row.push_back(cell(QString::number(v * 7 + 1)));
        row.push_back(cell(QStringLiteral("客户%1").arg(v, 6, 10, QChar(u'0'))));
        row.push_back(rng() % 32 == 0 && r >= kDistinct
                          ? CellRecord(cell(QString()))
                          : cell(QStringLiteral("%1.%2").arg(v / 10).arg(v % 10)));
        row.push_back(cell(v % 2 ? QString::number(v) : QStringLiteral("K%1").arg(v)));
        row.push_back(cell(v % 2 ? QString::number(v) : QStringLiteral("%1x").arg(v)));
        row.push_back(cell(regions[qsizetype(rng() % uint64_t(regions.size()))]));
        table.push_back(std::move(row));
    }
    return table;
}

struct Spread {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    void print(const char* label, const char* extra = "") {
        std::sort(values.begin(), values.end());
        std::printf("%-40s min %.3f s  median %.3f s  max %.3f s  (%zu runs)%s\n", label, values.front(),
                    values[values.size() / 2], values.back(), values.size(), extra);
    }
};

// Wall time of `work`; its processor time (all threads) is added to `cpu`.
double timed(const std::function<void()>& work, Spread* cpu = nullptr) {
    QElapsedTimer timer;
    const double cpuStart = bench::cpuSeconds();
    timer.start();
    work();
    const double wall = bench::seconds(timer);
    if (cpu) cpu->add(bench::cpuSeconds() - cpuStart);
    return wall;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int64_t rows = 1048575;
    int repeats = 5;
    if (argc > 1) rows = QByteArray(argv[1]).toLongLong();
    if (argc > 2) repeats = std::max(1, QByteArray(argv[2]).toInt());

    QElapsedTimer timer;
    timer.start();
    const RowTable table = makeTable(rows);
    std::printf(
        "generated %zu rows x 6 columns (%d distinct values in five of them) in %.2f s, peak %.0f MB\n",
        table.size(), kDistinct, bench::seconds(timer), bench::peakMemoryMB());

    QTemporaryDir dir;
    Spread query, summary, write, queryCpu, summaryCpu;
    FormPageInfo info;
    qsizetype length = 0;
    for (int i = 0; i < repeats; ++i) {
        QString page;
        query.add(timed([&] { page = buildQueryPage(table, &info).value(); }, &queryCpu));
        length = page.size();
        write.add(timed([&] { (void)writePageFile(dir.filePath(kQueryPageFile), page); }));
        summary.add(timed([&] { page = buildSummaryPage(table).value(); }, &summaryCpu));
    }
    char extra[200];
    std::snprintf(
        extra, sizeof extra, "  %d condition rows, %.1f M characters, fallback order in %lld field(s)",
        info.conditionRows, double(length) / 1e6, static_cast<long long>(info.fallbackOrderFields.size()));
    query.print("build query page", extra);
    queryCpu.print("  processor time");
    summary.print("build summary page");
    summaryCpu.print("  processor time");
    write.print("write query page (UTF-16 file)");

    const QString conditions = QString::fromUtf16(u"金额|>=|100|and|金额|<=|5000|and|地区|!=|华北|and");
    Spread core, filter, sum, coreCpu;
    int64_t matching = 0;
    for (int i = 0; i < repeats; ++i) {
        // The results are kept past the timing: freeing them is the caller's business.
        Result<RowTable> result = RowTable();
        core.add(timed(
            [&] {
                ConditionalQueryInfo found;
                result = conditionalQuery(table, conditions, &found);
                matching = found.matchingRows;
            },
            &coreCpu));
        int fieldRow = -1;
        const FieldList fields = findFieldRow(table, fieldRow);
        filter.add(timed([&] {
            const std::vector<QueryCondition> parsed =
                buildConditions(splitTokens(conditions).value(), fields).value();
            matching = int64_t(filterRows(table, fields, fieldRow, parsed).size());
        }));
        sum.add(timed([&] {
            result = conditionalSummary(table, conditions, QString::fromUtf16(u"地区"),
                                        QString::fromUtf16(u"C (金额)"));
        }));
    }
    std::snprintf(extra, sizeof extra, "  %lld matching rows", static_cast<long long>(matching));
    core.print("conditional query, 3 conditions (core)", extra);
    coreCpu.print("  processor time");
    filter.print("  of which testing the rows");
    sum.print("conditional summary by 地区 (core)");
    std::printf("peak memory %.0f MB\n", bench::peakMemoryMB());
    return 0;
}
