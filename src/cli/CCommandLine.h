#pragma once

#include <string>
#include <vector>

// The process's arguments as UTF-8, in argc/argv form: on POSIX those given
// to main; on Windows read again from the wide command line
// (GetCommandLineW), since main's own are in the ANSI code page and lose
// what it cannot spell. Owns the texts; Values() stays valid while it lives.
class CCommandLine {
public:
    CCommandLine(int argc, char** argv);
    int Count() const { return static_cast<int>(m_args.size()); }
    char** Values() { return m_pointers.data(); }

private:
    std::vector<std::string> m_args;
    std::vector<char*> m_pointers;

    void Index()
    {
        for (std::string& strArg : m_args)
            m_pointers.push_back(&strArg[0]);
        m_pointers.push_back(nullptr);
    }
};
