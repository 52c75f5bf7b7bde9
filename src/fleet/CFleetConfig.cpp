#include "fleet/CFleetConfig.h"

#include "figures/CFaultCounts.h"

namespace {

using Settings = CTrafficConfig::Settings;

// Whether the traffic injects a kind of fault anywhere in the run, and the
// options that would.
bool Injects(const CTrafficConfig& traffic, int nFault, const char*& pszOptions)
{
    switch (static_cast<CFaultCounts::Kind>(nFault)) {
    case CFaultCounts::kLoss:
        pszOptions = "--loss";
        return traffic.AnySettings([](const Settings& s) { return s.faults.loss.dProbability > 0; });
    case CFaultCounts::kDuplicate:
        pszOptions = "--duplicate";
        return traffic.AnySettings([](const Settings& s) { return s.faults.duplicate.dProbability > 0; });
    case CFaultCounts::kReorder:
        pszOptions = "--reorder";
        return traffic.AnySettings([](const Settings& s) { return s.faults.reorder.dProbability > 0; });
    case CFaultCounts::kJitter:
        pszOptions = "--jitter";
        return traffic.AnySettings([](const Settings& s) { return s.faults.jitter.bOn; });
    case CFaultCounts::kCorrupt:
        pszOptions = "--corrupt";
        return traffic.AnySettings([](const Settings& s) { return s.faults.corrupt.dProbability > 0; });
    case CFaultCounts::kChurn:
        pszOptions = "--churn";
        return traffic.AnySettings([](const Settings& s) { return s.churn.On(); });
    case CFaultCounts::kOutage:
        pszOptions = "--outage";
        return traffic.HasOutages();
    case CFaultCounts::kOffline:
        break;
    }
    pszOptions = "--churn, --outage or a scenario's devices";
    return traffic.AnySettings([](const Settings& s) { return s.churn.On(); }) || traffic.HasOutages() ||
           traffic.SetsDevices();
}

}  // namespace

CStatus CFleetConfig::CheckThresholds() const
{
    for (const CThreshold& threshold : outputs.thresholds) {
        const std::string strRule = "--threshold: '" + threshold.Expression() + "' ";
        const char* pszOptions = "";
        switch (threshold.GetEvidence()) {
        case CThreshold::Evidence::kReplies:
            if (!bReplies)
                return CStatus::Invalid(strRule + "measures the replies, which this run does not read: add --replies");
            break;
        case CThreshold::Evidence::kFault:
            if (!Injects(traffic, threshold.Fault(), pszOptions))
                return CStatus::Invalid(strRule + "counts " + CFaultCounts::Name(static_cast<size_t>(threshold.Fault())) +
                                        " faults, which this run does not inject: add " + pszOptions);
            break;
        case CThreshold::Evidence::kAnyFault:
            if (!traffic.HasFaults())
                return CStatus::Invalid(strRule + "counts the faults injected, and this run injects none: add a "
                                                  "fault option (--loss, --jitter, ...) or a scenario");
            break;
        case CThreshold::Evidence::kDtls:
            if (!dtls.bOn)
                return CStatus::Invalid(strRule + "measures DTLS handshakes, and this run sends plain UDP: add --dtls");
            // A window of seconds holds no handshake figures of its own.
            if (outputs.bAbortOnFail || capacity)
                return CStatus::Invalid(strRule + "is judged over the whole run: it does not go with " +
                                        (capacity ? "--find-capacity" : "--abort-on-fail"));
            break;
        case CThreshold::Evidence::kAlways:
        case CThreshold::Evidence::kCounter:
            break;
        }
    }
    return CStatus();
}
