#include "send/CPacketLoader.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "packet/CDeviceMessage.h"
#include "packet/CLNBuffer.h"
#include "send/CInputFile.h"
#include "send/TovrikTexts.h"

namespace {

using Result = CPacketLoader::Result;

// An import reads its file a piece at a time, small enough to stay in the
// cache while it is cut.
constexpr int kImportChunk = 1048576;
// The largest file an import takes: what the packet buffer's 32-bit lengths
// allow to be appended to a new buffer in one piece.
constexpr int64_t kMaxImport = INT32_MAX - 2 * int64_t{CReceiveBuffer::kDefaultSize};
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

// Cuts the packet of n bytes off the buffer's front, handing it to keep(packet)
// while it is still at the front: keep copies what it keeps.
template <class Keep>
void CutFront(CLNBuffer& buffer, int n, Keep& keep)
{
    keep(Packet{buffer.Data(), n});
    buffer.Consume(n);
}

// Cuts every packet off the buffer's front. False when cancelled.
template <class Keep>
bool CutPackets(CLNBuffer& buffer, const CPacketLoader::Progress& progress, int64_t nBase, int64_t nTotal,
                Keep keep)
{
    const int64_t nStart = buffer.Length();
    size_t nCut = 0;
    for (int n = buffer.FindPacket(); n != 0; n = buffer.FindPacket()) {
        CutFront(buffer, n, keep);
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

// The import readings of every packet cut, in cutting order: the messages
// with "IMEI" go into the list; the index is filled in one go at the end, so
// that its nodes lie together rather than between the packets' blocks.
struct Importer {
    CDeviceMessage message;
    std::unique_ptr<PacketList> pPackets = std::make_unique<PacketList>();
    std::vector<std::pair<int64_t, Packet>> keyed;

    void operator()(const Packet& cut)
    {
        const CDeviceMessage::ImportReading reading = message.ReadImport(cut);
        if (!reading.bKeep)
            return;
        const Packet packet = pPackets->AddCopy(cut.data, cut.length);
        if (reading.bHasKey)
            keyed.emplace_back(reading.nKey, packet);
    }

    Result Done()
    {
        Result result;
        result.nStatus = Result::kOk;
        result.pIndex = std::make_unique<TimeIndex>();
        TimeIndex& index = *result.pIndex;
        // The keys of a recording mostly rise, one day after another: the
        // entry after the previous message's is tried first.
        auto itHint = index.end();
        for (const auto& [nKey, packet] : keyed) {
            const auto itEntry = index.try_emplace(itHint, nKey);
            itEntry->second.push_back(packet);
            itHint = std::next(itEntry);
        }
        keyed = {};
        result.pPackets = std::move(pPackets);
        return Finish(std::move(result));
    }
};

// The end of an import: everything reported done, the index built.
Result FinishImport(Importer& importer, const CPacketLoader::Progress& progress, int64_t nTotal)
{
    if (!Report(progress, nTotal, nTotal))
        return Cancelled();
    return importer.Done();
}

// Cuts what the buffer holds and keeps the messages with "IMEI".
Result ImportBuffer(CLNBuffer& buffer, const CPacketLoader::Progress& progress, int64_t nBase, int64_t nTotal)
{
    Importer importer;
    const bool bDone = CutPackets(buffer, progress, nBase, nTotal, std::ref(importer));
    if (!bDone)
        return Cancelled();
    return importer.Done();
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

static CPacketLoader::Result LoadTextUnguarded(const std::string& strContent, bool bHexMode,
                                               const CPacketLoader::Progress& progress)
{
    Result result;
    if (strContent.empty()) {
        result.nStatus = Result::kEmptyText;
        return result;
    }
    std::string strDecoded;
    const std::string* pInput = &strContent;
    if (bHexMode) {
        switch (CPacketLoader::NormalizeHexText(strContent, result.strText)) {
        case CPacketLoader::HexStatus::kTooLong:
            result.nStatus = Result::kHexTooLong;
            return result;
        case CPacketLoader::HexStatus::kNotHex:
            result.nStatus = Result::kNotHex;
            return result;
        case CPacketLoader::HexStatus::kOk:
            break;
        }
        strDecoded = CPacketLoader::DecodeHex(result.strText);
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
                                  [&](const Packet& packet) { packets.AddCopy(packet.data, packet.length); });
    if (!bDone) {
        Result cancelled = Cancelled();
        cancelled.strText = std::move(result.strText);
        return cancelled;
    }
    return Finish(std::move(result));
}

static CPacketLoader::Result ImportBytesUnguarded(const char* pData, size_t nLength,
                                                  const CPacketLoader::Progress& progress)
{
    if (nLength > static_cast<size_t>(INT_MAX))
        return FileFailure(Result::kTooLarge, "input", "too large for the packet buffer");
    CLNBuffer buffer;
    if (nLength > 0 && buffer.Append(pData, static_cast<int>(nLength)) == 0)
        return FileFailure(Result::kTooLarge, "input", "too large for the packet buffer");
    return ImportBuffer(buffer, progress, 0, static_cast<int64_t>(nLength));
}

static CPacketLoader::Result ImportUnguarded(const std::string& strPath, const CPacketLoader::Progress& progress)
{
    CInputFile file;
    bool bRegular = false;
    int64_t nSize = 0;
    if (!file.Open(strPath) || !file.Stat(bRegular, nSize))
        return FileFailure(Result::kUnreadable, strPath, file.Reason());
    if (!bRegular)
        nSize = 0;

    const char kTooLargeReason[] = "file too large (the limit is about 2 GiB)";
    if (nSize > kMaxImport)
        return FileFailure(Result::kTooLarge, strPath, kTooLargeReason);

    // The file goes into the packet buffer a chunk at a time, and the packets
    // whose framing the bytes still to come cannot change are cut at once;
    // the rest is cut once everything is read. The packets and the bytes
    // dropped are those of cutting the whole file in one piece, while the
    // file is held only once, as the packets' own blocks.
    CLNBuffer buffer;
    Importer importer;
    int64_t nRead = 0;
    // File offset just past the last '}' read so far.
    int64_t nClosedEnd = 0;
    for (;;) {
        // A regular file is read up to the size it had when opened; anything
        // else to its end. Bytes that cannot be cut yet stay in the buffer;
        // the piece grows with them, so that a long stretch without a packet
        // costs linear time too.
        const int64_t nPiece = std::max<int64_t>(kImportChunk, buffer.Length());
        const int64_t nRoom = std::min(bRegular ? nSize - nRead : kMaxImport + 1 - nRead, nPiece);
        if (nRoom <= 0)
            break;
        char* pRoom = buffer.BeginAppend(static_cast<int>(nRoom));
        if (pRoom == nullptr)
            return FileFailure(Result::kTooLarge, strPath, kTooLargeReason);
        const int64_t n = file.Read(pRoom, nRoom);
        if (n < 0)
            return FileFailure(Result::kUnreadable, strPath, file.Reason());
        if (n == 0)
            break;
        buffer.EndAppend(static_cast<int>(n));
        nRead += n;
        if (nRead > kMaxImport)
            return FileFailure(Result::kTooLarge, strPath, kTooLargeReason);
        const size_t nLastClose = std::string_view(pRoom, static_cast<size_t>(n)).rfind('}');
        if (nLastClose != std::string_view::npos)
            nClosedEnd = nRead - n + static_cast<int64_t>(nLastClose) + 1;
        for (;;) {
            const int64_t nClosed = nClosedEnd - (nRead - buffer.Length());
            if (!buffer.IsSettled(static_cast<int32_t>(std::max<int64_t>(nClosed, 0))))
                break;
            const int nPacket = buffer.FindPacket();
            if (nPacket == 0)
                return FinishImport(importer, progress, 2 * nRead);
            CutFront(buffer, nPacket, importer);
        }
        // Each byte counts twice, once read and once cut.
        if (!Report(progress, 2 * nRead - buffer.Length(), 2 * (bRegular ? nSize : nRead + nPiece)))
            return Cancelled();
    }
    for (int n = buffer.FindPacket(); n != 0; n = buffer.FindPacket())
        CutFront(buffer, n, importer);
    return FinishImport(importer, progress, 2 * nRead);
}

// A load that runs out of memory (a huge input on a small machine) ends as
// one whose input is too large, instead of ending the program.
template <class Load>
static CPacketLoader::Result GuardMemory(const std::string& strWhat, Load load)
{
    try {
        return load();
    } catch (const std::bad_alloc&) {
        return FileFailure(Result::kTooLarge, strWhat, "not enough memory");
    }
}

CPacketLoader::Result CPacketLoader::LoadText(const std::string& strContent, bool bHexMode, const Progress& progress)
{
    return GuardMemory("text", [&] { return LoadTextUnguarded(strContent, bHexMode, progress); });
}

CPacketLoader::Result CPacketLoader::ImportBytes(const char* pData, size_t nLength, const Progress& progress)
{
    return GuardMemory("input", [&] { return ImportBytesUnguarded(pData, nLength, progress); });
}

CPacketLoader::Result CPacketLoader::Import(const std::string& strPath, const Progress& progress)
{
    return GuardMemory(strPath, [&] { return ImportUnguarded(strPath, progress); });
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
