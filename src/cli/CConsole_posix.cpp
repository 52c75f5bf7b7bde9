#include "cli/CConsole.h"

void CConsole::Setup() {}

void CConsole::Write(std::FILE* pStream, const std::string& strText)
{
    std::fwrite(strText.data(), 1, strText.size(), pStream);
    std::fflush(pStream);
}
