#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/CProcessUsage.h"
#include "figures/CRunRecord.h"
#include "receive/CAgeFigures.h"

// What a receive run records of itself, as its stats file (--stats-json)
// holds it: where it listened and how it answered, the whole run's figures,
// one entry per second, the first malformed datagrams, the devices with the
// most lost, duplicates and reordered, and the thresholds' verdicts. Json
// writes the file's text. A plain value; any thread.
struct CReceiveRecord {
    // Second nT of the run (1 for the first) covers [start + nT - 1,
    // start + nT).
    struct Second {
        uint64_t nT = 0;
        uint64_t nDatagrams = 0;
        uint64_t nMalformed = 0;
        uint64_t nLost = 0;
        uint64_t nDuplicates = 0;
        uint64_t nReordered = 0;
        uint64_t nKernelDrops = 0;
        uint64_t nAnswers = 0;
        uint64_t nDevices = 0;  // seen by the second's end
        CAgeFigures::Figures age;
    };

    struct Malformed {
        std::string strFrom;
        uint64_t nLength = 0;
        std::string strReason;  // "not UTF-8", "not strict JSON (...)"
        std::string strShown;   // the first bytes, printable (\xHH)
    };

    struct Device {
        std::string strImei;
        uint64_t nDatagrams = 0;
        uint64_t nInfo = 0;
        uint64_t nLost = 0;
        uint64_t nDuplicates = 0;
        uint64_t nReordered = 0;
    };

    // The run.
    std::string strListen;   // "0.0.0.0:51609", "[::1]:40000"
    std::string strCounter;  // empty without --counter
    std::string strAnswer;   // "none", "echo", "members:IMEI,cmd"
    std::string strAnswerDelay;
    double dAnswerDrop = 0;
    double dCapacity = 0;  // answers a second at most; 0: no limit
    uint64_t nCapacityQueue = 0;
    uint64_t nSeed = 0;
    int64_t nReceiveBufferBytes = 0;
    double dSeconds = 0;
    int64_t nStartUnixMs = 0;
    std::vector<std::string> commandLine;

    // Its figures.
    uint64_t nDatagrams = 0;
    uint64_t nBytes = 0;
    uint64_t nDevices = 0;
    uint64_t nDeviceInfo = 0;
    uint64_t nMalformed = 0;
    uint64_t nWithoutImei = 0;
    uint64_t nWithoutCounter = 0;
    uint64_t nExpected = 0;
    uint64_t nLost = 0;
    uint64_t nDuplicates = 0;
    uint64_t nReordered = 0;
    uint64_t nUnreadableTime = 0;
    // The kernel's drops at this socket (a full receive buffer); unknown
    // where the system does not tell them.
    bool bKernelDropsKnown = false;
    uint64_t nKernelDrops = 0;
    uint64_t nAnswersSent = 0;
    uint64_t nAnswersDropped = 0;    // by --answer-drop
    uint64_t nAnswersNotQueued = 0;  // the queue of delayed answers full
    uint64_t nAnswersOverCapacity = 0;  // more waiting for their turn than --capacity's queue
    uint64_t nAnswerErrors = 0;      // the send refused
    // With DTLS: the peers' handshakes.
    std::optional<CHandshakeCounts> handshakes;
    CAgeFigures::Figures age;
    CProcessUsage usage;
    std::vector<Second> series;
    std::vector<Malformed> malformed;
    std::vector<Device> devices;
    std::vector<CVerdict> verdicts;

    // Lost per number expected, 0 when none was.
    double Loss() const;
    // Datagrams per second of the run.
    double Rate() const;

    // The stats file's text: one JSON object and a line end.
    std::string Json() const;
};
