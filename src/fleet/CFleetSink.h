#pragma once

#include <cstddef>
#include <cstdint>

// Where a fleet's datagrams go: one datagram of exactly nLength bytes from
// device nDevice (0-based within the engine) to the target. Answers whether
// it went out. Called on the scheduler threads, each device always on the
// same one.
class CFleetSink {
public:
    virtual ~CFleetSink() = default;
    virtual bool Send(uint32_t nDevice, const char* pData, size_t nLength) = 0;
    // Device nDevice went offline (churn, an outage): what it holds of its
    // link to the target is gone, as a device that restarts loses it.
    virtual void Offline(uint32_t /*nDevice*/) {}
};
