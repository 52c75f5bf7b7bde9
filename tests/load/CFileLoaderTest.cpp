#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempDir.h"
#include "load/CFileLoader.h"
#include "load/CTextLoader.h"
#include "load/LoadedTexts.h"
#include "text/TovrikTexts.h"

namespace {

using Result = CLoadResult;
using Strings = std::vector<std::string>;

}  // namespace

TEST(CFileLoaderTest, ImportKeepsMessagesWithImeiAndIndexesReadableTimes)
{
    TempDir dir;
    const std::string file = dir.Write("day.txt",
                                       "{\"IMEI\":\"1\",\"time\":\"2020-07-18 15:22:59\",\"n\":1}\r\n"
                                       "{\"n\":2,\"time\":\"2020-07-18 15:22:59\"}\r\n"
                                       "{\"IMEI\":\"1\",\"time\":\"2020-07-18 15:22\",\"n\":3}\r\n"
                                       "not json {\"IMEI\":1,\"n\":4,}\r\n"
                                       "{\"IMEI\":\"1\",\"time\":\"2021-01-01 15:22:59\",\"n\":5}\r\n");
    const Result result = CFileLoader::Import(file);
    ASSERT_EQ(result.nStatus, Result::kOk);
    const Strings texts = LoadedTexts(result);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0].find("\"n\":1"), std::string::npos);
    EXPECT_NE(texts[1].find("\"n\":3"), std::string::npos);
    EXPECT_NE(texts[2].find("\"n\":5"), std::string::npos);
    EXPECT_EQ(result.Message(), "解析完毕,一共解析 3 道下载命令.开始发送.");

    ASSERT_NE(result.pIndex, nullptr);
    ASSERT_EQ(result.pIndex->size(), 1u);
    const std::vector<Packet>& second = result.pIndex->at(55379);
    ASSERT_EQ(second.size(), 2u);
    // The index refers to the list's own blocks.
    EXPECT_EQ(second[0].data, (*result.pPackets)[0].data);
    EXPECT_EQ(second[1].data, (*result.pPackets)[2].data);
}

TEST(CFileLoaderTest, ImportOfFilesWithoutUsableMessagesFindsNoPackets)
{
    TempDir dir;
    const std::string cases[] = {
        "",
        "{",
        std::string("\x00\x01\x02{\xff\xfe}\x7f", 8),
        // UTF-16 text of a message
        std::string("\xff\xfe{\0\"\0I\0M\0E\0I\0\"\0:\0\x31\0}\0", 22),
        // GBK text: not UTF-8, so it does not parse
        "{\"IMEI\":\"1\",\"name\":\"\xb2\xe2\xca\xd4\"}",
        "{\"IMEI\":1,\"o\":{\"time\":\"2020-07-18 15:22:59\"}}",
        "{\"no_imei\":1}",
    };
    int i = 0;
    for (const std::string& content : cases) {
        const Result result = CFileLoader::Import(dir.Write("f" + std::to_string(i++) + ".txt", content));
        EXPECT_EQ(result.nStatus, Result::kNoPackets) << i;
        EXPECT_EQ(result.pPackets, nullptr);
    }
}

TEST(CFileLoaderTest, ImportOfALargeFileWithoutBracesFindsNothing)
{
    TempDir dir;
    const std::string file = dir.Path() + "/big.txt";
    {
        std::ofstream out(file, std::ios::binary);
        const std::string line(1023, 'x');
        for (int i = 0; i < 100 * 1024; ++i)
            out << line << '\n';
    }
    EXPECT_EQ(CFileLoader::Import(file).nStatus, Result::kNoPackets);
}

