// Benchmark of the join, comparison filter, blank-row and group-summary cores on generated
// tables (by default 1,048,575 data rows + the field row, 10 columns).
//
// Usage: bench_operations [ROWS] [join] [filter] [blank] [sum] [functions]   (no names: all)
//
// Targets on 1,048,576 rows: join by one key and group summary by two fields (about 5,000
// first-level keys) under 3 s each; blank rows with count 2 under 1 s; the group summary
// with five columns holding the five functions (求和, 计数, 平均值, 最大值, 最小值) within
// 1.2 times the same summary with five sums.

#include "bench/TableGenerator.h"
#include "table/BlankRows.h"
#include "table/Filter.h"
#include "table/GroupSum.h"
#include "table/Join.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

using namespace quellar;

namespace {

// Processor time of this process since the last restart(), shown beside the wall time: on a
// busy machine it tells what the operation itself costs.
struct CpuClock {
    std::clock_t start = std::clock();
    void restart() { start = std::clock(); }
    double seconds() const { return double(std::clock() - start) / CLOCKS_PER_SEC; }
};
CpuClock cpu;

void report(const char* label, double elapsed, const Result<RowTable>& result, const char* extra = "") {
    if (!result.isOk()) {
        std::printf("%-46s failed: %s\n", label, qPrintable(result.status().message()));
        return;
    }
    std::printf("%-46s %7.3f s (cpu %.3f s)   result %zu rows%s, peak %.0f MB\n", label, elapsed,
                cpu.seconds(), result.value().size(), extra, bench::peakMemoryMB());
}

// Replaces the texts of `column` (data rows only) with one of `keys` group names, spread at
// random, so the summary has about that many first-level groups.
void setGroupKeys(RowTable& table, size_t column, int keys, uint64_t seed) {
    std::mt19937_64 rng(seed);
    for (size_t r = 1; r < table.size(); ++r)
        table[r][column].text =
            SharedText(QStringLiteral("组%1").arg(int(rng() % uint64_t(keys)), 4, 10, QChar(u'0')));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int64_t rows = 1048575;
    QSet<QByteArray> only;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        bool number = false;
        const qlonglong n = arg.toLongLong(&number);
        if (number)
            rows = n;
        else
            only.insert(arg);
    }
    auto wanted = [&](const char* name) { return only.isEmpty() || only.contains(name); };

    QElapsedTimer timer;
    timer.start();
    bench::GeneratorOptions options;
    options.rows = rows;
    const RowTable t1 = bench::generateTable(options);
    const RowTable t2 = bench::deriveTable(t1, 0.01, 0.01, 7);
    std::printf("generated two tables of %zu and %zu rows x %d columns in %.2f s, peak %.0f MB\n", t1.size(),
                t2.size(), options.columns, bench::seconds(timer), bench::peakMemoryMB());

    // Join by the key field, both option sets.
    for (const bool sum : {false, true}) {
        if (!wanted("join")) break;
        // The core consumes its tables; the copies are made before the clock starts.
        RowTable c1 = t1, c2 = t2;
        timer.restart();
        cpu.restart();
        JoinInfo info;
        Result<RowTable> joined =
            joinTables(std::move(c1), std::move(c2), {QStringLiteral("编号")}, JoinOptions{true, sum}, &info);
        const double elapsed = bench::seconds(timer);
        char extra[128];
        std::snprintf(extra, sizeof extra, ", %lld paired, %lld + %lld unpaired", (long long)info.pairedRows,
                      (long long)info.unpairedRowsOne, (long long)info.unpairedRowsTwo);
        report(sum ? "join core, 1 key, summing numbers" : "join core, 1 key", elapsed, joined, extra);
    }

    // Join by two fields with many repeated keys (region and department: 42 distinct keys).
    if (wanted("join")) {
        RowTable c1 = t1, c2 = t2;
        timer.restart();
        cpu.restart();
        Result<RowTable> joined =
            joinTables(std::move(c1), std::move(c2), {QStringLiteral("地区"), QStringLiteral("部门")},
                       JoinOptions{}, nullptr);
        report("join core, 2 fields, 42 distinct keys", bench::seconds(timer), joined);
    }

    // Filter on two fields.
    if (wanted("filter")) {
        timer.restart();
        cpu.restart();
        FilterInfo info;
        Result<RowTable> filtered = filterTables(t1, t2, {QStringLiteral("地区"), QStringLiteral("部门")},
                                                 {QStringLiteral("华东"), QStringLiteral("销售部")}, &info);
        report("filter core, 2 conditions", bench::seconds(timer), filtered);
    }

    // Blank rows, count 2; the copy handed to the core is made outside the timing.
    if (wanted("blank")) {
        RowTable copy = t1;
        timer.restart();
        cpu.restart();
        Result<RowTable> blank = insertBlankRows(std::move(copy), 2);
        report("blank rows core, count 2", bench::seconds(timer), blank);
    }

