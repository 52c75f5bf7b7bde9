#include "cli/CFleetRunner.h"

#include <cstdio>

struct CFleetRunner::State {
};

CFleetRunner::CFleetRunner(const CCliOptions& options) : m_options(options) {}

CFleetRunner::~CFleetRunner() = default;

int CFleetRunner::Run()
{
    std::fprintf(stderr,
                 "tovrik-cli: --devices above 1 and the other fleet options are not available on Windows yet; "
                 "run the fleet on Linux\n");
    return CCliOptions::kExitUsage;
}
