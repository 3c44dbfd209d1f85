#include "bench/TableGenerator.h"

#include "base/CellOps.h"

#include <QFile>

#include <random>
#include <sys/resource.h>

namespace quellar::bench {
namespace {

const char16_t* const kFieldNames[] = {u"编号", u"姓名", u"部门", u"地区", u"数量", u"单价",
                                       u"金额", u"日期", u"状态", u"备注", u"代码", u"分类"};
const char16_t* const kSurnames[] = {u"王", u"李", u"张", u"刘", u"陈", u"杨", u"赵", u"黄", u"周", u"吴"};
const char16_t* const kGiven[] = {u"伟", u"芳", u"娜", u"敏", u"静", u"丽",
                                  u"强", u"磊", u"军", u"洋", u"艳", u"勇"};
const char16_t* const kDepartments[] = {u"销售部", u"财务部", u"人事部", u"技术部", u"市场部", u"行政部"};
const char16_t* const kRegions[] = {u"华东", u"华南", u"华北", u"西南", u"东北", u"西北", u"华中"};
const char16_t* const kStates[] = {u"已完成", u"进行中", u"待审核", u"OK", u"pending"};

template <size_t N> QString pick(const char16_t* const (&items)[N], std::mt19937_64& rng) {
    return QString::fromUtf16(items[rng() % N]);
}

CellRecord makeCell(const QString& text, int row, int column) {
    CellRecord cell;
    cell.text = SharedText(text);
    cell.fillColorIndex = Fill::White;
    cell.mergeState = MergeState::Single;
    cell.alignment1 = Align::General;
    cell.alignment2 = Align::Bottom;
    static const uint32_t style = [] {
        CellStyle s;
        s.numberFormat = SharedText(QStringLiteral("General"));
        s.fontName = SharedText(QStringLiteral("宋体"));
        s.fontSize = 11;
        return StylePool::intern(s);
    }();
    cell.styleId = style;
    if (row == 0) cell.columnWidth = 54;
    if (column == 0) cell.rowHeight = 13.5f;
    return cell;
}

QString valueFor(int column, int64_t row, std::mt19937_64& rng) {
    switch (column % 12) {
    case 1:
        return pick(kSurnames, rng) + pick(kGiven, rng) + (rng() % 2 ? pick(kGiven, rng) : QString());
    case 2:
        return pick(kDepartments, rng);
    case 3:
        return pick(kRegions, rng);
    case 4:
        return realToText(double(rng() % 500));
    case 5:
        return realToText(double(rng() % 100000) / 100.0);
    case 6:
        return realToText(double(rng() % 10000000) / 100.0);
    case 7:
        return QStringLiteral("2026/%1/%2").arg(rng() % 12 + 1).arg(rng() % 28 + 1);
    case 8:
        return pick(kStates, rng);
    case 9:
        return QStringLiteral("note-%1").arg(rng() % 1000);
    case 10:
        return QStringLiteral("C%1").arg(row % 997);
    default:
        return pick(kDepartments, rng) + QString::number(rng() % 50);
    }
}

} // namespace

RowTable generateTable(const GeneratorOptions& options) {
    std::mt19937_64 rng(options.seed);
    std::uniform_real_distribution<double> unit(0, 1);
    RowTable table;
    table.reserve(size_t(options.rows + 1));
    Row header;
    for (int c = 0; c < options.columns; ++c) {
        QString name = QString::fromUtf16(kFieldNames[c % 12]);
        if (c >= 12) name += QString::number(c / 12);
        header.push_back(makeCell(name, 0, c));
    }
    table.push_back(std::move(header));
    for (int64_t r = 1; r <= options.rows; ++r) {
        Row row;
        row.reserve(size_t(options.columns));
        const int64_t key =
            (r > 1 && unit(rng) < options.duplicateKeys) ? int64_t(rng() % uint64_t(r - 1)) + 1 : r;
        row.push_back(makeCell(QStringLiteral("K%1").arg(key, 7, 10, QChar(u'0')), int(r), 0));
        for (int c = 1; c < options.columns; ++c) {
            const QString text = unit(rng) < options.blanks ? QString() : valueFor(c, r, rng);
            row.push_back(makeCell(text, int(r), c));
        }
        table.push_back(std::move(row));
    }
    return table;
}

RowTable deriveTable(const RowTable& base, double changed, double removed, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    RowTable table;
    table.reserve(base.size());
    int64_t dropped = 0;
    for (size_t r = 0; r < base.size(); ++r) {
        if (r > 0 && unit(rng) < removed) {
            ++dropped;
            continue;
        }
        Row row = base[r];
        if (r > 0 && unit(rng) < changed && row.size() > 1) {
            const size_t c = 1 + rng() % (row.size() - 1);
            row[c].text = SharedText(QStringLiteral("改-%1").arg(rng() % 100000));
        }
        table.push_back(std::move(row));
    }
    for (int64_t i = 0; i < dropped; ++i) {
        Row row = base[1 + rng() % (base.size() - 1)];
        row[0].text = SharedText(QStringLiteral("N%1").arg(i, 7, 10, QChar(u'0')));
        table.push_back(std::move(row));
    }
    return table;
}

RowTable deriveEditedTable(const RowTable& base) {
    RowTable table;
    table.reserve(base.size() + base.size() / 100);
    for (size_t r = 0; r < base.size(); ++r) {
        if (r > 0 && r % 97 == 0) continue;
        Row row = base[r];
        if (r > 0 && r % 100 == 0 && row.size() > 4) {
            const double old = row[4].text.toQString().toDouble();
            row[4].text = SharedText(realToText(old + 1000));
        }
        table.push_back(std::move(row));
    }
    std::mt19937_64 rng(97);
    const size_t data = base.size() - 1;
    for (size_t i = 0; i < data / 100; ++i) {
        Row row = base[1 + rng() % data];
        row[0].text = SharedText(QStringLiteral("N%1").arg(i, 7, 10, QChar(u'0')));
        table.push_back(std::move(row));
    }
    return table;
}

Workbook tableToWorkbook(const RowTable& table, const QString& sheetName) {
    Workbook book;
    Sheet sheet;
    sheet.name = sheetName;
    for (size_t r = 0; r < table.size(); ++r) {
        SheetRow& row = sheet.rowAt(int32_t(r));
        row.cells.reserve(table[r].size());
        for (size_t c = 0; c < table[r].size(); ++c) {
            const SharedText& text = table[r][c].text;
            if (text.isEmpty()) continue;
            Cell cell;
            cell.column = uint32_t(c);
            double number = 0;
            cell.value =
                (r > 0 && parseNumber(text, number) && text.view().find(u',') == std::u16string_view::npos)
                    ? CellValue::fromNumber(number)
                    : CellValue::fromString(text);
            row.cells.push_back(std::move(cell));
        }
    }
    book.sheets.push_back(std::move(sheet));
    return book;
}

namespace {
double statusFieldMB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    const QByteArray name(field);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}
} // namespace

