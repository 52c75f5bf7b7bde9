#include "cli/CCommandLine.h"

CCommandLine::CCommandLine(int argc, char** argv) : m_args(argv, argv + argc)
{
    Index();
}
