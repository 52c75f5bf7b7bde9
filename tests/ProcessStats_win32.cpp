#include "ProcessStats.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

long ProcessStats::Threads()
{
    const HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return -1;
    const DWORD nProcess = GetCurrentProcessId();
    long nThreads = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore; bMore = Thread32Next(hSnapshot, &entry)) {
        if (entry.th32OwnerProcessID == nProcess)
            ++nThreads;
    }
    CloseHandle(hSnapshot);
    return nThreads;
}

long ProcessStats::ResidentKb()
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<long>(counters.WorkingSetSize / 1024);
}

long ProcessStats::DescriptorLimit()
{
    return -1;
}
