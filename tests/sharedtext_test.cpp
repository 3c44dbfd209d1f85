// SharedText: short texts inline, long ones shared, alike in every use; and the cell values
// that hold them.

#include "base/CellValue.h"
#include "base/SharedText.h"

#include <gtest/gtest.h>

using namespace quellar;

TEST(SharedText, InlineAndSharedTextsBehaveAlike) {
    const QString texts[] = {"", "a", "abc", "abcd", QString::fromUtf16(u"王五"), QString(1000, u'x')};
    for (const QString& t : texts) {
        SharedText s(t);
        SharedText copy = s;
        SharedText moved = std::move(copy);
        EXPECT_EQ(s.toQString(), t);
        EXPECT_EQ(moved.toQString(), t);
        EXPECT_EQ(s, moved);
        EXPECT_EQ(s.hash(), SharedText(t).hash());
        EXPECT_EQ(s.isEmpty(), t.isEmpty());
    }
    EXPECT_FALSE(SharedText(QStringLiteral("abc")) == SharedText(QStringLiteral("abd")));
    EXPECT_EQ(SharedText::fromUtf8("张三 abc").toQString(), QString::fromUtf16(u"张三 abc"));
}

// A cell value holds a number or a text in the same eight bytes: every copy, move and
// reassignment across the kinds must keep the text alive exactly as long as a value holds it.
TEST(CellValue, NumberAndTextShareStorageSafely) {
    const QString longText(100, u'z');
    CellValue text = CellValue::fromString(SharedText(longText));
    CellValue number = CellValue::fromNumber(42.5);
    EXPECT_EQ(text.number(), 0);
    EXPECT_TRUE(number.text().isEmpty());
    EXPECT_EQ(CellValue::fromBoolean(true).number(), 1);
    EXPECT_EQ(CellValue::fromError(SharedText(u"#N/A")).text().toQString(), QStringLiteral("#N/A"));

    CellValue copy = text;
    EXPECT_TRUE(copy.text().sharesStorageWith(text.text()));
    copy = number; // the text reference goes, the number comes
    EXPECT_EQ(copy.type(), CellValue::Type::Number);
    EXPECT_EQ(copy.number(), 42.5);
    copy = text;
    const CellValue& same = copy;
    copy = same; // assigning a value to itself keeps it
    EXPECT_EQ(copy.text().toQString(), longText);

    CellValue moved = std::move(copy);
    EXPECT_EQ(moved.text().toQString(), longText);
    text = CellValue();
    moved = CellValue::fromDateTime(45000);
    EXPECT_EQ(moved.number(), 45000);
    EXPECT_TRUE(moved.text().isEmpty());
    // The last holder of the text still reads it whole.
    CellValue last = CellValue::fromString(SharedText(longText));
    CellValue other = last;
    last = CellValue::fromNumber(1);
    EXPECT_EQ(other.text().toQString(), longText);
}

TEST(CellValue, APlaceholderIsAnEmptyValueOnly) {
    EXPECT_EQ(CellValue::fromPlaceholder(7).placeholder(), 7u);
    EXPECT_TRUE(CellValue::fromPlaceholder(7).isEmpty());
    EXPECT_EQ(CellValue::fromPlaceholder(7).number(), 0);
    EXPECT_EQ(CellValue().placeholder(), 0u);
    EXPECT_EQ(CellValue::fromNumber(7).placeholder(), 0u);
    EXPECT_EQ(CellValue::fromString(SharedText(u"7")).placeholder(), 0u);
}
