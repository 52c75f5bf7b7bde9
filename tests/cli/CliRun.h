#pragma once

// Running tovrik-cli as a child process in tests: its exit code, what it
// wrote, and what its datagrams brought to a loopback peer.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "net/LoopbackPeer.h"

using Clock = std::chrono::steady_clock;

struct CliRun {
    int nExit = -1;
    std::string out;
    std::string err;
    double dSeconds = 0;
};

inline std::string ReadFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Runs tovrik-cli with the arguments; when nSignalAfterMs >= 0 sends nSignal
// then. Standard output and error are captured.
inline CliRun RunCli(const std::vector<std::string>& args, int nSignalAfterMs = -1, int nSignal = SIGINT)
{
    TempDir dir;
    const std::string strOut = dir.Path() + "/out";
    const std::string strErr = dir.Path() + "/err";
    const auto start = Clock::now();
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
    if (nSignalAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(nSignalAfterMs));
        kill(pid, nSignal);
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    CliRun run;
    run.dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    run.out = ReadFile(strOut);
    run.err = ReadFile(strErr);
    return run;
}

inline std::vector<std::string> ReceiveAll(const LoopbackPeer& peer, int nTimeoutMs = 200)
{
    std::vector<std::string> got;
    std::string bytes;
    while (peer.Receive(bytes, nTimeoutMs))
        got.push_back(bytes);
    return got;
}

inline std::string Port(const LoopbackPeer& peer)
{
    return std::to_string(peer.Port());
}

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}


// Local time of a clock reading, formatted by strftime.
inline std::string LocalTime(time_t t, const char* pszPattern)
{
    struct tm local {};
    localtime_r(&t, &local);
    char text[64];
    strftime(text, sizeof text, pszPattern, &local);
    return text;
}
