// Units and number formats that every Excel file format shares: column widths in whole pixels
// and the built-in number formats, which .xlsx and .xls both refer to by id.

#include "workbook/ExcelConventions.h"

#include "workbook/DisplayFormat.h"

#include <cmath>

namespace quellar {

double characterWidthToPoints(double characters) {
    if (!(characters > 0)) return 0;
    // Excel's rule for Calibri 11 (maximum digit width 7 pixels, 5 pixels of padding).
    const double pixels = std::trunc(((256.0 * characters + std::trunc(128.0 / 7.0)) / 256.0) * 7.0);
    return pixels * 0.75;
}

double pointsToCharacterWidth(double points) {
    if (!(points > 0)) return 0;
    // Whole pixels; Excel (and libxlsxwriter) add 5 pixels of padding to widths of a
    // character or more, and scale narrower columns by 12 pixels per character.
    const double pixels = std::round(points / 0.75);
    return pixels < 12 ? pixels / 12.0 : (pixels - 5.0) / 7.0;
}

QString builtinNumberFormat(int id) {
    switch (id) {
    case 1:
        return QStringLiteral("0");
    case 2:
        return QStringLiteral("0.00");
    case 3:
        return QStringLiteral("#,##0");
    case 4:
        return QStringLiteral("#,##0.00");
    case 5:
        return QStringLiteral("¥#,##0;¥-#,##0");
    case 6:
        return QStringLiteral("¥#,##0;[Red]¥-#,##0");
    case 7:
        return QStringLiteral("¥#,##0.00;¥-#,##0.00");
    case 8:
        return QStringLiteral("¥#,##0.00;[Red]¥-#,##0.00");
    case 9:
        return QStringLiteral("0%");
    case 10:
        return QStringLiteral("0.00%");
    case 11:
        return QStringLiteral("0.00E+00");
    case 12:
        return QStringLiteral("# ?/?");
    case 13:
        return QStringLiteral("# ?\?/?\?");
    case 14:
        return QStringLiteral("yyyy/m/d");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("yyyy/m/d h:mm");
    case 27:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 28:
        return QStringLiteral("m\"月\"d\"日\"");
    case 29:
        return QStringLiteral("m\"月\"d\"日\"");
    case 30:
        return QStringLiteral("m-d-yy");
    case 31:
        return QStringLiteral("yyyy\"年\"m\"月\"d\"日\"");
    case 32:
        return QStringLiteral("h\"时\"mm\"分\"");
    case 33:
        return QStringLiteral("h\"时\"mm\"分\"ss\"秒\"");
    case 34:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"");
    case 35:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"ss\"秒\"");
    case 36:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 37:
        return QStringLiteral("#,##0 ;(#,##0)");
    case 38:
        return QStringLiteral("#,##0 ;[Red](#,##0)");
    case 39:
        return QStringLiteral("#,##0.00;(#,##0.00)");
    case 40:
        return QStringLiteral("#,##0.00;[Red](#,##0.00)");
    case 41:
        return QStringLiteral("_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)");
    case 42:
        return QStringLiteral("_(\"¥\"* #,##0_);_(\"¥\"* \\(#,##0\\);_(\"¥\"* \"-\"_);_(@_)");
    case 43:
        return QStringLiteral("_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)");
    case 44:
        return QStringLiteral("_(\"¥\"* #,##0.00_);_(\"¥\"* \\(#,##0.00\\);_(\"¥\"* \"-\"??_);_(@_)");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mm:ss.0");
    case 48:
        return QStringLiteral("##0.0E+0");
    case 49:
        return QStringLiteral("@");
    case 50:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 51:
        return QStringLiteral("m\"月\"d\"日\"");
    case 52:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 53:
        return QStringLiteral("m\"月\"d\"日\"");
    case 54:
        return QStringLiteral("m\"月\"d\"日\"");
    case 55:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"");
    case 56:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"ss\"秒\"");
    case 57:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 58:
        return QStringLiteral("m\"月\"d\"日\"");
    default:
        return QString();
    }
}

bool isBuiltinDateFormat(int id) {
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
           (id >= 50 && id <= 58);
}

void resolveNumberFormat(int id, const QString* custom, QString& code, bool& isDate) {
    if (custom) {
        code = custom->compare(u"General", Qt::CaseInsensitive) == 0 ? QString() : *custom;
        isDate = isDateFormatCode(*custom);
    } else {
        code = builtinNumberFormat(id);
        isDate = isBuiltinDateFormat(id);
    }
}

} // namespace quellar
