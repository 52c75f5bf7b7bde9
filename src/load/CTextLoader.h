#pragma once

#include <cstddef>
#include <string>

#include "load/CLoadResult.h"

// Loads the text box: its bytes as JSON text, or hexadecimal digits spelling
// the bytes, cut into packets by the brace framing. No JSON is parsed. The
// operations are independent and may run on any one thread.
class CTextLoader {
public:
    // The longest hexadecimal text accepted.
    static constexpr size_t kMaxHexText = 50000;

    enum class HexStatus { kOk, kTooLong, kNotHex };

    // The checks made before any cutting, in the order the operator is told
    // of them: an empty text, then in hex mode digits that are not hex or
    // too many.
    struct Prepared {
        CLoadResult::Status nStatus = CLoadResult::kOk;
        // Hex mode: what the text box holds afterwards, the kept digits, or
        // nothing after a rejection.
        std::string strText;
        // kOk: the bytes to cut.
        std::string strBytes;
    };

    static Prepared Prepare(const std::string& strContent, bool bHexMode);
    // Cuts prepared bytes.
    static CLoadResult Cut(const std::string& strBytes, const CLoadResult::Progress& progress = {});
    // Prepare, then Cut; in hex mode the result's strText is the kept digits.
    static CLoadResult Load(const std::string& strContent, bool bHexMode,
                            const CLoadResult::Progress& progress = {});

    // Keeps hex digits in order, skipping space, CR and LF; rejects any other
    // byte and texts over kMaxHexText bytes; drops an odd last digit.
    static HexStatus NormalizeHexText(const std::string& strText, std::string& strDigits);
    // Pairs of hex digits to bytes; an odd last digit is ignored.
    static std::string DecodeHex(const std::string& strDigits);
};
