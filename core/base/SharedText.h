#pragma once
// SharedText: an immutable UTF-16 string in eight bytes, made for cell texts.
// Up to three code units are stored inline (no heap); longer texts are stored once, in a
// text arena, and every copy shares that storage, so copying a cell never copies its text.
// The empty text is the all-zero value and never allocates.
//
// The arena: each thread appends the texts it makes to its current chunk (1 MB, aligned to
// its size, taken straight from the system), so making a text is a bump of a pointer and a
// table's texts lie side by side with four bytes of overhead each, instead of one heap block
// per text. A chunk counts the references to all of its texts together; the text's address
// rounded down to the chunk size finds that count. A chunk goes back to the system when the
// last copy of its last text is gone, whichever thread drops it. A text too long to share a
// chunk gets a chunk of its own.

#include <QString>
#include <QStringView>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace quellar {

class SharedText {
public:
    SharedText() noexcept = default;
    SharedText(std::u16string_view text);
    SharedText(QStringView text)
        : SharedText(
              std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), size_t(text.size()))) {}
    SharedText(const QString& text)
        : SharedText(QStringView(text)) {}
    SharedText(const char16_t* text)
        : SharedText(std::u16string_view(text)) {}
    static SharedText fromUtf8(std::string_view utf8);
    static SharedText fromLatin1(std::string_view latin1);

    SharedText(const SharedText& other) noexcept
        : bits_(other.bits_) {
        retain();
    }
    SharedText(SharedText&& other) noexcept
        : bits_(other.bits_) {
        other.bits_ = 0;
    }
    SharedText& operator=(const SharedText& other) noexcept {
        if (bits_ != other.bits_) {
            SharedText copy(other);
            swap(copy);
        }
        return *this;
    }
    SharedText& operator=(SharedText&& other) noexcept {
        if (this != &other) {
            release();
            bits_ = other.bits_;
            other.bits_ = 0;
        }
        return *this;
    }
    ~SharedText() { release(); }

    void swap(SharedText& other) noexcept { std::swap(bits_, other.bits_); }

    bool isEmpty() const noexcept { return bits_ == 0; }
    size_t size() const noexcept {
        if (bits_ == 0) return 0;
        if (bits_ & 1) return (bits_ >> 1) & 3;
        return block()->size;
    }
    const char16_t* data() const noexcept {
        if (bits_ & 1) return reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(&bits_) + 2);
        if (bits_ == 0) return u"";
        return block()->data;
    }
    // The view is valid while this object lives unchanged (inline texts live inside it).
    std::u16string_view view() const noexcept { return {data(), size()}; }
    QStringView qview() const noexcept {
        return QStringView(reinterpret_cast<const QChar*>(data()), qsizetype(size()));
    }
    QString toQString() const { return qview().toString(); }
    std::string toUtf8() const;
    bool startsWith(char16_t c) const noexcept { return size() > 0 && data()[0] == c; }

    size_t hash() const noexcept;

    friend bool operator==(const SharedText& a, const SharedText& b) noexcept {
        return a.bits_ == b.bits_ || a.view() == b.view();
    }
    friend bool operator==(const SharedText& a, std::u16string_view b) noexcept { return a.view() == b; }
    friend bool operator<(const SharedText& a, const SharedText& b) noexcept { return a.view() < b.view(); }

    // What the arena holds: chunks taken from the system and not yet given back (including
    // the few kept for reuse), and their bytes. For tests and benchmarks.
    struct ArenaStats {
        size_t chunks = 0;
        size_t bytes = 0;
    };
    static ArenaStats arenaStats() noexcept;
    // Whether two texts share one stored copy (also true for two empty texts).
    bool sharesStorageWith(const SharedText& other) const noexcept { return bits_ == other.bits_; }

    // A text handed to a compact store and back (PackedCells): disown() leaves this text
    // empty and returns its eight bytes together with the reference they held; adopt() makes
    // a text of such bytes again, taking that reference over. Every disowned text must be
    // adopted exactly once, or its storage is never given back.
    uint64_t disown() noexcept { return std::exchange(bits_, 0); }
    static SharedText adopt(uint64_t bits) noexcept {
        SharedText text;
        text.bits_ = bits;
        return text;
    }

    static constexpr size_t kChunkBytes = size_t(1) << 20;

    // The start of every arena chunk.
    struct ChunkHeader {
        std::atomic<uint64_t> refs; // references to the chunk's texts, plus the filling thread's hold
        size_t bytes;               // the size of the mapping
    };

private:
    struct Block {
        uint32_t size;
        char16_t data[1];
    };
    Block* block() const noexcept { return reinterpret_cast<Block*>(bits_); }
    ChunkHeader* chunk() const noexcept {
        return reinterpret_cast<ChunkHeader*>(bits_ & ~uint64_t(kChunkBytes - 1));
    }
    void retain() noexcept {
        if (bits_ && !(bits_ & 1)) chunk()->refs.fetch_add(1, std::memory_order_relaxed);
    }
    void release() noexcept {
        if (bits_ && !(bits_ & 1)) releaseStored();
        bits_ = 0;
    }
    void releaseStored() noexcept;

    uint64_t bits_ = 0;
};

// Hashing for unordered containers.
struct SharedTextHash {
    size_t operator()(const SharedText& t) const noexcept { return t.hash(); }
};

size_t hashUtf16(std::u16string_view text) noexcept;

} // namespace quellar
