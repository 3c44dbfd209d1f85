#include "base/TextIO.h"

#include "base/Faults.h"
#include "base/Progress.h"

#include <QDir>
#include <QSysInfo>

#ifdef __linux__
#include <fcntl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace quellar {

OutputFile::OutputFile(const QString& path)
    : path_(path)
    , file_(path) {}

Status OutputFile::open() {
    // Write straight through to the temporary file, so that every failed write is seen here
    // (a write buffered inside QSaveFile and failing on commit would go unnoticed and leave an
    // empty file in place); the rename happens in commit().
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Status::ioError(
            QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path_), file_.errorString()));
    buffer_.reserve(kFlushSize + 64 * 1024);
    return Status::ok();
}

void OutputFile::writeAll(const char* data, size_t size) {
    // A short write is retried, so that a full disk ends in a failed write that says why.
    while (!failed_ && size > 0) {
        qint64 room = qint64(size);
        if (const int64_t limit = faults::writeLimit(); limit >= 0) {
            room = std::min<qint64>(room, std::max<qint64>(0, limit - written_));
            if (room == 0) {
                failed_ = true;
                reason_ = QString::fromLocal8Bit(std::strerror(ENOSPC));
                break;
            }
        }
        const qint64 written = file_.write(data, room);
        if (written <= 0) {
            failed_ = true;
            reason_ = file_.errorString();
            break;
        }
        data += written;
        size -= size_t(written);
        written_ += written;
    }
#ifdef __linux__
    // Start writing the file to disk while the rest is produced, so that the flush to disk when
    // committing has less left to wait for.
    if (written_ - synced_ >= kSyncStep) {
        file_.flush();
        ::sync_file_range(file_.handle(), synced_, written_ - synced_, SYNC_FILE_RANGE_WRITE);
        synced_ = written_;
    }
#endif
}

void OutputFile::flush() {
    // Every megabyte is a cancellation point: the temporary file goes with the OutputFile.
    cancellation::point();
    writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
}

Status OutputFile::commit() {
    flush();
    if (failed_ || !file_.commit()) {
        const QString reason = reason_.isEmpty() ? file_.errorString() : reason_;
        file_.cancelWriting();
        return Status::ioError(
            QStringLiteral("写入文件“%1”失败：%2").arg(QDir::toNativeSeparators(path_), reason));
    }
    return Status::ok();
}

void OutputFile::appendDirect(std::string_view bytes) {
    flush();
    writeAll(bytes.data(), bytes.size());
}

namespace {

// Which ASCII characters an escape mode has to look at (escape or drop); the rest are copied.
struct AsciiSpecials {
    bool special[128] = {};
};

constexpr AsciiSpecials asciiSpecials(TextEscape escape) {
    AsciiSpecials t;
    if (escape == TextEscape::None) return t;
    for (int c = 0; c < 0x20; ++c)
        t.special[c] = true;
    if (escape == TextEscape::Json) {
        t.special[int('"')] = t.special[int('\\')] = true;
        return t;
    }
    t.special[int('&')] = t.special[int('<')] = t.special[int('>')] = true;
    if (escape == TextEscape::XmlAttribute)
        t.special[int('"')] = true;
    else
        t.special[int('\t')] = false;
    return t;
}

template <TextEscape E> char* writeUtf8As(char* out, const char16_t* p, const char16_t* end) {
    static constexpr AsciiSpecials kSpecials = asciiSpecials(E);
    auto put = [&out](const char* s, size_t n) {
        std::memcpy(out, s, n);
        out += n;
    };
    while (p < end) {
        const char16_t c = *p++;
        if (c < 0x80) {
            if (!kSpecials.special[c]) {
                *out++ = char(c);
                continue;
            }
            if constexpr (E == TextEscape::Json) {
                switch (c) {
                case u'"':
                    put("\\\"", 2);
                    continue;
                case u'\\':
                    put("\\\\", 2);
                    continue;
                case u'\n':
                    put("\\n", 2);
                    continue;
                case u'\r':
                    put("\\r", 2);
                    continue;
                case u'\t':
                    put("\\t", 2);
                    continue;
                case u'\b':
                    put("\\b", 2);
                    continue;
                case u'\f':
                    put("\\f", 2);
                    continue;
                default: {
                    static const char hex[] = "0123456789abcdef";
                    put("\\u00", 4);
                    *out++ = hex[c >> 4];
                    *out++ = hex[c & 15];
                    continue;
                }
                }
            } else {
                switch (c) {
                case u'&':
                    put("&amp;", 5);
                    continue;
                case u'<':
                    put("&lt;", 4);
                    continue;
                case u'>':
                    put("&gt;", 4);
                    continue;
                case u'\n':
                    put("&#10;", 5);
                    continue;
                case u'\r':
                    put("&#13;", 5);
                    continue;
                case u'"':
                    put("&quot;", 6); // attributes only: text copies it
                    continue;
                case u'\t':
                    put("&#9;", 4); // attributes only
                    continue;
                default:
                    // XML 1.0 cannot carry other control characters, not even as references.
                    continue;
                }
            }
        }
        if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF) && c < 0xFFFE) { // most of the BMP: CJK
            out[0] = char(0xE0 | (c >> 12));
            out[1] = char(0x80 | ((c >> 6) & 0x3F));
            out[2] = char(0x80 | (c & 0x3F));
            out += 3;
            continue;
        }
        uint32_t code = c;
        if (c >= 0xD800 && c <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
            code = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(*p) - 0xDC00);
            ++p;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            code = 0xFFFD; // a lone surrogate has no UTF-8 form
        } else if ((c == 0xFFFE || c == 0xFFFF) && E != TextEscape::None && E != TextEscape::Json) {
            continue; // not XML characters
        }
        if (code < 0x800) {
            out[0] = char(0xC0 | (code >> 6));
            out[1] = char(0x80 | (code & 0x3F));
            out += 2;
        } else if (code < 0x10000) {
            out[0] = char(0xE0 | (code >> 12));
            out[1] = char(0x80 | ((code >> 6) & 0x3F));
            out[2] = char(0x80 | (code & 0x3F));
            out += 3;
        } else {
            out[0] = char(0xF0 | (code >> 18));
            out[1] = char(0x80 | ((code >> 12) & 0x3F));
            out[2] = char(0x80 | ((code >> 6) & 0x3F));
            out[3] = char(0x80 | (code & 0x3F));
            out += 4;
        }
    }
    return out;
}

} // namespace

