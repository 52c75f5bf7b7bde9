#include "traffic/COptionText.h"

#include <cmath>
#include <cstdlib>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Moves p past digits; answers whether there was one.
bool SkipDigits(const char*& p, const char* end)
{
    const char* start = p;
    while (p < end && IsDigit(*p))
        ++p;
    return p > start;
}

}  // namespace

bool COptionText::ReadNumber(std::string_view text, double& dValue)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    const bool bWhole = SkipDigits(p, end);
    bool bFraction = false;
    if (p < end && *p == '.') {
        ++p;
        bFraction = SkipDigits(p, end);
    }
    if (!bWhole && !bFraction)
        return false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        if (!SkipDigits(p, end))
            return false;
    }
    if (p != end)
        return false;
    const std::string copy(text);
    const double d = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(d))
        return false;
    dValue = d;
    return true;
}

bool COptionText::ReadProbability(std::string_view text, double& dValue)
{
    double d = 0;
    if (!text.empty() && text.back() == '%') {
        if (!ReadNumber(text.substr(0, text.size() - 1), d) || d < 0 || d > 100)
            return false;
        dValue = d / 100.0;
        return true;
    }
    if (!ReadNumber(text, d) || d < 0 || d > 1)
        return false;
    dValue = d;
    return true;
}

std::vector<std::string> COptionText::SplitList(std::string_view text)
{
    std::vector<std::string> items(1);
    int nDepth = 0;
    for (const char c : text) {
        if (c == '(')
            ++nDepth;
        else if (c == ')' && nDepth > 0)
            --nDepth;
        if (c == ',' && nDepth == 0)
            items.emplace_back();
        else
            items.back().push_back(c);
    }
    return items;
}

bool COptionText::SplitKeyValue(std::string_view item, std::string& strKey, std::string& strValue)
{
    const size_t nParen = item.find('(');
    const size_t nEquals = item.find('=');
    if (nEquals == std::string_view::npos || (nParen != std::string_view::npos && nParen < nEquals))
        return false;
    strKey = std::string(item.substr(0, nEquals));
    strValue = std::string(item.substr(nEquals + 1));
    return true;
}

bool COptionText::SplitCall(std::string_view text, std::string& strName, std::vector<std::string>& args)
{
    const size_t nOpen = text.find('(');
    if (nOpen == 0 || nOpen == std::string_view::npos || text.back() != ')')
        return false;
    for (size_t i = 0; i < nOpen; ++i) {
        if (text[i] < 'a' || text[i] > 'z')
            return false;
    }
    const std::string_view inner = text.substr(nOpen + 1, text.size() - nOpen - 2);
    int nDepth = 0;
    for (const char c : inner) {
        nDepth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (nDepth < 0)
            return false;
    }
    if (nDepth != 0)
        return false;
    strName = std::string(text.substr(0, nOpen));
    args = SplitList(inner);
    return true;
}

std::string COptionText::Quoted(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

CStatus COptionText::Refuse(std::string_view text, const std::string& strWrong)
{
    return CStatus::Invalid(Quoted(text) + " " + strWrong);
}

std::string COptionText::Reason(const CStatus& refusal, std::string_view text)
{
    const std::string strNamed = Quoted(text) + " ";
    const std::string& strMessage = refusal.Message();
    return strMessage.compare(0, strNamed.size(), strNamed) == 0 ? strMessage.substr(strNamed.size()) : strMessage;
}
