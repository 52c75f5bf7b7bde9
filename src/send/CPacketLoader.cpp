#include "send/CPacketLoader.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <new>
#include <utility>
#include <vector>

#include "load/CFileReader.h"
#include "load/CPacketCutter.h"
#include "packet/CDeviceMessage.h"
#include "send/TovrikTexts.h"

namespace {

using Result = CPacketLoader::Result;

// The largest file a load takes: what the packet buffer's 32-bit lengths
// allow to be appended to a new buffer in one piece.
constexpr int64_t kMaxFile = INT32_MAX - 2 * int64_t{CReceiveBuffer::kDefaultSize};
const char kTooLargeReason[] = "file too large (the limit is about 2 GiB)";

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

Result WithStatus(Result::Status nStatus)
{
    Result result;
    result.nStatus = nStatus;
    return result;
}

Result Failure(Result::Status nStatus, const std::string& strWhat, const std::string& strReason)
{
    Result result = WithStatus(nStatus);
    result.strDetail = strWhat + ": " + strReason;
    return result;
}

// What every load keeps: the packets cut, copied into the list, or for an
// import the messages with "IMEI", with the index of those with a readable
// "time". The index is filled in one go at the end, so that its nodes lie
// together rather than between the packets' blocks.
class CCollector {
public:
    explicit CCollector(bool bImport) : m_bImport(bImport) {}

    void Keep(const Packet& cut)
    {
        if (!m_bImport) {
            m_pPackets->AddCopy(cut.data, cut.length);
            return;
        }
        const CDeviceMessage::ImportReading reading = m_message.ReadImport(cut);
        if (!reading.bKeep)
            return;
        const Packet packet = m_pPackets->AddCopy(cut.data, cut.length);
        if (reading.bHasKey)
            m_keyed.emplace_back(reading.nKey, packet);
    }

