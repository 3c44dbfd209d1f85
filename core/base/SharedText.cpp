#include "base/SharedText.h"

#include <cstdlib>
#include <new>

namespace quellar {

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
    void* memory = std::malloc(offsetof(Block, data) + n * sizeof(char16_t));
    if (!memory) throw std::bad_alloc();
    auto* b = static_cast<Block*>(memory);
    new (&b->refs) std::atomic<uint32_t>(1);
    b->size = uint32_t(n);
    std::memcpy(b->data, text.data(), n * sizeof(char16_t));
    bits_ = reinterpret_cast<uint64_t>(b);
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
        for (size_t i = 0; i < latin1.size(); ++i) small[i] = char16_t(static_cast<unsigned char>(latin1[i]));
        return SharedText(std::u16string_view(small, latin1.size()));
    }
    std::u16string wide(latin1.size(), u'\0');
    for (size_t i = 0; i < latin1.size(); ++i) wide[i] = char16_t(static_cast<unsigned char>(latin1[i]));
    return SharedText(std::u16string_view(wide));
}

std::string SharedText::toUtf8() const {
    QByteArray bytes = qview().toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

void SharedText::release() noexcept {
    if (bits_ && !(bits_ & 1)) {
        Block* b = block();
        if (b->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            b->refs.~atomic();
            std::free(b);
        }
    }
    bits_ = 0;
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

size_t SharedText::hash() const noexcept { return hashUtf16(view()); }

} // namespace quellar
