#include "workbook/XlsFormat.h"

#include "base/CellOps.h"
#include "base/TextIO.h"
#include "workbook/XlsxFormat.h"
#include "workbook/XmlSpreadsheetFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <freexl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

// FreeXL runs in a child process: on some malformed files the library itself reads past its
// buffers, which no check on our side can prevent. The child sends what it read through a pipe
// as simple records, so such a fault ends the child, and the user gets a message instead of
// the program ending. Records (native byte order, same machine):
//   'S' u32 n, n bytes          a sheet named by n UTF-8 bytes
//   'N'/'D' u32 row, u16 col, f64   a number / a date-time serial
//   'T' u32 row, u16 col, u32 n, n bytes   a text
//   'F' u32 n, n bytes          the read failed for this reason
//   'Z'                         the end
class RecordWriter {
public:
    explicit RecordWriter(int fd)
        : fd_(fd) {}
    ~RecordWriter() { flush(); }
    template <typename T> void put(T value) {
        buffer_.append(reinterpret_cast<const char*>(&value), sizeof value);
        if (buffer_.size() > (1u << 16)) flush();
    }
    void bytes(const QByteArray& b) {
        put(uint32_t(b.size()));
        buffer_.append(b.constData(), size_t(b.size()));
        if (buffer_.size() > (1u << 16)) flush();
    }
    void flush() {
        size_t done = 0;
        while (done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break; // the parent went away; it reports the missing end itself
            done += size_t(n);
        }
        buffer_.clear();
    }

private:
    int fd_;
    std::string buffer_;
};

// The FreeXL part, run in the child. Returns after writing 'Z' or 'F'.
void readWithFreeXl(const QString& path, RecordWriter& out) {
    auto fail = [&](const QString& reason) {
        out.put('F');
        out.bytes(reason.toUtf8());
    };
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

    for (unsigned int s = 0; s < sheetCount; ++s) {
        const char* name = nullptr;
        if ((rc = freexl_get_worksheet_name(handle.h, s, &name)) != FREEXL_OK) return fail(reasonFor(rc));
        if ((rc = freexl_select_active_worksheet(handle.h, uint16_t(s))) != FREEXL_OK)
            return fail(reasonFor(rc));
        unsigned int rows = 0;
        unsigned short columns = 0;
        if ((rc = freexl_worksheet_dimensions(handle.h, &rows, &columns)) != FREEXL_OK)
            return fail(reasonFor(rc));
        const QString sheetName = name ? QString::fromUtf8(name) : QStringLiteral("Sheet%1").arg(s + 1);
        if (rows > unsigned(kMaxRows) || columns > kMaxColumns)
            return fail(QStringLiteral("工作表“%1”的大小记录超出了表格范围").arg(sheetName));
        out.put('S');
        out.bytes(sheetName.toUtf8());
        for (unsigned int r = 0; r < rows; ++r) {
            for (unsigned short c = 0; c < columns; ++c) {
                FreeXL_CellValue cell;
                if ((rc = freexl_get_cell_value(handle.h, r, c, &cell)) != FREEXL_OK)
                    return fail(QStringLiteral("工作表“%1”的单元格 %2：%3")
                                    .arg(sheetName, columnAddress(c + 1, int(r) + 1), reasonFor(rc)));
                auto number = [&](char tag, double v) {
                    out.put(tag);
                    out.put(uint32_t(r));
                    out.put(uint16_t(c));
                    out.put(v);
                };
                auto text = [&](const char* t) {
                    out.put('T');
                    out.put(uint32_t(r));
                    out.put(uint16_t(c));
                    out.bytes(QByteArray(t ? t : ""));
                };
                switch (cell.type) {
                case FREEXL_CELL_INT:
                    number('N', double(cell.value.int_value));
                    break;
                case FREEXL_CELL_DOUBLE:
                    number('N', cell.value.double_value);
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                    text(cell.value.text_value);
                    break;
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME: {
                    double serial = 0;
                    const char* t = cell.value.text_value ? cell.value.text_value : "";
                    if (xlsx::isoDateToSerial(t, serial))
                        number('D', serial);
                    else
                        text(t);
                    break;
                }
                default:
                    break;
                }
            }
        }
    }
    out.put('Z');
}

