#include "workbook/csv/CsvFormat.h"

#include "base/CellOps.h"
#include "base/OrderedPipeline.h"
#include "base/Progress.h"
#include "base/TextIO.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace quellar {

namespace {

bool isValidUtf8(const unsigned char* p, const unsigned char* end) {
    while (p < end) {
        // Skip ASCII eight bytes at a time.
        while (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull) break;
            p += 8;
        }
        if (p == end) break;
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        uint32_t code;
        if ((c & 0xE0) == 0xC0)
            extra = 1, code = c & 0x1F;
        else if ((c & 0xF0) == 0xE0)
            extra = 2, code = c & 0x0F;
        else if ((c & 0xF8) == 0xF0)
            extra = 3, code = c & 0x07;
        else
            return false;
        if (end - p <= extra) return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
}

Status lineError(int64_t line, const QString& message) {
    return Status::invalidInput(QStringLiteral("第 %1 行：%2").arg(line).arg(message));
}

} // namespace

void CsvFormat::appendField(std::string& out, QStringView text) {
    bool quote = false;
    for (QChar c : text)
        if (c == u',' || c == u'"' || c == u'\n' || c == u'\r') {
            quote = true;
            break;
        }
    if (!quote) {
        appendUtf8(out, text);
        return;
    }
    out.push_back('"');
    appendUtf8(out, text.toString().replace(u'"', QStringLiteral("\"\"")));
    out.push_back('"');
}

void CsvFormat::appendCell(std::string& out, QStringView text) {
    char number[400];
    if (const size_t n = cleanNumberText(text, number)) {
        out.append(number, n);
        return;
    }
    appendField(out, text);
}

QString sheetNameFromText(const QString& text) {
    QString name = text;
    for (QChar& c : name)
        if (c == u'[' || c == u']' || c == u':' || c == u'*' || c == u'?' || c == u'/' || c == u'\\')
            c = u'_';
    name = name.left(31).trimmed();
    if (name.startsWith(u'\'')) name[0] = u'_';
    if (name.endsWith(u'\'')) name[name.size() - 1] = u'_';
    return name.isEmpty() ? QStringLiteral("Sheet1") : name;
}

bool CsvFormat::recognizes(const QByteArray& head) const {
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) return true;
    // Text has no NUL bytes and few control characters.
    int control = 0;
    for (char c : head) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0) return false;
        if (u < 0x20 && u != '\n' && u != '\r' && u != '\t' && u != 0x1A && u != '\f') ++control;
    }
    return control * 100 <= head.size();
}

