#include "workbook/ExcelDriver.h"

#include "workbook/PageBreaks.h"

#include "workbook/WorkbookFormat.h"

#include <QDir>
#include <QFileInfo>

namespace quellar {

FileKind fileKindForFormatCode(const QString& format) {
    if (format == u"46") return FileKind::XmlSpreadsheet;
    if (format == u"51") return FileKind::Xlsx;
    if (format == u"56" || format == u"1") return FileKind::Xls;
    return FileKind::Unknown;
}

Status refuseWritingOverSource(const QString& source, const QString& target) {
    const QFileInfo sourceInfo(source), targetInfo(target);
    // Sources are only ever read.
    if (sourceInfo.exists() && targetInfo.exists() &&
        sourceInfo.canonicalFilePath() == targetInfo.canonicalFilePath())
        return Status::invalidInput(
            QStringLiteral("目标文件“%1”就是源文件本身").arg(QDir::toNativeSeparators(target)));
    return Status::ok();
}

Status ConvertWorkbook(const QString& source, const QString& target, const QString& format,
                       Workbook* converted) {
    const FileKind kind = fileKindForFormatCode(format);
    if (kind == FileKind::Unknown)
        return Status::invalidInput(QStringLiteral("不认识的工作簿格式代码“%1”").arg(format));
    if (Status refused = refuseWritingOverSource(source, target); !refused.isOk()) return refused;

    Workbook book;
    Status status = readWorkbook(source, book);
    if (!status.isOk()) return status;
    status = writeWorkbook(book, target, kind);
    if (!status.isOk()) return status;
    if (converted) *converted = std::move(book);
    return Status::ok();
}

int FirstPageBreakRow(const QString& path, int sheetNumber) {
    const Result<int> row = firstPageBreakRow(path, sheetNumber);
    return row.isOk() ? row.value() : -1;
}

} // namespace quellar
