#include <gtest/gtest.h>

#include <set>
#include <string>

#include "receive/CGrowingMap.h"

// Keys looked up again while the table moves entries from a full table into
// a larger one keep their values; every entry is counted and visited once,
// whichever table holds it.
TEST(CGrowingMapTest, EntriesKeepTheirValuesAcrossTakeOversAndAreVisitedOnce)
{
    CGrowingMap<int> map;
    constexpr int kKeys = 50000;
    for (int i = 0; i < kKeys; ++i) {
        map[std::to_string(i)] = i;
        // A key of the first half again, which may sit in either table.
        EXPECT_EQ(map[std::to_string(i / 2)], i / 2) << i;
        ASSERT_EQ(map.Size(), static_cast<size_t>(i) + 1);
    }
    std::set<std::string> seen;
    long long nSum = 0;
    map.ForEach([&](const std::string& strKey, int& nValue) {
        EXPECT_TRUE(seen.insert(strKey).second) << strKey;
        EXPECT_EQ(std::to_string(nValue), strKey);
        nSum += nValue;
    });
    EXPECT_EQ(seen.size(), static_cast<size_t>(kKeys));
    EXPECT_EQ(nSum, static_cast<long long>(kKeys) * (kKeys - 1) / 2);
    EXPECT_EQ(map["new"], 0) << "a new key's value starts at zero";
}
