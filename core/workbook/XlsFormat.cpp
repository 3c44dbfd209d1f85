#include "workbook/XlsFormat.h"

#include "base/TextIO.h"
#include "workbook/XlsxFormat.h"
#include "workbook/XmlSpreadsheetFormat.h"
#include "base/CellOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <freexl.h>

namespace quellar {

namespace {

QString reasonFor(int code) {
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        return QStringLiteral("文件不存在或无法打开");
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("内存不足，或文件中的大小记录已损坏");
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
        return QStringLiteral("不是有效的 .xls 文件（复合文档头无效）");
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
        return QStringLiteral("复合文档的扇区大小无效，文件已损坏");
    case FREEXL_CFBF_READ_ERROR:
    case FREEXL_CFBF_SEEK_ERROR:
        return QStringLiteral("扇区链指向文件之外（文件已损坏或被截断）");
    case FREEXL_CFBF_EMPTY_FAT_CHAIN:
    case FREEXL_CFBF_ILLEGAL_FAT_ENTRY:
    case FREEXL_INVALID_MINI_STREAM:
    case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY:
        return QStringLiteral("扇区链已损坏");
    case FREEXL_BIFF_INVALID_BOF:
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("找不到工作簿数据（这不是 Excel 工作簿，或者版本太旧）");
    case FREEXL_BIFF_INVALID_SST:
    case FREEXL_BIFF_ILLEGAL_SST_INDEX:
        return QStringLiteral("共享字符串表已损坏");
    case FREEXL_INVALID_CHARACTER:
    case FREEXL_UNSUPPORTED_CHARSET:
        return QStringLiteral("文字的编码无法识别");
    case FREEXL_ILLEGAL_RK_VALUE:
        return QStringLiteral("数值记录已损坏");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("文件已严重损坏或被恶意构造");
    default:
        return QStringLiteral("无法读取（错误代码 %1）").arg(code);
    }
}

// True when a compound document holds an "EncryptedPackage" stream: an .xlsx protected by a
// password to open, which Office stores inside a compound document.
bool isEncryptedPackage(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray name = QByteArray("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
    QByteArray carry;
    while (!file.atEnd()) {
        const QByteArray chunk = carry + file.read(1 << 20);
        if (chunk.contains(name)) return true;
        carry = chunk.right(name.size());
        if (chunk.size() <= carry.size()) break;
    }
    return false;
}

// Closes the FreeXL handle on every way out.
struct Handle {
    const void* h = nullptr;
    ~Handle() {
        if (h) freexl_close(h);
    }
};

} // namespace

bool XlsFormat::recognizes(const QByteArray& head) const {
    return head.startsWith(QByteArrayLiteral("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"));
}

Status XlsFormat::read(const QString& path, Workbook& workbook) const {
    workbook = Workbook();
    const QString shown = QDir::toNativeSeparators(path);
    auto fail = [&](const QString& reason) {
        workbook = Workbook();
        return Status::invalidInput(QStringLiteral("文件“%1”：%2").arg(shown, reason));
    };
    const QFileInfo info(path);
    if (!info.exists()) return Status::notFound(QStringLiteral("找不到文件“%1”").arg(shown));
    if (info.isDir()) return Status::invalidInput(QStringLiteral("“%1”是文件夹，不是文件").arg(shown));
    if (info.size() == 0) return fail(QStringLiteral("文件是空的（0 字节），不是工作簿"));
    {
        QFile probe(path); // FreeXL reports an unreadable file as missing; say what it is
        if (!probe.open(QIODevice::ReadOnly))
            return Status::ioError(QStringLiteral("无法读取文件“%1”：%2").arg(shown, probe.errorString()));
    }

    Handle handle;
    const QByteArray local = QFile::encodeName(path);
    int rc = freexl_open(local.constData(), &handle.h);
    if (rc != FREEXL_OK) {
        if ((rc == FREEXL_BIFF_WORKBOOK_NOT_FOUND || rc == FREEXL_BIFF_INVALID_BOF) &&
            isEncryptedPackage(path))
            return fail(
                QStringLiteral("工作簿设置了打开密码（已加密），无法读取；请在 Excel 中去掉密码后再打开"));
        return fail(reasonFor(rc));
    }
    unsigned int value = 0;
    if (freexl_get_info(handle.h, FREEXL_BIFF_PASSWORD, &value) == FREEXL_OK &&
        value == FREEXL_BIFF_OBFUSCATED)
        return fail(QStringLiteral("工作簿设置了密码保护，无法读取"));
    unsigned int sheetCount = 0;
    if ((rc = freexl_get_info(handle.h, FREEXL_BIFF_SHEET_COUNT, &sheetCount)) != FREEXL_OK)
        return fail(reasonFor(rc));
    if (sheetCount == 0) return fail(QStringLiteral("工作簿中没有工作表"));

    Workbook book;
    int64_t total = 0;
    for (unsigned int s = 0; s < sheetCount; ++s) {
        const char* name = nullptr;
        if ((rc = freexl_get_worksheet_name(handle.h, s, &name)) != FREEXL_OK) return fail(reasonFor(rc));
        if ((rc = freexl_select_active_worksheet(handle.h, uint16_t(s))) != FREEXL_OK)
            return fail(reasonFor(rc));
        unsigned int rows = 0;
        unsigned short columns = 0;
        if ((rc = freexl_worksheet_dimensions(handle.h, &rows, &columns)) != FREEXL_OK)
            return fail(reasonFor(rc));
        Sheet& sheet = book.sheets.emplace_back();
        sheet.name = name ? QString::fromUtf8(name) : QStringLiteral("Sheet%1").arg(s + 1);
        if (rows > unsigned(kMaxRows) || columns > kMaxColumns)
            return fail(QStringLiteral("工作表“%1”的大小记录超出了表格范围").arg(sheet.name));
        for (unsigned int r = 0; r < rows; ++r) {
            for (unsigned short c = 0; c < columns; ++c) {
                FreeXL_CellValue cell;
                if ((rc = freexl_get_cell_value(handle.h, r, c, &cell)) != FREEXL_OK)
                    return fail(QStringLiteral("工作表“%1”的单元格 %2：%3")
                                    .arg(sheet.name, columnAddress(c + 1, int(r) + 1), reasonFor(rc)));
                CellValue v;
                switch (cell.type) {
                case FREEXL_CELL_INT:
                    v = CellValue::fromNumber(cell.value.int_value);
                    break;
                case FREEXL_CELL_DOUBLE:
                    v = CellValue::fromNumber(cell.value.double_value);
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                    v = CellValue::fromString(
                        sharedTextFromUtf8(cell.value.text_value ? cell.value.text_value : ""));
                    break;
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME: {
                    double serial = 0;
                    const char* text = cell.value.text_value ? cell.value.text_value : "";
                    if (xlsx::isoDateToSerial(text, serial))
                        v = CellValue::fromDateTime(serial);
                    else
                        v = CellValue::fromString(sharedTextFromUtf8(text));
                    break;
                }
                default:
                    continue;
                }
                if (++total > kMaxWorkbookCells)
                    return fail(
                        QStringLiteral("单元格超过 %1 个，超出了能读入的上限").arg(kMaxWorkbookCells));
                sheet.cellAt(int32_t(r), c).value = std::move(v);
            }
        }
    }
    workbook = std::move(book);
    return Status::ok();
}

Status XlsFormat::write(const Workbook& workbook, const QString& path) const {
    // The .xls this program writes is XML Spreadsheet 2003 content (see the header).
    return XmlSpreadsheetFormat().write(workbook, path);
}

} // namespace quellar
