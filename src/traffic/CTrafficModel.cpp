#include "traffic/CTrafficModel.h"

#include <algorithm>
#include <cmath>

#include "traffic/CRandom.h"

namespace {

constexpr double kNsPerHour = 3.6e12;

}  // namespace

CTrafficModel::CTrafficModel(const CTrafficConfig& config, uint64_t nSeed, uint64_t nFleet, int64_t nDefaultByNs)
    : m_config(config), m_nSeed(nSeed), m_nFleet(nFleet > 0 ? nFleet : 1), m_nDefaultByNs(nDefaultByNs)
{
    for (const CTrafficConfig::Vary& vary : m_config.vary) {
        m_stateOf.push_back(m_nStates);
        if (vary.generator.HasState())
            ++m_nStates;
    }
    m_stages.push_back({0, m_config.start, 0});
    m_share.emplace_back(0, 1.0);
    for (const COutage& outage : m_config.outages)
        m_outages.push_back({outage.nAtNs, outage.nLengthNs, outage.nSpreadNs});
    for (const CTrafficConfig::Stage& stage : m_config.stages) {
        CTrafficConfig::Settings settings = m_stages.back().settings;
        const uint32_t nKeys = stage.nKeys;
        const CLinkFaults& faults = stage.settings.faults;
        if (nKeys & CTrafficConfig::kLoss)
            settings.faults.loss = faults.loss;
        if (nKeys & CTrafficConfig::kDuplicate)
            settings.faults.duplicate = faults.duplicate;
        if (nKeys & CTrafficConfig::kReorder)
            settings.faults.reorder = faults.reorder;
        if (nKeys & CTrafficConfig::kJitter)
            settings.faults.jitter = faults.jitter;
        if (nKeys & CTrafficConfig::kCorrupt)
            settings.faults.corrupt = faults.corrupt;
        if (nKeys & CTrafficConfig::kChurn)
            settings.churn = stage.settings.churn;
        m_stages.push_back({stage.nAtNs, settings, 0});
        if (stage.outage)
            m_outages.push_back({stage.nAtNs + stage.outage->nAtNs, stage.outage->nLengthNs, stage.outage->nSpreadNs});
        if (stage.bDevices) {
            const double dTarget = stage.bDevicesCount
                                       ? std::min(1.0, stage.dDevices / static_cast<double>(m_nFleet))
                                       : stage.dDevices;
            const double dNow = OnlineShare(stage.nAtNs);
            while (m_share.size() > 1 && m_share.back().first > stage.nAtNs)
                m_share.pop_back();
            m_share.emplace_back(stage.nAtNs, dNow);
            m_share.emplace_back(stage.nAtNs + stage.nRampNs, dTarget);
        }
    }
    for (Stage& stage : m_stages) {
        stage.dChurnPerNs = stage.settings.churn.dRatePerHour / kNsPerHour;
        m_bLinkFaults = m_bLinkFaults || stage.settings.faults.Any();
        m_bDropouts = m_bDropouts || stage.settings.churn.On();
    }
    m_bDropouts = m_bDropouts || !m_outages.empty() || m_share.size() > 1;
}

const CTrafficModel::Stage& CTrafficModel::StageAt(int64_t nRunNs) const
{
    // The last stage that has begun; of stages at one instant, the last.
    const auto after = std::upper_bound(m_stages.begin() + 1, m_stages.end(), nRunNs,
                                        [](int64_t nNs, const Stage& stage) { return nNs < stage.nAtNs; });
    return *(after - 1);
}

void CTrafficModel::Values(uint64_t k, uint64_t nPacket, int64_t nRunNs, double* pStates,
                           CMessageTemplate::Generated* pOut) const
{
    const CRandom::Key key{m_nSeed, k, nPacket};
    const double dSeconds = static_cast<double>(nRunNs) / 1e9;
    for (size_t i = 0; i < m_config.vary.size(); ++i)
        pOut[i] = m_config.vary[i].generator.Value(key, static_cast<uint32_t>(i), dSeconds, pStates + m_stateOf[i]);
}

CLinkFaults::Decision CTrafficModel::Decide(uint64_t k, uint64_t nPacket, int64_t nRunNs, Device& device) const
{
    if (!m_bLinkFaults)
        return CLinkFaults::Decision();
    return StageAt(nRunNs).settings.faults.Decide(CRandom::Key{m_nSeed, k, nPacket}, device.bInBurst, m_nDefaultByNs);
}

double CTrafficModel::OnlineShare(int64_t nRunNs) const
{
    const auto after = std::upper_bound(m_share.begin(), m_share.end(), nRunNs,
                                        [](int64_t nNs, const std::pair<int64_t, double>& point) {
                                            return nNs < point.first;
                                        });
    if (after == m_share.begin())
        return m_share.front().second;
    const auto at = after - 1;
    if (after == m_share.end())
        return at->second;
    const double dPart = static_cast<double>(nRunNs - at->first) / static_cast<double>(after->first - at->first);
    return at->second + (after->second - at->second) * dPart;
}

