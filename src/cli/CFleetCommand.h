#pragma once

class CCliOptions;

// tovrik-cli's fleet runs: turns the options into a fleet run's config,
// loads the messages, takes the run (CFleetRun) through its steps, prints
// what it hands back and decides the exit code. Call Run from the main
// thread before any other thread exists: a stop request (SIGINT, SIGTERM,
// Ctrl-C) is taken by the run from the moment its threads may start.
class CFleetCommand {
public:
    // The process's exit code.
    static int Run(const CCliOptions& options);
};
