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

// The cutting of one capture: each UDP datagram's payload cut as an input of
// its own, what was skipped counted, the kept messages' times and sources.
class CCaptureCut {
public:
    explicit CCaptureCut(int nLinkType) : m_nLinkType(nLinkType), m_collector(CPacketCollector::Keep::kImport) {}

    void Take(const CCaptureReader::Frame& frame, bool bPasses)
    {
        ++m_counts.nFrames;
        if (!bPasses) {
            ++m_counts.nFiltered;
            return;
        }
        CFrameDecoder::Datagram datagram;
        switch (CFrameDecoder::Decode(m_nLinkType, frame.pData, frame.nCaptured, frame.nOriginal, datagram)) {
        case CFrameDecoder::Kind::kNotUdp:
            ++m_counts.nNotUdp;
            return;
        case CFrameDecoder::Kind::kFragment:
            ++m_counts.nFragments;
            return;
        case CFrameDecoder::Kind::kTruncated:
            ++m_counts.nTruncated;
            return;
        case CFrameDecoder::Kind::kUdp:
            break;
        }
        ++m_counts.nDatagrams;
        const size_t nCutBefore = m_collector.Cutter().Cut();
        const size_t nKept =
            m_collector.CutInput(reinterpret_cast<const char*>(datagram.pPayload), datagram.nPayload);
        // A payload whose messages lack "IMEI" has messages: they count
        // among those cut, not kept.
        if (m_collector.Cutter().Cut() == nCutBefore)
            ++m_counts.nNoMessage;
        if (nKept == 0)
            return;
        if (m_captureNs.empty())
            m_nFirstNs = frame.nNs;
        const auto found = m_sourceOf.emplace(datagram.source, static_cast<uint32_t>(m_sources.size()));
        if (found.second)
            m_sources.push_back(CFrameDecoder::AddressText(datagram.source));
        m_captureNs.insert(m_captureNs.end(), nKept, frame.nNs - m_nFirstNs);
        m_captureSource.insert(m_captureSource.end(), nKept, found.first->second);
    }

    CLoadResult Result()
    {
        m_counts.nCut = m_collector.Cutter().Cut();
        m_counts.nKept = m_captureNs.size();
        m_counts.nSources = m_sources.size();
        CLoadResult result = m_collector.Done(0);
        // Each payload was an input of its own; what the last one left says
        // nothing about the capture.
        result.bCutStopped = false;
        result.strSummary = SummaryOf(m_counts, m_nLinkType);
        if (result.nStatus == CLoadResult::kOk) {
            result.captureNs = std::move(m_captureNs);
            result.captureSource = std::move(m_captureSource);
            result.captureSources = std::move(m_sources);
        }
        return result;
    }

    uint64_t Frames() const { return m_counts.nFrames; }

private:
    const int m_nLinkType;
    CPacketCollector m_collector;
    Counts m_counts;
    std::vector<int64_t> m_captureNs;
    std::vector<uint32_t> m_captureSource;
    std::vector<std::string> m_sources;
    std::unordered_map<std::string, uint32_t> m_sourceOf;
    int64_t m_nFirstNs = 0;
};

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
    CCaptureCut cut(reader.LinkType());
    CCaptureReader::Frame frame;
    CCaptureReader::Next nNext;
    while ((nNext = reader.Read(frame)) == CCaptureReader::Next::kFrame)
        cut.Take(frame, reader.Passes(frame));
    const uint64_t nFrames = cut.Frames();
    CLoadResult result = cut.Result();
    if (nNext == CCaptureReader::Next::kDamaged) {
        result.strSummary += "\ncapture: damaged at frame " + N(nFrames + 1) + " (byte offset " +
                             std::to_string(reader.Offset()) + "): " + reader.Error() + "; read up to there";
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
