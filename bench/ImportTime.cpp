// Times CFileLoader::Import of one file inside the process, apart from the
// process's start and end: the import itself (read, cut, parse, index) and
// the release of what it built. Prints one JSON object.
//
//     tovrik_import_time FILE [ROUNDS]
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "load/CFileLoader.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS]\n", argv[0]);
        return 64;
    }
    const int nRounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    using Clock = std::chrono::steady_clock;
    std::string strImports, strReleases;
    size_t nPackets = 0;
    for (int i = 0; i < nRounds; ++i) {
        const Clock::time_point start = Clock::now();
        CLoadResult result = CFileLoader::Import(argv[1]);
        const Clock::time_point imported = Clock::now();
        if (result.nStatus != CLoadResult::kOk) {
            std::fprintf(stderr, "%s\n", result.Message().c_str());
            return 2;
        }
        nPackets = result.pPackets->size();
        result = CLoadResult{};
        const Clock::time_point released = Clock::now();
        const char* pszComma = i == 0 ? "" : ", ";
        strImports += pszComma + std::to_string(std::chrono::duration<double>(imported - start).count());
        strReleases += pszComma + std::to_string(std::chrono::duration<double>(released - imported).count());
    }
    std::printf("{\"packets\": %zu, \"import_s\": [%s], \"release_s\": [%s]}\n", nPackets, strImports.c_str(),
                strReleases.c_str());
    return 0;
}
