#include "load/CTextLoader.h"

#include <new>

#include "load/CPacketCollector.h"

namespace {

bool IsHexDigit(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

}  // namespace

CTextLoader::Prepared CTextLoader::Prepare(const std::string& strContent, bool bHexMode)
{
    Prepared prepared;
    if (strContent.empty()) {
        prepared.nStatus = CLoadResult::kEmptyText;
        return prepared;
    }
    if (!bHexMode) {
        prepared.strBytes = strContent;
        return prepared;
    }
    switch (NormalizeHexText(strContent, prepared.strText)) {
    case HexStatus::kTooLong:
        prepared.nStatus = CLoadResult::kHexTooLong;
        break;
    case HexStatus::kNotHex:
        prepared.nStatus = CLoadResult::kNotHex;
        break;
    case HexStatus::kOk:
        prepared.strBytes = DecodeHex(prepared.strText);
        break;
    }
    return prepared;
}

CLoadResult CTextLoader::Cut(const std::string& strBytes, const CLoadResult::Progress& progress)
{
    // A load that runs out of memory ends as one whose input is too large,
    // instead of ending the program.
    try {
        CPacketCollector collector(CPacketCollector::Keep::kEveryPacket);
        return collector.CutBytes(strBytes.data(), strBytes.size(), progress);
    } catch (const std::bad_alloc&) {
        return CLoadResult::Failure(CLoadResult::kTooLarge, "text", "not enough memory");
    }
}

CLoadResult CTextLoader::Load(const std::string& strContent, bool bHexMode, const CLoadResult::Progress& progress)
{
    Prepared prepared;
    try {
        prepared = Prepare(strContent, bHexMode);
    } catch (const std::bad_alloc&) {
        return CLoadResult::Failure(CLoadResult::kTooLarge, "text", "not enough memory");
    }
    if (prepared.nStatus != CLoadResult::kOk)
        return CLoadResult::WithStatus(prepared.nStatus);
    CLoadResult result = Cut(prepared.strBytes, progress);
    if (bHexMode)
        result.strText = std::move(prepared.strText);
    return result;
}

CTextLoader::HexStatus CTextLoader::NormalizeHexText(const std::string& strText, std::string& strDigits)
{
    strDigits.clear();
    if (strText.size() > kMaxHexText)
        return HexStatus::kTooLong;
    strDigits.reserve(strText.size());
    for (const char c : strText) {
        if (c == ' ' || c == '\r' || c == '\n')
            continue;
        if (!IsHexDigit(static_cast<unsigned char>(c))) {
            strDigits.clear();
            return HexStatus::kNotHex;
        }
        strDigits.push_back(c);
    }
    if (strDigits.size() % 2 != 0)
        strDigits.pop_back();
    return HexStatus::kOk;
}

std::string CTextLoader::DecodeHex(const std::string& strDigits)
{
    std::string bytes;
    bytes.reserve(strDigits.size() / 2);
    for (size_t i = 0; i + 1 < strDigits.size(); i += 2)
        bytes.push_back(static_cast<char>(HexValue(strDigits[i]) * 16 + HexValue(strDigits[i + 1])));
    return bytes;
}