char* writeUtf8(char* out, const char16_t* text, size_t size, TextEscape escape) {
    switch (escape) {
    case TextEscape::None:
        return writeUtf8As<TextEscape::None>(out, text, text + size);
    case TextEscape::XmlText:
        return writeUtf8As<TextEscape::XmlText>(out, text, text + size);
    case TextEscape::XmlAttribute:
        return writeUtf8As<TextEscape::XmlAttribute>(out, text, text + size);
    case TextEscape::Json:
        return writeUtf8As<TextEscape::Json>(out, text, text + size);
    }
    return out;
}

void appendUtf8(std::string& out, QStringView text, TextEscape escape) {
    // Converted through a stack buffer in pieces that keep surrogate pairs together.
    char buffer[4096];
    constexpr size_t kPiece = sizeof buffer / kUtf8BytesPerUnit;
    const char16_t* p = reinterpret_cast<const char16_t*>(text.data());
    size_t left = size_t(text.size());
    while (left > 0) {
        size_t take = std::min(left, kPiece);
        if (take < left && p[take - 1] >= 0xD800 && p[take - 1] <= 0xDBFF) --take;
        const char* end = writeUtf8(buffer, p, take, escape);
        out.append(buffer, size_t(end - buffer));
        p += take;
        left -= take;
    }
}

SharedText sharedTextFromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    char16_t small[256];
    std::u16string large;
    char16_t* out = small;
    if (utf8.size() > std::size(small)) {
        large.resize(utf8.size());
        out = large.data();
    }
    char16_t* const begin = out;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            *out++ = char16_t(c);
            ++p;
            continue;
        }
        uint32_t code = 0xFFFD;
        int extra = 0;
        uint32_t minimum = 0;
        if ((c & 0xE0) == 0xC0) {
            code = c & 0x1F;
            extra = 1;
            minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            code = c & 0x0F;
            extra = 2;
            minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            code = c & 0x07;
            extra = 3;
            minimum = 0x10000;
        }
        ++p;
        if (extra == 0) {
            *out++ = 0xFFFD;
            continue;
        }
        int i = 0;
        for (; i < extra && p < end && (*p & 0xC0) == 0x80; ++i, ++p)
            code = (code << 6) | (*p & 0x3F);
        if (i < extra || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            *out++ = 0xFFFD;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            *out++ = char16_t(0xD800 + (code >> 10));
            *out++ = char16_t(0xDC00 + (code & 0x3FF));
        } else {
            *out++ = char16_t(code);
        }
    }
    return SharedText(std::u16string_view(begin, size_t(out - begin)));
}

