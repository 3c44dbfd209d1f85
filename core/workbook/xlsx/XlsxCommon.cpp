// What the .xlsx reader and writer share (ISO dates, the reader's switches) and the text decoding of
// the reader's parts.

#include "workbook/xlsx/XlsxReading.h"

#include "base/ExcelDate.h"

#include <atomic>
#include <cmath>
#include <string>

namespace quellar {

namespace xlsx {

namespace {

bool takeNumber(std::string_view& s, int digits, int& out) {
    if (s.size() < size_t(digits)) return false;
    out = 0;
    for (int i = 0; i < digits; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    s.remove_prefix(size_t(digits));
    return true;
}

} // namespace

bool isoDateToSerial(std::string_view text, double& serial) {
    std::string_view s = text;
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
    double fraction = 0;
    const bool hasDate = s.size() >= 10 && s[4] == '-';
    if (hasDate) {
        if (!takeNumber(s, 4, year) || s.empty() || s[0] != '-') return false;
        s.remove_prefix(1);
        if (!takeNumber(s, 2, month) || s.empty() || s[0] != '-') return false;
        s.remove_prefix(1);
        if (!takeNumber(s, 2, day)) return false;
        if (month < 1 || month > 12 || day < 1 || day > 31) return false;
        if (!s.empty() && (s[0] == 'T' || s[0] == ' '))
            s.remove_prefix(1);
        else if (!s.empty() && s[0] != 'Z')
            return false;
    }
    if (!s.empty() && s[0] != 'Z') {
        if (!takeNumber(s, 2, hour) || s.empty() || s[0] != ':') return false;
        s.remove_prefix(1);
        if (!takeNumber(s, 2, minute)) return false;
        if (!s.empty() && s[0] == ':') {
            s.remove_prefix(1);
            if (!takeNumber(s, 2, second)) return false;
            if (!s.empty() && s[0] == '.') {
                size_t n = 1;
                while (n < s.size() && s[n] >= '0' && s[n] <= '9')
                    ++n;
                fraction = std::strtod(std::string(s.substr(0, n)).c_str(), nullptr);
                s.remove_prefix(n);
            }
        }
        if (hour > 23 || minute > 59 || second > 60) return false;
    }
    if (!s.empty() && s != "Z") return false;
    const int64_t days = hasDate ? exceldate::serialFromCivil(year, unsigned(month), unsigned(day)) : 0;
    serial = double(days) + (hour * 3600.0 + minute * 60.0 + second + fraction) / 86400.0;
    return true;
}

namespace {
std::atomic<bool> plainCells{true};
} // namespace

void setPlainCellPath(bool enabled) {
    plainCells.store(enabled, std::memory_order_relaxed);
}

bool plainCellPath() {
    return plainCells.load(std::memory_order_relaxed);
}

namespace {
std::atomic<size_t> pieceBytes{RowPieces().pieceBytes};
std::atomic<uint64_t> pieceFloor{RowPieces().floor};
} // namespace

void setRowPieces(RowPieces pieces) {
    pieceBytes.store(pieces.pieceBytes, std::memory_order_relaxed);
    pieceFloor.store(pieces.floor, std::memory_order_relaxed);
}

RowPieces rowPieces() {
    return RowPieces{pieceBytes.load(std::memory_order_relaxed), pieceFloor.load(std::memory_order_relaxed)};
}

namespace detail {

// Text from an OOXML string: UTF-8 with _xHHHH_ escapes for characters XML cannot carry.
SharedText ooxmlText(std::string_view utf8) {
    if (utf8.find("_x") == std::string_view::npos) return sharedTextFromUtf8(utf8);
    const QString in = qstr(utf8);
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == u'_' && i + 6 < in.size() && in[i + 1] == u'x' && in[i + 6] == u'_') {
            bool ok = false;
            const uint code = in.mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(char16_t(code));
                i += 6;
                continue;
            }
        }
        out += in[i];
    }
    return SharedText(out);
}

} // namespace detail

} // namespace xlsx

} // namespace quellar
