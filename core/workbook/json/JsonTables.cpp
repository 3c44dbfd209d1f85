#include "workbook/json/JsonTables.h"

#include "base/CellOps.h"
#include "base/Progress.h"
#include "workbook/RangeReader.h"

#include <QDir>

#include <charconv>

namespace quellar {

namespace {

void appendInteger(std::string& out, int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, size_t(r.ptr - buf));
}

void appendCell(std::string& out, const CellRecord& cell) {
    if (cell.mergeState == MergeState::Covered) {
        out.append(R"({"text": "", "fill": 0, "merge": "covered"})");
        return;
    }
    out.append(R"({"text": ")");
    appendUtf8(out, cell.text, TextEscape::Json);
    // A text that is a number also gives its value, in the shortest form.
    char number[400];
    if (const size_t n = cleanNumberText(cell.text.qview(), number)) {
        out.append(R"(", "value": )");
        out.append(number, n);
        out.append(R"(, "fill": )");
    } else {
        out.append(R"(", "fill": )");
    }
    appendInteger(out, cell.fillColorIndex);
    switch (cell.mergeState) {
    case MergeState::Anchor:
        out.append(R"(, "merge": "anchor", "rows": )");
        appendInteger(out, cell.mergeRows);
        out.append(R"(, "cols": )");
        appendInteger(out, cell.mergeColumns);
        out.push_back('}');
        return;
    case MergeState::TextOnly:
        out.append(R"(, "merge": "text-only"})");
        return;
    default:
        out.append(R"(, "merge": "single"})");
        return;
    }
}

} // namespace

Status JsonTablesWriter::open() {
    if (Status s = out_.open(); !s.isOk()) return s;
    out_.append(R"({"sheets": [)");
    return Status::ok();
}

void JsonTablesWriter::addSheet(const QString& name, const RowTable* table) {
    std::string& b = out_.buffer();
    b.append(first_ ? "\n" : ",\n");
    first_ = false;
    b.append(R"({"name": ")");
    appendUtf8(b, name, TextEscape::Json);
    b.append(R"(", "rows": [)");
    if (table && !table->empty()) {
        for (size_t r = 0; r < table->size(); ++r) {
            b.append(r == 0 ? "\n[" : ",\n[");
            const Row& row = (*table)[r];
            for (size_t c = 0; c < row.size(); ++c) {
                if (c > 0) b.append(", ");
                appendCell(b, row[c]);
            }
            b.push_back(']');
            out_.maybeFlush();
        }
        b.push_back('\n');
    }
    b.append("]}");
    out_.maybeFlush();
}

Status JsonTablesWriter::finish() {
    out_.append(first_ ? "]}\n" : "\n]}\n");
    return out_.commit();
}

Status writeJsonTables(const std::vector<std::pair<QString, const RowTable*>>& sheets, const QString& path) {
    JsonTablesWriter writer(path);
    if (Status s = writer.open(); !s.isOk()) return s;
    for (const auto& [name, table] : sheets)
        writer.addSheet(name, table);
    return writer.finish();
}

Status JsonFormat::read(const QString& path, Workbook&) const {
    return Status::unsupported(
        QStringLiteral("不能读取 JSON 文件“%1”：JSON 只用于输出结果").arg(QDir::toNativeSeparators(path)));
}

Status JsonFormat::write(const Workbook& workbook, const QString& path) const {
    JsonTablesWriter writer(path);
    if (Status s = writer.open(); !s.isOk()) return s;
    for (const Sheet& sheet : workbook.sheets) {
        if (!sheet.usedRange()) {
            writer.addSheet(sheet.name, nullptr);
            continue;
        }
        const RangeBounds bounds = clipUsedRange(sheet);
        if (Status readable = checkReadableRange(bounds); !readable.isOk())
            return readable.withContext(QStringLiteral("工作表“%1”").arg(sheet.name));
        NullProgress progress;
        const RowTable table = readRange(workbook, sheet, bounds, progress,
                                         progressStep(int64_t(bounds.lastRow) - bounds.firstRow + 1));
        writer.addSheet(sheet.name, &table);
    }
    return writer.finish();
}

} // namespace quellar
