#pragma once
// What reading and rewriting XML Spreadsheet 2003 (SpreadsheetML) documents share below the
// workbook model: the one rule that places the Cells of a Row, and the byte handling of a
// working file that is rewritten in place (read as UTF-8, tags found in the bytes, the Table
// tag's counts set, text appended as UTF-16LE).

#include "workbook/Workbook.h"
#include "workbook/containers/XmlScanner.h"

#include "base/Status.h"
#include "base/TextIO.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quellar {

// Where the Cells of a SpreadsheetML Row sit, for readers and writers alike. A Cell takes the
// column its ss:Index names (1-based) or else the column right after the previous Cell and the
// columns that Cell merges across (ss:MergeAcross). An ss:Index may not go back to or into the
// previous Cell, and no Cell reaches past column XFD. A writer gives a Cell an ss:Index only
// where it does not sit right after the previous one. Columns here are 1-based.
class CellPlacement {
public:
    // The column the next Cell takes when it has no ss:Index.
    int64_t next() const { return next_; }
    // The column a Cell takes: its ss:Index, or next() when it has none.
    int64_t columnOf(std::optional<int64_t> index) const { return index ? *index : next_; }
    // False when a Cell at `column` goes back to or into the previous Cell.
    bool inOrder(int64_t column) const { return column >= next_; }
    // False when a Cell at `column` merging `across` more columns is not inside the grid.
    static bool fits(int64_t column, int64_t across) {
        return column >= 1 && across >= 0 && column + across <= kMaxColumns;
    }
    // Whether a writer must give a Cell at `column` an ss:Index.
    bool needsIndex(int64_t column) const { return column != next_; }
    // Records a Cell at `column` merging `across` more columns.
    void take(int64_t column, int64_t across) { next_ = column + across + 1; }

private:
    int64_t next_ = 1;
};

namespace spreadsheetml {

// The element or attribute named `local` after any prefix ("Row", "ss:Row").
inline bool hasLocalName(std::string_view qualified, std::string_view local) {
    const size_t colon = qualified.rfind(':');
    return (colon == std::string_view::npos ? qualified : qualified.substr(colon + 1)) == local;
}
bool hasLocalName(const QString& qualified, QStringView local);

// The value of a Data element of type Number (and of the numeric attributes), in whatever
// form another program wrote it: blanks around and a leading "+" are ignored, and any decimal
// or exponent form reads (10000000, 1E+7, 1e+07, 1.5e-3, .5). False for anything else
// (12a, 1,234, an empty text) and for values beyond the double range.
bool readNumber(std::string_view text, double& value);

// The end of the start tag that begins at `start` (just past its '>'), skipping quoted
// attribute values, which may hold a '>'; -1 when the tag does not end.
qint64 tagEnd(const QByteArray& bytes, qint64 start);

// Drops the encoding named in the XML declaration at the start of `text`: the text is UTF-8
// once read, and UTF-16 once written, so the name would be wrong either way.
void dropDeclaredEncoding(QString& text);

// A working file as UTF-8 bytes: UTF-8 as it is (without a byte-order mark), UTF-16 and other
// declared encodings converted. Files above XMLTools::kMaxDocumentBytes are refused unread.
Result<QByteArray> readUtf8(const QString& path);

// Appends text to the output as UTF-16LE; the second form converts bytes [begin, end) of
// UTF-8 in slices, so a long stretch is never held twice over in memory.
void appendUtf16(OutputFile& out, QStringView text);
void appendUtf16(OutputFile& out, const QByteArray& utf8, qint64 begin, qint64 end);

// The Table start tag with ss:ExpandedRowCount set to `rows`, and ss:ExpandedColumnCount
// (when the tag has it) raised to at least `columns`, so a cell added to a copied row beyond
// the old width is still inside the table.
QString tableTagWithCounts(const QByteArray& tag, int64_t rows, int columns);

// Bytes handed out from a few stretches of memory one after the other, so a run of rows can
// be read as one element without being copied into one.
class ConcatenatedSource final : public ByteSource {
public:
    explicit ConcatenatedSource(std::vector<std::string_view> pieces)
        : pieces_(std::move(pieces)) {}
    qint64 read(char* buffer, qint64 max) override;

private:
    std::vector<std::string_view> pieces_;
    size_t index_ = 0;
    size_t offset_ = 0;
};

} // namespace spreadsheetml

} // namespace quellar
