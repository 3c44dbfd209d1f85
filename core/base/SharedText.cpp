#include "base/SharedText.h"

#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <new>

namespace quellar {
namespace {

constexpr size_t kChunk = SharedText::kChunkBytes;
constexpr size_t kHeaderBytes = (sizeof(SharedText::ChunkHeader) + 3) & ~size_t(3);
// Texts whose block is larger than this get a chunk of their own, so that at most this much
// of a shared chunk is left unused when a text does not fit at its end.
constexpr size_t kLargeBlock = kChunk / 16;
// While a thread fills a chunk, the chunk's count holds this many extra references; each text
// handed out takes one of them, and the thread gives back the rest when it moves on, so
// making a text never touches the shared count.
constexpr uint64_t kFillerHold = uint64_t(1) << 40;
// Emptied chunks kept for reuse instead of being mapped again (fresh pages are cleared by
// the kernel, which costs more than reusing ones already there).
constexpr size_t kKeptChunks = 8;

std::atomic<size_t> mappedChunks{0};
std::atomic<size_t> mappedBytes{0};

struct KeptChunks {
    std::mutex lock;
    void* chunks[kKeptChunks] = {};
    size_t count = 0;
};

KeptChunks& kept() {
    static KeptChunks* instance = new KeptChunks(); // never destroyed: texts may die during exit
    return *instance;
}

// `bytes` (a multiple of kChunk) of fresh memory aligned to kChunk, or nullptr.
void* mapAligned(size_t bytes) {
    const size_t span = bytes + kChunk;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t begin = uintptr_t(raw);
    const uintptr_t start = (begin + kChunk - 1) & ~uintptr_t(kChunk - 1);
    if (start > begin) munmap(raw, start - begin);
    const uintptr_t end = begin + span;
    if (end > start + bytes) munmap(reinterpret_cast<void*>(start + bytes), end - (start + bytes));
    return reinterpret_cast<void*>(start);
}

SharedText::ChunkHeader* newChunk(size_t bytes, uint64_t refs) {
    void* memory = nullptr;
    if (bytes == kChunk) {
        KeptChunks& k = kept();
        std::lock_guard<std::mutex> guard(k.lock);
        if (k.count > 0) memory = k.chunks[--k.count];
    }
    if (!memory) {
        memory = mapAligned(bytes);
        if (!memory) throw std::bad_alloc();
        mappedChunks.fetch_add(1, std::memory_order_relaxed);
        mappedBytes.fetch_add(bytes, std::memory_order_relaxed);
    }
    auto* header = static_cast<SharedText::ChunkHeader*>(memory);
    new (&header->refs) std::atomic<uint64_t>(refs);
    header->bytes = bytes;
    return header;
}

void freeChunk(SharedText::ChunkHeader* header) noexcept {
    const size_t bytes = header->bytes;
    if (bytes == kChunk) {
        KeptChunks& k = kept();
        std::lock_guard<std::mutex> guard(k.lock);
        if (k.count < kKeptChunks) {
            k.chunks[k.count++] = header;
            return;
        }
    }
    munmap(header, bytes);
    mappedChunks.fetch_sub(1, std::memory_order_relaxed);
    mappedBytes.fetch_sub(bytes, std::memory_order_relaxed);
}

void dropReferences(SharedText::ChunkHeader* header, uint64_t count) noexcept {
    if (header->refs.fetch_sub(count, std::memory_order_acq_rel) == count) freeChunk(header);
}

// The chunk this thread appends its texts to.
struct FillCursor {
    SharedText::ChunkHeader* chunk = nullptr;
    char* next = nullptr;
    char* end = nullptr;
    uint64_t handed = 0; // texts handed out from `chunk`

    ~FillCursor() { retire(); }
    void retire() noexcept {
        if (chunk) dropReferences(chunk, kFillerHold - handed);
        chunk = nullptr;
        next = end = nullptr;
        handed = 0;
    }
    void* allocate(size_t bytes) {
        if (size_t(end - next) < bytes) {
            retire();
            chunk = newChunk(kChunk, kFillerHold);
            next = reinterpret_cast<char*>(chunk) + kHeaderBytes;
            end = reinterpret_cast<char*>(chunk) + kChunk;
        }
        void* block = next;
        next += bytes;
        ++handed;
        return block;
    }
};

thread_local FillCursor cursor;

} // namespace

SharedText::SharedText(std::u16string_view text) {
    const size_t n = text.size();
    if (n == 0) return;
    if (n <= 3) {
        uint64_t bits = 1 | (uint64_t(n) << 1);
        std::memcpy(reinterpret_cast<char*>(&bits) + 2, text.data(), n * sizeof(char16_t));
        bits_ = bits;
        return;
    }
    if (n > UINT32_MAX) throw std::bad_alloc();
    const size_t bytes = (offsetof(Block, data) + n * sizeof(char16_t) + 3) & ~size_t(3);
    void* memory;
    if (bytes > kLargeBlock) {
        const size_t mapped = (kHeaderBytes + bytes + kChunk - 1) & ~(kChunk - 1);
        memory = reinterpret_cast<char*>(newChunk(mapped, 1)) + kHeaderBytes;
    } else {
        memory = cursor.allocate(bytes);
    }
    auto* b = static_cast<Block*>(memory);
    b->size = uint32_t(n);
    std::memcpy(b->data, text.data(), n * sizeof(char16_t));
    bits_ = reinterpret_cast<uint64_t>(b);
}

void SharedText::releaseStored() noexcept {
    dropReferences(chunk(), 1);
}

SharedText::ArenaStats SharedText::arenaStats() noexcept {
    return {mappedChunks.load(std::memory_order_relaxed), mappedBytes.load(std::memory_order_relaxed)};
}

SharedText SharedText::fromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    bool ascii = true;
    for (unsigned char c : utf8)
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) return fromLatin1(utf8);
    QString s = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    return SharedText(QStringView(s));
}

SharedText SharedText::fromLatin1(std::string_view latin1) {
    char16_t small[64];
    if (latin1.size() <= 64) {
        for (size_t i = 0; i < latin1.size(); ++i)
            small[i] = char16_t(static_cast<unsigned char>(latin1[i]));
        return SharedText(std::u16string_view(small, latin1.size()));
    }
    std::u16string wide(latin1.size(), u'\0');
    for (size_t i = 0; i < latin1.size(); ++i)
        wide[i] = char16_t(static_cast<unsigned char>(latin1[i]));
    return SharedText(std::u16string_view(wide));
}

std::string SharedText::toUtf8() const {
    QByteArray bytes = qview().toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

size_t hashUtf16(std::u16string_view text) noexcept {
    // FNV-1a over code units, finished with a 64-bit mix so short keys spread well.
    uint64_t h = 1469598103934665603ull;
    for (char16_t c : text) {
        h ^= uint64_t(c);
        h *= 1099511628211ull;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return size_t(h);
}

size_t SharedText::hash() const noexcept {
    return hashUtf16(view());
}

} // namespace quellar
