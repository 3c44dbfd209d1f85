// The .xlsx writer of XlsxFormat, over libxlsxwriter.

#include "workbook/DisplayFormat.h"
#include "workbook/containers/ZipArchive.h"
#include "workbook/xlsx/XlsxFormat.h"

#include "base/CellOps.h"
#include "base/ExcelDate.h"
#include "base/Progress.h"
#include "base/TextIO.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

namespace quellar {

namespace {

// The longest text a cell of an .xlsx file holds.
constexpr qsizetype kMaxXlsxText = 32767;

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

lxw_color_t lxwColor(uint32_t rgb) {
    return rgb == 0 ? lxw_color_t(LXW_COLOR_BLACK) : lxw_color_t(rgb & 0xFFFFFF);
}

uint8_t horizontalCode(HAlign a) {
    switch (a) {
    case HAlign::Left:
        return LXW_ALIGN_LEFT;
    case HAlign::Center:
        return LXW_ALIGN_CENTER;
    case HAlign::Right:
        return LXW_ALIGN_RIGHT;
    case HAlign::Fill:
        return LXW_ALIGN_FILL;
    case HAlign::Justify:
        return LXW_ALIGN_JUSTIFY;
    case HAlign::CenterAcross:
        return LXW_ALIGN_CENTER_ACROSS;
    case HAlign::Distributed:
        return LXW_ALIGN_DISTRIBUTED;
    case HAlign::General:
        break;
    }
    return LXW_ALIGN_NONE;
}

uint8_t verticalCode(VAlign a) {
    switch (a) {
    case VAlign::Top:
        return LXW_ALIGN_VERTICAL_TOP;
    case VAlign::Center:
        return LXW_ALIGN_VERTICAL_CENTER;
    case VAlign::Justify:
        return LXW_ALIGN_VERTICAL_JUSTIFY;
    case VAlign::Distributed:
        return LXW_ALIGN_VERTICAL_DISTRIBUTED;
    case VAlign::Bottom:
        break; // Excel's default
    }
    return LXW_ALIGN_NONE;
}

// Excel's sheet-name rules: 1 to 31 characters, none of []:*?/\, no apostrophe at either
// end, unique ignoring case.
QString validSheetName(const QString& wanted, int position, QSet<QString>& taken) {
    QString name = wanted;
    for (QChar& c : name)
        if (QStringView(u"[]:*?/\\").contains(c) || c.unicode() < 0x20) c = u'_';
    while (name.startsWith(u'\''))
        name.remove(0, 1);
    while (name.endsWith(u'\''))
        name.chop(1);
    if (name.isEmpty()) name = QStringLiteral("Sheet%1").arg(position + 1);
    name = name.left(31);
    QString candidate = name;
    for (int n = 2; taken.contains(candidate.toLower()); ++n) {
        const QString suffix = QStringLiteral("(%1)").arg(n);
        candidate = name.left(31 - suffix.size()) + suffix;
    }
    taken.insert(candidate.toLower());
    return candidate;
}

// A known error value that can be written as a formula of its own.
bool isErrorLiteral(QStringView text) {
    static const QStringList errors{QStringLiteral("#NULL!"),  QStringLiteral("#DIV/0!"),
                                    QStringLiteral("#VALUE!"), QStringLiteral("#REF!"),
                                    QStringLiteral("#NAME?"),  QStringLiteral("#NUM!"),
                                    QStringLiteral("#N/A")};
    return errors.contains(text.toString());
}

class XlsxWriterJob {
public:
    XlsxWriterJob(const Workbook& book, lxw_workbook* wb)
        : book_(book)
        , wb_(wb) {
        // libxlsxwriter's default font is Calibri 11; any other workbook default goes on
        // every cell format (its format 0 cannot be changed).
        explicitFont_ = book.defaultFontName.compare(u"Calibri", Qt::CaseInsensitive) != 0 ||
                        std::abs(book.defaultFontSize - 11) > 1e-9;
    }

