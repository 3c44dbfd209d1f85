#include "workbook/WorkbookFormat.h"

#include "workbook/csv/CsvFormat.h"
#include "workbook/json/JsonTables.h"
#include "workbook/xls/XlsFormat.h"
#include "workbook/xlsx/XlsxFormat.h"
#include "workbook/xmlss/XmlSpreadsheetFormat.h"

#include "base/Faults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vector>

namespace quellar {

namespace {

// Every format the program knows. A new format plugs in by adding its object here.
const std::vector<std::unique_ptr<WorkbookFormat>>& registeredFormats() {
    static const std::vector<std::unique_ptr<WorkbookFormat>> formats = [] {
        std::vector<std::unique_ptr<WorkbookFormat>> list;
        list.push_back(std::make_unique<XmlSpreadsheetFormat>());
        list.push_back(std::make_unique<CsvFormat>());
        list.push_back(std::make_unique<JsonFormat>());
        list.push_back(std::make_unique<XlsxFormat>());
        list.push_back(std::make_unique<XlsFormat>());
        return list;
    }();
    return formats;
}

QString kindName(FileKind kind) {
    switch (kind) {
    case FileKind::Xlsx:
        return QStringLiteral("xlsx");
    case FileKind::Xls:
        return QStringLiteral("xls");
    case FileKind::XmlSpreadsheet:
        return QStringLiteral("XML 表格");
    case FileKind::Csv:
        return QStringLiteral("CSV");
    case FileKind::Json:
        return QStringLiteral("JSON");
    case FileKind::Unknown:
        break;
    }
    return QStringLiteral("未知");
}

// Looks like markup: the first non-blank character (after a byte-order mark) is "<".
bool looksLikeMarkup(const QByteArray& head) {
    qsizetype i = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const bool utf16 = head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF");
    if (utf16) i = 2;
    for (; i < head.size(); ++i) {
        const char c = head[i];
        if (c == '\0' && utf16) continue;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        return c == '<';
    }
    return false;
}

// The kind of a file by its first bytes.
FileKind sniffKind(const QByteArray& head) {
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06")) return FileKind::Xlsx;
    if (head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return FileKind::Xls;
    if (const WorkbookFormat* xml = formatFor(FileKind::XmlSpreadsheet); xml && xml->recognizes(head))
        return FileKind::XmlSpreadsheet;
    if (looksLikeMarkup(head)) return FileKind::Unknown;
    if (const WorkbookFormat* csv = formatFor(FileKind::Csv); csv && csv->recognizes(head))
        return FileKind::Csv;
    return FileKind::Unknown;
}

} // namespace

const WorkbookFormat* formatFor(FileKind kind) {
    for (const auto& format : registeredFormats())
        if (format->kind() == kind) return format.get();
    return nullptr;
}

FileKind fileKindForPath(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"xml") return FileKind::XmlSpreadsheet;
    if (suffix == u"xlsx" || suffix == u"xlsm") return FileKind::Xlsx;
    if (suffix == u"xls") return FileKind::Xls;
    if (suffix == u"csv") return FileKind::Csv;
    if (suffix == u"json") return FileKind::Json;
    return FileKind::Unknown;
}

Status WorkbookFormat::readTable(const QString& path, Workbook& workbook, SheetTableRequest& request) const {
    request.streamed = false;
    if (Status s = read(path, workbook); !s) return s;
    Result<int> chosen = request.choose(workbook);
    if (!chosen.isOk()) return chosen.status();
    request.sheet = chosen.value();
    return Status::ok();
}

Status readWorkbook(const QString& path, Workbook& workbook, SheetTableRequest* request) {
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return Status::notFound(QStringLiteral("找不到文件“%1”").arg(shown));
    if (info.isDir()) return Status::invalidInput(QStringLiteral("“%1”是文件夹，不是工作簿文件").arg(shown));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::ioError(QStringLiteral("无法读取文件“%1”：%2").arg(shown, file.errorString()));
    if (file.size() == 0)
        return Status::invalidInput(QStringLiteral("文件“%1”是空文件（0 字节），不是工作簿").arg(shown));
    const QByteArray head = file.read(64 * 1024);
    if (head.isEmpty())
        return Status::ioError(QStringLiteral("无法读取文件“%1”：%2").arg(shown, file.errorString()));
    file.close();

    FileKind kind = sniffKind(head);
    // JSON output is plain text too; it is never read back as CSV.
    if (kind == FileKind::Csv && fileKindForPath(path) == FileKind::Json) kind = FileKind::Json;
    if (kind == FileKind::Unknown) {
        if (looksLikeMarkup(head))
            return Status::invalidInput(
                QStringLiteral("文件“%1”是 XML 或 HTML 文本，但不是 XML 表格（XML Spreadsheet 2003）工作簿")
                    .arg(shown));
        return Status::invalidInput(
            QStringLiteral("无法识别文件“%1”的格式：不是 xlsx、xls、XML 表格或 CSV 文件").arg(shown));
    }
    const WorkbookFormat* format = formatFor(kind);
    if (kind == FileKind::Json)
        return Status::unsupported(QStringLiteral("不能读取文件“%1”：JSON 文件只用于输出结果").arg(shown));
    if (!format || !format->canRead())
        return Status::unsupported(
            QStringLiteral("文件“%1”是 %2 工作簿，%2 读取尚未实现").arg(shown, kindName(kind)));
    // Every reader ends here: an allocation failure or any other exception inside one becomes a
    // Status naming the file. The workbook is read beside the caller's, which takes it only when
    // the read is complete: a failed or cancelled read leaves the caller's workbook as it was,
    // and what was read so far goes with the reader.
    Workbook read;
    Status status;
    try {
        faults::allocationCheckpoint();
        status = request ? format->readTable(path, read, *request) : format->read(path, read);
    } catch (const std::bad_alloc&) {
        return Status::ioError(QStringLiteral("文件“%1”：内存不足，无法读入").arg(shown));
    } catch (const WorkCancelled&) {
        return Status::cancelled();
    } catch (...) {
        return currentExceptionStatus().withContext(QStringLiteral("文件“%1”").arg(shown));
    }
    // A cancellation is no failure of the file: no message names it.
    if (status.code() == Status::Code::Cancelled) return Status::cancelled();
    if (status.isOk()) workbook = std::move(read);
    return status;
}

Status writeWorkbook(const Workbook& workbook, const QString& path, FileKind kind) {
    const QString shown = QDir::toNativeSeparators(path);
    if (kind == FileKind::Unknown)
        return Status::invalidInput(
            QStringLiteral("无法从文件名“%1”判断要写出的格式（可用 .xlsx、.xls、.xml、.csv、.json）")
                .arg(shown));
    const WorkbookFormat* format = formatFor(kind);
    if (!format || !format->canWrite())
        return Status::unsupported(
            QStringLiteral("不能写出文件“%1”：%2 格式的写出尚未实现").arg(shown, kindName(kind)));
    // The writers build the file beside the target and rename it only when complete, so an
    // exception leaves no partial file; it becomes a Status naming the file.
    try {
        const Status status = format->write(workbook, path);
        return status.code() == Status::Code::Cancelled ? Status::cancelled() : status;
    } catch (const WorkCancelled&) {
        return Status::cancelled(); // no failure of the file: no message names it
    } catch (...) {
        return currentExceptionStatus().withContext(QStringLiteral("写入文件“%1”失败").arg(shown));
    }
}

} // namespace quellar