Status CsvFormat::parse(QByteArray data, const QString& sheetName, Workbook& workbook) {
    workbook = Workbook();
    workbook.sheets.emplace_back();
    Sheet& sheet = workbook.sheets.back();
    sheet.name = sheetName;

    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(data.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                           : QStringDecoder::Utf16BE);
        data = QString(decoder(QByteArrayView(data).sliced(2))).toUtf8();
    } else if (data.startsWith("\xEF\xBB\xBF")) {
        data.remove(0, 3);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    std::optional<QStringDecoder> legacy;
    if (!isValidUtf8(bytes, bytes + data.size())) {
        legacy.emplace("GB18030", QStringConverter::Flag::Stateless);
        if (!legacy->isValid())
            return Status::invalidInput(QStringLiteral("文件不是 UTF-8 编码，请另存为“CSV UTF-8”后再打开"));
    }

    const char* p = data.constData();
    const char* const e = p + data.size();
    int64_t row = 0, column = 0, line = 1;
    SheetRow* current = nullptr;
    size_t lastRowCells = 0;
    std::string quoted;

    auto store = [&](std::string_view field) -> Status {
        if (field.empty()) return Status::ok();
        if (row >= kMaxRows) return lineError(line, QStringLiteral("数据超过工作表的 1048576 行"));
        if (column >= kMaxColumns) return lineError(line, QStringLiteral("数据超过工作表的 16384 列（XFD）"));
        if (!current) {
            current = &sheet.rowAt(int32_t(row));
            current->cells.reserve(lastRowCells);
        }
        current->cells.emplace_back();
        Cell& cell = current->cells.back();
        cell.column = uint32_t(column);
        double number = 0;
        char16_t wide[64];
        bool isNumber = false;
        if (field.size() <= 64 && !legacy) {
            for (size_t i = 0; i < field.size(); ++i)
                wide[i] = char16_t(static_cast<unsigned char>(field[i]));
            isNumber = typedTextToNumber(QStringView(wide, qsizetype(field.size())), number);
        }
        if (isNumber) {
            cell.value = CellValue::fromNumber(number);
        } else if (legacy) {
            const QString text = legacy->decode(QByteArrayView(field.data(), qsizetype(field.size())));
            if (typedTextToNumber(text, number))
                cell.value = CellValue::fromNumber(number);
            else
                cell.value = CellValue::fromString(SharedText(text));
        } else {
            cell.value = CellValue::fromString(sharedTextFromUtf8(field));
        }
        return Status::ok();
    };

    while (p < e) {
        std::string_view field;
        if (*p == '"') {
            const int64_t startLine = line;
            ++p;
            quoted.clear();
            for (;;) {
                const char* q = static_cast<const char*>(std::memchr(p, '"', size_t(e - p)));
                if (!q)
                    return lineError(startLine,
                                     QStringLiteral("引号没有闭合（以“\"”开始的字段一直到文件末尾）"));
                for (const char* s = p; s < q; ++s) {
                    if (*s == '\r') {
                        ++line;
                        quoted.push_back('\n');
                        if (s + 1 < q && s[1] == '\n') ++s;
                    } else {
                        if (*s == '\n') ++line;
                        quoted.push_back(*s);
                    }
                }
                p = q + 1;
                if (p < e && *p == '"') {
                    quoted.push_back('"');
                    ++p;
                    continue;
                }
                break;
            }
            // Characters between the closing quote and the next comma are kept, as
            // spreadsheet programs keep them.
            const char* d = p;
            while (d < e && *d != ',' && *d != '\n' && *d != '\r')
                ++d;
            quoted.append(p, size_t(d - p));
            p = d;
            field = quoted;
        } else {
            const char* d = p;
            while (d < e && *d != ',' && *d != '\n' && *d != '\r')
                ++d;
            field = std::string_view(p, size_t(d - p));
            p = d;
        }
        if (Status s = store(field); !s.isOk()) return s;
        if (p == e) break;
        if (*p == ',') {
            ++p;
            ++column;
            if (p == e && column >= kMaxColumns)
                return lineError(line, QStringLiteral("数据超过工作表的 16384 列（XFD）"));
            continue;
        }
        if (*p == '\r') {
            ++p;
            if (p < e && *p == '\n') ++p;
        } else {
            ++p;
        }
        if (current) lastRowCells = current->cells.size();
        current = nullptr;
        ++line;
        ++row;
        column = 0;
        // A cancel is looked for once every 4096 lines, not once a field.
        if (cancellation::requestedEvery(row)) return Status::cancelled();
    }
    return Status::ok();
}

Status CsvFormat::read(const QString& path, Workbook& workbook) const {
    const QString shownPath = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists()) return Status::notFound(QStringLiteral("找不到文件“%1”").arg(shownPath));
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return Status::ioError(QStringLiteral("无法读取文件“%1”：%2").arg(shownPath, file.errorString()));
    if (file.size() == 0)
        return Status::invalidInput(QStringLiteral("文件“%1”是空文件（0 字节）").arg(shownPath));
    QByteArray data;
    if (!readRestOfFile(file, data))
        return Status::ioError(QStringLiteral("读取文件“%1”失败：%2").arg(shownPath, file.errorString()));
    return parse(std::move(data), sheetNameFromText(info.completeBaseName()), workbook)
        .withContext(QStringLiteral("读取文件“%1”失败").arg(shownPath));
}

