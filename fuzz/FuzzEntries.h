#pragma once
// The entry points of the fuzz targets: one function per reader or parser that takes outside
// input. Each feeds the bytes to the real code the way a user's file or typed text reaches it
// and checks what must hold whatever the input (a failure has a message; a range that parses
// lies inside the grid and reads back as itself). A broken promise aborts, so libFuzzer and
// the sanitizers report it.
//
// The same functions are called by the libFuzzer targets (fuzz/, built with clang) and by the
// regression test of the normal suite, which replays every kept corpus and crash input.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quellar::fuzz {

using Entry = void (*)(const uint8_t* data, size_t size);

struct Target {
    const char* name; // also the folder of its corpus and regression inputs
    Entry entry;
};

// Every target, in a fixed order.
const std::vector<Target>& targets();

// The bytes of a small, valid xlsx package (one sheet "表一" with shared strings, styles and a
// merged area) with part `replaced` ("xl/worksheets/sheet1.xml", "xl/sharedStrings.xml",
// "xl/styles.xml", "xl/workbook.xml") given instead; entries are stored, not compressed.
std::string xlsxPackageWith(const std::string& replaced, const std::string& content);
// The same package with each named part given instead, or added when the package has no such part.
std::string xlsxPackageWith(const std::vector<std::pair<std::string, std::string>>& given);

} // namespace quellar::fuzz
