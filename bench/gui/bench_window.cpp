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
//     result replacing the last), printing the peak and the resident size after each;
//     with --export FILE the result is then exported to FILE (导出到Excel);
//     with --stalls the longest stall of the event loop in each phase (open both, compare,
//     export), measured by a timer ticking every 2 ms on the user-interface thread
//     ("longest stall open: N ms"; target <= 250 ms);
//     with --cancel-after SECONDS each long phase is also run once more and cancelled that many
//     seconds in by pressing 取消 in its progress window (open file 1 again over the open one,
//     compare over the last result, export): "cancel <phase>: N ms, panes unchanged: yes|no",
//     N from the press to the window answering again (target <= 1000 ms); a cancelled export
//     must leave no file and no temporary file.
//  5. with --cancel-open FILE: a small list is opened as file 1, then FILE (any format the
//     window opens: a million-row .csv or .xml) is opened over it and cancelled SECONDS in
//     (--after, default 1), RUNS times (--runs, default 3): "cancel open: N ms, panes unchanged:
//     yes|no" for each, then the spread, and the time FILE takes to open when not cancelled.
//
// Usage: bench_window [FILE.xlsx]
//        bench_window --compare FILE1.xlsx FILE2.xlsx [--repeat N] [--export FILE] [--stalls]
//                     [--cancel-after SECONDS]
//        bench_window --cancel-open FILE [--after SECONDS] [--runs N]

#include "app/CQuellarDlg.h"
#include "app/CRunDlg.h"
#include "app/UserPrompts.h"
#include "base/CellOps.h"
#include "bench/BenchXlsx.h"
#include "bench/TableGenerator.h"
#include "components/SheetPane.h"
#include "workbook/WorkbookFormat.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <time.h>

using namespace quellar;

