#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "packet/CMessageTemplate.h"
#include "packet/CReplyKeyReader.h"
#include "packet/CTemplateBuilder.h"
#include "text/TovrikTexts.h"

namespace {

using Kind = CMessageTemplate::Kind;

Packet Of(const std::string& text)
{
    return Packet{text.data(), static_cast<int32_t>(text.size())};
}

CTemplateBuilder::Rule Rule(Kind nKind, const std::string& strCounter = "n", bool bSetImei = true)
{
    CTemplateBuilder::Rule rule;
    rule.nKind = nKind;
    rule.bSetImei = bSetImei;
    rule.strCounter = strCounter;
    return rule;
}

CMessageTemplate::Values Values(uint64_t nImei, int nWidth, uint64_t nStep, const char* pszTime = "2026-12-08 10:00:00")
{
    CMessageTemplate::Values values;
    values.nImei = nImei;
    values.nImeiWidth = nWidth;
    values.nCounterStep = nStep;
    values.time = pszTime;
    return values;
}

class CMessageTemplateTest : public ::testing::Test {
protected:
    std::string Spliced(const std::string& packet, const CTemplateBuilder::Rule& rule,
                        const CMessageTemplate::Values& values)
    {
        CMessageTemplate message;
        EXPECT_TRUE(m_builder.Make(Of(packet), rule, message)) << packet;
        return message.Text(values);
    }

    CTemplateBuilder m_builder;
};

}  // namespace

TEST_F(CMessageTemplateTest, WritesWhatTheDirectRewriteWritesForEveryKindAndValue)
{
    const std::vector<std::string> packets = {
        TovrikTexts::kStatusMessage,
        TovrikTexts::kDeviceInfo,
        "{}",
        "{\"time\":1}",
        " { \"IMEI\" : 12 , \"n\" : \"0099\" ,\n \"time\":\"x\", \"time\":2, \"make_up\":0 } ",
        "{\"n\":-3,\"IMEI\":null,\"IMEI\":\"second\",\"n\":7}",
        "{\"IMEI\":\"\\u00e9\\n\",\"n\":18446744073709551615,\"v\":[1e2,-0.0,{\"IMEI\":1}]}",
        "{\"n\":\"12a\",\"IMEI\":1.5}",
        "{\"n\":9223372036854775807,\"k\\\"ey\":\"\\/\"}",
        "{\"IMEI\":\"x\",\"d\":[1e21,1.5e-7,0.1,-1E+2],\"s\":\"\\b\\u001f\\u00e9\\/\"}",
        "[1,{\"IMEI\":2}]",
        "\"scalar\"",
    };
    const std::vector<CMessageTemplate::Values> values = {
        Values(0, 0, 0), Values(1234567890, 10, 1), Values(7, 15, 99999, "Invalid DateTime"),
        Values(999999999999999999ull, 18, 18446744073709551615ull)};
    for (const std::string& packet : packets) {
        for (const Kind nKind : {Kind::kRaw, Kind::kStamp, Kind::kMakeUp}) {
            for (const bool bSetImei : {true, false}) {
                const CTemplateBuilder::Rule rule = Rule(nKind, "n", bSetImei);
                CMessageTemplate message;
                ASSERT_TRUE(m_builder.Make(Of(packet), rule, message)) << packet;
                for (const CMessageTemplate::Values& value : values) {
                    std::string direct;
                    ASSERT_TRUE(m_builder.RewriteDirect(Of(packet), rule, value, direct));
                    EXPECT_EQ(message.Text(value), direct) << packet << " kind " << int(nKind);
                }
            }
        }
    }
}

TEST_F(CMessageTemplateTest, TheImeiKeepsItsTypeAndTheCounterItsWidthOrItsSign)
{
    EXPECT_EQ(Spliced("{\"IMEI\":\"1\",\"n\":\"0099\",\"time\":\"t\"}", Rule(Kind::kStamp), Values(42, 5, 1)),
              "{\"IMEI\":\"00042\",\"n\":\"0100\",\"time\":\"2026-12-08 10:00:00\"}");
    EXPECT_EQ(Spliced("{\"IMEI\":1,\"n\":\"99\"}", Rule(Kind::kMakeUp), Values(42, 5, 1)),
              "{\"IMEI\":42,\"n\":\"100\",\"make_up\":1}");
    EXPECT_EQ(Spliced("{\"n\":-2,\"IMEI\":[1]}", Rule(Kind::kRaw), Values(42, 5, 3)), "{\"n\":1,\"IMEI\":[1]}");
    EXPECT_EQ(Spliced("{\"n\":-2}", Rule(Kind::kRaw), Values(42, 5, 1)), "{\"n\":-1}");
    // A counter string has at most 19 digits; a longer one is left alone.
    EXPECT_EQ(Spliced("{\"n\":\"0999999999999999999\"}", Rule(Kind::kRaw), Values(42, 5, 2)),
              "{\"n\":\"1000000000000000001\"}");
    EXPECT_EQ(Spliced("{\"n\":\"00000000000000000001\"}", Rule(Kind::kRaw), Values(42, 5, 2)),
              "{\"n\":\"00000000000000000001\"}");
    EXPECT_EQ(Spliced("{\"a\":1}", Rule(Kind::kStamp), Values(42, 5, 1)),
              "{\"a\":1,\"time\":\"2026-12-08 10:00:00\"}")
        << "a message without IMEI keeps none";
    CMessageTemplate::Values byFile = Values(0, 0, 0);
    byFile.imeiJson = "{\"x\":1}";
    EXPECT_EQ(Spliced("{\"IMEI\":\"1\"}", Rule(Kind::kRaw), byFile), "{\"IMEI\":{\"x\":1}}");
}