namespace {

// Below 2^39 neighbouring doubles lie less than 10^-4 apart.
constexpr double kFewDecimalsCeiling = 549755813888.0;

// Numbers with one to four decimals (amounts, prices, rates), the common case after whole
// numbers, without the general shortest-digits search; null for any other number. The
// decimal of decimalParts reads back as the value. Below kFewDecimalsCeiling no other text
// of k decimals does (they lie 10^-k apart, farther than the doubles), and none of fewer
// decimals either, as k is the smallest: it is the text std::to_chars gives.
char* writeFewDecimals(char* out, double value) {
    int64_t m = 0;
    int decimals = 0;
    if (!decimalParts(value, m, decimals) || decimals == 0) return nullptr;
    char digits[24];
    const int count = int(std::to_chars(digits, digits + sizeof digits, m < 0 ? -m : m).ptr - digits);
    if (digits[count - 1] == '0') return nullptr; // not the shortest: left to the general search
    if (value < 0) *out++ = '-';
    if (count <= decimals) { // 0.05
        *out++ = '0';
        *out++ = '.';
        for (int z = count; z < decimals; ++z)
            *out++ = '0';
        std::memcpy(out, digits, size_t(count));
        return out + count;
    }
    std::memcpy(out, digits, size_t(count - decimals));
    out += count - decimals;
    *out++ = '.';
    std::memcpy(out, digits + count - decimals, size_t(decimals));
    return out + decimals;
}

} // namespace

bool decimalParts(double value, int64_t& m, int& k) {
    constexpr double kExactIntegers = 9007199254740992.0; // 2^53
    if (!(std::fabs(value) < kExactIntegers)) return false;
    for (k = 0; k < 5; ++k) {
        const double scaled = std::nearbyint(value * kDecimalScales[k]);
        if (std::fabs(scaled) >= kExactIntegers) return false;
        if (scaled / kDecimalScales[k] == value) {
            m = int64_t(scaled);
            return true;
        }
    }
    return false;
}

char* writeShortestNumber(char* out, double value) {
    const double magnitude = std::fabs(value);
    if (magnitude >= kPositionalFloor && magnitude < kPositionalCeiling) {
        // Whole numbers below 2^53 (the common case) by integer conversion: their digits are
        // their own.
        if (magnitude < 9007199254740992.0) {
            const int64_t whole = int64_t(value);
            if (double(whole) == value) return std::to_chars(out, out + 32, whole).ptr;
        }
        if (magnitude < kFewDecimalsCeiling) {
            if (char* end = writeFewDecimals(out, value)) return end;
        }
        // At most 21 digits before the point, or 17 significant digits after "0.00000".
        return std::to_chars(out, out + 32, value, std::chars_format::fixed).ptr;
    }
    // Zero keeps its sign ("-0"); far from 1 the exponent form is the shorter one.
    return std::to_chars(out, out + 32, value).ptr;
}

std::string_view shortestNumberText(double value, char (&buffer)[32]) {
    return std::string_view(buffer, size_t(writeShortestNumber(buffer, value) - buffer));
}

bool readRestOfFile(QFile& file, QByteArray& bytes) {
    constexpr qint64 kPiece = 16 << 20;
    const qint64 size = std::max<qint64>(file.size() - file.pos(), 0);
    bytes.clear();
    bytes.resize(size); // not filled: every byte is read over
    qint64 done = 0;
    while (done < size) {
        cancellation::point();
        const qint64 got = file.read(bytes.data() + done, std::min(kPiece, size - done));
        if (got <= 0) break;
        done += got;
    }
    if (done != size || file.error() != QFileDevice::NoError) {
        bytes.clear();
        return false;
    }
    return true;
}

QByteArray encodeUtf16Text(const QString& text) {
    // Byte-order mark, the UTF-16 code units little-endian, then CR LF.
    QByteArray bytes(2 + text.size() * 2 + 4, Qt::Uninitialized);
    char* out = bytes.data();
    auto put = [&out](char16_t unit) {
        *out++ = char(unit & 0xFF);
        *out++ = char(unit >> 8);
    };
    put(0xFEFF);
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        std::memcpy(out, text.utf16(), size_t(text.size()) * 2);
        out += text.size() * 2;
    } else {
        for (QChar c : text)
            put(c.unicode());
    }
    put(u'\r');
    put(u'\n');
    return bytes;
}

Status writeUtf16TextFile(const QString& path, const QString& text) {
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    const QByteArray bytes = encodeUtf16Text(text);
    out.append(std::string_view(bytes.constData(), size_t(bytes.size())));
    return out.commit();
}

} // namespace quellar
