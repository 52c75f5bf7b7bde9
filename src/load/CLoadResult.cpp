#include "load/CLoadResult.h"

#include <cstdio>

#include "text/TovrikTexts.h"

CLoadResult CLoadResult::WithStatus(Status nStatus)
{
    CLoadResult result;
    result.nStatus = nStatus;
    return result;
}

CLoadResult CLoadResult::Failure(Status nStatus, const std::string& strWhat, const std::string& strReason)
{
    CLoadResult result = WithStatus(nStatus);
    result.strDetail = strWhat + ": " + strReason;
    return result;
}

std::string CLoadResult::CountMessage(size_t nPackets)
{
    char text[128];
    std::snprintf(text, sizeof text, TovrikTexts::kCountPattern, static_cast<int>(nPackets));
    return text;
}

std::string CLoadResult::CutStopMessage() const
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "the cutting stopped at byte %lld (line %lld): a message there has no '}' before the next '{' "
                  "or the end; %lld bytes were left uncut",
                  static_cast<long long>(nStopOffset), static_cast<long long>(nStopLine),
                  static_cast<long long>(nUncut));
    return text;
}

std::string CLoadResult::Message() const
{
    switch (nStatus) {
    case kOk:
        return CountMessage(pPackets ? pPackets->size() : 0);
    case kEmptyText:
        return TovrikTexts::kEmptyData;
    case kHexTooLong:
        return TovrikTexts::kHexTooLong;
    case kNotHex:
        return TovrikTexts::kNotHex;
    case kNoPackets:
        return TovrikTexts::kNoPackets;
    case kUnreadable:
    case kTooLarge:
    case kBadFilter:
        return strDetail;
    case kCancelled:
        break;
    }
    return std::string();
}
