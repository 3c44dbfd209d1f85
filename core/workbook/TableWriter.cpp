#include "workbook/TableWriter.h"

#include "base/CellOps.h"
#include "base/ParallelRows.h"
#include "workbook/DisplayFormat.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <iterator>
#include <map>
#include <unordered_map>

namespace quellar {
namespace {

// A result text as if typed, losing nothing: a number or a date cell when it reads back as
// exactly that text, otherwise the text unchanged.
CellValue typedValue(const SharedText& text) {
    if (text.isEmpty()) return CellValue();
    double number = 0;
    if (typedTextToNumber(text.qview(), number)) return CellValue::fromNumber(number);
    if (typedTextToDate(text.qview(), number)) return CellValue::fromDateTime(number);
    return CellValue::fromString(text);
}

// Workbook style indexes are looked up once per distinct combination of what a record
// carries into the style.
struct StyleKey {
    uint32_t styleId;
    int32_t fill;
    int16_t alignment1;
    int16_t alignment2;
    bool textOnly;
    uint8_t dateKind; // 0 no date, 1 a date, 2 a date with time: dates carry their number format
    friend bool operator==(const StyleKey&, const StyleKey&) = default;
};
struct StyleKeyHash {
    size_t operator()(const StyleKey& k) const noexcept {
        return (size_t(k.styleId) * 1000003u) ^ (size_t(uint32_t(k.fill)) << 40) ^
               (size_t(uint16_t(k.alignment1)) << 16) ^ size_t(uint16_t(k.alignment2)) ^
               (k.textOnly ? 1u << 31 : 0) ^ (size_t(k.dateKind) << 29);
    }
};

// Sheet `sheetNumber` of the result workbook, added (as SheetN) when the workbook has fewer,
// renamed to `sheetName`.
Status nameResultSheet(Workbook& book, int sheetNumber, const QString& sheetName, Sheet*& sheet) {
    if (sheetNumber < 1) return Status::invalidInput(QStringLiteral("工作表序号 %1 无效").arg(sheetNumber));
    while (int(book.sheets.size()) < sheetNumber) {
        Sheet extra;
        extra.name = QStringLiteral("Sheet%1").arg(book.sheets.size() + 1);
        book.sheets.push_back(std::move(extra));
    }
    sheet = &book.sheets[size_t(sheetNumber - 1)];
    sheet->name = sheetName;
    return Status::ok();
}

// The Style a record carries into its cell.
Style styleOf(const CellRecord& record, bool textOnly, const CellValue& value) {
    Style style;
    if (value.type() == CellValue::Type::DateTime)
        style.numberFormat = DisplayFormat::dateTextFormat(value.number());
    // White is how every cell reads; writing it as a fill would only hide the grid lines.
    if (record.fillColorIndex > 0 && record.fillColorIndex <= 56 && record.fillColorIndex != Fill::White) {
        style.hasFill = true;
        style.fillPalette = record.fillColorIndex;
        style.fillRgb = paletteColor(record.fillColorIndex);
    }
    style.horizontal = horizontalFromCode(record.alignment1);
    style.vertical = verticalFromCode(record.alignment2);
    if (!textOnly) {
        const CellStyle& cs = record.style();
        style.fontName = cs.fontName.toQString();
        style.fontSize = cs.fontSize;
        if (cs.colorValue != 0) {
            style.hasFontColor = true;
            style.fontRgb = uint32_t(cs.colorValue) & 0xFFFFFF;
        }
    }
    return style;
}

StyleKey styleKeyOf(const CellRecord& record, bool textOnly, const CellValue& value) {
    const bool date = value.type() == CellValue::Type::DateTime;
    const uint8_t dateKind = !date ? 0 : value.number() == std::floor(value.number()) ? 1 : 2;
    return StyleKey{textOnly ? 0u : record.styleId,
                    record.fillColorIndex,
                    record.alignment1,
                    record.alignment2,
                    textOnly,
                    dateKind};
}

// What one run of rows leaves behind. The first run (from row 0) interns its styles into the
// workbook as it meets them; a later run, working beside it, numbers the styles it meets
// itself, in the order it meets them, and they are interned once both runs are done. So the
// workbook's styles stand in the order the cells first use them, whoever built which rows.
struct RowRun {
    Workbook* book = nullptr; // the first run's: styles are interned at once
    std::unordered_map<StyleKey, uint32_t, StyleKeyHash> styleIndex;
    std::vector<Style> ownStyles; // a later run's, by the numbers its cells carry
    std::vector<SheetRow> rows;
    std::vector<CellRange> merges;
    std::map<int32_t, double> columnWidths;
    size_t tooWideRow = SIZE_MAX;

