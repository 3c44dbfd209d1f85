#include "components/TextIO.h"

#include <QDir>

#include <charconv>
#include <cstring>

namespace quellar {

OutputFile::OutputFile(const QString& path)
    : path_(path)
    , file_(path) {}

Status OutputFile::open() {
    // Write straight through to the temporary file; the rename happens in commit().
    if (!file_.open(QIODevice::WriteOnly))
        return Status::ioError(
            QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path_), file_.errorString()));
    buffer_.reserve(kFlushSize + 64 * 1024);
    return Status::ok();
}

void OutputFile::flush() {
    if (!failed_ && !buffer_.empty()) {
        if (file_.write(buffer_.data(), qint64(buffer_.size())) != qint64(buffer_.size())) failed_ = true;
    }
    buffer_.clear();
}

Status OutputFile::commit() {
    flush();
    if (failed_ || !file_.commit()) {
        const QString reason = file_.errorString();
        file_.cancelWriting();
        return Status::ioError(
            QStringLiteral("写入文件“%1”失败：%2").arg(QDir::toNativeSeparators(path_), reason));
    }
    return Status::ok();
}

void appendUtf8(std::string& out, QStringView text, TextEscape escape) {
    const char16_t* p = reinterpret_cast<const char16_t*>(text.data());
    const char16_t* end = p + text.size();
    out.reserve(out.size() + size_t(text.size()) * 3);
    while (p < end) {
        const char16_t c = *p++;
        if (c < 0x80) {
            if (escape == TextEscape::None) {
                out.push_back(char(c));
                continue;
            }
            if (escape == TextEscape::Json) {
                switch (c) {
                case u'"':
                    out.append("\\\"");
                    continue;
                case u'\\':
                    out.append("\\\\");
                    continue;
                case u'\n':
                    out.append("\\n");
                    continue;
                case u'\r':
                    out.append("\\r");
                    continue;
                case u'\t':
                    out.append("\\t");
                    continue;
                case u'\b':
                    out.append("\\b");
                    continue;
                case u'\f':
                    out.append("\\f");
                    continue;
                default:
                    if (c < 0x20) {
                        static const char hex[] = "0123456789abcdef";
                        out.append("\\u00");
                        out.push_back(hex[c >> 4]);
                        out.push_back(hex[c & 15]);
                    } else {
                        out.push_back(char(c));
                    }
                    continue;
                }
            }
            // XML
            switch (c) {
            case u'&':
                out.append("&amp;");
                continue;
            case u'<':
                out.append("&lt;");
                continue;
            case u'>':
                out.append("&gt;");
                continue;
            case u'\n':
                out.append("&#10;");
                continue;
            case u'\r':
                out.append("&#13;");
                continue;
            case u'"':
                if (escape == TextEscape::XmlAttribute)
                    out.append("&quot;");
                else
                    out.push_back('"');
                continue;
            case u'\t':
                if (escape == TextEscape::XmlAttribute)
                    out.append("&#9;");
                else
                    out.push_back('\t');
                continue;
            default:
                // XML 1.0 cannot carry other control characters, not even as references.
                if (c >= 0x20) out.push_back(char(c));
                continue;
            }
        }
        uint32_t code = c;
        if (c >= 0xD800 && c <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
            code = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(*p) - 0xDC00);
            ++p;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            code = 0xFFFD; // a lone surrogate has no UTF-8 form
        } else if ((c == 0xFFFE || c == 0xFFFF) && escape != TextEscape::None && escape != TextEscape::Json) {
            continue; // not XML characters
        }
        if (code < 0x800) {
            out.push_back(char(0xC0 | (code >> 6)));
            out.push_back(char(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(char(0xE0 | (code >> 12)));
            out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(char(0x80 | (code & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (code >> 18)));
            out.push_back(char(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(char(0x80 | (code & 0x3F)));
        }
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

std::string_view shortestNumberText(double value, char (&buffer)[32]) {
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string_view(buffer, size_t(result.ptr - buffer));
}

} // namespace quellar