namespace {

class FixedPrompts : public UserPrompts {
public:
    explicit FixedPrompts(QString path, QString second = {})
        : path_(std::move(path))
        , second_(std::move(second)) {}
    void setFirstPath(QString path) { path_ = std::move(path); }
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
    QString exportTo;
    std::optional<SaveChoice> exportPath(QWidget*) override {
        if (exportTo.isEmpty()) return std::nullopt;
        return SaveChoice{exportTo, true};
    }
    void message(QWidget*, const QString& text, bool) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    // Nothing is handed to the desktop.
    DesktopOpening openDocument(const QString&) override { return {}; }
    DesktopOpening showWorkbook(const QString&) override { return {}; }

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

// The longest gap between the ticks of a timer on the user-interface thread while it runs:
// how long the event loop stalled; and how much of that gap the thread spent on its own CPU
// (on a loaded machine a gap can also be a thread that was ready but not scheduled).
class StallMeter {
public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        longest_ = longestCpu_ = 0;
        clock_.start();
        last_ = 0;
        lastCpu_ = threadCpuMs();
        timer_.start(2);
    }
    qint64 stop() {
        tick();
        timer_.stop();
        return longest_;
    }
    // The thread's own CPU time in the longest gap.
    qint64 longestCpu() const { return longestCpu_; }

private:
    static qint64 threadCpuMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }
    void tick() {
        const qint64 now = clock_.elapsed(), cpu = threadCpuMs();
        if (now - last_ > longest_) {
            longest_ = now - last_;
            longestCpu_ = cpu - lastCpu_;
        }
        last_ = now;
        lastCpu_ = cpu;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0, longest_ = 0, lastCpu_ = 0, longestCpu_ = 0;
};

void printStall(const char* phase, qint64 stall, qint64 cpu) {
    std::printf("longest stall %s: %lld ms   (user-interface thread on the CPU %lld ms of it)\n", phase,
                static_cast<long long>(stall), static_cast<long long>(cpu));
}

// What the three panes show: each sheet's name, its rows and where they are kept (another
// workbook, even an equal one, keeps them elsewhere), the shown sheet and the files' names.
QString paneState(const CQuellarDlg& window) {
    QString state;
    for (int which : {1, 2, 3}) {
        const Workbook& book = window.pane(which)->workbook();
        state += QStringLiteral("|%1:%2").arg(which).arg(book.activeSheet);
        for (const Sheet& sheet : book.sheets)
            state += QStringLiteral(",%1/%2/%3")
                         .arg(sheet.name)
                         .arg(sheet.rows.size())
                         .arg(quintptr(sheet.rows.data()));
    }
    return state + window.filePath(1) + u'|' + window.filePath(2);
}

// Triggers `command` and presses 取消 in its progress window `seconds` in; prints how long the
// window took to answer and whether the panes are as before. Returns whether all held.
bool cancelDuring(CQuellarDlg& window, CQuellarDlg::Command command, const char* phase, double seconds,
                  const std::function<bool()>& alsoUnchanged = {}, qint64* answeredMs = nullptr) {
    const QString before = paneState(window);
    QElapsedTimer sincePress;
    QTimer press;
    press.setSingleShot(true);
    QObject::connect(&press, &QTimer::timeout, [&] {
        for (CRunDlg* progress : window.findChildren<CRunDlg*>())
            if (progress->running() && progress->isVisible()) {
                progress->cancelButton()->click();
                sincePress.start();
                return;
            }
        press.start(10); // between two steps of the command: a moment later
    });
    press.start(int(seconds * 1000));
    window.action(command)->trigger();
    press.stop();
    if (!sincePress.isValid()) {
        std::printf("cancel %s: the phase ended before %.1f s, nothing cancelled\n", phase, seconds);
        return false;
    }
    const qint64 answered = sincePress.elapsed();
    if (answeredMs) *answeredMs = answered;
    const bool unchanged = paneState(window) == before && (!alsoUnchanged || alsoUnchanged());
    std::printf("cancel %s: %lld ms, panes unchanged: %s   (status: %s)\n", phase,
                static_cast<long long>(answered), unchanged ? "yes" : "no", qPrintable(window.statusText()));
    return unchanged && answered <= 1000;
}

struct ComparisonBench {
    QString file1, file2;
    int repeats = 1;
    QString exportTo;
    bool stalls = false;
    double cancelAfter = -1;
};

// Both files opened in the window, then the key comparison; returns the exit status.
int benchComparison(const ComparisonBench& bench) {
    const QString& file1 = bench.file1;
    const QString& file2 = bench.file2;
    const int repeats = bench.repeats;
    StallMeter stalls;
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
    stalls.start();
    window.action(CQuellarDlg::Command::OpenFile1)->trigger();
    QApplication::processEvents();
    window.action(CQuellarDlg::Command::OpenFile2)->trigger();
    QApplication::processEvents();
    const qint64 openStall = stalls.stop();
    std::printf("%-46s %7.2f s   cpu %6.2f s   peak %6.0f MB\n", "open both files (both panes shown)",
                bench::seconds(t), bench::cpuSeconds() - cpuAtStart, bench::peakMemoryMB());
    if (bench.stalls) printStall("open", openStall, stalls.longestCpu());
    bool cancelsHeld = true;
    // The working files are written beside the window after each pane shows its workbook.
    window.settleWorkingFiles();
    std::printf("%-46s %7.2f s   cpu %6.2f s   peak %6.0f MB\n", "  and both working files written",
                bench::seconds(t), bench::cpuSeconds() - cpuAtStart, bench::peakMemoryMB());
    printMemoryShares("after opening both");
    if (bench.cancelAfter >= 0)
        cancelsHeld &= cancelDuring(window, CQuellarDlg::Command::OpenFile1, "open", bench.cancelAfter);
    double afterDialog = -1;
    qint64 compareStall = 0, compareCpu = 0;
    for (int run = 1; run <= repeats; ++run) {
        t.restart();
        answers->answered.invalidate();
        stalls.start();
        window.action(CQuellarDlg::Command::CompareTables)->trigger();
        QApplication::processEvents();
        if (const qint64 stall = stalls.stop(); stall > compareStall) {
            compareStall = stall;
            compareCpu = stalls.longestCpu();
        }
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
    if (bench.stalls) printStall("compare", compareStall, compareCpu);
    if (bench.cancelAfter >= 0)
        cancelsHeld &=
            cancelDuring(window, CQuellarDlg::Command::CompareTables, "compare", bench.cancelAfter);

    if (!bench.exportTo.isEmpty()) {
        const QFileInfo target(bench.exportTo);
        QFile::remove(target.absoluteFilePath());
        answers->exportTo = target.absoluteFilePath();
        // Nothing may be left of a cancelled export: neither the file nor the writer's temporary file.
        auto nothingLeft = [&] {
            const QStringList left = target.absoluteDir().entryList(
                {QStringLiteral("*%1*").arg(target.fileName())}, QDir::Files | QDir::Hidden);
            return left.isEmpty();
        };
        if (bench.cancelAfter >= 0)
            cancelsHeld &=
                cancelDuring(window, CQuellarDlg::Command::Export, "export", bench.cancelAfter, nothingLeft);
        t.restart();
        stalls.start();
        window.action(CQuellarDlg::Command::Export)->trigger();
        const qint64 exportStall = stalls.stop();
        std::printf("%-46s %7.2f s   %.0f MB   peak %6.0f MB\n", "export the result (导出到Excel)",
                    bench::seconds(t), double(QFileInfo(target.absoluteFilePath()).size()) / 1048576.0,
                    bench::peakMemoryMB());
        if (bench.stalls) printStall("export", exportStall, stalls.longestCpu());
    }
    return afterDialog >= 0 && cancelsHeld ? 0 : 1;
}

// A small list opened as file 1, then `file` opened over it and cancelled `seconds` in, `runs`
// times; returns the exit status.
int benchCancelOpen(const QString& file, double seconds, int runs) {
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("小名单.csv"));
    {
        QFile out(small);
        if (!out.open(QIODevice::WriteOnly)) return 2;
        out.write("编号,姓名\r\n1,张三\r\n2,李四\r\n");
    }
    CQuellarDlg window(dir.path());
    auto prompts = std::make_unique<FixedPrompts>(small);
    FixedPrompts* answers = prompts.get();
    window.setPrompts(std::move(prompts));
    window.resize(1200, 800);
    window.show();
    QApplication::processEvents();
    window.action(CQuellarDlg::Command::OpenFile1)->trigger();
    window.settleWorkingFiles();
    answers->setFirstPath(file);
    bool held = true;
    qint64 fastest = -1, slowest = -1;
    for (int run = 1; run <= runs; ++run) {
        qint64 answered = -1;
        held &= cancelDuring(window, CQuellarDlg::Command::OpenFile1, "open", seconds, {}, &answered);
        if (answered < 0) continue;
        fastest = fastest < 0 ? answered : std::min(fastest, answered);
        slowest = std::max(slowest, answered);
    }
    std::printf("cancel open of %s %.1f s in: %lld-%lld ms over %d runs\n",
                qPrintable(QFileInfo(file).fileName()), seconds, static_cast<long long>(fastest),
                static_cast<long long>(slowest), runs);
    QElapsedTimer t;
    t.start();
    window.action(CQuellarDlg::Command::OpenFile1)->trigger();
    std::printf("%-46s %7.2f s   %zu rows\n", "open it, not cancelled", bench::seconds(t),
                window.pane(1)->workbook().sheets.empty() ? size_t(0)
                                                          : window.pane(1)->workbook().sheets[0].rows.size());
    window.settleWorkingFiles();
    return held ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc >= 3 && QByteArray(argv[1]) == "--cancel-open") {
        double after = 1;
        int runs = 3;
        for (int i = 3; i + 1 < argc; i += 2) {
            const QByteArray option(argv[i]);
            if (option == "--after")
                after = std::max(0.0, QByteArray(argv[i + 1]).toDouble());
            else if (option == "--runs")
                runs = std::max(1, QByteArray(argv[i + 1]).toInt());
            else {
                std::fprintf(stderr, "unknown option %s\n", argv[i]);
                return 2;
            }
        }
        return benchCancelOpen(QString::fromLocal8Bit(argv[2]), after, runs);
    }
    if (argc >= 4 && QByteArray(argv[1]) == "--compare") {
        ComparisonBench bench;
        bench.file1 = QString::fromLocal8Bit(argv[2]);
        bench.file2 = QString::fromLocal8Bit(argv[3]);
        for (int i = 4; i < argc; ++i) {
            const QByteArray option(argv[i]);
            const bool valued = option == "--repeat" || option == "--export" || option == "--cancel-after";
            if (valued && i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", argv[i]);
                return 2;
            }
            if (option == "--repeat")
                bench.repeats = std::max(1, QByteArray(argv[++i]).toInt());
            else if (option == "--export")
                bench.exportTo = QString::fromLocal8Bit(argv[++i]);
            else if (option == "--cancel-after")
                bench.cancelAfter = std::max(0.0, QByteArray(argv[++i]).toDouble());
            else if (option == "--stalls")
                bench.stalls = true;
            else {
                std::fprintf(stderr, "unknown option %s\n", argv[i]);
                return 2;
            }
        }
        return benchComparison(bench);
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
