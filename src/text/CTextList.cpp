#include "text/CTextList.h"

std::vector<std::string> CTextList::Split(const std::string& strText, char cSeparator)
{
    std::vector<std::string> items;
    size_t nStart = 0;
    for (;;) {
        const size_t nFound = strText.find(cSeparator, nStart);
        items.push_back(strText.substr(nStart, nFound == std::string::npos ? std::string::npos : nFound - nStart));
        if (nFound == std::string::npos)
            return items;
        nStart = nFound + 1;
    }
}
