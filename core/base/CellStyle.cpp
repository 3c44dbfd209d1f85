#include "base/CellStyle.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

namespace quellar {
namespace {

constexpr uint32_t kChunkBits = 10;
constexpr uint32_t kChunkSize = 1u << kChunkBits;
constexpr uint32_t kMaxChunks = 1u << 14; // 16 million distinct styles at most

struct StyleKeyHash {
    size_t operator()(const CellStyle& s) const noexcept {
        return s.numberFormat.hash() * 31 + s.fontName.hash() * 17 + size_t(s.fontSize) * 7 +
               size_t(uint32_t(s.colorValue));
    }
};

struct Pool {
    std::mutex lock;
    std::unordered_map<CellStyle, uint32_t, StyleKeyHash> ids;
    std::array<std::atomic<CellStyle*>, kMaxChunks> chunks{};
    uint32_t count = 0;

    Pool() {
        chunks[0].store(new CellStyle[kChunkSize], std::memory_order_release);
        ids.emplace(CellStyle{}, 0);
        count = 1;
    }
};

Pool& pool() {
    static Pool* instance = new Pool(); // never destroyed: ids may be used during exit
    return *instance;
}

} // namespace

uint32_t StylePool::intern(const CellStyle& style) {
    if (style == CellStyle{}) return 0;
    Pool& p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    auto it = p.ids.find(style);
    if (it != p.ids.end()) return it->second;
    const uint32_t id = p.count;
    const uint32_t chunk = id >> kChunkBits;
    if (chunk >= kMaxChunks) throw std::bad_alloc();
    CellStyle* storage = p.chunks[chunk].load(std::memory_order_relaxed);
    if (!storage) {
        storage = new CellStyle[kChunkSize];
        p.chunks[chunk].store(storage, std::memory_order_release);
    }
    storage[id & (kChunkSize - 1)] = style;
    ++p.count;
    p.ids.emplace(style, id);
    return id;
}

const CellStyle& StylePool::get(uint32_t id) noexcept {
    CellStyle* storage = pool().chunks[id >> kChunkBits].load(std::memory_order_acquire);
    return storage[id & (kChunkSize - 1)];
}

} // namespace quellar
