#include "table/compare/DetailsPage.h"

#include "base/CellOps.h"
#include "base/TextIO.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/DifferenceRows.h"
#include "table/compare/Report.h"

namespace quellar {

namespace {

const char16_t kStyle[] = uR"(<style>
:root { color-scheme: light dark; }
body { font-family: "Noto Sans CJK SC", "Microsoft YaHei", sans-serif; margin: 1.5em; color: #1b1b1b; background: #fff; line-height: 1.4; }
h1 { font-size: 1.4em; } h2 { font-size: 1.2em; margin-top: 1.5em; } h3 { font-size: 1.05em; }
table { border-collapse: collapse; margin: .4em 0 1em; max-width: 100%; }
th, td { border: 1px solid #bbb; padding: 2px 6px; vertical-align: top; text-align: left; white-space: pre-wrap; overflow-wrap: anywhere; }
th { background: #eee; }
ul.cells { margin: 0; padding-left: 1.1em; }
.old { color: #b00020; } .new { color: #00692c; } .arrow { color: #666; }
.more { font-style: italic; margin: .2em 0 1em; }
@media (prefers-color-scheme: dark) {
  body { color: #e4e4e4; background: #1c1c1e; }
  th { background: #333; } th, td { border-color: #555; }
  .old { color: #ff8a80; } .new { color: #8fe3a8; } .arrow { color: #aaa; }
}
@media print {
  @page { size: A4; margin: 14mm 12mm; }
  body { margin: 0; font-size: 9.5pt; color: #000; background: #fff; }
  th { background: #eee; } th, td { border-color: #888; }
  .old, .new, .arrow { color: #000; } .old { text-decoration: line-through; }
  thead { display: table-header-group; } tr { break-inside: avoid; } h2, h3 { break-after: avoid; }
}
</style>
)";

QString esc(QStringView text) {
    return htmlEscape(text.toString());
}

// A cell of the result as the result pane shows it (numbers as 100416, not 100416.000000).
QString cellText(const Row& row, size_t column) {
    if (column >= row.size() || row[column].mergeState == MergeState::Covered) return {};
    return shownCellText(row[column].text.qview());
}

QString columnName(const FieldList& names, size_t column) {
    const QString name = names.value(qsizetype(column));
    return name.isEmpty() ? columnLetters(int(column) + 1) : name;
}

QString moreLine(size_t more) {
    return QStringLiteral("<p class=\"more\">还有 %1 行没有列出。</p>\n").arg(more);
}

// The key of a row: its key fields joined, or its row number when rows pair by position.
QString keyText(const Row& row, const std::vector<size_t>& keyColumns, size_t offset) {
    QStringList parts;
    for (size_t c : keyColumns)
        parts.append(cellText(row, offset + c));
    return parts.join(QStringLiteral("、"));
}

} // namespace

QStringList describeCompareRules(const CompareOptions& options, const QStringList& keys) {
    QStringList contents;
    if (options.compareText) contents.append(QStringLiteral("文本"));
    if (options.compareFormula) contents.append(QStringLiteral("公式"));
    if (options.compareNumberFormat) contents.append(QStringLiteral("数值格式"));
    QStringList rules;
    rules.append(QStringLiteral("比较内容：%1")
                     .arg(contents.isEmpty() ? QStringLiteral("无") : contents.join(QStringLiteral("、"))));
    if (options.compareText)
        rules.append(options.ignoreCase ? QStringLiteral("英文字母不区分大小写")
                                        : QStringLiteral("区分大小写"));
    if (options.keyMode)
        rules.append(QStringLiteral("按对比字段配对：%1").arg(keys.join(QStringLiteral("、"))));
    else
        rules.append(keys.isEmpty() ? QStringLiteral("按每行每列配对")
                                    : QStringLiteral("按每行每列配对（行数不同时按 %1 配对）")
                                          .arg(keys.join(QStringLiteral("、"))));
    if (!options.rules.isDefault())
        rules.append(QStringLiteral("规则：") + rulesSummaryText(options.rules, false));
    return rules;
}

DetailsStatistics detailsStatistics(const CompareStatistics& statistics) {
    DetailsStatistics table;
    table.header = {QStringLiteral("文件一的列"), QStringLiteral("文件二的列"), QStringLiteral("比较"),
                    QStringLiteral("不同的单元格"), QStringLiteral("最大差值")};
    for (const ColumnStatistics& c : statistics.columns)
        table.rows.push_back({c.inFile1 ? c.file1 : QStringLiteral("—"),
                              c.inFile2 ? c.file2 : QStringLiteral("—"),
                              c.compared ? QStringLiteral("是") : QStringLiteral("否"),
                              c.compared ? QString::number(c.differing) : QString(),
                              c.hasMaxDifference ? shownNumberText(c.maxDifference) : QString()});
    return table;
}

DetailsPage::DetailsPage(const QString& title, const QString& file1, const QString& file2,
                         const QStringList& rules)
    : title_(title) {
    head_ += QStringLiteral("<h1>%1 差异明细</h1>\n<table>\n").arg(esc(title));
    head_ += QStringLiteral("<tr><th>文件一</th><td>%1</td></tr>\n").arg(esc(file1));
    head_ += QStringLiteral("<tr><th>文件二</th><td>%1</td></tr>\n</table>\n").arg(esc(file2));
    head_ += QStringLiteral("<h2>对比规则</h2>\n<ul>\n");
    for (const QString& rule : rules)
        head_ += QStringLiteral("<li>%1</li>\n").arg(esc(rule));
    head_ += QStringLiteral("</ul>\n");
}

void DetailsPage::addComparison(const QString& sheet1, const QString& sheet2, const RowTable& result,
                                const CompareLayout& layout, const CompareCounts& counts,
                                const DetailsStatistics* statistics) {
    QString& s = sections_;
    s += QStringLiteral("<h2>%1</h2>\n<table>\n")
             .arg(esc(sheet1 == sheet2 ? sheet1 : sheet1 + QStringLiteral(" ↔ ") + sheet2));
    s += QStringLiteral("<tr><th>文件一的工作表</th><td>%1</td></tr>\n").arg(esc(sheet1));
    s += QStringLiteral("<tr><th>文件二的工作表</th><td>%1</td></tr>\n").arg(esc(sheet2));
    const auto countRow = [&](const char16_t* label, int64_t n) {
        s += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(QString::fromUtf16(label)).arg(n);
    };
    countRow(u"不同的行数", counts.differentRows);
    countRow(u"不同的单元格数", counts.differentCells);
    countRow(u"只在文件一的单元格数", counts.yellowCells);
    countRow(u"只在文件二的单元格数", counts.greenCells);
    s += QStringLiteral("</table>\n");

    if (statistics && !statistics->rows.empty()) {
        s += QStringLiteral("<h3>各列统计</h3>\n<table>\n<thead><tr>");
        for (const QString& h : statistics->header)
            s += QStringLiteral("<th>%1</th>").arg(esc(h));
        s += QStringLiteral("</tr></thead>\n");
        for (const QStringList& row : statistics->rows) {
            s += QStringLiteral("<tr>");
            for (const QString& cell : row)
                s += QStringLiteral("<td>%1</td>").arg(esc(cell));
            s += QStringLiteral("</tr>\n");
        }
        s += QStringLiteral("</table>\n");
    }

    const bool keyed = layout.keyMode && !layout.keyColumns1.empty();
    const size_t side2 = layout.width1 + 1;
    const size_t rows1 = std::min(layout.rows1, result.size());
    QString changed, only1, only2;
    size_t changedCount = 0, only1Count = 0, only2Count = 0;
    const QString keyHeader = keyed ? QStringLiteral("<th>关键字段</th>") : QString();

    const auto valuesRow = [&](const Row& row, size_t offset, size_t width) {
        QString cells;
        for (size_t c = 0; c < width; ++c)
            cells += QStringLiteral("<td>%1</td>").arg(esc(cellText(row, offset + c)));
        return cells;
    };

    for (size_t r = 0; r < result.size(); ++r) {
        const Row& row = result[r];
        const int64_t j = pairedRowOf(row, layout.width1);
        if (r < rows1) {
            if (int64_t(r) <= layout.fieldRow1) continue;
            if (j < 0) {
                if (only1Count++ < kListLimit)
                    only1 += QStringLiteral("<tr><td>%1</td>%2%3</tr>\n")
                                 .arg(r + 1)
                                 .arg(keyed ? QStringLiteral("<td>%1</td>")
                                                  .arg(esc(keyText(row, layout.keyColumns1, 0)))
                                            : QString(),
                                      valuesRow(row, 0, layout.width1));
                continue;
            }
            if (j <= layout.fieldRow2) continue;
            QString cells;
            for (size_t c = 0; c < layout.width1 && c < row.size(); ++c) {
                if (row[c].fillColorIndex != Fill::Red) continue;
                const int c2 = c < layout.column1To2.size() ? layout.column1To2[c] : -1;
                if (c2 < 0) continue;
                cells +=
                    QStringLiteral(
                        "<li class=\"cell\">%1：<span class=\"old\">%2</span> <span class=\"arrow\">→</span> "
                        "<span class=\"new\">%3</span></li>")
                        .arg(esc(columnName(layout.names1, c)), esc(cellText(row, c)),
                             esc(cellText(row, side2 + size_t(c2))));
            }
            if (cells.isEmpty()) continue;
            if (changedCount++ < kListLimit)
                changed +=
                    QStringLiteral("<tr><td>%1</td><td>%2</td>%3<td><ul class=\"cells\">%4</ul></td></tr>\n")
                        .arg(r + 1)
                        .arg(j + 1)
                        .arg(keyed
                                 ? QStringLiteral("<td>%1</td>").arg(esc(keyText(row, layout.keyColumns1, 0)))
                                 : QString(),
                             cells);
            continue;
        }
        if (j <= layout.fieldRow2) continue;
        if (only2Count++ < kListLimit)
            only2 +=
                QStringLiteral("<tr><td>%1</td>%2%3</tr>\n")
                    .arg(j + 1)
                    .arg(keyed
                             ? QStringLiteral("<td>%1</td>").arg(esc(keyText(row, layout.keyColumns2, side2)))
                             : QString(),
                         valuesRow(row, side2, layout.width2));
    }

    const auto header = [&](const FieldList& names, size_t width) {
        QString h;
        for (size_t c = 0; c < width; ++c)
            h += QStringLiteral("<th>%1</th>").arg(esc(columnName(names, c)));
        return h;
    };
    const auto list = [&](const QString& heading, const QString& head, const QString& rows, size_t count) {
        s += QStringLiteral("<h3>%1（%2 行）</h3>\n").arg(heading).arg(count);
        if (count == 0) return;
        s += QStringLiteral("<table>\n<thead><tr>%1</tr></thead>\n%2</table>\n").arg(head, rows);
        if (count > kListLimit) s += moreLine(count - kListLimit);
    };
    list(QStringLiteral("内容不同的行"),
         QStringLiteral("<th>文件一行</th><th>文件二行</th>") + keyHeader +
             QStringLiteral("<th>不同的单元格（原值 → 新值）</th>"),
         changed, changedCount);
    list(QStringLiteral("只在文件一的行"),
         QStringLiteral("<th>文件一行</th>") + keyHeader + header(layout.names1, layout.width1), only1,
         only1Count);
    list(QStringLiteral("只在文件二的行"),
         QStringLiteral("<th>文件二行</th>") + keyHeader + header(layout.names2, layout.width2), only2,
         only2Count);
}

QString DetailsPage::html() const {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, "
                          "initial-scale=1\">\n<title>%1 差异明细</title>\n")
               .arg(esc(title_)) +
           QString::fromUtf16(kStyle) + QStringLiteral("</head>\n<body>\n") + head_ + sections_ +
           QStringLiteral("</body>\n</html>\n");
}

Status DetailsPage::write(const QString& path) const {
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    out.append(html().toStdString());
    return out.commit();
}

} // namespace quellar
