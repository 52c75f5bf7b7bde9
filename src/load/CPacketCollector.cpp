#include "load/CPacketCollector.h"

#include <algorithm>
#include <iterator>

CPacketCollector::CPacketCollector(Keep nKeep)
    : m_nKeep(nKeep), m_cutter([this](const Packet& packet) { Collect(packet); })
{
}

void CPacketCollector::Collect(const Packet& cut)
{
    if (m_nKeep == Keep::kEveryPacket) {
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

CLoadResult CPacketCollector::CutBytes(const char* pData, size_t nLength, const CLoadResult::Progress& progress)
{
    if (nLength > static_cast<size_t>(kMaxInput))
        return CLoadResult::Failure(CLoadResult::kTooLarge, "input", "too large for the packet buffer");
    const int64_t nTotal = static_cast<int64_t>(nLength);
    size_t nDone = 0;
    while (nDone < nLength && !m_cutter.Stopped()) {
        const size_t n = std::min(static_cast<size_t>(m_cutter.NextPiece()), nLength - nDone);
        if (!m_cutter.Append(pData + nDone, n))
            return CLoadResult::Failure(CLoadResult::kTooLarge, "input", "too large for the packet buffer");
        nDone += n;
        if (progress && !progress(m_cutter.Fed() - m_cutter.Held(), nTotal))
            return CLoadResult::WithStatus(CLoadResult::kCancelled);
    }
    m_cutter.Finish();
    if (progress && !progress(nTotal, nTotal))
        return CLoadResult::WithStatus(CLoadResult::kCancelled);
    return Done(nTotal);
}

size_t CPacketCollector::CutInput(const char* pData, size_t nLength)
{
    const size_t nBefore = m_pPackets->size();
    m_cutter.Restart();
    if (m_cutter.Append(pData, nLength))
        m_cutter.Finish();
    return m_pPackets->size() - nBefore;
}

CLoadResult CPacketCollector::Done(int64_t nTotal)
{
    CLoadResult result = CLoadResult::WithStatus(CLoadResult::kOk);
    CPacketCutter::Stop stop;
    if (m_cutter.GetStop(stop)) {
        result.bCutStopped = true;
        result.nStopOffset = stop.nOffset;
        result.nStopLine = stop.nLine;
        result.nUncut = nTotal - stop.nOffset;
    }
    if (m_pPackets->empty()) {
        result.nStatus = CLoadResult::kNoPackets;
        return result;
    }
    if (m_nKeep == Keep::kImport) {
        // Filled in one go at the end, so that the index's nodes lie together
        // rather than between the packets. The keys of a recording mostly
        // rise, one day after another: the entry after the previous
        // message's is tried first.
        result.pIndex = std::make_unique<TimeIndex>();
        TimeIndex& index = *result.pIndex;
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
