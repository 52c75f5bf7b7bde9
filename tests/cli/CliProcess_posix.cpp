#include "cli/CliProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "TempDir.h"

CliRun CliProcess::Run(const std::vector<std::string>& args, const std::function<bool()>& stopDue, Stop stop)
{
    TempDir dir;
    const std::string strOut = dir.Path() + "/out";
    const std::string strErr = dir.Path() + "/err";
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fdOut = open(strOut.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        const int fdErr = open(strErr.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(TOVRIK_CLI_PATH));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(TOVRIK_CLI_PATH, argv.data());
        _exit(127);
    }
    int nStatus = 0;
    bool bEnded = false;
    if (stop != Stop::kNone) {
        while (!(bEnded = waitpid(pid, &nStatus, WNOHANG) == pid) && !stopDue())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!bEnded)
            kill(pid, stop == Stop::kInterrupt ? SIGINT : SIGTERM);
    }
    if (!bEnded)
        waitpid(pid, &nStatus, 0);
    CliRun run;
    run.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    run.out = TempDir::Read(strOut);
    run.err = TempDir::Read(strErr);
    return run;
}

bool CliProcess::SeesThroughSymbolicLinks()
{
    return true;
}
