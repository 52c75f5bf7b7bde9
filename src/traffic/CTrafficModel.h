#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "packet/CMessageTemplate.h"
#include "traffic/CLinkFaults.h"
#include "traffic/CTrafficConfig.h"

// A fleet's traffic while it runs, built from its config for the whole
// fleet: the generated values of a device's packet, what its link does to
// the datagram, and when a device is offline (the share of the fleet a
// stage wants online, outages, dropouts). Everything follows from the seed,
// the device's index in the whole fleet, the packet's index and the
// packet's place in the run (its instant after the run's start as the
// schedule has it), so that a run with the same seed sends the same
// datagrams, device by device, from one process or from many.
// Read-only once built: the scheduler threads share it; each device's state
// (Device, the walks' positions) is its thread's.
class CTrafficModel {
public:
    static constexpr int64_t kNever = INT64_MAX;

    // A device's state, carried from packet to packet.
    struct Device {
        bool bInBurst = false;
        uint32_t nChurns = 0;  // dropouts drawn so far
        // The current or next dropout, in run time.
        int64_t nChurnFromNs = 0;
        int64_t nChurnUntilNs = 0;
    };

    // Why a device is offline.
    enum class Cause : uint8_t { kOnline, kDevices, kOutage, kChurn };

    // A device offline from a run time until nUntilNs (kNever: for good);
    // online when the cause is kOnline.
    struct Gap {
        int64_t nUntilNs;
        Cause nCause;
    };

    // nFleet: the devices of the whole fleet; nDefaultByNs: how long a
    // reordered datagram is held back when the config does not say.
    CTrafficModel(const CTrafficConfig& config, uint64_t nSeed, uint64_t nFleet, int64_t nDefaultByNs);

    uint64_t Seed() const { return m_nSeed; }
    const CTrafficConfig& Config() const { return m_config; }
    // The generated values of each packet, one per --vary rule.
    size_t Rules() const { return m_config.vary.size(); }
    // The numbers a device keeps for its values (a walk's position), NaN at
    // first.
    size_t States() const { return m_nStates; }
    bool HasLinkFaults() const { return m_bLinkFaults; }
    bool HasDropouts() const { return m_bDropouts; }

    // Device k's packet nPacket at run time nRunNs: rule i's value in
    // pOut[i]; pStates is the device's States() numbers.
    void Values(uint64_t k, uint64_t nPacket, int64_t nRunNs, double* pStates,
                CMessageTemplate::Generated* pOut) const;
    // What the link does to that packet's datagram.
    CLinkFaults::Decision Decide(uint64_t k, uint64_t nPacket, int64_t nRunNs, Device& device) const;
    // Whether device k is offline at run time nRunNs, and until when (all
    // causes together); run times of one device come in ascending order.
    Gap Offline(uint64_t k, int64_t nRunNs, Device& device) const;

    // The share of the fleet that stages want online at a run time.
    double OnlineShare(int64_t nRunNs) const;

private:
    struct Stage {
        int64_t nAtNs;
        CTrafficConfig::Settings settings;
        double dChurnPerNs;
    };
    struct Window {
        int64_t nAtNs;
        int64_t nLengthNs;
        int64_t nSpreadNs;
    };

    const Stage& StageAt(int64_t nRunNs) const;
    int64_t SharedFrom(uint64_t k, int64_t nRunNs) const;
    int64_t OutageUntil(uint64_t k, int64_t nRunNs) const;
    // Moves the device's dropouts on until the current one ends after nRunNs.
    void DrawChurn(uint64_t k, int64_t nRunNs, Device& device) const;
    int64_t NextChurn(int64_t nFromNs, double dExpected) const;

    CTrafficConfig m_config;
    uint64_t m_nSeed;
    uint64_t m_nFleet;
    int64_t m_nDefaultByNs;
    size_t m_nStates = 0;
    std::vector<size_t> m_stateOf;  // rule i's first state
    bool m_bLinkFaults = false;
    bool m_bDropouts = false;
    std::vector<Stage> m_stages;  // the first at 0
    std::vector<Window> m_outages;
    // The online share as points (run time, share), straight between them,
    // the last one's share after it.
    std::vector<std::pair<int64_t, double>> m_share;
};
