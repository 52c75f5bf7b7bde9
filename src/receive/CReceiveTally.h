#pragma once

#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "receive/CAgeFigures.h"
#include "receive/CCounterWindow.h"
#include "receive/CGrowingMap.h"
#include "net/SocketTypes.h"
#include "receive/CReceiveRecord.h"

// What a receive run makes of each datagram, as it comes: strict JSON (valid
// UTF-8) or malformed; a root object with "IMEI" or without; per device (by
// the "IMEI" value: a string's content, any other value as compact JSON) its
// datagrams, device info messages ("cmd":"push_info") and, with a counter
// member, what CCounterWindow tells of each number (a device info message
// starts the device's count afresh); how old a readable "time" is on
// arrival, by the local time of the arrival. Time is given with each
// datagram, so a test drives it with any clock. One thread.
//
// Kept per device: its key (the IMEI text, inside the string for up to 15
// bytes), five counts and its CCounterWindow (72 bytes), some 140 bytes with
// the hash table's node and bucket: a million devices take about 140 MB. The
// table grows without stopping the reader (CGrowingMap).
class CReceiveTally {
public:
    enum class Kind : uint8_t { kMalformed, kWithoutImei, kDevice };

    struct Taken {
        Kind nKind = Kind::kMalformed;
        // The parsed message, until the next Take (not for kMalformed).
        simdjson::dom::element root;
    };

    // Bytes that must be readable after each datagram's own (the parser
    // reads ahead).
    static constexpr size_t kPadding = simdjson::SIMDJSON_PADDING;
    // Malformed datagrams kept to be shown, the first ones.
    static constexpr size_t kShownMalformed = 20;
    // The devices a record lists, those with the most lost first.
    static constexpr size_t kListedDevices = 10;

    // strCounter: the counter member, empty for none.
    explicit CReceiveTally(std::string strCounter);

    // pData holds nLength bytes and kPadding more, from the source from.
    // nArrivalUnixNs: the wall clock at arrival.
    Taken Take(const char* pData, size_t nLength, const sockaddr_storage& from, int64_t nArrivalUnixNs);

    uint64_t Datagrams() const { return m_nDatagrams; }
    uint64_t Malformed() const { return m_nMalformed; }
    uint64_t Lost() const { return m_nLost; }
    uint64_t Duplicates() const { return m_nDuplicates; }
    uint64_t Reordered() const { return m_nReordered; }
    uint64_t Devices() const { return m_devices.Size(); }

    // Closes the current second (number nT of the run): its counts, with
    // the devices seen so far. The caller adds what it counts itself.
    CReceiveRecord::Second TakeSecond(uint64_t nT);
    // The malformed datagrams kept so far (at most kShownMalformed).
    const std::vector<CReceiveRecord::Malformed>& MalformedShown() const { return m_malformedShown; }
    // Ends every device's count (the numbers not arrived below each highest
    // are lost), once, at the end of the run.
    void CloseCounts();
    // Puts the totals, the kept malformed datagrams and the devices with the
    // most lost, duplicates and reordered into the record.
    void Fill(CReceiveRecord& record) const;

private:
    struct Device {
        uint64_t nDatagrams = 0;
        uint64_t nLost = 0;
        uint32_t nInfo = 0;
        uint32_t nDuplicates = 0;
        uint32_t nReordered = 0;
        CCounterWindow window;
    };

    void TakeMalformed(const char* pData, size_t nLength, const sockaddr_storage& from, simdjson::error_code nError);
    void TakeDevice(simdjson::dom::object object, int64_t nArrivalUnixNs);
    void Count(Device& device, uint64_t nCounter);
    void AddAge(simdjson::dom::object object, int64_t nArrivalUnixNs);
    // Seconds by which local time is ahead of UTC at the second, cached.
    int64_t LocalOffset(int64_t nUnixSecond);

    const std::string m_strCounter;
    simdjson::dom::parser m_parser;
    CGrowingMap<Device> m_devices;
    std::string m_strKey;
    CAgeFigures m_age;

    uint64_t m_nDatagrams = 0;
    uint64_t m_nBytes = 0;
    uint64_t m_nMalformed = 0;
    uint64_t m_nWithoutImei = 0;
    uint64_t m_nDeviceInfo = 0;
    uint64_t m_nWithoutCounter = 0;
    uint64_t m_nLost = 0;
    uint64_t m_nDuplicates = 0;
    uint64_t m_nReordered = 0;
    uint64_t m_nUnreadableTime = 0;
    std::vector<CReceiveRecord::Malformed> m_malformedShown;

    // The counts at the last TakeSecond.
    CReceiveRecord::Second m_last;

    int64_t m_nOffsetSecond = INT64_MIN;
    int64_t m_nOffset = 0;
};