    uint32_t styleFor(const CellRecord& record, bool textOnly, const CellValue& value) {
        const StyleKey key = styleKeyOf(record, textOnly, value);
        auto it = styleIndex.find(key);
        if (it != styleIndex.end()) return it->second;
        Style style = styleOf(record, textOnly, value);
        uint32_t index = 0;
        if (book) {
            index = book->internStyle(style);
        } else {
            index = uint32_t(ownStyles.size());
            ownStyles.push_back(std::move(style));
        }
        styleIndex.emplace(key, index);
        return index;
    }

    // Rows [from, to) of the table into `rows`; with `consumed` (the table itself) each row's
    // records are given back as soon as the row is written. `tick` is called once every
    // `step` rows, counted from row 0 of the table.
    template <typename Tick>
    void build(const RowTable& table, size_t from, size_t to, int64_t step, RowTable* consumed, Tick&& tick) {
        rows.reserve(to - from);
        for (size_t i = from; i < to; ++i) {
            if (int64_t(i) % step == 0) tick();
            const Row& row = table[i];
            if (row.size() > size_t(kMaxColumns)) {
                tooWideRow = i;
                return;
            }
            buildRow(row, int32_t(i));
            if (consumed) Row().swap((*consumed)[i]);
        }
    }

    void buildRow(const Row& row, int32_t i) {
        SheetRow* sheetRow = nullptr;
        for (size_t j = 0; j < row.size(); ++j) {
            const CellRecord& record = row[j];
            if (record.mergeState == MergeState::Covered) continue;
            if (!sheetRow) {
                sheetRow = &rows.emplace_back();
                sheetRow->index = i;
                sheetRow->cells.reserve(
                    size_t(std::count_if(row.begin() + std::ptrdiff_t(j), row.end(), [](const CellRecord& r) {
                        return r.mergeState != MergeState::Covered;
                    })));
            }
            const bool textOnly = record.mergeState == MergeState::TextOnly;
            Cell& cell = sheetRow->cells.emplace_back();
            cell.column = uint16_t(j);
            cell.value = typedValue(record.text);
            cell.style = styleFor(record, textOnly, cell.value);
            if (textOnly) continue;

            int32_t blockColumns = 1;
            if (record.mergeState == MergeState::Anchor &&
                (record.mergeRows > 1 || record.mergeColumns > 1)) {
                const int32_t lastRow =
                    std::min<int64_t>(int64_t(i) + std::max(1, record.mergeRows) - 1, kMaxRows - 1);
                const int32_t lastColumn = std::min<int64_t>(
                    int64_t(j) + std::max<int32_t>(1, record.mergeColumns) - 1, kMaxColumns - 1);
                merges.push_back(CellRange{i, int32_t(j), lastRow, lastColumn});
                blockColumns = lastColumn - int32_t(j) + 1;
            }
            // A zero height or width means the record carries none; it must not hide the row.
            if (j == 0 && record.rowHeight > 0) sheetRow->height = record.rowHeight;
            if (i == 0 && record.columnWidth > 0) {
                for (int32_t c = 0; c < blockColumns; ++c)
                    columnWidths[int32_t(j) + c] = record.columnWidth;
            }
        }
    }

