#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "verdict/CThreshold.h"

namespace CLI {
class App;
}

// The fleet options of tovrik-cli, parsed and checked.
struct CFleetOptions {
    static constexpr uint32_t kMaxDevices = 1000000;
    static constexpr int kMaxImeiDigits = 18;
    // The longest ramp: a day, the longest period a device waits for.
    static constexpr double kMaxRampSeconds = 86400.0;

    uint32_t nDevices = 1;
    bool bByImei = false;
    // One device per source address and port of an imported capture.
    bool bBySource = false;
    // The messages keep their own IMEI (one device by a capture's timing).
    bool bKeepImei = false;
    // Device k's IMEI is nImeiFirst + k, zero-padded to nImeiWidth digits.
    uint64_t nImeiFirst = 0;
    int nImeiWidth = 0;
    bool bSpread = false;
    std::string strCounter;
    bool bReplies = false;
    std::vector<std::string> binds;
    uint16_t nPortLow = 0;
    uint16_t nPortHigh = 0;
    uint32_t nShard = 0;
    uint32_t nShards = 1;
    std::optional<std::string> strStatsJson;
    std::optional<std::string> strReport;
    int nThreads = 0;  // 0: automatic
    // --metrics ADDR:PORT, the address an IPv4 literal (localhost taken as
    // 127.0.0.1); port 0 lets the system pick one.
    bool bMetrics = false;
    std::string strMetricsAddress;
    uint16_t nMetricsPort = 0;
    // Device k of N comes online at k/N of the ramp; 0: all at the start.
    double dRampSeconds = 0;
    // Judged on the run's figures at its end; any crossed gives kExitCrossed.
    std::vector<CThreshold> thresholds;
    // Any fleet option given, or more than one device.
    bool bFleet = false;

    // Adds the options to the app; the final check (a usage error when it
    // fails) runs when the app has parsed, with the mode text, the import
    // option and the capture timing flag as parsed by then.
    static void AddTo(CLI::App& app, CFleetOptions& options, const std::string& strMode,
                      const std::optional<std::string>& strImport, const bool& bCaptureTime);

    // This process's devices of a fleet of nFleet: [first, first + count).
    void ShardRange(uint64_t nFleet, uint64_t& nFirst, uint64_t& nCount) const;
};
