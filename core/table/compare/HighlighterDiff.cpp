#include "table/compare/HighlighterDiff.h"

#include "base/CellOps.h"
#include "base/TextIO.h"
#include "table/compare/DifferenceRows.h"
#include "workbook/csv/CsvFormat.h"

#include <algorithm>
#include <limits>

namespace quellar {

namespace {

constexpr uint32_t kNoRow = std::numeric_limits<uint32_t>::max();

struct DiffColumn {
    int column1; // -1: only in file 2
    int column2; // -1: only in file 1
    QString name;
    QString schema; // "", "+++", "---" or "(old name)"
};

enum class Kind : uint8_t { Same, Changed, NewValues, Removed, Added };

struct Entry {
    uint32_t row; // result row
    Kind kind;
};

bool flagged(const auto& flags, size_t column) {
    return column < flags.size() && flags[column];
}

// Columns the diff leaves out: those asked for, and those a comparison rule ignored.
bool leftOut(const HighlighterOptions& options, const CompareLayout& layout, size_t column1) {
    return flagged(options.leaveOut1, column1) || flagged(layout.ignored1, column1);
}

std::vector<DiffColumn> diffColumns(const CompareLayout& layout, const HighlighterOptions& options) {
    std::vector<DiffColumn> columns;
    std::vector<bool> leaveOut2(layout.width2, false);
    for (size_t c = 0; c < layout.width1; ++c) {
        const int c2 = c < layout.column1To2.size() ? layout.column1To2[c] : -1;
        if (leftOut(options, layout, c)) {
            if (c2 >= 0) leaveOut2[size_t(c2)] = true;
            continue;
        }
        const QString name1 = layout.names1.value(qsizetype(c));
        if (c2 < 0) {
            columns.push_back({int(c), -1, name1, QStringLiteral("---")});
            continue;
        }
        const QString name2 = layout.names2.value(c2);
        if (name1 != name2)
            columns.push_back({int(c), c2, name2, QStringLiteral("(%1)").arg(name1)});
        else
            columns.push_back({int(c), c2, name1, QString()});
    }
    for (size_t c2 = 0; c2 < layout.width2; ++c2) {
        if ((c2 < layout.column2To1.size() && layout.column2To1[c2] >= 0) || leaveOut2[c2] ||
            flagged(layout.ignored2, c2))
            continue;
        size_t at = 0;
        for (size_t before = c2; before-- > 0;) {
            const auto it = std::find_if(columns.begin(), columns.end(),
                                         [&](const DiffColumn& d) { return d.column2 == int(before); });
            if (it != columns.end()) {
                at = size_t(it - columns.begin()) + 1;
                break;
            }
        }
        columns.insert(columns.begin() + std::ptrdiff_t(at),
                       DiffColumn{-1, int(c2), layout.names2.value(qsizetype(c2)), QStringLiteral("+++")});
    }
    return columns;
}

// The 0-based row of table 2 named by a separator cell, kNoRow when it is empty.
uint32_t partnerOf(const Row& row, size_t separator) {
    const int64_t j = pairedRowOf(row, separator);
    return j < 0 || j >= int64_t(kNoRow) ? kNoRow : uint32_t(j);
}

QStringView cellText(const Row& row, int column) {
    if (column < 0 || size_t(column) >= row.size()) return {};
    const CellRecord& cell = row[size_t(column)];
    return cell.mergeState == MergeState::Covered ? QStringView() : cell.text.qview();
}

// A cell text as the diff writes it: numbers in their shortest form.
QString writtenText(QStringView text) {
    char number[400];
    if (const size_t n = cleanNumberText(text, number)) return QString::fromLatin1(number, qsizetype(n));
    return text.toString();
}

class DiffWriter {
public:
    DiffWriter(const RowTable& result, const CompareLayout& layout, const HighlighterOptions& options)
        : result_(result)
        , layout_(layout)
        , columns_(diffColumns(layout, options))
        , side2_(layout.width1 + 1) {
        hasNewColumns_ =
            std::any_of(columns_.begin(), columns_.end(), [](const DiffColumn& d) { return d.column1 < 0; });
        collectEntries();
        context_ = options.context;
        chooseKept(options.context);
        chooseArrow();
    }

