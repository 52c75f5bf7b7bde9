#include <gtest/gtest.h>

#include <string>

#include "TzGuard.h"
#include "net/CTargetAddress.h"
#include "receive/CReceiveTally.h"

namespace {

constexpr int64_t kArrivalNs = 1700000000LL * 1000000000LL;  // 2023-11-14 22:13:20 UTC

sockaddr_storage From()
{
    sockaddr_storage from{};
    SocketLength nLength = 0;
    CTargetAddress::Resolve("127.0.0.1", AF_INET, 5000, from, nLength);
    return from;
}

// Takes the text as a datagram, with the padding the parser reads ahead.
CReceiveTally::Kind Take(CReceiveTally& tally, const std::string& strText, int64_t nArrivalNs = kArrivalNs)
{
    const std::string padded = strText + std::string(CReceiveTally::kPadding, '\0');
    return tally.Take(padded.data(), strText.size(), From(), nArrivalNs).nKind;
}

std::string Message(const std::string& strImei, const std::string& strMore)
{
    return "{\"cmd\":\"push_msg\",\"IMEI\":\"" + strImei + "\"" + strMore + "}";
}

}  // namespace

TEST(CReceiveTallyTest, EachDatagramIsMalformedWithoutImeiOrADevices)
{
    using Kind = CReceiveTally::Kind;
    CReceiveTally tally("");
    EXPECT_EQ(Take(tally, "{\"IMEI\":\"1\""), Kind::kMalformed) << "not closed";
    EXPECT_EQ(Take(tally, "{\"IMEI\":\"1\"} x"), Kind::kMalformed) << "more after the root";
    EXPECT_EQ(Take(tally, "{\"IMEI\":\"\xC3\x28\"}"), Kind::kMalformed) << "not UTF-8";
    EXPECT_EQ(Take(tally, "[1,2]"), Kind::kWithoutImei);
    EXPECT_EQ(Take(tally, "{\"imei\":\"1\"}"), Kind::kWithoutImei) << "the key is exact";
    EXPECT_EQ(Take(tally, "{\"cmd\":\"push_info\",\"IMEI\":\"1\"}"), Kind::kDevice);
    EXPECT_EQ(Take(tally, "{\"IMEI\":\"1\",\"x\":[{}]}"), Kind::kDevice);
    EXPECT_EQ(Take(tally, "{\"IMEI\":860000000000001}"), Kind::kDevice);

    CReceiveRecord record;
    tally.Fill(record);
    EXPECT_EQ(record.nDatagrams, 8u);
    EXPECT_EQ(record.nMalformed, 3u);
    EXPECT_EQ(record.nWithoutImei, 2u);
    EXPECT_EQ(record.nDevices, 2u);
    EXPECT_EQ(record.nDeviceInfo, 1u);
    ASSERT_EQ(record.malformed.size(), 3u);
    EXPECT_EQ(record.malformed[2].strFrom, "127.0.0.1:5000");
    EXPECT_EQ(record.malformed[2].nLength, 13u);
    EXPECT_EQ(record.malformed[2].strReason, "not UTF-8");
    EXPECT_EQ(record.malformed[2].strShown, "{\"IMEI\":\"\\xC3(\"}");
    EXPECT_EQ(record.malformed[0].strReason.rfind("not strict JSON: ", 0), 0u) << record.malformed[0].strReason;
}

TEST(CReceiveTallyTest, OnlyTheFirstMalformedAreKeptAllAreCounted)
{
    CReceiveTally tally("");
    const std::string strLong(100, 'x');
    for (size_t i = 0; i < CReceiveTally::kShownMalformed + 5; ++i)
        Take(tally, strLong);
    CReceiveRecord record;
    tally.Fill(record);
    EXPECT_EQ(record.nMalformed, CReceiveTally::kShownMalformed + 5);
    ASSERT_EQ(record.malformed.size(), CReceiveTally::kShownMalformed);
    EXPECT_EQ(record.malformed[0].strShown, std::string(64, 'x') + "...");
}

