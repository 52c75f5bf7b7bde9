#include "figures/CJsonWriter.h"

#include <cstdio>

#include "packet/CJsonText.h"
#include "text/CUtf8.h"

CJsonWriter::CJsonWriter(std::string& out) : m_out(out)
{
    m_out.push_back('{');
}

void CJsonWriter::End()
{
    m_out.push_back('}');
}

std::string& CJsonWriter::Key(const char* pszKey)
{
    if (!m_bFirst)
        m_out.push_back(',');
    m_bFirst = false;
    CJsonText::AppendKey(m_out, pszKey);
    return m_out;
}

void CJsonWriter::Count(const char* pszKey, uint64_t nValue)
{
    Key(pszKey) += std::to_string(nValue);
}

void CJsonWriter::Signed(const char* pszKey, int64_t nValue)
{
    Key(pszKey) += std::to_string(nValue);
}

void CJsonWriter::Number(const char* pszKey, double dValue, const char* pszFormat)
{
    AppendNumber(Key(pszKey), dValue, pszFormat);
}

void CJsonWriter::Text(const char* pszKey, const std::string& strValue)
{
    CJsonText::AppendString(Key(pszKey), CUtf8::Valid(strValue));
}

void CJsonWriter::Flag(const char* pszKey, bool bValue)
{
    Key(pszKey) += bValue ? "true" : "false";
}

void CJsonWriter::Null(const char* pszKey)
{
    Key(pszKey) += "null";
}

void CJsonWriter::Texts(const char* pszKey, const std::vector<std::string>& values)
{
    // Arguments are bytes on Linux; the file stays UTF-8 whatever they hold.
    Array(Key(pszKey), values,
          [](std::string& out, const std::string& strValue) { CJsonText::AppendString(out, CUtf8::Valid(strValue)); });
}

void CJsonWriter::AppendNumber(std::string& out, double dValue, const char* pszFormat)
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, pszFormat, dValue);
    if (n > 0)
        out.append(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}
