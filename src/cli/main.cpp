#include <cstdio>
#include <exception>
#include <optional>

#include "cli/CCliOptions.h"
#include "cli/CCliRunner.h"
#include "net/CUDPSocket.h"

CUDPSocket theUDPSocket;

int main(int argc, char** argv)
{
    // Nothing the run throws may end the process without a word.
    try {
        std::optional<int> nExit;
        const CCliOptions options = CCliOptions::Parse(argc, argv, nExit);
        if (nExit)
            return *nExit;
        return CCliRunner(options).Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tovrik-cli: %s\n", error.what());
    }
    return CCliOptions::kExitFailure;
}
