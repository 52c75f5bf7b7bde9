// The pacing options' grammars and the curve they make. For any text a
// reader either refuses, naming the text, or gives what it promises: a rate
// above 0 that its own text reads back as; a capacity search that rises
// from FROM to TO in steps of a workable length; an instant from 1970 on
// whose UTC text reads back as the same millisecond; an interval within its
// bounds. A rate curve made of any points owes datagrams at a rate never
// below 0, and When and Owed agree.
//
// Input: byte 0 picks the reader (mod 5): a rate, a capacity search, an
// instant, an interval, or a curve whose points are the text's bytes taken
// nine at a time.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "fleet/CCapacitySearch.h"
#include "schedule/CRateCurve.h"
#include "time/CCalendar.h"
#include "traffic/CDelay.h"
#include "traffic/CRate.h"
#include "traffic/CTrafficConfig.h"

namespace {

constexpr int64_t kNowUnixMs = 1796904000000;

bool Refused(const CStatus& status, const std::string& strText)
{
    return status.IsInvalid() && status.Message().find("'" + strText + "'") != std::string::npos;
}

void CheckCurve(const uint8_t* p, size_t n)
{
    if (n == 0)
        return;
    CRateCurve curve(static_cast<double>(p[0] % 16) * 100);
    int64_t nAtNs = 0;
    for (size_t i = 1; i + 3 <= n; i += 3) {
        // Instants move on by up to 2.5 s, sometimes stay (a step).
        nAtNs += static_cast<int64_t>(p[i]) * 10000000;
        const double dRate = static_cast<double>(p[i + 1] | (p[i + 2] << 8)) * 7.5;
        if (!(p[i] & 1 ? curve.Step(nAtNs, dRate) : curve.AddPoint(nAtNs, dRate)))
            break;
    }
    double dOwedBefore = 0;
    for (int64_t t = 0; t <= nAtNs + 2000000000; t += 37000000) {
        const double dOwed = curve.Owed(t);
        FUZZ_CHECK(std::isfinite(dOwed) && dOwed >= dOwedBefore - 1e-6);
        FUZZ_CHECK(curve.RateAt(t) >= 0);
        dOwedBefore = dOwed;
        if (dOwed <= 0)
            continue;
        // The first instant by which what is owed at t was owed: not after t
        // but for rounding (what is owed by then is known to a few parts in
        // 1e16, which at a low rate is a few nanoseconds), and owing it.
        const int64_t nWhen = curve.When(dOwed);
        FUZZ_CHECK(nWhen <= t + 1000);
        FUZZ_CHECK(curve.Owed(nWhen) >= dOwed * (1 - 1e-9) - 1e-6);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string strText(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 5) {
    case 0: {
        double dRate = 0;
        const CStatus read = CRate::Read(strText, CTrafficConfig::kMaxRate, dRate);
        if (!read.IsOk()) {
            FUZZ_CHECK(Refused(read, strText));
            break;
        }
        FUZZ_CHECK(dRate > 0 && dRate <= CTrafficConfig::kMaxRate);
        double dAgain = 0;
        FUZZ_CHECK(CRate::Read(CRate::Text(dRate), CTrafficConfig::kMaxRate, dAgain).IsOk());
        FUZZ_CHECK(std::fabs(dAgain - dRate) <= dRate * 1e-5);
        break;
    }
    case 1: {
        CCapacitySearch::Settings settings;
        const CStatus read = CCapacitySearch::Read(strText, settings);
        if (!read.IsOk()) {
            FUZZ_CHECK(Refused(read, strText));
            break;
        }
        FUZZ_CHECK(settings.dFrom > 0 && settings.dFrom < settings.dTo);
        FUZZ_CHECK(settings.dStep > 0 || settings.dFactor > 1);
        FUZZ_CHECK(settings.nStepNs >= 1000000000 && settings.nStepNs <= CCapacitySearch::kMaxStepNs);
        break;
    }
    case 2: {
        int64_t nUnixMs = -1;
        if (!CCalendar::ReadInstant(strText, kNowUnixMs, nUnixMs))
            break;
        FUZZ_CHECK(nUnixMs >= 0);
        // "2026-12-10 12:00:00.000 UTC" is RFC 3339 once its zone is a Z.
        std::string strUtc = CCalendar::UtcText(nUnixMs);
        strUtc.replace(strUtc.size() - 4, 4, "Z");
        int64_t nAgain = -1;
        FUZZ_CHECK(CCalendar::ReadInstant(strUtc, kNowUnixMs, nAgain) && nAgain == nUnixMs);
        break;
    }
    case 3: {
        CDelay interval;
        const CStatus read =
            CDelay::ReadWithin(strText, CTrafficConfig::kMinIntervalNs, CTrafficConfig::kMaxIntervalNs, interval);
        if (!read.IsOk()) {
            FUZZ_CHECK(Refused(read, strText));
            break;
        }
        FUZZ_CHECK(interval.MeanNs() >= CTrafficConfig::kMinIntervalNs &&
                   interval.MeanNs() <= CTrafficConfig::kMaxIntervalNs);
        break;
    }
    default:
        CheckCurve(data + 1, size - 1);
        break;
    }
    return 0;
}
