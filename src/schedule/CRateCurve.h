#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// A fleet's rate over a run (datagrams a second of the whole fleet) as a
// curve of points (run time, rate): straight between two points, a step
// where two share an instant, the first point's rate before it and the last
// one's after it; and what it has owed since the start (the datagrams it
// asks for up to an instant), so that devices can send when the fleet's
// share of them is due: evenly spread, whatever the rate does.
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

    // The points added so far: a reader that saw fewer knows the curve
    // changed since.
    size_t Points() const { return m_nPoints.load(std::memory_order_acquire); }

    double RateAt(int64_t nAtNs) const;
    // The datagrams owed from the start to a run time.
    double Owed(int64_t nAtNs) const;
    // The first run time by which dDatagrams have been owed; kNever when the
    // rate stays at 0 before that.
    int64_t When(double dDatagrams) const;
    // The datagrams owed between two run times.
    double Between(int64_t nFromNs, int64_t nToNs) const { return Owed(nToNs) - Owed(nFromNs); }

private:
    struct Point {
        int64_t nNs;
        double dRate;
        double dOwed;  // from the start to the point
    };

    // The index of the last point at or before nNs (0 when none is).
    size_t PointAt(int64_t nNs, size_t nPoints) const;
    double RateAt(int64_t nNs, size_t nPoints) const;

    std::unique_ptr<Point[]> m_points;
    std::atomic<size_t> m_nPoints{0};
};
