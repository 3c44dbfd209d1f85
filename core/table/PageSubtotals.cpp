#include "table/PageSubtotals.h"

#include "base/MessageTable.h"
#include "base/Progress.h"

#include "base/CellOps.h"
#include "base/TextIO.h"
#include "workbook/ExcelDriver.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/containers/XmlScanner.h"
#include "workbook/xmlss/SpreadsheetML.h"
#include "workbook/xmlss/XMLTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <optional>

namespace quellar {
namespace {

using spreadsheetml::hasLocalName;
using spreadsheetml::tagEnd;

// Rows parsed into one document tree at a time: small enough to keep memory flat, large
// enough that parsing a piece costs little more than its bytes.
constexpr int64_t kPieceRows = 4096;

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

std::string_view view(const QByteArray& bytes) {
    return {bytes.constData(), size_t(bytes.size())};
}

// The first row whose texts are all non-empty and pairwise different (a row without any
// cell is none).
bool isFieldRow(const QStringList& texts) {
    if (texts.isEmpty()) return false;
    QSet<QString> seen;
    for (const QString& text : texts) {
        if (text.isEmpty() || seen.contains(text)) return false;
        seen.insert(text);
    }
    return true;
}

// One piece of the Table's rows as a document tree: rows [first, last) with whatever
// stands between them, inside a <Table> element of its own.
class Piece {
public:
    Piece(const PageSheet& sheet, int64_t first, int64_t last)
        : first_(first) {
        const qint64 begin = sheet.rowStarts[size_t(first)];
        const qint64 end = last < sheet.rowCount ? sheet.rowStarts[size_t(last)] : sheet.tableContentEnd;
        QByteArray bytes;
        bytes.reserve(end - begin + 16);
        bytes.append("<Table>").append(sheet.bytes.constData() + begin, end - begin).append("</Table>");
        status_ = dom_.loadFromBytes(bytes, QStringLiteral("工作文件 %1 的第 %2 到 %3 个行元素")
                                                .arg(shownPath(sheet.xmlPath))
                                                .arg(first + 1)
                                                .arg(last));
    }
    const Status& status() const { return status_; }
    XMLTools& dom() { return dom_; }
    // The Row elements of the piece, in order.
    std::vector<XmlNode> rows() const {
        std::vector<XmlNode> list;
        for (XmlNode n = dom_.documentElement().firstChild(); n; n = n.nextSibling())
            if (n.isElement() && hasLocalName(n.name(), u"Row")) list.push_back(n);
        return list;
    }
    // The piece's content as text, without the wrapping element.
    QString text() {
        QString all = dom_.xmlText();
        const qsizetype open = all.indexOf(QLatin1String("<Table>"));
        const qsizetype close = all.lastIndexOf(QLatin1String("</Table>"));
        if (open < 0 || close < open) return QString(); // an empty piece serialises as <Table/>
        return all.mid(open + 7, close - open - 7);
    }
    int64_t first() const { return first_; }

private:
    XMLTools dom_;
    Status status_;
    int64_t first_;
};

// The XML text of a one-row document, without the declaration that serialising adds.
QString rowXml(XMLTools& dom) {
    QString text = dom.xmlText();
    if (text.startsWith(QLatin1String("<?xml"))) text.remove(0, text.indexOf(QLatin1String("?>")) + 2);
    return text;
}

QString sumText(double value) {
    return QString::asprintf("%f", value);
}

} // namespace

Result<PageSheet> readPageSheet(const QString& xmlPath, const QString& sheetName) {
    Result<QByteArray> read = spreadsheetml::readUtf8(xmlPath);
    if (!read.isOk()) return read.status();
    PageSheet sheet;
    sheet.xmlPath = xmlPath;
    sheet.sheetName = sheetName;
    sheet.bytes = read.take();
    const QString shown = shownPath(xmlPath);
    const QByteArray wantedName = sheetName.toUtf8();

    MemoryByteSource source(view(sheet.bytes));
    XmlScanner scanner(source);
    int workbookDepth = -1, worksheetDepth = -1, tableDepth = -1;
    bool worksheetFound = false, tableFound = false;
    for (;;) {
        const XmlScanner::Token token = scanner.next();
        if (token == XmlScanner::Token::EndDocument) break;
        if (token == XmlScanner::Token::Error)
            return Status::invalidInput(
                QStringLiteral("工作文件 %1 已损坏：%2").arg(shown, scanner.status().message()));
        if (token == XmlScanner::Token::EndElement) {
            if (tableDepth >= 0 && scanner.depth() < tableDepth) {
                sheet.tableContentEnd = scanner.offset();
                tableDepth = -1;
            }
            if (worksheetDepth >= 0 && scanner.depth() < worksheetDepth) worksheetDepth = -1;
            continue;
        }
        if (token != XmlScanner::Token::StartElement) continue;
        const std::string_view name = scanner.qualifiedName();
        if (workbookDepth < 0) {
            if (name == "Workbook") workbookDepth = scanner.depth();
        } else if (!worksheetFound) {
            if (name != "Worksheet") continue;
            for (const XmlAttribute& a : scanner.attributes())
                if (a.qualifiedName == "ss:Name" && a.value == view(wantedName)) {
                    worksheetFound = true;
                    worksheetDepth = scanner.depth();
                    break;
                }
        } else if (worksheetDepth >= 0 && !tableFound) {
            if (name != "Table") continue;
            tableFound = true;
            sheet.tableTagStart = scanner.offset();
            sheet.tableTagEnd = tagEnd(sheet.bytes, sheet.tableTagStart);
            if (sheet.tableTagEnd < 0 || sheet.bytes.at(sheet.tableTagStart) != '<')
                return Status::invalidInput(
                    QStringLiteral("工作文件 %1 已损坏：Table 元素的开始标记不完整").arg(shown));
            for (const XmlAttribute& a : scanner.attributes())
                if (a.qualifiedName == "ss:ExpandedRowCount")
                    sheet.expandedRowCount =
                        QByteArray(a.value.data(), qsizetype(a.value.size())).trimmed().toLongLong();
            if (scanner.isEmptyElement())
                sheet.tableContentEnd = sheet.tableTagEnd;
            else
                tableDepth = scanner.depth();
        } else if (tableDepth >= 0 && scanner.depth() == tableDepth + 1 && hasLocalName(name, "Row")) {
            const int32_t previous = sheet.rowPositions.empty() ? 0 : sheet.rowPositions.back();
            int64_t position = previous + 1;
            if (const XmlAttribute* index = scanner.attribute("Index")) {
                bool ok = false;
                position =
                    QByteArray(index->value.data(), qsizetype(index->value.size())).trimmed().toLongLong(&ok);
                if (!ok || position <= previous)
                    return Status::invalidInput(
                        QStringLiteral("工作文件 %1 已损坏：第 %2 个行元素的 ss:Index“%3”不是大于 %4 的整数")
                            .arg(shown)
                            .arg(sheet.rowPositions.size() + 1)
                            .arg(QString::fromUtf8(index->value.data(), qsizetype(index->value.size())))
                            .arg(previous));
            }
            if (position > kMaxRows)
                return Status::invalidInput(
                    QStringLiteral("工作文件 %1 已损坏：第 %2 个行元素超出最后一行 %3")
                        .arg(shown)
                        .arg(sheet.rowPositions.size() + 1)
                        .arg(kMaxRows));
            // A cancel is looked for once every 4096 rows, not once an element.
            cancellation::pointEvery(sheet.rowStarts.size());
            sheet.rowStarts.push_back(scanner.offset());
            sheet.rowPositions.push_back(int32_t(position));
        }
    }
    if (workbookDepth < 0)
        return Status::invalidInput(
            QStringLiteral("工作文件 %1 不是 XML 电子表格：没有 Workbook 元素").arg(shown));
    if (!worksheetFound)
        return Status::notFound(QStringLiteral("工作文件 %1 中没有名为“%2”的工作表").arg(shown, sheetName));
    if (!tableFound)
        return Status::invalidInput(
            QStringLiteral("工作文件 %1 的工作表“%2”没有 Table 元素").arg(shown, sheetName));
    sheet.rowCount = int64_t(sheet.rowStarts.size());

    // The field row, read piece by piece until it is found.
    for (int64_t first = 0; first < sheet.rowCount && sheet.fieldRow < 0; first += kPieceRows) {
        cancellation::point();
        Piece piece(sheet, first, std::min(sheet.rowCount, first + kPieceRows));
        if (!piece.status().isOk()) return piece.status();
        int64_t r = first;
        for (const XmlNode& row : piece.rows()) {
            Result<QStringList> texts = piece.dom().rowTexts(row);
            if (!texts.isOk())
                return texts.status().withContext(QStringLiteral("工作文件 %1 的工作表“%2”第 %3 行")
                                                      .arg(shown, sheetName)
                                                      .arg(sheet.rowPositions[size_t(r)]));
            if (isFieldRow(texts.value())) {
                sheet.fieldRow = r;
                sheet.fields = texts.take();
                break;
            }
            ++r;
        }
    }
    return sheet;
}

int proposedRowsPerPage(int pageBreakRow, int64_t fieldRow) {
    if (pageBreakRow < 0) return 6;
    return int(std::clamp<int64_t>(int64_t(pageBreakRow) - fieldRow - 3, 6, 99));
}

QStringList pageSumLabels(const FieldList& fields) {
    return columnLabels(fields);
}

std::vector<int> pageSumColumns(const QStringList& labels) {
    std::vector<int> columns;
    for (const QString& label : labels) {
        const int column = columnOfLabel(label);
        if (column >= 0 && std::find(columns.begin(), columns.end(), column) == columns.end())
            columns.push_back(column);
    }
    return columns;
}

namespace {

// Writes the data rows of the worksheet with their subtotal rows. The rows are scanned once,
// one handler per event: a Row starts (onRow), a Cell starts (onCell), the Data of a cell in a
// sum column (onData), a data Row ends (onRowEnd). The values of the sum columns are added up
// as the cells go by (placed by ss:Index and ss:MergeAcross, as rows are read everywhere), the
// rows are copied as they stand, and where a block ends its subtotal row is built as a
// document tree from the row it follows.
class SubtotalWriter {
public:
    SubtotalWriter(const PageSheet& sheet, const PageSubtotalOptions& options, int widest, OutputFile& out,
                   QElapsedTimer& clock)
        : sheet_(sheet)
        , options_(options)
        , out_(out)
        , clock_(clock)
        , shown_(shownPath(sheet.xmlPath))
        , rowsPerPage_(options.rowsPerPage)
        , dataRows_(sheet.dataRows())
        , firstData_(sheet.fieldRow + 1)
        , regionStart_(sheet.rowStarts[size_t(firstData_)])
        , slotOfColumn_(size_t(widest) + 1, -1)
        , pageSums_(options.sumColumns.size(), 0.0)
        , totals_(options.sumColumns.size(), 0.0)
        , source_({kOpen,
                   std::string_view(sheet.bytes.constData() + regionStart_,
                                    size_t(sheet.tableContentEnd - regionStart_)),
                   kClose})
        , scanner_(source_)
        , copied_(sheet.tableTagEnd)
        , r_(firstData_ - 1) {
        for (size_t k = 0; k < options.sumColumns.size(); ++k)
            slotOfColumn_[size_t(options.sumColumns[k])] = int(k);
        subtotalText_ = MessageTable::text(Msg::Subtotal);
        totalText_ = MessageTable::text(Msg::GrandTotal);
    }

