#pragma once
// XmlScanner: a small streaming XML pull parser for workbook documents (XML Spreadsheet
// 2003 files, the sheet parts of xlsx packages). It builds no tree: each call of next()
// reports one start tag, end tag or piece of text, with names and decoded values as UTF-8
// views that stay valid until the following call.
//
// Input comes through a ByteSource in chunks (a file, memory, or later an inflating zip
// stream), so a document is never held whole; the scanner keeps one bounded buffer that
// only grows to hold a single long token.
//
// It is safe on hostile input: any DOCTYPE is refused (no DTD, no entity expansion, no
// external access), only the five predefined entities and valid character references are
// decoded, and nesting depth, name length, attribute count and token length are limited.
// A UTF-8 byte-order mark is skipped; UTF-16 (with a byte-order mark or recognisable by its
// first characters) and encodings named in the XML declaration that Qt can decode are
// transcoded to UTF-8 on the fly. The first error ends the scan: next() returns Error and
// status() names the line and byte offset (offsets count the UTF-8 stream the scanner sees).

#include "base/Status.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quellar {

// A sequential source of bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `max` bytes into `buffer`: the count, 0 at the end, -1 on failure.
    virtual qint64 read(char* buffer, qint64 max) = 0;
    // What went wrong after read() returned -1.
    virtual QString errorString() const { return {}; }
};

// Reads a file, opened read-only.
class FileByteSource final : public ByteSource {
public:
    // Fails with a message naming the path when the file is missing or cannot be read.
    Status open(const QString& path);
    qint64 read(char* buffer, qint64 max) override;
    QString errorString() const override { return file_.errorString(); }
    qint64 size() const { return file_.size(); }

private:
    QFile file_;
};

// Reads bytes held in memory.
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(QByteArray data)
        : owned_(std::move(data))
        , data_(owned_.constData(), size_t(owned_.size())) {}
    // `data` is not copied and must outlive the source.
    explicit MemoryByteSource(std::string_view data)
        : data_(data) {}
    qint64 read(char* buffer, qint64 max) override;

private:
    QByteArray owned_;
    std::string_view data_;
    size_t position_ = 0;
};

struct XmlLimits {
    int maxDepth = 512;
    int maxNameLength = 1024;           // bytes of a qualified name
    int maxAttributes = 512;            // per element
    qint64 maxTokenLength = 64ll << 20; // bytes of one text run, tag, comment or CDATA section
};

struct XmlAttribute {
    std::string_view qualifiedName;
    std::string_view localName; // the part after the prefix
    std::string_view value;     // decoded
};

class XmlScanner {
public:
    enum class Token { None, StartElement, EndElement, Text, EndDocument, Error };

    explicit XmlScanner(ByteSource& source, XmlLimits limits = {});
    ~XmlScanner();
    XmlScanner(const XmlScanner&) = delete;
    XmlScanner& operator=(const XmlScanner&) = delete;

    // The next token. After EndDocument or Error every further call returns the same.
    // An empty element <a/> gives StartElement (isEmptyElement() true) then EndElement.
    // Text may come in several pieces (CDATA sections and comments split it); whitespace
    // outside the document element is not reported.
    Token next();
    Token token() const { return token_; }

    // StartElement and EndElement.
    std::string_view qualifiedName() const { return qualifiedName_; }
    std::string_view localName() const { return localName_; }
    bool isEmptyElement() const { return emptyElement_; }
    // StartElement: its attributes in document order.
    const std::vector<XmlAttribute>& attributes() const { return attributes_; }
    // The first attribute with this local name (prefixes ignored), or nullptr.
    const XmlAttribute* attribute(std::string_view localName) const;
    std::string_view attributeValue(std::string_view localName, std::string_view fallback = {}) const {
        const XmlAttribute* a = attribute(localName);
        return a ? a->value : fallback;
    }
    // Text: the decoded text.
    std::string_view text() const { return text_; }

    // Elements open: after StartElement it counts that element, after EndElement no longer.
    int depth() const { return int(nameOffsets_.size()); }

    // Called right after StartElement: appends the text of everything inside the element
    // (descendants' text included, tags left out) to `out` and consumes its end tag.
    // False on error (see status()).
    bool readElementText(std::string& out);
    // Called right after StartElement: consumes the element with everything inside it.
    bool skipElement();

    // A fast path for readers of large, regular documents. pending() gives the bytes after
    // the current token that are not scanned yet: at least `want` of them unless the document
    // ends sooner, never more than the buffer holds. It is empty once the scan has ended or
    // while the end of an empty element is still to be reported. The view is valid until the
    // next call of any member.
    std::string_view pending(size_t want);
    // Marks the first `n` bytes of pending() as read. The caller must have checked that they
    // are complete, balanced, well-formed elements inside the current element that need no
    // decoding: next() goes on after them as if it had reported each of their tokens.
    void consume(size_t n);

    const Status& status() const { return status_; }
    bool hasError() const { return token_ == Token::Error; }
    // The error is the source's (its read failed), not the document's.
    bool sourceFailed() const { return sourceFailed_; }

    // Byte offset of the current token in the scanned stream, and its 1-based line.
    qint64 offset() const;
    qint64 line() const;

private:
    enum class Parse { Done, Skip, NeedMore, Failed };

    bool start();
    bool refill(size_t keepFrom);
    Parse parseMarkup(size_t at);
    Parse parseStartTag(size_t at);
    Parse parseEndTag(size_t at);
    Parse parseText(size_t at);
    Parse parseDeclaration(size_t at, size_t end);
    bool decode(const char* begin, const char* end, std::string& out, bool attribute);
    bool fail(const QString& message, const char* at);
    bool fail(const QString& message, size_t at);
    bool finishDocument();
    qint64 lineAt(size_t position) const;

    ByteSource* source_;
    std::unique_ptr<ByteSource> transcoder_; // when the input is not UTF-8
    XmlLimits limits_;

    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0;
    size_t position_ = 0; // next unparsed byte
    size_t end_ = 0;      // end of valid data
    size_t tokenStart_ = 0;
    size_t textResume_ = 0;  // bytes of a long text run already searched for '<'
    qint64 bufferBase_ = 0;  // stream offset of buffer_[0]
    qint64 linesBefore_ = 0; // newlines in the bytes dropped before buffer_[0]
    bool eof_ = false;
    bool started_ = false;
    bool transcoded_ = false;
    bool rootSeen_ = false;
    bool rootClosed_ = false;
    bool pendingEnd_ = false;
    bool sourceFailed_ = false;
    size_t contentStart_ = 0; // where the document starts (after a byte-order mark)

    Token token_ = Token::None;
    std::string_view qualifiedName_;
    std::string_view localName_;
    bool emptyElement_ = false;
    std::vector<XmlAttribute> attributes_;
    std::string_view text_;
    std::string textScratch_;
    std::string attributeScratch_;
    std::vector<size_t> attributeSlots_; // while parsing: value offsets into attributeScratch_

    std::string names_; // qualified names of the open elements, concatenated
    std::vector<uint32_t> nameOffsets_;
    std::string endName_; // the name of the element just closed

    Status status_;
};

} // namespace quellar
