#pragma once

#include <cstdint>
#include <vector>

#include "schedule/CRateCurve.h"
#include "traffic/CDelay.h"
#include "traffic/CTrafficConfig.h"

// When each device of a run paced by an interval (--interval) or a rate
// (--rate, rate stages, a capacity search's steps) sends its packets,
// instead of its mode's period. The fleet's rate is a curve (datagrams a
// second of the whole fleet of N devices); device k's slots are the instants
// by which the curve has owed (j + phase) N datagrams times the device's own
// factor (1, or with a distribution of intervals its own interval, drawn
// once from the seed, over the distribution's mean). So a fixed interval I
// is a constant rate N / I and slot j of a device is j intervals after its
// slot 0; with the phases spread (k/N) the fleet's sends are spread evenly
// over every interval, whatever the rate does. A device comes online at its
// slot 0 (its device info message) and sends packet after packet the first
// check after each of its slots; a slot that a change of rate has moved into
// the past is passed over, so a change never makes a burst.
//
// Holds the curve, which the run may move on while the scheduler threads
// read it (CRateCurve's terms); everything else is read-only: any thread.
class CPace {
public:
    // nFleet: N; interval: the devices' intervals (their mean sets the
    // curve's first rate unless dRate is given); nSeed: their draws; the
    // stages that set a rate or an interval, each reached straight from the
    // one before (as many as the curve holds).
    CPace(uint64_t nFleet, const CDelay& interval, double dRate, uint64_t nSeed, bool bSpread,
          const std::vector<CTrafficConfig::Stage>& stages = {});
    CPace(const CPace&) = delete;
    CPace& operator=(const CPace&) = delete;

    CRateCurve& Curve() { return m_curve; }
    const CRateCurve& Curve() const { return m_curve; }
    uint64_t Fleet() const { return m_nFleet; }
    // The rate of the whole fleet that an interval gives (N / interval).
    double RateOf(int64_t nIntervalNs) const;

    // Device k's slot j (run time); kNever when the rate stays 0 before it.
    int64_t SlotNs(uint64_t k, uint64_t nSlot) const;
    // Its first slot after run time nRunNs.
    uint64_t SlotAfter(uint64_t k, int64_t nRunNs) const;
    // Device k's own factor of the fleet's interval.
    double Factor(uint64_t k) const;

private:
    // Where device k's slots lie in each interval: k/N of it spread, else
    // 0.
    double Phase(uint64_t k) const;

    const uint64_t m_nFleet;
    const CDelay m_interval;
    const uint64_t m_nSeed;
    const bool m_bSpread;
    CRateCurve m_curve;
};
