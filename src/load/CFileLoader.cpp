#include "load/CFileLoader.h"

#include <algorithm>
#include <vector>

#include "load/CFileReader.h"
#include "load/CPacketCollector.h"
#include "load/CTextLoader.h"

namespace {

const char kTooLargeReason[] = "file too large (the limit is about 2 GiB)";
constexpr int64_t kMaxFile = CPacketCollector::kMaxInput;

CLoadResult CutFile(const std::string& strPath, CPacketCollector::Keep nKeep, const CLoadResult::Progress& progress)
{
    CFileReader file;
    const CStatus opened = file.Open(strPath);
    if (!opened.IsOk())
        return CLoadResult::Failure(CLoadResult::kUnreadable, strPath, opened.Message());
    const int64_t nSize = file.Size();
    if (nSize > kMaxFile)
        return CLoadResult::Failure(CLoadResult::kTooLarge, strPath, kTooLargeReason);

    CPacketCollector collector(nKeep);
    CPacketCutter& cutter = collector.Cutter();
    int64_t nRead = 0;
    for (;;) {
        // A regular file is read up to the size it had when opened; anything
        // else to its end, up to the limit.
        const int64_t nPiece = cutter.NextPiece();
        const int64_t nRoom = std::min(nSize >= 0 ? nSize - nRead : kMaxFile + 1 - nRead, nPiece);
        if (nRoom <= 0)
            break;
        if (cutter.Stopped()) {
            // Nothing more is cut; a file of unknown size is read on only to
            // tell how much was left.
            if (nSize >= 0)
                break;
            std::vector<char> scratch(static_cast<size_t>(nRoom));
            int64_t n = 0;
            if (!file.Read(scratch.data(), nRoom, n).IsOk() || n == 0)
                break;
            nRead += n;
            continue;
        }
        char* pRoom = cutter.BeginAppend(static_cast<int>(nRoom));
        if (pRoom == nullptr)
            return CLoadResult::Failure(CLoadResult::kTooLarge, strPath, kTooLargeReason);
        int64_t n = 0;
        const CStatus read = file.Read(pRoom, nRoom, n);
        if (!read.IsOk())
            return CLoadResult::Failure(CLoadResult::kUnreadable, strPath, read.Message());
        if (n == 0)
            break;
        nRead += n;
        if (nRead > kMaxFile)
            return CLoadResult::Failure(CLoadResult::kTooLarge, strPath, kTooLargeReason);
        cutter.EndAppend(static_cast<int>(n));
        // Each byte counts twice, once read and once cut.
        if (progress && !progress(2 * nRead - cutter.Held(), 2 * (nSize >= 0 ? nSize : nRead + nPiece)))
            return CLoadResult::WithStatus(CLoadResult::kCancelled);
    }
    cutter.Finish();
    const int64_t nTotal = std::max(nSize, nRead);
    if (progress && !progress(2 * nTotal, 2 * nTotal))
        return CLoadResult::WithStatus(CLoadResult::kCancelled);
    CLoadResult result = collector.Done(nTotal);
    // A file with nothing in it, read as the text box, is an empty text.
    if (nKeep == CPacketCollector::Keep::kEveryPacket && nTotal == 0)
        result.nStatus = CLoadResult::kEmptyText;
    return result;
}

// Hex text is short: read whole, refusing more than the longest accepted.
CLoadResult LoadHexFile(const std::string& strPath, const CLoadResult::Progress& progress)
{
    CFileReader file;
    const CStatus opened = file.Open(strPath);
    if (!opened.IsOk())
        return CLoadResult::Failure(CLoadResult::kUnreadable, strPath, opened.Message());
    if (file.Size() > static_cast<int64_t>(CTextLoader::kMaxHexText))
        return CLoadResult::WithStatus(CLoadResult::kHexTooLong);
    std::string strContent(CTextLoader::kMaxHexText + 1, '\0');
    size_t nRead = 0;
    while (nRead < strContent.size()) {
        int64_t n = 0;
        const CStatus read = file.Read(&strContent[nRead], static_cast<int64_t>(strContent.size() - nRead), n);
        if (!read.IsOk())
            return CLoadResult::Failure(CLoadResult::kUnreadable, strPath, read.Message());
        if (n == 0)
            break;
        nRead += static_cast<size_t>(n);
    }
    strContent.resize(nRead);
    return CTextLoader::Load(strContent, true, progress);
}

}  // namespace

CLoadResult CFileLoader::Import(const std::string& strPath, const CLoadResult::Progress& progress)
{
    return CLoadResult::GuardMemory(strPath,
                                    [&] { return CutFile(strPath, CPacketCollector::Keep::kImport, progress); });
}

CLoadResult CFileLoader::ImportBytes(const char* pData, size_t nLength, const CLoadResult::Progress& progress)
{
    return CLoadResult::GuardMemory("input", [&] {
        CPacketCollector collector(CPacketCollector::Keep::kImport);
        return collector.CutBytes(pData, nLength, progress);
    });
}

CLoadResult CFileLoader::LoadTextFile(const std::string& strPath, bool bHexMode, const CLoadResult::Progress& progress)
{
    return CLoadResult::GuardMemory(strPath, [&] {
        return bHexMode ? LoadHexFile(strPath, progress)
                        : CutFile(strPath, CPacketCollector::Keep::kEveryPacket, progress);
    });
}
