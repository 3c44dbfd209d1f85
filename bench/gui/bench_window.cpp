// Benchmark of the window's own work, driving the real widgets offscreen:
//  1. opening a 1,048,576 x 10 xlsx as file 1 (reading it, loading it into the pane,
//     selecting the used range; then, apart, until its working file 1.xml is written), against
//     `unzip -p FILE xl/worksheets/sheet1.xml > /dev/null` on the same file (target <= 3x);
//  2. scrolling that pane: drawing a screenful at the top, the middle and the end;
//  3. writing a two-million-cell result into the result pane under the progress window
//     (target < 2 s).
//
// The input is made once with libxlsxwriter and kept at /tmp/quellar_bench_1048576x10.xlsx
// (the same file bench_xlsx makes).
//
//  4. with --compare FILE1 FILE2: both files opened, then 两表对比 by 编号 (key mode), timed
//     from the dialog's answer to the result shown, and the peak memory of the whole run;
//     with --repeat N the comparison runs N times one after another in the same window (each
//     result replacing the last), printing the peak and the resident size after each.
//
// Usage: bench_window [FILE.xlsx]
//        bench_window --compare FILE1.xlsx FILE2.xlsx [--repeat N]

#include "app/CQuellarDlg.h"
#include "app/CRunDlg.h"
#include "app/UserPrompts.h"
#include "base/CellOps.h"
#include "bench/BenchXlsx.h"
#include "bench/TableGenerator.h"
#include "components/SheetPane.h"
#include "workbook/WorkbookFormat.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <malloc.h>

using namespace quellar;

namespace {

class FixedPrompts : public UserPrompts {
public:
    explicit FixedPrompts(QString path, QString second = {})
        : path_(std::move(path))
        , second_(std::move(second)) {}
    std::optional<QString> openWorkbookPath(QWidget*, int which) override {
        return which == 2 && !second_.isEmpty() ? second_ : path_;
    }
    std::optional<DiffChoice> diffOptions(QWidget*, const FieldList&) override {
        answered.start();
        cpuAtAnswer = bench::cpuSeconds();
        DiffChoice choice;
        choice.options.keyMode = true;
        choice.keys = {QStringLiteral("编号")};
        return choice;
    }
    QElapsedTimer answered;
    double cpuAtAnswer = 0;
    void message(QWidget*, const QString& text, bool) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }

private:
    QString path_;
    QString second_;
};

// Where the resident memory sits: the text arena's chunks and the heap blocks in use.
void printMemoryShares(const char* when) {
    const SharedText::ArenaStats arena = SharedText::arenaStats();
    const struct mallinfo2 heap = mallinfo2();
    std::printf("  %-44s texts %6.0f MB   heap in use %6.0f MB   heap free %6.0f MB\n", when,
                double(arena.bytes) / 1048576.0, double(heap.uordblks + heap.hblkhd) / 1048576.0,
                double(heap.fordblks) / 1048576.0);
}

