#include "bench/BenchXlsx.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <xlsxwriter.h>

#include <cstdio>

namespace quellar::bench {
namespace {

// Five number columns and five text columns; texts repeat, as names, places and codes do.
bool generate(const QString& path) {
    std::printf("generating %s with libxlsxwriter (once) ...\n", qPrintable(path));
    std::fflush(stdout);
    const QByteArray name = QFile::encodeName(path + QStringLiteral(".part"));
    lxw_workbook* wb = workbook_new(name.constData()); // shared strings need the normal mode
    if (!wb) return false;
    lxw_worksheet* ws = workbook_add_worksheet(wb, "数据");
    static const char* headers[kBenchXlsxColumns] = {"编号", "客户", "数量", "城市", "单价",
                                                     "类别", "金额", "备注", "比率", "代码"};
    static const char* cities[] = {"北京", "上海", "广州", "深圳", "杭州", "成都", "武汉", "西安"};
    for (int c = 0; c < kBenchXlsxColumns; ++c)
        worksheet_write_string(ws, 0, lxw_col_t(c), headers[c], nullptr);
    char text[64];
    for (int64_t r = 1; r < kBenchXlsxRows; ++r) {
        worksheet_write_number(ws, lxw_row_t(r), 0, r, nullptr);
        std::snprintf(text, sizeof text, "客户%05d", int((r * 7919) % 50000));
        worksheet_write_string(ws, lxw_row_t(r), 1, text, nullptr);
        worksheet_write_number(ws, lxw_row_t(r), 2, (r * 37) % 1000, nullptr);
        worksheet_write_string(ws, lxw_row_t(r), 3, cities[r % 8], nullptr);
        worksheet_write_number(ws, lxw_row_t(r), 4, double((r * 7) % 100000) / 100.0, nullptr);
        std::snprintf(text, sizeof text, "类%d", int(r % 20));
        worksheet_write_string(ws, lxw_row_t(r), 5, text, nullptr);
        worksheet_write_number(ws, lxw_row_t(r), 6, double(r) * 1.25 + 0.125, nullptr);
        std::snprintf(text, sizeof text, "note-%d", int(r % 3000));
        worksheet_write_string(ws, lxw_row_t(r), 7, text, nullptr);
        worksheet_write_number(ws, lxw_row_t(r), 8, double(r % 997) / 997.0, nullptr);
        std::snprintf(text, sizeof text, "C%03d", int(r % 500));
        worksheet_write_string(ws, lxw_row_t(r), 9, text, nullptr);
    }
    if (workbook_close(wb) != LXW_NO_ERROR) return false;
    return QFile::rename(QString::fromLocal8Bit(name), path);
}

} // namespace

QString benchXlsxPath() {
    const QString path =
        QStringLiteral("/tmp/quellar_bench_%1x%2.xlsx").arg(kBenchXlsxRows).arg(kBenchXlsxColumns);
    if (QFileInfo::exists(path) || generate(path)) return path;
    return QString();
}

double unzipFloorSeconds(const QString& path) {
    if (QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty()) return -1;
    QProcess unzip;
    unzip.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    unzip.start(QStringLiteral("unzip"),
                {QStringLiteral("-p"), path, QStringLiteral("xl/worksheets/sheet1.xml")});
    unzip.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e9;
}

BenchInput benchInputWithFloor(int argc, char** argv, int labelWidth) {
    BenchInput input;
    input.path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : benchXlsxPath();
    if (input.path.isEmpty()) {
        std::fprintf(stderr, "cannot generate the benchmark workbook\n");
        return input;
    }
    input.unzipWall = unzipFloorSeconds(input.path);
    if (input.unzipWall > 0)
        std::printf("%-*s %7.2f s\n", labelWidth, "unzip -p sheet1.xml > /dev/null", input.unzipWall);
    else
        std::printf("unzip is not installed (apt-get install unzip): no floor to compare with\n");
    return input;
}

} // namespace quellar::bench
