#include "cli/CCommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include "text/CWideText.h"

CCommandLine::CCommandLine(int argc, char** argv)
{
    int nWide = 0;
    wchar_t** ppWide = CommandLineToArgvW(GetCommandLineW(), &nWide);
    if (ppWide == nullptr) {
        m_args.assign(argv, argv + argc);
    } else {
        for (int i = 0; i < nWide; ++i)
            m_args.push_back(CWideText::Narrow(ppWide[i]));
        LocalFree(ppWide);
    }
    Index();
}
