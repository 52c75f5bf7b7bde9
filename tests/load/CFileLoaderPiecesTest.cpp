#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "TempDir.h"
#include "load/CFileLoader.h"
#include "packet/CDeviceMessage.h"
#include "packet/CLNBuffer.h"

namespace {

using Result = CLoadResult;

std::string DescribeStop(bool bStopped, int64_t nOffset, int64_t nLine, int64_t nUncut)
{
    return bStopped ? "stop " + std::to_string(nOffset) + " " + std::to_string(nLine) + " " + std::to_string(nUncut) + "\n"
                    : "cut to the end\n";
}

// Status, packets, index (as positions in the list) and where the cutting
// stopped, of a load, as text.
std::string Describe(const Result& result)
{
    std::string text = std::to_string(result.nStatus) + "\n" +
                       DescribeStop(result.bCutStopped, result.nStopOffset, result.nStopLine, result.nUncut);
    std::map<const char*, size_t> position;
    if (result.pPackets) {
        for (size_t i = 0; i < result.pPackets->size(); ++i) {
            const Packet packet = (*result.pPackets)[i];
            position[packet.data] = i;
            text.append(packet.data, static_cast<size_t>(packet.length)).append("\n");
        }
    }
    if (result.pIndex) {
        for (const auto& [nKey, packets] : *result.pIndex) {
            text += std::to_string(nKey) + ":";
            for (const Packet& packet : packets)
                text += (position.count(packet.data) ? std::to_string(position[packet.data]) : "?") + ",";
            text += "\n";
        }
    }
    return text;
}

// What one Append of everything and the cutting loop give, described as
// Describe does; bImport keeps only the messages with "IMEI" and indexes them.
std::string DescribeWholeCut(const std::string& content, bool bImport)
{
    CLNBuffer buffer;
    buffer.Append(content.data(), static_cast<int>(content.size()));
    CDeviceMessage message;
    std::string packets;
    std::map<int64_t, std::string> index;
    size_t nKept = 0;
    for (int n = buffer.FindPacket(); n != 0; n = buffer.FindPacket()) {
        const Packet packet{buffer.Data(), n};
        const CDeviceMessage::ImportReading reading = message.ReadImport(packet);
        if (!bImport || reading.bKeep) {
            packets.append(packet.data, static_cast<size_t>(n)).append("\n");
            if (bImport && reading.bHasKey)
                index[reading.nKey] += std::to_string(nKept) + ",";
            ++nKept;
        }
        buffer.Consume(n);
    }
    const int64_t nOffset = static_cast<int64_t>(content.size()) - buffer.Length();
    const int64_t nLine = 1 + std::count(content.begin(), content.begin() + nOffset, '\n');
    std::string text = std::to_string(nKept > 0 ? Result::kOk : Result::kNoPackets) + "\n" +
                       DescribeStop(buffer.Length() > 0, nOffset, nLine, buffer.Length()) + packets;
    for (const auto& [nKey, positions] : index)
        text += std::to_string(nKey) + ":" + positions + "\n";
    return text;
}

std::string Message(int n, const char* pszTime)
{
    return "{\"IMEI\":\"1\",\"n\":" + std::to_string(n) + ",\"time\":\"" + pszTime + "\"}";
}

}  // namespace

