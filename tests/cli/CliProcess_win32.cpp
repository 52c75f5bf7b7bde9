#include "cli/CliProcess.h"

#include <windows.h>

#include <chrono>
#include <filesystem>

#include "TempDir.h"
#include "text/CWideText.h"

namespace {

// A run that has not ended by then is ended by force and fails its test.
constexpr DWORD kLongestRunMs = 60000;

// One argument as CommandLineToArgvW splits it back.
std::wstring Quote(const std::wstring& strArg)
{
    if (!strArg.empty() && strArg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return strArg;
    std::wstring strQuoted = L"\"";
    size_t nBackslashes = 0;
    for (const wchar_t c : strArg) {
        if (c == L'\\') {
            ++nBackslashes;
            continue;
        }
        strQuoted.append(c == L'"' ? 2 * nBackslashes + 1 : nBackslashes, L'\\');
        nBackslashes = 0;
        strQuoted.push_back(c);
    }
    strQuoted.append(2 * nBackslashes, L'\\');
    strQuoted.push_back(L'"');
    return strQuoted;
}

std::wstring ProgramPath()
{
    const std::filesystem::path program = std::filesystem::u8path(TOVRIK_CLI_PATH);
    if (program.has_parent_path())
        return program.wstring();
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path() / program).wstring();
}

// A console for the children to share, so that Ctrl-C can reach them as
// the console sends it. A test run whose output goes into pipes or files may
// have none it can signal through (under wine it has a headless one that
// refuses): it gets a console of its own, which nothing here writes to.
void ShareConsole()
{
    static bool bShared = false;
    if (bShared)
        return;
    bShared = true;
    DWORD nMode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &nMode) &&
        !GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &nMode)) {
        FreeConsole();
        AllocConsole();
    }
}

// Ctrl-C as the console sends it: GenerateConsoleCtrlEvent to the child's
// process group. Ctrl-Break the way the console delivers either: the system's
// control routine started in the process on a thread of its own, which calls
// the process's handlers (wine's GenerateConsoleCtrlEvent sends Ctrl-C only).
void SendConsoleControl(const PROCESS_INFORMATION& process, DWORD nEvent)
{
    if (nEvent == CTRL_C_EVENT) {
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, process.dwProcessId);
        return;
    }
    const auto pRoutine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
    if (pRoutine == nullptr)
        return;
    const HANDLE hThread = CreateRemoteThread(process.hProcess, nullptr, 0, pRoutine,
                                              reinterpret_cast<void*>(static_cast<uintptr_t>(nEvent)), 0, nullptr);
    if (hThread != nullptr)
        CloseHandle(hThread);
}

HANDLE CreateOutput(const std::string& strPath)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(CWideText::Widen(strPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

CliRun CliProcess::Run(const std::vector<std::string>& args, const std::function<bool()>& stopDue, Stop stop)
{
    TempDir dir;
    const std::string strOut = dir.Path() + "/out";
    const std::string strErr = dir.Path() + "/err";
    const std::wstring strProgram = ProgramPath();
    std::wstring strCommandLine = Quote(strProgram);
    for (const std::string& arg : args)
        strCommandLine += L" " + Quote(CWideText::Widen(arg));

    CliRun run;
    const HANDLE hOut = CreateOutput(strOut);
    const HANDLE hErr = CreateOutput(strErr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = hOut;
    startup.hStdError = hErr;
    PROCESS_INFORMATION process{};
    ShareConsole();
    const auto start = std::chrono::steady_clock::now();
    // A process group of its own: the console's Ctrl-C for it alone. A
    // busy wine now and then fails to start one: it is tried again.
    BOOL bStarted = FALSE;
    DWORD nError = 0;
    for (int nTry = 0; nTry < 3 && !bStarted; ++nTry) {
        if (nTry > 0)
            Sleep(200);
        bStarted = CreateProcessW(strProgram.c_str(), &strCommandLine[0], nullptr, nullptr, TRUE,
                                  CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process);
        nError = bStarted ? 0 : GetLastError();
    }
    CloseHandle(hOut);
    CloseHandle(hErr);
    if (!bStarted) {
        run.err = "CreateProcessW failed: error " + std::to_string(nError);
        return run;
    }
    if (stop != Stop::kNone) {
        while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT) {
            if (stopDue()) {
                SendConsoleControl(process, stop == Stop::kInterrupt ? CTRL_C_EVENT : CTRL_BREAK_EVENT);
                break;
            }
        }
    }
    if (WaitForSingleObject(process.hProcess, kLongestRunMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD nExit = 0;
    GetExitCodeProcess(process.hProcess, &nExit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.nExit = static_cast<int>(nExit);
    run.out = TempDir::Read(strOut);
    run.err = TempDir::Read(strErr);
    return run;
}

bool CliProcess::SeesThroughSymbolicLinks()
{
    return false;
}
