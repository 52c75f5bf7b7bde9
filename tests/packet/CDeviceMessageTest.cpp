#include <gtest/gtest.h>

#include <string>

#include "TzGuard.h"
#include "packet/CDeviceMessage.h"
#include "text/TovrikTexts.h"
#include "time/CDateTime.h"
#include "time/CTimeOfDay.h"

namespace {

Packet Of(const std::string& text)
{
    return Packet{text.data(), static_cast<int32_t>(text.size())};
}

class CDeviceMessageTest : public ::testing::Test {
protected:
    CDeviceMessageTest() : m_tz("UTC0") {}

    // 2022-01-03 08:05:09 UTC
    const CDateTime m_when{1641197109};
    TzGuard m_tz;
    CDeviceMessage m_message;
    std::string m_out;
};

}  // namespace

TEST_F(CDeviceMessageTest, StampMovesTimeToTheEndWithTheNewValue)
{
    ASSERT_TRUE(m_message.Stamp(Of("{\"a\":1,\"time\":\"x\",\"b\":2}"), m_when, m_out));
    EXPECT_EQ(m_out, "{\"a\":1,\"b\":2,\"time\":\"2022-01-03 08:05:09\"}");
}

TEST_F(CDeviceMessageTest, StampLeavesExactlyOneTime)
{
    ASSERT_TRUE(m_message.Stamp(Of("{\"time\":1,\"cmd\":\"c\",\"time\":\"y\"}"), m_when, m_out));
    EXPECT_EQ(m_out, "{\"cmd\":\"c\",\"time\":\"2022-01-03 08:05:09\"}");
    ASSERT_TRUE(m_message.Stamp(Of("{}"), m_when, m_out));
    EXPECT_EQ(m_out, "{\"time\":\"2022-01-03 08:05:09\"}");
}

TEST_F(CDeviceMessageTest, StampTouchesOnlyRootMembersNamedExactlyTime)
{
    ASSERT_TRUE(m_message.Stamp(Of("{\"Time\":1,\"time \":2,\"n\":[{\"time\":3}]}"), m_when, m_out));
    EXPECT_EQ(m_out, "{\"Time\":1,\"time \":2,\"n\":[{\"time\":3}],\"time\":\"2022-01-03 08:05:09\"}");
}

TEST_F(CDeviceMessageTest, StampOfTheStatusMessageKeepsEveryOtherMemberInOrder)
{
    const std::string status = TovrikTexts::kStatusMessage;
    ASSERT_TRUE(m_message.Stamp(Of(status), m_when, m_out));
    std::string expected = status;
    const std::string oldTime = ",\"time\":\"2020-07-18 15:22:59\"";
    expected.erase(expected.find(oldTime), oldTime.size());
    expected.insert(expected.size() - 1, ",\"time\":\"2022-01-03 08:05:09\"");
    EXPECT_EQ(m_out, expected);
    EXPECT_EQ(m_out.size(), status.size());
}

TEST_F(CDeviceMessageTest, MakeUpAppendsASecondMarkAndKeepsTime)
{
    ASSERT_TRUE(m_message.MakeUp(Of("{\"make_up\":0,\"time\":\"t\"}"), m_out));
    EXPECT_EQ(m_out, "{\"make_up\":0,\"time\":\"t\",\"make_up\":1}");
}

TEST_F(CDeviceMessageTest, RewritingWritesCompactText)
{
    ASSERT_TRUE(m_message.MakeUp(Of("{\n  \"a\" : [ 1 , 2 ],\r\n  \"s\" : \"x y\"\n}"), m_out));
    EXPECT_EQ(m_out, "{\"a\":[1,2],\"s\":\"x y\",\"make_up\":1}");
}

TEST_F(CDeviceMessageTest, NumbersAreWrittenInTheirCanonicalForm)
{
    const std::pair<const char*, const char*> cases[] = {
        {"0", "0"},
        {"-12", "-12"},
        {"-0", "0"},  // read as the integer 0, as yyjson reads it
        {"18446744073709551615", "18446744073709551615"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"1e-7", "1e-7"},
        {"0.000001", "0.000001"},
        {"1.5E+300", "1.5e300"},
        {"-1.25e-7", "-1.25e-7"},
        {"1e21", "1e21"},
        {"1e20", "100000000000000000000.0"},
        {"123456.789e3", "123456789.0"},
        {"2.50", "2.5"},
        {"1E2", "100.0"},
        {"0.0", "0.0"},
        {"-0.0", "-0.0"},
        {"-0e5", "-0.0"},
        {"0.1", "0.1"},
        {"5e-324", "5e-324"},
        {"1.7976931348623157e308", "1.7976931348623157e308"},
        {"[true,false,null,{}]", "[true,false,null,{}]"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_message.MakeUp(Of(std::string("{\"n\":") + c.first + "}"), m_out)) << c.first;
        EXPECT_EQ(m_out, std::string("{\"n\":") + c.second + ",\"make_up\":1}") << c.first;
    }
    // A root that is not an object is written in the same form.
    ASSERT_TRUE(m_message.Stamp(Of("[\"-0\", -0, 1e-0, -0.5, [-0]]"), m_when, m_out));
    EXPECT_EQ(m_out, "[\"-0\",0,1.0,-0.5,[0]]");
}

TEST_F(CDeviceMessageTest, StringsAndKeysAreEscapedAsTheLibraryDoes)
{
    ASSERT_TRUE(m_message.MakeUp(
        Of("{\"k\\\"\\\\\\u0001\":\"\\b\\t\\n\\f\\r\\u000b\\u001f\\/\\u007f\\u00e9\xe4\xb8\xad\\ud83d\\ude00\"}"),
        m_out));
    EXPECT_EQ(m_out, "{\"k\\\"\\\\\\u0001\":\"\\b\\t\\n\\f\\r\\u000B\\u001F/\x7f\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\","
                     "\"make_up\":1}");
}

