#include "send/CPacketLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "packet/CDeviceMessage.h"
#include "packet/CLNBuffer.h"
#include "send/TovrikTexts.h"

namespace {

using Result = CPacketLoader::Result;

constexpr int kReadChunk = 8 * 1048576;
// Packets cut between two progress reports.
constexpr size_t kCutReport = 4096;

bool IsHexDigit(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

bool Report(const CPacketLoader::Progress& progress, int64_t nDone, int64_t nTotal)
{
    return !progress || progress(nDone, nTotal);
}

// Cuts every packet off the buffer's front and hands it to keep(block, n).
// False when cancelled.
template <class Keep>
bool CutPackets(CLNBuffer& buffer, const CPacketLoader::Progress& progress, int64_t nBase, int64_t nTotal,
                Keep keep)
{
    const int64_t nStart = buffer.Length();
    size_t nCut = 0;
    for (int n = buffer.FindPacket(); n != 0; n = buffer.FindPacket()) {
        keep(buffer.TakeFront(n), n);
        if (++nCut % kCutReport == 0 && !Report(progress, nBase + nStart - buffer.Length(), nTotal))
            return false;
    }
    return Report(progress, nBase + nStart, nTotal);
}

Result Finish(Result result)
{
    if (result.nStatus == Result::kOk && result.pPackets->empty()) {
        result.nStatus = Result::kNoPackets;
        result.pPackets.reset();
        result.pIndex.reset();
    }
    return result;
}

Result Cancelled()
{
    Result result;
    result.nStatus = Result::kCancelled;
    return result;
}

Result FileFailure(Result::Status nStatus, const std::string& strPath, const std::string& strReason)
{
    Result result;
    result.nStatus = nStatus;
    result.strDetail = strPath + ": " + strReason;
    return result;
}

// Cuts what the buffer holds and keeps the messages with "IMEI".
Result ImportBuffer(CLNBuffer& buffer, const CPacketLoader::Progress& progress, int64_t nBase, int64_t nTotal)
{
    Result result;
    result.nStatus = Result::kOk;
    result.pPackets = std::make_unique<PacketList>();
    result.pIndex = std::make_unique<TimeIndex>();
    CDeviceMessage message;
    PacketList& packets = *result.pPackets;
    TimeIndex& index = *result.pIndex;
    const bool bDone = CutPackets(buffer, progress, nBase, nTotal, [&](std::unique_ptr<char[]> block, int n) {
        const CDeviceMessage::ImportReading reading = message.ReadImport(Packet{block.get(), n});
        if (!reading.bKeep)
            return;
        const Packet packet{block.get(), n};
        packets.Add(std::move(block), n);
        if (reading.bHasKey)
            index[reading.nKey].push_back(packet);
    });
    if (!bDone)
        return Cancelled();
    return Finish(std::move(result));
}

}  // namespace

CPacketLoader::HexStatus CPacketLoader::NormalizeHexText(const std::string& strText, std::string& strDigits)
{
    strDigits.clear();
    if (strText.size() > kMaxHexText)
        return HexStatus::kTooLong;
    strDigits.reserve(strText.size());
    for (const char c : strText) {
        if (c == ' ' || c == '\r' || c == '\n')
            continue;
        if (!IsHexDigit(static_cast<unsigned char>(c))) {
            strDigits.clear();
            return HexStatus::kNotHex;
        }
        strDigits.push_back(c);
    }
    if (strDigits.size() % 2 != 0)
        strDigits.pop_back();
    return HexStatus::kOk;
}

std::string CPacketLoader::DecodeHex(const std::string& strDigits)
{
    std::string bytes;
    bytes.reserve(strDigits.size() / 2);
    for (size_t i = 0; i + 1 < strDigits.size(); i += 2)
        bytes.push_back(static_cast<char>(HexValue(strDigits[i]) * 16 + HexValue(strDigits[i + 1])));
    return bytes;
}

CPacketLoader::Result CPacketLoader::LoadText(const std::string& strContent, bool bHexMode, const Progress& progress)
{
    Result result;
    if (strContent.empty()) {
        result.nStatus = Result::kEmptyText;
        return result;
    }
    std::string strDecoded;
    const std::string* pInput = &strContent;
    if (bHexMode) {
        switch (NormalizeHexText(strContent, result.strText)) {
        case HexStatus::kTooLong:
            result.nStatus = Result::kHexTooLong;
            return result;
        case HexStatus::kNotHex:
            result.nStatus = Result::kNotHex;
            return result;
        case HexStatus::kOk:
            break;
        }
        strDecoded = DecodeHex(result.strText);
        pInput = &strDecoded;
    }
    if (pInput->size() > static_cast<size_t>(INT_MAX)) {
        result.nStatus = Result::kTooLarge;
        return result;
    }
    CLNBuffer buffer;
    if (!pInput->empty() && buffer.Append(pInput->data(), static_cast<int>(pInput->size())) == 0) {
        result.nStatus = Result::kTooLarge;
        return result;
    }
    result.nStatus = Result::kOk;
    result.pPackets = std::make_unique<PacketList>();
    PacketList& packets = *result.pPackets;
    const bool bDone = CutPackets(buffer, progress, 0, buffer.Length(),
                                  [&](std::unique_ptr<char[]> block, int n) { packets.Add(std::move(block), n); });
    if (!bDone) {
        Result cancelled = Cancelled();
        cancelled.strText = std::move(result.strText);
        return cancelled;
    }
    return Finish(std::move(result));
}

CPacketLoader::Result CPacketLoader::ImportBytes(const char* pData, size_t nLength, const Progress& progress)
{
    if (nLength > static_cast<size_t>(INT_MAX))
        return FileFailure(Result::kTooLarge, "input", "too large for the packet buffer");
    CLNBuffer buffer;
    if (nLength > 0 && buffer.Append(pData, static_cast<int>(nLength)) == 0)
        return FileFailure(Result::kTooLarge, "input", "too large for the packet buffer");
    return ImportBuffer(buffer, progress, 0, static_cast<int64_t>(nLength));
}

CPacketLoader::Result CPacketLoader::Import(const std::string& strPath, const Progress& progress)
{
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return FileFailure(Result::kUnreadable, strPath, std::strerror(errno));
    struct FileCloser {
        int fd;
        ~FileCloser() { close(fd); }
    } closer{fd};

    struct stat info {};
    if (fstat(fd, &info) != 0)
        return FileFailure(Result::kUnreadable, strPath, std::strerror(errno));
    const bool bRegular = S_ISREG(info.st_mode);
    const int64_t nSize = bRegular ? static_cast<int64_t>(info.st_size) : 0;

    // The file goes straight into the packet buffer, so it is held once.
    const char kTooLargeReason[] = "file too large (the limit is about 2 GiB)";
    if (nSize > INT_MAX)
        return FileFailure(Result::kTooLarge, strPath, kTooLargeReason);
    CLNBuffer buffer;
    int64_t nRead = 0;
    for (;;) {
        // A regular file gets its room in one piece, up to the size it had
        // when opened; anything else is read a chunk at a time to its end.
        const int64_t nRoom = bRegular ? nSize : kReadChunk;
        if (nRoom <= 0)
            break;
        char* pRoom = buffer.BeginAppend(static_cast<int>(nRoom));
        if (pRoom == nullptr)
            return FileFailure(Result::kTooLarge, strPath, kTooLargeReason);
        int64_t nFilled = 0;
        while (nFilled < nRoom) {
            const ssize_t n = read(fd, pRoom + nFilled, static_cast<size_t>(std::min<int64_t>(nRoom - nFilled, kReadChunk)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return FileFailure(Result::kUnreadable, strPath, std::strerror(errno));
            if (n == 0)
                break;
            nFilled += n;
            if (!Report(progress, nRead + nFilled, 2 * std::max(nSize, nRead + nFilled)))
                return Cancelled();
        }
        buffer.EndAppend(static_cast<int>(nFilled));
        nRead += nFilled;
        if (bRegular || nFilled < nRoom)
            break;
    }
    return ImportBuffer(buffer, progress, nRead, 2 * nRead);
}

std::string CPacketLoader::CountMessage(size_t nPackets)
{
    char text[128];
    std::snprintf(text, sizeof text, TovrikTexts::kCountPattern, static_cast<int>(nPackets));
    return text;
}

std::string CPacketLoader::Message(const Result& result)
{
    switch (result.nStatus) {
    case Result::kOk:
        return CountMessage(result.pPackets ? result.pPackets->size() : 0);
    case Result::kEmptyText:
        return TovrikTexts::kEmptyData;
    case Result::kHexTooLong:
        return TovrikTexts::kHexTooLong;
    case Result::kNotHex:
        return TovrikTexts::kNotHex;
    case Result::kNoPackets:
        return TovrikTexts::kNoPackets;
    case Result::kUnreadable:
    case Result::kTooLarge:
        return result.strDetail;
    case Result::kCancelled:
        break;
    }
    return std::string();
}
