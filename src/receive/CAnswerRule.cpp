#include "receive/CAnswerRule.h"

#include "packet/CJsonText.h"
#include "traffic/CRandom.h"

CAnswerRule::CAnswerRule(const CReceiveConfig& config) : m_config(config) {}

void CAnswerRule::Decide(const CReceiveTally::Taken& taken, const char* pData, size_t nLength, Decision& decision)
{
    decision.nOutcome = Outcome::kNone;
    decision.nDelayNs = 0;
    switch (m_config.nAnswer) {
    case CReceiveConfig::Answer::kNone:
        return;
    case CReceiveConfig::Answer::kEcho:
        decision.bytes.assign(pData, nLength);
        break;
    case CReceiveConfig::Answer::kMembers:
        if (!Members(taken, decision.bytes))
            return;
        break;
    }
    const CRandom::Key key{m_config.nSeed, 0, m_nAnswers++};
    if (m_config.dAnswerDrop > 0 && key.Unit(CRandom::kAnswerDrop) < m_config.dAnswerDrop) {
        decision.nOutcome = Outcome::kDropped;
        return;
    }
    decision.nOutcome = Outcome::kSend;
    decision.nDelayNs = m_config.answerDelay.Draw(key.Bits(CRandom::kAnswerDelay),
                                                  key.Bits(CRandom::kAnswerDelay + CRandom::kSecondDraw));
}

bool CAnswerRule::Members(const CReceiveTally::Taken& taken, std::string& out) const
{
    simdjson::dom::object object;
    if (taken.nKind == CReceiveTally::Kind::kMalformed || taken.root.get_object().get(object) != simdjson::SUCCESS)
        return false;
    out.assign(1, '{');
    for (const std::string& strName : m_config.answerMembers) {
        for (const simdjson::dom::key_value_pair member : object) {
            if (member.key != strName)
                continue;
            if (out.size() > 1)
                out.push_back(',');
            CJsonText::AppendMember(out, member);
            break;
        }
    }
    out.push_back('}');
    return out.size() > 2;
}
