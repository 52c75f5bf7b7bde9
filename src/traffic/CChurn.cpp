#include "traffic/CChurn.h"

#include <vector>

#include "traffic/COptionText.h"

namespace {

// Above this a device would hardly be online at all.
constexpr double kMaxRatePerHour = 3600;

}  // namespace

bool CChurn::Read(std::string_view text, CChurn& churn, std::string& strWrong)
{
    if (text == "off") {
        churn = CChurn();
        return true;
    }
    const std::vector<std::string> items = COptionText::SplitList(text);
    CChurn read;
    if (items.size() != 2 || !COptionText::ReadNumber(items[0], read.dRatePerHour) || read.dRatePerHour < 0 ||
        read.dRatePerHour > kMaxRatePerHour) {
        strWrong = "is not RATE,DURATION with RATE the dropouts per device and hour (0 to 3600) and DURATION a "
                   "duration or a distribution";
        return false;
    }
    std::string strLengthWrong;
    if (!CDelay::Read(items[1], read.length, strLengthWrong)) {
        strWrong = "has the duration " + COptionText::Quoted(items[1]) + ", which " + strLengthWrong;
        return false;
    }
    churn = read;
    return true;
}
