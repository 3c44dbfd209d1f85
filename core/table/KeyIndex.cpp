#include "table/KeyIndex.h"

namespace quellar {

void KeyIndex::reserve(size_t rows) {
    // At most half the slots are taken, so a probe ends soon at a free one.
    size_t capacity = 16;
    while (capacity < rows * 2)
        capacity *= 2;
    mask_ = capacity - 1;
    slots_.resize(capacity);
    next_.assign(rows, kNone);
}

void KeyIndex::append(Slot& slot, uint32_t row, uint64_t h) {
    if (slot.representative == kNone) {
        slot = Slot{row, row, row, uint32_t(h >> 32)};
        return;
    }
    next_[slot.tail] = row;
    slot.tail = row;
}

} // namespace quellar
