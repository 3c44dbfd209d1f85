#pragma once
// The million-row xlsx that the file and window benchmarks read, and the floor they are
// measured against: unzip inflating the sheet part to nowhere.

#include <QString>

namespace quellar::bench {

constexpr int kBenchXlsxRows = 1048576;
constexpr int kBenchXlsxColumns = 10;

// /tmp/quellar_bench_1048576x10.xlsx, generated once with libxlsxwriter (five number and
// five text columns through shared strings); empty when it cannot be made.
QString benchXlsxPath();

// Wall seconds of `unzip -p FILE xl/worksheets/sheet1.xml > /dev/null`; -1 without unzip.
double unzipFloorSeconds(const QString& path);

// The benchmark's input: the file named by argv[1], else benchXlsxPath(); and its floor,
// printed as the first line with the label in a column of `labelWidth`. An empty path (after
// saying so on stderr) when the workbook cannot be made.
struct BenchInput {
    QString path;
    double unzipWall = -1;
};
BenchInput benchInputWithFloor(int argc, char** argv, int labelWidth);

} // namespace quellar::bench
