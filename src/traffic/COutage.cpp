#include "traffic/COutage.h"

#include <vector>

#include "traffic/CDelay.h"
#include "traffic/COptionText.h"

bool COutage::Read(std::string_view text, bool bAt, COutage& outage, std::string& strWrong)
{
    const std::vector<std::string> items = COptionText::SplitList(text);
    const size_t nFirst = bAt ? 1 : 0;
    COutage read;
    std::string strKey;
    std::string strValue;
    bool bRead = items.size() >= nFirst + 1 && items.size() <= nFirst + 2 &&
                 (!bAt || CDelay::ReadDuration(items[0], read.nAtNs)) &&
                 CDelay::ReadDuration(items[nFirst], read.nLengthNs) && read.nLengthNs > 0;
    if (bRead && items.size() == nFirst + 2)
        bRead = COptionText::SplitKeyValue(items[nFirst + 1], strKey, strValue) && strKey == "return" &&
                CDelay::ReadDuration(strValue, read.nSpreadNs);
    if (!bRead) {
        strWrong = std::string("is not ") + (bAt ? "AT," : "") +
                   "DURATION[,return=SPREAD] with durations (" + CDelay::DurationForm() +
                   "), DURATION above 0";
        return false;
    }
    outage = read;
    return true;
}
