#pragma once

#include <cstdint>
#include <string>

// A receive run's figures in the Prometheus text exposition format (0.0.4):
// the counters of datagrams, malformed ones, duplicates, reordered, lost
// and the kernel's drops, answers sent, and the devices seen, each series
// labelled with the address listened on. Any thread.
class CReceiveMetricsText {
public:
    struct Counters {
        uint64_t nDatagrams = 0;
        uint64_t nMalformed = 0;
        uint64_t nDuplicates = 0;
        uint64_t nReordered = 0;
        uint64_t nLost = 0;
        uint64_t nKernelDrops = 0;
        uint64_t nAnswers = 0;
        uint64_t nDevices = 0;
        // With DTLS: sessions kept now, handshakes completed and failed.
        bool bDtls = false;
        uint64_t nSessions = 0;
        uint64_t nHandshakes = 0;
        uint64_t nHandshakeFailures = 0;
    };

    explicit CReceiveMetricsText(const std::string& strListen);

    std::string Text(const Counters& counters) const;

private:
    std::string m_strLabels;
};