int64_t CTrafficModel::SharedFrom(uint64_t k, int64_t nRunNs) const
{
    const double dPlace = static_cast<double>(k) / static_cast<double>(m_nFleet);
    if (m_share.size() == 1 || OnlineShare(nRunNs) > dPlace)
        return nRunNs;
    size_t j = static_cast<size_t>(std::upper_bound(m_share.begin(), m_share.end(), nRunNs,
                                                    [](int64_t nNs, const std::pair<int64_t, double>& point) {
                                                        return nNs < point.first;
                                                    }) -
                                   m_share.begin());
    j = j > 0 ? j - 1 : 0;
    for (; j + 1 < m_share.size(); ++j) {
        const auto& [nFrom, dFrom] = m_share[j];
        const auto& [nTo, dTo] = m_share[j + 1];
        if (dTo <= dPlace)
            continue;
        if (nTo == nFrom)
            return std::max(nRunNs, nTo);
        // Rising through the device's place: online just after it passes.
        const double dCross = static_cast<double>(nFrom) +
                              (dPlace - dFrom) / (dTo - dFrom) * static_cast<double>(nTo - nFrom);
        return std::max(nRunNs, static_cast<int64_t>(std::floor(dCross)) + 1);
    }
    return m_share.back().second > dPlace ? std::max(nRunNs, m_share.back().first) : kNever;
}

int64_t CTrafficModel::OutageUntil(uint64_t k, int64_t nRunNs) const
{
    int64_t nUntil = nRunNs;
    for (size_t i = 0; i < m_outages.size(); ++i) {
        const Window& outage = m_outages[i];
        const double dReturn = CRandom::Unit(CRandom::Bits(m_nSeed, k, i, CRandom::kOutageReturn));
        const int64_t nEnd = outage.nAtNs + outage.nLengthNs +
                             static_cast<int64_t>(dReturn * static_cast<double>(outage.nSpreadNs));
        if (outage.nAtNs <= nRunNs && nRunNs < nEnd)
            nUntil = std::max(nUntil, nEnd);
    }
    return nUntil;
}

int64_t CTrafficModel::NextChurn(int64_t nFromNs, double dExpected) const
{
    // The dropouts come as a Poisson process whose rate is the stage's: the
    // next one where the expected count since nFromNs reaches dExpected.
    size_t i = static_cast<size_t>(&StageAt(nFromNs) - m_stages.data());
    for (; i < m_stages.size(); ++i) {
        const int64_t nBegin = std::max(nFromNs, m_stages[i].nAtNs);
        const int64_t nEnd = i + 1 < m_stages.size() ? m_stages[i + 1].nAtNs : kNever;
        const double dRate = m_stages[i].dChurnPerNs;
        if (dRate <= 0)
            continue;
        const double dAt = static_cast<double>(nBegin) + dExpected / dRate;
        if (nEnd == kNever || dAt < static_cast<double>(nEnd))
            return dAt < 9e18 ? static_cast<int64_t>(dAt) : kNever;
        dExpected -= dRate * static_cast<double>(nEnd - nBegin);
    }
    return kNever;
}

void CTrafficModel::DrawChurn(uint64_t k, int64_t nRunNs, Device& device) const
{
    while (device.nChurns == 0 || (device.nChurnUntilNs <= nRunNs && device.nChurnUntilNs != kNever)) {
        const int64_t nFrom = device.nChurns == 0 ? 0 : device.nChurnUntilNs;
        const uint64_t n = device.nChurns++;
        const int64_t nOnset = NextChurn(nFrom, CRandom::Exponential(CRandom::Bits(m_nSeed, k, n, CRandom::kChurnGap)));
        if (nOnset == kNever) {
            device.nChurnFromNs = kNever;
            device.nChurnUntilNs = kNever;
            return;
        }
        const int64_t nLength = StageAt(nOnset).settings.churn.length.Draw(
            CRandom::Bits(m_nSeed, k, n, CRandom::kChurnLength),
            CRandom::Bits(m_nSeed, k, n, CRandom::kChurnLength + CRandom::kSecondDraw));
        device.nChurnFromNs = nOnset;
        device.nChurnUntilNs = nOnset + nLength;
    }
}

CTrafficModel::Gap CTrafficModel::Offline(uint64_t k, int64_t nRunNs, Device& device) const
{
    Gap gap{nRunNs, Cause::kOnline};
    if (!m_bDropouts)
        return gap;
    // Offline for as long as any cause holds, one taking over from another.
    int64_t nAt = nRunNs;
    while (nAt != kNever) {
        int64_t nNext = nAt;
        Cause nCause = Cause::kOnline;
        const int64_t nOutage = OutageUntil(k, nAt);
        if (nOutage > nNext) {
            nNext = nOutage;
            nCause = Cause::kOutage;
        }
        DrawChurn(k, nAt, device);
        if (device.nChurnFromNs <= nAt && nAt < device.nChurnUntilNs && device.nChurnUntilNs > nNext) {
            nNext = device.nChurnUntilNs;
            nCause = nCause == Cause::kOnline ? Cause::kChurn : nCause;
        }
        const int64_t nShared = SharedFrom(k, nAt);
        if (nShared > nNext) {
            nNext = nShared;
            nCause = nCause == Cause::kOnline ? Cause::kDevices : nCause;
        }
        if (nNext == nAt)
            break;
        if (gap.nCause == Cause::kOnline)
            gap.nCause = nCause;
        nAt = nNext;
    }
    gap.nUntilNs = nAt;
    return gap;
}
