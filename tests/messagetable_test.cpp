// The message table: texts by their named keys, and the by-name lookup kept for callers that
// still name keys as text (an unknown name gives the empty text and changes no progress).

#include "base/MessageTable.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

using namespace quellar;

TEST(MessageTable, TextsByKey) {
    EXPECT_EQ(MessageTable::text(Msg::Reading), QString::fromUtf16(u"正在初始化，请稍后 ..."));
    EXPECT_EQ(MessageTable::text(Msg::Reading).size(), 13);
    EXPECT_EQ(MessageTable::text(Msg::ToolCompareBooks), QString::fromUtf16(u"两薄比较"));
    EXPECT_EQ(MessageTable::text(Msg::ReportFileTwo), QString::fromUtf16(u"文件二位置"));
    EXPECT_EQ(MessageTable::text(Msg::SumSheet), QString::fromUtf16(u"汇总结果"));
    EXPECT_EQ(MessageTable::text(Msg::NoQueryCondition), MessageTable::text(Msg::NoFilterCondition));
    EXPECT_EQ(MessageTable::text(Msg::QueryPage), MessageTable::text(Msg::ToolQuery));
    EXPECT_EQ(MessageTable::text(Msg::SummaryPage), MessageTable::text(Msg::ToolConditionalSum));
    EXPECT_EQ(MessageTable::text(Msg::TipHelp), MessageTable::text(Msg::ToolHelp));
}

TEST(MessageTable, ShortNamesFindTheirKeys) {
    for (Msg key :
         {Msg::ToolCompareTables, Msg::Reading, Msg::Subtotal, Msg::Equal, Msg::Running, Msg::SumSheet}) {
        const QString name = QString::fromLatin1(MessageTable::name(key));
        EXPECT_EQ(MessageTable::keyNamed(name), key) << name.toStdString();
    }
    EXPECT_EQ(QLatin1String(MessageTable::name(Msg::Subtotal)), QLatin1String("xj"));
    EXPECT_EQ(MessageTable::keyNamed(u"Init"), std::nullopt);
}
