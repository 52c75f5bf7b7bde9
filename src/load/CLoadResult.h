#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "packet/PacketList.h"
#include "packet/TimeIndex.h"

// What a load gave: the packets of a run (and for an import the time index),
// or why there are none. The result owns everything it holds and hands it on
// whole; it shows nothing: callers show Message() in their own way.
class CLoadResult {
public:
    enum Status {
        kOk,
        kEmptyText,   // nothing in the text box
        kHexTooLong,  // hex text longer than the longest accepted
        kNotHex,      // hex text with a byte other than digits, space, CR, LF
        kNoPackets,   // nothing cut, or no message with "IMEI" in a file
        kUnreadable,  // the file cannot be opened or read
        kTooLarge,    // too large for the packet buffer's 32-bit lengths, or for memory
        kCancelled,   // the progress callback said stop
        kBadFilter,   // a capture filter that does not compile
    };

    // Called now and then with the work done out of a total; answering false
    // cancels the load.
    using Progress = std::function<bool(int64_t nDone, int64_t nTotal)>;

    Status nStatus = kNoPackets;
    // kOk: at least one packet; an import also gives the time index.
    std::unique_ptr<PacketList> pPackets;
    std::unique_ptr<TimeIndex> pIndex;
    // Hex mode: what the text box holds afterwards (the kept digits, or
    // empty after a rejection).
    std::string strText;
    // A capture: each packet's datagram, as its capture time in nanoseconds
    // after the first datagram kept and the number of its source in
    // captureSources ("address:port"); all empty for any other input.
    std::vector<int64_t> captureNs;
    std::vector<uint32_t> captureSource;
    std::vector<std::string> captureSources;
    // A capture's summary: what was read, skipped and cut.
    std::string strSummary;
    // kUnreadable, kTooLarge, kBadFilter: the file's name or the filter, and
    // the reason.
    std::string strDetail;
    // The cutting ended with bytes left that no packet took (a '{' before the
    // '}' of the message being cut, or a message without its '}' at the
    // end): where they begin, and how many there were to the end of the input.
    bool bCutStopped = false;
    int64_t nStopOffset = 0;
    int64_t nStopLine = 0;
    int64_t nUncut = 0;

    static CLoadResult WithStatus(Status nStatus);
    // kUnreadable or kTooLarge, with "what: reason" as the detail.
    static CLoadResult Failure(Status nStatus, const std::string& strWhat, const std::string& strReason);

    // Runs a load; one that runs out of memory (a huge input on a small
    // machine) ends as one whose input is too large, instead of ending the
    // program.
    template <class Load>
    static CLoadResult GuardMemory(const std::string& strWhat, Load load)
    {
        try {
            return load();
        } catch (const std::bad_alloc&) {
            return Failure(kTooLarge, strWhat, "not enough memory");
        }
    }

    // What the operator is told: the count message for kOk, the failure's own
    // text otherwise (empty for kCancelled).
    std::string Message() const;
    // Where the cutting stopped, for a result with bCutStopped.
    std::string CutStopMessage() const;
    static std::string CountMessage(size_t nPackets);
};