    template <typename Sink> void write(Sink& sink) {
        std::string& b = sink.buffer();
        b.append("\xEF\xBB\xBF");
        if (std::any_of(columns_.begin(), columns_.end(),
                        [](const DiffColumn& d) { return !d.schema.isEmpty(); })) {
            b.push_back('!');
            for (const DiffColumn& d : columns_) {
                b.push_back(',');
                CsvFormat::appendField(b, d.schema);
            }
            b.append("\r\n");
        }
        b.append("@@");
        for (const DiffColumn& d : columns_) {
            b.push_back(',');
            CsvFormat::appendCell(b, d.name);
        }
        b.append("\r\n");
        bool skipping = false;
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (!kept_.empty() && !kept_[i]) {
                // Without context the changed rows stand alone, as the reference tool writes them.
                if (!skipping && context_ != 0) writeSkipped(b);
                skipping = true;
                continue;
            }
            skipping = false;
            writeEntry(b, entries_[i]);
            sink.maybeFlush();
        }
    }

private:
    void collectEntries() {
        const size_t separator = layout_.width1;
        const size_t rows1 = std::min(layout_.rows1, result_.size());
        const auto isData2 = [&](uint32_t j) { return j != kNoRow && int64_t(j) > layout_.fieldRow2; };
        size_t unpaired = rows1; // next unpaired row of table 2 (they follow table 1's rows in order)
        const auto addUnpairedBefore = [&](uint32_t j) {
            for (; unpaired < result_.size(); ++unpaired) {
                const uint32_t k = partnerOf(result_[unpaired], separator);
                if (k != kNoRow && k >= j) break;
                if (isData2(k)) entries_.push_back({uint32_t(unpaired), Kind::Added});
            }
        };
        entries_.reserve(result_.size());
        if (!layout_.rowsOf1.empty()) {
            // Aligned rows are already in the diff's order.
            for (size_t r = 0; r < result_.size(); ++r) {
                const int64_t i = layout_.table1Row(r);
                const uint32_t j = partnerOf(result_[r], separator);
                if (i < 0) {
                    if (isData2(j)) entries_.push_back({uint32_t(r), Kind::Added});
                } else if (i > layout_.fieldRow1) {
                    if (j == kNoRow)
                        entries_.push_back({uint32_t(r), Kind::Removed});
                    else if (isData2(j))
                        entries_.push_back({uint32_t(r), pairedKind(result_[r])});
                }
            }
            return;
        }
        for (size_t r = 0; r < rows1; ++r) {
            const Row& row = result_[r];
            const uint32_t j = partnerOf(row, separator);
            if (j != kNoRow) addUnpairedBefore(j);
            if (int64_t(r) <= layout_.fieldRow1) continue;
            if (j == kNoRow) {
                entries_.push_back({uint32_t(r), Kind::Removed});
                continue;
            }
            if (!isData2(j)) continue;
            entries_.push_back({uint32_t(r), pairedKind(row)});
        }
        addUnpairedBefore(kNoRow);
    }

    Kind pairedKind(const Row& row) const {
        for (const DiffColumn& d : columns_) {
            if (d.column1 >= 0 && d.column2 >= 0 && size_t(d.column1) < row.size() &&
                row[size_t(d.column1)].fillColorIndex == Fill::Red)
                return Kind::Changed;
        }
        // Every row is listed when columns were added: a row left out would get no value there.
        return hasNewColumns_ ? Kind::NewValues : Kind::Same;
    }