double peakMemoryMB() {
    return statusFieldMB("VmHWM:");
}
double currentMemoryMB() {
    return statusFieldMB("VmRSS:");
}

void resetPeakMemory() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly)) refs.write("5");
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

Workbook mixedWorkbook(int64_t rows) {
    static const char16_t* names[] = {u"张三",   u"李四", u"王五",     u"赵六",
                                      u"陈小明", u"刘洋", u"欧阳娜娜", u"周杰"};
    static const char16_t* regions[] = {u"华东", u"华南", u"华北", u"西南", u"东北", u"西北"};
    static const char16_t* items[] = {u"办公用品", u"电脑", u"打印纸", u"文具", u"Laptop", u"Desk"};
    Workbook book = Workbook::makeDefault();
    book.sheets.resize(1);
    Sheet& sheet = book.sheets[0];
    sheet.name = QStringLiteral("数据");
    sheet.rows.reserve(size_t(rows));
    uint64_t state = 88172645463325252ull;
    auto random = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int64_t r = 0; r < rows; ++r) {
        SheetRow& row = sheet.rowAt(int32_t(r));
        row.cells.resize(10);
        for (uint32_t c = 0; c < 10; ++c)
            row.cells[c].column = c;
        const uint64_t x = random();
        row.cells[0].value = CellValue::fromNumber(double(r + 1));
        row.cells[1].value = CellValue::fromString(names[x % 8]);
        row.cells[2].value = CellValue::fromString(regions[(x >> 3) % 6]);
        row.cells[3].value = CellValue::fromString(QStringLiteral("A%1").arg(x % 100000));
        row.cells[4].value = CellValue::fromNumber(double(x % 100000) / 100);
        row.cells[5].value = CellValue::fromNumber(double((x >> 20) % 1000));
        row.cells[6].value = CellValue::fromString(items[(x >> 8) % 6]);
        row.cells[7].value = CellValue::fromNumber(double((x >> 30) % 10000000) / 1000);
        if ((x >> 40) % 30 != 0) row.cells[8].value = CellValue::fromString(u"是");
        row.cells[9].value = CellValue::fromNumber(double(int64_t((x >> 24) % 2000) - 1000));
    }
    return book;
}

} // namespace quellar::bench
