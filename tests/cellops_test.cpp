// The cell operations (base/CellOps): cell references, the strict number rule, value to
// text, addresses, the field row and field lookup.

#include "base/CellOps.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

using namespace quellar;

TEST(CellReference, AcceptsOnlyLetterThenDigitRuns) {
    for (const char* yes : {"A1", "ZZ99", "xy3", "AB12"})
        EXPECT_TRUE(isCellReference(QString(yes))) << yes;
    for (const char* no : {"A", "AA", "1A", "A1A", "A1B2", "A-1", "", "1"})
        EXPECT_FALSE(isCellReference(QString(no))) << no;
}

TEST(ParseNumber, StrictRule) {
    struct Case {
        const char16_t* text;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {u" 1,234.5 ", true, 1234.5},
        {u"", true, 0},
        {u"   ", true, 0},
        {u"1-2", false, 0},
        {u"-12", true, -12},
        {u"12a", false, 0},
        {u"1e5", false, 0},
        {u"1.2.3", true, 1.2},
        {u"-", true, 0},
        {u".", true, 0},
        {u"-1-2", true, -1},
        {u",,,", true, 0},
        {u"+3", false, 0},
        {u"3%", false, 0},
        {u"1 000", false, 0},
        {u"0.1234567", true, 0.1234567},
        {u"１２", false, 0},
        {u"-.5", true, -0.5},
        {u"\t7\n", true, 7},
    };
    for (const Case& c : cases) {
        double value = -99;
        EXPECT_EQ(parseNumber(std::u16string_view(c.text), value), c.ok)
            << QString::fromUtf16(c.text).toStdString();
        if (c.ok) EXPECT_DOUBLE_EQ(value, c.value) << QString::fromUtf16(c.text).toStdString();
    }
    double huge = 0;
    ASSERT_TRUE(parseNumber(QString(400, u'9'), huge));
    EXPECT_TRUE(std::isinf(huge));
}

TEST(VariantToText, KeepsEveryDigitAndStripsBlanks) {
    EXPECT_EQ(variantToText(CellValue::fromNumber(3)), "3.000000");
    EXPECT_EQ(variantToText(CellValue::fromNumber(0.1)), "0.100000");
    EXPECT_EQ(variantToText(CellValue::fromNumber(-2.5)), "-2.500000");
    // Digits past the sixth decimal are kept, so these two no longer compare equal.
    EXPECT_EQ(variantToText(CellValue::fromNumber(0.1234567)), "0.1234567");
    EXPECT_EQ(variantToText(CellValue::fromNumber(0.1234568)), "0.1234568");
    EXPECT_EQ(variantToText(CellValue::fromNumber(1e-7)), "0.0000001");
    EXPECT_EQ(variantToText(CellValue::fromNumber(123456789012.0)), "123456789012.000000");
    EXPECT_EQ(variantToText(CellValue::fromBoolean(true)), "-1");
    EXPECT_EQ(variantToText(CellValue::fromBoolean(false)), "0");
    EXPECT_EQ(variantToText(CellValue::fromString(SharedText(QStringLiteral("  王 五 ")))),
              QString::fromUtf16(u"王 五"));
    EXPECT_EQ(variantToText(CellValue()), QString());
    EXPECT_EQ(variantToText(CellValue::fromDateTime(46363)), "2026/12/7");
    EXPECT_EQ(variantToText(CellValue::fromDateTime(46363 + (9 * 3600 + 5 * 60 + 7) / 86400.0)),
              "2026/12/7 9:05:07");
    EXPECT_EQ(variantToText(CellValue::fromDateTime(1)), "1900/1/1");
    EXPECT_EQ(variantToText(CellValue::fromDateTime(61)), "1900/3/1");
    // Every shortest text reads back as the same number.
    for (double v : {1.0 / 3, 2.0 / 3 * 1e10, 123.456789012345, -0.000123456789}) {
        double back = 0;
        ASSERT_TRUE(parseNumber(variantToText(CellValue::fromNumber(v)), back));
        EXPECT_EQ(back, v);
    }
}

TEST(ColumnAddress, LettersFromTheRight) {
    EXPECT_EQ(columnAddress(1, 1), "A1");
    EXPECT_EQ(columnAddress(26, 9), "Z9");
    EXPECT_EQ(columnAddress(27, 10), "AA10");
    EXPECT_EQ(columnAddress(52, 1), "AZ1");
    EXPECT_EQ(columnAddress(30, 2), "AD2");
    EXPECT_EQ(columnAddress(702, 1), "ZZ1");
    EXPECT_EQ(columnAddress(703, 1), "AAA1");
    EXPECT_EQ(columnAddress(16384, 1048576), "XFD1048576");
}

TEST(FieldRow, FirstRowOfDistinctNonEmptyTexts) {
    int row = -7;
    FieldList names = findFieldRow(
        test::makeTable({{"a", "", "c"}, {"x", "y", "x"}, {"a", "b", "c"}, {"d", "e", "f"}}), row);
    EXPECT_EQ(row, 2);
    EXPECT_EQ(names, QStringList({"a", "b", "c"}));

    row = -7;
    names = findFieldRow(test::makeTable({{"a", "a"}, {"b", ""}}), row);
    EXPECT_EQ(row, -7); // none qualifies: left as the caller set it
    EXPECT_EQ(names, QStringList({"b"}));

    names = findFieldRow(RowTable(), row);
    EXPECT_TRUE(names.isEmpty());
    // Case matters: A and a are distinct names.
    names = findFieldRow(test::makeTable({{"A", "a"}}), row);
    EXPECT_EQ(names.size(), 2);
}

TEST(IndexOfField, ExactAndSkipsEmptyEntries) {
    const FieldList names = {"a", "", "b"};
    EXPECT_EQ(indexOfField(names, "b"), 2);
    EXPECT_EQ(indexOfField(names, ""), -1);
    EXPECT_EQ(indexOfField(names, "A"), -1);
    EXPECT_EQ(indexOfField(names, "a"), 0);
}