TEST_F(CMessageTemplateTest, APacketThatDoesNotParseMakesNoTemplate)
{
    CMessageTemplate message;
    EXPECT_FALSE(m_builder.Make(Of("{not json}"), Rule(Kind::kRaw), message));
    EXPECT_FALSE(m_builder.Make(Of("{\"a\":1}x"), Rule(Kind::kStamp), message));
    std::string direct;
    EXPECT_FALSE(m_builder.RewriteDirect(Of("{\"a\":"), Rule(Kind::kMakeUp), Values(1, 1, 0), direct));
}

// A datagram's key of the member replies are matched by is the key the
// reply carrying the same value has, whatever the member's source.
TEST_F(CMessageTemplateTest, TheMatchKeyOfADatagramIsTheKeyOfAReplyEchoingItsMember)
{
    struct Case {
        const char* pszPacket;
        Kind nKind;
        const char* pszMatch;
        const char* pszEchoed;  // the member's value in the datagram of step 5
    };
    const Case cases[] = {
        {"{\"IMEI\":\"1\",\"n\":\"0099\"}", Kind::kRaw, "n", "\"0104\""},
        {"{\"IMEI\":\"1\",\"n\":-7}", Kind::kRaw, "n", "-2"},
        {"{\"IMEI\":\"1\",\"time\":\"x\"}", Kind::kStamp, "time", "\"2026-12-08 10:00:00\""},
        {"{\"IMEI\":\"1\",\"time\":\"x\"}", Kind::kRaw, "time", "\"x\""},
        {"{\"IMEI\":\"1\",\"v\":[1,{\"a\":\"\\u00e9\"}]}", Kind::kMakeUp, "v", "[1,{\"a\":\"é\"}]"},
    };
    CTemplateBuilder builder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszPacket);
        CTemplateBuilder::Rule rule = Rule(c.nKind);
        rule.strMatch = c.pszMatch;
        CMessageTemplate message;
        ASSERT_TRUE(builder.Make(Of(c.pszPacket), rule, message));
        uint64_t nSent = 0;
        ASSERT_TRUE(message.MatchKey(Values(5, 10, 5), nSent));
        CReplyKeyReader reader(c.pszMatch);
        uint64_t nReply = 0;
        const std::string reply = std::string("{\"ack\":1,\"") + c.pszMatch + "\":" + c.pszEchoed + "}";
        ASSERT_TRUE(reader.Read(reply.data(), reply.size(), nReply)) << reply;
        EXPECT_EQ(nSent, nReply) << reply;
    }
    // A string and a number of the same digits differ; no member, no key.
    CTemplateBuilder::Rule rule = Rule(Kind::kRaw);
    rule.strMatch = "n";
    CMessageTemplate message;
    ASSERT_TRUE(builder.Make(Of("{\"n\":\"12\"}"), rule, message));
    uint64_t nSent = 0;
    ASSERT_TRUE(message.MatchKey(Values(1, 1, 0), nSent));
    CReplyKeyReader reader("n");
    uint64_t nReply = 0;
    ASSERT_TRUE(reader.Read("{\"n\":12}", 8, nReply));
    EXPECT_NE(nSent, nReply);
    EXPECT_FALSE(reader.Read("{\"m\":12}", 8, nReply));
    EXPECT_FALSE(reader.Read("[12]", 4, nReply));
    ASSERT_TRUE(builder.Make(Of("{\"m\":1}"), rule, message));
    EXPECT_FALSE(message.MatchKey(Values(1, 1, 0), nSent));
}

namespace {

CTemplateBuilder::Vary VaryRule(const std::string& strMember, bool bNumbers = true, bool bTexts = false,
                                int nDecimals = -1)
{
    CTemplateBuilder::Vary vary;
    vary.strMember = strMember;
    vary.bNumbers = bNumbers;
    vary.bTexts = bTexts;
    vary.nDecimals = nDecimals;
    return vary;
}

std::string Generated(CMessageTemplate::Form nForm, int nDecimals, double dValue)
{
    char text[CMessageTemplate::kMaxGeneratedText];
    CMessageTemplate::Generated value;
    value.dNumber = dValue;
    return std::string(text, CMessageTemplate::WriteGenerated(text, nForm, nDecimals, value));
}

}  // namespace