    // Group summary by two fields: about 5,000 first-level keys, then the region. Earlier
    // results are released before the clock starts.
    if (wanted("sum")) {
        RowTable grouped = t1;
        setGroupKeys(grouped, 9, 5000, 11);
        const QStringList groups = {QStringLiteral("备注"), QStringLiteral("地区")};
        const QStringList sums = {QStringLiteral("E (数量)"), QStringLiteral("F (单价)"),
                                  QStringLiteral("G (金额)")};
        RowTable copy = grouped;
        timer.restart();
        cpu.restart();
        GroupSumInfo info;
        Result<RowTable> summed = groupSum(std::move(copy), groups, sums, &info);
        char extra[96];
        std::snprintf(extra, sizeof extra, ", %lld subtotal rows", (long long)info.subtotalRows);
        report("group summary core, 2 fields, 3 sum columns", bench::seconds(timer), summed, extra);

        summed = Result<RowTable>(RowTable());
        copy = grouped;
        timer.restart();
        cpu.restart();
        summed = groupSum(std::move(copy), groups, {}, &info);
        std::snprintf(extra, sizeof extra, ", %zu automatic sum columns", info.sumColumns.size());
        report("group summary core, 2 fields, automatic sums", bench::seconds(timer), summed, extra);

        // One level of a million distinct keys, numbers and texts mixed (identifiers such as
        // 123456 and A123456): the group order follows the exchange sort swap by swap.
        summed = Result<RowTable>(RowTable());
        copy = t1;
        for (size_t r = 1; r < copy.size(); ++r)
            copy[r][0].text = SharedText(r % 2 ? QString::number(r) : QStringLiteral("A%1").arg(r));
        timer.restart();
        cpu.restart();
        summed = groupSum(std::move(copy), {QStringLiteral("编号")}, sums, &info);
        report("group summary core, 1M mixed distinct keys", bench::seconds(timer), summed);

        // Numeric first-level keys (quantities 0..499) and the department.
        summed = Result<RowTable>(RowTable());
        copy = t1;
        timer.restart();
        cpu.restart();
        summed = groupSum(std::move(copy), {QStringLiteral("数量"), QStringLiteral("部门")}, sums, &info);
        report("group summary core, numeric keys", bench::seconds(timer), summed);
    }

    // Five numeric columns (日期 and 状态 made number texts with thousands commas), summed, then
    // holding the five functions; three runs of each, interleaved, median and spread.
    if (wanted("functions")) {
        RowTable numeric = t1;
        setGroupKeys(numeric, 9, 5000, 11);
        std::mt19937_64 rng(5);
        for (size_t r = 1; r < numeric.size(); ++r) {
            numeric[r][7].text =
                SharedText(QStringLiteral("%1,%2.5").arg(rng() % 100).arg(rng() % 900 + 100));
            numeric[r][8].text = SharedText(QString::number(int(rng() % 20000) - 10000));
        }
        const QStringList groups = {QStringLiteral("备注"), QStringLiteral("地区")};
        const QStringList sumsOnly = {QStringLiteral("E (数量)"), QStringLiteral("F (单价)"),
                                      QStringLiteral("G (金额)"), QStringLiteral("H (日期)"),
                                      QStringLiteral("I (状态)")};
        const QStringList functions = {QStringLiteral("E (数量)"), QStringLiteral("F (单价)（计数）"),
                                       QStringLiteral("G (金额)（平均值）"),
                                       QStringLiteral("H (日期)（最大值）"),
                                       QStringLiteral("I (状态)（最小值）")};
        std::vector<double> times[2], cpuTimes[2];
        for (int run = 0; run < 3; ++run) {
            for (int variant = 0; variant < 2; ++variant) {
                RowTable copy = numeric;
                timer.restart();
                cpu.restart();
                Result<RowTable> summed = groupSum(std::move(copy), groups, variant ? functions : sumsOnly);
                times[variant].push_back(bench::seconds(timer));
                cpuTimes[variant].push_back(cpu.seconds());
                report(variant ? "group summary core, 5 columns, 5 functions"
                               : "group summary core, 5 columns, sums",
                       times[variant].back(), summed);
            }
        }
        for (int variant = 0; variant < 2; ++variant) {
            std::sort(times[variant].begin(), times[variant].end());
            std::sort(cpuTimes[variant].begin(), cpuTimes[variant].end());
        }
        std::printf(
            "5 columns, median of 3: sums %.3f s (%.3f-%.3f), 5 functions %.3f s (%.3f-%.3f), ratio %.2f\n",
            times[0][1], times[0][0], times[0][2], times[1][1], times[1][0], times[1][2],
            times[1][1] / times[0][1]);
        std::printf("  processor time, median of 3: sums %.3f s (%.3f-%.3f), 5 functions %.3f s (%.3f-%.3f), "
                    "ratio %.2f\n",
                    cpuTimes[0][1], cpuTimes[0][0], cpuTimes[0][2], cpuTimes[1][1], cpuTimes[1][0],
                    cpuTimes[1][2], cpuTimes[1][1] / cpuTimes[0][1]);
    }
    return 0;
}
