// Kernel memory that "drop everything" filters take, per socket, both ways
// side by side in one run: the shared eBPF program and a classic filter on
// each socket (CDropAllFilter and its fallback). Deltas of /proc/meminfo
// across attaching the filter to N already open UDP sockets.
//
//     tovrik_filter_memory [N]   (default 20000; raise `ulimit -n` first)
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fleet/CDropAllFilter.h"

namespace {

std::map<std::string, long> MemInfoKb()
{
    std::map<std::string, long> values;
    std::ifstream file("/proc/meminfo");
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string key;
        long nKb = 0;
        fields >> key >> nKb;
        values[key.substr(0, key.size() - 1)] = nKb;
    }
    return values;
}

bool Measure(const char* pszName, const CDropAllFilter& filter, int nSockets)
{
    std::vector<int> sockets;
    for (int i = 0; i < nSockets; ++i) {
        const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (s < 0) {
            std::fprintf(stderr, "socket %d: %s\n", i, std::strerror(errno));
            for (int open : sockets)
                close(open);
            return false;
        }
        sockets.push_back(s);
    }
    auto before = MemInfoKb();
    bool bOk = true;
    for (int s : sockets)
        bOk = bOk && filter.Attach(s).IsOk();
    auto after = MemInfoKb();
    for (int s : sockets)
        close(s);
    std::printf("%-22s", pszName);
    for (const char* pszKey : {"Slab", "VmallocUsed", "MemFree"})
        std::printf("  %s %+8.0f B", pszKey, (after[pszKey] - before[pszKey]) * 1024.0 / nSockets);
    std::printf("  per socket%s\n", bOk ? "" : " (an attach failed)");
    return bOk;
}

}  // namespace

int main(int argc, char** argv)
{
    const int nSockets = argc > 1 ? std::atoi(argv[1]) : 20000;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    const CDropAllFilter shared;
    const CDropAllFilter classic(-1);
    std::printf("%d sockets; shared program %s\n", nSockets, shared.IsShared() ? "loaded" : "refused by bpf()");
    // Twice each, alternating, so that neither always meets the caches cold.
    bool bOk = true;
    for (int i = 0; i < 2; ++i) {
        bOk = Measure("classic, per socket", classic, nSockets) && bOk;
        bOk = Measure("eBPF, shared", shared, nSockets) && bOk;
    }
    return bOk ? 0 : 1;
}
