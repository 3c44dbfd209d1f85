#include "components/ExcelColumns.h"

#include "workbook/Workbook.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace quellar {

namespace {

qreal widestDigit(const QFontMetricsF& metrics) {
    qreal widest = 0;
    for (char16_t digit = u'0'; digit <= u'9'; ++digit)
        widest = std::max(widest, metrics.horizontalAdvance(QChar(digit)));
    return widest;
}

QFont unspaced(QFont font) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    return font;
}

// Points to pixels as the sheet's own files count them (96 per inch).
constexpr double kPixelsPerPoint = 96.0 / 72.0;

} // namespace

int maxDigitWidth(const QFont& font) {
    // The font's own proportions at exactly 96 pixels per inch, as Excel lays out a sheet:
    // measured large (the screen rounds small sizes to whole pixels) and scaled down.
    constexpr int kLarge = 2048;
    QFont large = unspaced(font);
    large.setPixelSize(kLarge);
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : 11;
    const double widest = widestDigit(QFontMetricsF(large)) / kLarge * points * kPixelsPerPoint;
    return std::max(1, int(std::lround(widest)));
}

QFont excelGridFont(QFont font) {
    font = unspaced(font);
    const qreal drawn = widestDigit(QFontMetricsF(font));
    const qreal spacing = maxDigitWidth(font) - drawn;
    // Only the rounding to whole pixels is made up for, never a different font's width.
    if (drawn > 0 && std::abs(spacing) < 1.0) font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

int defaultDigitWidth(const Workbook& book) {
    QFont font;
    font.setFamilies({book.defaultFontName});
    font.setPointSizeF(book.defaultFontSize > 0 ? book.defaultFontSize : 11);
    return maxDigitWidth(font);
}

void rescaleCharacterWidths(Workbook& book, int mdw) {
    if (mdw == 7 || mdw < 1) return;
    const double standard = 48; // points: 8 characters at digit width 7 (64 pixels)
    auto rescale = [mdw](double points) {
        if (!(points > 0)) return points;
        // The width the file gave, in characters, from the pixels digit width 7 made of it.
        const double pixels7 = std::round(points * kPixelsPerPoint);
        return fileWidthToPixels(pixels7 / 7.0, mdw) / kPixelsPerPoint;
    };
    for (Sheet& sheet : book.sheets) {
        if (std::abs(sheet.defaultColumnWidth - standard) < 0.01)
            sheet.defaultColumnWidth = std::ceil((8.0 * mdw + 5) / 8) * 8 / kPixelsPerPoint;
        else
            sheet.defaultColumnWidth = rescale(sheet.defaultColumnWidth);
        for (auto& [column, width] : sheet.columnWidths)
            width = rescale(width);
    }
}

int fileWidthToPixels(double width, int mdw) {
    if (!(width > 0) || mdw < 1) return 0;
    return int(std::trunc(((256.0 * width + std::trunc(128.0 / mdw)) / 256.0) * mdw));
}

double charactersToFileWidth(double characters, int mdw) {
    if (!(characters > 0) || mdw < 1) return 0;
    return std::trunc((characters * mdw + 5.0) / mdw * 256.0) / 256.0;
}

int charactersToPixels(double characters, int mdw) {
    return fileWidthToPixels(charactersToFileWidth(characters, mdw), mdw);
}

} // namespace quellar
