// The DTLS key files' and secrets' parsers. For any text a key file either
// is refused, naming the file and a line of it (or saying it has no key),
// never with a key's hex digits in the message; or every identity it gives
// a key has a key of 1 to 32 bytes, found again by a server looking the
// identity up. A secret either is refused by one fixed message (its text
// never in it),
// or derives 32-byte keys that a device and a server agree on.
//
// Input: byte 0 picks the parser (even: a key file, odd: a secret); the
// rest is the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "dtls/CDtlsKeys.h"

namespace {

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The longest run of hex digits in a text: a key's would be 2 or more.
size_t LongestHexRun(const std::string& strText)
{
    size_t nLongest = 0;
    size_t nRun = 0;
    for (const char c : strText) {
        nRun = IsHex(c) ? nRun + 1 : 0;
        nLongest = nRun > nLongest ? nRun : nLongest;
    }
    return nLongest;
}

void CheckFile(std::string_view text)
{
    CDtlsKeys keys;
    const CStatus status = CDtlsKeys::ParseFile(text, "keys.txt", keys);
    if (!status.IsOk()) {
        FUZZ_CHECK(status.IsInvalid());
        FUZZ_CHECK(status.Message().rfind("keys.txt: ", 0) == 0);
        // What follows "keys.txt: line N: " says what is wrong; an identity
        // may be quoted, a key never: only the quoted part may hold hex.
        std::string strSaid = status.Message();
        const size_t nQuote = strSaid.find('\'');
        if (nQuote != std::string::npos)
            strSaid.erase(nQuote, strSaid.rfind('\'') - nQuote + 1);
        FUZZ_CHECK(LongestHexRun(strSaid.substr(10)) < 8);
        return;
    }
    FUZZ_CHECK(keys.Size() > 0);
    // Each line's identity as the file has it: a server finds its key, and
    // a device named by it gets the same.
    size_t nAt = 0;
    while (nAt < text.size()) {
        size_t nEnd = text.find('\n', nAt);
        if (nEnd == std::string_view::npos)
            nEnd = text.size();
        std::string_view line = text.substr(nAt, nEnd - nAt);
        nAt = nEnd + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = line.substr(0, line.find('#'));
        const size_t nStart = line.find_first_not_of(" \t");
        if (nStart == std::string_view::npos)
            continue;
        line.remove_prefix(nStart);
        const std::string identity(line.substr(0, line.find_first_of(" \t")));
        std::string strKey;
        FUZZ_CHECK(keys.ForIdentity(identity, strKey));
        FUZZ_CHECK(!strKey.empty() && strKey.size() <= CDtlsKeys::kMaxKeyBytes);
        std::string strIdentity;
        std::string strDeviceKey;
        FUZZ_CHECK(keys.ForDevice(identity, 0, strIdentity, strDeviceKey));
        FUZZ_CHECK(strIdentity == identity && strDeviceKey == strKey);
    }
}

void CheckSecret(std::string_view text)
{
    CDtlsKeys keys;
    const CStatus status = CDtlsKeys::ParseSecret(text, "secret", keys);
    if (!status.IsOk()) {
        FUZZ_CHECK(status.IsInvalid());
        FUZZ_CHECK(status.Message() == "secret: the secret is shorter than 16 bytes");
        return;
    }
    FUZZ_CHECK(keys.Derived());
    std::string strIdentity;
    std::string strKey;
    FUZZ_CHECK(keys.ForDevice("1234567890", 0, strIdentity, strKey));
    FUZZ_CHECK(strIdentity == "1234567890" && strKey.size() == 32);
    std::string strServerKey;
    FUZZ_CHECK(keys.ForIdentity("1234567890", strServerKey) && strServerKey == strKey);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(pData + 1), nSize - 1);
    if (pData[0] % 2 == 0)
        CheckFile(text);
    else
        CheckSecret(text);
    return 0;
}
