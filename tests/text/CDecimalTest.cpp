#include <gtest/gtest.h>

#include <cstdint>

#include "text/CDecimal.h"

TEST(CDecimalTest, ReadsDigitsOnlyUpToTheLimitAndPadsToTheWidth)
{
    struct Case {
        const char* pszText;
        uint64_t nMax;
        bool bRead;
        uint64_t nValue;
    };
    const Case cases[] = {
        {"0", 0, true, 0},
        {"0000000000000000000000065535", 65535, true, 65535},
        {"65536", 65535, false, 0},
        {"9", 8, false, 0},
        {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, false, 0},
        {"", 10, false, 0},
        {"+1", 10, false, 0},
        {"1 ", 10, false, 0},
        {"1a", 10, false, 0},
    };
    for (const Case& c : cases) {
        uint64_t nValue = 77;
        EXPECT_EQ(CDecimal::Read(c.pszText, c.nMax, nValue), c.bRead) << c.pszText;
        EXPECT_EQ(nValue, c.bRead ? c.nValue : 77) << c.pszText;
    }
    EXPECT_EQ(CDecimal::Padded(7, 3), "007");
    EXPECT_EQ(CDecimal::Padded(1234, 2), "1234");
    EXPECT_EQ(CDecimal::Padded(0, 0), "0");
    EXPECT_EQ(CDecimal::Padded(UINT64_MAX, 22), "0018446744073709551615");
}

TEST(CDecimalTest, AFractionIsDigitsAPointAndDigitsWhereverItStarts)
{
    struct Case {
        const char* pszText;
        size_t nFrom;
        bool bRead;
        double dValue;
        size_t nEnd;
    };
    const Case cases[] = {
        {"12ms", 0, true, 12, 2},         {"<=0.25%", 2, true, 0.25, 6}, {"007.50", 0, true, 7.5, 6},
        {".5", 0, false, 0, 0},           {"5.", 0, false, 0, 0},        {"-1", 0, false, 0, 0},
        {"5", 1, false, 0, 1},
    };
    for (const Case& c : cases) {
        size_t nAt = c.nFrom;
        double dValue = 0;
        EXPECT_EQ(CDecimal::ReadFraction(c.pszText, nAt, dValue), c.bRead) << c.pszText;
        EXPECT_DOUBLE_EQ(dValue, c.dValue) << c.pszText;
        EXPECT_EQ(nAt, c.bRead ? c.nEnd : c.nFrom) << c.pszText;
    }
}
