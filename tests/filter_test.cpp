// The comparison filter: offered fields, exact matching, side-by-side blocks with row
// numbers, fields that one table lacks, refused options and the result phase.

#include "table/Filter.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

namespace quellar {
namespace {

using test::makeTable;
using test::tableText;

using test::tbl;

TEST(Filter, OffersTheUnionOfBothFieldLists) {
    EXPECT_EQ(filterOfferedFields(tbl("a,b,c;1,2,3"), tbl("c,d,a,e")),
              QStringList({"a", "b", "c", "d", "e"}));
    EXPECT_EQ(filterOfferedFields(tbl("x,;a,b"), tbl("b,a")), QStringList({"a", "b"}));
    EXPECT_EQ(filterOfferedFields(tbl("a,b"), tbl("z,z")), QStringList({"a", "b"}));
    EXPECT_EQ(filterOfferedFields(RowTable(), RowTable()), QStringList());
}

TEST(Filter, ListsMatchesSideBySide) {
    struct Case {
        const char* name;
        QString t1, t2;
        QStringList fields, values;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"more matches in file 2: blank left blocks below",
         "名,性别;a,男;b,女;c,男",
         "性别,名,龄;男,x,1;男,y,2;女,z,3;男,w,4",
         {"性别"},
         {"男"},
         "a:2 男:2 1*20 1*20 男:2 x:2 1:2\n"
         "c:2 男:2 3*20 2*20 男:2 y:2 2:2\n"
         "~ ~ ~ 4*20 男:2 w:2 4:2"},
        {"more matches in file 1: blank right blocks below",
         "k,v;a,1;a,2",
         "v,k;9,a",
         {"k"},
         {"a"},
         "a:2 1:2 1*20 1*20 9:2 a:2\n"
         "a:2 2:2 2*20 ~ ~ ~"},
        {"an empty value matches only empty cells", "k,v;,1;a,2", "k;x", {"k"}, {""}, ":2 1:2 1*20 ~ ~"},
        {"values compare exactly", "k,v;1,x;1.000000,y;a ,z", "k;1 ", {"k"}, {"1"}, "1:2 x:2 1*20 ~ ~"},
        {"the field row is tested like any row",
         "k,v;a,v;b,w",
         "k,v;x,y",
         {"v"},
         {"v"},
         "k:2 v:2 0*20 0*20 k:2 v:2\n"
         "a:2 v:2 1*20 ~ ~ ~"},
        {"two conditions on one field with different values match nothing",
         "k,v;a,1",
         "k,v;a,1",
         {"k", "k"},
         {"a", "b"},
         ""},
        {"conditions joined by and",
         "k,v;a,1;a,2;b,1",
         "k,v;a,1",
         {"k", "v"},
         {"a", "1"},
         "a:2 1:2 1*20 1*20 a:2 1:2"},
        {"rows above the field row are skipped; numbers count from the table's first row",
         "标题,;k,v;a,1",
         "k,v;b,2;a,3",
         {"k"},
         {"a"},
         "a:2 1:2 2*20 2*20 a:2 3:2"},
        {"a field missing from file 2 matches no row there",
         "k,v;a,1",
         "k;a",
         {"v"},
         {"1"},
         "a:2 1:2 1*20 ~ ~"},
        {"empty field names are no conditions", "k;a;b", "k;b", {"", "k"}, {"a", "b"}, "b:2 2*20 1*20 b:2"},
    };
    for (const Case& c : cases) {
        Result<RowTable> r = filterTables(tbl(c.t1), tbl(c.t2), c.fields, c.values);
        ASSERT_TRUE(r.isOk()) << c.name << ": " << r.status().message().toStdString();
        EXPECT_EQ(tableText(r.value()), c.expected) << c.name;
    }
}

TEST(Filter, NamesFieldsATableLacks) {
    FilterInfo info;
    Result<RowTable> r =
        filterTables(tbl("k,v;a,1"), tbl("k,w;a,2"), {"v", "w", "v"}, {"1", "2", "1"}, &info);
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(info.missingInOne, QStringList{"w"});
    EXPECT_EQ(info.missingInTwo, QStringList{"v"});
    EXPECT_EQ(info.matchesOne, 0);
    EXPECT_EQ(info.matchesTwo, 0);
    EXPECT_EQ(filterMissingFieldsNote(info),
              QStringLiteral("文件一的表中没有字段“w”，该表没有符合条件的行。文件二的表中没有字段“v”，该表没"
                             "有符合条件的行。"));

    FilterInfo none;
    ASSERT_TRUE(filterTables(tbl("k;a"), tbl("k;a"), {"k"}, {"a"}, &none).isOk());
    EXPECT_EQ(filterMissingFieldsNote(none), QString());
    EXPECT_EQ(none.matchesOne, 1);
    EXPECT_EQ(none.matchesTwo, 1);
}

TEST(Filter, RefusesUnusableOptions) {
    struct Case {
        const char* name;
        QStringList fields, values;
    };
    const std::vector<Case> cases = {
        {"no condition", {}, {}},
        {"only empty field names", {"", ""}, {"a", "b"}},
        {"lists of different lengths", {"k"}, {}},
        {"seven conditions", {"k", "k", "k", "k", "k", "k", "k"}, {"a", "a", "a", "a", "a", "a", "a"}},
    };
    for (const Case& c : cases) {
        Result<RowTable> r = filterTables(tbl("k;a"), tbl("k;a"), c.fields, c.values);
        EXPECT_FALSE(r.isOk()) << c.name;
        EXPECT_FALSE(r.status().message().isEmpty()) << c.name;
    }
}

TEST(Filter, WritesEvenAnEmptyResult) {
    test::RecordingSink sink;
    test::RecordingProgress progress;
    ASSERT_TRUE(runFilter(sink, progress, tbl("k;a"), tbl("k;b"), {"k"}, {"c"}).isOk());
    ASSERT_EQ(sink.sheets.count(1), 1u);
    EXPECT_EQ(sink.sheets[1].name, QStringLiteral("筛选结果"));
    EXPECT_TRUE(sink.sheets[1].table.empty());
    EXPECT_EQ(progress.texts, QStringList{"run"});
    EXPECT_EQ(progress.ranges, std::vector<int64_t>{0});
    EXPECT_EQ(progress.steps, std::vector<int64_t>{1});
}

} // namespace
} // namespace quellar
