#pragma once

#include <string>
#include <vector>

// The process's arguments as UTF-8, in argc/argv form: on POSIX those given
// to main; on Windows split again from the wide command line
// (GetCommandLineW), since main's own are in the ANSI code page and lose
// what it cannot spell. Owns the texts; Values() stays valid while it lives.
class CCommandLine {
public:
    CCommandLine(int argc, char** argv);
    int Count() const { return static_cast<int>(m_args.size()); }
    char** Values() { return m_pointers.data(); }

    // A Windows command line split by the C runtime's rules: the program's
    // name up to the first blank outside quotes (quotes dropped), then
    // arguments between blanks, where quotes group, "" inside quotes is one
    // quote, and backslashes are literal except before a quote (2n of them
    // give n and the quote groups; 2n + 1 give n and a literal quote).
    // Done here rather than by CommandLineToArgvW, which would load shell32
    // and with it user32: under wine that ties the console program to the
    // desktop process, whose shutdown keeps its output open two seconds past
    // its end.
    static std::vector<std::string> Split(const std::string& strLine);

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
