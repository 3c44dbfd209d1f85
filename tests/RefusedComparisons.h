#pragma once
// Comparisons the core must refuse, for the comparison and comparison-rule tests: each is
// refused with a message that mentions what the user has to put right.

#include "table/compare/Comparison.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace quellar::test {

struct RefusedComparison {
    const char* name;
    RowTable t1, t2;
    CompareOptions options;
    QStringList keys;
    QStringList mentions; // texts the message must contain
};

inline void expectRefused(const std::vector<RefusedComparison>& cases) {
    for (const RefusedComparison& c : cases) {
        Result<RowTable> result = compareTables(c.t1, c.t2, c.options, c.keys, nullptr);
        ASSERT_FALSE(result.isOk()) << c.name;
        expectMentions(result.status().message(), c.mentions, c.name);
    }
}

} // namespace quellar::test
