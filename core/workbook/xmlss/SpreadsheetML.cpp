#include "workbook/xmlss/SpreadsheetML.h"

#include "workbook/xmlss/XMLTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QSysInfo>

#include <fast_float/fast_float.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <system_error>

namespace quellar::spreadsheetml {

namespace {

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

} // namespace

bool readNumber(std::string_view s, double& value) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    double v = 0;
    const auto result = fast_float::from_chars(s.data(), s.data() + s.size(), v);
    if (result.ec != std::errc() || result.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool hasLocalName(const QString& qualified, QStringView local) {
    const qsizetype colon = qualified.lastIndexOf(u':');
    return QStringView(qualified).mid(colon + 1) == local;
}

qint64 tagEnd(const QByteArray& bytes, qint64 start) {
    char quote = 0;
    for (qint64 i = start; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return -1;
}

void dropDeclaredEncoding(QString& text) {
    if (!text.startsWith(QLatin1String("<?xml"))) return;
    const qsizetype end = text.indexOf(QLatin1String("?>"));
    if (end < 0) return;
    static const QRegularExpression encoding(QStringLiteral("\\s+encoding\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
    QString declaration = text.left(end);
    declaration.remove(encoding);
    text.replace(0, end, declaration);
}

Result<QByteArray> readUtf8(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return Status::notFound(QStringLiteral("找不到工作文件 %1").arg(shownPath(path)));
    if (info.size() > XMLTools::kMaxDocumentBytes)
        return Status::invalidInput(QStringLiteral("工作文件 %1 太大（%2 字节），超过可读取的上限 %3 字节")
                                        .arg(shownPath(path))
                                        .arg(info.size())
                                        .arg(XMLTools::kMaxDocumentBytes));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::ioError(
            QStringLiteral("无法打开工作文件 %1：%2").arg(shownPath(path), file.errorString()));
    QByteArray bytes;
    if (!readRestOfFile(file, bytes))
        return Status::ioError(
            QStringLiteral("读取工作文件 %1 失败：%2").arg(shownPath(path), file.errorString()));

    if (bytes.startsWith("\xEF\xBB\xBF")) return bytes.mid(3);
    std::optional<QStringConverter::Encoding> encoding;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith(QByteArray("<\0", 2)))
        encoding = QStringConverter::Utf16LE;
    else if (bytes.startsWith("\xFE\xFF") || bytes.startsWith(QByteArray("\0<", 2)))
        encoding = QStringConverter::Utf16BE;
    QString text;
    if (encoding) {
        QStringDecoder decoder(*encoding);
        text = decoder.decode(bytes);
    } else {
        // A declaration may name another encoding (GBK, ...).
        const qsizetype end = bytes.startsWith("<?xml") ? bytes.indexOf("?>") : -1;
        static const QRegularExpression named(QStringLiteral("encoding\\s*=\\s*[\"']([^\"']+)[\"']"));
        const QRegularExpressionMatch m =
            named.match(QString::fromLatin1(bytes.left(std::max<qsizetype>(end, 0))));
        const QString name = m.hasMatch() ? m.captured(1) : QString();
        if (name.isEmpty() || name.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0) return bytes;
        QStringDecoder decoder(name.toLatin1().constData());
        if (!decoder.isValid())
            return Status::unsupported(
                QStringLiteral("工作文件 %1 使用了不认识的字符编码“%2”").arg(shownPath(path), name));
        text = decoder.decode(bytes);
    }
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    dropDeclaredEncoding(text);
    return text.toUtf8();
}

void appendUtf16(OutputFile& out, QStringView text) {
    if (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        out.append(std::string_view(reinterpret_cast<const char*>(text.utf16()), size_t(text.size()) * 2));
        return;
    }
    std::string bytes;
    bytes.reserve(size_t(text.size()) * 2);
    for (QChar c : text) {
        bytes.push_back(char(c.unicode() & 0xFF));
        bytes.push_back(char(c.unicode() >> 8));
    }
    out.append(bytes);
}

void appendUtf16(OutputFile& out, const QByteArray& utf8, qint64 begin, qint64 end) {
    // In slices, so a long stretch is never held twice over in memory.
    constexpr qint64 kSlice = 8 << 20;
    while (begin < end) {
        qint64 stop = std::min(end, begin + kSlice);
        while (stop < end && (uchar(utf8[stop]) & 0xC0) == 0x80) // not inside a character
            ++stop;
        appendUtf16(out, QString::fromUtf8(utf8.constData() + begin, stop - begin));
        begin = stop;
    }
}

QString tableTagWithCounts(const QByteArray& tag, int64_t rows, int columns) {
    QString text = QString::fromUtf8(tag);
    auto set = [&text](const QString& name, int64_t value, bool add, bool raiseOnly) {
        const QRegularExpression existing(QStringLiteral("\\b%1\\s*=\\s*(\"([^\"]*)\"|'([^']*)')").arg(name));
        const QString assignment = QStringLiteral("%1=\"%2\"").arg(name).arg(value);
        const QRegularExpressionMatch m = existing.match(text);
        if (m.hasMatch()) {
            const QString old = m.captured(2).isNull() ? m.captured(3) : m.captured(2);
            bool ok = false;
            const long long oldValue = old.trimmed().toLongLong(&ok);
            if (!raiseOnly || !ok || oldValue < value)
                text.replace(m.capturedStart(), m.capturedLength(), assignment);
        } else if (add) {
            const qsizetype close = text.endsWith(QLatin1String("/>")) ? text.size() - 2 : text.size() - 1;
            text.insert(close, u' ' + assignment);
        }
    };
    set(QStringLiteral("ss:ExpandedRowCount"), rows, true, false);
    set(QStringLiteral("ss:ExpandedColumnCount"), columns, false, true);
    return text;
}

qint64 ConcatenatedSource::read(char* buffer, qint64 max) {
    while (index_ < pieces_.size() && offset_ == pieces_[index_].size()) {
        ++index_;
        offset_ = 0;
    }
    if (index_ == pieces_.size()) return 0;
    const size_t n = std::min(size_t(max), pieces_[index_].size() - offset_);
    std::memcpy(buffer, pieces_[index_].data() + offset_, n);
    offset_ += n;
    return qint64(n);
}

} // namespace quellar::spreadsheetml
