#pragma once

#include <cstdint>

#include <vector>

#include "schedule/CRateCurve.h"
#include "traffic/CDelay.h"
#include "traffic/CTrafficConfig.h"

// When each device of a run paced by an interval (--interval) or a rate
// (--rate, rate stages, a capacity search's steps) sends its packets,
// instead of its mode's period. The fleet's rate is a curve (datagrams a
// second of the whole fleet of N devices); device k's packets follow one
// another by its share of it, N datagrams of the curve times the device's
// own factor: 1, or with a distribution of intervals its own interval, drawn
// once from the seed, over the distribution's mean. So a fixed interval I
// is a constant rate N / I, and each device's packet j goes j intervals
// after its first. Spread, device k comes online k/N of an interval after
// the start (its device info message then), and sends its first packet the
// first check after it came online.
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

    // Device k's place in the first interval (run time): k/N of it spread,
    // else 0.
    int64_t SpreadNs(uint64_t k) const;
    // Its packet after the one due at nFromRunNs (run time); kNever when the
    // rate stays 0.
    int64_t Next(uint64_t k, int64_t nFromRunNs) const;
    // Device k's own factor of the fleet's interval.
    double Factor(uint64_t k) const;

private:
    const uint64_t m_nFleet;
    const CDelay m_interval;
    const uint64_t m_nSeed;
    const bool m_bSpread;
    CRateCurve m_curve;
};
