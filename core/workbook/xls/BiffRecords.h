#pragma once
// The pieces BiffReader reads a workbook stream with: little-endian fields, RK numbers and
// error codes, records through a window of the stream's bytes, a record with its CONTINUE
// parts read field by field (texts whose characters run on into the next part), and BIFF5
// text in the file's code page. Private to the .xls reader.

#include "workbook/containers/CompoundFile.h"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quellar::biff {

constexpr uint16_t kContinueRecord = 0x003C;

inline uint16_t u16(const char* p) {
    return uint16_t(uint8_t(p[0]) | (uint8_t(p[1]) << 8));
}
inline uint32_t u32(const char* p) {
    return uint32_t(u16(p)) | (uint32_t(u16(p + 2)) << 16);
}
inline double f64(const char* p) {
    uint64_t bits = uint64_t(u32(p)) | (uint64_t(u32(p + 4)) << 32);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

inline double rkValue(uint32_t rk) {
    double d;
    if (rk & 2) {
        d = double(int32_t(rk) >> 2);
    } else {
        const uint64_t bits = uint64_t(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&d, &bits, 8);
    }
    if (rk & 1) d /= 100;
    return d;
}

inline QString errorText(uint8_t code) {
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    case 0x2A:
        return QStringLiteral("#N/A");
    case 0x2B:
        return QStringLiteral("#GETTING_DATA");
    default:
        return QStringLiteral("#N/A");
    }
}

// Sequential records of a stream, read through a window of the stream's bytes.
class Records {
public:
    explicit Records(ByteStream& stream)
        : stream_(stream) {}

    void seek(uint64_t position) { position_ = position; }
    uint64_t position() const { return position_; }
    bool failed() const { return stream_.failed(); }

    // The next record; false at the end of the stream or at a record cut short by it.
    bool next(uint16_t& type, std::string& data) {
        char header[4];
        if (!fetch(position_, header, 4)) return false;
        type = u16(header);
        const uint16_t length = u16(header + 2);
        data.resize(length);
        if (length > 0 && !fetch(position_ + 4, data.data(), length)) return false;
        position_ += 4 + uint64_t(length);
        return true;
    }
    // The type of the next record, without reading it.
    bool peek(uint16_t& type) {
        char header[4];
        if (!fetch(position_, header, 4)) return false;
        type = u16(header);
        return true;
    }
    // Appends the CONTINUE records that follow to `data`, noting where each begins.
    void continued(std::string& data, std::vector<size_t>& starts) {
        starts.clear();
        uint16_t type;
        std::string more;
        while (peek(type) && type == kContinueRecord) {
            if (!next(type, more)) break;
            starts.push_back(data.size());
            data += more;
        }
    }

private:
    bool fetch(uint64_t at, char* out, size_t n) {
        if (at >= windowStart_ && at + n <= windowStart_ + window_.size()) {
            std::memcpy(out, window_.data() + (at - windowStart_), n);
            return true;
        }
        if (n > kWindow / 2) return stream_.readAt(at, out, n) == n;
        window_.resize(kWindow);
        const size_t got = stream_.readAt(at, window_.data(), kWindow);
        window_.resize(got);
        windowStart_ = at;
        if (got < n) return false;
        std::memcpy(out, window_.data(), n);
        return true;
    }

    static constexpr size_t kWindow = size_t(1) << 16;
    ByteStream& stream_;
    uint64_t position_ = 0;
    std::vector<char> window_;
    uint64_t windowStart_ = 0;
};

// A record with its CONTINUE parts, read field by field: texts whose characters run on into
// the next part start that part with a fresh option byte.
class Cursor {
public:
    Cursor(const std::string& data, const std::vector<size_t>& starts, size_t at = 0)
        : data_(data)
        , starts_(starts)
        , at_(at) {
        while (next_ < starts_.size() && starts_[next_] <= at_)
            ++next_;
    }
    bool ok() const { return ok_; }
    size_t remaining() const { return at_ < data_.size() ? data_.size() - at_ : 0; }
    // End of the current part.
    size_t partEnd() const { return next_ < starts_.size() ? starts_[next_] : data_.size(); }

