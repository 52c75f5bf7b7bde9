#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "figures/CShard.h"
#include "fleet/CCapacitySearch.h"
#include "fleet/CFleetPlan.h"
#include "base/CStatus.h"
#include "dtls/CDtlsSettings.h"
#include "net/SocketTypes.h"
#include "run/CRunOutputs.h"
#include "text/TovrikTexts.h"
#include "traffic/CTrafficConfig.h"

// What a fleet run is: what its devices send and when, how many devices and
// which of them this process runs, where they send from and to, and what the
// run reports besides its result. A front end fills it in; CFleetRun carries
// it out. A plain value.
struct CFleetConfig {
    static constexpr uint32_t kMaxDevices = 1000000;
    // The longest ramp: a day, the longest period a device waits for.
    static constexpr double kMaxRampSeconds = 86400.0;
    static constexpr int64_t kDefaultReplyTimeoutNs = 1000000000;
    // The longest reply timeout: a minute.
    static constexpr int64_t kMaxReplyTimeoutNs = 60000000000;
    // The furthest a run's start may lie ahead: a week.
    static constexpr int64_t kMaxStartAheadMs = int64_t{7} * 86400000;

    // What every device sends and when: mode, loop, time, counter, IMEIs,
    // devices by IMEI or by source, a capture's own timing.
    CFleetPlan::Settings plan;
    // Numbered devices in the whole fleet; by IMEI or by source, the plan's
    // groups are the fleet instead.
    uint32_t nDevices = 1;
    CShard shard;
    int nThreads = 0;  // 0: as many as the rate needs, at most one per core
    // Device k of N at k/N of each period instead of its start.
    bool bSpread = false;
    // Device k of N comes online at k/N of the ramp; 0: all at the start.
    double dRampSeconds = 0;
    // Packets paced by an interval (each device's, fixed or drawn once from
    // the seed) or by a rate of the whole fleet, instead of the mode's
    // period; the traffic's stages may move the rate. Neither: the mode's.
    std::optional<CDelay> interval;
    std::optional<double> dRate;
    // A search for the highest rate the server holds, its thresholds the
    // outputs' (judged each step, not over the whole run).
    std::optional<CCapacitySearch::Settings> capacity;
    // The instant the run starts its schedule (milliseconds since 1970), so
    // that shards on several machines start their stages and steps as one;
    // 0: at once, as when the instant has passed.
    int64_t nStartAtUnixMs = 0;

    // A numeric address (IPv6 without brackets) or a name, resolved once.
    std::string strTarget = TovrikTexts::kDefaultTarget;
    int nFamily = AF_UNSPEC;  // of the name's address; AF_UNSPEC: the resolver's first
    uint16_t nPort = TovrikTexts::kDefaultPort;
    bool bBroadcast = false;
    // Local addresses (numeric) device j binds to in turn, and the port
    // range; none: any address, ephemeral ports.
    std::vector<std::string> binds;
    uint16_t nPortLow = 0;
    uint16_t nPortHigh = 0;
    // Read what reaches the devices' sockets (otherwise it is dropped), and
    // match each reply to the datagram it answers: by order, or by the
    // member plan.strReplyMatch; a datagram no reply answers within the
    // timeout is lost.
    bool bReplies = false;
    int64_t nReplyTimeoutNs = kDefaultReplyTimeoutNs;
    // Each device's datagrams as records of a DTLS session of its own.
    CDtlsSettings dtls;

    // The stats file, report, metrics, thresholds (CThreshold's fleet
    // metrics), how long it may last, the command line.
    CRunOutputs outputs;
    // Generated values, the link's faults, dropouts and outages, the seed.
    CTrafficConfig traffic;

    bool Grouped() const { return plan.bByImei || plan.bBySource; }
    // Whether the packets are paced by an interval or a rate.
    bool Paced() const { return interval || dRate || capacity || traffic.SetsRate(); }
    // Every threshold measures something this run does: the reply metrics
    // need replies matched, the faults' metrics that fault injected. A usage
    // error that says what is missing otherwise.
    [[nodiscard]] CStatus CheckThresholds() const;
};
