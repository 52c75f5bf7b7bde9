#include "cli/CCommandLine.h"

#include <windows.h>

#include "text/CWideText.h"

CCommandLine::CCommandLine(int, char**) : m_args(Split(CWideText::Narrow(GetCommandLineW())))
{
    Index();
}
