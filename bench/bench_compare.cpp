// Benchmark of the two-table comparison: the core in key mode and positional mode on
// generated tables, and quellar-cli compare end to end on the same tables saved as
// XML Spreadsheet files.
//
// Usage: bench_compare [ROWS] [--no-cli] [--no-rules]   (default 1,048,575 data rows + the field row)
// Each comparison prints its wall time and the CPU time of all its threads (steadier on a busy
// machine); --no-rules leaves out the comparisons with rules.

#include "bench/TableGenerator.h"
#include "table/compare/Comparison.h"
#include "workbook/WorkbookFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

using namespace quellar;

namespace {

void compareOnce(const char* label, const RowTable& t1, const RowTable& t2, const CompareOptions& options,
                 const QStringList& keys) {
    // The core consumes its tables, as the window and the command line hand them over; the
    // copies are made before the clock starts.
    RowTable c1 = t1, c2 = t2;
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = bench::cpuSeconds();
    CompareCounts counts;
    Result<RowTable> result = compareTables(std::move(c1), std::move(c2), options, keys, &counts);
    const double elapsed = bench::seconds(timer);
    const double cpu = bench::cpuSeconds() - cpuBefore;
    if (!result.isOk()) {
        std::printf("%-34s failed: %s\n", label, qPrintable(result.status().message()));
        return;
    }
    std::printf("%-34s %8.3f s  cpu %7.3f s   result %zu rows, %lld different rows, %lld different cells, "
                "peak %.0f MB\n",
                label, elapsed, cpu, result.value().size(), (long long)counts.differentRows,
                (long long)counts.differentCells, bench::peakMemoryMB());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int64_t rows = 1048575;
    bool runCli = true;
    bool withRules = true;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--no-cli")
            runCli = false;
        else if (QByteArray(argv[i]) == "--no-rules")
            withRules = false;
        else
            rows = QByteArray(argv[i]).toLongLong();
    }

    QElapsedTimer timer;
    timer.start();
    bench::GeneratorOptions options;
    options.rows = rows;
    const double before = bench::currentMemoryMB();
    const RowTable t1 = bench::generateTable(options);
    const double cells = double(t1.size()) * options.columns;
    std::printf("one table: %.1f bytes per cell including its text and row overhead\n",
                (bench::currentMemoryMB() - before) * 1048576.0 / cells);
    const RowTable t2 = bench::deriveTable(t1, 0.01, 0.01, 7);
    std::printf("generated two tables of %zu and %zu rows x %d columns in %.2f s, peak %.0f MB\n", t1.size(),
                t2.size(), options.columns, bench::seconds(timer), bench::peakMemoryMB());
    std::printf("CellRecord: %zu bytes\n", sizeof(CellRecord));

    CompareOptions keyMode;
    compareOnce("compare core, key mode (1 key)", t1, t2, keyMode, {QStringLiteral("编号")});
    CompareOptions ignoreCase;
    ignoreCase.ignoreCase = true;
    compareOnce("compare core, key mode, ignore case", t1, t2, ignoreCase, {QStringLiteral("编号")});
    CompareOptions positional;
    positional.keyMode = false;
    compareOnce("compare core, positional mode", t1, t2, positional, {});

    // Every rule on: tolerances (one per column), both text rules, one ignored column.
    if (withRules) {
        CompareRules rules;
        rules.tolerance = 0.01;
        rules.relTolerance = 0.001;
        rules.fieldTolerances = {{QStringLiteral("金额"), 0.5}};
        rules.ignoreSpaces = true;
        rules.ignoreWidth = true;
        rules.ignoredColumns = {QStringLiteral("备注")};
        CompareOptions keyRules = ignoreCase;
        keyRules.rules = rules;
        compareOnce("compare core, key mode, all rules", t1, t2, keyRules, {QStringLiteral("编号")});
        CompareOptions positionalRules = positional;
        positionalRules.ignoreCase = true;
        positionalRules.rules = rules;
        positionalRules.rules.columnsByName = true;
        compareOnce("compare core, positional, all rules", t1, t2, positionalRules, {});
    }

    if (!runCli) return 0;
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../cli/quellar-cli");
    QTemporaryDir dir;
    const QString file1 = dir.filePath(QStringLiteral("file1.xml"));
    const QString file2 = dir.filePath(QStringLiteral("file2.xml"));
    timer.restart();
    Status status =
        writeWorkbook(bench::tableToWorkbook(t1, QStringLiteral("Sheet1")), file1, FileKind::XmlSpreadsheet);
    if (status.isOk())
        status = writeWorkbook(bench::tableToWorkbook(t2, QStringLiteral("Sheet1")), file2,
                               FileKind::XmlSpreadsheet);
    if (!status.isOk()) {
        std::printf("writing the XML Spreadsheet inputs failed: %s\n", qPrintable(status.message()));
        return 1;
    }
    std::printf("wrote both inputs as XML Spreadsheet (%.0f MB each) in %.2f s\n",
                double(QFileInfo(file1).size()) / 1e6, bench::seconds(timer));

    for (const QString& output : {QStringLiteral("result.xml"), QStringLiteral("result.json")}) {
        QProcess process;
        timer.restart();
        process.start(cli, {QStringLiteral("compare"), QStringLiteral("--key"), QStringLiteral("编号"), file1,
                            file2, QStringLiteral("-o"), dir.filePath(output), QStringLiteral("--quiet")});
        process.waitForFinished(-1);
        const double elapsed = bench::seconds(timer);
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        std::printf("quellar-cli compare -o %-12s %8.3f s   exit %d, peak of the CLI %.0f MB\n",
                    qPrintable(output), elapsed, process.exitCode(), double(usage.ru_maxrss) / 1024.0);
        if (process.exitCode() != 0) std::printf("%s\n", process.readAllStandardError().constData());
    }
    return 0;
}
