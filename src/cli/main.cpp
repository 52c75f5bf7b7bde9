#include <optional>

#include "cli/CCliOptions.h"
#include "cli/CCliRunner.h"
#include "net/CUDPSocket.h"

CUDPSocket theUDPSocket;

int main(int argc, char** argv)
{
    std::optional<int> nExit;
    const CCliOptions options = CCliOptions::Parse(argc, argv, nExit);
    if (nExit)
        return *nExit;
    return CCliRunner(options).Run();
}
