#include "traffic/CChurn.h"

#include <vector>

#include "traffic/COptionText.h"

namespace {

// Above this a device would hardly be online at all.
constexpr double kMaxRatePerHour = 3600;

}  // namespace

CStatus CChurn::Read(std::string_view text, CChurn& churn)
{
    if (text == "off") {
        churn = CChurn();
        return CStatus();
    }
    const std::vector<std::string> items = COptionText::SplitList(text);
    CChurn read;
    if (items.size() != 2 || !COptionText::ReadNumber(items[0], read.dRatePerHour) || read.dRatePerHour < 0 ||
        read.dRatePerHour > kMaxRatePerHour)
        return COptionText::Refuse(text, "is not RATE,DURATION with RATE the dropouts per device and hour (0 to "
                                         "3600) and DURATION a duration or a distribution");
    const CStatus length = CDelay::Read(items[1], read.length);
    if (!length.IsOk())
        return COptionText::Refuse(text, "has the duration " + COptionText::Quoted(items[1]) + ", which " +
                                             COptionText::Reason(length, items[1]));
    churn = read;
    return CStatus();
}
