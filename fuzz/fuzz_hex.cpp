// The hexadecimal path of the loader: NormalizeHexText against a plain
// reading of its rules, DecodeHex against strtol on each pair of digits, and
// LoadText in hex and in text mode against the framing reference.
//
// Input: byte 0 picks the shape; the rest is the text box. Shape % 4 == 3
// repeats the text to a length of 49,998 to 50,002 bytes, around the longest
// text that hex mode accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "CBraceModel.h"
#include "FuzzCheck.h"
#include "packet/CReceiveBuffer.h"
#include "load/CTextLoader.h"

namespace {

using Result = CLoadResult;

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// What the framing cuts out of the bytes, loader style.
std::vector<std::string> ModelPackets(const std::string& strBytes)
{
    CBraceModel model(CReceiveBuffer::kDefaultSize, CReceiveBuffer::kDefaultSize);
    model.Append(strBytes.data(), static_cast<int64_t>(strBytes.size()));
    std::vector<std::string> packets;
    for (int64_t n = model.FindPacket(); n != 0; n = model.FindPacket())
        packets.push_back(model.TakeFront(n));
    return packets;
}

void CheckPackets(const Result& result, const std::vector<std::string>& expected)
{
    if (expected.empty()) {
        FUZZ_CHECK(result.nStatus == Result::kNoPackets);
        FUZZ_CHECK(result.pPackets == nullptr);
        return;
    }
    FUZZ_CHECK(result.nStatus == Result::kOk);
    FUZZ_CHECK(result.pPackets != nullptr && result.pPackets->size() == expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Packet packet = (*result.pPackets)[i];
        FUZZ_CHECK(std::string(packet.data, static_cast<size_t>(packet.length)) == expected[i]);
    }
    FUZZ_CHECK(result.Message() == CLoadResult::CountMessage(expected.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    std::string strText(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 4 == 3) {
        const size_t nWanted = CTextLoader::kMaxHexText - 2 + (data[0] >> 2) % 5;
        if (strText.empty())
            strText = "0";
        std::string strLong;
        strLong.reserve(nWanted + strText.size());
        while (strLong.size() < nWanted)
            strLong += strText;
        strLong.resize(nWanted);
        strText.swap(strLong);
    }

    // The rules, read plainly.
    bool bAllowed = true;
    std::string strKept;
    for (const char c : strText) {
        if (c == ' ' || c == '\r' || c == '\n')
            continue;
        if (!IsHexDigit(c)) {
            bAllowed = false;
            break;
        }
        strKept += c;
    }
    if (strKept.size() % 2 != 0)
        strKept.pop_back();

    std::string strDigits = "stale";
    const CTextLoader::HexStatus nStatus = CTextLoader::NormalizeHexText(strText, strDigits);
    if (strText.size() > CTextLoader::kMaxHexText) {
        FUZZ_CHECK(nStatus == CTextLoader::HexStatus::kTooLong && strDigits.empty());
    } else if (!bAllowed) {
        FUZZ_CHECK(nStatus == CTextLoader::HexStatus::kNotHex && strDigits.empty());
    } else {
        FUZZ_CHECK(nStatus == CTextLoader::HexStatus::kOk && strDigits == strKept);
    }

    // Each pair of digits through strtol in base 16, low byte kept; an odd
    // last digit is ignored.
    std::string strOdd = strKept;
    if (!strText.empty() && IsHexDigit(strText.back()))
        strOdd += strText.back();
    const std::string strBytes = CTextLoader::DecodeHex(strOdd);
    FUZZ_CHECK(strBytes.size() == strOdd.size() / 2);
    for (size_t i = 0; i + 1 < strOdd.size(); i += 2) {
        const char pair[3] = {strOdd[i], strOdd[i + 1], '\0'};
        FUZZ_CHECK(static_cast<unsigned char>(strBytes[i / 2]) ==
                   static_cast<unsigned char>(std::strtol(pair, nullptr, 16) & 0xFF));
    }

    const Result hex = CTextLoader::Load(strText, true);
    if (strText.empty()) {
        FUZZ_CHECK(hex.nStatus == Result::kEmptyText);
    } else if (strText.size() > CTextLoader::kMaxHexText) {
        FUZZ_CHECK(hex.nStatus == Result::kHexTooLong && hex.strText.empty() && hex.pPackets == nullptr);
    } else if (!bAllowed) {
        FUZZ_CHECK(hex.nStatus == Result::kNotHex && hex.strText.empty() && hex.pPackets == nullptr);
    } else {
        FUZZ_CHECK(hex.strText == strKept);
        CheckPackets(hex, ModelPackets(CTextLoader::DecodeHex(strKept)));
    }

    // The same text in text mode is cut as it stands.
    const Result text = CTextLoader::Load(strText, false);
    if (strText.empty())
        FUZZ_CHECK(text.nStatus == Result::kEmptyText);
    else
        CheckPackets(text, ModelPackets(strText));
    return 0;
}
