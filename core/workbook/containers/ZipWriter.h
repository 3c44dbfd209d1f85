#pragma once
// ZipWriter: writes a zip container (the package of an .xlsx workbook) front to back into an
// OutputFile, so the file is built as a temporary file and renamed into place only by
// finish(); a writer destroyed before that leaves no file and any earlier file untouched.
//
// Small entries are handed over whole and deflated here. A large entry is streamed: its data
// comes as pieces that were deflated on any thread (DeflatedPiece, each an independent run of
// deflate blocks, the last one ending the stream) and are written in order as they come; its
// CRC and sizes follow the data in a data descriptor and in the central directory. An entry
// whose size may reach 4 GB is written in the ZIP64 form, as are offsets and a directory past
// 4 GB; everything else stays in the plain form that every reader takes.
//
// Deflate is ISA-L's (level 1 by default: well over 1 GB/s on one core), the CRC ISA-L's
// crc32_gzip_refl; the CRCs of an entry's pieces are joined with zlib's crc32_combine.

#include "base/Status.h"
#include "base/TextIO.h"

#include <QString>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quellar {

// Bytes appended through a raw cursor: reserve() room, write, commit() the end. Grows by
// doubling and never zero-fills what it reserves.
class RawBuffer {
public:
    char* reserve(size_t room) {
        if (capacity_ - size_ < room) grow(room);
        return data_.get() + size_;
    }
    void commit(char* end) { size_ = size_t(end - data_.get()); }
    void append(std::string_view bytes) {
        char* at = reserve(bytes.size());
        std::memcpy(at, bytes.data(), bytes.size());
        size_ += bytes.size();
    }
    void clear() { size_ = 0; }
    size_t size() const { return size_; }
    char* data() { return data_.get(); }
    std::string_view view() const { return {data_.get(), size_}; }

private:
    void grow(size_t room);
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// One piece of an entry's data, deflated.
struct DeflatedPiece {
    RawBuffer data;    // raw deflate blocks
    uint32_t crc = 0;  // of the uncompressed bytes
    uint64_t size = 0; // uncompressed bytes
    void clear() {
        data.clear();
        crc = 0;
        size = 0;
    }
};

// The CRC-32 of `second` appended to bytes whose CRC is `first`.
uint32_t combineCrc(uint32_t first, uint32_t second, uint64_t secondSize);

// Deflates pieces; one per thread (it keeps ISA-L's working buffer).
class PieceDeflater {
public:
    explicit PieceDeflater(int level = 1);
    ~PieceDeflater();
    PieceDeflater(const PieceDeflater&) = delete;
    PieceDeflater& operator=(const PieceDeflater&) = delete;
    // Appends `in` to `out` as deflate blocks that end byte-aligned and look back at nothing
    // before them; the `last` piece of an entry ends the deflate stream.
    void deflate(std::string_view in, bool last, DeflatedPiece& out);

private:
    int level_;
    std::unique_ptr<uint8_t[]> levelBuffer_;
    size_t levelBufferSize_ = 0;
};

class ZipWriter {
public:
    explicit ZipWriter(const QString& path);
    // Fails when the file cannot be created (missing folder, no permission).
    Status open();

    // A whole entry, deflated here.
    void addEntry(std::string_view name, std::string_view data);

    // A streamed entry: beginEntry, its pieces in order (the last one ending the deflate
    // stream), endEntry. `zip64` when the entry's data may reach 4 GB.
    void beginEntry(std::string_view name, bool zip64);
    void appendPiece(const DeflatedPiece& piece);
    void endEntry();

    // True once a write has failed; a long writer stops early.
    bool failed() const { return out_.failed(); }
    // Writes the central directory and renames the file into place.
    Status finish();

    // The uncompressed size from which an entry is written in the ZIP64 form.
    static constexpr uint64_t kZip64Size = 0xFFFFFFFFu;

private:
    struct Entry {
        std::string name;
        uint64_t offset = 0; // of the local header
        uint32_t crc = 0;
        uint64_t compressedSize = 0;
        uint64_t size = 0;
        bool streamed = false;
        bool zip64 = false;
    };
    void put(std::string_view bytes);
    void localHeader(const Entry& entry);
    void centralHeader(std::string& out, const Entry& entry) const;

    OutputFile out_;
    uint64_t written_ = 0;
    std::vector<Entry> entries_;
    bool open_ = false; // a streamed entry is being written
    PieceDeflater deflater_;
    DeflatedPiece piece_;
};

} // namespace quellar
