#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/CStatus.h"
#include "packet/CMessageTemplate.h"
#include "traffic/CRandom.h"

// One value generator of --vary, as written: uniform(LO,HI),
// normal(MEAN,SD), walk(LO,HI,STEP) (a bounded random walk per device,
// starting anywhere in its bounds), sine(LO,HI,PERIOD[,NOISE]) (a phase per
// device, PERIOD a duration, NOISE the standard deviation of a normal noise;
// kept within LO and HI), pick(V1,V2,...) (one at random), cycle(V1,V2,...)
// (in turn, by the packet's index) and device(LO,HI) (one constant per
// device). Numbers may be at most 1e15 in size. The choices of pick and cycle
// are numbers or texts; a text goes into a string member as it is.
// A plain value; Value may be called from any thread.
class CGenerator {
public:
    enum class Kind : uint8_t { kUniform, kNormal, kWalk, kSine, kPick, kCycle, kDevice };

    // Fails, naming the text and saying what is wrong, when the text is not
    // a generator.
    [[nodiscard]] static CStatus Read(std::string_view text, CGenerator& generator);

    Kind GetKind() const { return m_nKind; }
    const std::string& Text() const { return m_strText; }
    // Whether every value is a number (all kinds but pick and cycle with a
    // choice that is not one).
    bool Numeric() const { return m_bNumeric; }
    // pick and cycle: their choices can go into a string as they are.
    bool HasChoices() const { return !m_choices.empty(); }
    // Whether a device keeps a position from packet to packet (walk).
    bool HasState() const { return m_nKind == Kind::kWalk; }
    // The bounds values stay within, where the kind has them (all but
    // normal, pick and cycle).
    bool Bounded(double& dLow, double& dHigh) const;

    // The value of the device's packet: key's draws of rule nRule;
    // dRunSeconds is the packet's place in the run (sine's time); pState the
    // device's state (walk: its position, NaN before the first packet).
    CMessageTemplate::Generated Value(const CRandom::Key& key, uint32_t nRule, double dRunSeconds,
                                      double* pState) const;

private:
    struct Choice {
        std::string strJson;  // the text as JSON string content (escaped)
        double dNumber;       // the number, or 0 when the text is not one
    };

    Kind m_nKind = Kind::kUniform;
    std::string m_strText;
    double m_dA = 0;  // LO or MEAN
    double m_dB = 0;  // HI or SD
    double m_dC = 0;  // walk: STEP; sine: PERIOD in seconds
    double m_dNoise = 0;
    bool m_bNumeric = true;
    std::vector<Choice> m_choices;
};