    uint8_t u8() {
        if (at_ >= data_.size()) {
            ok_ = false;
            return 0;
        }
        while (next_ < starts_.size() && starts_[next_] <= at_)
            ++next_;
        return uint8_t(data_[at_++]);
    }
    uint16_t u16() {
        const uint8_t a = u8();
        return uint16_t(a | (u8() << 8));
    }
    uint32_t u32() {
        const uint16_t a = u16();
        return uint32_t(a) | (uint32_t(u16()) << 16);
    }
    void skip(uint64_t n) {
        if (n > remaining()) {
            at_ = data_.size();
            ok_ = false;
        } else {
            at_ += size_t(n);
        }
        while (next_ < starts_.size() && starts_[next_] <= at_)
            ++next_;
    }
    // `count` characters, one or two bytes each as `wide` says, across parts.
    bool characters(uint32_t count, bool wide, std::u16string& out) {
        out.clear();
        bool first = true;
        while (out.size() < count) {
            if (!first || at_ == partEnd()) {
                if (at_ != partEnd() || at_ >= data_.size()) return ok_ = false;
                // A new part: its first byte gives the width of what follows.
                ++next_;
                wide = (uint8_t(data_[at_++]) & 1) != 0;
            }
            first = false;
            const size_t end = partEnd();
            const size_t available = end - at_;
            const size_t want = count - out.size();
            if (wide) {
                const size_t n = std::min(want, available / 2);
                if (n == 0 && available > 0) return ok_ = false;
                const size_t old = out.size();
                out.resize(old + n);
                for (size_t i = 0; i < n; ++i)
                    out[old + i] =
                        char16_t(uint8_t(data_[at_ + 2 * i]) | (uint8_t(data_[at_ + 2 * i + 1]) << 8));
                at_ += 2 * n;
            } else {
                const size_t n = std::min(want, available);
                const size_t old = out.size();
                out.resize(old + n);
                for (size_t i = 0; i < n; ++i)
                    out[old + i] = char16_t(uint8_t(data_[at_ + i]));
                at_ += n;
            }
            if (out.size() < count && at_ != partEnd()) return ok_ = false;
        }
        return true;
    }
    // Raw bytes of the current part onward (BIFF5 text).
    bool bytes(uint32_t count, std::string& out) {
        if (count > remaining()) return ok_ = false;
        out.assign(data_.data() + at_, count);
        skip(count);
        return true;
    }

private:
    const std::string& data_;
    const std::vector<size_t>& starts_;
    size_t at_;
    size_t next_ = 0;
    bool ok_ = true;
};

// Text in the code page of a BIFF5 file.
class CodePage {
public:
    void set(uint16_t codePage) {
        decoder_.reset();
        cp1252_ = false;
        const char* name = nullptr;
        switch (codePage) {
        case 367:
        case 20127:
            name = "US-ASCII";
            break;
        case 874:
            name = "windows-874";
            break;
        case 932:
            name = "Shift_JIS";
            break;
        case 936:
            name = "GBK";
            break;
        case 949:
            name = "windows-949";
            break;
        case 950:
            name = "Big5";
            break;
        case 1250:
        case 1251:
        case 1253:
        case 1254:
        case 1255:
        case 1256:
        case 1257:
        case 1258:
            name = nullptr;
            named_ = QStringLiteral("windows-%1").arg(codePage).toLatin1();
            name = named_.constData();
            break;
        case 10000:
        case 32768:
            name = "macintosh";
            break;
        case 1200: // UTF-16: BIFF8's marker; a BIFF5 file that claims it has single bytes anyway
        case 1252:
        case 32769:
        default:
            if (codePage >= 437 && codePage <= 869 && codePage != 367) {
                named_ = QStringLiteral("IBM%1").arg(codePage).toLatin1();
                name = named_.constData();
            }
            break;
        }
        if (name) {
            decoder_ = std::make_unique<QStringDecoder>(name, QStringConverter::Flag::Stateless);
            if (!decoder_->isValid()) decoder_.reset();
        }
        if (!decoder_) cp1252_ = true;
    }

    std::u16string decode(const std::string& bytes) const {
        std::u16string out;
        if (cp1252_ || !decoder_) {
            static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                              0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                              0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                              0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
            out.resize(bytes.size());
            for (size_t i = 0; i < bytes.size(); ++i) {
                const uint8_t c = uint8_t(bytes[i]);
                out[i] = c >= 0x80 && c < 0xA0 ? high[c - 0x80] : char16_t(c);
            }
            return out;
        }
        const QString text = decoder_->decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
    }

    CodePage() { set(1252); }

private:
    std::unique_ptr<QStringDecoder> decoder_;
    QByteArray named_;
    bool cp1252_ = true;
};

} // namespace quellar::biff
