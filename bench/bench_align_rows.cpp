// Benchmark of the by-position comparison with inserted and deleted rows recognised
// (--align-rows) against the plain by-position comparison, on the core:
//  - the edited pair: a generated table and the same with every 97th row deleted, every
//    100th row's 数量 changed and 1% new rows appended (deriveEditedTable), where the aligned
//    comparison must find 10,309 rows only in file 1, 10,000 only in file 2 and 9,897
//    differing cells on a million rows;
//  - two completely different tables of the same size.
// Each comparison runs three times; the median and the range are printed, with the ratio of
// the medians. --parallel builds results on two cores as quellar-cli does.
//
// Usage: bench_align_rows [ROWS] [--parallel]   (default 1,000,000 data rows + the field row)

#include "bench/TableGenerator.h"
#include "table/ParallelRows.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/Comparison.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quellar;

namespace {

struct Timing {
    double median = 0, low = 0, high = 0;
};

// Three runs of one comparison; the statistics of the last are left in `statistics`.
Timing timeComparison(const char* label, const RowTable& t1, const RowTable& t2, bool align,
                      CompareStatistics& statistics, CompareCounts& counts) {
    std::vector<double> seconds;
    for (int run = 0; run < 3; ++run) {
        RowTable c1 = t1, c2 = t2; // the core consumes its tables; copied before the clock starts
        CompareOptions options;
        options.keyMode = false;
        options.alignRows = align;
        QElapsedTimer timer;
        timer.start();
        Result<RowTable> result =
            compareTables(std::move(c1), std::move(c2), options, {}, &counts, nullptr, &statistics);
        seconds.push_back(bench::seconds(timer));
        if (!result.isOk()) {
            std::printf("%s failed: %s\n", label, qPrintable(result.status().message()));
            return {};
        }
    }
    std::sort(seconds.begin(), seconds.end());
    const Timing t{seconds[1], seconds[0], seconds[2]};
    std::printf("%-44s median %7.3f s (%.3f–%.3f)  only in 1: %lld, only in 2: %lld, differing cells: %lld, "
                "rows paired by position after a fallback: %lld, peak %.0f MB\n",
                label, t.median, t.low, t.high, (long long)statistics.onlyInFile1,
                (long long)statistics.onlyInFile2, (long long)statistics.cellsDiffering,
                (long long)counts.unalignedRows, bench::peakMemoryMB());
    std::fflush(stdout);
    return t;
}

void comparePair(const char* name, const RowTable& t1, const RowTable& t2) {
    CompareStatistics statistics;
    CompareCounts counts;
    const Timing plain =
        timeComparison((std::string(name) + ", by position").c_str(), t1, t2, false, statistics, counts);
    const Timing aligned =
        timeComparison((std::string(name) + ", aligned rows").c_str(), t1, t2, true, statistics, counts);
    std::printf("%-44s %.2f× (range of the ratio %.2f–%.2f)\n\n",
                (std::string(name) + ", aligned / plain").c_str(), aligned.median / plain.median,
                aligned.low / plain.high, aligned.high / plain.low);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int64_t rows = 1000000;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--parallel")
            setParallelRowFloor(1 << 16);
        else
            rows = QByteArray(argv[i]).toLongLong();
    }
    bench::GeneratorOptions options;
    options.rows = rows;
    const RowTable base = bench::generateTable(options);
    {
        const RowTable edited = bench::deriveEditedTable(base);
        std::printf("edited pair: %zu and %zu rows x %d columns\n", base.size(), edited.size(),
                    options.columns);
        comparePair("edited pair", base, edited);
    }
    options.seed = 2;
    const RowTable other = bench::generateTable(options);
    comparePair("completely different pair", base, other);
    return 0;
}
