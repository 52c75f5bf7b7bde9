#include "cli/CConsole.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "text/CWideText.h"

void CConsole::Setup()
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void CConsole::Write(std::FILE* pStream, const std::string& strText)
{
    std::fflush(pStream);
    const HANDLE hOut = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pStream)));
    DWORD nMode = 0;
    if (hOut != INVALID_HANDLE_VALUE && GetConsoleMode(hOut, &nMode)) {
        const std::wstring strWide = CWideText::Widen(strText);
        DWORD nWritten = 0;
        WriteConsoleW(hOut, strWide.data(), static_cast<DWORD>(strWide.size()), &nWritten, nullptr);
        return;
    }
    std::fwrite(strText.data(), 1, strText.size(), pStream);
    std::fflush(pStream);
}

bool CConsole::IsTerminal(std::FILE* pStream)
{
    const HANDLE hOut = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pStream)));
    DWORD nMode = 0;
    return hOut != INVALID_HANDLE_VALUE && GetConsoleMode(hOut, &nMode);
}
