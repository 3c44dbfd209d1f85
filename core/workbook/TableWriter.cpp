#include "workbook/TableWriter.h"

#include "base/CellOps.h"
#include "workbook/DisplayFormat.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace quellar {
namespace {

HAlign horizontalFromCode(int16_t code) {
    switch (code) {
    case Align::Left:
        return HAlign::Left;
    case Align::Center:
        return HAlign::Center;
    case Align::Right:
        return HAlign::Right;
    case 5:
        return HAlign::Fill;
    case Align::Justify:
        return HAlign::Justify;
    case 7:
        return HAlign::CenterAcross;
    case Align::Distributed:
        return HAlign::Distributed;
    default:
        return HAlign::General;
    }
}

VAlign verticalFromCode(int16_t code) {
    switch (code) {
    case Align::Top:
        return VAlign::Top;
    case Align::Center:
        return VAlign::Center;
    case Align::Justify:
        return VAlign::Justify;
    case Align::Distributed:
        return VAlign::Distributed;
    default:
        return VAlign::Bottom;
    }
}

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

// writeTableToSheet; with `consumed` (the table itself), each row's records are given back
// as soon as the row is written.
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

    std::unordered_map<StyleKey, uint32_t, StyleKeyHash> styleCache;
    auto styleFor = [&](const CellRecord& record, bool textOnly, const CellValue& value) {
        const bool date = value.type() == CellValue::Type::DateTime;
        const uint8_t dateKind = !date ? 0 : value.number() == std::floor(value.number()) ? 1 : 2;
        const StyleKey key{textOnly ? 0u : record.styleId,
                           record.fillColorIndex,
                           record.alignment1,
                           record.alignment2,
                           textOnly,
                           dateKind};
        auto it = styleCache.find(key);
        if (it != styleCache.end()) return it->second;
        Style style;
        if (date) style.numberFormat = DisplayFormat::dateTextFormat(value.number());
        // White is how every cell reads; writing it as a fill would only hide the grid lines.
        if (record.fillColorIndex > 0 && record.fillColorIndex <= 56 &&
            record.fillColorIndex != Fill::White) {
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
        const uint32_t index = book.internStyle(style);
        styleCache.emplace(key, index);
        return index;
    };

    // Rows and cells are sized once: grown one by one, their spare capacity alone would add
    // half again to a million-row result.
    sheet.rows.reserve(table.size());
    int32_t widestColumn = 0;
    for (size_t i = 0; i < table.size(); ++i) {
        if (int64_t(i) % step == 0) progress.advance(step);
        const Row& row = table[i];
        if (row.size() > size_t(kMaxColumns))
            return Status::invalidInput(QStringLiteral("结果第 %1 行有 %2 列，超过工作表的最大列数 %3")
                                            .arg(i + 1)
                                            .arg(row.size())
                                            .arg(kMaxColumns));
        SheetRow* sheetRow = nullptr;
        for (size_t j = 0; j < row.size(); ++j) {
            const CellRecord& record = row[j];
            if (record.mergeState == MergeState::Covered) continue;
            if (!sheetRow) {
                sheetRow = &sheet.rowAt(int32_t(i));
                sheetRow->cells.reserve(
                    size_t(std::count_if(row.begin() + std::ptrdiff_t(j), row.end(), [](const CellRecord& r) {
                        return r.mergeState != MergeState::Covered;
                    })));
            }
            const bool textOnly = record.mergeState == MergeState::TextOnly;
            Cell cell;
            cell.column = uint32_t(j);
            cell.value = typedValue(record.text);
            cell.style = styleFor(record, textOnly, cell.value);
            sheetRow->cells.push_back(std::move(cell));
            widestColumn = std::max(widestColumn, int32_t(j));
            if (textOnly) continue;

            int32_t blockColumns = 1;
            if (record.mergeState == MergeState::Anchor &&
                (record.mergeRows > 1 || record.mergeColumns > 1)) {
                const int32_t lastRow =
                    std::min<int64_t>(int64_t(i) + std::max(1, record.mergeRows) - 1, kMaxRows - 1);
                const int32_t lastColumn = std::min<int64_t>(
                    int64_t(j) + std::max<int32_t>(1, record.mergeColumns) - 1, kMaxColumns - 1);
                sheet.merges.push_back(CellRange{int32_t(i), int32_t(j), lastRow, lastColumn});
                blockColumns = lastColumn - int32_t(j) + 1;
            }
            // A zero height or width means the record carries none; it must not hide the row.
            if (j == 0 && record.rowHeight > 0) sheetRow->height = record.rowHeight;
            if (i == 0 && record.columnWidth > 0) {
                for (int32_t c = 0; c < blockColumns; ++c)
                    sheet.columnWidths[int32_t(j) + c] = record.columnWidth;
            }
        }
        if (consumed) Row().swap((*consumed)[i]);
    }
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
