#include "workbook/containers/XmlScanner.h"

#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <optional>

namespace quellar {

// ---------------------------------------------------------------------------------------------
// Byte sources

Status FileByteSource::open(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return Status::notFound(QStringLiteral("找不到文件“%1”").arg(path));
    if (info.isDir()) return Status::invalidInput(QStringLiteral("“%1”是文件夹，不是文件").arg(path));
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly))
        return Status::ioError(QStringLiteral("无法读取文件“%1”：%2").arg(path, file_.errorString()));
    return Status::ok();
}

qint64 FileByteSource::read(char* buffer, qint64 max) {
    return file_.read(buffer, max);
}

qint64 MemoryByteSource::read(char* buffer, qint64 max) {
    const size_t n = std::min(size_t(max), data_.size() - position_);
    if (n) std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return qint64(n);
}

namespace {

// Turns another encoding into UTF-8, chunk by chunk; `prefix` holds bytes already taken
// from the inner source.
class TranscodingSource final : public ByteSource {
public:
    TranscodingSource(ByteSource& inner, QByteArray prefix, QStringDecoder decoder)
        : inner_(inner)
        , prefix_(std::move(prefix))
        , decoder_(std::move(decoder)) {}

    qint64 read(char* buffer, qint64 max) override {
        while (position_ >= out_.size()) {
            if (done_) return 0;
            QByteArray raw;
            if (!prefix_.isEmpty()) {
                raw.swap(prefix_);
            } else {
                raw.resize(64 * 1024);
                const qint64 n = inner_.read(raw.data(), raw.size());
                if (n < 0) return -1;
                if (n == 0) {
                    done_ = true;
                    return 0;
                }
                raw.resize(n);
            }
            const QString text = decoder_(raw);
            out_ = text.toUtf8();
            position_ = 0;
        }
        const qint64 n = std::min<qint64>(max, out_.size() - position_);
        std::memcpy(buffer, out_.constData() + position_, size_t(n));
        position_ += n;
        return n;
    }
    QString errorString() const override { return inner_.errorString(); }

private:
    ByteSource& inner_;
    QByteArray prefix_;
    QStringDecoder decoder_;
    QByteArray out_;
    qsizetype position_ = 0;
    bool done_ = false;
};

// Character classes of names, by byte; any byte of a multi-byte UTF-8 sequence is allowed.
struct NameTable {
    bool start[256] = {};
    bool part[256] = {};
    constexpr NameTable() {
        for (int c = 0; c < 256; ++c) {
            const bool letter =
                (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
            start[c] = letter;
            part[c] = letter || (c >= '0' && c <= '9') || c == '-' || c == '.';
        }
    }
};
constexpr NameTable kNames;

inline bool isNameStart(char c) {
    return kNames.start[static_cast<unsigned char>(c)];
}
inline bool isNameChar(char c) {
    return kNames.part[static_cast<unsigned char>(c)];
}
inline bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

std::string_view localPart(std::string_view name) {
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first occurrence of `needle` in [begin, end), or nullptr.
const char* findSequence(const char* begin, const char* end, std::string_view needle) {
    while (begin + needle.size() <= end) {
        const char* hit = static_cast<const char*>(std::memchr(begin, needle[0], size_t(end - begin)));
        if (!hit || hit + needle.size() > end) return nullptr;
        if (std::memcmp(hit, needle.data(), needle.size()) == 0) return hit;
        begin = hit + 1;
    }
    return nullptr;
}

bool isXmlChar(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

QString shown(std::string_view text, size_t max = 40) {
    QString s = QString::fromUtf8(text.data(), qsizetype(std::min(text.size(), max)));
    if (text.size() > max) s += QStringLiteral("…");
    return s;
}

constexpr size_t kInitialBuffer = 1 << 20;

// Newlines in [begin, end), found by memchr: a sheet part has few or none, and this runs over
// every byte scanned.
qint64 countNewlines(const char* begin, const char* end) {
    qint64 n = 0;
    while (begin < end) {
        const char* hit = static_cast<const char*>(std::memchr(begin, '\n', size_t(end - begin)));
        if (!hit) break;
        ++n;
        begin = hit + 1;
    }
    return n;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Scanner

XmlScanner::XmlScanner(ByteSource& source, XmlLimits limits)
    : source_(&source)
    , limits_(limits) {}

XmlScanner::~XmlScanner() = default;

const XmlAttribute* XmlScanner::attribute(std::string_view localName) const {
    for (const XmlAttribute& a : attributes_)
        if (a.localName == localName) return &a;
    return nullptr;
}

qint64 XmlScanner::offset() const {
    return bufferBase_ + qint64(tokenStart_);
}

qint64 XmlScanner::line() const {
    return lineAt(tokenStart_);
}

qint64 XmlScanner::lineAt(size_t position) const {
    const char* b = buffer_.get();
    return linesBefore_ + countNewlines(b, b + std::min(position, end_)) + 1;
}

bool XmlScanner::fail(const QString& message, size_t at) {
    if (token_ == Token::Error) return false;
    status_ = Status::invalidInput(QStringLiteral("XML 第 %1 行（字节偏移 %2）：%3")
                                       .arg(lineAt(at))
                                       .arg(bufferBase_ + qint64(std::min(at, end_)))
                                       .arg(message));
    token_ = Token::Error;
    return false;
}

bool XmlScanner::fail(const QString& message, const char* at) {
    return fail(message, size_t(at - buffer_.get()));
}

bool XmlScanner::refill(size_t keepFrom) {
    char* b = buffer_.get();
    if (keepFrom > 0) {
        linesBefore_ += countNewlines(b, b + keepFrom);
        std::memmove(b, b + keepFrom, end_ - keepFrom);
        bufferBase_ += qint64(keepFrom);
        end_ -= keepFrom;
        position_ -= std::min(position_, keepFrom);
        tokenStart_ -= std::min(tokenStart_, keepFrom);
    }
    if (end_ == capacity_) {
        // One token fills the whole buffer: grow, within the token limit.
        const size_t limit = size_t(limits_.maxTokenLength) + 64 * 1024;
        if (capacity_ >= limit)
            return fail(QStringLiteral("单个标记或文本超过 %1 MB 的上限").arg(limits_.maxTokenLength >> 20),
                        size_t(0));
        const size_t grown = std::min(capacity_ * 2, limit);
        std::unique_ptr<char[]> bigger(new char[grown]);
        std::memcpy(bigger.get(), b, end_);
        buffer_ = std::move(bigger);
        capacity_ = grown;
    }
    // Fill the buffer completely, so a token met again after a refill has room to finish.
    while (end_ < capacity_ && !eof_) {
        const qint64 n = source_->read(buffer_.get() + end_, qint64(capacity_ - end_));
        if (n < 0) {
            sourceFailed_ = true;
            return fail(QStringLiteral("读取失败：%1").arg(source_->errorString()), end_);
        }
        if (n == 0) eof_ = true;
        end_ += size_t(n);
    }
    return true;
}

bool XmlScanner::start() {
    started_ = true;
    capacity_ = kInitialBuffer;
    buffer_.reset(new char[capacity_]);
    if (!refill(0)) return false;
    const auto* u = reinterpret_cast<const unsigned char*>(buffer_.get());
    const size_t n = end_;
    auto at = [&](size_t i) { return i < n ? int(u[i]) : -1; };

    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        position_ = contentStart_ = 3;
        return true;
    }
    if ((at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0) ||
        (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF))
        return fail(QStringLiteral("不支持 UTF-32 编码的文件"), size_t(0));

    std::optional<QStringDecoder::Encoding> utf16;
    size_t skip = 0;
    if (at(0) == 0xFF && at(1) == 0xFE) {
        utf16 = QStringDecoder::Utf16LE;
        skip = 2;
    } else if (at(0) == 0xFE && at(1) == 0xFF) {
        utf16 = QStringDecoder::Utf16BE;
        skip = 2;
    } else if (at(0) == '<' && at(1) == 0) {
        utf16 = QStringDecoder::Utf16LE;
    } else if (at(0) == 0 && at(1) == '<') {
        utf16 = QStringDecoder::Utf16BE;
    }
    if (utf16) {
        QByteArray prefix(buffer_.get() + skip, qsizetype(n - skip));
        transcoder_ =
            std::make_unique<TranscodingSource>(*source_, std::move(prefix), QStringDecoder(*utf16));
        source_ = transcoder_.get();
        transcoded_ = true;
        end_ = position_ = 0;
        eof_ = false;
        return refill(0);
    }
    return true;
}

XmlScanner::Token XmlScanner::next() {
    if (token_ == Token::EndDocument || token_ == Token::Error) return token_;
    if (!started_ && !start()) return token_;
    if (pendingEnd_) {
        // The end of an empty element: its name views are still valid, nothing was read.
        pendingEnd_ = false;
        emptyElement_ = false;
        attributes_.clear();
        names_.resize(nameOffsets_.back());
        nameOffsets_.pop_back();
        if (nameOffsets_.empty()) rootClosed_ = true;
        token_ = Token::EndElement;
        return token_;
    }
    for (;;) {
        tokenStart_ = position_;
        if (position_ >= end_) {
            if (!eof_) {
                if (!refill(position_)) return token_;
                continue;
            }
            finishDocument();
            return token_;
        }
        const Parse result = buffer_[position_] == '<' ? parseMarkup(position_) : parseText(position_);
        switch (result) {
        case Parse::Done:
            return token_;
        case Parse::Skip:
            continue;
        case Parse::Failed:
            return token_;
        case Parse::NeedMore:
            if (eof_) {
                fail(QStringLiteral("文件不完整：内容在文件末尾中断（文件可能被截断）"), tokenStart_);
                return token_;
            }
            if (!refill(tokenStart_)) return token_;
            position_ = tokenStart_;
            break;
        }
    }
}

std::string_view XmlScanner::pending(size_t want) {
    if (token_ == Token::EndDocument || token_ == Token::Error || !started_ || pendingEnd_) return {};
    if (end_ - position_ < want && !eof_) {
        tokenStart_ = position_;
        if (!refill(position_)) return {};
    }
    return std::string_view(buffer_.get() + position_, end_ - position_);
}

void XmlScanner::consume(size_t n) {
    position_ += std::min(n, end_ - position_);
    tokenStart_ = position_;
}

bool XmlScanner::finishDocument() {
    if (!nameOffsets_.empty()) {
        const std::string_view open(names_.data() + nameOffsets_.back(), names_.size() - nameOffsets_.back());
        return fail(QStringLiteral("文件不完整：元素 <%1> 没有结束（文件可能被截断）").arg(shown(open)),
                    end_);
    }
    if (!rootSeen_) return fail(QStringLiteral("没有任何 XML 元素（文件为空或不是 XML 文件）"), end_);
    token_ = Token::EndDocument;
    return true;
}

XmlScanner::Parse XmlScanner::parseText(size_t at) {
    const char* b = buffer_.get() + at;
    const char* e = buffer_.get() + end_;
    const char* lt = static_cast<const char*>(std::memchr(b, '<', size_t(e - b)));
    if (!lt) {
        if (!eof_) return Parse::NeedMore;
        lt = e;
    }
    if (nameOffsets_.empty()) {
        for (const char* p = b; p < lt; ++p)
            if (!isSpace(*p)) {
                fail(QStringLiteral("文档元素之外不能有文本"), p);
                return Parse::Failed;
            }
        position_ = size_t(lt - buffer_.get());
        return Parse::Skip;
    }
    if (lt == e) return Parse::NeedMore; // the document ends inside an element
    const size_t length = size_t(lt - b);
    if (std::memchr(b, '&', length) || std::memchr(b, '\r', length)) {
        textScratch_.clear();
        if (!decode(b, lt, textScratch_, false)) return Parse::Failed;
        text_ = textScratch_;
    } else {
        text_ = std::string_view(b, length);
    }
    token_ = Token::Text;
    position_ = size_t(lt - buffer_.get());
    return Parse::Done;
}

XmlScanner::Parse XmlScanner::parseMarkup(size_t at) {
    const char* b = buffer_.get() + at;
    const char* e = buffer_.get() + end_;
    if (e - b < 2) return Parse::NeedMore;
    const char kind = b[1];
    if (kind == '/') return parseEndTag(at);
    if (kind == '?') {
        const char* close = findSequence(b + 2, e, "?>");
        if (!close) return Parse::NeedMore;
        const std::string_view target(b + 2, size_t(close - b - 2));
        const bool declaration =
            target.size() >= 3 && target.substr(0, 3) == "xml" && (target.size() == 3 || isSpace(target[3]));
        if (declaration) {
            if (bufferBase_ + qint64(at) != qint64(contentStart_) || rootSeen_) {
                fail(QStringLiteral("XML 声明只能出现在文件开头"), b);
                return Parse::Failed;
            }
            const size_t after = size_t(close + 2 - buffer_.get());
            return parseDeclaration(at, after);
        }
        position_ = size_t(close + 2 - buffer_.get());
        return Parse::Skip;
    }
    if (kind == '!') {
        if (e - b < 9 && !eof_) return Parse::NeedMore;
        const std::string_view head(b, size_t(std::min<ptrdiff_t>(e - b, 9)));
        if (head.substr(0, 4) == "<!--") {
            const char* close = findSequence(b + 4, e, "-->");
            if (!close) return Parse::NeedMore;
            position_ = size_t(close + 3 - buffer_.get());
            return Parse::Skip;
        }
        if (head == "<![CDATA[") {
            if (nameOffsets_.empty()) {
                fail(QStringLiteral("文档元素之外不能有 CDATA 段"), b);
                return Parse::Failed;
            }
            const char* close = findSequence(b + 9, e, "]]>");
            if (!close) return Parse::NeedMore;
            const char* s = b + 9;
            if (std::memchr(s, '\r', size_t(close - s))) {
                textScratch_.clear();
                textScratch_.reserve(size_t(close - s));
                for (const char* p = s; p < close; ++p) {
                    if (*p == '\r') {
                        textScratch_.push_back('\n');
                        if (p + 1 < close && p[1] == '\n') ++p;
                    } else {
                        textScratch_.push_back(*p);
                    }
                }
                text_ = textScratch_;
            } else {
                text_ = std::string_view(s, size_t(close - s));
            }
            token_ = Token::Text;
            position_ = size_t(close + 3 - buffer_.get());
            return Parse::Done;
        }
        QString upper = QString::fromLatin1(head.data(), qsizetype(head.size())).toUpper();
        if (upper.startsWith(QStringLiteral("<!DOCTYPE"))) {
            fail(QStringLiteral("文件含 DOCTYPE（文档类型定义）。为安全起见，不读取带 DTD 的 XML："
                                "不展开实体，也不访问外部资源"),
                 b);
            return Parse::Failed;
        }
        fail(QStringLiteral("无法识别的标记“%1”").arg(shown(head)), b);
        return Parse::Failed;
    }
    return parseStartTag(at);
}

XmlScanner::Parse XmlScanner::parseDeclaration(size_t at, size_t after) {
    const std::string_view decl(buffer_.get() + at, after - at);
    const size_t key = decl.find("encoding");
    position_ = after;
    if (key == std::string_view::npos || transcoded_) return Parse::Skip;
    size_t p = key + 8;
    while (p < decl.size() && isSpace(decl[p]))
        ++p;
    if (p >= decl.size() || decl[p] != '=') return Parse::Skip;
    ++p;
    while (p < decl.size() && isSpace(decl[p]))
        ++p;
    if (p >= decl.size() || (decl[p] != '"' && decl[p] != '\'')) return Parse::Skip;
    const size_t close = decl.find(decl[p], p + 1);
    if (close == std::string_view::npos) return Parse::Skip;
    const QByteArray declared = QByteArray(decl.data() + p + 1, qsizetype(close - p - 1)).trimmed();
    const QByteArray name = declared.toLower();
    if (name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii") return Parse::Skip;
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid()) {
        fail(QStringLiteral("不支持的字符编码“%1”").arg(QString::fromLatin1(declared)), at);
        return Parse::Failed;
    }
    // The rest of the stream is in that encoding: pass it through a decoder.
    QByteArray rest(buffer_.get() + after, qsizetype(end_ - after));
    transcoder_ = std::make_unique<TranscodingSource>(*source_, std::move(rest), std::move(decoder));
    source_ = transcoder_.get();
    transcoded_ = true;
    end_ = after;
    eof_ = false;
    return Parse::Skip;
}

XmlScanner::Parse XmlScanner::parseStartTag(size_t at) {
    const char* b = buffer_.get() + at;
    const char* e = buffer_.get() + end_;
    const char* p = b + 1;
    if (!isNameStart(*p)) {
        fail(QStringLiteral("“<”后不是有效的元素名"), p);
        return Parse::Failed;
    }
    const char* n0 = p;
    while (p < e && isNameChar(*p))
        ++p;
    if (p == e) return Parse::NeedMore;
    if (p - n0 > limits_.maxNameLength) {
        fail(QStringLiteral("元素名超过 %1 字节的上限").arg(limits_.maxNameLength), n0);
        return Parse::Failed;
    }
    const std::string_view name(n0, size_t(p - n0));

    attributes_.clear();
    attributeSlots_.clear();
    attributeScratch_.clear();
    bool empty = false;
    for (;;) {
        bool space = false;
        while (p < e && isSpace(*p)) {
            ++p;
            space = true;
        }
        if (p == e) return Parse::NeedMore;
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (p + 1 == e) return Parse::NeedMore;
            if (p[1] != '>') {
                fail(QStringLiteral("元素 <%1> 中“/”后应为“>”").arg(shown(name)), p);
                return Parse::Failed;
            }
            p += 2;
            empty = true;
            break;
        }
        if (!space || !isNameStart(*p)) {
            fail(QStringLiteral("元素 <%1> 的属性写法有误").arg(shown(name)), p);
            return Parse::Failed;
        }
        const char* a0 = p;
        while (p < e && isNameChar(*p))
            ++p;
        if (p == e) return Parse::NeedMore;
        if (p - a0 > limits_.maxNameLength) {
            fail(QStringLiteral("属性名超过 %1 字节的上限").arg(limits_.maxNameLength), a0);
            return Parse::Failed;
        }
        const std::string_view attributeName(a0, size_t(p - a0));
        while (p < e && isSpace(*p))
            ++p;
        if (p == e) return Parse::NeedMore;
        if (*p != '=') {
            fail(QStringLiteral("属性 %1 缺少“=”").arg(shown(attributeName)), p);
            return Parse::Failed;
        }
        ++p;
        while (p < e && isSpace(*p))
            ++p;
        if (p == e) return Parse::NeedMore;
        const char quote = *p;
        if (quote != '"' && quote != '\'') {
            fail(QStringLiteral("属性 %1 的值缺少引号").arg(shown(attributeName)), p);
            return Parse::Failed;
        }
        const char* v0 = ++p;
        const char* v1 = static_cast<const char*>(std::memchr(v0, quote, size_t(e - v0)));
        if (!v1) return Parse::NeedMore;
        bool special = false;
        for (const char* q = v0; q < v1; ++q) {
            const char c = *q;
            if (c == '<') {
                fail(QStringLiteral("属性 %1 的值中不能有“<”").arg(shown(attributeName)), q);
                return Parse::Failed;
            }
            special |= (c == '&' || c == '\n' || c == '\r' || c == '\t');
        }
        if (int(attributes_.size()) >= limits_.maxAttributes) {
            fail(QStringLiteral("元素 <%1> 的属性超过 %2 个的上限")
                     .arg(shown(name))
                     .arg(limits_.maxAttributes),
                 a0);
            return Parse::Failed;
        }
        if (special) {
            const size_t offset = attributeScratch_.size();
            if (!decode(v0, v1, attributeScratch_, true)) return Parse::Failed;
            attributeSlots_.push_back(offset);
            attributes_.push_back({attributeName, localPart(attributeName),
                                   std::string_view(nullptr, attributeScratch_.size() - offset)});
        } else {
            attributeSlots_.push_back(std::string::npos);
            attributes_.push_back(
                {attributeName, localPart(attributeName), std::string_view(v0, size_t(v1 - v0))});
        }
        p = v1 + 1;
    }

    if (depth() >= limits_.maxDepth) {
        fail(QStringLiteral("元素嵌套超过 %1 层的上限").arg(limits_.maxDepth), b);
        return Parse::Failed;
    }
    if (nameOffsets_.empty()) {
        if (rootClosed_) {
            fail(QStringLiteral("文档元素之后又出现元素 <%1>").arg(shown(name)), b);
            return Parse::Failed;
        }
        rootSeen_ = true;
    }
    // Decoded values live in the scratch string, which no longer moves.
    for (size_t i = 0; i < attributes_.size(); ++i)
        if (attributeSlots_[i] != std::string::npos)
            attributes_[i].value =
                std::string_view(attributeScratch_.data() + attributeSlots_[i], attributes_[i].value.size());
    // Attribute names must be unique.
    const size_t count = attributes_.size();
    if (count > 1) {
        bool duplicate = false;
        std::string_view which;
        if (count <= 16) {
            for (size_t i = 1; i < count && !duplicate; ++i)
                for (size_t j = 0; j < i; ++j)
                    if (attributes_[i].qualifiedName == attributes_[j].qualifiedName) {
                        duplicate = true;
                        which = attributes_[i].qualifiedName;
                        break;
                    }
        } else {
            std::vector<std::string_view> sorted;
            sorted.reserve(count);
            for (const XmlAttribute& a : attributes_)
                sorted.push_back(a.qualifiedName);
            std::sort(sorted.begin(), sorted.end());
            const auto it = std::adjacent_find(sorted.begin(), sorted.end());
            if (it != sorted.end()) {
                duplicate = true;
                which = *it;
            }
        }
        if (duplicate) {
            fail(QStringLiteral("元素 <%1> 的属性 %2 重复").arg(shown(name), shown(which)), b);
            return Parse::Failed;
        }
    }

    nameOffsets_.push_back(uint32_t(names_.size()));
    names_.append(name);
    qualifiedName_ = name;
    localName_ = localPart(name);
    emptyElement_ = empty;
    pendingEnd_ = empty;
    token_ = Token::StartElement;
    position_ = size_t(p - buffer_.get());
    return Parse::Done;
}

XmlScanner::Parse XmlScanner::parseEndTag(size_t at) {
    const char* b = buffer_.get() + at;
    const char* e = buffer_.get() + end_;
    const char* gt = static_cast<const char*>(std::memchr(b + 2, '>', size_t(e - b - 2)));
    if (!gt) {
        if (e - b > limits_.maxNameLength + 1024) {
            fail(QStringLiteral("结束标记没有“>”"), b);
            return Parse::Failed;
        }
        return Parse::NeedMore;
    }
    const char* n0 = b + 2;
    const char* n1 = n0;
    while (n1 < gt && isNameChar(*n1))
        ++n1;
    for (const char* q = n1; q < gt; ++q)
        if (!isSpace(*q)) {
            fail(QStringLiteral("结束标记写法有误"), q);
            return Parse::Failed;
        }
    const std::string_view name(n0, size_t(n1 - n0));
    if (nameOffsets_.empty()) {
        fail(QStringLiteral("多余的结束标记 </%1>").arg(shown(name)), b);
        return Parse::Failed;
    }
    const std::string_view open(names_.data() + nameOffsets_.back(), names_.size() - nameOffsets_.back());
    if (name != open) {
        fail(QStringLiteral("结束标记 </%1> 与开始标记 <%2> 不匹配").arg(shown(name), shown(open)), b);
        return Parse::Failed;
    }
    names_.resize(nameOffsets_.back());
    nameOffsets_.pop_back();
    if (nameOffsets_.empty()) rootClosed_ = true;
    qualifiedName_ = name;
    localName_ = localPart(name);
    emptyElement_ = false;
    attributes_.clear();
    token_ = Token::EndElement;
    position_ = size_t(gt + 1 - buffer_.get());
    return Parse::Done;
}

bool XmlScanner::decode(const char* begin, const char* end, std::string& out, bool attribute) {
    out.reserve(out.size() + size_t(end - begin));
    const char* p = begin;
    while (p < end) {
        const char* run = p;
        while (p < end && *p != '&' && *p != '\r' && !(attribute && (*p == '\n' || *p == '\t')))
            ++p;
        out.append(run, size_t(p - run));
        if (p == end) break;
        const char c = *p;
        if (c == '\r') {
            out.push_back(attribute ? ' ' : '\n');
            ++p;
            if (p < end && *p == '\n') ++p;
            continue;
        }
        if (c != '&') {
            out.push_back(' ');
            ++p;
            continue;
        }
        const char* limit = std::min(end, p + 40);
        const char* semi = static_cast<const char*>(std::memchr(p, ';', size_t(limit - p)));
        if (!semi) return fail(QStringLiteral("“&”后缺少以“;”结束的实体引用（文本中的“&”须写作 &amp;）"), p);
        const std::string_view ref(p + 1, size_t(semi - p - 1));
        if (!ref.empty() && ref[0] == '#') {
            uint32_t value = 0;
            bool ok = ref.size() > 1;
            const bool hex = ok && (ref[1] == 'x');
            size_t i = hex ? 2 : 1;
            if (i >= ref.size()) ok = false;
            for (; ok && i < ref.size(); ++i) {
                const char d = ref[i];
                int digit;
                if (d >= '0' && d <= '9')
                    digit = d - '0';
                else if (hex && d >= 'a' && d <= 'f')
                    digit = d - 'a' + 10;
                else if (hex && d >= 'A' && d <= 'F')
                    digit = d - 'A' + 10;
                else {
                    ok = false;
                    break;
                }
                value = value * (hex ? 16 : 10) + uint32_t(digit);
                if (value > 0x10FFFF) ok = false;
            }
            if (!ok || !isXmlChar(value))
                return fail(QStringLiteral("无效的字符引用 &%1;").arg(shown(ref)), p);
            appendUtf8(out, value);
        } else if (ref == "lt") {
            out.push_back('<');
        } else if (ref == "gt") {
            out.push_back('>');
        } else if (ref == "amp") {
            out.push_back('&');
        } else if (ref == "quot") {
            out.push_back('"');
        } else if (ref == "apos") {
            out.push_back('\'');
        } else {
            return fail(QStringLiteral("未定义的实体引用 &%1;（只认 XML 预定义的五个实体）").arg(shown(ref)),
                        p);
        }
        p = semi + 1;
    }
    return true;
}

bool XmlScanner::readElementText(std::string& out) {
    if (token_ != Token::StartElement) return false;
    const int level = depth();
    for (;;) {
        switch (next()) {
        case Token::Text:
            out.append(text_);
            break;
        case Token::EndElement:
            if (depth() < level) return true;
            break;
        case Token::StartElement:
            break;
        default:
            return false;
        }
    }
}

bool XmlScanner::skipElement() {
    if (token_ != Token::StartElement) return false;
    const int level = depth();
    for (;;) {
        switch (next()) {
        case Token::EndElement:
            if (depth() < level) return true;
            break;
        case Token::StartElement:
        case Token::Text:
            break;
        default:
            return false;
        }
    }
}

} // namespace quellar
