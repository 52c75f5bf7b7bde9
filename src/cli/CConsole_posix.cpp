#include "cli/CConsole.h"

#include <unistd.h>

void CConsole::Setup() {}

void CConsole::Write(std::FILE* pStream, const std::string& strText)
{
    std::fwrite(strText.data(), 1, strText.size(), pStream);
    std::fflush(pStream);
}

bool CConsole::IsTerminal(std::FILE* pStream)
{
    return isatty(fileno(pStream)) == 1;
}
