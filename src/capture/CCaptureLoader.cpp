#include "capture/CCaptureLoader.h"

#include <unordered_map>

#include "capture/CCaptureReader.h"
#include "capture/CFrameDecoder.h"
#include "load/CPacketCollector.h"

namespace {

struct Counts {
    uint64_t nFrames = 0;
    uint64_t nDatagrams = 0;
    uint64_t nNotUdp = 0;
    uint64_t nFiltered = 0;
    uint64_t nTruncated = 0;
    uint64_t nFragments = 0;
    uint64_t nNoMessage = 0;
    size_t nCut = 0;
    size_t nKept = 0;
    size_t nSources = 0;
};

std::string N(uint64_t n)
{
    return std::to_string(n);
}

std::string SummaryOf(const Counts& counts, int nLinkType)
{
    std::string strText = "capture: " + N(counts.nFrames) + " frames, " + N(counts.nDatagrams) +
                          " UDP datagrams read; skipped: " + N(counts.nNotUdp) + " not UDP, " +
                          N(counts.nFiltered) + " filtered out by --capture-filter, " + N(counts.nTruncated) +
                          " truncated by the snap length, " + N(counts.nFragments) +
                          " IP fragments (not reassembled), " + N(counts.nNoMessage) +
                          " without a message in the payload; " + N(counts.nCut) + " messages cut, " +
                          N(counts.nKept) + " with \"IMEI\" kept, from " + N(counts.nSources) +
                          (counts.nSources == 1 ? " source" : " sources");
    if (!CFrameDecoder::ReadsLink(nLinkType))
        strText += "\ncapture: link type " + std::to_string(nLinkType) +
                   " is not read (all its frames count as not UDP)";
    return strText;
}

CLoadResult Cut(CCaptureReader& reader, const std::optional<std::string>& strFilter)
{
    if (strFilter) {
        const CStatus compiled = reader.SetFilter(*strFilter);
        if (!compiled.IsOk()) {
            CLoadResult result = CLoadResult::WithStatus(CLoadResult::kBadFilter);
            result.strDetail = "--capture-filter " + compiled.Message();
            return result;
        }
    }
    const int nLinkType = reader.LinkType();
    CPacketCollector collector(CPacketCollector::Keep::kImport);
    Counts counts;
    std::vector<int64_t> captureNs;
    std::vector<uint32_t> captureSource;
    std::vector<std::string> sources;
    std::unordered_map<std::string, uint32_t> sourceOf;
    int64_t nFirstNs = 0;
    CCaptureReader::Frame frame;
    CFrameDecoder::Datagram datagram;
    CCaptureReader::Next nNext;
    while ((nNext = reader.Read(frame)) == CCaptureReader::Next::kFrame) {
        ++counts.nFrames;
        if (!reader.Passes(frame)) {
            ++counts.nFiltered;
            continue;
        }
        switch (CFrameDecoder::Decode(nLinkType, frame.pData, frame.nCaptured, frame.nOriginal, datagram)) {
        case CFrameDecoder::Kind::kNotUdp:
            ++counts.nNotUdp;
            continue;
        case CFrameDecoder::Kind::kFragment:
            ++counts.nFragments;
            continue;
        case CFrameDecoder::Kind::kTruncated:
            ++counts.nTruncated;
            continue;
        case CFrameDecoder::Kind::kUdp:
            break;
        }
        ++counts.nDatagrams;
        const size_t nCutBefore = collector.Cutter().Cut();
        const size_t nKept =
            collector.CutInput(reinterpret_cast<const char*>(datagram.pPayload), datagram.nPayload);
        // A payload whose messages lack "IMEI" has messages: they count
        // among those cut, not kept.
        if (collector.Cutter().Cut() == nCutBefore)
            ++counts.nNoMessage;
        if (nKept == 0)
            continue;
        if (captureNs.empty())
            nFirstNs = frame.nNs;
        const auto found = sourceOf.emplace(datagram.source, static_cast<uint32_t>(sources.size()));
        if (found.second)
            sources.push_back(CFrameDecoder::AddressText(datagram.source));
        captureNs.insert(captureNs.end(), nKept, frame.nNs - nFirstNs);
        captureSource.insert(captureSource.end(), nKept, found.first->second);
    }
    counts.nCut = collector.Cutter().Cut();
    counts.nKept = captureNs.size();
    counts.nSources = sources.size();

    CLoadResult result = collector.Done(0);
    // Each payload was an input of its own; what the last one left says
    // nothing about the capture.
    result.bCutStopped = false;
    result.strSummary = SummaryOf(counts, nLinkType);
    if (nNext == CCaptureReader::Next::kDamaged) {
        result.strSummary += "\ncapture: damaged at frame " + N(counts.nFrames + 1) + " (byte offset " +
                             std::to_string(reader.Offset()) + "): " + reader.Error() + "; read up to there";
    }
    if (result.nStatus == CLoadResult::kOk) {
        result.captureNs = std::move(captureNs);
        result.captureSource = std::move(captureSource);
        result.captureSources = std::move(sources);
    }
    return result;
}

CLoadResult Opened(const CStatus& opened, CCaptureReader& reader, const std::optional<std::string>& strFilter)
{
    if (opened.IsOk())
        return Cut(reader, strFilter);
    CLoadResult result = CLoadResult::WithStatus(CLoadResult::kUnreadable);
    result.strDetail = opened.Message();
    return result;
}

}  // namespace

CLoadResult CCaptureLoader::Load(const std::string& strPath, const std::optional<std::string>& strFilter)
{
    return CLoadResult::GuardMemory(strPath, [&] {
        CCaptureReader reader;
        return Opened(reader.Open(strPath), reader, strFilter);
    });
}

CLoadResult CCaptureLoader::LoadMemory(const void* pData, size_t nLength, const std::optional<std::string>& strFilter)
{
    return CLoadResult::GuardMemory("capture in memory", [&] {
        CCaptureReader reader;
        return Opened(reader.OpenMemory(pData, nLength), reader, strFilter);
    });
}