    // kind: 0 as the style says; 1 a date; 2 a date with time; 3 a time of day.
    lxw_format* format(uint32_t styleIndex, int kind) {
        const uint64_t key = (uint64_t(styleIndex) << 2) | uint64_t(kind);
        const auto it = formats_.find(key);
        if (it != formats_.end()) return it->second;
        const Style& s = styleIndex < book_.styles.size() ? book_.styles[styleIndex] : book_.styles[0];
        QString code = formatCodeFor(s.numberFormat);
        if (kind == 1 || kind == 2) // the codes that show a date as the program writes it
            code = DisplayFormat::dateTextFormat(kind == 1 ? 0.0 : 0.5);
        else if (kind == 3)
            code = QStringLiteral("h:mm:ss");
        const bool plain = s == Style() && !explicitFont_ && code.isEmpty();
        lxw_format* f = nullptr;
        if (!plain) {
            f = workbook_add_format(wb_);
            if (!code.isEmpty() && code != u"General") format_set_num_format(f, code.toUtf8().constData());
            const QString fontName = s.fontName.isEmpty() ? book_.defaultFontName : s.fontName;
            const double fontSize = s.fontSize > 0 ? s.fontSize : book_.defaultFontSize;
            if (explicitFont_ || !s.fontName.isEmpty())
                format_set_font_name(f, fontName.toUtf8().constData());
            if (explicitFont_ || s.fontSize > 0) format_set_font_size(f, fontSize);
            if (s.bold) format_set_bold(f);
            if (s.italic) format_set_italic(f);
            if (s.hasFontColor) format_set_font_color(f, lxwColor(s.fontRgb));
            if (s.hasFill) {
                const uint32_t rgb =
                    s.fillRgb != 0 || s.fillPalette <= 0 ? s.fillRgb : paletteColor(s.fillPalette);
                format_set_pattern(f, LXW_PATTERN_SOLID);
                format_set_bg_color(f, lxwColor(rgb));
            }
            if (const uint8_t h = horizontalCode(s.horizontal)) format_set_align(f, h);
            if (const uint8_t v = verticalCode(s.vertical)) format_set_align(f, v);
            if (s.wrapText) format_set_text_wrap(f);
        }
        formats_.emplace(key, f);
        return f;
    }

    // The format kind a date-time value needs under `styleIndex`.
    int dateKind(uint32_t styleIndex, double serial) {
        const auto it = dateStyle_.find(styleIndex);
        bool isDate;
        if (it != dateStyle_.end()) {
            isDate = it->second;
        } else {
            const Style& s = styleIndex < book_.styles.size() ? book_.styles[styleIndex] : book_.styles[0];
            isDate = isDateFormatCode(formatCodeFor(s.numberFormat));
            dateStyle_.emplace(styleIndex, isDate);
        }
        if (isDate) return 0;
        if (serial < 1) return 3;
        return serial != std::floor(serial) ? 2 : 1;
    }

