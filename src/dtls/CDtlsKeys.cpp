#include "dtls/CDtlsKeys.h"

#include <fstream>
#include <iterator>

#include <mbedtls/md.h>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

CStatus ReadWhole(const std::string& strPath, std::string& strText)
{
    std::ifstream file(strPath, std::ios::binary);
    if (!file)
        return CStatus::Invalid(strPath + ": cannot be opened");
    strText.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad())
        return CStatus::Invalid(strPath + ": cannot be read");
    return CStatus();
}

}  // namespace

CStatus CDtlsKeys::ParseFile(std::string_view text, const std::string& strWhere, CDtlsKeys& keys)
{
    size_t nLine = 0;
    while (!text.empty()) {
        ++nLine;
        const size_t nEnd = text.find('\n');
        std::string_view line = text.substr(0, nEnd);
        text = nEnd == std::string_view::npos ? std::string_view() : text.substr(nEnd + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const size_t nHash = line.find('#');
        if (nHash != std::string_view::npos)
            line = line.substr(0, nHash);
        while (!line.empty() && IsBlank(line.front()))
            line.remove_prefix(1);
        while (!line.empty() && IsBlank(line.back()))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        const std::string strAt = strWhere + ": line " + std::to_string(nLine) + ": ";
        size_t nSpace = 0;
        while (nSpace < line.size() && !IsBlank(line[nSpace]))
            ++nSpace;
        const std::string_view identity = line.substr(0, nSpace);
        std::string_view hex = line.substr(nSpace);
        while (!hex.empty() && IsBlank(hex.front()))
            hex.remove_prefix(1);
        if (hex.empty())
            return CStatus::Invalid(strAt + "has no key: lines are IDENTITY KEY, the key in hex");
        if (identity.size() > kMaxIdentityBytes)
            return CStatus::Invalid(strAt + "the identity is longer than " + std::to_string(kMaxIdentityBytes) +
                                    " bytes");
        for (const char c : identity) {
            if (static_cast<unsigned char>(c) < 0x21 || c == 0x7f)
                return CStatus::Invalid(strAt + "the identity holds a control character");
        }
        if (hex.size() % 2 != 0 || hex.size() > 2 * kMaxKeyBytes)
            return CStatus::Invalid(strAt + "the key is not an even number of hex digits, 2 to " +
                                    std::to_string(2 * kMaxKeyBytes));
        std::string strKey(hex.size() / 2, '\0');
        for (size_t i = 0; i < hex.size(); i += 2) {
            const int nHigh = HexDigit(hex[i]);
            const int nLow = HexDigit(hex[i + 1]);
            if (nHigh < 0 || nLow < 0)
                return CStatus::Invalid(strAt + "the key is not hex digits (or a blank follows it)");
            strKey[i / 2] = static_cast<char>(nHigh * 16 + nLow);
        }
        if (!keys.m_keys.emplace(std::string(identity), std::move(strKey)).second)
            return CStatus::Invalid(strAt + "the identity '" + std::string(identity) + "' has a line before");
    }
    if (keys.m_keys.empty())
        return CStatus::Invalid(strWhere + ": no key: lines are IDENTITY KEY, the key in hex");
    return CStatus();
}

CStatus CDtlsKeys::ParseSecret(std::string_view text, const std::string& strWhere, CDtlsKeys& keys)
{
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (text.size() < kMinSecretBytes)
        return CStatus::Invalid(strWhere + ": the secret is shorter than " + std::to_string(kMinSecretBytes) +
                                " bytes");
    keys.m_strSecret.assign(text);
    return CStatus();
}

CStatus CDtlsKeys::LoadFile(const std::string& strPath, CDtlsKeys& keys)
{
    std::string strText;
    CStatus status = ReadWhole(strPath, strText);
    return status.IsOk() ? ParseFile(strText, strPath, keys) : status;
}

CStatus CDtlsKeys::LoadSecret(const std::string& strPath, CDtlsKeys& keys)
{
    std::string strText;
    CStatus status = ReadWhole(strPath, strText);
    return status.IsOk() ? ParseSecret(strText, strPath, keys) : status;
}

bool CDtlsKeys::ForDevice(const std::string& strImei, uint64_t nIndex, std::string& strIdentity,
                          std::string& strKey) const
{
    if (Derived()) {
        strIdentity = strImei;
        strKey = Derive(m_strSecret, strImei);
        return true;
    }
    auto found = m_keys.find(strImei);
    if (found == m_keys.end())
        found = m_keys.find(std::to_string(nIndex));
    if (found == m_keys.end())
        return false;
    strIdentity = found->first;
    strKey = found->second;
    return true;
}

bool CDtlsKeys::ForIdentity(std::string_view identity, std::string& strKey) const
{
    if (Derived()) {
        strKey = Derive(m_strSecret, identity);
        return true;
    }
    const auto found = m_keys.find(std::string(identity));
    if (found == m_keys.end())
        return false;
    strKey = found->second;
    return true;
}

std::string CDtlsKeys::Derive(const std::string& strSecret, std::string_view imei)
{
    unsigned char digest[32];
    mbedtls_md_hmac(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), reinterpret_cast<const unsigned char*>(strSecret.data()),
                    strSecret.size(), reinterpret_cast<const unsigned char*>(imei.data()), imei.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}
