#include "workbook/containers/CompoundFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace quellar {

namespace {

constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint64_t kMiniCutoff = 4096; // a stream shorter than this lives in the mini stream
constexpr uint32_t kMiniShift = 6;

uint16_t u16(const char* p) {
    return uint16_t(uint8_t(p[0]) | (uint8_t(p[1]) << 8));
}
uint32_t u32(const char* p) {
    return uint32_t(u16(p)) | (uint32_t(u16(p + 2)) << 16);
}
uint64_t u64(const char* p) {
    return uint64_t(u32(p)) | (uint64_t(u32(p + 4)) << 32);
}

// A stream laid out in sectors of the file: reads runs of adjacent sectors at once; the part
// of a last, partial sector beyond the end of the file reads as zeros.
class SectorStream final : public ByteStream {
public:
    SectorStream(const RandomAccessBytes& source, uint32_t shift, std::vector<uint32_t> sectors,
                 uint64_t size)
        : source_(source)
        , shift_(shift)
        , sectors_(std::move(sectors))
        , size_(std::min<uint64_t>(size, uint64_t(sectors_.size()) << shift)) {}

    uint64_t size() const override { return size_; }
    bool failed() const override { return failed_; }

    size_t readAt(uint64_t offset, char* out, size_t n) override {
        if (offset >= size_) return 0;
        n = size_t(std::min<uint64_t>(n, size_ - offset));
        const uint64_t sectorSize = uint64_t(1) << shift_;
        size_t done = 0;
        while (done < n) {
            const uint64_t at = offset + done;
            size_t index = size_t(at >> shift_);
            const uint64_t within = at & (sectorSize - 1);
            // The run of physically adjacent sectors starting here.
            size_t last = index;
            uint64_t runBytes = sectorSize - within;
            while (done + runBytes < n && last + 1 < sectors_.size() &&
                   sectors_[last + 1] == sectors_[last] + 1) {
                ++last;
                runBytes += sectorSize;
            }
            const size_t want = size_t(std::min<uint64_t>(runBytes, n - done));
            const uint64_t fileOffset = ((uint64_t(sectors_[index]) + 1) << shift_) + within;
            const uint64_t fileSize = source_.size();
            const size_t present =
                fileOffset >= fileSize ? 0 : size_t(std::min<uint64_t>(want, fileSize - fileOffset));
            if (present > 0 && !source_.readAt(fileOffset, out + done, present)) {
                failed_ = true;
                return done;
            }
            std::memset(out + done + present, 0, want - present);
            done += want;
        }
        return done;
    }

private:
    const RandomAccessBytes& source_;
    uint32_t shift_;
    std::vector<uint32_t> sectors_;
    uint64_t size_;
    bool failed_ = false;
};

void put16(std::string& s, uint16_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}
void put32(std::string& s, uint32_t v) {
    put16(s, uint16_t(v & 0xFFFF));
    put16(s, uint16_t(v >> 16));
}

} // namespace

bool MemoryBytes::readAt(uint64_t offset, char* out, size_t n) const {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    std::memcpy(out, bytes_.data() + offset, n);
    return true;
}

FileBytes::FileBytes(QFile& file)
    : fd_(file.handle())
    , size_(uint64_t(std::max<qint64>(0, file.size()))) {}

bool FileBytes::readAt(uint64_t offset, char* out, size_t n) const {
    if (offset > size_ || n > size_ - offset) return false;
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, out + done, n - done, off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += size_t(got);
    }
    return true;
}

size_t MemoryStream::readAt(uint64_t offset, char* out, size_t n) {
    if (offset >= bytes_.size()) return 0;
    n = size_t(std::min<uint64_t>(n, bytes_.size() - offset));
    std::memcpy(out, bytes_.data() + offset, n);
    return n;
}

