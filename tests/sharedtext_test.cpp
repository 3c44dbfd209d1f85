// SharedText: short texts inline, long ones shared, alike in every use.

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