Status CsvFormat::write(const Workbook& workbook, const QString& path) const {
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    std::string& b = out.buffer();
    b.append("\xEF\xBB\xBF");
    if (!workbook.sheets.empty()) {
        const size_t index =
            workbook.activeSheet >= 0 && size_t(workbook.activeSheet) < workbook.sheets.size()
                ? size_t(workbook.activeSheet)
                : 0;
        const Sheet& sheet = workbook.sheets[index];
        if (const std::optional<CellRange> used = sheet.usedRange()) {
            const int64_t lastRow = used->lastRow, lastColumn = used->lastColumn;
            const std::string emptyLine = std::string(size_t(lastColumn), ',') + "\r\n";
            int64_t next = 0;
            for (const SheetRow& row : sheet.rows) {
                if (row.index > lastRow) break;
                if (row.index < next) continue;
                for (; next < row.index; ++next)
                    b.append(emptyLine);
                size_t c = 0;
                for (int64_t column = 0; column <= lastColumn; ++column) {
                    if (column > 0) b.push_back(',');
                    while (c < row.cells.size() && int64_t(row.cells[c].column) < column)
                        ++c;
                    if (c < row.cells.size() && int64_t(row.cells[c].column) == column) {
                        const CellValue& value = row.cells[c].value;
                        if (value.type() == CellValue::Type::Number && std::isfinite(value.number())) {
                            char number[400];
                            b.append(number, writeShortestReal(value.number(), number));
                        } else {
                            appendField(b, variantToText(value));
                        }
                    }
                }
                b.append("\r\n");
                ++next;
                out.maybeFlush();
            }
            for (; next <= lastRow; ++next) {
                b.append(emptyLine);
                out.maybeFlush();
            }
        }
    }
    return out.commit();
}

namespace {

// Rows [from, to) of the table as CSV lines of `width` fields each.
void appendRows(std::string& b, const RowTable& table, size_t from, size_t to, size_t width) {
    for (size_t r = from; r < to; ++r) {
        const Row& row = table[r];
        for (size_t c = 0; c < width; ++c) {
            if (c > 0) b.push_back(',');
            if (c < row.size() && row[c].mergeState != MergeState::Covered)
                CsvFormat::appendCell(b, row[c].text.qview());
        }
        b.append("\r\n");
    }
}

constexpr size_t kChunkRows = 16384;

// A large table's chunks of rows, formatted on two threads (a helper and this one) and
// written in order by this thread.
void writeChunks(OutputFile& out, const RowTable& table, size_t width) {
    struct Chunk {
        size_t index = 0;
        std::string text;
    };
    const size_t chunks = (table.size() + kChunkRows - 1) / kChunkRows;
    size_t next = 0;
    OrderedPipeline<Chunk> pipeline(1);
    pipeline.run(
        [&](Chunk& chunk) {
            if (next == chunks) return false;
            chunk.index = next++;
            return true;
        },
        [&](Chunk& chunk) {
            chunk.text.clear();
            appendRows(chunk.text, table, chunk.index * kChunkRows,
                       std::min(table.size(), (chunk.index + 1) * kChunkRows), width);
        },
        [&](Chunk& chunk) {
            out.append(chunk.text);
            return !out.failed();
        });
}

} // namespace

Status CsvFormat::writeTable(const RowTable& table, const QString& path) {
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    out.buffer().append("\xEF\xBB\xBF");
    size_t width = 0;
    for (const Row& row : table)
        width = std::max(width, row.size());
    if (table.size() >= 8 * kChunkRows) {
        writeChunks(out, table, width);
    } else {
        for (size_t r = 0; r < table.size(); ++r) {
            appendRows(out.buffer(), table, r, r + 1, width);
            out.maybeFlush();
        }
    }
    return out.commit();
}

} // namespace quellar