    void chooseKept(int context) {
        if (context < 0) return; // every row
        const size_t n = entries_.size();
        kept_.assign(n, 0);
        const size_t reach = size_t(context);
        size_t sinceChange = std::numeric_limits<size_t>::max();
        for (size_t i = 0; i < n; ++i) {
            if (entries_[i].kind != Kind::Same)
                sinceChange = 0;
            else if (sinceChange != std::numeric_limits<size_t>::max())
                ++sinceChange;
            if (sinceChange <= reach) kept_[i] = 1;
        }
        size_t untilChange = std::numeric_limits<size_t>::max();
        for (size_t i = n; i-- > 0;) {
            if (entries_[i].kind != Kind::Same)
                untilChange = 0;
            else if (untilChange != std::numeric_limits<size_t>::max())
                ++untilChange;
            if (untilChange <= reach) kept_[i] = 1;
        }
    }

    // The longest run of "-" right before a ">" in any text the diff writes decides the arrow.
    void chooseArrow() {
        int longest = 0;
        const auto scan = [&](QStringView text) {
            int run = 0;
            for (QChar c : text) {
                if (c == u'-') {
                    ++run;
                    continue;
                }
                if (c == u'>' && run > longest) longest = run;
                run = 0;
            }
        };
        for (const DiffColumn& d : columns_)
            scan(d.name);
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (!kept_.empty() && !kept_[i]) continue;
            const Row& row = result_[entries_[i].row];
            for (const DiffColumn& d : columns_) {
                scan(cellText(row, d.column1));
                if (d.column2 >= 0) scan(cellText(row, int(side2_) + d.column2));
            }
        }
        arrow_ = QString(longest + 1, u'-') + u'>';
    }

    void writeSkipped(std::string& b) const {
        b.append("...");
        for (size_t c = 0; c < columns_.size(); ++c)
            b.append(",...");
        b.append("\r\n");
    }

    void writeEntry(std::string& b, const Entry& entry) const {
        const Row& row = result_[entry.row];
        switch (entry.kind) {
        case Kind::Same:
            break;
        case Kind::Changed:
            appendUtf8(b, arrow_);
            break;
        case Kind::NewValues:
            b.push_back('+');
            break;
        case Kind::Removed:
            b.append("---");
            break;
        case Kind::Added:
            b.append("+++");
            break;
        }
        for (const DiffColumn& d : columns_) {
            b.push_back(',');
            const int at2 = d.column2 >= 0 ? int(side2_) + d.column2 : -1;
            switch (entry.kind) {
            case Kind::Removed:
                if (d.column1 >= 0)
                    CsvFormat::appendCell(b, cellText(row, d.column1));
                else
                    b.append("NULL");
                break;
            case Kind::Added:
                if (at2 >= 0)
                    CsvFormat::appendCell(b, cellText(row, at2));
                else
                    b.append("NULL");
                break;
            default:
                if (d.column1 < 0) {
                    CsvFormat::appendCell(b, cellText(row, at2));
                } else if (at2 >= 0 && size_t(d.column1) < row.size() &&
                           row[size_t(d.column1)].fillColorIndex == Fill::Red) {
                    CsvFormat::appendField(b, writtenText(cellText(row, d.column1)) + arrow_ +
                                                  writtenText(cellText(row, at2)));
                } else {
                    CsvFormat::appendCell(b, cellText(row, d.column1));
                }
            }
        }
        b.append("\r\n");
    }

    const RowTable& result_;
    const CompareLayout& layout_;
    std::vector<DiffColumn> columns_;
    size_t side2_;
    bool hasNewColumns_ = false;
    std::vector<Entry> entries_;
    std::vector<uint8_t> kept_; // empty: every entry
    int context_ = 1;
    QString arrow_;
};

struct StringSink {
    std::string text;
    std::string& buffer() { return text; }
    void maybeFlush() {}
};

} // namespace

std::string highlighterDiffText(const RowTable& result, const CompareLayout& layout,
                                const HighlighterOptions& options) {
    StringSink sink;
    DiffWriter(result, layout, options).write(sink);
    return std::move(sink.text);
}

Status writeHighlighterDiff(const RowTable& result, const CompareLayout& layout,
                            const HighlighterOptions& options, const QString& path) {
    DiffWriter writer(result, layout, options);
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    writer.write(out);
    return out.commit();
}

} // namespace quellar