TEST(CFileLoaderTest, FilesAreFoundByTheirUtf8NamesAndReadAsBytes)
{
    TempDir dir;
    // A line end inside a message and an end-of-file byte of the old text
    // mode between two: neither may be translated.
    const std::string content = "{\"IMEI\":\"1\",\r\n\"n\":\"中\"}\x1a{\"IMEI\":\"2\"}\r\n";
    const std::string file = dir.Write("消息 文件.txt", content);
    const Result result = CFileLoader::Import(file);
    ASSERT_EQ(result.nStatus, Result::kOk) << result.Message();
    EXPECT_EQ(LoadedTexts(result), (Strings{"{\"IMEI\":\"1\",\r\n\"n\":\"中\"}", "{\"IMEI\":\"2\"}"}));
}

TEST(CFileLoaderTest, UnreadableFileNamesTheFileAndTheReason)
{
    const Result missing = CFileLoader::Import("/nonexistent/messages.txt");
    EXPECT_EQ(missing.nStatus, Result::kUnreadable);
    EXPECT_EQ(missing.Message(), "/nonexistent/messages.txt: No such file or directory");

    TempDir dir;
    EXPECT_EQ(CFileLoader::Import(dir.Path()).nStatus, Result::kUnreadable);
}

TEST(CFileLoaderTest, FileTooLargeForThirtyTwoBitLengthsIsRefusedWithoutReading)
{
    TempDir dir;
    for (const uintmax_t nSize : {uintmax_t{3} << 30, uintmax_t{2146435072}}) {
        const std::string file = dir.Write("huge.txt", "");
        std::filesystem::resize_file(std::filesystem::u8path(file), nSize);  // sparse: nothing is written
        const Result result = CFileLoader::Import(file);
        EXPECT_EQ(result.nStatus, Result::kTooLarge) << nSize;
        EXPECT_NE(result.Message().find("huge.txt: file too large"), std::string::npos);
    }
}

TEST(CFileLoaderTest, ProgressCanCancelALoad)
{
    TempDir dir;
    std::string content;
    for (int i = 0; i < 10000; ++i)
        content += "{\"IMEI\":1,\"n\":" + std::to_string(i) + "}\n";
    const std::string file = dir.Write("many.txt", content);

    int64_t nLastDone = 0;
    int64_t nTotal = 0;
    const Result whole = CFileLoader::Import(file, [&](int64_t nDone, int64_t nOf) {
        EXPECT_GE(nDone, nLastDone);
        nLastDone = nDone;
        nTotal = nOf;
        return true;
    });
    EXPECT_EQ(whole.nStatus, Result::kOk);
    EXPECT_EQ(whole.pPackets->size(), 10000u);
    EXPECT_EQ(nLastDone, nTotal);

    const Result cancelled = CFileLoader::Import(file, [](int64_t, int64_t) { return false; });
    EXPECT_EQ(cancelled.nStatus, Result::kCancelled);
    EXPECT_EQ(cancelled.pPackets, nullptr);
    EXPECT_EQ(CTextLoader::Load(content, false, [](int64_t, int64_t) { return false; }).nStatus,
              Result::kCancelled);
}

// An address-space limit and a death test's fork: POSIX only.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// In a child process: imports the file with 768 MiB of address space and
// exits with 0 when the import ended with the failure it should.
void ImportUnderMemoryLimit(const std::string& file)
{
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t{768} << 20;
    setrlimit(RLIMIT_AS, &limit);
    const Result result = CFileLoader::Import(file);
    const bool bClear =
        result.nStatus == Result::kTooLarge && result.Message() == file + ": not enough memory";
    _exit(bClear ? 0 : 1);
}

}  // namespace

// A load that runs out of memory is refused like a file too large, with the
// reason, instead of ending the program. (Not under a sanitizer: its shadow
// memory does not fit an address-space limit.)
TEST(CFileLoaderTest, RunningOutOfMemoryIsAClearFailure)
{
    TempDir dir;
    const std::string file = dir.Path() + "/open-ended.txt";
    {
        const int fd = open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "{", 1), 1);
        // One packet that never closes: everything after the brace is kept.
        ASSERT_EQ(ftruncate(fd, off_t{1536} << 20), 0);
        close(fd);
    }
    EXPECT_EXIT(ImportUnderMemoryLimit(file), ::testing::ExitedWithCode(0), "");
}
#endif