// Each member takes its values in the form its own value has; members the
// rules cannot write are told, and every datagram is what the direct
// rewrite writes.
TEST_F(CMessageTemplateTest, GeneratedValuesKeepEachMembersTypeAndForm)
{
    const std::string packet =
        "{\"IMEI\":\"1\",\"i\":7,\"d\":42.8,\"s\":\"35.70\",\"t\":\"ok\",\"b\":true,\"arr\":[1],"
        "\"y\":1.5,\"z\":-2,\"i\":8,\"e\":\"-3\",\"o\":{\"n\":1},\"h\":\"35.7\",\"time\":\"t\"}";
    CTemplateBuilder::Rule rule = Rule(Kind::kStamp, "");
    rule.vary = {VaryRule("i"),        VaryRule("d"),       VaryRule("s"),       VaryRule("t", false, true),
                 VaryRule("b"),        VaryRule("arr"),     VaryRule("y"),       VaryRule("z", true, false, 2),
                 VaryRule("none"),     VaryRule("o"),       VaryRule("e", true, true, 1), VaryRule("t", true),
                 VaryRule("h", false, true)};
    std::vector<CTemplateBuilder::VaryMatch> matches;
    CMessageTemplate message;
    ASSERT_TRUE(m_builder.Make(Of(packet), rule, message, &matches));
    using Match = CTemplateBuilder::VaryMatch::Kind;
    // The last rule names a member another one took: it is not there for it.
    const std::vector<Match> expected = {Match::kSlot, Match::kSlot, Match::kSlot, Match::kSlot,
                                         Match::kWrongType, Match::kWrongType, Match::kSlot, Match::kSlot,
                                         Match::kMissing, Match::kWrongType, Match::kSlot, Match::kMissing,
                                         Match::kWrongType};
    ASSERT_EQ(matches.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(matches[i].nKind, expected[i]) << i;
    EXPECT_EQ(matches[4].strValue, "a boolean");
    EXPECT_EQ(matches[5].strValue, "an array");
    EXPECT_EQ(matches[9].strValue, "an object");
    EXPECT_EQ(matches[12].strValue, "a number as a string") << "texts would change its form";

    std::vector<CMessageTemplate::Generated> generated(rule.vary.size());
    const double numbers[] = {7.6, 37.26, 36.049, 0, 0, 0, -0.25, 3.14159, 0, 0, -0.04, 0, 0};
    for (size_t i = 0; i < generated.size(); ++i)
        generated[i].dNumber = numbers[i];
    generated[3].text = "fail \\\"x\\\"";
    CMessageTemplate::Values values = Values(5, 1, 0);
    values.pGenerated = generated.data();
    const std::string spliced = message.Text(values);
    EXPECT_EQ(spliced,
              "{\"IMEI\":\"5\",\"i\":8,\"d\":37.3,\"s\":\"36.05\",\"t\":\"fail \\\"x\\\"\",\"b\":true,\"arr\":[1],"
              "\"y\":-0.2,\"z\":3.14,\"i\":8,\"e\":\"0.0\",\"o\":{\"n\":1},\"h\":\"35.7\","
              "\"time\":\"2026-12-08 10:00:00\"}");
    std::string direct;
    ASSERT_TRUE(m_builder.RewriteDirect(Of(packet), rule, values, direct));
    EXPECT_EQ(spliced, direct);
}

// A generated number as the writer writes numbers: the shortest digits of
// the double nearest to the rounded value, a decimal point always; a string
// with exactly its decimals and no minus on a zero.
TEST_F(CMessageTemplateTest, GeneratedNumbersAreWrittenAsTheWriterWritesThem)
{
    using Form = CMessageTemplate::Form;
    EXPECT_EQ(Generated(Form::kDecimal, 1, 100.04), "100.0");
    EXPECT_EQ(Generated(Form::kDecimal, 3, 0.0000004), "0.0");
    EXPECT_EQ(Generated(Form::kDecimal, 9, 0.0000001234), "1.23e-7");
    EXPECT_EQ(Generated(Form::kDecimal, 0, -1e15), "-1000000000000000.0");
    EXPECT_EQ(Generated(Form::kDecimalString, 2, -0.001), "\"0.00\"");
    EXPECT_EQ(Generated(Form::kDecimalString, 0, 12.5001), "\"13\"");
    EXPECT_EQ(Generated(Form::kInteger, 0, -2.5001), "-3");
    // Against the writer of parsed documents: a written number parses back
    // to a double the compact form writes the same way, within half a unit
    // of its last decimal.
    for (int i = 0; i < 2000; ++i) {
        const double dValue = (i * 7919 % 20011 - 10005) * std::pow(10.0, i % 13 - 6) / 3.0;
        const int nDecimals = i % 10;
        const std::string text = Generated(Form::kDecimal, nDecimals, dValue);
        const std::string document = "{\"v\":" + text + "}";
        std::string compact;
        ASSERT_TRUE(m_builder.RewriteDirect(Of(document), Rule(Kind::kRaw, "", false), Values(0, 0, 0), compact));
        ASSERT_EQ(compact, document) << dValue << " to " << nDecimals;
        ASSERT_NEAR(std::strtod(text.c_str(), nullptr), dValue, 0.5000001 * std::pow(10.0, -nDecimals) +
                                                                    std::fabs(dValue) * 1e-15)
            << text;
    }
}
