#pragma once
// The HTML difference report of both comparisons (report.htm).
//
// Each compared table pair appends one block of table rows (reportRows) to the report text
// that the command holds; at the end the command builds the page around those rows
// (buildReportPage) and writes it (writeReport) as UTF-16LE with a byte-order mark and a
// final CR LF, replacing any earlier report only once the new one is complete. Titles and
// file paths are HTML-escaped, so a sheet called <script> shows as text. The local time
// comes from a Clock, which tests replace with a fixed one.

#include "base/Status.h"
#include "table/compare/Comparison.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace quellar {

using Clock = std::function<QDateTime()>;

// The clock of the running system: QDateTime::currentDateTime.
Clock systemClock();

// & < > " ' as character references.
QString htmlEscape(const QString& text);

// The seven rows of one compared pair: a blank row, the sheet title, the different-row
// count, the different-cell count (red), the file-1-only count (yellow), the file-2-only
// count (green), a blank row.
QString reportRows(const QString& title, const CompareCounts& counts);

// "12月6日2026年 9点5分7秒": month, day, year, hour, minute, second without leading zeros;
// an invalid time reads 0月0日0年 -1点-1分-1秒.
QString reportTimeText(const QDateTime& localTime);

// The whole page: head with the title followed by 对比, heading title + 报告, the time and
// the two file paths, then `reportText` as it is.
QString buildReportPage(const QString& title, const QString& reportText, const QString& file1Path,
                        const QString& file2Path, const QDateTime& localTime);

// Builds the page with the clock's time and writes it to `path`. A file that cannot be
// written is returned as an error naming the path; the earlier report then stays.
Status writeReport(const QString& path, const QString& title, const QString& reportText,
                   const QString& file1Path, const QString& file2Path, const Clock& clock = systemClock());

} // namespace quellar
