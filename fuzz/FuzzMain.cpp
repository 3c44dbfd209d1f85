// One libFuzzer program per entry: QUELLAR_FUZZ_TARGET names which.

#include "fuzz/FuzzEntries.h"

#include <cstring>

namespace {
quellar::fuzz::Entry chosenEntry() {
    for (const quellar::fuzz::Target& target : quellar::fuzz::targets())
        if (std::strcmp(target.name, QUELLAR_FUZZ_TARGET) == 0) return target.entry;
    return nullptr;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const quellar::fuzz::Entry entry = chosenEntry();
    entry(data, size);
    return 0;
}
