#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "packet/CLNBuffer.h"

namespace {

constexpr int32_t kMiB = 1048576;

struct Cut {
    std::vector<std::string> packets;
    std::string rest;  // what the buffer still holds after the loop stops
};

// The loading loop: append once, take packets off the front until none.
Cut CutAll(const std::string& input)
{
    CLNBuffer buffer;
    if (!input.empty()) {
        EXPECT_EQ(buffer.Append(input.data(), static_cast<int>(input.size())), static_cast<int>(input.size()));
    }
    Cut cut;
    for (int n = buffer.FindPacket(); n != 0; n = buffer.FindPacket()) {
        std::unique_ptr<char[]> block = buffer.TakeFront(n);
        cut.packets.emplace_back(block.get(), static_cast<size_t>(n));
    }
    cut.rest.assign(buffer.Data(), static_cast<size_t>(buffer.Length()));
    return cut;
}

using Packets = std::vector<std::string>;

}  // namespace

TEST(CLNBufferTest, CutsPacketsAndDropsLineEndsBetweenThem)
{
    const Cut cut = CutAll("{\"a\":1}\r\n{\"b\":2}\r\n");
    EXPECT_EQ(cut.packets, (Packets{"{\"a\":1}", "{\"b\":2}"}));
    EXPECT_EQ(cut.rest, "");
}

TEST(CLNBufferTest, DropsBytesAndStrayClosingBraceBeforeFirstOpeningBrace)
{
    EXPECT_EQ(CutAll("\r\n{\"a\":1}").packets, (Packets{"{\"a\":1}"}));
    EXPECT_EQ(CutAll("x}y{\"a\":1}").packets, (Packets{"{\"a\":1}"}));
}

TEST(CLNBufferTest, SecondOpeningBraceEndsTheCuttingLoop)
{
    const Cut cut = CutAll("{\"a\":{\"b\":1}}{\"c\":2}");
    EXPECT_TRUE(cut.packets.empty());
    EXPECT_EQ(cut.rest, "{\"b\":1}}{\"c\":2}");

    // A later call finds the inner object.
    CLNBuffer buffer;
    const std::string input = "{\"a\":{\"b\":1}}{\"c\":2}";
    buffer.Append(input.data(), static_cast<int>(input.size()));
    EXPECT_EQ(buffer.FindPacket(), 0);
    EXPECT_EQ(buffer.FindPacket(), 7);
}

TEST(CLNBufferTest, ClosingBraceInsideStringEndsThePacket)
{
    const Cut cut = CutAll("{\"s\":\"}\"}");
    EXPECT_EQ(cut.packets, (Packets{"{\"s\":\"}"}));
    EXPECT_EQ(cut.rest, "");
}

TEST(CLNBufferTest, NeedsFiveBytesToFindAPacket)
{
    EXPECT_TRUE(CutAll("{}").packets.empty());
    EXPECT_EQ(CutAll("{}xyz").packets, (Packets{"{}"}));
    // The last packet of four bytes or fewer is lost.
    EXPECT_EQ(CutAll("{\"a\":1}{ab}").packets, (Packets{"{\"a\":1}"}));
    EXPECT_EQ(CutAll("{\"a\":1}{ab}").rest, "");
}

TEST(CLNBufferTest, OpeningBraceInLastByteIsNotSearched)
{
    const Cut cut = CutAll("abcd{");
    EXPECT_TRUE(cut.packets.empty());
    EXPECT_EQ(cut.rest, "");
}

TEST(CLNBufferTest, IncompletePacketStaysWhateverTheNumberOfCalls)
{
    CLNBuffer buffer;
    const std::string input = "xx{\"a\":1";
    buffer.Append(input.data(), static_cast<int>(input.size()));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(buffer.FindPacket(), 0);
    EXPECT_EQ(std::string(buffer.Data(), static_cast<size_t>(buffer.Length())), "{\"a\":1");
}

TEST(CLNBufferTest, ComparesSingleBytesEvenInsideMultiByteText)
{
    // A trail byte of 0x7D counts as a closing brace.
    const std::string input = std::string("{\"k\":\"\x81") + "}\"}xyz";
    EXPECT_EQ(CutAll(input).packets, (Packets{std::string("{\"k\":\"\x81}")}));
}

