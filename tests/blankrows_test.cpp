// Even blank-row insertion: the result's rows, what a blank row keeps (formats, merges) and
// drops (texts, formulas), the typed count, refused counts and the result phase.

#include "table/BlankRows.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace quellar {
namespace {

using test::makeTable;
using test::tableText;
using test::tableTexts;

TEST(BlankRows, InsertsCopiesAfterEveryRow) {
    struct Case {
        const char* name;
        std::vector<QStringList> rows;
        int count;
        QString expectedTexts;
    };
    const std::vector<Case> cases = {
        {"three rows, two blanks each",
         {{"h1", "h2"}, {"a", "b"}, {"c", "d"}},
         2,
         "h1 h2\n \n \na b\n \n \nc d\n \n "},
        {"one blank", {{"x"}, {"y"}}, 1, "x\n\ny\n"},
        {"ragged rows keep their lengths", {{"a", "b", "c"}, {"d"}}, 1, "a b c\n  \nd\n"},
        {"an empty table stays empty", {}, 3, ""},
    };
    for (const Case& c : cases) {
        Result<RowTable> r = insertBlankRows(makeTable(c.rows), c.count);
        ASSERT_TRUE(r.isOk()) << c.name;
        EXPECT_EQ(tableTexts(r.value()), c.expectedTexts) << c.name;
        EXPECT_EQ(r.value().size(), c.rows.size() * size_t(1 + c.count)) << c.name;
    }
    Result<RowTable> many = insertBlankRows(makeTable({{"a"}, {"b"}}), 250);
    ASSERT_TRUE(many.isOk());
    EXPECT_EQ(many.value().size(), 502u);
}

TEST(BlankRows, BlankRowsKeepFormatsAndMerges) {
    RowTable table = makeTable({{"a", "", "c"}, {"1", "2", "3"}});
    CellRecord& styled = table[0][0];
    styled.fillColorIndex = Fill::Yellow;
    styled.setFontName(SharedText(QStringLiteral("黑体")));
    styled.setFontSize(14);
    styled.setNumberFormat(SharedText(QStringLiteral("0.00")));
    styled.alignment1 = Align::Center;
    styled.rowHeight = 30;
    styled.formula = SharedText(QStringLiteral("=B2+1"));
    test::makeAnchor(table[0][0], 1, 2);
    table[0][1].mergeState = MergeState::Covered;

    Result<RowTable> r = insertBlankRows(table, 2);
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(tableText(r.value()),
              "a:6[1x2] ~ c:2\n:6[1x2] ~ :2\n:6[1x2] ~ :2\n1:2 2:2 3:2\n:2 :2 :2\n:2 :2 :2");
    for (size_t row : {size_t(1), size_t(2)}) {
        const CellRecord& blank = r.value()[row][0];
        EXPECT_TRUE(blank.text.isEmpty());
        EXPECT_TRUE(blank.formula.isEmpty());
        EXPECT_EQ(blank.fontName().toQString(), QStringLiteral("黑体"));
        EXPECT_EQ(blank.fontSize(), 14);
        EXPECT_EQ(blank.numberFormat().toQString(), QStringLiteral("0.00"));
        EXPECT_EQ(blank.alignment1, Align::Center);
        EXPECT_EQ(blank.rowHeight, 30.0f);
    }
    EXPECT_EQ(r.value()[0][0].formula.toQString(), QStringLiteral("=B2+1"));
}

TEST(BlankRows, ReadsTheTypedCount) {
    struct Case {
        const char* typed;
        int count;
    };
    const std::vector<Case> cases = {
        {"1", 1},
        {"250", 250},
        {"3abc", 3},
        {"", 0},
        {"abc", 0},
        {"-2", -2},
        {"  7", 7},
        {"+4", 4},
        {"0", 0},
        {"1 2", 1},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"１", 0}, // a full-width digit is no digit
    };
    for (const Case& c : cases)
        EXPECT_EQ(blankCountFromText(QString::fromUtf8(c.typed)), c.count) << c.typed;
}

TEST(BlankRows, RefusesCountsBelowOneAndResultsTooLarge) {
    const RowTable table = makeTable({{"a", "b"}});
    for (int count : {0, -1, INT_MIN})
        EXPECT_FALSE(insertBlankRows(table, count).isOk()) << count;
    Result<RowTable> huge = insertBlankRows(table, INT_MAX);
    ASSERT_FALSE(huge.isOk());
    EXPECT_TRUE(huge.status().message().contains(QStringLiteral("过大")));
}

TEST(BlankRows, WritesTheResultSheet) {
    test::RecordingSink sink;
    test::RecordingProgress progress;
    ASSERT_TRUE(runInsertBlankRows(sink, progress, makeTable({{"a"}, {"b"}, {"c"}}), 2).isOk());
    EXPECT_EQ(sink.sheets[1].name, QStringLiteral("增加结果"));
    EXPECT_EQ(sink.sheets[1].table.size(), 9u);
    EXPECT_EQ(progress.texts, QStringList{"run"});
    EXPECT_EQ(progress.ranges, std::vector<int64_t>{9});
    EXPECT_EQ(progress.steps, std::vector<int64_t>{1});
}

} // namespace
} // namespace quellar
