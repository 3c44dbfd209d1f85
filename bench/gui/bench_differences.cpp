// Benchmark of the result pane's difference tools on a comparison result of a million rows,
// driving the real pane offscreen:
//  1. writing the key comparison's result into the result pane (which also indexes the
//     marked cells), against writing the same result into a pane without the tools;
//  2. switching 只看差异 on and off (target < 0.2 s each);
//  3. F8 / Shift+F8: jumps to the next / previous marked cell, each timed, with all rows
//     shown and with only the differences shown (target < 50 ms per jump).
// Each figure is over RUNS repetitions (default 5): fastest, median and slowest.
//
// Usage: bench_differences [ROWS]   (default 1,000,000 records x 10 fields, 1% changed and
//                                    1% replaced, as bench/make_cli_inputs makes them)

#include "base/Progress.h"
#include "bench/TableGenerator.h"
#include "components/SheetPane.h"
#include "table/compare/Comparison.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quellar;

namespace {

struct Spread {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    void print(const char* label) {
        std::sort(values.begin(), values.end());
        std::printf("%-52s median %8.1f ms   (min %7.1f, max %7.1f, n=%zu)\n", label,
                    values[values.size() / 2], values.front(), values.back(), values.size());
    }
};

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

Status compareInto(SheetPane& pane, const RowTable& t1, const RowTable& t2) {
    CompareOptions options;
    QString report;
    NullProgress progress;
    return runTableComparison(pane, progress, t1, t2, options, {QStringLiteral("编号")}, 1,
                              QStringLiteral("对比结果"), report);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int64_t rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const int runs = qEnvironmentVariableIntValue("RUNS") > 0 ? qEnvironmentVariableIntValue("RUNS") : 5;
    bench::GeneratorOptions generator;
    generator.rows = rows;
    const RowTable t1 = bench::generateTable(generator);
    const RowTable t2 = bench::deriveTable(t1, 0.01, 0.01, 7);
    std::printf("result pane difference tools: %lld records x 10 fields, %d runs\n", (long long)rows, runs);

    SheetPane pane;
    pane.enableDifferenceTools();
    pane.resize(1200, 700);
    pane.show();
    QApplication::processEvents();

    Spread withTools, plain;
    for (int run = 0; run < std::max(1, runs / 2); ++run) {
        QElapsedTimer t;
        t.start();
        if (Status s = compareInto(pane, t1, t2); !s) {
            std::fprintf(stderr, "%s\n", qPrintable(s.message()));
            return 2;
        }
        QApplication::processEvents();
        withTools.add(ms(t));
        SheetPane other; // no layout taken, no index: the result as before the tools
        other.resize(1200, 700);
        t.start();
        NullProgress progress;
        CompareOptions options;
        Result<RowTable> result = compareTables(t1, t2, options, {QStringLiteral("编号")}, nullptr);
        const Status written =
            other.takeResult(1, QStringLiteral("对比结果"), std::move(result.value()), progress, 1 << 20);
        if (!written.isOk()) {
            std::fprintf(stderr, "%s\n", qPrintable(written.message()));
            return 1;
        }
        QApplication::processEvents();
        plain.add(ms(t));
    }
    withTools.print("compare + write into the pane, with the index");
    plain.print("compare + write into a pane without tools");
    std::printf("  %s\n", qPrintable(pane.differenceStatusText()));

    Spread on, off;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer t;
        t.start();
        pane.setOnlyDifferences(true);
        QApplication::processEvents();
        on.add(ms(t));
        if (run == 0) std::printf("  %s\n", qPrintable(pane.differenceStatusText()));
        t.start();
        pane.setOnlyDifferences(false);
        QApplication::processEvents();
        off.add(ms(t));
    }
    on.print("只看差异 on (all rows -> field row + marked rows)");
    off.print("只看差异 off (every row again)");

    for (bool only : {false, true}) {
        pane.setOnlyDifferences(only);
        pane.select(RangeBounds{1, 1, 1, 1});
        QApplication::processEvents();
        Spread forward, backward;
        for (const bool next : {true, false})
            for (int jump = 0; jump < 200 * runs; ++jump) {
                QElapsedTimer t;
                t.start();
                pane.goToDifference(next);
                QApplication::processEvents();
                (next ? forward : backward).add(ms(t));
            }
        forward.print(only ? "F8, only the differences shown" : "F8, every row shown");
        backward.print(only ? "Shift+F8, only the differences shown" : "Shift+F8, every row shown");
    }
    // The last marked cell from the first, one jump back from the far end.
    pane.setOnlyDifferences(false);
    pane.select(RangeBounds{1, int(t1.size() + t2.size()), 1, int(t1.size() + t2.size())});
    QElapsedTimer t;
    t.start();
    pane.goToDifference(false);
    QApplication::processEvents();
    std::printf("%-52s %8.1f ms\n", "Shift+F8 from below the last row", ms(t));
    return 0;
}
