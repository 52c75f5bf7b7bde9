#pragma once

#include <atomic>
#include <cstdio>

#include "send/CDatagramSink.h"

// Passes each datagram on to another sink and, unless quiet, writes one line
// for it: local time with milliseconds, target, byte count. Counts what went
// out and what could not. Send runs on the worker's thread; Count may be read from any thread.
class CConsoleSink : public CDatagramSink {
public:
    CConsoleSink(CDatagramSink& next, std::FILE* pOut, bool bQuiet) : m_next(next), m_pOut(pOut), m_bQuiet(bQuiet) {}

    bool Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength) override;
    long long Count() const { return m_nSent.load(); }
    long long Failed() const { return m_nFailed.load(); }

private:
    CDatagramSink& m_next;
    std::FILE* m_pOut;
    bool m_bQuiet;
    std::atomic<long long> m_nSent{0};
    std::atomic<long long> m_nFailed{0};
};