    Status writeSheet(const Sheet& sheet, lxw_worksheet* ws) {
        // Column widths: runs of equal width; gaps take the sheet's default when it differs
        // from libxlsxwriter's own (8.43 characters, 48 points).
        const bool customDefault =
            std::abs(sheet.defaultColumnWidth - 48) > 0.75 && sheet.defaultColumnWidth > 0;
        auto setColumns = [&](int first, int last, double points) -> lxw_error {
            if (points <= 0) {
                lxw_row_col_options hidden{};
                hidden.hidden = 1;
                return worksheet_set_column_opt(ws, lxw_col_t(first), lxw_col_t(last), LXW_DEF_COL_WIDTH,
                                                nullptr, &hidden);
            }
            return worksheet_set_column(ws, lxw_col_t(first), lxw_col_t(last), pointsToCharacterWidth(points),
                                        nullptr);
        };
        {
            int next = 0;
            auto it = sheet.columnWidths.begin();
            while (it != sheet.columnWidths.end()) {
                const int first = it->first;
                if (first < 0 || first >= kMaxColumns) {
                    ++it;
                    continue;
                }
                if (customDefault && first > next) setColumns(next, first - 1, sheet.defaultColumnWidth);
                const double width = it->second;
                int last = first;
                auto run = std::next(it);
                while (run != sheet.columnWidths.end() && run->first == last + 1 && run->second == width) {
                    last = run->first;
                    ++run;
                }
                if (lxw_error e = setColumns(first, last, width); e != LXW_NO_ERROR)
                    return Status::ioError(QString::fromUtf8(lxw_strerror(e)));
                next = last + 1;
                it = run;
            }
            if (customDefault && next < kMaxColumns)
                setColumns(next, kMaxColumns - 1, sheet.defaultColumnWidth);
        }
        if (sheet.defaultRowHeight > 0 && std::abs(sheet.defaultRowHeight - LXW_DEF_ROW_HEIGHT) > 0.01)
            worksheet_set_default_row(ws, sheet.defaultRowHeight, LXW_FALSE);

        // Merged areas first (libxlsxwriter fills them with formatted blanks), then the
        // cells, which overwrite the top-left cells with their values.
        for (const CellRange& m : sheet.merges) {
            if (m.rowCount() < 2 && m.columnCount() < 2) continue;
            const Cell* anchor = sheet.cell(m.firstRow, m.firstColumn);
            lxw_format* f = anchor ? format(anchor->style, 0) : nullptr;
            worksheet_merge_range(ws, lxw_row_t(m.firstRow), lxw_col_t(m.firstColumn), lxw_row_t(m.lastRow),
                                  lxw_col_t(m.lastColumn), "", f);
        }

        std::string text;
        size_t rowsWritten = 0;
        for (const SheetRow& row : sheet.rows) {
            // A cancelled export stops here; the temporary file goes with the failure.
            if ((++rowsWritten & 4095) == 0 && cancellation::requested()) return Status::cancelled();
            if (row.index < 0 || row.index >= kMaxRows) continue;
            if (row.height >= 0 || row.hidden) {
                lxw_row_col_options options{};
                options.hidden = row.hidden ? 1 : 0;
                const double height = row.height >= 0 ? row.height : sheet.defaultRowHeight;
                worksheet_set_row_opt(ws, lxw_row_t(row.index), height, nullptr, &options);
            }
            for (const Cell& cell : row.cells) {
                if (cell.column >= uint32_t(kMaxColumns)) continue;
                const lxw_row_t r = lxw_row_t(row.index);
                const lxw_col_t c = lxw_col_t(cell.column);
                const CellValue& v = cell.value;
                int kind = 0;
                if (v.type() == CellValue::Type::DateTime && v.number() >= 0 &&
                    v.number() < exceldate::kLastSerial)
                    kind = dateKind(cell.style, v.number());
                lxw_format* f = format(cell.style, kind);
                lxw_error e = LXW_NO_ERROR;
                if (!cell.formula.isEmpty()) {
                    // The model holds A1 formulas, which is what the file stores (without "=").
                    QStringView formula = cell.formula.qview();
                    if (formula.startsWith(u'=')) formula = formula.mid(1);
                    const QByteArray utf8 = formula.toUtf8();
                    switch (v.type()) {
                    case CellValue::Type::String:
                    case CellValue::Type::Error:
                        text.clear();
                        appendUtf8(text, v.text().qview().left(32767));
                        e = worksheet_write_formula_str(ws, r, c, utf8.constData(), f, text.c_str());
                        break;
                    case CellValue::Type::Empty: // no cached value: keep it empty rather than 0
                        e = worksheet_write_formula_str(ws, r, c, utf8.constData(), f, "");
                        break;
                    default:
                        e = worksheet_write_formula_num(ws, r, c, utf8.constData(), f, v.number());
                        break;
                    }
                } else {
                    switch (v.type()) {
                    case CellValue::Type::Empty:
                        e = worksheet_write_blank(ws, r, c, f);
                        break;
                    case CellValue::Type::Number:
                    case CellValue::Type::DateTime:
                        e = worksheet_write_number(ws, r, c, std::isfinite(v.number()) ? v.number() : 0, f);
                        break;
                    case CellValue::Type::Boolean:
                        e = worksheet_write_boolean(ws, r, c, v.number() != 0, f);
                        break;
                    case CellValue::Type::Error:
                        if (isErrorLiteral(v.text().qview())) {
                            const QByteArray error = v.text().toQString().toUtf8();
                            e = worksheet_write_formula_str(ws, r, c, error.constData(), f,
                                                            error.constData());
                            break;
                        }
                        [[fallthrough]];
                    case CellValue::Type::String:
                        // A cell of an .xlsx file holds at most 32767 characters: refuse rather
                        // than cut a text without a word.
                        if (v.text().qview().size() > kMaxXlsxText)
                            return Status::invalidInput(
                                QStringLiteral(
                                    "工作表“%1”的单元格 %2 的文字有 %3 个字符，超过 .xlsx 单元格最多能存的 "
                                    "%4 个字符；为了不截断文字，请另存为 .xls、.xml、.json 或 .csv")
                                    .arg(sheet.name, columnAddress(int(c) + 1, int(r) + 1))
                                    .arg(v.text().qview().size())
                                    .arg(kMaxXlsxText));
                        text.clear();
                        appendUtf8(text, v.text().qview());
                        e = worksheet_write_string(ws, r, c, text.c_str(), f);
                        break;
                    }
                }
                if (e != LXW_NO_ERROR)
                    return Status::ioError(QStringLiteral("工作表“%1”的单元格 %2：%3")
                                               .arg(sheet.name, columnAddress(int(c) + 1, int(r) + 1),
                                                    QString::fromUtf8(lxw_strerror(e))));
            }
        }

        // Page setup.
        const PageSetup& p = sheet.pageSetup;
        if (p.paperSize > 0 && p.paperSize < 256) worksheet_set_paper(ws, uint8_t(p.paperSize));
        if (p.landscape) worksheet_set_landscape(ws);
        worksheet_set_margins(ws, p.marginLeft, p.marginRight, p.marginTop, p.marginBottom);
        if (std::abs(p.marginHeader - 0.3) > 1e-9 && p.marginHeader > 0) {
            lxw_header_footer_options o{};
            o.margin = p.marginHeader;
            worksheet_set_header_opt(ws, "", &o);
        }
        if (std::abs(p.marginFooter - 0.3) > 1e-9 && p.marginFooter > 0) {
            lxw_header_footer_options o{};
            o.margin = p.marginFooter;
            worksheet_set_footer_opt(ws, "", &o);
        }
        if (p.fitToPage)
            worksheet_fit_to_pages(ws, uint16_t(std::clamp(p.fitToWidth, 0, 32767)),
                                   uint16_t(std::clamp(p.fitToHeight, 0, 32767)));
        else if (p.scale != 100 && p.scale >= 10 && p.scale <= 400)
            worksheet_set_print_scale(ws, uint16_t(p.scale));
        if (p.printTitleFirstRow >= 0 && p.printTitleLastRow >= p.printTitleFirstRow &&
            p.printTitleLastRow < kMaxRows)
            worksheet_repeat_rows(ws, lxw_row_t(p.printTitleFirstRow), lxw_row_t(p.printTitleLastRow));
        std::vector<lxw_row_t> breaks;
        for (int32_t b : sheet.rowBreaks)
            if (b > 1 && b <= kMaxRows && breaks.size() < LXW_BREAKS_MAX) breaks.push_back(lxw_row_t(b - 1));
        if (!breaks.empty()) {
            breaks.push_back(0);
            worksheet_set_h_pagebreaks(ws, breaks.data());
        }
        if (sheet.isProtected) worksheet_protect(ws, nullptr, nullptr);
        return Status::ok();
    }

private:
    const Workbook& book_;
    lxw_workbook* wb_;
    bool explicitFont_ = false;
    std::unordered_map<uint64_t, lxw_format*> formats_;
    std::unordered_map<uint32_t, bool> dateStyle_;
};

// The root element's name of an XML part, from its first bytes ("worksheet" for
// <?xml ...?><worksheet ...>); empty when there is none to be found.
std::string rootElementName(std::string_view head) {
    size_t at = 0;
    while ((at = head.find('<', at)) != std::string_view::npos) {
        ++at;
        if (at < head.size() && (head[at] == '?' || head[at] == '!')) continue;
        size_t end = at;
        while (end < head.size() && head[end] != ' ' && head[end] != '>' && head[end] != '/' &&
               head[end] != '\r' && head[end] != '\n' && head[end] != '\t')
            ++end;
        return end < head.size() ? std::string(head.substr(at, end - at)) : std::string();
    }
    return {};
}

// libxlsxwriter does not notice every failed write: a disk that fills up while it copies its
// scratch files into the package still reports success, leaving a truncated or corrupt file.
// So the finished package is read back before it may replace the target: every entry must
// inflate to its declared size with the right checksum, and every XML part must end with the
// closing tag of its root element.
Status verifyPackage(const QString& path) {
    ZipArchive zip;
    ZipLimits limits;
    limits.maxRatio = ~uint64_t(0) / 2; // our own output: only completeness is in question
    limits.maxEntrySize = ~uint64_t(0) / 2;
    limits.maxEntries = 1 << 30;
    if (Status opened = zip.open(path, limits); !opened.isOk()) return opened;
    std::vector<char> buffer(size_t(1) << 20);
    for (const ZipEntry& entry : zip.entries()) {
        std::unique_ptr<ZipEntryStream> stream;
        if (Status s = zip.openEntry(entry, stream); !s.isOk()) return s;
        std::string head, tail;
        qint64 n;
        while ((n = stream->read(buffer.data(), qint64(buffer.size()))) > 0) {
            if (head.size() < 512) head.append(buffer.data(), size_t(std::min<qint64>(n, 512)));
            tail.append(buffer.data() + std::max<qint64>(0, n - 256), size_t(std::min<qint64>(n, 256)));
            if (tail.size() > 256) tail.erase(0, tail.size() - 256);
        }
        if (n < 0) return stream->status();
        const std::string_view name(entry.name);
        if (!(name.ends_with(".xml") || name.ends_with(".rels"))) continue;
        const std::string root = rootElementName(head);
        while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' '))
            tail.pop_back();
        // A part may also be its root element alone, closed in its own tag (<x .../>).
        const bool onlyRoot = entry.size <= head.size() && tail.ends_with("/>") &&
                              head.find('<', head.find("<" + root) + 1) == std::string::npos;
        if (root.empty() || !(tail.ends_with("</" + root + ">") || onlyRoot))
            return Status::ioError(QStringLiteral("部件“%1”不完整").arg(QString::fromStdString(entry.name)));
    }
    return Status::ok();
}

} // namespace