TEST(CLNBufferTest, GrowsInWholeStepsAboveTheAppendedCount)
{
    const std::string full(static_cast<size_t>(kMiB), 'x');
    {
        CLNBuffer buffer;
        EXPECT_EQ(buffer.Capacity(), kMiB);
        buffer.Append(full.data(), kMiB);
        EXPECT_EQ(buffer.Capacity(), kMiB);  // exactly full: no reallocation
        buffer.Append(full.data(), 300);
        EXPECT_EQ(buffer.Capacity(), 2 * kMiB);
    }
    {
        CLNBuffer buffer;
        buffer.Append(full.data(), kMiB);
        buffer.Append(full.data(), kMiB);
        EXPECT_EQ(buffer.Capacity(), 3 * kMiB);
        EXPECT_EQ(buffer.Length(), 2 * kMiB);
    }
    {
        const std::string big(3000000, 'y');
        CLNBuffer buffer;
        buffer.Append(big.data(), 3000000);
        EXPECT_EQ(buffer.Capacity(), 4194304);
    }
}

TEST(CLNBufferTest, RefusesNullNonPositiveAndTooLargeAppends)
{
    CLNBuffer buffer;
    const char byte = '{';
    EXPECT_EQ(buffer.Append(nullptr, 5), 0);
    EXPECT_EQ(buffer.Append(&byte, 0), 0);
    EXPECT_EQ(buffer.Append(&byte, -3), 0);
    // The grown capacity would pass the 32-bit limit: refused before any
    // allocation, and the buffer is unchanged.
    EXPECT_EQ(buffer.BeginAppend(INT_MAX - 10), nullptr);
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_EQ(buffer.Capacity(), kMiB);
}

TEST(CLNBufferTest, ShrinksBackAfterLastTakeOfAGrownBuffer)
{
    std::string input = "{" + std::string(static_cast<size_t>(2 * kMiB), 'a') + "}";
    CLNBuffer buffer;
    buffer.Append(input.data(), static_cast<int>(input.size()));
    EXPECT_EQ(buffer.Capacity(), 4 * kMiB);
    const int n = buffer.FindPacket();
    ASSERT_EQ(n, static_cast<int>(input.size()));
    EXPECT_EQ(std::string(buffer.TakeFront(n).get(), static_cast<size_t>(n)), input);
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_EQ(buffer.Capacity(), kMiB);
}

TEST(CLNBufferTest, EmptyingByFindPacketKeepsTheGrownBlock)
{
    const std::string junk(static_cast<size_t>(2 * kMiB), 'z');
    CLNBuffer buffer;
    buffer.Append(junk.data(), static_cast<int>(junk.size()));
    const int32_t nGrown = buffer.Capacity();
    EXPECT_GT(nGrown, kMiB);
    EXPECT_EQ(buffer.FindPacket(), 0);
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_EQ(buffer.Capacity(), nGrown);
}

TEST(CLNBufferTest, AppendAfterTakesKeepsTheRemainingBytesInOrder)
{
    // Takes move only a read offset; an append that needs the room must
    // bring the rest to the front without losing or reordering bytes.
    CReceiveBuffer buffer(16, 16);
    buffer.Append("0123456789abcdef", 16);
    buffer.TakeFront(10);
    buffer.Append("XYZ", 3);
    EXPECT_EQ(buffer.Capacity(), 16);
    EXPECT_EQ(std::string(buffer.Data(), static_cast<size_t>(buffer.Length())), "abcdefXYZ");
    EXPECT_EQ(buffer.TakeFront(0), nullptr);
    EXPECT_EQ(buffer.TakeFront(10), nullptr);
}

TEST(CLNBufferTest, BaseBufferFindsNoPacket)
{
    CReceiveBuffer buffer;
    buffer.Append("{\"a\":1}", 7);
    EXPECT_EQ(buffer.FindPacket(), 0);
    EXPECT_EQ(buffer.Length(), 7);
}

TEST(CLNBufferTest, CutsManyPacketsOfALargeInput)
{
    std::string input;
    for (int i = 0; i < 20000; ++i)
        input += "{\"n\":" + std::to_string(i) + "}\n";
    const Cut cut = CutAll(input);
    ASSERT_EQ(cut.packets.size(), 20000u);
    EXPECT_EQ(cut.packets.front(), "{\"n\":0}");
    EXPECT_EQ(cut.packets.back(), "{\"n\":19999}");
}
