#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// A fleet's rate over a run (datagrams a second of the whole fleet) as a
// curve of points (run time, rate): straight between two points, a step
// where two share an instant, the first point's rate before it and the last
// one's after it. Each device's next instant follows from it: the instant
// by which the curve has owed another device's share of datagrams, counted
// from the device's last instant, so that a change of rate moves a device
// from its next instant on, without a burst.
//
// Points are added in order of time, from one thread (the run's), while any
// number of threads read: the curve is append-only and holds at most
// kMaxPoints points; a reader sees every point added before it began.
class CRateCurve {
public:
    static constexpr size_t kMaxPoints = 4096;
    static constexpr int64_t kNever = INT64_MAX;

    // A constant rate from the start.
    explicit CRateCurve(double dPerSecond);
    CRateCurve(const CRateCurve&) = delete;
    CRateCurve& operator=(const CRateCurve&) = delete;

    // The rate reaches dPerSecond at nAtNs, straight from the last point (at
    // once when nAtNs is the last point's instant). Points before the last
    // one's instant count at its instant. False when the curve is full.
    bool AddPoint(int64_t nAtNs, double dPerSecond);
    // The rate steps to dPerSecond at nAtNs.
    bool Step(int64_t nAtNs, double dPerSecond);

    double RateAt(int64_t nAtNs) const;
    // The datagrams owed between two run times.
    double Between(int64_t nFromNs, int64_t nToNs) const;
    // The first instant by which dDatagrams more have been owed since
    // nFromNs; kNever when the rate stays at 0 before that.
    int64_t After(int64_t nFromNs, double dDatagrams) const;

private:
    struct Point {
        int64_t nNs;
        double dRate;
    };

    // The index of the last point at or before nNs (0 when none is).
    size_t PointAt(int64_t nNs, size_t nPoints) const;
    double RateAt(int64_t nNs, size_t nPoints) const;

    std::unique_ptr<Point[]> m_points;
    std::atomic<size_t> m_nPoints{0};
};
