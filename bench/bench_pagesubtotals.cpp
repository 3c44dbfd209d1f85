// Benchmark of page subtotals (分页汇总) on a working file the size of a full sheet:
// 1,048,576 rows x 10 columns (a field row and 1,048,575 data rows) with 40 rows per page
// and three sum columns, timed step by step as the window runs the command after file 1
// was opened: reading 1.xml (scan, rows, field row), the document-tree edits, writing 3.xml
// (UTF-16), converting 3.xml into the output workbook. Prints wall and CPU time, the peak
// memory of each step (VmHWM) and of the whole run.
//
// A full sheet has no room for its subtotal rows: the command refuses it with a message
// and writes nothing, so that run times the refusal; the whole command is then timed on
// the largest table whose result still fits one sheet (1,022,999 data rows: with a
// subtotal every 40 rows and the total, exactly 1,048,576 rows).
//
// With --cancel-after SECONDS each step of the whole command (reading 1.xml, writing 3.xml,
// converting) is run three more times under a cancel flag raised that many seconds in, as the
// window's 取消 raises it: "cancel <step>: N-M ms" from the raise to the step's end, and that
// nothing was left of 3.xml or the output.
//
// Usage: bench_pagesubtotals [ROWS] [--cancel-after SECONDS]   (default 1,048,576 rows in the sheet)
// The generated working files are kept in /tmp for later runs.

#include "base/Progress.h"
#include "bench/TableGenerator.h"
#include "table/PageSubtotals.h"
#include "workbook/WorkbookFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

using namespace quellar;

namespace {

constexpr int kRowsPerPage = 40;
double cancelAfter = -1; // --cancel-after: seconds into each step

// Runs `step` three times under a cancel flag raised `cancelAfter` seconds in; prints the
// spread of the time from the raise to the step's end, and whether `nothingLeft` held.
void cancelStep(const char* name, const std::function<Status()>& step,
                const std::function<bool()>& nothingLeft) {
    using Clock = std::chrono::steady_clock;
    long long fastest = -1, slowest = -1;
    bool clean = true, cancelled = true;
    for (int run = 0; run < 3; ++run) {
        std::atomic<bool> flag{false};
        Clock::time_point raisedAt;
        std::thread raiser([&] {
            std::this_thread::sleep_for(std::chrono::duration<double>(cancelAfter));
            raisedAt = Clock::now();
            flag = true;
        });
        Status status;
        {
            const cancellation::Scope scope(&flag);
            status = runGuarded(step);
        }
        const Clock::time_point ended = Clock::now();
        raiser.join();
        cancelled &= status.code() == Status::Code::Cancelled;
        clean &= nothingLeft();
        if (ended < raisedAt) continue; // the step ended before the raise
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(ended - raisedAt).count();
        fastest = fastest < 0 ? ms : std::min(fastest, ms);
        slowest = std::max(slowest, ms);
    }
    std::printf("  cancel %-21s %lld-%lld ms after the raise (%.1f s in)%s%s\n", name, fastest, slowest,
                cancelAfter, cancelled ? "" : "; not every run ended cancelled",
                clean ? ", nothing left" : ", A FILE WAS LEFT");
}

// The working file of a sheet 明细 with `rows` rows (field row included), made once.
QString workingFile(int64_t rows) {
    const QString path = QStringLiteral("/tmp/quellar_bench_pagesum_%1x10.xml").arg(rows);
    if (QFileInfo::exists(path)) return path;
    QElapsedTimer t;
    t.start();
    bench::GeneratorOptions options;
    options.rows = rows - 1;
    options.columns = 10;
    const Status s =
        writeWorkbook(bench::tableToWorkbook(bench::generateTable(options), QStringLiteral("明细")),
                      path + QStringLiteral(".part"), FileKind::XmlSpreadsheet);
    if (!s.isOk() || !QFile::rename(path + QStringLiteral(".part"), path)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(s.message()));
        return {};
    }
    std::printf("(generated %s in %.1f s)\n", qPrintable(path), bench::seconds(t));
    return path;
}

void line(const char* step, double wall, double cpu, double peak) {
    std::printf("  %-28s %7.2f s  (cpu %6.2f s)   peak %6.0f MB\n", step, wall, cpu, peak);
    std::fflush(stdout);
}