// Both files opened in the window, then the key comparison; returns the exit status.
int benchComparison(const QString& file1, const QString& file2, int repeats) {
    QTemporaryDir dir;
    CQuellarDlg window(dir.path());
    auto prompts = std::make_unique<FixedPrompts>(file1, file2);
    FixedPrompts* answers = prompts.get();
    window.setPrompts(std::move(prompts));
    window.resize(1200, 800);
    window.show();
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    const double cpuAtStart = bench::cpuSeconds();
    window.action(CQuellarDlg::Command::OpenFile1)->trigger();
    QApplication::processEvents();
    window.action(CQuellarDlg::Command::OpenFile2)->trigger();
    QApplication::processEvents();
    std::printf("%-46s %7.2f s   cpu %6.2f s   peak %6.0f MB\n", "open both files (both panes shown)",
                bench::seconds(t), bench::cpuSeconds() - cpuAtStart, bench::peakMemoryMB());
    // The working files are written beside the window after each pane shows its workbook.
    window.settleWorkingFiles();
    std::printf("%-46s %7.2f s   cpu %6.2f s   peak %6.0f MB\n", "  and both working files written",
                bench::seconds(t), bench::cpuSeconds() - cpuAtStart, bench::peakMemoryMB());
    printMemoryShares("after opening both");
    double afterDialog = -1;
    for (int run = 1; run <= repeats; ++run) {
        t.restart();
        answers->answered.invalidate();
        window.action(CQuellarDlg::Command::CompareTables)->trigger();
        QApplication::processEvents();
        const double total = bench::seconds(t);
        afterDialog = answers->answered.isValid() ? bench::seconds(answers->answered) : -1;
        std::printf(
            "comparison %-2d %-32s %7.2f s   cpu %6.2f s   (reading before the dialog %.2f s)   peak %6.0f MB"
            "   now %6.0f MB\n",
            run, "(key, after the dialog)", afterDialog, bench::cpuSeconds() - answers->cpuAtAnswer,
            total - afterDialog, bench::peakMemoryMB(), bench::currentMemoryMB());
        printMemoryShares("after the comparison");
        if (afterDialog < 0) break;
    }
    const Sheet* result =
        window.resultPane()->workbook().sheets.empty() ? nullptr : &window.resultPane()->workbook().sheets[0];
    size_t cells = 0, capacity = 0;
    if (result)
        for (const SheetRow& row : result->rows) {
            cells += row.cells.size();
            capacity += row.cells.capacity();
        }
    std::printf("  result sheet %s: %zu rows, %zu cells (room for %zu)\n",
                result ? qPrintable(result->name) : "-", result ? result->rows.size() : size_t(0), cells,
                capacity);
    return afterDialog >= 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if ((argc == 4 || argc == 6) && QByteArray(argv[1]) == "--compare") {
        const int repeats =
            argc == 6 && QByteArray(argv[4]) == "--repeat" ? std::max(1, QByteArray(argv[5]).toInt()) : 1;
        return benchComparison(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), repeats);
    }
    const bench::BenchInput input = bench::benchInputWithFloor(argc, argv, 46);
    if (input.path.isEmpty()) return 2;
    const QString& path = input.path;
    const double unzipWall = input.unzipWall;

    QTemporaryDir dir;
    CQuellarDlg window(dir.path());
    window.setPrompts(std::make_unique<FixedPrompts>(path));
    window.resize(1200, 800);
    window.show();
    QApplication::processEvents();

    // 1. Open file 1.
    QElapsedTimer t;
    t.start();
    window.action(CQuellarDlg::Command::OpenFile1)->trigger();
    QApplication::processEvents();
    const double openWall = bench::seconds(t);
    std::printf("%-46s %7.2f s   peak %6.0f MB   range %s\n", "open as file 1 (read, load, select)", openWall,
                bench::peakMemoryMB(), qPrintable(window.rangeBox(1)->text()));
    window.settleWorkingFiles();
    std::printf("%-46s %7.2f s\n", "  and its working file written", bench::seconds(t));
    if (unzipWall > 0) std::printf("  open / unzip = %.2f (target <= 3)\n", openWall / unzipWall);

    // Where the time goes: reading alone, then showing the workbook read.
    {
        Workbook book;
        QElapsedTimer part;
        part.start();
        const Status converted = readWorkbook(path, book);
        const double convertWall = bench::seconds(part);
        part.restart();
        SheetPane pane;
        pane.resize(600, 400);
        pane.show();
        pane.setWorkbook(std::move(book));
        pane.protectAll();
        pane.selectUsedRange();
        QApplication::processEvents();
        std::printf("  of which: reading %.2f s (%s), showing in a pane %.2f s\n", convertWall,
                    converted.isOk() ? "ok" : "failed", bench::seconds(part));
    }

    // 2. Scrolling: a full repaint of the pane at three places.
    QTableView* view = window.pane(1)->view();
    for (int row : {0, bench::kBenchXlsxRows / 2, bench::kBenchXlsxRows - 40}) {
        t.restart();
        view->scrollTo(view->model()->index(row, 0), QAbstractItemView::PositionAtTop);
        view->viewport()->repaint();
        std::printf("  draw a screenful at row %-8d %17.1f ms\n", row + 1, bench::seconds(t) * 1000);
    }
    t.restart();
    for (int i = 0; i < 200; ++i) {
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() - 37);
        view->viewport()->repaint();
    }
    std::printf("  200 scroll steps with repaint %21.1f ms\n", bench::seconds(t) * 1000);

    // 3. A two-million-cell result into the result pane.
    RowTable table;
    const int resultRows = 200000;
    table.reserve(resultRows);
    for (int r = 0; r < resultRows; ++r) {
        Row row(bench::kBenchXlsxColumns);
        for (int c = 0; c < bench::kBenchXlsxColumns; ++c) {
            CellRecord& cell = row[size_t(c)];
            cell.mergeState = MergeState::Single;
            cell.fillColorIndex = (r + c) % 50 == 0 ? Fill::Red : Fill::White;
            cell.text = c % 2 == 0 ? SharedText(QString::number(r * 10 + c) + QStringLiteral(".000000"))
                                   : SharedText(QStringLiteral("文本%1").arg(r % 1000));
        }
        table.push_back(std::move(row));
    }
    CRunDlg progress(&window);
    progress.setText(Msg::Running);
    progress.setRange(resultRows);
    progress.setStep(progressStep(resultRows));
    progress.setPosition(0);
    t.restart();
    const Status written = window.resultPane()->writeResult(1, QStringLiteral("对比结果"), table, progress,
                                                            progressStep(resultRows));
    QApplication::processEvents();
    const double writeWall = bench::seconds(t);
    progress.finish();
    std::printf("%-46s %7.2f s   %s (target < 2 s)\n", "write 2,000,000 cells into the result pane",
                writeWall, written.isOk() ? "ok" : qPrintable(written.message()));
    return written.isOk() ? 0 : 1;
}
