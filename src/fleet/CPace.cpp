#include "fleet/CPace.h"

#include <algorithm>
#include <cmath>

#include "traffic/CRandom.h"

CPace::CPace(uint64_t nFleet, const CDelay& interval, double dRate, uint64_t nSeed, bool bSpread,
             const std::vector<CTrafficConfig::Stage>& stages)
    : m_nFleet(std::max<uint64_t>(nFleet, 1)),
      m_interval(interval),
      m_nSeed(nSeed),
      m_bSpread(bSpread),
      m_curve(dRate > 0 ? dRate : RateOf(interval.MeanNs()))
{
    for (const CTrafficConfig::Stage& stage : stages) {
        if (stage.dRate || stage.interval)
            m_curve.AddPoint(stage.nAtNs, stage.dRate ? *stage.dRate : RateOf(stage.interval->MeanNs()));
    }
}

double CPace::RateOf(int64_t nIntervalNs) const
{
    return nIntervalNs > 0 ? static_cast<double>(m_nFleet) * 1e9 / static_cast<double>(nIntervalNs) : 0.0;
}

double CPace::Factor(uint64_t k) const
{
    if (m_interval.GetKind() == CDelay::Kind::kFixed || m_interval.MeanNs() <= 0)
        return 1.0;
    const CRandom::Key key{m_nSeed, k, 0};
    const int64_t nDrawnNs = std::clamp(
        m_interval.Draw(key.Bits(CRandom::kInterval), key.Bits(CRandom::kInterval + CRandom::kSecondDraw)),
        CTrafficConfig::kMinIntervalNs, CTrafficConfig::kMaxIntervalNs);
    return static_cast<double>(nDrawnNs) / static_cast<double>(m_interval.MeanNs());
}

double CPace::Phase(uint64_t k) const
{
    return m_bSpread ? static_cast<double>(k % m_nFleet) / static_cast<double>(m_nFleet) : 0.0;
}

int64_t CPace::SlotNs(uint64_t k, uint64_t nSlot) const
{
    return m_curve.When((static_cast<double>(nSlot) + Phase(k)) * static_cast<double>(m_nFleet) * Factor(k));
}

uint64_t CPace::SlotAfter(uint64_t k, int64_t nRunNs) const
{
    const double dSlots = m_curve.Owed(nRunNs) / (static_cast<double>(m_nFleet) * Factor(k)) - Phase(k);
    uint64_t nSlot = dSlots < 0 ? 0 : static_cast<uint64_t>(std::floor(dSlots));
    // Rounding either way: the first slot strictly after.
    while (nSlot > 0 && SlotNs(k, nSlot - 1) > nRunNs)
        --nSlot;
    while (SlotNs(k, nSlot) <= nRunNs)
        ++nSlot;
    return nSlot;
}