Status XlsxFormat::write(const Workbook& workbook, const QString& path) const {
    const QString shown = native(path);
    const QFileInfo target(path);
    if (!target.absoluteDir().exists())
        return Status::notFound(QStringLiteral("无法写入文件“%1”：文件夹不存在").arg(shown));
    if (target.isDir())
        return Status::invalidInput(QStringLiteral("无法写入“%1”：这是一个文件夹").arg(shown));

    // Built beside the target, renamed over it only when complete.
    QTemporaryFile temporary(
        target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX.tmp").arg(target.fileName())));
    if (!temporary.open())
        return Status::ioError(QStringLiteral("无法写入文件“%1”：%2").arg(shown, temporary.errorString()));
    temporary.close();
    const QByteArray temporaryName = QFile::encodeName(temporary.fileName());

    bool anyMerge = false;
    for (const Sheet& sheet : workbook.sheets)
        anyMerge = anyMerge || !sheet.merges.empty();
    const QByteArray scratch = QFile::encodeName(QDir::tempPath());
    lxw_workbook_options options{};
    // Constant-memory mode streams each row out as it is finished; it cannot place merged
    // areas, so workbooks with merges are built in memory.
    options.constant_memory = anyMerge ? LXW_FALSE : LXW_TRUE;
    options.tmpdir = const_cast<char*>(scratch.constData());
    options.use_zip64 = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(temporaryName.constData(), &options);
    if (!wb) return Status::ioError(QStringLiteral("无法写入文件“%1”：无法创建工作簿").arg(shown));

    Status status;
    try {
        XlsxWriterJob job(workbook, wb);
        QSet<QString> taken;
        std::vector<lxw_worksheet*> sheets;
        for (size_t i = 0; i < workbook.sheets.size() && status; ++i) {
            const Sheet& sheet = workbook.sheets[i];
            const QByteArray name = validSheetName(sheet.name, int(i), taken).toUtf8();
            lxw_worksheet* ws = workbook_add_worksheet(wb, name.constData());
            if (!ws) {
                status = Status::ioError(QStringLiteral("无法写入工作表“%1”").arg(sheet.name));
                break;
            }
            sheets.push_back(ws);
            status = job.writeSheet(sheet, ws);
        }
        if (status && workbook.sheets.empty()) workbook_add_worksheet(wb, nullptr);
        if (status && !sheets.empty()) {
            const int active = std::clamp(workbook.activeSheet, 0, int(sheets.size()) - 1);
            worksheet_activate(sheets[size_t(active)]);
            for (size_t i = 0; i < sheets.size(); ++i)
                if (workbook.sheets[i].hidden && int(i) != active) worksheet_hide(sheets[i]);
        }
    } catch (const std::exception&) {
        status = Status::ioError(QStringLiteral("内存不足"));
    }
    if (!status && cancellation::requested()) {
        // Closing would still pack what was written so far (seconds for a large sheet): a file
        // that cannot be created (a path under the temporary file) makes it only free the workbook.
        std::free(wb->filename);
        wb->filename = strdup((temporaryName + "/cancelled").constData());
    }
    const lxw_error closed = workbook_close(wb); // frees the workbook in every case
    if (status && closed != LXW_NO_ERROR) status = Status::ioError(QString::fromUtf8(lxw_strerror(closed)));
    if (status && cancellation::requested()) status = Status::cancelled(); // nothing replaced
    if (status && !verifyPackage(temporary.fileName()).isOk())
        status = Status::ioError(QStringLiteral("写出的内容不完整（磁盘空间不足或写入出错）"));
    if (!status) return Status::ioError(QStringLiteral("写入文件“%1”失败：%2").arg(shown, status.message()));

    // Keep the permissions of a file being replaced; a new file gets the usual ones.
    const QFileDevice::Permissions permissions = target.exists()
                                                     ? QFile::permissions(path)
                                                     : (QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
    QFile::setPermissions(temporary.fileName(), permissions);
    if (std::rename(temporaryName.constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0)
        return Status::ioError(QStringLiteral("写入文件“%1”失败：无法替换原文件（%2）")
                                   .arg(shown, QString::fromLocal8Bit(std::strerror(errno))));
    temporary.setAutoRemove(false);
    return Status::ok();
}

} // namespace quellar
