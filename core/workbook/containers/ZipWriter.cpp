#include "workbook/containers/ZipWriter.h"

#include "workbook/containers/ZipArchive.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <new>
#include <stdexcept>

namespace quellar {

namespace {

using namespace zipformat;
constexpr uint16_t kStreamedFlag = 0x0008; // CRC and sizes in a data descriptor after the data
constexpr uint16_t kDosDate = 0x0021;      // 1980-01-01, as Excel's own packages carry
constexpr uint32_t kMax32 = 0xFFFFFFFFu;
// ISA-L takes at most 4 GB of input per call; larger pieces go in parts.
constexpr size_t kMaxDeflateInput = size_t(1) << 30;

void le16(std::string& out, uint16_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}
void le32(std::string& out, uint32_t v) {
    le16(out, uint16_t(v & 0xFFFF));
    le16(out, uint16_t(v >> 16));
}
void le64(std::string& out, uint64_t v) {
    le32(out, uint32_t(v & kMax32));
    le32(out, uint32_t(v >> 32));
}

size_t levelBufferSize(int level) {
    switch (level) {
    case 0:
        return ISAL_DEF_LVL0_DEFAULT;
    case 1:
        return ISAL_DEF_LVL1_DEFAULT;
    case 2:
        return ISAL_DEF_LVL2_DEFAULT;
    default:
        return ISAL_DEF_LVL3_DEFAULT;
    }
}

} // namespace

void RawBuffer::grow(size_t room) {
    const size_t capacity = std::max({size_t(64) << 10, 2 * capacity_, size_ + room});
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
}

uint32_t combineCrc(uint32_t first, uint32_t second, uint64_t secondSize) {
    return uint32_t(crc32_combine64(first, second, z_off64_t(secondSize)));
}

PieceDeflater::PieceDeflater(int level)
    : level_(std::clamp(level, 0, int(ISAL_DEF_MAX_LEVEL)))
    , levelBufferSize_(levelBufferSize(level_)) {}

PieceDeflater::~PieceDeflater() = default;

void PieceDeflater::deflate(std::string_view in, bool last, DeflatedPiece& out) {
    if (!levelBuffer_) levelBuffer_.reset(new uint8_t[levelBufferSize_]);
    const uint32_t crc =
        uint32_t(crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(in.data()), in.size()));
    out.crc = out.size == 0 ? crc : combineCrc(out.crc, crc, in.size());
    out.size += in.size();
    isal_zstream z;
    isal_deflate_init(&z);
    z.level = uint32_t(level_);
    z.level_buf = levelBuffer_.get();
    z.level_buf_size = uint32_t(levelBufferSize_);
    z.gzip_flag = IGZIP_DEFLATE;
    size_t offset = 0;
    for (;;) {
        const size_t chunk = std::min(in.size() - offset, kMaxDeflateInput);
        const bool final = offset + chunk == in.size();
        z.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(in.data() + offset));
        z.avail_in = uint32_t(chunk);
        z.end_of_stream = last && final ? 1 : 0;
        // A piece that does not end the stream ends on a byte boundary with no look-back into
        // it, so the next piece, deflated on its own, follows it directly.
        z.flush = final && !last ? FULL_FLUSH : NO_FLUSH;
        do {
            const size_t room = std::max<size_t>(size_t(64) << 10, z.avail_in / 4 + 1024);
            char* at = out.data.reserve(room);
            z.next_out = reinterpret_cast<uint8_t*>(at);
            z.avail_out = uint32_t(room);
            if (isal_deflate(&z) != COMP_OK) throw std::runtime_error("isal_deflate");
            out.data.commit(at + (room - z.avail_out));
        } while (z.avail_in > 0 || z.avail_out == 0 ||
                 (z.end_of_stream && z.internal_state.state != ZSTATE_END));
        offset += chunk;
        if (final) break;
    }
}

ZipWriter::ZipWriter(const QString& path)
    : out_(path) {}

Status ZipWriter::open() {
    return out_.open();
}

void ZipWriter::put(std::string_view bytes) {
    out_.append(bytes);
    written_ += bytes.size();
}

void ZipWriter::localHeader(const Entry& entry) {
    std::string h;
    le32(h, kLocalHeaderSignature);
    le16(h, entry.zip64 ? 45 : 20);
    le16(h, entry.streamed ? kStreamedFlag : 0);
    le16(h, 8); // deflate
    le16(h, 0);
    le16(h, kDosDate);
    le32(h, entry.streamed ? 0 : entry.crc);
    le32(h, entry.zip64 ? kMax32 : uint32_t(entry.compressedSize));
    le32(h, entry.zip64 ? kMax32 : uint32_t(entry.size));
    le16(h, uint16_t(entry.name.size()));
    le16(h, entry.zip64 ? 20 : 0);
    h += entry.name;
    if (entry.zip64) { // a streamed entry's sizes follow in its descriptor
        le16(h, 0x0001);
        le16(h, 16);
        le64(h, entry.streamed ? 0 : entry.size);
        le64(h, entry.streamed ? 0 : entry.compressedSize);
    }
    put(h);
}