    // The result of a complete cut; nTotal is the input's whole length.
    Result Done(const CPacketCutter& cutter, int64_t nTotal)
    {
        Result result = WithStatus(Result::kOk);
        CPacketCutter::Stop stop;
        if (cutter.GetStop(stop)) {
            result.bCutStopped = true;
            result.nStopOffset = stop.nOffset;
            result.nStopLine = stop.nLine;
            result.nUncut = nTotal - stop.nOffset;
        }
        if (m_pPackets->empty()) {
            result.nStatus = Result::kNoPackets;
            return result;
        }
        if (m_bImport) {
            result.pIndex = std::make_unique<TimeIndex>();
            TimeIndex& index = *result.pIndex;
            // The keys of a recording mostly rise, one day after another: the
            // entry after the previous message's is tried first.
            auto itHint = index.end();
            for (const auto& [nKey, packet] : m_keyed) {
                const auto itEntry = index.try_emplace(itHint, nKey);
                itEntry->second.push_back(packet);
                itHint = std::next(itEntry);
            }
            m_keyed = {};
        }
        result.pPackets = std::move(m_pPackets);
        return result;
    }

private:
    bool m_bImport;
    CDeviceMessage m_message;
    std::unique_ptr<PacketList> m_pPackets = std::make_unique<PacketList>();
    std::vector<std::pair<int64_t, Packet>> m_keyed;
};

// Cuts bytes in memory a piece at a time, reporting after each piece.
Result CutBytes(const char* pData, size_t nLength, bool bImport, const CPacketLoader::Progress& progress)
{
    if (nLength > static_cast<size_t>(kMaxFile))
        return Failure(Result::kTooLarge, "input", "too large for the packet buffer");
    CCollector collector(bImport);
    CPacketCutter cutter([&collector](const Packet& packet) { collector.Keep(packet); });
    const int64_t nTotal = static_cast<int64_t>(nLength);
    size_t nDone = 0;
    while (nDone < nLength && !cutter.Stopped()) {
        const size_t n = std::min(static_cast<size_t>(cutter.NextPiece()), nLength - nDone);
        if (!cutter.Append(pData + nDone, n))
            return Failure(Result::kTooLarge, "input", "too large for the packet buffer");
        nDone += n;
        if (!Report(progress, cutter.Fed() - cutter.Held(), nTotal))
            return WithStatus(Result::kCancelled);
    }
    cutter.Finish();
    if (!Report(progress, nTotal, nTotal))
        return WithStatus(Result::kCancelled);
    return collector.Done(cutter, nTotal);
}

// Reads the file into the cutter a piece at a time; the packets whose
// framing the bytes still to come cannot change are cut at once, so the file
// is held only once, as the packets' own copies. Progress counts every byte
// twice, once read and once cut.
Result CutFile(const std::string& strPath, bool bImport, const CPacketLoader::Progress& progress)
{
    CFileReader file;
    std::string strReason;
    if (!file.Open(strPath, strReason))
        return Failure(Result::kUnreadable, strPath, strReason);
    const int64_t nSize = file.Size();
    if (nSize > kMaxFile)
        return Failure(Result::kTooLarge, strPath, kTooLargeReason);

    CCollector collector(bImport);
    CPacketCutter cutter([&collector](const Packet& packet) { collector.Keep(packet); });
    int64_t nRead = 0;
    for (;;) {
        // A regular file is read up to the size it had when opened; anything
        // else to its end, up to the limit.
        const int64_t nPiece = cutter.NextPiece();
        const int64_t nRoom = std::min(nSize >= 0 ? nSize - nRead : kMaxFile + 1 - nRead, nPiece);
        if (nRoom <= 0)
            break;
        char* pRoom = cutter.Stopped() ? nullptr : cutter.BeginAppend(static_cast<int>(nRoom));
        if (cutter.Stopped()) {
            // Nothing more is cut; a file of unknown size is read on only to
            // tell how much was left.
            if (nSize >= 0)
                break;
            std::vector<char> scratch(static_cast<size_t>(nRoom));
            const int64_t n = file.Read(scratch.data(), nRoom, strReason);
            if (n <= 0)
                break;
            nRead += n;
            continue;
        }
        if (pRoom == nullptr)
            return Failure(Result::kTooLarge, strPath, kTooLargeReason);
        const int64_t n = file.Read(pRoom, nRoom, strReason);
        if (n < 0)
            return Failure(Result::kUnreadable, strPath, strReason);
        if (n == 0)
            break;
        nRead += n;
        if (nRead > kMaxFile)
            return Failure(Result::kTooLarge, strPath, kTooLargeReason);
        cutter.EndAppend(static_cast<int>(n));
        if (!Report(progress, 2 * nRead - cutter.Held(), 2 * (nSize >= 0 ? nSize : nRead + nPiece)))
            return WithStatus(Result::kCancelled);
    }
    cutter.Finish();
    const int64_t nTotal = nSize >= 0 ? std::max(nSize, nRead) : nRead;
    if (!Report(progress, 2 * nTotal, 2 * nTotal))
        return WithStatus(Result::kCancelled);
    Result result = collector.Done(cutter, nTotal);
    // A file with nothing in it, read as the text box, is an empty text.
    if (!bImport && nTotal == 0)
        result.nStatus = Result::kEmptyText;
    return result;
}

Result LoadTextUnguarded(const std::string& strContent, bool bHexMode, const CPacketLoader::Progress& progress)
{
    if (strContent.empty())
        return WithStatus(Result::kEmptyText);
    if (!bHexMode)
        return CutBytes(strContent.data(), strContent.size(), false, progress);
    std::string strDigits;
    switch (CPacketLoader::NormalizeHexText(strContent, strDigits)) {
    case CPacketLoader::HexStatus::kTooLong:
        return WithStatus(Result::kHexTooLong);
    case CPacketLoader::HexStatus::kNotHex:
        return WithStatus(Result::kNotHex);
    case CPacketLoader::HexStatus::kOk:
        break;
    }
    const std::string strBytes = CPacketLoader::DecodeHex(strDigits);
    Result result = CutBytes(strBytes.data(), strBytes.size(), false, progress);
    result.strText = std::move(strDigits);
    return result;
}

// Hex text is short: read whole, refusing more than the longest accepted.
Result LoadHexFile(const std::string& strPath, const CPacketLoader::Progress& progress)
{
    CFileReader file;
    std::string strReason;
    if (!file.Open(strPath, strReason))
        return Failure(Result::kUnreadable, strPath, strReason);
    if (file.Size() > static_cast<int64_t>(CPacketLoader::kMaxHexText))
        return WithStatus(Result::kHexTooLong);
    std::string strContent(CPacketLoader::kMaxHexText + 1, '\0');
    size_t nRead = 0;
    while (nRead < strContent.size()) {
        const int64_t n = file.Read(&strContent[nRead], static_cast<int64_t>(strContent.size() - nRead), strReason);
        if (n < 0)
            return Failure(Result::kUnreadable, strPath, strReason);
        if (n == 0)
            break;
        nRead += static_cast<size_t>(n);
    }
    strContent.resize(nRead);
    return LoadTextUnguarded(strContent, true, progress);
}

// A load that runs out of memory (a huge input on a small machine) ends as
// one whose input is too large, instead of ending the program.
template <class Load>
Result GuardMemory(const std::string& strWhat, Load load)
{
    try {
        return load();
    } catch (const std::bad_alloc&) {
        return Failure(Result::kTooLarge, strWhat, "not enough memory");
    }
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
    return GuardMemory("text", [&] { return LoadTextUnguarded(strContent, bHexMode, progress); });
}

CPacketLoader::Result CPacketLoader::ImportBytes(const char* pData, size_t nLength, const Progress& progress)
{
    return GuardMemory("input", [&] { return CutBytes(pData, nLength, true, progress); });
}

CPacketLoader::Result CPacketLoader::Import(const std::string& strPath, const Progress& progress)
{
    return GuardMemory(strPath, [&] { return CutFile(strPath, true, progress); });
}

CPacketLoader::Result CPacketLoader::LoadTextFile(const std::string& strPath, bool bHexMode, const Progress& progress)
{
    return GuardMemory(strPath, [&] {
        return bHexMode ? LoadHexFile(strPath, progress) : CutFile(strPath, false, progress);
    });
}

std::string CPacketLoader::CountMessage(size_t nPackets)
{
    char text[128];
    std::snprintf(text, sizeof text, TovrikTexts::kCountPattern, static_cast<int>(nPackets));
    return text;
}

std::string CPacketLoader::CutStopMessage(const Result& result)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "the cutting stopped at byte %lld (line %lld): a message there has no '}' before the next '{' "
                  "or the end; %lld bytes were left uncut",
                  static_cast<long long>(result.nStopOffset), static_cast<long long>(result.nStopLine),
                  static_cast<long long>(result.nUncut));
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
