// Benchmark of the workbook file formats: builds a 1,048,576 x 10 workbook in memory
// (numbers and short Chinese and ASCII texts), writes it as XML Spreadsheet 2003, scans the
// file with XmlScanner alone, reads it back into the model, and does the same for CSV.
// Prints times, file sizes and peak memory (VmHWM).
//
// Usage: bench_formats [ROWS] [--keep DIR]    (default 1,048,576 rows)
//        bench_formats --read FILE            (read one file in a fresh process)

#include "bench/TableGenerator.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/containers/XmlScanner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

using namespace quellar;

namespace {

double cpuMark = 0;

void report(const char* what, const QElapsedTimer& t, const QString& file = {}) {
    const double cpu = bench::cpuSeconds();
    std::printf("%-34s %7.2f s (cpu %5.2f s)", what, bench::seconds(t), cpu - cpuMark);
    cpuMark = cpu;
    if (!file.isEmpty()) std::printf("   %7.1f MB file", double(QFileInfo(file).size()) / 1e6);
    std::printf("   RSS %6.0f MB   peak %6.0f MB\n", bench::currentMemoryMB(), bench::peakMemoryMB());
    std::fflush(stdout);
}

int readOnly(const QString& path) {
    QElapsedTimer t;
    t.start();
    cpuMark = bench::cpuSeconds();
    Workbook book;
    const Status status = readWorkbook(path, book);
    if (!status.isOk()) {
        std::printf("read failed: %s\n", qPrintable(status.message()));
        return 1;
    }
    report("read", t, path);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int64_t rows = 1048576;
    QString keep;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--read" && i + 1 < argc) return readOnly(QString::fromLocal8Bit(argv[i + 1]));
        if (arg == "--keep" && i + 1 < argc)
            keep = QString::fromLocal8Bit(argv[++i]);
        else
            rows = std::max<int64_t>(1, std::min<int64_t>(arg.toLongLong(), kMaxRows));
    }
    QTemporaryDir temp;
    const QString dir = keep.isEmpty() ? temp.path() : keep;
    const QString xml = dir + QStringLiteral("/bench.xml");
    const QString csv = dir + QStringLiteral("/bench.csv");
    std::printf("%lld rows x 10 columns\n", (long long)rows);

    QElapsedTimer t;
    t.start();
    cpuMark = bench::cpuSeconds();
    {
        Workbook book = bench::mixedWorkbook(rows);
        report("build in memory", t);

        t.start();
        Status s = writeWorkbook(book, xml, FileKind::XmlSpreadsheet);
        if (!s.isOk()) return std::printf("%s\n", qPrintable(s.message())), 1;
        report("write XML Spreadsheet", t, xml);

        t.start();
        s = writeWorkbook(book, csv, FileKind::Csv);
        if (!s.isOk()) return std::printf("%s\n", qPrintable(s.message())), 1;
        report("write CSV", t, csv);
    }

    t.start();
    {
        FileByteSource source;
        if (!source.open(xml).isOk()) return 1;
        XmlScanner scanner(source);
        int64_t elements = 0;
        XmlScanner::Token token;
        while ((token = scanner.next()) != XmlScanner::Token::EndDocument &&
               token != XmlScanner::Token::Error)
            elements += token == XmlScanner::Token::StartElement;
        if (token == XmlScanner::Token::Error)
            return std::printf("%s\n", qPrintable(scanner.status().message())), 1;
        std::printf("  (%lld elements)\n", (long long)elements);
        report("scan XML tokens only", t, xml);
    }

    t.start();
    {
        Workbook back;
        const Status s = readWorkbook(xml, back);
        if (!s.isOk()) return std::printf("%s\n", qPrintable(s.message())), 1;
        report("read XML Spreadsheet", t, xml);
        if (back.sheets[0].rows.size() != size_t(rows)) return std::printf("row count differs\n"), 1;
    }

    t.start();
    {
        Workbook back;
        const Status s = readWorkbook(csv, back);
        if (!s.isOk()) return std::printf("%s\n", qPrintable(s.message())), 1;
        report("read CSV", t, csv);
    }
    return 0;
}
