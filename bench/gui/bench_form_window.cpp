// Benchmark of the condition form window: opening a page whose value lists are long, in the
// real Qt WebEngine offscreen, as 条件查询 and 条件汇总 show it.
//
// The table has `rows` data rows (default 30,000) and three fields: 编号 (distinct texts),
// 数量 (distinct numbers, so two condition rows) and 地区 (ten texts); 编号 and 数量 hold
// `distinct` different values (default: as many as rows). For each page it prints:
//   build   building the page text (the core) and writing it as tj_select.htm / tj_sum.htm;
//   load    from showing the window to the page's load-finished signal (js.js included);
//   ready   until the page answers a script (value lists in the DOM, the form usable);
//   paint   until the page's next animation frame after load (first drawing);
//   reply   choosing the last value of the first (longest) list and pressing the button,
//           until the window has stored the reply and closed.
// A small page is opened first, so that starting Qt WebEngine is reported on its own.
//
// Usage: bench_form_window [rows [distinct]]

#include "forms/CHtmlView2.h"
#include "forms/CMyHtmlView.h"
#include "forms/FormPages.h"
#include "forms/TjSelectDlg.h"
#include "tests/gui/WaitUntil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>

#include <cstdio>
#include <functional>
#include <random>

using namespace quellar;

namespace {

using test::waitUntil;

CellRecord cell(const QString& text) {
    CellRecord c;
    c.text = SharedText(text);
    c.fillColorIndex = Fill::White;
    c.mergeState = MergeState::Single;
    return c;
}

RowTable makeTable(int64_t rows, int64_t distinct) {
    std::vector<int64_t> order(static_cast<size_t>(rows));
    for (int64_t i = 0; i < rows; ++i)
        order[size_t(i)] = i % distinct;
    std::shuffle(order.begin(), order.end(), std::mt19937_64(7));
    static const char16_t* const regions[] = {u"东部", u"西部", u"南部", u"北部", u"中部",
                                              u"华东", u"华南", u"华北", u"西南", u"东北"};
    RowTable table;
    table.reserve(size_t(rows) + 1);
    table.push_back(
        {cell(QStringLiteral("编号")), cell(QStringLiteral("数量")), cell(QStringLiteral("地区"))});
    for (int64_t i = 0; i < rows; ++i) {
        const int64_t v = order[size_t(i)];
        table.push_back({cell(QStringLiteral("K%1").arg(v, 7, 10, QLatin1Char('0'))),
                         cell(QString::number(v * 3 - 1000)), cell(QString::fromUtf16(regions[v % 10]))});
    }
    return table;
}

double ms(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

QVariant runScript(QWebEnginePage* page, const QString& script) {
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    if (!waitUntil([&] { return done; }, 120000)) std::fprintf(stderr, "script did not answer\n");
    return result;
}

void measure(const QTemporaryDir& dir, const RowTable& table, bool summary, const char* title) {
    QElapsedTimer timer;
    timer.start();
    FormPageInfo info;
    const Result<QString> page = summary ? buildSummaryPage(table, &info) : buildQueryPage(table, &info);
    const QString path = dir.filePath(summary ? kSummaryPageFile : kQueryPageFile);
    if (!page.isOk() || !writePageFile(path, page.value()).isOk()) {
        std::fprintf(stderr, "page not written\n");
        return;
    }
    const double build = ms(timer);

    FormReply reply;
    timer.restart();
    TjSelectDlg dialog(path, reply);
    dialog.show();
    if (!waitUntil([&] { return dialog.view()->pageLoaded(); }, 300000)) {
        std::fprintf(stderr, "page did not load\n");
        return;
    }
    const double load = ms(timer);
    QWebEnginePage* web = dialog.view()->page();
    const int options =
        runScript(web, QStringLiteral("document.getElementsByName('BJZ1')[0].options.length")).toInt();
    const double ready = ms(timer);
    runScript(
        web, QStringLiteral(
                 "window.__painted = false; requestAnimationFrame(function(){ window.__painted = true; });"));
    if (!waitUntil([&] { return runScript(web, QStringLiteral("window.__painted")).toBool(); }, 60000))
        std::fprintf(stderr, "no frame drawn\n");
    const double paint = ms(timer);

    timer.restart();
    runScript(web, QStringLiteral("(function(){var s=document.getElementsByName('BJZ1')[0];"
                                  "s.selectedIndex=s.options.length-1;"
                                  "if(document.getElementById('showField'))"
                                  "{var f=document.getElementById('showField');f.selectedIndex=1;selField();}"
                                  "document.getElementsByName('A1')[0].click();})()"));
    if (!waitUntil([&] { return !dialog.isVisible(); }, 60000)) std::fprintf(stderr, "no reply\n");
    const double answered = ms(timer);
    std::printf(
        "%-7s page %6.1f MB, %d condition rows, %d values in the first list: build %7.1f ms, load %7.1f ms, "
        "ready %7.1f ms, paint %7.1f ms, reply %6.1f ms (%s)\n",
        title, double(page.value().size()) * 2 / 1e6, info.conditionRows, options, build, load, ready, paint,
        answered, qPrintable(reply.replyConditions.left(40)));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    CHtmlView2::prepareProcess();
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int64_t rows = argc > 1 ? std::max<int64_t>(1, QByteArray(argv[1]).toLongLong()) : 30000;
    const int64_t distinct = argc > 2 ? std::max<int64_t>(1, QByteArray(argv[2]).toLongLong()) : rows;
    QTemporaryDir dir;
    measure(dir, makeTable(20, 20), false, "warm-up");
    const RowTable table = makeTable(rows, distinct);
    std::printf("%lld data rows, %lld distinct values in 编号 and 数量\n", (long long)rows,
                (long long)distinct);
    measure(dir, table, false, "query");
    measure(dir, table, true, "summary");
    return 0;
}