// Two devices interleaved, counters as digit strings and as integers; a
// device info message starts a device's count afresh.
TEST(CReceiveTallyTest, EachDeviceCountsItsOwnNumbers)
{
    CReceiveTally tally("packnum");
    for (const char* pszCount : {"0098", "0099", "0100", "0100", "0103"})
        Take(tally, Message("A", std::string(",\"packnum\":\"") + pszCount + "\""));
    for (const int nCount : {7, 9, 8, 10, 12})
        Take(tally, Message("B", ",\"packnum\":" + std::to_string(nCount)));
    Take(tally, Message("B", ",\"packnum\":\"x\""));
    Take(tally, Message("B", ",\"packnum\":-1"));
    Take(tally, Message("B", ""));
    // B restarts: its 11 never came, the new count begins at 1.
    Take(tally, "{\"cmd\":\"push_info\",\"IMEI\":\"B\"}");
    EXPECT_EQ(tally.Lost(), 1u) << "B's 11, lost when B announced itself again";
    Take(tally, Message("B", ",\"packnum\":1"));
    Take(tally, Message("B", ",\"packnum\":2"));
    tally.CloseCounts();

    CReceiveRecord record;
    tally.Fill(record);
    EXPECT_EQ(record.nDevices, 2u);
    EXPECT_EQ(record.nLost, 3u) << "A's 101 and 102, and B's 11 from before its restart";
    EXPECT_EQ(record.nDuplicates, 1u);
    EXPECT_EQ(record.nReordered, 1u) << "B's 8";
    EXPECT_EQ(record.nWithoutCounter, 3u);
    EXPECT_EQ(record.nExpected, 6u + 6u + 2u);
    EXPECT_DOUBLE_EQ(record.Loss(), 3.0 / 14.0);
    ASSERT_EQ(record.devices.size(), 2u) << "both had something wrong";
    EXPECT_EQ(record.devices[0].strImei, "A") << "the most lost first";
    EXPECT_EQ(record.devices[0].nDatagrams, 5u);
    EXPECT_EQ(record.devices[0].nLost, 2u);
    EXPECT_EQ(record.devices[1].strImei, "B");
    EXPECT_EQ(record.devices[1].nInfo, 1u);
    EXPECT_EQ(record.devices[1].nLost, 1u);
    EXPECT_EQ(record.devices[1].nReordered, 1u);
}

TEST(CReceiveTallyTest, TimeIsMeasuredAgainstTheArrivalInLocalTime)
{
    // 22:13:20 UTC is 06:13:20 the next day eight hours east.
    const TzGuard zone("CST-8");
    CReceiveTally tally("");
    Take(tally, Message("A", ",\"time\":\"2023-11-15 06:13:18\""), kArrivalNs + 999999999);
    Take(tally, Message("A", ",\"time\":\"2023-11-15 06:13:25\""));
    Take(tally, Message("A", ",\"time\":\"2023-11-15 06:13:20\""));
    Take(tally, Message("A", ",\"time\":\"yesterday\""));
    Take(tally, Message("A", ",\"time\":20231115"));
    const CReceiveRecord::Second first = tally.TakeSecond(1);
    EXPECT_EQ(first.nT, 1u);
    EXPECT_EQ(first.nDatagrams, 5u);
    EXPECT_EQ(first.nDevices, 1u);
    EXPECT_EQ(first.age.nCount, 3u);
    EXPECT_EQ(first.age.nMin, -5) << "a clock 5 s ahead";
    EXPECT_EQ(first.age.nP50, 0);
    EXPECT_EQ(first.age.nMax, 2) << "the arrival's second, not rounded up";

    Take(tally, Message("A", ",\"time\":\"2023-11-14 06:13:20\""));
    const CReceiveRecord::Second second = tally.TakeSecond(2);
    EXPECT_EQ(second.nDatagrams, 1u);
    EXPECT_EQ(second.age.nCount, 1u);
    EXPECT_EQ(second.age.nP50, 86400) << "a day old, beyond the exact span: the median is the maximum";

    CReceiveRecord record;
    tally.Fill(record);
    EXPECT_EQ(record.age.nCount, 4u);
    EXPECT_EQ(record.age.nP50, 0);
    EXPECT_EQ(record.age.nMax, 86400);
    EXPECT_EQ(record.nUnreadableTime, 2u);
}