    // Scans the data rows to the end of the Table, or until writing fails.
    Status run() {
        for (;;) {
            const XmlScanner::Token token = scanner_.next();
            if (token == XmlScanner::Token::EndDocument) break;
            if (token == XmlScanner::Token::Error) return broken();
            const int depth = scanner_.depth();
            Status status;
            if (token == XmlScanner::Token::StartElement) {
                const std::string_view name = scanner_.localName();
                if (depth == 2 && hasLocalName(name, "Row"))
                    status = onRow();
                else if (depth == 3 && hasLocalName(name, "Cell"))
                    status = onCell();
                else if (depth == 4 && cellSlot_ >= 0 && hasLocalName(name, "Data"))
                    status = onData();
            } else if (token == XmlScanner::Token::EndElement && depth == 1 && r_ >= firstData_ &&
                       hasLocalName(scanner_.localName(), "Row")) {
                bool blockEnded = false;
                status = onRowEnd(blockEnded);
                if (status.isOk() && blockEnded && out_.failed()) break;
            }
            if (!status.isOk()) return status;
        }
        return Status::ok();
    }

    // Whether every Row of the Table was read (the file did not change since readPageSheet).
    bool readAllRows() const { return r_ == sheet_.rowCount - 1; }
    // Copies the rest of the file after the last row.
    void finish() { copyUpTo(sheet_.bytes.size()); }
    qint64 treeNanoseconds() const { return treeNanoseconds_; }

private:
    static constexpr std::string_view kOpen = "<T>", kClose = "</T>";

