#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "packet/PacketList.h"
#include "packet/TimeIndex.h"

// Turns what the operator offers into the packets of a run: the text box as
// JSON text or as hexadecimal digits, or an imported message file. Each call
// is independent and may run on any one thread; the result owns everything it
// built and hands it on whole. Nothing is shown here: the caller shows the
// text of Message() in its own way.
class CPacketLoader {
public:
    // The longest hexadecimal text accepted.
    static constexpr size_t kMaxHexText = 50000;

    // Called now and then with the bytes done out of a total; answering false
    // cancels the load.
    using Progress = std::function<bool(int64_t nDone, int64_t nTotal)>;

    struct Result {
        enum Status {
            kOk,
            kEmptyText,   // nothing in the text box
            kHexTooLong,  // hex text longer than kMaxHexText bytes
            kNotHex,      // hex text with a byte other than digits, space, CR, LF
            kNoPackets,   // nothing cut, or no message with "IMEI" in a file
            kUnreadable,  // the file cannot be opened or read
            kTooLarge,    // too large for the packet buffer's 32-bit lengths, or for memory
            kCancelled,   // the progress callback said stop
        };
        Status nStatus = kNoPackets;
        // kOk: at least one packet; an import also gives the time index.
        std::unique_ptr<PacketList> pPackets;
        std::unique_ptr<TimeIndex> pIndex;
        // Hex mode: what the text box holds afterwards (the kept digits, or
        // empty after a rejection).
        std::string strText;
        // kUnreadable, kTooLarge: the file's name and the reason.
        std::string strDetail;
        // The cutting ended with bytes left that no packet took (a '{'
        // before the '}' of the message being cut, or a message without its
        // '}' at the end): where they begin, and how many there were to the
        // end of the input.
        bool bCutStopped = false;
        int64_t nStopOffset = 0;
        int64_t nStopLine = 0;
        int64_t nUncut = 0;
    };

    enum class HexStatus { kOk, kTooLong, kNotHex };

    // The text box's bytes, cut into packets; in hex mode first normalised
    // and decoded. No JSON is parsed.
    static Result LoadText(const std::string& strContent, bool bHexMode, const Progress& progress = {});
    // Reads the file, cuts it, keeps the messages with "IMEI" and indexes
    // those with a readable "time" by their time-of-day key. Progress counts
    // every byte twice, once read and once cut.
    static Result Import(const std::string& strPath, const Progress& progress = {});
    // The same, on bytes already in memory.
    static Result ImportBytes(const char* pData, size_t nLength, const Progress& progress = {});
    // A file's bytes as the text box's: cut as they are read (no JSON is
    // parsed), or in hex mode read whole (at most kMaxHexText bytes) and
    // loaded as LoadText does. The file's limits are the import's.
    static Result LoadTextFile(const std::string& strPath, bool bHexMode, const Progress& progress = {});

    // Keeps hex digits in order, skipping space, CR and LF; rejects any other
    // byte and texts over kMaxHexText bytes; drops an odd last digit.
    static HexStatus NormalizeHexText(const std::string& strText, std::string& strDigits);
    // Pairs of hex digits to bytes; an odd last digit is ignored.
    static std::string DecodeHex(const std::string& strDigits);

    // What the operator is told: the count message for kOk, the failure's own
    // text otherwise (empty for kCancelled).
    static std::string Message(const Result& result);
    static std::string CountMessage(size_t nPackets);
    // Where the cutting stopped, for a result with bCutStopped.
    static std::string CutStopMessage(const Result& result);
};
