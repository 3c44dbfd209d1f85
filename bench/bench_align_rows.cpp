// Benchmark of the by-position comparison with inserted and deleted rows recognised
// (--align-rows) against the plain by-position comparison, on the core:
//  - the edited pair: a generated table and the same with every 97th row deleted, every
//    100th row's 数量 changed and 1% new rows appended (deriveEditedTable), where the aligned
//    comparison must find 10,309 rows only in file 1, 10,000 only in file 2 and 9,897
//    differing cells on a million rows;
//  - two completely different tables of the same size.
// Each comparison runs three times (without statistics, as quellar-cli without --summary);
// the median and the range are printed, with the ratio of the medians; then once more with
// statistics for what it found. --parallel builds results on two cores as quellar-cli does.
//
// Usage: bench_align_rows [ROWS] [--parallel]   (default 1,000,000 data rows + the field row)

#include "base/ParallelRows.h"
#include "bench/TableGenerator.h"
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

CompareOptions byPosition(bool align) {
    CompareOptions options;
    options.keyMode = false;
    options.alignRows = align;
    return options;
}

// Three timed runs of one comparison, as quellar-cli runs it without --summary.
Timing timeComparison(const std::string& label, const RowTable& t1, const RowTable& t2, bool align) {
    std::vector<double> seconds;
    for (int run = 0; run < 3; ++run) {
        RowTable c1 = t1, c2 = t2; // the core consumes its tables; copied before the clock starts
        QElapsedTimer timer;
        timer.start();
        CompareCounts counts;
        Result<RowTable> result = compareTables(std::move(c1), std::move(c2), byPosition(align), {}, &counts);
        seconds.push_back(bench::seconds(timer));
        if (!result.isOk()) {
            std::printf("%s failed: %s\n", label.c_str(), qPrintable(result.status().message()));
            return {};
        }
    }
    std::sort(seconds.begin(), seconds.end());
    const Timing t{seconds[1], seconds[0], seconds[2]};
    std::printf("%-44s median %7.3f s (%.3f–%.3f), peak %.0f MB\n", label.c_str(), t.median, t.low, t.high,
                bench::peakMemoryMB());
    std::fflush(stdout);
    return t;
}

// One more run with the statistics, for the rows and cells it finds.
void printFindings(const std::string& label, const RowTable& t1, const RowTable& t2, bool align) {
    CompareStatistics statistics;
    CompareCounts counts;
    if (!compareTables(t1, t2, byPosition(align), {}, &counts, nullptr, &statistics).isOk()) return;
    std::printf("%-44s only in file 1: %lld rows, only in file 2: %lld rows, differing cells: %lld, "
                "paired by position after a fallback: %lld rows\n",
                label.c_str(), (long long)statistics.onlyInFile1, (long long)statistics.onlyInFile2,
                (long long)statistics.cellsDiffering, (long long)counts.unalignedRows);
}

void comparePair(const std::string& name, const RowTable& t1, const RowTable& t2) {
    const Timing plain = timeComparison(name + ", by position", t1, t2, false);
    const Timing aligned = timeComparison(name + ", aligned rows", t1, t2, true);
    std::printf("%-44s %.2f× (range of the ratio %.2f–%.2f)\n", (name + ", aligned / plain").c_str(),
                aligned.median / plain.median, aligned.low / plain.high, aligned.high / plain.low);
    printFindings(name + ", by position", t1, t2, false);
    printFindings(name + ", aligned rows", t1, t2, true);
    std::printf("\n");
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
