#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/CStatus.h"
#include "figures/CRunRecord.h"
#include "figures/CWindowFigures.h"
#include "verdict/CThreshold.h"

// A search for the highest rate a server holds: the fleet's rate rises in
// steps (from FROM by a factor or a step, up to TO), each step judged on its
// own figures (its seconds after the settle time) against the thresholds;
// the search ends at the first step that crosses one, then, asked to,
// refines between the last rate that held and the first that did not; a
// step in which the fleet itself fell behind ends it too, without a
// capacity. The run hands it each second as it closes and applies the rates
// it asks for. One thread (the run's).
class CCapacitySearch {
public:
    // The longest step a search takes.
    static constexpr int64_t kMaxStepNs = int64_t{3600} * 1000000000;

    struct Settings {
        double dFrom = 0;
        double dTo = 0;
        double dFactor = 1.25;  // above 1; ignored with dStep
        double dStep = 0;       // above 0: add it instead of multiplying
        int64_t nStepNs = 20000000000;
        int nRefine = 0;  // refining steps after the first crossing
        std::optional<double> dRequired;
    };

    // "FROM..TO[,xFACTOR|,+STEP][,DURATION]": "1k/s..200k/s,x1.25,20s".
    // Fails naming the text and saying what is wrong.
    [[nodiscard]] static CStatus Read(std::string_view text, Settings& settings);

    // nSettleNs: how long after a step's start its figures count (the
    // replies of the rate before it have come by then).
    CCapacitySearch(Settings settings, std::vector<CThreshold> thresholds, int64_t nSettleNs, bool bReplies,
                    bool bTraffic);

    // The rate of the first step.
    double FirstRate() const { return m_settings.dFrom; }
    // Second nT of the run closed with these figures. When a step ends with
    // it, the step is judged; answers the next step's rate, or none when the
    // rate stays (the step goes on, or the search has ended).
    std::optional<double> OnSecond(const CWindowFigures::Second& second);
    bool Done() const { return m_bDone; }
    // The rate it asks for now (FROM while resting).
    double Rate() const { return m_dRate; }
    // What the search found so far: the steps and the result.
    CRunRecord::Capacity Result() const;

private:
    // Judges the step that just ended; answers the next rate, if any.
    std::optional<double> JudgeStep();
    double Rise(double dRate) const;

    const Settings m_settings;
    const std::vector<CThreshold> m_thresholds;
    const uint64_t m_nStepSeconds;
    const uint64_t m_nSettleSeconds;
    const bool m_bReplies;
    const bool m_bTraffic;
    CWindowFigures m_window;
    uint64_t m_nStepStart = 1;  // the step's first second
    uint64_t m_nStepBehind = 0;
    double m_dRate;
    // Resting after a step that crossed: the step's rate once the rest
    // ends (m_nStepStart is then the step's first second).
    std::optional<double> m_dAfterRest;
    std::optional<double> m_dGood;
    std::optional<double> m_dBad;
    int m_nRefined = 0;
    bool m_bDone = false;
    CRunRecord::Capacity m_result;
};
