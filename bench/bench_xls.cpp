// Benchmark of the .xls reader and writer against the xlsx ones on the same table: a
// 65,536 x 10 sheet (the .xls row limit) of numbers and short Chinese and ASCII texts, as
// bench_formats builds it. Writes the table as .xlsx and as .xls (time and peak memory of each),
// then reads each file RUNS times, every read in a fresh process of this program (`--read`),
// and prints the fastest, median and slowest wall time, CPU time and peak memory (VmHWM) of
// the reads.
//
// Usage: bench_xls [RUNS] [--keep DIR]   (default 5 runs)
//        bench_xls --read FILE           (read one file in this process and print one line)
//        bench_xls --read-many FILE RUNS (read FILE RUNS times in fresh processes)

#include "bench/TableGenerator.h"
#include "workbook/WorkbookFormat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <vector>

using namespace quellar;

namespace {

struct Figures {
    double wall = 0, cpu = 0, peak = 0;
};

// One read in this process: "wall cpu peak".
int readOnce(const QString& path) {
    QElapsedTimer t;
    t.start();
    const double cpu0 = bench::cpuSeconds();
    Workbook book;
    const Status s = readWorkbook(path, book);
    if (!s.isOk()) return std::printf("read failed: %s\n", qPrintable(s.message())), 1;
    std::printf("%.4f %.4f %.1f\n", bench::seconds(t), bench::cpuSeconds() - cpu0, bench::peakMemoryMB());
    return 0;
}

void summary(const char* what, std::vector<Figures> runs) {
    if (runs.empty()) return;
    auto line = [&](const char* label, auto field) {
        std::vector<double> v;
        for (const Figures& f : runs)
            v.push_back(f.*field);
        std::sort(v.begin(), v.end());
        std::printf("  %-10s min %8.3f  median %8.3f  max %8.3f\n", label, v.front(), v[v.size() / 2],
                    v.back());
    };
    std::printf("%s (%zu runs)\n", what, runs.size());
    line("wall s", &Figures::wall);
    line("cpu s", &Figures::cpu);
    line("peak MB", &Figures::peak);
}

std::vector<Figures> readMany(const QString& program, const QString& path, int runs) {
    std::vector<Figures> out;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.start(program, {QStringLiteral("--read"), path});
        if (!p.waitForFinished(-1) || p.exitCode() != 0) {
            std::printf("read of %s failed: %s\n", qPrintable(path), p.readAllStandardOutput().constData());
            return out;
        }
        const QList<QByteArray> parts = p.readAllStandardOutput().trimmed().split(' ');
        if (parts.size() == 3) out.push_back({parts[0].toDouble(), parts[1].toDouble(), parts[2].toDouble()});
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int runs = 5;
    QString keep;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--read" && i + 1 < argc) return readOnce(QString::fromLocal8Bit(argv[i + 1]));
        if (arg == "--read-many" && i + 2 < argc) {
            const QString path = QString::fromLocal8Bit(argv[i + 1]);
            summary(argv[i + 1],
                    readMany(QCoreApplication::applicationFilePath(), path, std::atoi(argv[i + 2])));
            return 0;
        }
        if (arg == "--keep" && i + 1 < argc)
            keep = QString::fromLocal8Bit(argv[++i]);
        else
            runs = std::max(1, std::atoi(argv[i]));
    }
    QTemporaryDir temp;
    const QString dir = keep.isEmpty() ? temp.path() : keep;
    const QString xlsx = dir + QStringLiteral("/bench_xls.xlsx");
    const QString xls = dir + QStringLiteral("/bench_xls.xls");
    std::printf("65536 rows x 10 columns, %d runs each\n", runs);
    std::vector<Figures> writesXlsx, writesXls;
    {
        const Workbook book = bench::mixedWorkbook(65536);
        for (int i = 0; i < runs; ++i)
            for (const auto& [path, kind, sink] : {std::tuple{xlsx, FileKind::Xlsx, &writesXlsx},
                                                   std::tuple{xls, FileKind::Xls, &writesXls}}) {
                bench::resetPeakMemory();
                QElapsedTimer t;
                t.start();
                const double cpu0 = bench::cpuSeconds();
                const Status s = writeWorkbook(book, path, kind);
                if (!s.isOk()) return std::printf("%s\n", qPrintable(s.message())), 1;
                sink->push_back({bench::seconds(t), bench::cpuSeconds() - cpu0, bench::peakMemoryMB()});
            }
    }
    std::printf("files: xlsx %.1f MB, xls %.1f MB\n", QFileInfo(xlsx).size() / 1e6,
                QFileInfo(xls).size() / 1e6);
    summary("write .xlsx", writesXlsx);
    summary("write .xls", writesXls);
    const QString self = QCoreApplication::applicationFilePath();
    summary("read .xlsx", readMany(self, xlsx, runs));
    summary("read .xls", readMany(self, xls, runs));
    return 0;
}
