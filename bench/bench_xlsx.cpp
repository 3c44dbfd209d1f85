// Benchmark of the xlsx reader and writer: reads a 1,048,576 x 10 xlsx (numbers, and short
// texts through shared strings) into the workbook model and compares the wall time with
// `unzip -p FILE xl/worksheets/sheet1.xml > /dev/null` on the same file in the same run
// (inflating the sheet alone is the floor). Then writes the workbook as XML Spreadsheet 2003,
// as xlsx, and as xlsx through libxlsxwriter (the writer the program used before, kept as the
// tests' reference) for the size and peak memory to compare with. The xlsx write's floor is
// ISA-L deflating the same sheet XML at the same level: on one core, and on two (the XML cut
// in two halves). Prints wall and CPU times and peak memory (VmHWM, reset before each step).
//
// The input is made once with libxlsxwriter and kept at /tmp/quellar_bench_1048576x10.xlsx.
//
// Usage: bench_xlsx [FILE.xlsx]    (another xlsx to read instead; nothing is generated then)

#include "bench/BenchXlsx.h"
#include "bench/TableGenerator.h"
#include "tests/reference/LibxlsxwriterWriter.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/containers/ZipArchive.h"
#include "workbook/containers/ZipWriter.h"
#include "workbook/xlsx/XlsxFormat.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <thread>

using namespace quellar;

namespace {

void report(const char* what, double wall, double cpu, const QString& file = {}) {
    std::printf("%-40s %7.2f s (cpu %5.2f s)", what, wall, cpu);
    if (!file.isEmpty()) std::printf("   %7.1f MB file", double(QFileInfo(file).size()) / 1e6);
    std::printf("   RSS %6.0f MB   peak %6.0f MB\n", bench::currentMemoryMB(), bench::peakMemoryMB());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const bench::BenchInput input = bench::benchInputWithFloor(argc, argv, 40);
    if (input.path.isEmpty()) return 2;
    const QString& path = input.path;
    const double unzipWall = input.unzipWall;

    Workbook book;
    bench::resetPeakMemory();
    double cpu = bench::cpuSeconds();
    QElapsedTimer t;
    t.start();
    const Status read = XlsxFormat().read(path, book);
    const double readWall = bench::seconds(t);
    if (!read) {
        std::fprintf(stderr, "%s\n", qPrintable(read.message()));
        return 2;
    }
    report("read xlsx into the model", readWall, bench::cpuSeconds() - cpu, path);
    int64_t cells = 0;
    for (const Sheet& s : book.sheets)
        for (const SheetRow& r : s.rows)
            cells += int64_t(r.cells.size());
    std::printf("  %lld cells in %zu sheet(s)\n", static_cast<long long>(cells), book.sheets.size());
    if (unzipWall > 0) std::printf("  read / unzip = %.2f (target <= 2)\n", readWall / unzipWall);

    QTemporaryDir dir;
    const QString xml = dir.filePath(QStringLiteral("out.xml"));
    bench::resetPeakMemory();
    cpu = bench::cpuSeconds();
    t.restart();
    Status s = writeWorkbook(book, xml, FileKind::XmlSpreadsheet);
    report(s ? "write XML Spreadsheet 2003" : "write XML Spreadsheet 2003 FAILED", bench::seconds(t),
           bench::cpuSeconds() - cpu, xml);
    QFile::remove(xml);

    const QString xlsx = dir.filePath(QStringLiteral("out.xlsx"));
    bench::resetPeakMemory();
    cpu = bench::cpuSeconds();
    t.restart();
    s = writeWorkbook(book, xlsx, FileKind::Xlsx);
    const double writeWall = bench::seconds(t);
    const double writeCpuSeconds = bench::cpuSeconds() - cpu;
    report(s ? "write xlsx" : "write xlsx FAILED", writeWall, bench::cpuSeconds() - cpu, xlsx);
    if (!s) {
        std::fprintf(stderr, "%s\n", qPrintable(s.message()));
        return 1;
    }

    const QString reference = dir.filePath(QStringLiteral("reference.xlsx"));
    bench::resetPeakMemory();
    cpu = bench::cpuSeconds();
    t.restart();
    const Status r = test::writeWithLibxlsxwriter(book, reference);
    report(r ? "write xlsx with libxlsxwriter (before)" : "libxlsxwriter FAILED", bench::seconds(t),
           bench::cpuSeconds() - cpu, reference);
    if (r)
        std::printf("  size / libxlsxwriter's = %.2f (target <= 1.3)\n",
                    double(QFileInfo(xlsx).size()) / double(QFileInfo(reference).size()));
    QFile::remove(reference);

    // The floor: the sheet part's XML deflated at the writer's level, on one core and on two.
    std::string sheetXml;
    {
        ZipArchive zip;
        if (!zip.open(xlsx).isOk() || !zip.find("xl/worksheets/sheet1.xml")) return 1;
        if (!zip.readEntry(*zip.find("xl/worksheets/sheet1.xml"), sheetXml, uint64_t(8) << 30)) return 1;
    }
    book = Workbook(); // the floor needs no workbook
    auto deflateRange = [&sheetXml](size_t from, size_t to, bool last) {
        PieceDeflater deflater(1);
        DeflatedPiece piece;
        constexpr size_t kPiece = size_t(2) << 20;
        for (size_t at = from; at < to; at += kPiece) {
            piece.clear();
            const size_t n = std::min(kPiece, to - at);
            deflater.deflate(std::string_view(sheetXml).substr(at, n), last && at + n == to, piece);
        }
    };
    cpu = bench::cpuSeconds();
    t.restart();
    deflateRange(0, sheetXml.size(), true);
    const double oneCore = bench::seconds(t);
    const double oneCoreCpu = bench::cpuSeconds() - cpu;
    cpu = bench::cpuSeconds();
    t.restart();
    std::thread half([&] { deflateRange(0, sheetXml.size() / 2, false); });
    deflateRange(sheetXml.size() / 2, sheetXml.size(), true);
    half.join();
    const double twoCores = bench::seconds(t);
    const double twoCoresCpu = bench::cpuSeconds() - cpu;
    std::printf("%-40s %7.2f s (cpu %5.2f s)   %.0f MB of sheet XML, %.0f MB per cpu second\n",
                "floor: ISA-L deflate, one core", oneCore, oneCoreCpu, double(sheetXml.size()) / 1e6,
                double(sheetXml.size()) / 1e6 / oneCoreCpu);
    std::printf("%-40s %7.2f s (cpu %5.2f s)\n", "floor: ISA-L deflate, two cores", twoCores, twoCoresCpu);
    std::printf("  write / floor on two cores = %.2f wall, %.2f cpu\n", writeWall / twoCores,
                writeCpuSeconds / twoCoresCpu);
    return 0;
}