    // Hands a later run's rows, merges and widths to the sheet after the first run's, its
    // styles interned in the order it met them.
    void appendTo(Sheet& sheet, Workbook& book) {
        if (!this->book) {
            std::vector<uint32_t> global(ownStyles.size());
            for (size_t k = 0; k < ownStyles.size(); ++k)
                global[k] = book.internStyle(ownStyles[k]);
            for (SheetRow& row : rows)
                for (Cell& cell : row.cells)
                    cell.style = global[cell.style];
        }
        if (sheet.rows.empty())
            sheet.rows = std::move(rows);
        else
            std::move(rows.begin(), rows.end(), std::back_inserter(sheet.rows));
        sheet.merges.insert(sheet.merges.end(), merges.begin(), merges.end());
        for (const auto& [column, width] : columnWidths)
            sheet.columnWidths[column] = width;
    }
};

// writeTableToSheet; with `consumed` (the table itself), each row's records are given back
// as soon as the row is written. A large table is built on two cores (see buildInHalves);
// the sheet is the same either way.
Status writeRows(Workbook& book, int sheetNumber, const QString& sheetName, const RowTable& table,
                 Progress& progress, int64_t step, RowTable* consumed) {
    if (step < 1) step = 1;
    if (table.size() > size_t(kMaxRows))
        return Status::invalidInput(
            QStringLiteral("结果有 %1 行，超过工作表的最大行数 %2").arg(table.size()).arg(kMaxRows));
    Sheet* target = nullptr;
    if (Status named = nameResultSheet(book, sheetNumber, sheetName, target); !named.isOk()) return named;
    Sheet& sheet = *target;
    sheet.clear();

    RowRun runs[2];
    runs[0].book = &book;
    // The progress bar belongs to this thread: the second run leaves its ticks here.
    std::atomic<int64_t> laterTicks{0};
    auto drainTicks = [&] {
        for (int64_t n = laterTicks.exchange(0, std::memory_order_relaxed); n > 0; --n)
            progress.advance(step);
    };
    buildInHalves(table.size(), [&](size_t from, size_t to, int half) {
        if (half == 0) {
            runs[0].build(table, from, to, step, consumed, [&] {
                drainTicks();
                progress.advance(step);
            });
        } else {
            runs[1].build(table, from, to, step, consumed, [&] {
                cancellation::point();
                laterTicks.fetch_add(1, std::memory_order_relaxed);
            });
        }
    });
    drainTicks();
    for (const RowRun& run : runs) {
        if (run.tooWideRow == SIZE_MAX) continue;
        const size_t i = run.tooWideRow;
        return Status::invalidInput(QStringLiteral("结果第 %1 行有 %2 列，超过工作表的最大列数 %3")
                                        .arg(i + 1)
                                        .arg(table[i].size())
                                        .arg(kMaxColumns));
    }
    // Rows and cells are sized once: grown one by one, their spare capacity alone would add
    // half again to a million-row result.
    if (!runs[1].rows.empty()) sheet.rows.reserve(runs[0].rows.size() + runs[1].rows.size());
    runs[0].appendTo(sheet, book);
    runs[1].appendTo(sheet, book);
    return Status::ok();
}

} // namespace

Status writeTableToSheet(Workbook& book, int sheetNumber, const QString& sheetName, const RowTable& table,
                         Progress& progress, int64_t step) {
    return writeRows(book, sheetNumber, sheetName, table, progress, step, nullptr);
}

Status writeTableToSheet(Workbook& book, int sheetNumber, const QString& sheetName, RowTable&& table,
                         Progress& progress, int64_t step) {
    const Status status = writeRows(book, sheetNumber, sheetName, table, progress, step, &table);
    RowTable().swap(table);
    return status;
}

Status WorkbookSink::writeResult(int sheetNumber, const QString& sheetName, const RowTable& table,
                                 Progress& progress, int64_t step) {
    if (mode_ == Mode::WriteOnly)
        return writeTableToSheet(book_, sheetNumber, sheetName, table, progress, step);
    return takeResult(sheetNumber, sheetName, RowTable(table), progress, step);
}

Status WorkbookSink::takeResult(int sheetNumber, const QString& sheetName, RowTable&& table,
                                Progress& progress, int64_t step) {
    if (mode_ == Mode::KeepOnly) {
        Sheet* sheet = nullptr;
        if (Status named = nameResultSheet(book_, sheetNumber, sheetName, sheet); !named.isOk()) return named;
        for (size_t i = 0; i < table.size(); i += size_t(std::max<int64_t>(step, 1)))
            progress.advance(step);
    } else if (mode_ == Mode::WriteOnly) {
        return writeTableToSheet(book_, sheetNumber, sheetName, std::move(table), progress, step);
    } else {
        Status status = writeTableToSheet(book_, sheetNumber, sheetName, table, progress, step);
        if (!status.isOk()) return status;
    }
    auto it =
        std::find_if(tables_.begin(), tables_.end(), [&](const auto& p) { return p.first == sheetNumber; });
    if (it != tables_.end())
        it->second = std::move(table);
    else
        tables_.emplace_back(sheetNumber, std::move(table));
    return Status::ok();
}

const RowTable* WorkbookSink::tableFor(int sheetNumber) const {
    for (const auto& p : tables_)
        if (p.first == sheetNumber) return &p.second;
    return nullptr;
}

} // namespace quellar