// A file is read a piece (1 MiB) at a time; whatever lies across the end of a
// piece must be cut as if the whole file had been appended at once.
TEST(CFileLoaderPiecesTest, FilesAcrossPieceBoundariesLoadAsWholeBytesDo)
{
    const std::string tails[] = {
        Message(1, "2020-07-18 10:00:00"),
        "}" + Message(2, "2020-07-18 10:00:01"),
        "{\"IMEI\":\"1\",\"n\":3",                       // unfinished at the end of the file
        "{" + Message(4, "2020-07-18 10:00:02"),         // a second '{' drops the first
        "{\"IMEI\":{\"x\":1}}" + Message(5, "2020-07-18 10:00:03"),  // nesting ends the cutting
        "ab{",
        "{ab}" + Message(6, "2020-07-18 10:00:04"),
        "\r\n\r\n",
    };
    const std::string line = Message(0, "2020-07-18 09:59:59") + std::string(1000, ' ') + "\n";
    TempDir dir;
    for (int nOffset = -6; nOffset <= 6; ++nOffset) {
        std::string head;
        while (head.size() + line.size() <= static_cast<size_t>(1048576 + nOffset))
            head += line;
        head.resize(static_cast<size_t>(1048576 + nOffset), 'z');
        for (const std::string& first : tails) {
            for (const std::string& second : {tails[0], tails[2], tails[3]}) {
                const std::string content = head + first + second;
                const std::string file = dir.Write("f.txt", content);
                ASSERT_EQ(Describe(CFileLoader::Import(file)), DescribeWholeCut(content, true))
                    << "offset " << nOffset << ": " << first << second;
                ASSERT_EQ(Describe(CFileLoader::ImportBytes(content.data(), content.size())),
                          DescribeWholeCut(content, true));
                ASSERT_EQ(Describe(CFileLoader::LoadTextFile(file, false)), DescribeWholeCut(content, false));
            }
        }
    }
}

TEST(CFileLoaderPiecesTest, ProgressCountsEveryByteReadAndCut)
{
    std::string content;
    while (content.size() < 3 * 1048576)
        content += Message(1, "2020-07-18 10:00:00") + "\r\n";
    TempDir dir;
    const std::string file = dir.Write("many.txt", content);
    std::vector<std::pair<int64_t, int64_t>> reports;
    const Result result = CFileLoader::Import(file, [&](int64_t nDone, int64_t nTotal) {
        reports.emplace_back(nDone, nTotal);
        return true;
    });
    ASSERT_EQ(result.nStatus, Result::kOk);
    ASSERT_GE(reports.size(), 3u);  // one report a piece at least
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].second, 2 * static_cast<int64_t>(content.size()));
        if (i > 0) {
            EXPECT_GE(reports[i].first, reports[i - 1].first);
        }
    }
    EXPECT_EQ(reports.back().first, reports.back().second);
}

TEST(CFileLoaderPiecesTest, IndexOfRecurringDaysHoldsEveryMessageInFileOrder)
{
    // Three "days" of rising times, then some out of order and unreadable.
    std::string content;
    const char* const days[] = {"2020-07-18", "2020-07-19", "2020-07-20"};
    int n = 0;
    for (const char* pszDay : days) {
        for (int nSecond = 0; nSecond < 300; nSecond += 1 + n % 3) {
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "%s 10:%02d:%02d", pszDay, nSecond / 60, nSecond % 60);
            content += Message(n++, stamp) + "\n";
        }
    }
    for (const char* pszTime : {"2020-07-21 09:00:00", "2020-07-21 11:00:00", "2020-07-21 10:00:00", "15:22"})
        content += Message(n++, pszTime) + "\n";

    TempDir dir;
    const Result result = CFileLoader::Import(dir.Write("days.txt", content));
    ASSERT_EQ(result.nStatus, Result::kOk);
    ASSERT_EQ(result.pPackets->size(), static_cast<size_t>(n));

    // The index built the plain way from the list, for comparison.
    std::map<int64_t, std::vector<const char*>> expected;
    CDeviceMessage message;
    for (size_t i = 0; i < result.pPackets->size(); ++i) {
        const CDeviceMessage::ImportReading reading = message.ReadImport((*result.pPackets)[i]);
        if (reading.bHasKey)
            expected[reading.nKey].push_back((*result.pPackets)[i].data);
    }
    std::map<int64_t, std::vector<const char*>> actual;
    for (const auto& [nKey, packets] : *result.pIndex) {
        for (const Packet& packet : packets)
            actual[nKey].push_back(packet.data);
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(result.pIndex->at(36000).size(), 4u);  // 10:00:00 on each day
    EXPECT_EQ(result.pIndex->count(32400), 1u);      // 09:00:00, added before the others
}
