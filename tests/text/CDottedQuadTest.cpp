#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "text/CDottedQuad.h"

// Four numbers 0-255 joined by dots and nothing else: no blanks, signs,
// shorter forms or hexadecimal, which sscanf's "%u" would let through.
TEST(CDottedQuadTest, ReadsFourNumbersAndNothingElse)
{
    std::array<uint8_t, 4> bytes{};
    ASSERT_TRUE(CDottedQuad::Read("10.0.9.255", bytes));
    EXPECT_EQ(bytes, (std::array<uint8_t, 4>{10, 0, 9, 255}));
    ASSERT_TRUE(CDottedQuad::Read("001.02.3.004", bytes));
    EXPECT_EQ(bytes, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    for (const char* pszBad : {" 1.2.3.4", "1. 2.3.4", "+1.2.3.4", "1.-2.3.4", "1.2.3.4 ", "1.2.3", "1.2.3.4.5",
                               "256.1.1.1", "0x1.2.3.4", "1.2.3.0004", "", "1..3.4"}) {
        bytes = {9, 9, 9, 9};
        EXPECT_FALSE(CDottedQuad::Read(pszBad, bytes)) << pszBad;
        EXPECT_EQ(bytes, (std::array<uint8_t, 4>{9, 9, 9, 9})) << pszBad;
    }
}