namespace cfb {

Status CompoundFile::chain(const std::vector<uint32_t>& table, uint32_t start, uint64_t limit,
                           std::vector<uint32_t>& out, const char* what) const {
    out.clear();
    std::vector<bool> seen(table.size(), false);
    uint32_t at = start;
    while (out.size() < limit) {
        if (at == kEndOfChain || at == kFreeSect) break; // a free mark ends a chain early: read what is there
        if (at >= table.size())
            return Status::invalidInput(
                QStringLiteral("%1的扇区链指向文件之外（文件已损坏或被截断）").arg(QString::fromUtf8(what)));
        if (seen[at])
            return Status::invalidInput(
                QStringLiteral("%1的扇区链首尾相接，文件已损坏").arg(QString::fromUtf8(what)));
        seen[at] = true;
        out.push_back(at);
        at = table[at];
    }
    return Status::ok();
}

Status CompoundFile::open(const RandomAccessBytes& source) {
    source_ = &source;
    entries_.clear();
    fat_.clear();
    miniFat_.clear();
    miniStreamSectors_.clear();
    char header[512];
    if (source.size() < 512 || !source.readAt(0, header, 512))
        return Status::invalidInput(QStringLiteral("文件太短，不是有效的 .xls 文件（复合文档头不完整）"));
    if (std::memcmp(header, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) != 0)
        return Status::invalidInput(QStringLiteral("不是有效的 .xls 文件（复合文档头无效）"));
    const uint16_t shift = u16(header + 30);
    if (shift != 9 && shift != 12)
        return Status::invalidInput(QStringLiteral("复合文档的扇区大小无效，文件已损坏"));
    sectorShift_ = shift;
    const uint64_t sectorSize = uint64_t(1) << shift;
    // Sector i starts at (i + 1) * sectorSize; the last may be partial.
    const uint64_t fileSize = source.size();
    sectorCount_ = fileSize <= sectorSize ? 0 : (fileSize - sectorSize + sectorSize - 1) / sectorSize;
    if (sectorCount_ > 0xFFFFFFF0u) sectorCount_ = 0xFFFFFFF0u;
    const uint32_t perSector = uint32_t(sectorSize / 4);

    auto readSector = [&](uint32_t index, std::vector<char>& out) -> bool {
        out.assign(size_t(sectorSize), 0);
        if (index >= sectorCount_) return false;
        const uint64_t offset = (uint64_t(index) + 1) << shift;
        const size_t present = size_t(std::min<uint64_t>(sectorSize, fileSize - offset));
        return source.readAt(offset, out.data(), present);
    };

    // The sectors that hold the allocation table: 109 in the header, the rest in a DIFAT chain.
    const uint32_t fatCount = u32(header + 44);
    const uint64_t fatNeeded = (sectorCount_ + perSector - 1) / perSector; // more covers nothing in the file
    std::vector<uint32_t> fatSectors;
    for (int i = 0; i < 109 && fatSectors.size() < std::min<uint64_t>(fatCount, fatNeeded); ++i) {
        const uint32_t s = u32(header + 76 + 4 * i);
        if (s >= kDifSect) break;
        fatSectors.push_back(s);
    }
    {
        uint32_t difat = u32(header + 68);
        std::vector<bool> seen;
        std::vector<char> buffer;
        while (difat < kDifSect && fatSectors.size() < std::min<uint64_t>(fatCount, fatNeeded)) {
            if (difat >= sectorCount_)
                return Status::invalidInput(
                    QStringLiteral("分配表索引的扇区链指向文件之外（文件已损坏或被截断）"));
            if (seen.empty()) seen.assign(size_t(sectorCount_), false);
            if (seen[difat])
                return Status::invalidInput(QStringLiteral("分配表索引的扇区链首尾相接，文件已损坏"));
            seen[difat] = true;
            if (!readSector(difat, buffer)) return Status::ioError(QStringLiteral("读取文件失败"));
            for (uint32_t i = 0;
                 i + 1 < perSector && fatSectors.size() < std::min<uint64_t>(fatCount, fatNeeded); ++i) {
                const uint32_t s = u32(buffer.data() + 4 * i);
                if (s >= kDifSect) break;
                fatSectors.push_back(s);
            }
            difat = u32(buffer.data() + 4 * (perSector - 1));
        }
    }
    if (fatSectors.empty()) return Status::invalidInput(QStringLiteral("复合文档没有分配表，文件已损坏"));
    {
        std::vector<char> buffer;
        fat_.reserve(size_t(std::min<uint64_t>(sectorCount_, uint64_t(fatSectors.size()) * perSector)));
        for (uint32_t s : fatSectors) {
            if (s >= sectorCount_)
                return Status::invalidInput(
                    QStringLiteral("分配表所在的扇区在文件之外（文件已损坏或被截断）"));
            if (!readSector(s, buffer)) return Status::ioError(QStringLiteral("读取文件失败"));
            for (uint32_t i = 0; i < perSector && fat_.size() < sectorCount_; ++i)
                fat_.push_back(u32(buffer.data() + 4 * i));
        }
    }

    // The directory: 128-byte entries in its own chain.
    std::vector<uint32_t> dirSectors;
    if (Status s = chain(fat_, u32(header + 48), UINT64_MAX, dirSectors, "目录"); !s) return s;
    if (dirSectors.empty()) return Status::invalidInput(QStringLiteral("复合文档的目录是空的，文件已损坏"));
    {
        std::vector<char> buffer;
        for (uint32_t s : dirSectors) {
            if (!readSector(s, buffer)) return Status::ioError(QStringLiteral("读取文件失败"));
            for (uint64_t at = 0; at + 128 <= sectorSize; at += 128) {
                const char* e = buffer.data() + at;
                DirectoryEntry entry;
                const uint16_t nameBytes = std::min<uint16_t>(u16(e + 64), 64);
                const int chars = std::max(0, nameBytes / 2 - 1); // without the terminating zero
                QString name;
                name.reserve(chars);
                for (int i = 0; i < chars; ++i) {
                    const char16_t c = u16(e + 2 * i);
                    if (c == 0) break;
                    name.append(QChar(c));
                }
                entry.name = name;
                const uint8_t type = uint8_t(e[66]);
                entry.type = type == 1 || type == 2 || type == 5 ? EntryType(type) : EntryType::Empty;
                entry.left = u32(e + 68);
                entry.right = u32(e + 72);
                entry.child = u32(e + 76);
                entry.start = u32(e + 116);
                // Version 3 files may leave garbage in the high half of the size.
                entry.size = shift == 9 ? u32(e + 120) : u64(e + 120);
                entries_.push_back(std::move(entry));
            }
        }
    }
    if (entries_.empty() || entries_[0].type != EntryType::Root)
        return Status::invalidInput(QStringLiteral("复合文档的根目录项无效，文件已损坏"));

    // The mini stream (the root entry's data) and its allocation table.
    std::vector<uint32_t> miniFatSectors;
    if (Status s = chain(fat_, u32(header + 60), UINT64_MAX, miniFatSectors, "小扇区分配表"); !s) return s;
    {
        std::vector<char> buffer;
        for (uint32_t s : miniFatSectors) {
            if (!readSector(s, buffer)) return Status::ioError(QStringLiteral("读取文件失败"));
            for (uint32_t i = 0; i < perSector; ++i)
                miniFat_.push_back(u32(buffer.data() + 4 * i));
        }
    }
    const DirectoryEntry& root = entries_[0];
    if (root.size > 0) {
        if (Status s = chain(fat_, root.start, (root.size + sectorSize - 1) >> shift, miniStreamSectors_,
                             "小扇区流");
            !s)
            return s;
        miniStreamSize_ = std::min<uint64_t>(root.size, uint64_t(miniStreamSectors_.size()) << shift);
    }
    return Status::ok();
}

std::vector<uint32_t> CompoundFile::rootChildren() const {
    std::vector<uint32_t> out;
    if (entries_.empty()) return out;
    std::vector<bool> seen(entries_.size(), false);
    seen[0] = true;
    // In-order walk of the root's red-black tree, with a visited mark against loops.
    std::vector<uint32_t> stack;
    uint32_t at = entries_[0].child;
    while (true) {
        while (at < entries_.size() && !seen[at]) {
            seen[at] = true;
            stack.push_back(at);
            at = entries_[at].left;
        }
        if (stack.empty()) break;
        const uint32_t node = stack.back();
        stack.pop_back();
        out.push_back(node);
        at = entries_[node].right;
    }
    return out;
}

int CompoundFile::findRootStream(QStringView name) const {
    for (uint32_t i : rootChildren())
        if (entries_[i].type == EntryType::Stream && entries_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

Status CompoundFile::openStream(uint32_t index, std::unique_ptr<ByteStream>& out) const {
    out.reset();
    if (index >= entries_.size() || entries_[index].type != EntryType::Stream)
        return Status::invalidInput(QStringLiteral("目录项无效"));
    const DirectoryEntry& entry = entries_[index];
    const uint64_t sectorSize = uint64_t(1) << sectorShift_;
    if (entry.size < kMiniCutoff) {
        // In the mini stream: 64-byte sectors of the root entry's data.
        std::vector<uint32_t> minis;
        const uint64_t miniCount = miniStreamSize_ >> kMiniShift;
        std::vector<uint32_t> table(
            miniFat_.begin(), miniFat_.begin() + ptrdiff_t(std::min<uint64_t>(miniFat_.size(), miniCount)));
        if (Status s = chain(table, entry.start, (entry.size + 63) >> kMiniShift, minis, "小扇区"); !s)
            return s;
        SectorStream container(*source_, sectorShift_, miniStreamSectors_, miniStreamSize_);
        std::string bytes(size_t(std::min<uint64_t>(entry.size, uint64_t(minis.size()) << kMiniShift)), '\0');
        for (size_t i = 0; i < minis.size(); ++i) {
            const size_t at = i << kMiniShift;
            if (at >= bytes.size()) break;
            const size_t want = std::min<size_t>(64, bytes.size() - at);
            if (container.readAt(uint64_t(minis[i]) << kMiniShift, bytes.data() + at, want) != want)
                return Status::ioError(QStringLiteral("读取文件失败"));
        }
        out = std::make_unique<MemoryStream>(std::move(bytes));
        return Status::ok();
    }
    std::vector<uint32_t> sectors;
    if (Status s = chain(fat_, entry.start, (entry.size + sectorSize - 1) >> sectorShift_, sectors, "数据流");
        !s)
        return s;
    out = std::make_unique<SectorStream>(*source_, sectorShift_, std::move(sectors), entry.size);
    return Status::ok();
}

bool writeSingleStream(const QString& streamName, const std::vector<std::string_view>& pieces,
                       const std::function<bool(std::string_view)>& sink) {
    constexpr uint32_t kSector = 512;
    constexpr uint32_t kPer = kSector / 4;
    uint64_t length = 0;
    for (std::string_view piece : pieces)
        length += piece.size();
    const uint64_t streamSize = std::max<uint64_t>(length, kMiniCutoff);
    const uint64_t streamSectors = (streamSize + kSector - 1) / kSector;
    // Allocation table sectors f and their index sectors d: every sector needs an entry.
    uint64_t f = 1, d = 0;
    for (;;) {
        d = f > 109 ? (f - 109 + (kPer - 1) - 1) / (kPer - 1) : 0;
        const uint64_t total = streamSectors + 1 + f + d;
        if (f * kPer >= total) break;
        ++f;
    }
    const uint32_t dirSector = uint32_t(streamSectors);
    const uint32_t firstFat = dirSector + 1;
    const uint32_t firstDifat = uint32_t(firstFat + f);

    std::string header;
    header.reserve(kSector);
    header.append("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    header.append(16, '\0'); // class id
    put16(header, 0x003E);   // minor version
    put16(header, 0x0003);   // major version 3: 512-byte sectors
    put16(header, 0xFFFE);   // byte order
    put16(header, 9);        // sector shift
    put16(header, 6);        // mini sector shift
    header.append(6, '\0');
    put32(header, 0); // directory sectors (0 in version 3)
    put32(header, uint32_t(f));
    put32(header, dirSector);
    put32(header, 0);    // transaction signature
    put32(header, 4096); // mini stream cutoff
    put32(header, kEndOfChain);
    put32(header, 0);
    put32(header, d > 0 ? firstDifat : kEndOfChain);
    put32(header, uint32_t(d));
    for (uint32_t i = 0; i < 109; ++i)
        put32(header, i < f ? firstFat + i : kFreeSect);
    if (!sink(header)) return false;

    for (std::string_view piece : pieces)
        if (!piece.empty() && !sink(piece)) return false;
    const std::string padding(size_t(streamSectors * kSector - length), '\0');
    if (!padding.empty() && !sink(padding)) return false;

    // Directory: the root, the stream, two unused entries.
    std::string dir;
    auto entry = [&](const QString& name, uint8_t type, uint32_t child, uint32_t start, uint32_t size) {
        const size_t at = dir.size();
        const int chars = std::min<int>(int(name.size()), 31);
        for (int i = 0; i < chars; ++i)
            put16(dir, name[i].unicode());
        dir.append(size_t(64 - 2 * chars), '\0');
        put16(dir, uint16_t(type == 0 ? 0 : 2 * chars + 2));
        dir.push_back(char(type));
        dir.push_back(char(type == 0 ? 0 : 1)); // black
        put32(dir, kNoStream);
        put32(dir, kNoStream);
        put32(dir, child);
        dir.append(16 + 4 + 8 + 8, '\0'); // class id, state, times
        put32(dir, start);
        put32(dir, size);
        put32(dir, 0);
        (void)at;
    };
    entry(QStringLiteral("Root Entry"), 5, 1, kEndOfChain, 0);
    entry(streamName, 2, kNoStream, 0, uint32_t(streamSize));
    entry(QString(), 0, kNoStream, 0, 0);
    entry(QString(), 0, kNoStream, 0, 0);
    if (!sink(dir)) return false;

    // The allocation table, a sector at a time.
    const uint64_t totalEntries = f * kPer;
    std::string fat;
    fat.reserve(kSector);
    for (uint64_t i = 0; i < totalEntries; ++i) {
        uint32_t v = kFreeSect;
        if (i + 1 < streamSectors)
            v = uint32_t(i + 1);
        else if (i + 1 == streamSectors || i == dirSector)
            v = kEndOfChain;
        else if (i >= firstFat && i < firstFat + f)
            v = kFatSect;
        else if (i >= firstDifat && i < firstDifat + d)
            v = kDifSect;
        put32(fat, v);
        if (fat.size() == kSector) {
            if (!sink(fat)) return false;
            fat.clear();
        }
    }
    // The index sectors: 127 allocation-table sectors each beyond the header's 109, then the next.
    for (uint64_t k = 0; k < d; ++k) {
        std::string s;
        for (uint32_t i = 0; i < kPer - 1; ++i) {
            const uint64_t fatIndex = 109 + k * (kPer - 1) + i;
            put32(s, fatIndex < f ? uint32_t(firstFat + fatIndex) : kFreeSect);
        }
        put32(s, k + 1 < d ? uint32_t(firstDifat + k + 1) : kEndOfChain);
        if (!sink(s)) return false;
    }
    return true;
}

} // namespace cfb

} // namespace quellar
