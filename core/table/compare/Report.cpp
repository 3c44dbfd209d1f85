#include "table/compare/Report.h"

#include "base/MessageTable.h"
#include "base/TextIO.h"

#include <QDate>
#include <QTime>

namespace quellar {

namespace {

// Joins text pieces (literals, views and strings) in order.
template <typename... Pieces> QString cat(const Pieces&... pieces) {
    QString out;
    (out.append(QStringView(pieces)), ...);
    return out;
}

// One report row of two cells, the second holding a count.
QString countRow(const QString& label, int64_t count) {
    return cat(u"<tr>\n<td>", label, u"</td>\n<td>", QString::number(count), u"</td>\n</tr>\n");
}

// A label followed by a coloured word in full-width brackets and a full-width colon.
QString colouredLabel(const QString& label, const char16_t* colour, const QString& word) {
    return cat(label, u"（<font color='", colour, u"'>", word, u"</font>）：");
}

const char16_t kBlankRow[] = u"<tr>\n<td colspan=2>&nbsp;</td>\n</tr>\n";

} // namespace

Clock systemClock() {
    return [] { return QDateTime::currentDateTime(); };
}

QString htmlEscape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QStringView(u"&amp;");
            break;
        case u'<':
            out += QStringView(u"&lt;");
            break;
        case u'>':
            out += QStringView(u"&gt;");
            break;
        case u'"':
            out += QStringView(u"&quot;");
            break;
        case u'\'':
            out += QStringView(u"&#39;");
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

QString reportRows(const QString& title, const CompareCounts& counts) {
    QString rows;
    rows += QStringView(kBlankRow);
    rows += cat(u"<tr>\n<td>", MessageTable::text(Msg::ReportSheetName), u"</td>\n<td>", htmlEscape(title),
                u"</td>\n</tr>\n");
    rows += countRow(MessageTable::text(Msg::ReportDifferentRows), counts.differentRows);
    rows += countRow(colouredLabel(MessageTable::text(Msg::ReportDifferentCells), u"#FF0000",
                                   MessageTable::text(Msg::ReportRed)),
                     counts.differentCells);
    rows += countRow(colouredLabel(MessageTable::text(Msg::ReportFileOneCells), u"#FF9900",
                                   MessageTable::text(Msg::ReportYellow)),
                     counts.yellowCells);
    rows += countRow(colouredLabel(MessageTable::text(Msg::ReportFileTwoCells), u"#008080",
                                   MessageTable::text(Msg::ReportGreen)),
                     counts.greenCells);
    rows += QStringView(kBlankRow);
    return rows;
}

QString reportTimeText(const QDateTime& localTime) {
    int values[6] = {0, 0, 0, -1, -1, -1};
    if (localTime.isValid()) {
        const QDate d = localTime.date();
        const QTime t = localTime.time();
        values[0] = d.month();
        values[1] = d.day();
        values[2] = d.year();
        values[3] = t.hour();
        values[4] = t.minute();
        values[5] = t.second();
    }
    const QString format = MessageTable::text(Msg::ReportTimeFormat);
    // The format's "%d"s take the six values in order.
    QString out;
    int next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u'd' && next < 6) {
            out += QString::number(values[next++]);
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

QString buildReportPage(const QString& title, const QString& reportText, const QString& file1Path,
                        const QString& file2Path, const QDateTime& localTime) {
    const QString safeTitle = htmlEscape(title);
    QString page;
    page.reserve(reportText.size() + 1024);
    page += QStringView(u"<html>\n");
    page += QStringView(u"<head>\n");
    page += cat(u"<meta http-equiv='Content-Type' content='text/html; charset=",
                MessageTable::text(Msg::PageCharset), u"'>\n");
    page += cat(u"<title>", safeTitle, MessageTable::text(Msg::CompareReport), u"</title>\n");
    page += QStringView(u"</head>\n");
    page += QStringView(u"<body>\n");
    page += cat(u"<p align=center><b><font size='5'>", safeTitle, MessageTable::text(Msg::ReportHeading),
                u"</font></b></p>\n");
    page += QStringView(u"<table border='1' width='90%'>\n");
    page += cat(u"<tr>\n<td>", MessageTable::text(Msg::ReportTime), u"</td>\n<td>", reportTimeText(localTime),
                u"</td>\n</tr>\n");
    page += cat(u"<tr>\n<td>", MessageTable::text(Msg::ReportFileOne), u"</td>\n<td>", htmlEscape(file1Path),
                u"</td>\n</tr>\n");
    page += cat(u"<tr>\n<td>", MessageTable::text(Msg::ReportFileTwo), u"</td>\n<td>", htmlEscape(file2Path),
                u"</td>\n</tr>\n");
    page += reportText;
    page += QStringView(u"</table>\n");
    page += QStringView(u"</body>\n");
    page += QStringView(u"</html>\n");
    return page;
}

Status writeReport(const QString& path, const QString& title, const QString& reportText,
                   const QString& file1Path, const QString& file2Path, const Clock& clock) {
    const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
    return writeUtf16TextFile(path, buildReportPage(title, reportText, file1Path, file2Path, now));
}

} // namespace quellar
