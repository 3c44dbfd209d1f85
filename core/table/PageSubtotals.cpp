#include "table/PageSubtotals.h"

#include "base/CellOps.h"
#include "base/StringTools.h"
#include "base/TextIO.h"
#include "table/GroupSum.h"
#include "workbook/ExcelDriver.h"
#include "workbook/Workbook.h"
#include "workbook/XMLTools.h"
#include "workbook/XmlScanner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QSysInfo>

#include <algorithm>
#include <cstring>

namespace quellar {
namespace {

// Rows parsed into one document tree at a time: small enough to keep memory flat, large
// enough that parsing a piece costs little more than its bytes.
constexpr int64_t kPieceRows = 4096;

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

std::string_view view(const QByteArray& bytes) {
    return {bytes.constData(), size_t(bytes.size())};
}

// The element named `local` after any prefix ("Row", "ss:Row").
bool hasLocalName(std::string_view qualified, std::string_view local) {
    const size_t colon = qualified.rfind(':');
    return (colon == std::string_view::npos ? qualified : qualified.substr(colon + 1)) == local;
}
bool hasLocalName(const QString& qualified, QStringView local) {
    const qsizetype colon = qualified.lastIndexOf(u':');
    return QStringView(qualified).mid(colon + 1) == local;
}

// The end of the start tag that begins at `start` (just past its '>'), skipping quoted
// attribute values, which may hold a '>'.
qint64 tagEnd(const QByteArray& bytes, qint64 start) {
    char quote = 0;
    for (qint64 i = start; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return -1;
}

// Drops the encoding named in the XML declaration at the start of `text`: the text is
// UTF-8 once read, and UTF-16 once written, so the name would be wrong either way.
void dropDeclaredEncoding(QString& text) {
    if (!text.startsWith(QLatin1String("<?xml"))) return;
    const qsizetype end = text.indexOf(QLatin1String("?>"));
    if (end < 0) return;
    static const QRegularExpression encoding(QStringLiteral("\\s+encoding\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
    QString declaration = text.left(end);
    declaration.remove(encoding);
    text.replace(0, end, declaration);
}

// The working file as UTF-8 bytes: UTF-8 as it is (without a byte-order mark), UTF-16 and
// other declared encodings converted.
Result<QByteArray> readUtf8(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return Status::notFound(QStringLiteral("找不到工作文件 %1").arg(shownPath(path)));
    if (info.size() > XMLTools::kMaxDocumentBytes)
        return Status::invalidInput(QStringLiteral("工作文件 %1 太大（%2 字节），超过可读取的上限 %3 字节")
                                        .arg(shownPath(path))
                                        .arg(info.size())
                                        .arg(XMLTools::kMaxDocumentBytes));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::ioError(QStringLiteral("无法打开工作文件 %1：%2").arg(shownPath(path), file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Status::ioError(QStringLiteral("读取工作文件 %1 失败：%2").arg(shownPath(path), file.errorString()));

    if (bytes.startsWith("\xEF\xBB\xBF")) return bytes.mid(3);
    std::optional<QStringConverter::Encoding> encoding;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith(QByteArray("<\0", 2)))
        encoding = QStringConverter::Utf16LE;
    else if (bytes.startsWith("\xFE\xFF") || bytes.startsWith(QByteArray("\0<", 2)))
        encoding = QStringConverter::Utf16BE;
    QString text;
    if (encoding) {
        QStringDecoder decoder(*encoding);
        text = decoder.decode(bytes);
    } else {
        // A declaration may name another encoding (GBK, ...).
        const qsizetype end = bytes.startsWith("<?xml") ? bytes.indexOf("?>") : -1;
        static const QRegularExpression named(QStringLiteral("encoding\\s*=\\s*[\"']([^\"']+)[\"']"));
        const QRegularExpressionMatch m = named.match(QString::fromLatin1(bytes.left(std::max<qsizetype>(end, 0))));
        const QString name = m.hasMatch() ? m.captured(1) : QString();
        if (name.isEmpty() || name.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0) return bytes;
        QStringDecoder decoder(name.toLatin1().constData());
        if (!decoder.isValid())
            return Status::unsupported(
                QStringLiteral("工作文件 %1 使用了不认识的字符编码“%2”").arg(shownPath(path), name));
        text = decoder.decode(bytes);
    }
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    dropDeclaredEncoding(text);
    return text.toUtf8();
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

// Bytes handed out from a few stretches of memory one after the other, so a run of rows
// can be read as one element without being copied into one.
class PiecesSource final : public ByteSource {
public:
    explicit PiecesSource(std::vector<std::string_view> pieces)
        : pieces_(std::move(pieces)) {}
    qint64 read(char* buffer, qint64 max) override {
        while (index_ < pieces_.size() && offset_ == pieces_[index_].size()) {
            ++index_;
            offset_ = 0;
        }
        if (index_ == pieces_.size()) return 0;
        const size_t n = std::min(size_t(max), pieces_[index_].size() - offset_);
        std::memcpy(buffer, pieces_[index_].data() + offset_, n);
        offset_ += n;
        return qint64(n);
    }

private:
    std::vector<std::string_view> pieces_;
    size_t index_ = 0;
    size_t offset_ = 0;
};

// Appends text to the output as UTF-16LE.
void appendUtf16(OutputFile& out, QStringView text) {
    if (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        out.append(std::string_view(reinterpret_cast<const char*>(text.utf16()), size_t(text.size()) * 2));
        return;
    }
    std::string bytes;
    bytes.reserve(size_t(text.size()) * 2);
    for (QChar c : text) {
        bytes.push_back(char(c.unicode() & 0xFF));
        bytes.push_back(char(c.unicode() >> 8));
    }
    out.append(bytes);
}

void appendUtf16(OutputFile& out, const QByteArray& utf8, qint64 begin, qint64 end) {
    // In slices, so a long stretch is never held twice over in memory.
    constexpr qint64 kSlice = 8 << 20;
    while (begin < end) {
        qint64 stop = std::min(end, begin + kSlice);
        while (stop < end && (uchar(utf8[stop]) & 0xC0) == 0x80) // not inside a character
            ++stop;
        appendUtf16(out, QString::fromUtf8(utf8.constData() + begin, stop - begin));
        begin = stop;
    }
}

// The Table start tag with ss:ExpandedRowCount set to `rows`, and ss:ExpandedColumnCount
// (when the tag has it) raised to at least `columns`, so a cell added to a copied row
// beyond the old width is still inside the table.
QString tableTag(const QByteArray& tag, int64_t rows, int columns) {
    QString text = QString::fromUtf8(tag);
    auto set = [&text](const QString& name, int64_t value, bool add, bool raiseOnly) {
        const QRegularExpression existing(QStringLiteral("\\b%1\\s*=\\s*(\"([^\"]*)\"|'([^']*)')").arg(name));
        const QString assignment = QStringLiteral("%1=\"%2\"").arg(name).arg(value);
        const QRegularExpressionMatch m = existing.match(text);
        if (m.hasMatch()) {
            const QString old = m.captured(2).isNull() ? m.captured(3) : m.captured(2);
            bool ok = false;
            const long long oldValue = old.trimmed().toLongLong(&ok);
            if (!raiseOnly || !ok || oldValue < value) text.replace(m.capturedStart(), m.capturedLength(), assignment);
        } else if (add) {
            const qsizetype close = text.endsWith(QLatin1String("/>")) ? text.size() - 2 : text.size() - 1;
            text.insert(close, u' ' + assignment);
        }
    };
    set(QStringLiteral("ss:ExpandedRowCount"), rows, true, false);
    set(QStringLiteral("ss:ExpandedColumnCount"), columns, false, true);
    return text;
}

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
    Result<QByteArray> read = readUtf8(xmlPath);
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
                return Status::invalidInput(QStringLiteral("工作文件 %1 已损坏：Table 元素的开始标记不完整").arg(shown));
            for (const XmlAttribute& a : scanner.attributes())
                if (a.qualifiedName == "ss:ExpandedRowCount")
                    sheet.expandedRowCount = QByteArray(a.value.data(), qsizetype(a.value.size())).trimmed().toLongLong();
            if (scanner.isEmptyElement())
                sheet.tableContentEnd = sheet.tableTagEnd;
            else
                tableDepth = scanner.depth();
        } else if (tableDepth >= 0 && scanner.depth() == tableDepth + 1 && hasLocalName(name, "Row")) {
            const int32_t previous = sheet.rowPositions.empty() ? 0 : sheet.rowPositions.back();
            int64_t position = previous + 1;
            if (const XmlAttribute* index = scanner.attribute("Index")) {
                bool ok = false;
                position = QByteArray(index->value.data(), qsizetype(index->value.size())).trimmed().toLongLong(&ok);
                if (!ok || position <= previous)
                    return Status::invalidInput(
                        QStringLiteral("工作文件 %1 已损坏：第 %2 个行元素的 ss:Index“%3”不是大于 %4 的整数")
                            .arg(shown)
                            .arg(sheet.rowPositions.size() + 1)
                            .arg(QString::fromUtf8(index->value.data(), qsizetype(index->value.size())))
                            .arg(previous));
            }
            if (position > kMaxRows)
                return Status::invalidInput(QStringLiteral("工作文件 %1 已损坏：第 %2 个行元素超出最后一行 %3")
                                                .arg(shown)
                                                .arg(sheet.rowPositions.size() + 1)
                                                .arg(kMaxRows));
            sheet.rowStarts.push_back(scanner.offset());
            sheet.rowPositions.push_back(int32_t(position));
        }
    }
    if (workbookDepth < 0)
        return Status::invalidInput(QStringLiteral("工作文件 %1 不是 XML 电子表格：没有 Workbook 元素").arg(shown));
    if (!worksheetFound)
        return Status::notFound(QStringLiteral("工作文件 %1 中没有名为“%2”的工作表").arg(shown, sheetName));
    if (!tableFound)
        return Status::invalidInput(QStringLiteral("工作文件 %1 的工作表“%2”没有 Table 元素").arg(shown, sheetName));
    sheet.rowCount = int64_t(sheet.rowStarts.size());

    // The field row, read piece by piece until it is found.
    for (int64_t first = 0; first < sheet.rowCount && sheet.fieldRow < 0; first += kPieceRows) {
        Piece piece(sheet, first, std::min(sheet.rowCount, first + kPieceRows));
        if (!piece.status().isOk()) return piece.status();
        int64_t r = first;
        for (const XmlNode& row : piece.rows()) {
            Result<QStringList> texts = piece.dom().rowTexts(row);
            if (!texts.isOk())
                return texts.status().withContext(
                    QStringLiteral("工作文件 %1 的工作表“%2”第 %3 行").arg(shown, sheetName).arg(sheet.rowPositions[size_t(r)]));
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
    return groupSumLabels(fields);
}

std::vector<int> pageSumColumns(const QStringList& labels) {
    std::vector<int> columns;
    for (const QString& label : labels) {
        const int column = columnOfGroupSumLabel(label);
        if (column >= 0 && std::find(columns.begin(), columns.end(), column) == columns.end())
            columns.push_back(column);
    }
    return columns;
}

Status writePageSubtotals(const PageSheet& sheet, const PageSubtotalOptions& options, const QString& target,
                          PageSubtotalInfo* info) {
    const QString shown = shownPath(sheet.xmlPath);
    if (sheet.fieldRow < 0)
        return Status::invalidInput(QStringLiteral("工作表“%1”没有字段行").arg(sheet.sheetName));
    const int64_t dataRows = sheet.dataRows();
    if (dataRows <= 0)
        return Status::invalidInput(
            QStringLiteral("工作表“%1”的字段行下面没有数据行，没有可汇总的内容").arg(sheet.sheetName));
    if (options.rowsPerPage < 1)
        return Status::invalidInput(QStringLiteral("每页行数必须至少为 1，给的是 %1").arg(options.rowsPerPage));
    if (options.labelColumn < 0 || options.labelColumn > kMaxColumns)
        return Status::invalidInput(QStringLiteral("小计文本的列号 %1 超出 0 到 %2").arg(options.labelColumn).arg(kMaxColumns));
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
            QStringLiteral("分页汇总的结果有 %1 行（工作表原有 %2 行，加上 %3 个小计行和 1 个合计行），超过一个工作表最多的 "
                           "%4 行，没有写出任何文件。请先把表格拆分到几个工作表里，再分别分页汇总。")
                .arg(lastRow)
                .arg(sheet.rowPositions.back())
                .arg(subtotals)
                .arg(kMaxRows));
    const int64_t rowCount = std::max(lastRow, std::min<int64_t>(sheet.expandedRowCount + inserted, kMaxRows));

    StringTools texts;
    const QString subtotalText = texts.text(QStringLiteral("xj"));
    const QString totalText = texts.text(QStringLiteral("hj"));

    QElapsedTimer clock;
    clock.start();
    qint64 treeNanoseconds = 0;
    OutputFile out(target);
    Status status = out.open();
    if (!status.isOk()) return status;
    out.append(std::string_view("\xFF\xFE", 2));
    {
        QString prefix = QString::fromUtf8(sheet.bytes.constData(), sheet.tableTagStart);
        dropDeclaredEncoding(prefix);
        appendUtf16(out, prefix);
    }
    appendUtf16(out, tableTag(sheet.bytes.mid(sheet.tableTagStart, sheet.tableTagEnd - sheet.tableTagStart),
                              rowCount, widest));

    // The data rows are scanned once: the values of the sum columns are added up as the
    // cells go by (placed by ss:Index and ss:MergeAcross, as rows are read everywhere),
    // the rows are copied as they stand, and where a block ends its subtotal row is built
    // as a document tree from the row it follows.
    std::vector<int> slotOfColumn(size_t(widest) + 1, -1); // 0-based column -> sum slot
    for (size_t k = 0; k < options.sumColumns.size(); ++k)
        slotOfColumn[size_t(options.sumColumns[k])] = int(k);
    const size_t sumCount = options.sumColumns.size();
    std::vector<double> pageSums(sumCount, 0.0), totals(sumCount, 0.0);

    const int64_t firstData = sheet.fieldRow + 1;
    const qint64 regionStart = sheet.rowStarts[size_t(firstData)];
    static constexpr std::string_view kOpen = "<T>", kClose = "</T>";
    PiecesSource source({kOpen, std::string_view(sheet.bytes.constData() + regionStart,
                                                 size_t(sheet.tableContentEnd - regionStart)),
                         kClose});
    XmlScanner scanner(source);
    auto absolute = [&](qint64 offset) { return regionStart + offset - qint64(kOpen.size()); };
    qint64 copied = sheet.tableTagEnd; // bytes before this are in the output
    auto copyUpTo = [&](qint64 end) {
        appendUtf16(out, sheet.bytes, copied, end);
        copied = end;
    };

    int64_t r = firstData - 1; // the Row being read
    qint64 rowStart = 0;
    int32_t position = 0;
    long long nextColumn = 1;
    int cellSlot = -1;
    int64_t shift = 0; // rows inserted so far
    std::string dataText;
    XMLTools dom; // one block-ending row at a time
    auto failRow = [&](const QString& what) {
        return Status::invalidInput(QStringLiteral("工作文件 %1 的工作表“%2”第 %3 行：%4")
                                        .arg(shown, sheet.sheetName)
                                        .arg(position)
                                        .arg(what));
    };
    auto fill = [&](XmlNode row, const QString& label, const std::vector<double>& sums,
                    bool zeroAsEmpty) -> Status {
        // The label first: a sum column at the label's place keeps the label.
        if (options.labelColumn > 0) {
            Status s = dom.setCellValue(row, options.labelColumn, label, QStringLiteral("String"));
            if (!s.isOk()) return s;
        }
        for (size_t k = 0; k < sumCount; ++k) {
            const int column = options.sumColumns[k] + 1;
            if (column == options.labelColumn) continue;
            const bool empty = zeroAsEmpty && sums[k] == 0;
            Status s = dom.setCellValue(row, column, empty ? QString() : sumText(sums[k]),
                                        empty ? QStringLiteral("String") : QStringLiteral("Number"));
            if (!s.isOk()) return s;
        }
        return Status::ok();
    };

    for (;;) {
        const XmlScanner::Token token = scanner.next();
        if (token == XmlScanner::Token::EndDocument) break;
        if (token == XmlScanner::Token::Error)
            return Status::invalidInput(QStringLiteral("工作文件 %1 已损坏：%2").arg(shown, scanner.status().message()));
        const int depth = scanner.depth();
        if (token == XmlScanner::Token::StartElement) {
            if (depth == 2 && hasLocalName(scanner.localName(), "Row")) {
                ++r;
                rowStart = absolute(scanner.offset());
                position = sheet.rowPositions[size_t(r)];
                nextColumn = 1;
                cellSlot = -1;
                if (shift > 0 && scanner.attribute("Index")) {
                    // The row names its sheet row: it moves down by the rows inserted above.
                    copyUpTo(rowStart);
                    const qint64 end = tagEnd(sheet.bytes, rowStart);
                    QString tag = QString::fromUtf8(sheet.bytes.constData() + rowStart, end - rowStart);
                    static const QRegularExpression index(QStringLiteral("(\\b(?:\\w+:)?Index\\s*=\\s*)(\"[^\"]*\"|'[^']*')"));
                    tag.replace(index, QStringLiteral("\\1\"%1\"").arg(position + shift));
                    appendUtf16(out, tag);
                    copied = end;
                }
            } else if (depth == 3 && hasLocalName(scanner.localName(), "Cell")) {
                long long column = nextColumn, across = 0;
                if (const XmlAttribute* a = scanner.attribute("Index")) {
                    bool ok = false;
                    column = QByteArray(a->value.data(), qsizetype(a->value.size())).trimmed().toLongLong(&ok);
                    if (!ok || column < nextColumn || column > kMaxColumns)
                        return failRow(QStringLiteral("单元格的 ss:Index“%1”不是 %2 到 %3 之间的整数")
                                           .arg(QString::fromUtf8(a->value.data(), qsizetype(a->value.size())))
                                           .arg(nextColumn)
                                           .arg(kMaxColumns));
                }
                if (const XmlAttribute* a = scanner.attribute("MergeAcross")) {
                    bool ok = false;
                    across = QByteArray(a->value.data(), qsizetype(a->value.size())).trimmed().toLongLong(&ok);
                    if (!ok || across < 0 || column + across > kMaxColumns)
                        return failRow(QStringLiteral("单元格的 ss:MergeAcross“%1”无效")
                                           .arg(QString::fromUtf8(a->value.data(), qsizetype(a->value.size()))));
                }
                if (const XmlAttribute* a = scanner.attribute("MergeDown")) {
                    // A cell merged down across the end of its block would cover the
                    // subtotal row: the merge ends with the block instead, so the subtotal
                    // row shows all it carries.
                    const long long down =
                        QByteArray(a->value.data(), qsizetype(a->value.size())).trimmed().toLongLong();
                    const int64_t blockEnd = firstData + std::min((r - firstData) / R * R + R - 1, dataRows - 1);
                    const int64_t endPosition = sheet.rowPositions[size_t(blockEnd)];
                    if (down > 0 && endPosition < position + down) {
                        const qint64 cellStart = absolute(scanner.offset());
                        copyUpTo(cellStart);
                        const qint64 end = tagEnd(sheet.bytes, cellStart);
                        QString tag = QString::fromUtf8(sheet.bytes.constData() + cellStart, end - cellStart);
                        static const QRegularExpression merge(
                            QStringLiteral("\\s+(?:\\w+:)?MergeDown\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
                        const int64_t kept = endPosition - position;
                        tag.replace(merge, kept > 0 ? QStringLiteral(" ss:MergeDown=\"%1\"").arg(kept) : QString());
                        appendUtf16(out, tag);
                        copied = end;
                    }
                }
                nextColumn = column + across + 1;
                cellSlot = column - 1 < qsizetype(slotOfColumn.size()) ? slotOfColumn[size_t(column - 1)] : -1;
            } else if (depth == 4 && cellSlot >= 0 && hasLocalName(scanner.localName(), "Data")) {
                dataText.clear();
                if (!scanner.readElementText(dataText))
                    return Status::invalidInput(
                        QStringLiteral("工作文件 %1 已损坏：%2").arg(shown, scanner.status().message()));
                double value = 0;
                if (parseNumber(QString::fromUtf8(dataText.data(), qsizetype(dataText.size())), value)) {
                    pageSums[size_t(cellSlot)] += value;
                    totals[size_t(cellSlot)] += value;
                }
                cellSlot = -1; // the first Data of a cell is its value
            }
            continue;
        }
        if (token != XmlScanner::Token::EndElement || depth != 1 || r < firstData) continue;
        if (depth == 1 && !hasLocalName(scanner.localName(), "Row")) continue;

        // A data row ends here; where its block ends too, its subtotal row follows.
        const int64_t j = r - firstData;
        const bool last = j == dataRows - 1;
        if ((j + 1) % R != 0 && !last) continue;
        const qint64 rowEnd = tagEnd(sheet.bytes, absolute(scanner.offset()));
        if (rowEnd < 0) return failRow(QStringLiteral("行的结束标记不完整"));
        copyUpTo(rowEnd);

        const qint64 started = clock.nsecsElapsed();
        status = dom.loadFromBytes(sheet.bytes.mid(rowStart, rowEnd - rowStart),
                                   QStringLiteral("工作文件 %1 的第 %2 行").arg(shown).arg(position));
        XmlNode copy = dom.documentElement();
        if (status.isOk()) {
            // The row as parsed is the copy: it keeps the row's attributes and cells, and
            // takes the place right after the row.
            dom.removeAttribute(copy, QStringLiteral("ss:Index"));
            dom.clearRowValues(copy);
            status = fill(copy, subtotalText, pageSums, true);
        }
        QString rows;
        if (status.isOk()) rows = rowXml(dom);
        if (status.isOk() && last) {
            // The grand total is a copy of the subtotal row.
            status = fill(copy, totalText, totals, false);
            if (status.isOk()) rows += rowXml(dom);
        }
        if (!status.isOk())
            return status.withContext(
                QStringLiteral("工作表“%1”第 %2 行后的小计行").arg(sheet.sheetName).arg(position + shift));
        treeNanoseconds += clock.nsecsElapsed() - started;
        appendUtf16(out, rows);
        std::fill(pageSums.begin(), pageSums.end(), 0.0);
        shift += last ? 2 : 1;
        if (out.failed()) break;
    }
    // A write that failed (a full disk) stopped the rows early: report it, not a changed file.
    if (out.failed()) return out.commit();
    if (r != sheet.rowCount - 1)
        return Status::invalidInput(QStringLiteral("工作文件 %1 在读取时发生了变化").arg(shown));
    copyUpTo(sheet.bytes.size());
    appendUtf16(out, u"\r\n");
    status = out.commit();
    if (!status.isOk()) return status;
    if (info) {
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
    StringTools texts;
    return info.absoluteDir().filePath(base + texts.text(QStringLiteral("page_file")));
}

Status convertPageSubtotals(const QString& xmlPath, const QString& output) {
    const bool xlsx = output.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive);
    const Status status = ConvertWorkbook(xmlPath, output, xlsx ? QStringLiteral("51") : QStringLiteral("1"));
    if (status.isOk()) return status;
    return status.withContext(
        QStringLiteral("无法写出分页汇总的工作簿 %1（原有的文件保持不变）").arg(QDir::toNativeSeparators(output)));
}

} // namespace quellar
