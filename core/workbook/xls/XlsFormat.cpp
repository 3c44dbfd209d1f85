#include "workbook/xls/XlsFormat.h"

#include "workbook/containers/CompoundFile.h"
#include "workbook/xls/BiffReader.h"
#include "workbook/xls/BiffWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quellar {

bool XlsFormat::recognizes(const QByteArray& head) const {
    return head.startsWith(QByteArrayLiteral("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"));
}

Status XlsFormat::readFrom(const RandomAccessBytes& source, Workbook& workbook) {
    workbook = Workbook();
    cfb::CompoundFile container;
    if (Status s = container.open(source); !s) return s;
    // Excel 97 and later name the stream "Workbook", Excel 5 and 95 "Book"; writers differ in case.
    int stream = container.findRootStream(u"Workbook");
    if (stream < 0) stream = container.findRootStream(u"Book");
    if (stream < 0) {
        if (container.findRootStream(u"EncryptedPackage") >= 0)
            return Status::invalidInput(xlsEncryptedMessage());
        return Status::invalidInput(QStringLiteral("找不到工作簿数据（这不是 Excel 工作簿，或者版本太旧）"));
    }
    std::unique_ptr<ByteStream> bytes;
    if (Status s = container.openStream(uint32_t(stream), bytes); !s) return s;
    Workbook book;
    if (Status s = biff::readWorkbookStream(*bytes, book); !s) return s;
    workbook = std::move(book);
    return Status::ok();
}

Status XlsFormat::read(const QString& path, Workbook& workbook) const {
    workbook = Workbook();
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists()) return Status::notFound(QStringLiteral("找不到文件“%1”").arg(shown));
    if (info.isDir()) return Status::invalidInput(QStringLiteral("“%1”是文件夹，不是文件").arg(shown));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::ioError(QStringLiteral("无法读取文件“%1”：%2").arg(shown, file.errorString()));
    if (file.size() == 0)
        return Status::invalidInput(QStringLiteral("文件“%1”：文件是空的（0 字节），不是工作簿").arg(shown));
    const FileBytes source(file);
    const Status status = readFrom(source, workbook);
    if (!status) {
        workbook = Workbook();
        if (status.code() == Status::Code::IoError && status.message() == QStringLiteral("读取文件失败"))
            return Status::ioError(QStringLiteral("无法读取文件“%1”：%2").arg(shown, file.errorString()));
        return status.withContext(QStringLiteral("文件“%1”").arg(shown));
    }
    return Status::ok();
}

Status XlsFormat::write(const Workbook& workbook, const QString& path) const {
    return biff::writeWorkbookFile(workbook, path);
}

} // namespace quellar