    // A Row: it may name its sheet row, which moves down by the rows inserted above.
    Status onRow() {
        ++r_;
        // Writing is cancelled here too, not only when the output's buffer is written out: the
        // temporary file goes with the OutputFile.
        cancellation::pointEvery(r_);
        rowStart_ = absolute(scanner_.offset());
        position_ = sheet_.rowPositions[size_t(r_)];
        placement_ = CellPlacement();
        cellSlot_ = -1;
        if (shift_ > 0 && scanner_.attribute("Index")) {
            copyUpTo(rowStart_);
            const qint64 end = tagEnd(sheet_.bytes, rowStart_);
            QString tag = QString::fromUtf8(sheet_.bytes.constData() + rowStart_, end - rowStart_);
            static const QRegularExpression index(
                QStringLiteral("(\\b(?:\\w+:)?Index\\s*=\\s*)(\"[^\"]*\"|'[^']*')"));
            tag.replace(index, QStringLiteral("\\1\"%1\"").arg(position_ + shift_));
            spreadsheetml::appendUtf16(out_, tag);
            copied_ = end;
        }
        return Status::ok();
    }

    // A Cell: its place, and the sum slot its value goes to.
    Status onCell() {
        std::optional<int64_t> index;
        if (const XmlAttribute* a = scanner_.attribute("Index")) {
            bool ok = false;
            const long long value = attributeNumber(*a, &ok);
            if (!ok || !placement_.inOrder(value) || !CellPlacement::fits(value, 0))
                return failRow(QStringLiteral("单元格的 ss:Index“%1”不是 %2 到 %3 之间的整数")
                                   .arg(attributeText(*a))
                                   .arg(placement_.next())
                                   .arg(kMaxColumns));
            index = value;
        }
        const int64_t column = placement_.columnOf(index);
        long long across = 0;
        if (const XmlAttribute* a = scanner_.attribute("MergeAcross")) {
            bool ok = false;
            across = attributeNumber(*a, &ok);
            if (!ok || !CellPlacement::fits(column, across))
                return failRow(QStringLiteral("单元格的 ss:MergeAcross“%1”无效").arg(attributeText(*a)));
        }
        if (const XmlAttribute* a = scanner_.attribute("MergeDown")) clipMergeDown(*a);
        placement_.take(column, across);
        cellSlot_ = column - 1 < qsizetype(slotOfColumn_.size()) ? slotOfColumn_[size_t(column - 1)] : -1;
        return Status::ok();
    }

