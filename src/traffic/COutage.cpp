#include "traffic/COutage.h"

#include <vector>

#include "text/CDuration.h"
#include "traffic/COptionText.h"

CStatus COutage::Read(std::string_view text, bool bAt, COutage& outage)
{
    const std::vector<std::string> items = COptionText::SplitList(text);
    const size_t nFirst = bAt ? 1 : 0;
    COutage read;
    std::string strKey;
    std::string strValue;
    bool bRead = items.size() >= nFirst + 1 && items.size() <= nFirst + 2 &&
                 (!bAt || CDuration::Read(items[0], read.nAtNs)) &&
                 CDuration::Read(items[nFirst], read.nLengthNs) && read.nLengthNs > 0;
    if (bRead && items.size() == nFirst + 2)
        bRead = COptionText::SplitKeyValue(items[nFirst + 1], strKey, strValue) && strKey == "return" &&
                CDuration::Read(strValue, read.nSpreadNs);
    if (!bRead)
        return COptionText::Refuse(text, std::string("is not ") + (bAt ? "AT," : "") +
                                             "DURATION[,return=SPREAD] with durations (" + CDuration::Form() +
                                             "), DURATION above 0");
    outage = read;
    return CStatus();
}
