#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "cli/CCliOptions.h"
#include "cli/CCliRunner.h"
#include "cli/CCommandLine.h"
#include "cli/CConsole.h"
#include "cli/CFleetCommand.h"
#include "cli/CReceiveCommand.h"
#include "cli/CReportCommand.h"
#include "net/CSocketLibrary.h"
#include "net/CUDPSocket.h"
#include "text/TovrikTexts.h"

CUDPSocket theUDPSocket;

int main(int argc, char** argv)
{
    // Nothing the run throws may end the process without a word.
    try {
        CConsole::Setup();
        // Started before the options are read: their checks look addresses
        // up, which Windows Sockets does only once started.
        const CSocketLibrary sockets;
        CCommandLine commandLine(argc, argv);
        if (commandLine.Count() > 1 && std::string(commandLine.Values()[1]) == CReportCommand::kName)
            return CReportCommand::Run(commandLine.Count(), commandLine.Values());
        if (commandLine.Count() > 1 && std::string(commandLine.Values()[1]) == CReceiveCommand::kName)
            return CReceiveCommand::Run(commandLine.Count(), commandLine.Values(), sockets);
        std::optional<int> nExit;
        const CCliOptions options = CCliOptions::Parse(commandLine.Count(), commandLine.Values(), nExit);
        if (nExit)
            return *nExit;
        if (!sockets.IsStarted()) {
            CConsole::Write(stderr, std::string(TovrikTexts::kSocketInitFailed) + "\n");
            return CCliOptions::kExitFailure;
        }
        if (options.IsFleet())
            return CFleetCommand::Run(options);
        return CCliRunner(options).Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tovrik-cli: %s\n", error.what());
    }
    return CCliOptions::kExitFailure;
}