TEST_F(CDeviceMessageTest, RootThatIsNotAnObjectIsWrittenBackUnchanged)
{
    ASSERT_TRUE(m_message.Stamp(Of("[1, \"time\"]"), m_when, m_out));
    EXPECT_EQ(m_out, "[1,\"time\"]");
    ASSERT_TRUE(m_message.MakeUp(Of(" 42 "), m_out));
    EXPECT_EQ(m_out, "42");
}

TEST_F(CDeviceMessageTest, InvalidMessagesYieldNoText)
{
    const std::string cases[] = {
        "",
        "{\"a\":1",
        "{\"a\":1} trailing",
        "{\"a\":1,}",
        "{'a':1}",
        "{\"a\":NaN}",
        "{\"n\":123456789012345678901234567890}",  // beyond 64 bits
        "{\"n\":1e400}",                            // out of range
        "{\"cmd\":\"\xb2\xe2\xca\xd4\"}",           // GBK text, not UTF-8
        std::string(1000000, '[') + "}",
    };
    for (const std::string& text : cases) {
        m_out = "untouched";
        EXPECT_FALSE(m_message.Stamp(Of(text), m_when, m_out)) << text.substr(0, 40);
        EXPECT_FALSE(m_message.MakeUp(Of(text), m_out)) << text.substr(0, 40);
        EXPECT_EQ(m_out, "untouched");
        EXPECT_FALSE(m_message.ReadImport(Of(text)).bKeep);
    }
}

TEST_F(CDeviceMessageTest, InvalidDateTimeIsWrittenAsItsText)
{
    ASSERT_TRUE(m_message.Stamp(Of("{\"a\":1}"), CDateTime(-1), m_out));
    EXPECT_EQ(m_out, "{\"a\":1,\"time\":\"Invalid DateTime\"}");
}

TEST_F(CDeviceMessageTest, ImportKeepsMessagesWithImeiWhateverItsValue)
{
    for (const char* text : {"{\"IMEI\":1}", "{\"IMEI\":null}", "{\"IMEI\":{}}", "{\"x\":1,\"IMEI\":\"a\"}"})
        EXPECT_TRUE(m_message.ReadImport(Of(text)).bKeep) << text;
    for (const char* text : {"{\"imei\":1}", "{\"x\":{\"IMEI\":1}}", "[\"IMEI\"]", "\"IMEI\""})
        EXPECT_FALSE(m_message.ReadImport(Of(text)).bKeep) << text;
}

TEST_F(CDeviceMessageTest, ImportReadsTheTimeOfDayKey)
{
    const CDeviceMessage::ImportReading status = m_message.ReadImport(Of(TovrikTexts::kStatusMessage));
    EXPECT_TRUE(status.bKeep);
    EXPECT_TRUE(status.bHasKey);
    EXPECT_EQ(status.nKey, 55379);

    const CDeviceMessage::ImportReading midnight =
        m_message.ReadImport(Of("{\"IMEI\":1,\"time\":\"2020-07-18 24:00:00\"}"));
    EXPECT_EQ(midnight.nKey, 86400);

    // The first "time" decides.
    const CDeviceMessage::ImportReading first =
        m_message.ReadImport(Of("{\"IMEI\":1,\"time\":5,\"time\":\"2020-07-18 00:00:01\"}"));
    EXPECT_TRUE(first.bKeep);
    EXPECT_FALSE(first.bHasKey);

    for (const char* text : {"{\"IMEI\":1}", "{\"IMEI\":1,\"time\":20200718}", "{\"IMEI\":1,\"time\":\"2020-07-18 15:22\"}"}) {
        const CDeviceMessage::ImportReading reading = m_message.ReadImport(Of(text));
        EXPECT_TRUE(reading.bKeep) << text;
        EXPECT_FALSE(reading.bHasKey) << text;
    }
}

TEST(CDeviceMessageKeyTest, ReadsTimeTextsByTheScanfRules)
{
    struct Case {
        const char* text;
        bool bRead;
        int64_t nKey;
    };
    const Case cases[] = {
        {"2020-07-18 15:22:59", true, 55379},
        {"2020-7-8 1:2:3", true, 3723},
        {" 2020- 7-+8\t\n01: -2:3 and more", true, 3600 - 120 + 3},
        {"2020-07-1801:00:00", false, 0},     // the day swallows the hour
        {"2020-07-18 01:00:00x", true, 3600},  // the rest is ignored
        {"2020-07-18 01:00", false, 0},
        {"15:22:59", false, 0},
        {"2020/07/18 15:22:59", false, 0},
        {"", false, 0},
        {"2020-07-18 -1:-1:-1", true, -3661},
        {"2020-07-18 25:00:00", true, 90000},
        // 4294967296 wraps to 0 as a 32-bit number.
        {"2020-07-18 0:0:4294967296", true, 0},
        // The hour's product wraps in 32-bit arithmetic, then widens.
        {"2020-07-18 600000:0:0", true, static_cast<int32_t>(600000u * 3600u)},
    };
    for (const Case& c : cases) {
        int64_t nKey = 0;
        EXPECT_EQ(CTimeOfDay::ReadKey(c.text, nKey), c.bRead) << c.text;
        if (c.bRead) {
            EXPECT_EQ(nKey, c.nKey) << c.text;
        }
    }
    // The text ends at a zero byte.
    int64_t nKey = 0;
    EXPECT_FALSE(CTimeOfDay::ReadKey(std::string_view("2020-07-18 01:\0" "00:00", 20), nKey));
}