    // A cell merged down across the end of its block would cover the subtotal row: the merge
    // ends with the block instead, so the subtotal row shows all it carries.
    void clipMergeDown(const XmlAttribute& mergeDown) {
        const long long down = attributeNumber(mergeDown, nullptr);
        const int64_t blockEnd =
            firstData_ +
            std::min((r_ - firstData_) / rowsPerPage_ * rowsPerPage_ + rowsPerPage_ - 1, dataRows_ - 1);
        const int64_t endPosition = sheet_.rowPositions[size_t(blockEnd)];
        if (down <= 0 || endPosition >= position_ + down) return;
        const qint64 cellStart = absolute(scanner_.offset());
        copyUpTo(cellStart);
        const qint64 end = tagEnd(sheet_.bytes, cellStart);
        QString tag = QString::fromUtf8(sheet_.bytes.constData() + cellStart, end - cellStart);
        static const QRegularExpression merge(
            QStringLiteral("\\s+(?:\\w+:)?MergeDown\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
        const int64_t kept = endPosition - position_;
        tag.replace(merge, kept > 0 ? QStringLiteral(" ss:MergeDown=\"%1\"").arg(kept) : QString());
        spreadsheetml::appendUtf16(out_, tag);
        copied_ = end;
    }

    // The value of a cell in a sum column: the first Data of the cell. A Number is a number
    // however it is spelt (10000000, 1E+7, 1.5e-3), as every reader of the file takes it; any
    // other text counts by the strict number rule (12a and blanks count 0).
    Status onData() {
        const XmlAttribute* type = scanner_.attribute("Type");
        const bool typedNumber =
            type && QByteArrayView(type->value.data(), qsizetype(type->value.size())).trimmed() == "Number";
        dataText_.clear();
        if (!scanner_.readElementText(dataText_)) return broken();
        double value = 0;
        if ((typedNumber && spreadsheetml::readNumber(dataText_, value)) ||
            parseNumber(QString::fromUtf8(dataText_.data(), qsizetype(dataText_.size())), value)) {
            pageSums_[size_t(cellSlot_)] += value;
            totals_[size_t(cellSlot_)] += value;
        }
        cellSlot_ = -1;
        return Status::ok();
    }

    // A data row ends here; where its block ends too, its subtotal row follows (and after the
    // last data row, the grand-total row).
    Status onRowEnd(bool& blockEnded) {
        const int64_t j = r_ - firstData_;
        const bool last = j == dataRows_ - 1;
        if ((j + 1) % rowsPerPage_ != 0 && !last) return Status::ok();
        blockEnded = true;
        const qint64 rowEnd = tagEnd(sheet_.bytes, absolute(scanner_.offset()));
        if (rowEnd < 0) return failRow(QStringLiteral("行的结束标记不完整"));
        copyUpTo(rowEnd);

        const qint64 started = clock_.nsecsElapsed();
        Status status =
            dom_.loadFromBytes(sheet_.bytes.mid(rowStart_, rowEnd - rowStart_),
                               QStringLiteral("工作文件 %1 的第 %2 行").arg(shown_).arg(position_));
        XmlNode copy = dom_.documentElement();
        if (status.isOk()) {
            // The row as parsed is the copy: it keeps the row's attributes and cells, and
            // takes the place right after the row.
            dom_.removeAttribute(copy, QStringLiteral("ss:Index"));
            dom_.clearRowValues(copy);
            status = fillTotals(copy, subtotalText_, pageSums_, true);
        }
        QString rows;
        if (status.isOk()) rows = rowXml(dom_);
        if (status.isOk() && last) {
            // The grand total is a copy of the subtotal row.
            status = fillTotals(copy, totalText_, totals_, false);
            if (status.isOk()) rows += rowXml(dom_);
        }
        if (!status.isOk())
            return status.withContext(
                QStringLiteral("工作表“%1”第 %2 行后的小计行").arg(sheet_.sheetName).arg(position_ + shift_));
        treeNanoseconds_ += clock_.nsecsElapsed() - started;
        spreadsheetml::appendUtf16(out_, rows);
        std::fill(pageSums_.begin(), pageSums_.end(), 0.0);
        shift_ += last ? 2 : 1;
        return Status::ok();
    }

    // The label and the sums written into an emptied copy of a row; the label first, so a sum
    // column at the label's place keeps the label.
    Status fillTotals(XmlNode row, const QString& label, const std::vector<double>& sums, bool zeroAsEmpty) {
        if (options_.labelColumn > 0) {
            Status s = dom_.setCellValue(row, options_.labelColumn, label, QStringLiteral("String"));
            if (!s.isOk()) return s;
        }
        for (size_t k = 0; k < sums.size(); ++k) {
            const int column = options_.sumColumns[k] + 1;
            if (column == options_.labelColumn) continue;
            const bool empty = zeroAsEmpty && sums[k] == 0;
            Status s = dom_.setCellValue(row, column, empty ? QString() : sumText(sums[k]),
                                         empty ? QStringLiteral("String") : QStringLiteral("Number"));
            if (!s.isOk()) return s;
        }
        return Status::ok();
    }

    // Bytes of the file up to `end` that are not in the output yet.
    void copyUpTo(qint64 end) {
        spreadsheetml::appendUtf16(out_, sheet_.bytes, copied_, end);
        copied_ = end;
    }
    // A scanner offset as an offset in the file.
    qint64 absolute(qint64 offset) const { return regionStart_ + offset - qint64(kOpen.size()); }

    static long long attributeNumber(const XmlAttribute& a, bool* ok) {
        return QByteArray(a.value.data(), qsizetype(a.value.size())).trimmed().toLongLong(ok);
    }
    static QString attributeText(const XmlAttribute& a) {
        return QString::fromUtf8(a.value.data(), qsizetype(a.value.size()));
    }
    Status failRow(const QString& what) const {
        return Status::invalidInput(QStringLiteral("工作文件 %1 的工作表“%2”第 %3 行：%4")
                                        .arg(shown_, sheet_.sheetName)
                                        .arg(position_)
                                        .arg(what));
    }
    Status broken() const {
        return Status::invalidInput(
            QStringLiteral("工作文件 %1 已损坏：%2").arg(shown_, scanner_.status().message()));
    }

    const PageSheet& sheet_;
    const PageSubtotalOptions& options_;
    OutputFile& out_;
    QElapsedTimer& clock_;
    const QString shown_;
    const int64_t rowsPerPage_;
    const int64_t dataRows_;
    const int64_t firstData_;
    const qint64 regionStart_;
    std::vector<int> slotOfColumn_; // 0-based column -> sum slot
    std::vector<double> pageSums_, totals_;
    QString subtotalText_, totalText_;
    spreadsheetml::ConcatenatedSource source_;
    XmlScanner scanner_;
    qint64 copied_; // bytes before this are in the output
    int64_t r_;     // the Row being read
    qint64 rowStart_ = 0;
    int32_t position_ = 0;
    CellPlacement placement_;
    int cellSlot_ = -1;
    int64_t shift_ = 0; // rows inserted so far
    std::string dataText_;
    XMLTools dom_; // one block-ending row at a time
    qint64 treeNanoseconds_ = 0;
};

} // namespace

Status writePageSubtotals(const PageSheet& sheet, const PageSubtotalOptions& options, const QString& target,
                          PageSubtotalInfo* info) {
    if (sheet.fieldRow < 0)
        return Status::invalidInput(QStringLiteral("工作表“%1”没有字段行").arg(sheet.sheetName));
    const int64_t dataRows = sheet.dataRows();
    if (dataRows <= 0)
        return Status::invalidInput(
            QStringLiteral("工作表“%1”的字段行下面没有数据行，没有可汇总的内容").arg(sheet.sheetName));
    if (options.rowsPerPage < 1)
        return Status::invalidInput(
            QStringLiteral("每页行数必须至少为 1，给的是 %1").arg(options.rowsPerPage));
    if (options.labelColumn < 0 || options.labelColumn > kMaxColumns)
        return Status::invalidInput(
            QStringLiteral("小计文本的列号 %1 超出 0 到 %2").arg(options.labelColumn).arg(kMaxColumns));
    int widest = options.labelColumn;
    for (int column : options.sumColumns) {
        if (column < 0 || column >= kMaxColumns)
            return Status::invalidInput(QStringLiteral("汇总列 %1 超出最后一列 XFD").arg(column + 1));
        widest = std::max(widest, column + 1);
    }

    // One subtotal row per non-empty block, then the grand-total row: the rows written
    // must fit one worksheet, or nothing is written at all.
    const int64_t R = options.rowsPerPage;
    const int64_t subtotals = (dataRows + R - 1) / R;
    const int64_t inserted = subtotals + 1;
    const int64_t lastRow = int64_t(sheet.rowPositions.back()) + inserted;
    if (lastRow > kMaxRows)
        return Status::invalidInput(
            QStringLiteral("分页汇总的结果有 %1 行（工作表原有 %2 行，加上 %3 个小计行和 1 "
                           "个合计行），超过一个工作表最多的 "
                           "%4 行，没有写出任何文件。请先把表格拆分到几个工作表里，再分别分页汇总。")
                .arg(lastRow)
                .arg(sheet.rowPositions.back())
                .arg(subtotals)
                .arg(kMaxRows));
    const int64_t rowCount =
        std::max(lastRow, std::min<int64_t>(sheet.expandedRowCount + inserted, kMaxRows));

    QElapsedTimer clock;
    clock.start();
    OutputFile out(target);
    Status status = out.open();
    if (!status.isOk()) return status;
    out.append(std::string_view("\xFF\xFE", 2));
    {
        QString prefix = QString::fromUtf8(sheet.bytes.constData(), sheet.tableTagStart);
        spreadsheetml::dropDeclaredEncoding(prefix);
        spreadsheetml::appendUtf16(out, prefix);
    }
    spreadsheetml::appendUtf16(
        out,
        spreadsheetml::tableTagWithCounts(
            sheet.bytes.mid(sheet.tableTagStart, sheet.tableTagEnd - sheet.tableTagStart), rowCount, widest));

    SubtotalWriter writer(sheet, options, widest, out, clock);
    status = writer.run();
    if (!status.isOk()) return status;
    // A write that failed (a full disk) stopped the rows early: report it, not a changed file.
    if (out.failed()) return out.commit();
    if (!writer.readAllRows())
        return Status::invalidInput(
            QStringLiteral("工作文件 %1 在读取时发生了变化").arg(shownPath(sheet.xmlPath)));
    writer.finish();
    spreadsheetml::appendUtf16(out, u"\r\n");
    status = out.commit();
    if (!status.isOk()) return status;
    if (info) {
        const qint64 treeNanoseconds = writer.treeNanoseconds();
        info->subtotalRows = subtotals;
        info->writtenRows = rowCount;
        info->treeSeconds = double(treeNanoseconds) / 1e9;
        info->writeSeconds = double(clock.nsecsElapsed() - treeNanoseconds) / 1e9;
    }
    return Status::ok();
}

QString pageSubtotalOutputPath(const QString& file1) {
    const QFileInfo info(file1);
    const QString name = info.fileName();
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? name : name.left(name.size() - suffix.size() - 1);
    return info.absoluteDir().filePath(base + MessageTable::text(Msg::PageSubtotalsSuffix));
}

Status convertPageSubtotals(const QString& xmlPath, const QString& output) {
    const FileKind kind = fileKindForPath(output);
    const QString format = kind == FileKind::Xlsx             ? QStringLiteral("51")
                           : kind == FileKind::XmlSpreadsheet ? QStringLiteral("46")
                                                              : QStringLiteral("56");
    const Status status = ConvertWorkbook(xmlPath, output, format);
    if (status.isOk()) return status;
    return status.withContext(QStringLiteral("无法写出分页汇总的工作簿 %1（原有的文件保持不变）")
                                  .arg(QDir::toNativeSeparators(output)));
}

} // namespace quellar
