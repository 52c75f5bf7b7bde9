#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "load/CLoadResult.h"
#include "load/CPacketCutter.h"
#include "packet/CDeviceMessage.h"

// Keeps what a load cuts: every packet, copied into the run's list, or for an
// import only the messages with "IMEI", indexing those with a readable "time"
// by their time-of-day key. Owns the cutter that feeds it; one load, one
// thread.
class CPacketCollector {
public:
    enum class Keep { kEveryPacket, kImport };

    explicit CPacketCollector(Keep nKeep);
    CPacketCollector(const CPacketCollector&) = delete;
    CPacketCollector& operator=(const CPacketCollector&) = delete;

    CPacketCutter& Cutter() { return m_cutter; }

    // Cuts bytes already in memory a piece at a time, reporting after each.
    CLoadResult CutBytes(const char* pData, size_t nLength, const CLoadResult::Progress& progress);
    // Cuts one input of its own (a datagram's payload) to the end; answers
    // how many packets were kept from it.
    size_t CutInput(const char* pData, size_t nLength);
    // The result once the cutter has finished; nTotal is the input's whole
    // length. Hands the packets and the index over.
    CLoadResult Done(int64_t nTotal);

    // The largest input a load takes: what the packet buffer's 32-bit lengths
    // allow to be appended to a new buffer in one piece.
    static constexpr int64_t kMaxInput = INT32_MAX - 2 * int64_t{CReceiveBuffer::kDefaultSize};

private:
    void Collect(const Packet& cut);

    Keep m_nKeep;
    CDeviceMessage m_message;
    std::unique_ptr<PacketList> m_pPackets = std::make_unique<PacketList>();
    std::vector<std::pair<int64_t, Packet>> m_keyed;
    CPacketCutter m_cutter;
};
