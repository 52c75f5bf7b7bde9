#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load/CTextLoader.h"
#include "load/LoadedTexts.h"
#include "text/TovrikTexts.h"

namespace {

using Result = CLoadResult;
using Strings = std::vector<std::string>;

}  // namespace

TEST(CTextLoaderTest, TheStatusMessageIsOnePacketOf904Bytes)
{
    EXPECT_EQ(std::string(TovrikTexts::kStatusMessage).size(), 904u);
    EXPECT_EQ(std::string(TovrikTexts::kDeviceInfo).size(), 121u);
    const Result result = CTextLoader::Load(TovrikTexts::kStatusMessage, false);
    ASSERT_EQ(result.nStatus, Result::kOk);
    EXPECT_EQ(LoadedTexts(result), (Strings{TovrikTexts::kStatusMessage}));
    EXPECT_EQ(result.Message(), "解析完毕,一共解析 1 道下载命令.开始发送.");
    EXPECT_EQ(result.pIndex, nullptr);
}

TEST(CTextLoaderTest, TextModeCutsAnyBraceDelimitedText)
{
    EXPECT_EQ(LoadedTexts(CTextLoader::Load("{\"a\":1}{\"b\":2}", false)), (Strings{"{\"a\":1}", "{\"b\":2}"}));
    EXPECT_EQ(LoadedTexts(CTextLoader::Load("{abcd}{efgh}", false)), (Strings{"{abcd}", "{efgh}"}));
    // A nested object stops the cutting; what came before stays.
    EXPECT_EQ(LoadedTexts(CTextLoader::Load("{\"a\":1}\n{\"o\":{\"p\":1}}\n{\"c\":3}", false)),
              (Strings{"{\"a\":1}"}));
}

TEST(CTextLoaderTest, TextFailuresGiveTheirOwnMessages)
{
    const Result empty = CTextLoader::Load("", false);
    EXPECT_EQ(empty.nStatus, Result::kEmptyText);
    EXPECT_EQ(empty.Message(), "数据不能为空");

    const Result nested = CTextLoader::Load("{\"o\":{\"p\":1}}", false);
    EXPECT_EQ(nested.nStatus, Result::kNoPackets);
    EXPECT_EQ(nested.pPackets, nullptr);
    EXPECT_EQ(nested.Message(), "未解析到数据包");
}

TEST(CTextLoaderTest, HexDigitsInPairsWithBlanksAndLineBreaksSpellTheBytes)
{
    const Result result = CTextLoader::Load("7b 22 61\r\n22 3a\n31 7d", true);
    ASSERT_EQ(result.nStatus, Result::kOk);
    EXPECT_EQ(LoadedTexts(result), (Strings{"{\"a\":1}"}));
    EXPECT_EQ(result.strText, "7b2261223a317d");
}

TEST(CTextLoaderTest, HexOddLastDigitIsDroppedAndShortBytesFindNothing)
{
    const Result result = CTextLoader::Load("7B7D7", true);
    EXPECT_EQ(result.nStatus, Result::kNoPackets);
    EXPECT_EQ(result.strText, "7B7D");
}

TEST(CTextLoaderTest, HexRejectionEmptiesTheText)
{
    for (const char* text : {"7b\t7d", "7b,7d", "7g", "7b\xe4\xb8\xad"}) {
        const Result result = CTextLoader::Load(text, true);
        EXPECT_EQ(result.nStatus, Result::kNotHex) << text;
        EXPECT_EQ(result.strText, "");
        EXPECT_EQ(result.Message(), "请输入HEX数据");
    }
    const std::string ok(50000, 'A');
    EXPECT_EQ(CTextLoader::Load(ok, true).nStatus, Result::kNoPackets);
    const Result tooLong = CTextLoader::Load(ok + "A", true);
    EXPECT_EQ(tooLong.nStatus, Result::kHexTooLong);
    EXPECT_EQ(tooLong.strText, "");
    EXPECT_EQ(tooLong.Message(), "长度请勿超过5W");
}

TEST(CTextLoaderTest, DecodesHexPairsOfEitherCase)
{
    EXPECT_EQ(CTextLoader::DecodeHex("00ff7Fa0"), std::string("\x00\xff\x7f\xa0", 4));
    EXPECT_EQ(CTextLoader::DecodeHex("abc"), "\xab");
}
