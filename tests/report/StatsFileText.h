#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SecondIn {
    uint64_t nSent;
    double dP50Ms;
    double dMaxMs;
};

// A stats file as tovrik-cli --stats-json writes it, every datagram of it
// in the histogram's buckets.
inline std::string StatsJson(const std::string& strShard, int64_t nStartMs, const std::vector<SecondIn>& seconds,
                             const std::string& strBuckets, double dMaxMs = 1.5, uint64_t nFleet = 100)
{
    uint64_t nSent = 0;
    std::string strSeries;
    for (size_t i = 0; i < seconds.size(); ++i) {
        nSent += seconds[i].nSent;
        strSeries += std::string(i == 0 ? "" : ",") + "{\"t\":" + std::to_string(i + 1) +
                     ",\"devices\":50,\"sent\":" + std::to_string(seconds[i].nSent) +
                     ",\"send_errors\":1,\"replies\":2,\"p50_ms\":" + std::to_string(seconds[i].dP50Ms) +
                     ",\"p99_ms\":" + std::to_string(seconds[i].dP50Ms) + ",\"max_ms\":" +
                     std::to_string(seconds[i].dMaxMs) + "}";
    }
    return "{\"devices\":50,\"first_device\":0,\"fleet_devices\":" + std::to_string(nFleet) +
           ",\"mode\":0,\"threads\":1,\"seconds\":" + std::to_string(seconds.size()) +
           ".000,\"sent\":" + std::to_string(nSent) + ",\"send_errors\":" + std::to_string(seconds.size()) +
           ",\"replies\":7,\"reply_bytes\":70,\"lateness_ms\":{\"p50\":0.5,\"p99\":1.0,\"max\":" +
           std::to_string(dMaxMs) + "},\"cpu_seconds\":0.25,\"max_rss_kb\":2048,\"series\":[" + strSeries +
           "],\"command_line\":[\"tovrik-cli\",\"--shard\",\"" + strShard + "\"],\"start_unix_ms\":" +
           std::to_string(nStartMs) + ",\"shard\":\"" + strShard + "\",\"lateness_histogram_ns\":[" + strBuckets +
           "]}\n";
}