void ZipWriter::addEntry(std::string_view name, std::string_view data) {
    piece_.clear();
    deflater_.deflate(data, true, piece_);
    Entry entry;
    entry.name = std::string(name);
    entry.offset = written_;
    entry.crc = piece_.crc;
    entry.size = data.size();
    entry.compressedSize = piece_.data.size();
    entry.zip64 = entry.size >= kZip64Size || entry.compressedSize >= kZip64Size;
    localHeader(entry);
    put(piece_.data.view());
    entries_.push_back(std::move(entry));
}

void ZipWriter::beginEntry(std::string_view name, bool zip64) {
    Entry entry;
    entry.name = std::string(name);
    entry.offset = written_;
    entry.streamed = true;
    entry.zip64 = zip64;
    localHeader(entry);
    entries_.push_back(std::move(entry));
    open_ = true;
}

void ZipWriter::appendPiece(const DeflatedPiece& piece) {
    Entry& entry = entries_.back();
    entry.crc = entry.size == 0 ? piece.crc : combineCrc(entry.crc, piece.crc, piece.size);
    entry.size += piece.size;
    entry.compressedSize += piece.data.size();
    put(piece.data.view());
}

void ZipWriter::endEntry() {
    Entry& entry = entries_.back();
    open_ = false;
    std::string d;
    le32(d, kDescriptorSignature);
    le32(d, entry.crc);
    if (entry.zip64) {
        le64(d, entry.compressedSize);
        le64(d, entry.size);
    } else {
        le32(d, uint32_t(entry.compressedSize));
        le32(d, uint32_t(entry.size));
    }
    put(d);
}

void ZipWriter::centralHeader(std::string& out, const Entry& entry) const {
    // ZIP64 extended information holds, in this order, the values too large for their field.
    std::string extra;
    const bool bigSize = entry.size >= kMax32, bigCompressed = entry.compressedSize >= kMax32,
               bigOffset = entry.offset >= kMax32;
    if (bigSize) le64(extra, entry.size);
    if (bigCompressed) le64(extra, entry.compressedSize);
    if (bigOffset) le64(extra, entry.offset);
    const bool zip64 = entry.zip64 || !extra.empty();
    le32(out, kCentralHeaderSignature);
    le16(out, zip64 ? 45 : 20);
    le16(out, zip64 ? 45 : 20);
    le16(out, entry.streamed ? kStreamedFlag : 0);
    le16(out, 8);
    le16(out, 0);
    le16(out, kDosDate);
    le32(out, entry.crc);
    le32(out, bigCompressed ? kMax32 : uint32_t(entry.compressedSize));
    le32(out, bigSize ? kMax32 : uint32_t(entry.size));
    le16(out, uint16_t(entry.name.size()));
    le16(out, uint16_t(extra.empty() ? 0 : extra.size() + 4));
    le16(out, 0); // comment
    le16(out, 0); // disk
    le16(out, 0); // internal attributes
    le32(out, 0); // external attributes
    le32(out, bigOffset ? kMax32 : uint32_t(entry.offset));
    out += entry.name;
    if (!extra.empty()) {
        le16(out, 0x0001);
        le16(out, uint16_t(extra.size()));
        out += extra;
    }
}

Status ZipWriter::finish() {
    if (open_) endEntry();
    const uint64_t directoryOffset = written_;
    std::string directory;
    for (const Entry& entry : entries_)
        centralHeader(directory, entry);
    put(directory);
    const uint64_t directorySize = directory.size();
    const uint64_t count = entries_.size();
    const bool zip64 = count >= 0xFFFF || directoryOffset >= kMax32 || directorySize >= kMax32;
    std::string end;
    if (zip64) {
        const uint64_t recordOffset = written_;
        le32(end, kZip64EndSignature);
        le64(end, 44); // the record's size after this field
        le16(end, 45);
        le16(end, 45);
        le32(end, 0);
        le32(end, 0);
        le64(end, count);
        le64(end, count);
        le64(end, directorySize);
        le64(end, directoryOffset);
        le32(end, kZip64LocatorSignature);
        le32(end, 0);
        le64(end, recordOffset);
        le32(end, 1);
    }
    le32(end, kEndSignature);
    le16(end, 0);
    le16(end, 0);
    le16(end, zip64 ? 0xFFFF : uint16_t(count));
    le16(end, zip64 ? 0xFFFF : uint16_t(count));
    le32(end, zip64 ? kMax32 : uint32_t(directorySize));
    le32(end, zip64 ? kMax32 : uint32_t(directoryOffset));
    le16(end, 0);
    put(end);
    return out_.commit();
}

} // namespace quellar
