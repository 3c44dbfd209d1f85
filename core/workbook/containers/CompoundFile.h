#pragma once
// The compound file binary format ([MS-CFB]), the container of legacy Office documents such
// as .xls: a reader that finds a stream by name and reads it by position, and a writer of a
// compound file holding one stream.
//
// The reader keeps the file's allocation table (4 bytes per sector, so at most a hundredth of
// the file) and the directory; stream bytes are read on request, a run of adjacent sectors at
// a time. Nothing the file declares is trusted: every sector index is checked against the
// file's length, sector chains are walked once with a visited mark (a cycle or a chain that
// leaves the file is reported, never followed), a stream is as long as its chain allows
// whatever its declared size, and a stream below the mini-stream cutoff (4096 bytes; a
// stream of exactly 4096 bytes lives in normal sectors) is read from the mini stream through
// its own checked chain. A file that is not a whole number of sectors reads its last, partial
// sector padded with zeros.
//
// The writer lays out one stream after the header, then the directory, the allocation table
// and, for files beyond about 7 MB, the sectors that list the allocation table (DIFAT). A
// stream shorter than 4096 bytes is padded to 4096 so that it never needs the mini stream.

#include "base/Status.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QFile;

namespace quellar {

// Bytes read by position: a file or a buffer in memory.
class RandomAccessBytes {
public:
    virtual ~RandomAccessBytes() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly n bytes at offset; false when they are not all there or the read fails.
    virtual bool readAt(uint64_t offset, char* out, size_t n) const = 0;
};

class MemoryBytes final : public RandomAccessBytes {
public:
    explicit MemoryBytes(std::string_view bytes)
        : bytes_(bytes) {}
    uint64_t size() const override { return bytes_.size(); }
    bool readAt(uint64_t offset, char* out, size_t n) const override;

private:
    std::string_view bytes_;
};

// An open file read by position (the file stays owned by the caller).
class FileBytes final : public RandomAccessBytes {
public:
    explicit FileBytes(QFile& file);
    uint64_t size() const override { return size_; }
    bool readAt(uint64_t offset, char* out, size_t n) const override;

private:
    int fd_;
    uint64_t size_;
};

// One stream of a compound file, or any byte sequence, read by position.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual uint64_t size() const = 0;
    // Reads up to n bytes at offset and returns how many; fewer only at the end of the stream
    // or when the underlying read fails (failed() then tells).
    virtual size_t readAt(uint64_t offset, char* out, size_t n) = 0;
    virtual bool failed() const { return false; }
};

class MemoryStream final : public ByteStream {
public:
    explicit MemoryStream(std::string bytes)
        : bytes_(std::move(bytes)) {}
    uint64_t size() const override { return bytes_.size(); }
    size_t readAt(uint64_t offset, char* out, size_t n) override;

private:
    std::string bytes_;
};

namespace cfb {

enum class EntryType : uint8_t { Empty = 0, Storage = 1, Stream = 2, Root = 5 };

struct DirectoryEntry {
    QString name;
    EntryType type = EntryType::Empty;
    uint32_t left = 0xFFFFFFFF, right = 0xFFFFFFFF, child = 0xFFFFFFFF;
    uint32_t start = 0;
    uint64_t size = 0;
};

class CompoundFile {
public:
    // Reads the header, the allocation tables and the directory. A failure's message says
    // what is wrong (without the file name). The source must outlive this object and its streams.
    Status open(const RandomAccessBytes& source);

    const std::vector<DirectoryEntry>& entries() const { return entries_; }
    // The entries directly inside the root storage, in directory order (each once, whatever
    // the tree's links say).
    std::vector<uint32_t> rootChildren() const;
    // The first stream directly inside the root whose name equals `name` ignoring case; -1.
    int findRootStream(QStringView name) const;
    // A reader of entry `index`'s bytes; a failure says why (a broken chain).
    Status openStream(uint32_t index, std::unique_ptr<ByteStream>& out) const;

private:
    Status chain(const std::vector<uint32_t>& table, uint32_t start, uint64_t limit,
                 std::vector<uint32_t>& out, const char* what) const;

    const RandomAccessBytes* source_ = nullptr;
    uint32_t sectorShift_ = 9;
    uint64_t sectorCount_ = 0; // sectors that lie (at least partly) inside the file
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    std::vector<uint32_t> miniStreamSectors_; // the root entry's chain: where the mini stream lives
    uint64_t miniStreamSize_ = 0;
    std::vector<DirectoryEntry> entries_;
};

// Builds a compound file holding one stream `streamName` (with a root entry), made of `pieces`
// in order, and hands its bytes to `sink` in order. `sink` returns false to stop (a write
// failure); writeSingleStream returns false then.
bool writeSingleStream(const QString& streamName, const std::vector<std::string_view>& pieces,
                       const std::function<bool(std::string_view)>& sink);

} // namespace cfb

} // namespace quellar
