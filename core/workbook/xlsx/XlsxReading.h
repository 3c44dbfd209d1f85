#pragma once
// What the files of the .xlsx reader share: XlsxReader.cpp reads the package (relationships,
// the workbook part, shared strings) and runs the read, XlsxStyles.cpp reads the theme and
// styles.xml, XlsxSheetReader.cpp reads the worksheet parts. Private to those files.

#include "workbook/RangeReader.h"
#include "workbook/Workbook.h"
#include "workbook/containers/XmlScanner.h"
#include "workbook/containers/ZipArchive.h"
#include "workbook/xlsx/XlsxFormat.h"

#include "base/CellOps.h"
#include "base/SharedText.h"
#include "base/Status.h"
#include "base/TextIO.h"

#include <fast_float/fast_float.h>

#include <QString>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quellar::xlsx::detail {

// Small value parsers, inline because the sheet reader calls them for every cell ---------------

inline QString qstr(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

inline bool parseUnsigned(std::string_view s, uint64_t& out) {
    if (s.empty() || s.size() > 18) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    out = v;
    return true;
}

inline int toInt(std::string_view s, int fallback) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    int v = 0;
    bool negative = false;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i == s.size()) return fallback;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return fallback;
        if (v > 100000000) return fallback;
        v = v * 10 + (s[i] - '0');
    }
    return negative ? -v : v;
}

