#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "packet/CLNBuffer.h"

namespace {

// What one FindPacket call does: its answer and how many bytes it dropped.
struct Step {
    int nPacket;
    int32_t nDropped;
    bool operator==(const Step& other) const { return nPacket == other.nPacket && nDropped == other.nDropped; }
};

Step FindOnce(CLNBuffer& buffer)
{
    const int32_t nBefore = buffer.Length();
    const int nPacket = buffer.FindPacket();
    return {nPacket, nBefore - buffer.Length()};
}

}  // namespace

TEST(CLNBufferScanTest, BracesFarBehindTheOpeningBraceAreFound)
{
    // Lengths around the scan's 4096-byte windows.
    for (const size_t nFill : {4094u, 4095u, 4096u, 4097u, 9000u}) {
        const std::string fill(nFill, 'x');
        CLNBuffer closed;
        const std::string packet = "{" + fill + "}";
        closed.Append((packet + "{}").data(), static_cast<int>(packet.size() + 2));
        EXPECT_EQ(closed.FindPacket(), static_cast<int>(packet.size())) << nFill;

        CLNBuffer reopened;
        const std::string text = "{" + fill + "{\"a\":1}";
        reopened.Append(text.data(), static_cast<int>(text.size()));
        EXPECT_EQ(FindOnce(reopened), (Step{0, static_cast<int32_t>(nFill + 1)})) << nFill;
        EXPECT_EQ(reopened.FindPacket(), 7) << nFill;

        CLNBuffer open;
        const std::string unfinished = "{" + fill;
        open.Append(unfinished.data(), static_cast<int>(unfinished.size()));
        EXPECT_EQ(FindOnce(open), (Step{0, 0})) << nFill;
    }
}

TEST(CLNBufferScanTest, SettledPrefixFramesAsTheWholeInputDoes)
{
    // Every split of each text: whenever the prefix is settled, FindPacket on
    // it answers and drops exactly as on the whole text.
    const std::string texts[] = {
        "{\"a\":1}\r\n{\"b\":2}",
        "junk}}{\"a\":1}",
        "{\"a\":{\"b\":1}}",
        "ab{x",
        "\r\n\r\n{\"a\":1}{\"b\":2}",
        "{ab}{",
        "}}}}}{\"a\":1}",
    };
    int nSettled = 0;
    int nUnsettled = 0;
    for (const std::string& text : texts) {
        CLNBuffer whole;
        whole.Append(text.data(), static_cast<int>(text.size()));
        const Step expected = FindOnce(whole);
        for (size_t k = 1; k <= text.size(); ++k) {
            CLNBuffer prefix;
            prefix.Append(text.data(), static_cast<int>(k));
            const size_t nLastClose = text.rfind('}', k - 1);
            const int32_t nClosed = nLastClose == std::string::npos ? 0 : static_cast<int32_t>(nLastClose + 1);
            if (!prefix.IsSettled(nClosed)) {
                ++nUnsettled;
                continue;
            }
            ++nSettled;
            EXPECT_EQ(FindOnce(prefix), expected) << text << " split at " << k;
        }
    }
    EXPECT_GT(nSettled, 10);
    EXPECT_GT(nUnsettled, 10);
}

TEST(CLNBufferScanTest, NotSettledWhileTheEndCouldChangeTheAnswer)
{
    struct Case {
        const char* pszText;
        int32_t nClosed;
    };
    const Case cases[] = {
        {"{\"a\"}", 5},   // settled: 5 bytes, '{' before the last '}'
        {"{\"a\"", 0},    // no '}' yet: the packet may go on
        {"{ab}", 4},      // 4 bytes: more input could make it a packet
        {"}}}}}{", 5},    // no '{' before the last '}'
        {"xxxx{", 0},     // a '{' in the last byte is not searched yet
    };
    const bool expected[] = {true, false, false, false, false};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        CLNBuffer buffer;
        buffer.Append(cases[i].pszText, static_cast<int>(std::strlen(cases[i].pszText)));
        EXPECT_EQ(buffer.IsSettled(cases[i].nClosed), expected[i]) << cases[i].pszText;
    }
}
