#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packet/CLNBuffer.h"
#include "packet/PacketList.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

TEST(PacketListTest, CopiedPacketsStayValidAndInOrderAcrossChunks)
{
    PacketList list;
    std::vector<std::string> texts;
    std::vector<Packet> views;
    // Enough small packets to fill several chunks, with a large one between.
    for (int i = 0; i < 20000; ++i) {
        texts.push_back("{\"n\":" + std::to_string(i) + ",\"pad\":\"" + std::string(static_cast<size_t>(i % 700), 'p') +
                        "\"}");
        if (i == 777)
            texts.push_back("{" + std::string(3 * 1048576, 'L') + "}");
    }
    for (const std::string& text : texts)
        views.push_back(list.AddCopy(text.data(), static_cast<int32_t>(text.size())));
    ASSERT_EQ(list.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        const Packet packet = list[i];
        EXPECT_EQ(packet.data, views[i].data);
        ASSERT_EQ(std::string(packet.data, static_cast<size_t>(packet.length)), texts[i]) << i;
    }
    list.Clear();
    EXPECT_TRUE(list.empty());
}

#if defined(__SANITIZE_ADDRESS__)
TEST(PacketListTest, UnderAsanTheBytesAfterEachCopiedPacketArePoisoned)
{
    PacketList list;
    const Packet first = list.AddCopy("{ab}", 4);
    const Packet second = list.AddCopy("{cdefghi}", 9);
    for (const Packet& packet : {first, second}) {
        for (int32_t i = 0; i < packet.length; ++i)
            EXPECT_FALSE(__asan_address_is_poisoned(packet.data + i)) << i;
        EXPECT_TRUE(__asan_address_is_poisoned(packet.data + packet.length));
    }
}
#endif

TEST(PacketListTest, AdoptedAndCopiedPacketsMix)
{
    PacketList list;
    std::unique_ptr<char[]> block(new char[4]{'{', 'a', 'b', '}'});
    const char* pAdopted = block.get();
    list.Add(std::move(block), 4);
    list.AddCopy("{cd}", 4);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].data, pAdopted);
    EXPECT_EQ(std::string(list[1].data, 4), "{cd}");
}

TEST(PacketListTest, ConsumeRemovesLikeTakeFrontWithoutTheCopy)
{
    CLNBuffer buffer;
    const std::string input = "{\"a\":1}" + std::string(2 * 1048576, ' ');
    buffer.Append(input.data(), static_cast<int>(input.size()));
    EXPECT_FALSE(buffer.Consume(0));
    EXPECT_FALSE(buffer.Consume(buffer.Length() + 1));
    ASSERT_TRUE(buffer.Consume(7));
    EXPECT_EQ(buffer.Length(), 2 * 1048576);
    EXPECT_GT(buffer.Capacity(), 1048576);
    ASSERT_TRUE(buffer.Consume(buffer.Length()));
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_EQ(buffer.Capacity(), 1048576) << "shrinks back after the last bytes";
}