inline bool parseDouble(std::string_view s, double& out) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    if (s.empty()) return false;
    const char* begin = s.data();
    if (*begin == '+') ++begin;
    double v = 0;
    const auto r = fast_float::from_chars(begin, s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

inline double toDouble(std::string_view s, double fallback) {
    double v;
    return parseDouble(s, v) ? v : fallback;
}

inline bool isTrue(std::string_view s) {
    return s == "1" || s == "true" || s == "on";
}

inline bool isErrorLiteral(std::string_view s) {
    return s == "#N/A" || s == "#DIV/0!" || s == "#VALUE!" || s == "#REF!" || s == "#NAME?" || s == "#NUM!" ||
           s == "#NULL!";
}

// "B3" for messages, from the 0-based row and column.
inline QString cellName(int32_t row, int32_t column) {
    return columnAddress(column + 1, row + 1);
}

// Text from an OOXML string: UTF-8 with _xHHHH_ escapes for characters XML cannot carry.
SharedText ooxmlText(std::string_view utf8);

// Colours (XlsxStyles.cpp) ----------------------------------------------------------------------

struct ColorSpec {
    bool set = false;
    bool automatic = false;
    uint32_t rgb = 0;
    int paletteIndex = 0; // when it came from the legacy palette, its 1-based palette index
    int indexed = -1;     // a legacy palette index still to be looked up (see ColorContext::finish)
    double tint = 0;
};

struct ColorContext {
    std::vector<uint32_t> indexed; // a custom palette from styles.xml, when given
    std::array<uint32_t, 12> theme{0xFFFFFF, 0x000000, 0xE7E6E6, 0x44546A, 0x4472C4, 0xED7D31,
                                   0xA5A5A5, 0xFFC000, 0x5B9BD5, 0x70AD47, 0x0563C1, 0x954F72};

    // The colour of a <color>, <fgColor>, <bgColor> or <rgbColor> element.
    ColorSpec read(const XmlScanner& sc) const;
    // Looks up a legacy palette index once the part's own palette (which follows the fonts
    // and fills) is known.
    void finish(ColorSpec& c) const;
};

// The reader -----------------------------------------------------------------------------------

struct Relationship {
    std::string type;   // the last segment of the relationship type ("worksheet", "styles", ...)
    std::string target; // resolved part name, without a leading "/"
    bool external = false;
};

// One cell format as cells use it: the workbook style and whether it shows a date.
struct XfInfo {
    uint32_t style = 0;
    bool isDate = false;
};

struct SheetInfo {
    QString name;
    std::string part;
    bool hidden = false;
};

// A part this large is inflated on a second thread while it is parsed.
constexpr uint64_t kReadAheadFloor = 4u << 20;
constexpr size_t kMaxSharedStrings = size_t(32) << 20;
// A string table this large is read on its own thread while the first sheet is read.
constexpr uint64_t kParallelStringsFloor = 8u << 20;

// A cell whose shared-string index is still to be looked up holds the index + 1 as the
// placeholder of an empty value (CellValue::fromPlaceholder).

struct XfSpec;
struct StyleRecords;

class XlsxReader {
public:
    XlsxReader(const QString& path, Workbook& book, SheetTableRequest* request = nullptr)
        : path_(path)
        , book_(book)
        , request_(request) {}
    Status run();

private:
    // Runs `body` over the XML of a part; turns scanner and stream failures into a Status
    // naming the file and the part.
    template <typename Body> Status scanPart(const ZipEntry& entry, Body body) const;
    Status partError(const ZipEntry& entry, const QString& message) const {
        return Status::invalidInput(zip_.describe(entry) + QStringLiteral("：") + message);
    }

    // XlsxReader.cpp: the package.
    Status readRelationships(std::string_view part, std::unordered_map<std::string, Relationship>& out) const;
    Status readWorkbookPart(const ZipEntry& entry, std::vector<std::pair<SheetInfo, std::string>>& sheets,
                            int& activeTab, std::map<int, QString>& printTitles);
    Status readSharedStrings(const ZipEntry& entry, std::vector<SharedText>& out) const;
    Status readTableSheet(const std::vector<SheetInfo>& sheets, const ZipEntry* stringsEntry);
    void setActiveSheet(const std::vector<SheetInfo>& sheets, const std::vector<int>& tabOfSheet,
                        int activeTab);
    void setPrintTitles(size_t sheet, int tab, const std::map<int, QString>& printTitles);

    // XlsxStyles.cpp: theme and styles.
    Status readTheme(const ZipEntry& entry);
    class StylePart;
    Status readStyles(const ZipEntry& entry);
    XfInfo cellFormatOf(const XfSpec& spec, const StyleRecords& records);

    // XlsxSheetReader.cpp: worksheets.
    class SheetPart;
    // With `stream`, rows go there as they are read; `refused` tells when the stream would not
    // take them (the sheet must then be read again without it).
    Status readSheet(const ZipEntry& entry, Sheet& sheet, const std::vector<SharedText>* strings,
                     UsedRangeStream* stream = nullptr, bool* refused = nullptr);
    Status resolvePendingStrings(const ZipEntry& entry, Sheet& sheet,
                                 const std::vector<SharedText>& strings) const;

    QString path_;
    Workbook& book_;
    SheetTableRequest* request_;
    ZipArchive zip_;
    bool date1904_ = false;
    ColorContext colors_;
    std::vector<XfInfo> xfs_{XfInfo{}};
    bool haveStyles_ = false;
    std::atomic<int64_t> cells_{0};
};

template <typename Body> Status XlsxReader::scanPart(const ZipEntry& entry, Body body) const {
    std::unique_ptr<ZipEntryStream> stream;
    if (Status s = zip_.openEntry(entry, stream); !s) return s;
    // A large part is inflated on a second thread while this one parses it.
    std::unique_ptr<ReadAheadSource> ahead;
    if (entry.size > kReadAheadFloor) ahead = std::make_unique<ReadAheadSource>(*stream);
    XmlScanner sc(ahead ? static_cast<ByteSource&>(*ahead) : *stream);
    Status result = body(sc);
    if (ahead) ahead->stop(); // the stream's status is settled from here on
    // The first fault in the part's bytes is the one told. A fault of the document met before
    // the stream failed wins, even when the inflating thread has already run into the
    // stream's fault further on, so the message does not depend on timing.
    if (sc.hasError() && sc.sourceFailed() && !stream->status()) return stream->status();
    if (!result) return result;
    if (sc.hasError()) return partError(entry, sc.status().message());
    return result;
}

} // namespace quellar::xlsx::detail
