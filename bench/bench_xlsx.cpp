// Benchmark of the xlsx reader and writer: reads a 1,048,576 x 10 xlsx (numbers, and short
// texts through shared strings) into the workbook model and compares the wall time with
// `unzip -p FILE xl/worksheets/sheet1.xml > /dev/null` on the same file in the same run
// (inflating the sheet alone is the floor). Then writes the workbook as XML Spreadsheet 2003
// and as xlsx. Prints wall and CPU times and peak memory (VmHWM, reset before each step).
//
// The input is made once with libxlsxwriter and kept at /tmp/quellar_bench_1048576x10.xlsx.
//
// Usage: bench_xlsx [FILE.xlsx]    (another xlsx to read instead; nothing is generated then)

#include "bench/BenchXlsx.h"
#include "components/WorkbookFormat.h"
#include "components/XlsxFormat.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>


#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>

using namespace quellar;

namespace {

double statusMB(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').value(0).toDouble() / 1024;
    return -1;
}

// Lets VmHWM start again from the current resident size, so each step reports its own peak.
void resetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

void report(const char* what, double wall, double cpu, const QString& file = {}) {
    std::printf("%-40s %7.2f s (cpu %5.2f s)", what, wall, cpu);
    if (!file.isEmpty()) std::printf("   %7.1f MB file", double(QFileInfo(file).size()) / 1e6);
    std::printf("   RSS %6.0f MB   peak %6.0f MB\n", statusMB("VmRSS:"), statusMB("VmHWM:"));
    std::fflush(stdout);
}


} // namespace

int main(int argc, char** argv) {
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : bench::benchXlsxPath();
    if (path.isEmpty()) {
        std::fprintf(stderr, "cannot generate the benchmark workbook\n");
        return 2;
    }

    // The floor: unzip inflating the sheet part to nowhere.
    const double unzipWall = bench::unzipFloorSeconds(path);
    if (unzipWall > 0) std::printf("%-40s %7.2f s\n", "unzip -p sheet1.xml > /dev/null", unzipWall);
    else std::printf("unzip is not installed (apt-get install unzip): no floor to compare with\n");

    Workbook book;
    resetPeak();
    double cpu = cpuSeconds();
    QElapsedTimer t;
    t.start();
    const Status read = XlsxFormat().read(path, book);
    const double readWall = seconds(t);
    if (!read) {
        std::fprintf(stderr, "%s\n", qPrintable(read.message()));
        return 2;
    }
    report("read xlsx into the model", readWall, cpuSeconds() - cpu, path);
    int64_t cells = 0;
    for (const Sheet& s : book.sheets)
        for (const SheetRow& r : s.rows)
            cells += int64_t(r.cells.size());
    std::printf("  %lld cells in %zu sheet(s)\n", static_cast<long long>(cells), book.sheets.size());
    if (unzipWall > 0) std::printf("  read / unzip = %.2f (target <= 2)\n", readWall / unzipWall);

    QTemporaryDir dir;
    const QString xml = dir.filePath(QStringLiteral("out.xml"));
    resetPeak();
    cpu = cpuSeconds();
    t.restart();
    Status s = writeWorkbook(book, xml, FileKind::XmlSpreadsheet);
    report(s ? "write XML Spreadsheet 2003" : "write XML Spreadsheet 2003 FAILED", seconds(t),
           cpuSeconds() - cpu, xml);
    QFile::remove(xml);

    const QString xlsx = dir.filePath(QStringLiteral("out.xlsx"));
    resetPeak();
    cpu = cpuSeconds();
    t.restart();
    s = writeWorkbook(book, xlsx, FileKind::Xlsx);
    report(s ? "write xlsx (constant memory)" : "write xlsx FAILED", seconds(t), cpuSeconds() - cpu, xlsx);
    if (!s) std::fprintf(stderr, "%s\n", qPrintable(s.message()));
    return s ? 0 : 1;
}
