#include "workbook/containers/ZipArchive.h"

#include <QDir>
#include <QFileInfo>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <unistd.h>

namespace quellar {

namespace {

using namespace zipformat;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kInputChunk = 256 * 1024;
// The central directory of an archive within the entry limit is small; a larger one is
// refused rather than read.
constexpr uint64_t kMaxDirectorySize = 64u << 20;

uint16_t le16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint16_t(u[0] | (u[1] << 8));
}
uint32_t le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(u[0]) | (uint32_t(u[1]) << 8) | (uint32_t(u[2]) << 16) | (uint32_t(u[3]) << 24);
}
uint64_t le64(const char* p) {
    return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32);
}

QString entryName(const ZipEntry& entry) {
    return QString::fromUtf8(entry.name.data(), qsizetype(entry.name.size()));
}

} // namespace

std::string normalizeZipName(std::string_view name) {
    while (!name.empty() && (name.front() == '/' || name.front() == '\\'))
        name.remove_prefix(1);
    std::string out(name);
    for (char& c : out) {
        if (c == '\\')
            c = '/';
        else if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// ZipArchive

ZipArchive::~ZipArchive() = default;

QString ZipArchive::describeFile() const {
    return QStringLiteral("文件“%1”").arg(QDir::toNativeSeparators(path_));
}

QString ZipArchive::describe(const ZipEntry& entry) const {
    return QStringLiteral("文件“%1”中的“%2”").arg(QDir::toNativeSeparators(path_), entryName(entry));
}

Status ZipArchive::fail(const QString& message) const {
    return Status::invalidInput(describeFile() + QStringLiteral("：") + message);
}

int64_t ZipArchive::readSomeAt(uint64_t offset, char* buffer, size_t size) const {
    for (;;) {
        const ssize_t n = ::pread(fd_, buffer, size, off_t(offset));
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

bool ZipArchive::readAt(uint64_t offset, char* buffer, size_t size) const {
    while (size > 0) {
        const int64_t n = readSomeAt(offset, buffer, size);
        if (n <= 0) return false;
        offset += uint64_t(n);
        buffer += n;
        size -= size_t(n);
    }
    return true;
}

Status ZipArchive::open(const QString& path, ZipLimits limits) {
    path_ = path;
    limits_ = limits;
    entries_.clear();
    byName_.clear();
    const QFileInfo info(path);
    if (!info.exists())
        return Status::notFound(QStringLiteral("找不到文件“%1”").arg(QDir::toNativeSeparators(path)));
    if (info.isDir())
        return Status::invalidInput(
            QStringLiteral("“%1”是文件夹，不是文件").arg(QDir::toNativeSeparators(path)));
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly))
        return Status::ioError(
            QStringLiteral("无法读取文件“%1”：%2").arg(QDir::toNativeSeparators(path), file_.errorString()));
    fd_ = file_.handle();
    fileSize_ = uint64_t(file_.size());
    if (fileSize_ == 0) return fail(QStringLiteral("文件是空的（0 字节），不是工作簿"));
    if (fileSize_ < kEndRecordSize)
        return fail(QStringLiteral("文件太短，不是完整的 zip 压缩包（可能已被截断）"));

    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    const uint64_t tailSize = std::min<uint64_t>(fileSize_, kEndRecordSize + 0xFFFF);
    std::string tail(tailSize, '\0');
    if (!readAt(fileSize_ - tailSize, tail.data(), tail.size()))
        return Status::ioError(describeFile() + QStringLiteral("：读取失败"));
    int64_t endAt = -1;
    for (int64_t i = int64_t(tailSize - kEndRecordSize); i >= 0; --i) {
        if (le32(tail.data() + i) != kEndSignature) continue;
        const uint16_t commentLength = le16(tail.data() + i + 20);
        if (uint64_t(i) + kEndRecordSize + commentLength <= tailSize) {
            endAt = i;
            break;
        }
    }
    if (endAt < 0) return fail(QStringLiteral("找不到 zip 压缩包的目录（文件不完整，可能已被截断或已损坏）"));
    const char* end = tail.data() + endAt;
    const uint64_t endOffset = fileSize_ - tailSize + uint64_t(endAt);
    if (le16(end + 4) != 0 || le16(end + 6) != 0) return fail(QStringLiteral("不支持分卷的 zip 压缩包"));
    uint64_t declaredEntries = le16(end + 10);
    uint64_t directorySize = le32(end + 12);
    uint64_t directoryOffset = le32(end + 16);
    uint64_t directoryEnd = endOffset;

    if (declaredEntries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
        // ZIP64: the locator precedes the end record and points at the ZIP64 end record.
        if (endOffset >= 20) {
            char locator[20];
            if (readAt(endOffset - 20, locator, sizeof locator) && le32(locator) == kZip64LocatorSignature) {
                const uint64_t recordOffset = le64(locator + 8);
                char record[56];
                if (recordOffset + sizeof record > endOffset ||
                    !readAt(recordOffset, record, sizeof record) || le32(record) != kZip64EndSignature)
                    return fail(QStringLiteral("ZIP64 目录记录损坏"));
                declaredEntries = le64(record + 32);
                directorySize = le64(record + 40);
                directoryOffset = le64(record + 48);
                directoryEnd = recordOffset;
            }
        }
    }
    if (declaredEntries > uint64_t(limits_.maxEntries))
        return fail(QStringLiteral("压缩包中有 %1 个条目，超过了上限 %2 个，拒绝打开")
                        .arg(declaredEntries)
                        .arg(limits_.maxEntries));
    if (directoryOffset > directoryEnd || directorySize > directoryEnd - directoryOffset)
        return fail(QStringLiteral("zip 目录超出了文件末尾（文件不完整，可能已被截断）"));
    if (directorySize > kMaxDirectorySize) return fail(QStringLiteral("zip 目录太大，拒绝打开"));
    directoryOffset_ = directoryOffset;

    std::string directory(directorySize, '\0');
    if (!readAt(directoryOffset, directory.data(), directory.size()))
        return Status::ioError(describeFile() + QStringLiteral("：读取 zip 目录失败"));

    size_t at = 0;
    while (at < directory.size()) {
        if (directory.size() - at < kCentralHeaderSize ||
            le32(directory.data() + at) != kCentralHeaderSignature)
            return fail(QStringLiteral("zip 目录的第 %1 项已损坏").arg(entries_.size() + 1));
        if (entries_.size() >= size_t(limits_.maxEntries))
            return fail(QStringLiteral("压缩包中的条目超过了上限 %1 个，拒绝打开").arg(limits_.maxEntries));
        const char* h = directory.data() + at;
        ZipEntry entry;
        entry.flags = le16(h + 8);
        entry.method = le16(h + 10);
        entry.crc = le32(h + 16);
        entry.compressedSize = le32(h + 20);
        entry.size = le32(h + 24);
        const size_t nameLength = le16(h + 28), extraLength = le16(h + 30), commentLength = le16(h + 32);
        const uint16_t disk = le16(h + 34);
        entry.localHeaderOffset = le32(h + 42);
        const size_t recordSize = kCentralHeaderSize + nameLength + extraLength + commentLength;
        if (directory.size() - at < recordSize)
            return fail(QStringLiteral("zip 目录的第 %1 项已损坏").arg(entries_.size() + 1));
        entry.name.assign(h + kCentralHeaderSize, nameLength);
        // ZIP64 extended information: the 8-byte values of the fields stored as 0xFFFFFFFF.
        const char* extra = h + kCentralHeaderSize + nameLength;
        for (size_t e = 0; e + 4 <= extraLength;) {
            const uint16_t id = le16(extra + e), length = le16(extra + e + 2);
            if (e + 4 + length > extraLength) break;
            if (id == 0x0001) {
                const char* v = extra + e + 4;
                size_t left = length;
                auto take = [&](uint64_t& field) {
                    if (field != 0xFFFFFFFF) return;
                    if (left >= 8) {
                        field = le64(v);
                        v += 8;
                        left -= 8;
                    }
                };
                take(entry.size);
                take(entry.compressedSize);
                take(entry.localHeaderOffset);
            }
            e += 4 + length;
        }
        if (disk != 0 && disk != 0xFFFF) return fail(QStringLiteral("不支持分卷的 zip 压缩包"));
        const QString name = entryName(entry);
        if (entry.flags & 1)
            return fail(QStringLiteral("条目“%1”已加密，无法读取（工作簿可能设置了打开密码）").arg(name));
        std::string key = normalizeZipName(entry.name);
        if (!byName_.emplace(key, entries_.size()).second)
            return fail(QStringLiteral("压缩包中有重名的条目“%1”，拒绝打开").arg(name));
        entries_.push_back(std::move(entry));
        at += recordSize;
    }
    return Status::ok();
}

const ZipEntry* ZipArchive::find(std::string_view name) const {
    const auto it = byName_.find(normalizeZipName(name));
    return it == byName_.end() ? nullptr : &entries_[it->second];
}

Status ZipArchive::openEntry(const ZipEntry& entry, std::unique_ptr<ZipEntryStream>& stream) const {
    stream.reset();
    auto failEntry = [&](const QString& message) {
        return Status::invalidInput(describe(entry) + QStringLiteral("：") + message);
    };
    if (entry.method != 0 && entry.method != 8)
        return failEntry(QStringLiteral("不支持的压缩方式 %1").arg(entry.method));
    if (entry.size > limits_.maxEntrySize)
        return failEntry(QStringLiteral("解压后有 %1 MB，超过了上限 %2 MB，拒绝读取")
                             .arg(entry.size >> 20)
                             .arg(limits_.maxEntrySize >> 20));
    if (entry.method == 0 && entry.size != entry.compressedSize)
        return failEntry(QStringLiteral("未压缩条目的大小记录前后不一致"));
    if (entry.size > limits_.ratioFloor &&
        (entry.compressedSize == 0 || entry.size / entry.compressedSize >= limits_.maxRatio))
        return failEntry(QStringLiteral("压缩比异常（%1 字节解压为 %2 字节），疑似 zip 炸弹，拒绝读取")
                             .arg(entry.compressedSize)
                             .arg(entry.size));
    char local[kLocalHeaderSize];
    if (entry.localHeaderOffset + kLocalHeaderSize > directoryOffset_ ||
        !readAt(entry.localHeaderOffset, local, sizeof local))
        return failEntry(QStringLiteral("数据位于文件末尾之外（文件不完整，可能已被截断）"));
    if (le32(local) != kLocalHeaderSignature) return failEntry(QStringLiteral("条目头已损坏"));
    const uint64_t dataOffset =
        entry.localHeaderOffset + kLocalHeaderSize + le16(local + 26) + le16(local + 28);
    if (dataOffset > directoryOffset_ || entry.compressedSize > directoryOffset_ - dataOffset)
        return failEntry(QStringLiteral("数据位于文件末尾之外（文件不完整，可能已被截断）"));
    stream.reset(new ZipEntryStream(*this, entry, dataOffset));
    if (entry.method == 8) {
        // ISA-L's inflate: raw deflate as zip stores it, about three times as fast as zlib's.
        auto* z = new inflate_state;
        isal_inflate_init(z);
        z->crc_flag = ISAL_DEFLATE;
        stream->zstream_ = z;
        stream->inflating_ = true;
        stream->input_.reset(new char[kInputChunk]);
    }
    return Status::ok();
}

Status ZipArchive::readEntry(const ZipEntry& entry, std::string& out, uint64_t maxSize) const {
    out.clear();
    if (entry.size > maxSize)
        return Status::invalidInput(describe(entry) +
                                    QStringLiteral("：大小 %1 MB 超过了上限 %2 MB，拒绝读取")
                                        .arg(entry.size >> 20)
                                        .arg(maxSize >> 20));
    std::unique_ptr<ZipEntryStream> stream;
    if (Status s = openEntry(entry, stream); !s) return s;
    // The declared size is within maxSize and the stream never yields more than it.
    out.resize(entry.size);
    size_t filled = 0;
    for (;;) {
        char probe;
        char* target = filled < out.size() ? out.data() + filled : &probe;
        const qint64 n = stream->read(target, filled < out.size() ? qint64(out.size() - filled) : 1);
        if (n < 0) return stream->status();
        if (n == 0) break;
        filled += size_t(n);
    }
    out.resize(filled);
    return Status::ok();
}

// ---------------------------------------------------------------------------------------------
// ZipEntryStream

ZipEntryStream::ZipEntryStream(const ZipArchive& archive, const ZipEntry& entry, uint64_t dataOffset)
    : archive_(archive)
    , entry_(entry)
    , dataOffset_(dataOffset) {}

ZipEntryStream::~ZipEntryStream() {
    if (zstream_) {
        delete static_cast<inflate_state*>(zstream_);
    }
}

qint64 ZipEntryStream::fail(const QString& message) {
    status_ = Status::invalidInput(archive_.describe(entry_) + QStringLiteral("：") + message);
    ended_ = true;
    return -1;
}

qint64 ZipEntryStream::finish() {
    ended_ = true;
    if (produced_ != entry_.size)
        return fail(QStringLiteral("解压后只有 %1 字节，与声明的 %2 字节不符（文件已损坏）")
                        .arg(produced_)
                        .arg(entry_.size));
    if (crc_ != entry_.crc) return fail(QStringLiteral("CRC 校验失败（文件已损坏）"));
    return 0;
}

qint64 ZipEntryStream::read(char* buffer, qint64 max) {
    if (!status_.isOk()) return -1;
    if (ended_ || max <= 0) return 0;
    // Never hand out more than the declared size: a longer stream is a lie caught here.
    if (!inflating_) {
        const uint64_t left = entry_.size - produced_;
        if (left == 0) return finish();
        const size_t want = size_t(std::min<uint64_t>(uint64_t(max), left));
        const int64_t n = archive_.readSomeAt(dataOffset_ + consumed_, buffer, want);
        if (n < 0) return fail(QStringLiteral("读取失败"));
        if (n == 0) return fail(QStringLiteral("数据不完整（文件可能已被截断）"));
        consumed_ += uint64_t(n);
        produced_ += uint64_t(n);
        crc_ = crc32_gzip_refl(crc_, reinterpret_cast<const unsigned char*>(buffer), uint64_t(n));
        return n;
    }
    if (streamEnded_) return finish();
    auto* z = static_cast<inflate_state*>(zstream_);
    // One byte more than the declaration allows, so that a lying size shows up as output.
    const uint64_t room = entry_.size - produced_ + 1;
    const uint32_t want = uint32_t(std::min<uint64_t>({uint64_t(max), room, uint64_t(1) << 30}));
    z->next_out = reinterpret_cast<uint8_t*>(buffer);
    z->avail_out = want;
    for (;;) {
        if (z->avail_in == 0 && consumed_ < entry_.compressedSize) {
            const size_t chunk = size_t(std::min<uint64_t>(kInputChunk, entry_.compressedSize - consumed_));
            const int64_t n = archive_.readSomeAt(dataOffset_ + consumed_, input_.get(), chunk);
            if (n < 0) return fail(QStringLiteral("读取失败"));
            if (n == 0) return fail(QStringLiteral("数据不完整（文件可能已被截断）"));
            consumed_ += uint64_t(n);
            z->next_in = reinterpret_cast<uint8_t*>(input_.get());
            z->avail_in = uint32_t(n);
        }
        const uint32_t inBefore = z->avail_in;
        const int rc = isal_inflate(z);
        if (rc < 0 || rc == ISAL_NEED_DICT) return fail(QStringLiteral("压缩数据已损坏"));
        const uint32_t total = want - z->avail_out;
        if (produced_ + total > entry_.size)
            return fail(
                QStringLiteral("解压后超过了声明的 %1 字节（大小被谎报，拒绝继续）").arg(entry_.size));
        if (z->block_state == ISAL_BLOCK_FINISH) streamEnded_ = true;
        if (total > 0) {
            produced_ += total;
            crc_ = crc32_gzip_refl(crc_, reinterpret_cast<const unsigned char*>(buffer), total);
            return qint64(total);
        }
        if (streamEnded_) return finish();
        if (z->avail_in == 0 && consumed_ >= entry_.compressedSize)
            return fail(QStringLiteral("压缩数据不完整（文件可能已被截断）"));
        // No output, no input taken and input left: the stream cannot go on.
        if (z->avail_in > 0 && z->avail_in == inBefore) return fail(QStringLiteral("压缩数据已损坏"));
    }
}

// ---------------------------------------------------------------------------------------------
// ReadAheadSource

struct ReadAheadSource::State {
    struct Chunk {
        std::unique_ptr<char[]> data;
        size_t size = 0;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Chunk> filled; // in order, waiting for the reader
    std::vector<Chunk> free;  // empty buffers for the worker
    Chunk current;            // the chunk being handed out
    size_t position = 0;
    bool ended = false; // the worker met the end (or an error) and stopped
    bool failed = false;
    bool stopping = false;
    std::thread worker;
};

ReadAheadSource::ReadAheadSource(ByteSource& inner, size_t chunkSize, int chunks)
    : state_(std::make_unique<State>())
    , inner_(inner) {
    for (int i = 0; i < chunks; ++i)
        state_->free.push_back({std::unique_ptr<char[]>(new char[chunkSize]), 0});
    State* st = state_.get();
    st->worker = std::thread([st, &inner, chunkSize] {
        // An exception must not leave the thread: it ends the reading as a failed read.
        try {
            for (;;) {
                State::Chunk chunk;
                {
                    std::unique_lock lock(st->mutex);
                    st->changed.wait(lock, [&] { return st->stopping || !st->free.empty(); });
                    if (st->stopping) return;
                    chunk = std::move(st->free.back());
                    st->free.pop_back();
                }
                chunk.size = 0;
                bool end = false, failed = false;
                while (chunk.size < chunkSize) {
                    const qint64 n =
                        inner.read(chunk.data.get() + chunk.size, qint64(chunkSize - chunk.size));
                    if (n < 0) {
                        failed = true;
                        break;
                    }
                    if (n == 0) {
                        end = true;
                        break;
                    }
                    chunk.size += size_t(n);
                }
                std::lock_guard lock(st->mutex);
                if (chunk.size > 0)
                    st->filled.push_back(std::move(chunk));
                else
                    st->free.push_back(std::move(chunk));
                if (end || failed) {
                    st->ended = true;
                    st->failed = failed;
                    st->changed.notify_all();
                    return;
                }
                st->changed.notify_all();
            }
        } catch (...) {
            std::lock_guard lock(st->mutex);
            st->ended = st->failed = true;
            st->changed.notify_all();
        }
    });
}

ReadAheadSource::~ReadAheadSource() {
    stop();
}

void ReadAheadSource::stop() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    if (state_->worker.joinable()) state_->worker.join();
}

qint64 ReadAheadSource::read(char* buffer, qint64 max) {
    State& st = *state_;
    if (st.position >= st.current.size) {
        std::unique_lock lock(st.mutex);
        if (st.current.data) {
            st.current.size = 0;
            st.free.push_back(std::move(st.current));
            st.changed.notify_all();
        }
        st.changed.wait(lock, [&] { return !st.filled.empty() || st.ended || st.stopping; });
        if (st.filled.empty()) return st.failed ? -1 : 0;
        st.current = std::move(st.filled.front());
        st.filled.pop_front();
        st.position = 0;
    }
    const size_t n = std::min(size_t(max), st.current.size - st.position);
    std::memcpy(buffer, st.current.data.get() + st.position, n);
    st.position += n;
    return qint64(n);
}

QString ReadAheadSource::errorString() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended ? inner_.errorString() : QString();
}

} // namespace quellar