// Reads the child's records into a workbook. Returns false with a reason on a broken stream.
class RecordReader {
public:
    // Appends bytes and builds what is complete; false when the stream is malformed.
    bool feed(const char* data, size_t size, Workbook& book, QString& failure, bool& ended) {
        buffer_.append(data, size);
        for (;;) {
            const size_t start = at_;
            char tag = 0;
            if (!get(tag)) break;
            if (tag == 'Z') {
                ended = true;
                return true;
            }
            if (tag == 'S' || tag == 'F') {
                QByteArray bytes;
                if (!getBytes(bytes)) {
                    at_ = start;
                    break;
                }
                if (tag == 'F') {
                    failure = QString::fromUtf8(bytes);
                    ended = true;
                    return true;
                }
                book.sheets.emplace_back().name = QString::fromUtf8(bytes);
                continue;
            }
            uint32_t row = 0;
            uint16_t column = 0;
            if (!get(row) || !get(column)) {
                at_ = start;
                break;
            }
            CellValue v;
            if (tag == 'N' || tag == 'D') {
                double number = 0;
                if (!get(number)) {
                    at_ = start;
                    break;
                }
                v = tag == 'N' ? CellValue::fromNumber(number) : CellValue::fromDateTime(number);
            } else if (tag == 'T') {
                QByteArray bytes;
                if (!getBytes(bytes)) {
                    at_ = start;
                    break;
                }
                v = CellValue::fromString(
                    sharedTextFromUtf8(std::string_view(bytes.constData(), size_t(bytes.size()))));
            } else {
                return false;
            }
            if (book.sheets.empty() || row >= uint32_t(kMaxRows) || column >= kMaxColumns) return false;
            if (++cells_ > kMaxWorkbookCells) {
                failure = QStringLiteral("单元格超过 %1 个，超出了能读入的上限").arg(kMaxWorkbookCells);
                ended = true;
                return true;
            }
            book.sheets.back().cellAt(int32_t(row), column).value = std::move(v);
        }
        if (at_ > (1u << 20)) { // keep the unread tail only
            buffer_.erase(0, at_);
            at_ = 0;
        }
        return true;
    }

private:
    template <typename T> bool get(T& value) {
        if (buffer_.size() - at_ < sizeof value) return false;
        std::memcpy(&value, buffer_.data() + at_, sizeof value);
        at_ += sizeof value;
        return true;
    }
    bool getBytes(QByteArray& bytes) {
        uint32_t n = 0;
        const size_t start = at_;
        if (!get(n)) return false;
        if (buffer_.size() - at_ < n) {
            at_ = start;
            return false;
        }
        bytes = QByteArray(buffer_.data() + at_, qsizetype(n));
        at_ += n;
        return true;
    }

    std::string buffer_;
    size_t at_ = 0;
    int64_t cells_ = 0;
};

} // namespace

void (*xlsReaderChildHook)() = nullptr;

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

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return Status::ioError(
            QStringLiteral("无法读取文件“%1”：%2").arg(shown, QString::fromLocal8Bit(std::strerror(errno))));
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return Status::ioError(
            QStringLiteral("无法读取文件“%1”：%2").arg(shown, QString::fromLocal8Bit(std::strerror(error))));
    }
    if (child == 0) {
        ::close(fds[0]);
        if (xlsReaderChildHook) xlsReaderChildHook();
        {
            RecordWriter out(fds[1]);
            readWithFreeXl(path, out);
        }
        ::_exit(0); // no destructors or exit handlers of the parent's objects run here
    }
    ::close(fds[1]);

    Workbook book;
    RecordReader reader;
    QString failure;
    bool ended = false, broken = false;
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fds[0], chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (!ended && !broken && !reader.feed(chunk.data(), size_t(n), book, failure, ended)) broken = true;
        if (ended || broken) break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!failure.isEmpty()) return fail(failure);
    if (!ended || broken) {
        if (WIFSIGNALED(status))
            return fail(QStringLiteral("读取时 .xls 读取库异常终止（信号 %1），文件已损坏或被恶意构造")
                            .arg(WTERMSIG(status)));
        return fail(QStringLiteral("读取时 .xls 读取库异常终止，文件已损坏或被恶意构造"));
    }
    workbook = std::move(book);
    return Status::ok();
}

Status XlsFormat::write(const Workbook& workbook, const QString& path) const {
    // The .xls this program writes is XML Spreadsheet 2003 content (see the header).
    return XmlSpreadsheetFormat().write(workbook, path);
}

} // namespace quellar
