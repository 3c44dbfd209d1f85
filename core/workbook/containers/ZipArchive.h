#pragma once
// ZipArchive: a read-only view of a zip container (the package of an .xlsx workbook).
//
// open() reads only the central directory; an entry's data is inflated on demand through a
// ByteSource, chunk by chunk, so a large sheet part is never held whole. The file is opened
// read-only and never written. Several entries may be streamed at the same time from
// different threads (reads use positioned I/O on the one open file).
//
// The container is treated as hostile: entry counts and sizes found in the file are never
// trusted for allocation; more than `maxEntries` entries, duplicate entry names, encrypted
// or multi-disk archives, entries whose data lies outside the file, entries that would
// inflate past `maxEntrySize` or with a suspicious compression ratio (a zip bomb) are
// refused before anything is inflated; an entry that inflates to more (or less) than its
// declared size or fails its CRC is caught while it is read. Every failure is a Status whose
// message names the file and, where there is one, the entry.

#include "base/Status.h"
#include "workbook/containers/XmlScanner.h"

#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace quellar {

// The signatures of the zip format's records, which ZipArchive reads and ZipWriter writes.
namespace zipformat {
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
} // namespace zipformat

struct ZipLimits {
    int maxEntries = 5000;
    uint64_t maxEntrySize = uint64_t(4) << 30; // bytes one entry may inflate to
    // An entry larger than `ratioFloor` bytes may not inflate to more than `maxRatio` times
    // its compressed size. Real workbook parts stay far below; deflate's own ceiling is ~1030.
    uint64_t ratioFloor = uint64_t(1) << 20;
    uint64_t maxRatio = 400;
};

struct ZipEntry {
    std::string name;    // as stored (UTF-8)
    uint16_t method = 0; // 0 stored, 8 deflate
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0; // declared uncompressed size
    uint64_t localHeaderOffset = 0;
};

class ZipArchive;

// Streams one entry's uncompressed bytes. read() returns -1 on any failure (truncated or
// corrupt data, a size that does not match the declaration, a CRC mismatch); status() then
// holds the message. The archive must outlive the stream.
class ZipEntryStream final : public ByteSource {
public:
    ~ZipEntryStream() override;
    qint64 read(char* buffer, qint64 max) override;
    QString errorString() const override { return status_.message(); }
    const Status& status() const { return status_; }
    // Bytes handed out so far.
    uint64_t produced() const { return produced_; }

private:
    friend class ZipArchive;
    ZipEntryStream(const ZipArchive& archive, const ZipEntry& entry, uint64_t dataOffset);
    qint64 fail(const QString& message);
    qint64 finish();

    const ZipArchive& archive_;
    const ZipEntry& entry_;
    uint64_t dataOffset_;
    uint64_t consumed_ = 0; // compressed bytes read from the file
    uint64_t produced_ = 0;
    uint32_t crc_ = 0;
    bool ended_ = false;
    bool inflating_ = false;
    bool streamEnded_ = false;
    void* zstream_ = nullptr; // the inflate state, kept opaque so that users need no inflate header
    std::unique_ptr<char[]> input_;
    Status status_;
};

class ZipArchive {
public:
    ZipArchive() = default;
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Opens `path` read-only and reads its central directory.
    Status open(const QString& path, ZipLimits limits = {});

    const QString& path() const { return path_; }
    const std::vector<ZipEntry>& entries() const { return entries_; }

    // The entry called `name`, compared as package part names are: ASCII case-insensitive,
    // a leading "/" ignored, "\" taken as "/". nullptr when there is none.
    const ZipEntry* find(std::string_view name) const;

    // A stream of the entry's uncompressed bytes, or a failure naming the file and entry.
    Status openEntry(const ZipEntry& entry, std::unique_ptr<ZipEntryStream>& stream) const;

    // Reads a whole entry into `out`; refuses an entry declaring more than `maxSize` bytes.
    Status readEntry(const ZipEntry& entry, std::string& out, uint64_t maxSize = 64u << 20) const;

    // "文件“…”中的“entry”" style prefix used by every message about an entry.
    QString describe(const ZipEntry& entry) const;
    QString describeFile() const;

private:
    friend class ZipEntryStream;
    // Positioned read of exactly `size` bytes; false when the file ends first or fails.
    bool readAt(uint64_t offset, char* buffer, size_t size) const;
    // Up to `size` bytes; -1 on failure.
    int64_t readSomeAt(uint64_t offset, char* buffer, size_t size) const;
    Status fail(const QString& message) const;

    QString path_;
    QFile file_;
    int fd_ = -1;
    uint64_t fileSize_ = 0;
    uint64_t directoryOffset_ = 0; // where entry data must end
    ZipLimits limits_;
    std::vector<ZipEntry> entries_;
    std::unordered_map<std::string, size_t> byName_; // normalised name -> index
};

// Runs another source's reads on a second thread, a few chunks ahead of the reader, so that
// inflating a large part and parsing it use two cores. Errors of the inner source come out
// of read() in order (as -1, with its errorString()). The inner source must outlive this
// object; the worker thread stops when this object is destroyed, whatever the reader did.
class ReadAheadSource final : public ByteSource {
public:
    explicit ReadAheadSource(ByteSource& inner, size_t chunkSize = 1u << 20, int chunks = 4);
    ~ReadAheadSource() override;
    ReadAheadSource(const ReadAheadSource&) = delete;
    ReadAheadSource& operator=(const ReadAheadSource&) = delete;
    qint64 read(char* buffer, qint64 max) override;
    QString errorString() const override;
    // Stops and joins the worker; after this the inner source is no longer touched.
    void stop();

private:
    struct State;
    std::unique_ptr<State> state_;
    ByteSource& inner_;
};

// The normalised form of a part name used for lookups: lower-case ASCII, no leading "/".
std::string normalizeZipName(std::string_view name);

} // namespace quellar