void run(int64_t rows) {
    const QString xml = workingFile(rows);
    if (xml.isEmpty()) return;
    QTemporaryDir dir;
    std::printf("%lld rows x 10, %.0f MB working file, %d rows per page, sums of 数量, 单价, 金额\n",
                static_cast<long long>(rows), double(QFileInfo(xml).size()) / 1e6, kRowsPerPage);
    QElapsedTimer total, t;
    total.start();
    const double cpuStart = bench::cpuSeconds();

    bench::resetPeakMemory();
    t.start();
    double cpu = bench::cpuSeconds();
    Result<PageSheet> read = readPageSheet(xml, QStringLiteral("明细"));
    line("reading 1.xml", bench::seconds(t), bench::cpuSeconds() - cpu, bench::peakMemoryMB());
    if (!read.isOk()) {
        std::printf("  failed: %s\n", qPrintable(read.status().message()));
        return;
    }
    PageSheet sheet = read.take();

    PageSubtotalOptions options;
    options.rowsPerPage = kRowsPerPage;
    options.labelColumn = 2;
    options.sumColumns = {4, 5, 6};
    const QString written = dir.filePath(QStringLiteral("3.xml"));
    bench::resetPeakMemory();
    t.restart();
    cpu = bench::cpuSeconds();
    PageSubtotalInfo info;
    Status status = writePageSubtotals(sheet, options, written, &info);
    const double writeWall = bench::seconds(t), writeCpu = bench::cpuSeconds() - cpu;
    sheet = PageSheet();
    if (!status.isOk()) {
        line("refusing (rows beyond a sheet)", writeWall, writeCpu, bench::peakMemoryMB());
        std::printf("  message: %s\n", qPrintable(status.message()));
    } else {
        line("edits + writing 3.xml", writeWall, writeCpu, bench::peakMemoryMB());
        std::printf("    of which document-tree edits %.2f s, serialising and writing %.2f s; "
                    "%lld subtotal rows, %.0f MB 3.xml\n",
                    info.treeSeconds, info.writeSeconds, static_cast<long long>(info.subtotalRows),
                    double(QFileInfo(written).size()) / 1e6);
        const QString output = dir.filePath(QStringLiteral("明细_分页汇总.xls"));
        bench::resetPeakMemory();
        t.restart();
        cpu = bench::cpuSeconds();
        status = convertPageSubtotals(written, output);
        line("converting to the output", bench::seconds(t), bench::cpuSeconds() - cpu, bench::peakMemoryMB());
        if (!status.isOk()) std::printf("  failed: %s\n", qPrintable(status.message()));
        if (cancelAfter >= 0) {
            // Converted into .xlsx: a sheet this long does not fit .xls.
            const QString again = dir.filePath(QStringLiteral("again.xml"));
            const QString againOutput = dir.filePath(QStringLiteral("again_分页汇总.xlsx"));
            const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
            auto onlyTheFirstFiles = [&] {
                return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden) == before;
            };
            cancelStep(
                "reading 1.xml", [&] { return readPageSheet(xml, QStringLiteral("明细")).status(); },
                onlyTheFirstFiles);
            Result<PageSheet> reread = readPageSheet(xml, QStringLiteral("明细"));
            if (reread.isOk())
                cancelStep(
                    "writing 3.xml", [&] { return writePageSubtotals(reread.value(), options, again); },
                    onlyTheFirstFiles);
            cancelStep(
                "converting", [&] { return convertPageSubtotals(written, againOutput); }, onlyTheFirstFiles);
        }
    }
    std::printf("  %-28s %7.2f s  (cpu %6.2f s)\n\n", "whole command", bench::seconds(total),
                bench::cpuSeconds() - cpuStart);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int64_t rows = 1048576;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--cancel-after" && i + 1 < argc)
            cancelAfter = std::max(0.0, QByteArray(argv[++i]).toDouble());
        else
            rows = QString::fromLocal8Bit(argv[i]).toLongLong();
    }
    run(rows);
    // The largest table whose result fits a sheet: rows + subtotals + total = 1,048,576.
    const int64_t fitting = 1 + (int64_t(1048576) - 2) * kRowsPerPage / (kRowsPerPage + 1);
    if (rows > fitting) run(fitting);
    std::printf("peak memory of the whole run (VmHWM since the last step's reset): %.0f MB\n",
                bench::peakMemoryMB());
    return 0;
}
