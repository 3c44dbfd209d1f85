// The records of a row table (base/RowTable): compact, with their style shared.

#include "base/RowTable.h"

#include <gtest/gtest.h>

using namespace quellar;

TEST(CellRecord, StaysCompactAndSharesStyles) {
    EXPECT_LE(sizeof(CellRecord), 48u);
    CellRecord a, b;
    a.setFontName(SharedText(QStringLiteral("宋体")));
    a.setFontSize(11);
    b.setFontSize(11);
    b.setFontName(SharedText(QStringLiteral("宋体")));
    EXPECT_EQ(a.styleId, b.styleId);
    EXPECT_EQ(a.fontName().toQString(), QString::fromUtf16(u"宋体"));
    EXPECT_EQ(CellRecord().mergeState, MergeState::Covered);
    EXPECT_EQ(CellRecord().fontSize(), 0);
}
