#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/CStatus.h"
#include "fleet/CDeviceSockets.h"
#include "fleet/CFleetStats.h"

// One thread that reads what reaches any device's socket, by epoll on all of
// them. It counts each datagram in the stats and, with an output file, writes
// one line for it: the device's IMEI, the sender, the byte count and the
// first 64 bytes escaped. The sockets, stats and file must outlive the
// reader; Start and Stop from one controlling thread (the destructor stops
// too).
class CReplyReader {
public:
    using ImeiOf = std::function<std::string(uint32_t nDevice)>;

    CReplyReader(const CDeviceSockets& sockets, CFleetStats& stats, std::FILE* pOut, ImeiOf imeiOf);
    ~CReplyReader();
    CReplyReader(const CReplyReader&) = delete;
    CReplyReader& operator=(const CReplyReader&) = delete;

    CStatus Start();
    void Stop();

    // The printable form of a reply's first bytes: ASCII 0x20-0x7E as it is,
    // a backslash doubled, other bytes as \xHH; "..." after when longer.
    static std::string Escape(const char* pData, size_t nLength, size_t nShown = 64);

private:
    void Run();
    void Drain(uint32_t nDevice, char* pBuffer, size_t nSize);

    const CDeviceSockets& m_sockets;
    CFleetStats& m_stats;
    std::FILE* m_pOut;
    ImeiOf m_imeiOf;
    int m_hEpoll = -1;
    int m_hStop = -1;
    std::atomic<bool> m_bStop{false};
    std::unique_ptr<std::thread> m_pThread;
};
