#pragma once

#include <iostream>
#include <optional>

#include "receive/CReceiveConfig.h"

class CSocketLibrary;

// `tovrik-cli receive [-l ADDR:PORT] [OPTION...]`: the other end of device
// traffic. Reads the options into a receive run's config (each rule stated
// once, with its message), takes the run (CReceiveRun) through its steps,
// prints what it hands back (CReceivePrinter) and decides the exit code.
// Main thread, before any other thread exists.
class CReceiveCommand {
public:
    // The name that starts the command as tovrik-cli's first argument.
    static constexpr char kName[] = "receive";

    struct Options {
        CReceiveConfig config;
        bool bQuiet = false;
    };

    // argv as given to tovrik-cli, its first argument the command's name.
    // On --help or a usage error, writes what is due to out or err and sets
    // nExit; otherwise nExit stays empty and the run goes on. Without
    // --seed, the seed is a random one.
    static Options Parse(int argc, char** argv, std::optional<int>& nExit, std::ostream& out = std::cout,
                         std::ostream& err = std::cerr);
    // The process's exit code: 0 done (stopped, or --stop-after) with every
    // threshold ok, 1 the run could not start or its files could not be
    // written, 3 a threshold crossed, 64 a usage error.
    static int Run(int argc, char** argv, const CSocketLibrary& sockets);
};
