#pragma once
// Text plumbing shared by the file formats: a buffered output file that is written to a
// temporary file and renamed into place on commit (QSaveFile), fast UTF-16 -> UTF-8
// appending with the escapes XML, JSON and CSV need, and UTF-8 -> SharedText decoding.
//
// OutputFile collects bytes in a buffer of about 1 MB and writes it out whenever it fills,
// so a million-row workbook is never built as one string; blocks of 64 KB and more go
// straight to the file. On Linux the file is handed to the disk every 32 MB while writing goes
// on, so the flush to disk on commit does not wait for the whole file. An output that is
// destroyed without commit() leaves no file behind and any earlier file untouched. Write
// failures are remembered and reported by commit(), naming the path; failed() lets a long
// writer stop early.

#include "base/SharedText.h"
#include "base/Status.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

namespace quellar {

class OutputFile {
public:
    explicit OutputFile(const QString& path);
    // Fails when the file cannot be created (missing folder, no permission).
    Status open();
    void append(std::string_view bytes) {
        if (bytes.size() >= kDirectSize) return appendDirect(bytes);
        buffer_.append(bytes);
        if (buffer_.size() >= kFlushSize) flush();
    }
    void append(char c) {
        buffer_.push_back(c);
        if (buffer_.size() >= kFlushSize) flush();
    }
    // The direct buffer, for appenders below; call maybeFlush() afterwards.
    std::string& buffer() { return buffer_; }
    void maybeFlush() {
        if (buffer_.size() >= kFlushSize) flush();
    }
    // True once a write has failed; everything appended afterwards is dropped.
    bool failed() const { return failed_; }
    // Writes the rest and renames the temporary file into place.
    Status commit();

private:
    static constexpr size_t kFlushSize = 1 << 20;
    static constexpr size_t kDirectSize = 64 * 1024;
    static constexpr qint64 kSyncStep = 32 << 20;
    void flush();
    void appendDirect(std::string_view bytes);
    void writeAll(const char* data, size_t size);

    QString path_;
    QSaveFile file_;
    std::string buffer_;
    bool failed_ = false;
    QString reason_;     // why the first failed write failed
    qint64 written_ = 0; // bytes handed to the file so far
    qint64 synced_ = 0;  // of which the disk was asked to write
};

// How characters are escaped while appending UTF-16 text as UTF-8.
enum class TextEscape {
    None,         // as is (lone surrogates become U+FFFD)
    XmlText,      // & < > escaped; line breaks as character references; other control characters dropped
    XmlAttribute, // as XmlText, plus " and tab
    Json,         // " \ and control characters escaped (\n, \u001f ...)
};

void appendUtf8(std::string& out, QStringView text, TextEscape escape = TextEscape::None);
// The same conversion into raw memory, for writers that reserve room once per piece: writes at
// most kUtf8BytesPerUnit bytes per UTF-16 code unit from `out` on and returns the end.
constexpr size_t kUtf8BytesPerUnit = 6; // "&quot;", "\u001f"
char* writeUtf8(char* out, const char16_t* text, size_t size, TextEscape escape);
inline void appendUtf8(std::string& out, const SharedText& text, TextEscape escape = TextEscape::None) {
    appendUtf8(out, text.qview(), escape);
}
inline void appendUtf8(std::string& out, const QString& text, TextEscape escape = TextEscape::None) {
    appendUtf8(out, QStringView(text), escape);
}

// Reads an open file from where it stands to its end into `bytes`, in pieces of 16 MB with a
// cancellation point before each (a working file of most of a gigabyte takes a while from a cold
// disk, and a cancel must not wait for it). False when the file could not be read whole.
bool readRestOfFile(QFile& file, QByteArray& bytes);

// Decodes UTF-8 (invalid sequences become U+FFFD) without an intermediate QString.
SharedText sharedTextFromUtf8(std::string_view utf8);

// The pages and files the program writes for other programs to read (report.htm, the form
// pages, XML Spreadsheet files): `text` as UTF-16LE with a byte-order mark and a final
// CR LF. Written through OutputFile, so a failure leaves any earlier file intact; the
// failure is returned, naming the path.
Status writeUtf16TextFile(const QString& path, const QString& text);
// The exact bytes writeUtf16TextFile writes.
QByteArray encodeUtf16Text(const QString& text);

// How numbers are written where another program reads them back (the XML Spreadsheet
// files, the window's working files among them): the shortest digits that read back as the
// same double, positional wherever the magnitude is from 10^-6 up to below 10^21, as
// spreadsheet programs show such numbers: 10000000 (never 1e+07), 1000000000000000, 0.00001,
// 0.30000000000000004, -2500. Beyond that range, where positional digits would run into long
// rows of zeros, the exponent form: 1e+21, 1e-07, 5e-324. Zero is "0", negative zero "-0".
// The range is the one in which JavaScript writes numbers positionally; LibreOffice reads
// round amounts such as 1e+15 as 999999999999999.9 but 1000000000000000 exactly. Readers of
// these files accept either form in any case (1E+7, 1.5e-3).
inline constexpr double kPositionalFloor = 1e-6;
inline constexpr double kPositionalCeiling = 1e21;
std::string_view shortestNumberText(double value, char (&buffer)[32]);
// A number as m / 10^k with the smallest k from 0 to 4 and |m| below 2^53, when m / 10^k
// worked out in doubles gives `value` back bit for bit; false for other numbers, NaN and
// infinities. That quotient is the double nearest the decimal m·10^-k, which is also what
// reading that decimal gives. -0 gives m = 0 and loses its sign.
bool decimalParts(double value, int64_t& m, int& k);
// The powers of ten decimalParts divides by, 10^0 to 10^4.
inline constexpr double kDecimalScales[] = {1, 10, 100, 1000, 10000};
// The same text written at `out` (room for 32 bytes); returns the end.
char* writeShortestNumber(char* out, double value);

} // namespace quellar
